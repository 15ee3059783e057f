"""A Python host of libhibe.so: loads it with ctypes and calls the five functions.

    python3 host_test.py path/to/libhibe.so scratch-directory data-directory
"""
import ctypes
import json
import os
import shutil
import struct
import sys
import threading
import unittest

LIB_PATH = None
SCRATCH = None
DATA = None


def kv_list(values, value_type):
    """A key-value list blob: header, count, USER "size" (INT32), USER "0", "1", ..."""
    def item(key, vtype, value):
        return struct.pack("<II", 1, len(key)) + key + struct.pack("<II", vtype, len(value)) + value
    items = [item(b"size", 0, struct.pack("<i", len(values)))]
    items += [item(str(i).encode(), value_type, v) for i, v in enumerate(values)]
    return b"vtkv" + b"v1.0" + b"\xff" * 8 + struct.pack("<I", len(items)) + b"".join(items)


def id_list(ids):
    return kv_list([i.encode() if isinstance(i, str) else i for i in ids], 1)


def params_list(params):
    return kv_list(params, 2)


def data(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


class StringRef(ctypes.Structure):
    _fields_ = [("p", ctypes.c_char_p), ("n", ctypes.c_int64)]


class Return(ctypes.Structure):
    """ReadKey_return, EncryptHibeMsg_return and DecryptHibeMsg_return share this layout."""
    _fields_ = [("r0", ctypes.c_void_p), ("r1", ctypes.c_int64)]


def ref(data):
    if isinstance(data, str):
        data = data.encode()
    return StringRef(data, len(data))


class Library:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.libc = ctypes.CDLL(None)
        self.libc.free.argtypes = [ctypes.c_void_p]
        lib = self.lib
        lib.HibeSetup.argtypes = [ctypes.c_int64, StringRef, StringRef]
        lib.HibeSetup.restype = ctypes.c_int64
        lib.KeyGenFromMaster.argtypes = [StringRef] * 4
        lib.KeyGenFromMaster.restype = ctypes.c_int64
        lib.ReadKey.argtypes = [StringRef]
        lib.ReadKey.restype = Return
        array = [ctypes.c_char_p, ctypes.c_int]
        lib.EncryptHibeMsg.argtypes = array * 3 + [ctypes.c_int64]
        lib.EncryptHibeMsg.restype = Return
        lib.DecryptHibeMsg.argtypes = array * 4 + [ctypes.c_int64]
        lib.DecryptHibeMsg.restype = Return

    def take(self, r):
        """The result buffer's bytes (None for r0 null), freed as a host must."""
        if not r.r0:
            self.test_case.assertEqual(r.r1, -1)
            return None
        self.test_case.assertGreaterEqual(r.r1, 0)
        data = ctypes.string_at(r.r0, r.r1)
        self.libc.free(r.r0)
        return data

    def read_key(self, path):
        return self.take(self.lib.ReadKey(ref(path)))

    def encrypt(self, plaintext, receiver_ids, params, key_type=0, lens=None):
        lens = lens or (len(plaintext), len(receiver_ids), len(params))
        return self.take(self.lib.EncryptHibeMsg(plaintext, lens[0], receiver_ids, lens[1],
                                                 params, lens[2], key_type))

    def decrypt(self, local_id, params, prv_key, msg_map, key_type=0, lens=None):
        lens = lens or (len(local_id), len(params), len(prv_key), len(msg_map))
        return self.take(self.lib.DecryptHibeMsg(local_id, lens[0], params, lens[1],
                                                 prv_key, lens[2], msg_map, lens[3], key_type))


class HostTest(unittest.TestCase):
    lib = None

    @classmethod
    def setUpClass(cls):
        cls.lib = Library(LIB_PATH)
        # The first call, made at once after loading, waits for the start-up.
        cls.first_read = cls.lib.lib.ReadKey(ref(LIB_PATH))
        shutil.rmtree(SCRATCH, ignore_errors=True)
        os.makedirs(SCRATCH)

    def setUp(self):
        self.lib.test_case = self

    def path(self, name):
        return os.path.join(SCRATCH, name)

    def test_first_call_after_load(self):
        data = self.lib.take(self.first_read)
        with open(LIB_PATH, "rb") as f:
            self.assertEqual(data, f.read())

    def test_read_key(self):
        content = b"k\x00e\xffy"
        with open(self.path("key.bin"), "wb") as f:
            f.write(content)
        open(self.path("empty.bin"), "wb").close()
        self.assertEqual(self.lib.read_key(self.path("key.bin")), content)
        self.assertEqual(self.lib.read_key(self.path("empty.bin")), b"")
        for bad in [self.path("missing.bin"), SCRATCH, "", self.path("key.bin") + "\x00x"]:
            with self.subTest(path=bad):
                self.assertIsNone(self.lib.read_key(bad))
        self.assertIsNone(self.lib.take(self.lib.lib.ReadKey(StringRef(b"x", -1))))

    def setup_org(self, name, depth=3):
        out = self.path(name)
        self.assertEqual(self.lib.lib.HibeSetup(depth, ref("org"), ref(out)), 0)
        return out, os.path.join(out, "org", "org.params"), os.path.join(out, "org", "org.masterKey")

    def key_gen(self, out, identity, master, params):
        return self.lib.lib.KeyGenFromMaster(ref(identity), ref(out), ref(master), ref(params))

    def test_whole_road(self):
        out, params_path, master_path = self.setup_org("road")
        for identity in ["A", "A/B", "A/B/C"]:
            self.assertEqual(self.key_gen(out, identity, master_path, params_path), 0)
        self.assertEqual(self.key_gen(out, "A", master_path, params_path), 1)
        params = self.lib.read_key(params_path)
        self.assertEqual(len(params), 576)
        keys = {i: self.lib.read_key(os.path.join(out, "privateKeys", i.replace("/", "#") + ".privateKey"))
                for i in ["A", "A/B", "A/B/C"]}
        self.assertEqual([len(keys[i]) for i in ["A", "A/B", "A/B/C"]], [320, 256, 192])

        message = "ein Schlüssel für alle".encode()
        msg_map = self.lib.encrypt(message, id_list(["A/B/C"]), params_list([params]))
        self.assertEqual(sorted(json.loads(msg_map)), ["A/B/C", "CT"])
        for identity, key in keys.items():
            with self.subTest(holder=identity):
                self.assertEqual(self.lib.decrypt(identity.encode(), params, key, msg_map), message)
        self.assertIsNone(self.lib.decrypt(b"A/B/C", params, keys["A"], msg_map))

    def test_encryption_failure_returns_null(self):
        params = data("org.params")
        self.assertEqual(self.lib.encrypt(b"", id_list(["A"]), params_list([params])), b"null")
        self.assertEqual(self.lib.encrypt(b"m", id_list(["A"]), params_list([b"x" * 64])), b"null")

    def test_known_answer_map(self):
        params, msg_map = data("org.params"), data("map-A#B#C.json")
        for identity in ["A", "A/B", "A/B/C"]:
            key = data(identity.replace("/", "#") + ".privateKey")
            self.assertEqual(self.lib.decrypt(identity.encode(), params, key, msg_map),
                             data("plaintext.txt"))

    def test_threads_call_all_five_functions(self):
        errors = []

        def work(n):
            try:
                out, params_path, master_path = self.setup_org("thread%d" % n, depth=2)
                assert self.key_gen(out, "T/%d" % n, master_path, params_path) == 0
                params = self.lib.read_key(params_path)
                key = self.lib.read_key(os.path.join(out, "privateKeys", "T#%d.privateKey" % n))
                shared = data("org.params")
                message = b"thread %d" % n
                msg_map = self.lib.encrypt(message, id_list(["T/%d" % n, "A/B"]),
                                           params_list([params, shared]))
                assert self.lib.decrypt(b"T", params, key, msg_map) is None
                assert self.lib.decrypt(b"T/%d" % n, params, key, msg_map) == message
                assert self.lib.decrypt(b"A", shared, data("A.privateKey"), msg_map) == message
            except Exception as e:  # reported in the main thread
                errors.append(e)

        threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])

    def test_negative_counts_fail(self):
        self.assertEqual(self.lib.encrypt(b"m", b"", b"", lens=(-1, 0, 0)), b"null")
        self.assertIsNone(self.lib.decrypt(b"A", b"", b"", b"", lens=(1, 0, -5, 0)))
        self.assertEqual(self.lib.lib.HibeSetup(3, StringRef(b"o", -1), ref(SCRATCH)), 1)


if __name__ == "__main__":
    LIB_PATH, SCRATCH, DATA = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
