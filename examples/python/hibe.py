"""libhibe from Python, through ctypes.

    import hibe
    lib = hibe.Hibe()          # or hibe.Hibe("path/to/libhibe.so.0")
    lib.setup(2, "org", "keys")
    lib.keygen("A/B", "keys", "keys/org/org.masterKey", "keys/org/org.params")
    params = lib.read_key("keys/org/org.params")
    key = lib.read_key("keys/privateKeys/A#B.privateKey")
    message_map = lib.encrypt(b"hello", [("A/B", params)])
    assert lib.decrypt("A/B", params, key, message_map) == b"hello"

Hibe() loads the first library given of: the path passed to it; the file named
by the environment variable HIBE_LIBRARY; the installed libhibe.so.0, found by
the dynamic loader (LD_LIBRARY_PATH, then the folders ldconfig knows). A library
that cannot be loaded raises LibraryNotFound, which names the place tried.

Arguments are checked before the library is called: a TypeError for a value of
the wrong type, a ValueError for one beyond what the library takes. A call of
the library that fails raises HibeError, which names the function, carries its
failure result and says why the call can fail (the causes of the README's
section "When a call fails"). The library gives no reason of its own, except the
text that a failed EncryptHibeMsg writes to file descriptor 1, past sys.stdout;
for encryption the module checks the arguments as the library does, and the
HibeError names the first cause found, in the library's own words.
"""
from __future__ import annotations

import ctypes
import json
import os
import struct
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

__all__ = ["Hibe", "HibeError", "LibraryNotFound", "StringRef", "Result", "list_blob", "ref",
           "STRING", "BYTES", "MAX_RECEIVERS", "MAX_VALUE_LENGTH"]
__version__ = "0.1.0"

# What the arguments may be: a text as str (sent as UTF-8) or bytes; a path as
# str, bytes or os.PathLike; binary data as any bytes-like object.
Text = Union[str, bytes]
Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
BytesLike = Union[bytes, bytearray, memoryview]
MessageMap = Union[Mapping[str, str], str, bytes]

# The installed library's name, which the dynamic loader resolves.
INSTALLED = "libhibe.so.0"
ENVIRONMENT = "HIBE_LIBRARY"

# Limits of a list blob (include/hibe/hibe_list.h): at most 128 items, one of
# them "size", so 127 receivers; a value of at most 1 MiB.
MAX_RECEIVERS = 127
MAX_VALUE_LENGTH = 1 << 20
# A byte array is passed with an int count.
MAX_ARRAY_LENGTH = 2**31 - 1

# Value types of the list blob items.
INT32, STRING, BYTES = 0, 1, 2
USER = 1
HEADER = b"vtkv" + b"v1.0" + b"\xff" * 8


# Why each call can fail, as the README's section "When a call fails" lists it.
# The library returns only its failure result, so a HibeError names every
# cause; for EncryptHibeMsg the module finds the cause itself (_encrypt_error).
REASONS = {
    "HibeSetup":
        "the organisation exists already (something has the name of its master key file, "
        "as after a first setup in the same place), another setup of it is under way, "
        "depth is negative or above 33554425, org_id and key_out_path are both empty or "
        "one holds a zero byte, org_id holds \"/\", a directory or key file could not be "
        "made, written or flushed, or the random source failed",
    "KeyGenFromMaster":
        "the identity's key file exists already (a key of the same identity under "
        "key_out_path, of any organisation, or of one with the same file name: \"a#b\" and "
        "\"a/b\"), the identity has more levels than the params or makes no file name (a "
        "zero byte, over 244 bytes), the params or master key file cannot be read or does "
        "not decode, the params hold an identity element, the master key is at infinity "
        "or not these params' own, privateKeys/ or the key file could not be made, written "
        "or flushed, or the random source or OpenSSL failed",
    "ReadKey":
        "the path is empty or holds a zero byte, no file is there or it cannot be read, "
        "it is not a regular file, it is larger than 2147483647 bytes, or there is no "
        "memory",
    "EncryptHibeMsg":
        "a cause that the module cannot check: a params entry of the right length that "
        "does not decode, a failure of the random source or of OpenSSL, or no memory; the "
        "library wrote its text, if any, to file descriptor 1",
    "DecryptHibeMsg":
        "local_id is empty or has an empty level or a space, the params or the private "
        "key do not decode, the map is not a JSON object, no member is for local_id or "
        "below it, the member is deeper than the params or the key not of local_id's "
        "depth, a member is damaged, or the message does not authenticate: a key of "
        "another identity or organisation, params of another organisation for a deeper "
        "member, a member that only begins with local_id (A/BC for A/B), or a changed map",
}


