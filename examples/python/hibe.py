"""libhibe from Python, through ctypes.

    import hibe
    lib = hibe.Hibe()                       # or hibe.Hibe("path/to/libhibe.so.0")
    lib.setup(2, "org", "keys")
    lib.keygen("A/B", "keys", "keys/org/org.masterKey", "keys/org/org.params")
    params = lib.read_key("keys/org/org.params")
    key = lib.read_key("keys/privateKeys/A#B.privateKey")
    message_map = lib.encrypt(b"hello", [("A/B", params)])
    assert lib.decrypt("A/B", params, key, message_map) == b"hello"

Every failure raises HibeError, which names the function and carries its
failure result. The library gives no reason beyond that, except the text that a
failed EncryptHibeMsg writes to standard output.
"""
import ctypes
import ctypes.util
import json
import struct

__all__ = ["Hibe", "HibeError", "StringRef", "Result", "list_blob"]

# Value types of the list blob items.
INT32, STRING, BYTES = 0, 1, 2
USER = 1
HEADER = b"vtkv" + b"v1.0" + b"\xff" * 8


class HibeError(Exception):
    """A call of the library failed; `function` names it and `result` is what
    it returned (1 for HibeSetup and KeyGenFromMaster, None for a NULL buffer,
    b"null" for EncryptHibeMsg)."""

    def __init__(self, function, result):
        super().__init__("%s failed (result %r)" % (function, result))
        self.function = function
        self.result = result


class StringRef(ctypes.Structure):
    _fields_ = [("p", ctypes.c_char_p), ("n", ctypes.c_int64)]


class Result(ctypes.Structure):
    """ReadKey_return, EncryptHibeMsg_return and DecryptHibeMsg_return: one layout."""
    _fields_ = [("r0", ctypes.c_void_p), ("r1", ctypes.c_int64)]


def _bytes(value):
    return value.encode() if isinstance(value, str) else bytes(value)


def ref(value):
    """A StringRef of a str (as UTF-8) or bytes; it holds the bytes during the call."""
    value = _bytes(value)
    return StringRef(value, len(value))


def list_blob(values, value_type):
    """The list blob of hibe/hibe.h: header, count, the user item "size" and the
    user items "0", "1", ... of value_type (STRING or BYTES)."""
    def item(key, vtype, value):
        return struct.pack("<II", USER, len(key)) + key + struct.pack("<II", vtype, len(value)) + value
    items = [item(b"size", INT32, struct.pack("<i", len(values)))]
    items += [item(str(i).encode(), value_type, _bytes(v)) for i, v in enumerate(values)]
    return HEADER + struct.pack("<I", len(items)) + b"".join(items)


class Hibe:
    """The loaded library. `path` names the shared object; without it the
    library is found by name (libhibe.so.0 on the loader's search path)."""

    def __init__(self, path=None):
        self.lib = ctypes.CDLL(path or ctypes.util.find_library("hibe") or "libhibe.so.0")
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

    def take(self, result):
        """The bytes of a result buffer, which it frees; None for a NULL r0."""
        if not result.r0:
            return None
        data = ctypes.string_at(result.r0, result.r1)
        self._libc.free(result.r0)
        return data

    def setup(self, depth, org_id, key_out_path):
        """Writes key_out_path/org_id/org_id.params and .masterKey."""
        if self.lib.HibeSetup(depth, ref(org_id), ref(key_out_path)) != 0:
            raise HibeError("HibeSetup", 1)

    def keygen(self, identity, key_out_path, master_key_file, params_file):
        """Writes key_out_path/privateKeys/A#B#C.privateKey for identity "A/B/C"."""
        if self.lib.KeyGenFromMaster(ref(identity), ref(key_out_path), ref(master_key_file),
                                     ref(params_file)) != 0:
            raise HibeError("KeyGenFromMaster", 1)

    def read_key(self, path):
        """The bytes of the file at path."""
        data = self.take(self.lib.ReadKey(ref(path)))
        if data is None:
            raise HibeError("ReadKey", None)
        return data

    def encrypt(self, plaintext, receivers, key_type=0):
        """Encrypts plaintext for receivers, a list of (identity, params bytes);
        returns the message map, a dict of str to str."""
        ids = list_blob([identity for identity, _ in receivers], STRING)
        params = list_blob([p for _, p in receivers], BYTES)
        plaintext = _bytes(plaintext)
        text = self.take(self.lib.EncryptHibeMsg(plaintext, len(plaintext), ids, len(ids),
                                                 params, len(params), key_type))
        if text == b"null":
            raise HibeError("EncryptHibeMsg", text)
        return json.loads(text)

    def decrypt(self, local_id, params, private_key, message_map, key_type=0):
        """Decrypts message_map (a dict, or its JSON text) as local_id with its
        params and private key (the bytes of the two files); returns the plaintext."""
        if isinstance(message_map, dict):
            message_map = json.dumps(message_map)
        args = [_bytes(a) for a in (local_id, params, private_key, message_map)]
        sized = [x for a in args for x in (a, len(a))]
        data = self.take(self.lib.DecryptHibeMsg(*sized, key_type))
        if data is None:
            raise HibeError("DecryptHibeMsg", None)
        return data
