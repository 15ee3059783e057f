"""A Python host of libhibe.so: loads it with ctypes and calls the five functions.

    python3 host_test.py path/to/libhibe.so scratch-directory
"""
import ctypes
import os
import shutil
import sys
import unittest

LIB_PATH = None
SCRATCH = None


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

    def test_negative_counts_fail(self):
        self.assertEqual(self.lib.encrypt(b"m", b"", b"", lens=(-1, 0, 0)), b"null")
        self.assertIsNone(self.lib.decrypt(b"A", b"", b"", b"", lens=(1, 0, -5, 0)))
        self.assertEqual(self.lib.lib.HibeSetup(3, StringRef(b"o", -1), ref(SCRATCH)), 1)


if __name__ == "__main__":
    LIB_PATH, SCRATCH = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