class HibeError(Exception):
    """A call of the library failed; `function` names it, `result` is what it
    returned (1 for HibeSetup and KeyGenFromMaster, None for a NULL buffer,
    b"null" for EncryptHibeMsg) and `reason` says why: the causes of that
    function's failure, or for EncryptHibeMsg the one that the module found."""

    def __init__(self, function: str, result: Any, reason: Optional[str] = None) -> None:
        self.function = function
        self.result = result
        self.reason = REASONS.get(function, "") if reason is None else reason
        super().__init__("%s failed (result %r): %s" % (function, result, self.reason))


class LibraryNotFound(OSError):
    """The shared object could not be loaded; the message names the place tried
    and the loader's reason."""


class StringRef(ctypes.Structure):
    _fields_ = [("p", ctypes.c_char_p), ("n", ctypes.c_int64)]


class Result(ctypes.Structure):
    """ReadKey_return, EncryptHibeMsg_return and DecryptHibeMsg_return: one layout."""
    _fields_ = [("r0", ctypes.c_void_p), ("r1", ctypes.c_int64)]


def _text(value: Text, what: str) -> bytes:
    """The bytes of an identity or another text: str as UTF-8, bytes as given."""
    if isinstance(value, str):
        return value.encode()
    if isinstance(value, bytes):
        return value
    raise TypeError("%s must be str or bytes, not %s" % (what, type(value).__name__))


def _path(value: Path, what: str) -> bytes:
    """The bytes of a path: str, bytes or os.PathLike, as the file system takes it."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError("%s must be a path (str, bytes or os.PathLike), not %s"
                        % (what, type(value).__name__))
    return os.fsencode(value)


def _data(value: BytesLike, what: str) -> bytes:
    """The bytes of a bytes-like object; a str or an int is refused (bytes(5)
    would be five zero bytes)."""
    if isinstance(value, (str, int)):
        raise TypeError("%s must be bytes-like, not %s" % (what, type(value).__name__))
    try:
        return memoryview(value).tobytes()
    except TypeError:
        raise TypeError("%s must be bytes-like, not %s" % (what, type(value).__name__)) from None


def _count(data: bytes, what: str, limit: int = MAX_ARRAY_LENGTH) -> bytes:
    if len(data) > limit:
        raise ValueError("%s is %d bytes; the library takes at most %d" % (what, len(data), limit))
    return data


def _int(value: int, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (what, type(value).__name__))
    return value


def ref(value: Union[Text, Path]) -> StringRef:
    """A StringRef of a str (as UTF-8), bytes or path; it holds the bytes during the call."""
    value = _path(value, "a StringRef's value")
    return StringRef(value, len(value))


def list_blob(values: Sequence[bytes], value_type: int) -> bytes:
    """The list blob of hibe/hibe.h: header, count, the user item "size" and the
    user items "0", "1", ... of value_type (STRING or BYTES)."""
    def item(key: bytes, vtype: int, value: bytes) -> bytes:
        return struct.pack("<II", USER, len(key)) + key + struct.pack("<II", vtype, len(value)) + value
    items = [item(b"size", INT32, struct.pack("<i", len(values)))]
    items += [item(str(i).encode(), value_type, v) for i, v in enumerate(values)]
    return HEADER + struct.pack("<I", len(items)) + b"".join(items)


# The library's texts for the arguments that EncryptHibeMsg refuses, in the
# order in which it checks them.
PARAMS_UNDECODABLE = "failed to unmarshal params"
PLAINTEXT_NIL = "invalid parameters, plaintext is nil"
RECEIVERS_NIL = "invalid parameters, receiverIds is nil"
ID_NIL = "invalid parameters, id is nil"
TOO_DEEP = "Cannot encrypt to identity at greater than maximum depth of the params"
MAP_TOO_LONG = "invalid parameters, the message map would exceed 2147483647 bytes"

# A params encoding: G and G1 (128 bytes each), G2 and G3 (64 each), then one
# 64-byte element per level. All-zero bytes encode an element's identity.
PARAMS_FIXED = 384
ELEMENT = 64
PARAMS_SLOTS = [(0, 128), (128, 256), (256, 320), (320, 384)]
# A receiver's member "id":"<768 base64 bytes>" and its comma, besides the id.
MEMBER = 774


def _shown(identity: bytes) -> str:
    """An identity as a library text names it: its bytes, undecodable ones escaped."""
    return identity.decode("utf-8", "backslashreplace")


def _identity_error(identity: bytes) -> Optional[str]:
    if not identity:
        return ID_NIL
    if any(not level or b" " in level for level in identity.split(b"/")):
        return ('invalid parameters, id: %s, format error, only like : "A/B/C" can be used'
                % _shown(identity))
    try:
        identity.decode("utf-8")  # strict, as the library: no surrogates, no overlong forms
    except UnicodeDecodeError:
        return "invalid parameters, id: %s is not valid UTF-8" % _shown(identity)
    if identity == b"CT":
        return "invalid parameters, id: CT is reserved"
    return None


def _levels(identity: bytes) -> int:
    return identity.count(b"/") + 1


def _depth(params: bytes) -> Optional[int]:
    """The levels that a params encoding allows; None when its length is no params'."""
    if len(params) < PARAMS_FIXED or len(params) % ELEMENT:
        return None
    return (len(params) - PARAMS_FIXED) // ELEMENT


def _ancestor(ancestor: bytes, identity: bytes) -> bool:
    """Whether the levels of ancestor lead those of identity (A of A/B, not of AB/C)."""
    return len(identity) > len(ancestor) and identity.startswith(ancestor) and \
        identity[len(ancestor):len(ancestor) + 1] == b"/"


def _refine(ids: Sequence[bytes],
            params: Sequence[bytes]) -> Tuple[List[Tuple[bytes, bytes]], Optional[bytes]]:
    """The receivers that get entries, as the library refines them, and the
    receiver whose params differ from those of a related earlier one (or None).
    The first related entry decides: an equal or ancestor receiver is dropped, a
    descendant takes the entry's place."""
    refined = [(ids[0], params[0])]
    for identity, own in zip(ids[1:], params[1:]):
        for j, (entry, entry_params) in enumerate(refined):
            if entry != identity and not _ancestor(identity, entry) and not _ancestor(entry, identity):
                continue
            if own != entry_params:
                return refined, identity
            if _ancestor(entry, identity):
                refined[j] = (identity, own)
            break
        else:
            refined.append((identity, own))
    return refined, None


def _json_length(identity: bytes) -> int:
    """The bytes of identity (valid UTF-8) in the map's JSON text, quotes left out."""
    n = len(identity)
    for byte in identity:
        if byte in b'"\\\n\r\t':
            n += 1
        elif byte < 0x20 or byte in b"<>&":
            n += 5
    return n + 3 * (identity.count("\u2028".encode()) + identity.count("\u2029".encode()))


def _der_header(length: int) -> int:
    return 2 if length < 0x80 else 2 + (length.bit_length() + 7) // 8


def _map_length(plaintext_length: int, receivers: Sequence[bytes]) -> int:
    """The length of the JSON text of a message map of a plaintext_length-byte
    message for the refined receivers (distinct valid identities): "CT", the
    base64 of AES-GCM's DER form (nonce 12, ciphertext, tag 16 bytes), then per
    receiver its identity and the 768-byte base64 of its 576-byte ciphertext."""
    content = 14 + _der_header(plaintext_length) + plaintext_length + 18
    der = _der_header(content) + content
    return 9 + 4 * -(-der // 3) + sum(_json_length(r) + MEMBER for r in receivers)


def _encrypt_error(plaintext: bytes, ids: Sequence[bytes], params: Sequence[bytes]) -> str:
    """The text of the first cause for which EncryptHibeMsg refuses these
    arguments that can be told from the bytes alone, checked in the library's
    order; REASONS["EncryptHibeMsg"] when there is none."""
    if any(_depth(p) is None for p in params):
        return PARAMS_UNDECODABLE
    if not plaintext:
        return PLAINTEXT_NIL
    if not ids:
        return RECEIVERS_NIL
    for identity in ids:
        error = _identity_error(identity)
        if error is not None:
            return error
    for identity, own in zip(ids, params):
        if _levels(identity) > _depth(own):
            return TOO_DEEP
        slots = PARAMS_SLOTS + [(i, i + ELEMENT) for i in range(PARAMS_FIXED, len(own), ELEMENT)]
        if any(not any(own[a:b]) for a, b in slots):
            return "invalid parameters, params of id: %s hold an identity element" % _shown(identity)
    refined, differing = _refine(ids, params)
    if differing is not None:
        return "ID [%s] is matched, but Params are different, please check it" % _shown(differing)
    if _map_length(len(plaintext), [r for r, _ in refined]) > MAX_ARRAY_LENGTH:
        return MAP_TOO_LONG
    return REASONS["EncryptHibeMsg"]


def _load(path: Optional[Path]) -> Tuple[ctypes.CDLL, str]:
    """The library and the name it was loaded by, from the first place given."""
    if path is not None:
        place, name = "the path given", os.fsdecode(_path(path, "path"))
    elif os.environ.get(ENVIRONMENT):
        place, name = ENVIRONMENT, os.environ[ENVIRONMENT]
    else:
        place, name = "the installed library", INSTALLED
    try:
        return ctypes.CDLL(name), name
    except OSError as e:
        raise LibraryNotFound(
            "libhibe could not be loaded from %s, %s (%s). Hibe() loads the first of "
            "these that is given: a path given to Hibe(); the environment variable %s; "
            "the installed %s, which the dynamic loader looks for in LD_LIBRARY_PATH and "
            "the folders ldconfig knows"
            % (place, name, e, ENVIRONMENT, INSTALLED)) from None


class Hibe:
    """The loaded library (see the module's text for where it is found)."""

    def __init__(self, path: Optional[Path] = None) -> None:
        self.lib, self.path = _load(path)
        self._libc = ctypes.CDLL(None)
        self._libc.free.argtypes = [ctypes.c_void_p]
        lib = self.lib
        lib.HibeSetup.argtypes = [ctypes.c_int64, StringRef, StringRef]
        lib.HibeSetup.restype = ctypes.c_int64
        lib.KeyGenFromMaster.argtypes = [StringRef] * 4
        lib.KeyGenFromMaster.restype = ctypes.c_int64
        lib.ReadKey.argtypes = [StringRef]
        lib.ReadKey.restype = Result
        array = [ctypes.c_char_p, ctypes.c_int]
        lib.EncryptHibeMsg.argtypes = array * 3 + [ctypes.c_int64]
        lib.EncryptHibeMsg.restype = Result
        lib.DecryptHibeMsg.argtypes = array * 4 + [ctypes.c_int64]
        lib.DecryptHibeMsg.restype = Result

    def _take(self, result: Result) -> Optional[bytes]:
        """The bytes of a result buffer, which it frees; None for a NULL r0."""
        if not result.r0:
            return None
        data = ctypes.string_at(result.r0, result.r1)
        self._libc.free(result.r0)
        return data

    def setup(self, depth: int, org_id: Text, key_out_path: Path) -> None:
        """Writes key_out_path/org_id/org_id.params and .masterKey for a hierarchy
        of at most depth levels."""
        depth = _int(depth, "depth")
        org = _text(org_id, "org_id")
        out = _path(key_out_path, "key_out_path")
        if self.lib.HibeSetup(depth, StringRef(org, len(org)), StringRef(out, len(out))) != 0:
            raise HibeError("HibeSetup", 1)

    def keygen(self, identity: Text, key_out_path: Path, master_key_file: Path,
               params_file: Path) -> None:
        """Writes key_out_path/privateKeys/A#B#C.privateKey for identity "A/B/C"."""
        args = [_text(identity, "identity"), _path(key_out_path, "key_out_path"),
                _path(master_key_file, "master_key_file"), _path(params_file, "params_file")]
        if self.lib.KeyGenFromMaster(*(StringRef(a, len(a)) for a in args)) != 0:
            raise HibeError("KeyGenFromMaster", 1)

    def read_key(self, path: Path) -> bytes:
        """The bytes of the file at path."""
        name = _path(path, "path")
        data = self._take(self.lib.ReadKey(StringRef(name, len(name))))
        if data is None:
            raise HibeError("ReadKey", None)
        return data

    def encrypt(self, plaintext: BytesLike, receivers: Sequence[Tuple[Text, BytesLike]],
                key_type: int = 0) -> Dict[str, str]:
        """Encrypts plaintext for receivers, a list of (identity, params bytes);
        returns the message map, a dict of str to str. At most MAX_RECEIVERS
        receivers, each identity and params at most MAX_VALUE_LENGTH bytes. When
        the library refuses them, the HibeError's reason is the library's text
        for the first cause that the module finds checking them in its order."""
        plaintext = _count(_data(plaintext, "plaintext"), "plaintext")
        receivers = list(receivers)
        if len(receivers) > MAX_RECEIVERS:
            raise ValueError("%d receivers; a list blob holds at most %d"
                             % (len(receivers), MAX_RECEIVERS))
        ids, params = [], []
        for n, receiver in enumerate(receivers):
            try:
                identity, receiver_params = receiver
            except (TypeError, ValueError):
                raise TypeError("receiver %d must be a pair (identity, params)" % n) from None
            what = "receiver %d's " % n
            ids.append(_count(_text(identity, what + "identity"), what + "identity", MAX_VALUE_LENGTH))
            params.append(_count(_data(receiver_params, what + "params"), what + "params",
                                 MAX_VALUE_LENGTH))
        id_blob, params_blob = list_blob(ids, STRING), list_blob(params, BYTES)
        text = self._take(self.lib.EncryptHibeMsg(plaintext, len(plaintext), id_blob, len(id_blob),
                                                  params_blob, len(params_blob),
                                                  _int(key_type, "key_type")))
        if text == b"null":
            raise HibeError("EncryptHibeMsg", text, _encrypt_error(plaintext, ids, params))
        return json.loads(text)

    def decrypt(self, local_id: Text, params: BytesLike, private_key: BytesLike,
                message_map: MessageMap, key_type: int = 0) -> bytes:
        """Decrypts message_map (a dict, or its JSON text) as local_id with its
        params and private key (the bytes of the two files); returns the plaintext."""
        if isinstance(message_map, Mapping):
            message_map = json.dumps(dict(message_map))
        args = [_text(local_id, "local_id"), _data(params, "params"),
                _data(private_key, "private_key"), _text(message_map, "message_map")]
        names = ["local_id", "params", "private_key", "message_map"]
        sized = [x for a, name in zip(args, names) for x in (_count(a, name), len(a))]
        data = self._take(self.lib.DecryptHibeMsg(*sized, _int(key_type, "key_type")))
        if data is None:
            raise HibeError("DecryptHibeMsg", None)
        return data
