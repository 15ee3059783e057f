"""A Python host of libhibe.so: drives the library through the example module
examples/python/hibe.py, as a Python host would.

    python3 host_test.py path/to/libhibe.so scratch-directory data-directory
"""
import json
import os
import pathlib
import shutil
import sys
import tempfile
import threading
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "python"))
import hibe  # noqa: E402

LIB_PATH = None
SCRATCH = None
DATA = None


def data(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def written_to_fd1(call, *args):
    """What call writes to file descriptor 1 (a temporary file meanwhile), and
    the HibeError it raised or None."""
    sys.stdout.flush()
    saved = os.dup(1)
    with tempfile.TemporaryFile() as text:
        os.dup2(text.fileno(), 1)
        try:
            call(*args)
            error = None
        except hibe.HibeError as e:
            error = e
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        text.seek(0)
        return text.read(), error


class HostTest(unittest.TestCase):
    lib = None

    @classmethod
    def setUpClass(cls):
        cls.lib = hibe.Hibe(LIB_PATH)
        # The first call, made at once after loading, waits for the start-up.
        cls.first_read = cls.lib.lib.ReadKey(hibe.ref(LIB_PATH))
        shutil.rmtree(SCRATCH, ignore_errors=True)
        os.makedirs(SCRATCH)

    def path(self, name):
        return os.path.join(SCRATCH, name)

    def take(self, r):
        """The result buffer's bytes (None for r0 NULL), freed as a host must."""
        if not r.r0:
            self.assertEqual(r.r1, -1)
        else:
            self.assertGreaterEqual(r.r1, 0)
        return self.lib._take(r)

    def assertFails(self, function, result, call, *args):
        with self.assertRaises(hibe.HibeError) as caught:
            call(*args)
        self.assertEqual((caught.exception.function, caught.exception.result), (function, result))
        if function != "EncryptHibeMsg":
            # The library gives no reason: the error names every cause of the README's table.
            self.assertEqual(caught.exception.reason, hibe.REASONS[function])
            self.assertIn(hibe.REASONS[function], str(caught.exception))

    def test_first_call_after_load(self):
        data = self.take(self.first_read)
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
                self.assertFails("ReadKey", None, self.lib.read_key, bad)
        self.assertIsNone(self.take(self.lib.lib.ReadKey(hibe.StringRef(b"x", -1))))

    def setup_org(self, name, depth=3):
        out = self.path(name)
        self.lib.setup(depth, "org", out)
        return out, os.path.join(out, "org", "org.params"), os.path.join(out, "org", "org.masterKey")

    def test_whole_road(self):
        out, params_path, master_path = self.setup_org("road")
        self.assertFails("HibeSetup", 1, self.lib.setup, 3, "org", out)
        for identity in ["A", "A/B", "A/B/C"]:
            self.lib.keygen(identity, out, master_path, params_path)
        self.assertFails("KeyGenFromMaster", 1, self.lib.keygen, "A", out, master_path, params_path)
        params = self.lib.read_key(params_path)
        self.assertEqual(len(params), 576)
        keys = {i: self.lib.read_key(os.path.join(out, "privateKeys", i.replace("/", "#") + ".privateKey"))
                for i in ["A", "A/B", "A/B/C"]}
        self.assertEqual([len(keys[i]) for i in ["A", "A/B", "A/B/C"]], [320, 256, 192])

        message = "ein Schlüssel für alle".encode()
        msg_map = self.lib.encrypt(message, [("A/B/C", params)])
        self.assertEqual(sorted(msg_map), ["A/B/C", "CT"])
        for identity, key in keys.items():
            with self.subTest(holder=identity):
                self.assertEqual(self.lib.decrypt(identity, params, key, msg_map), message)
        self.assertFails("DecryptHibeMsg", None, self.lib.decrypt, "A/B/C", params, keys["A"], msg_map)

    def test_encryption_failure_returns_null(self):
        params = data("org.params")
        self.assertFails("EncryptHibeMsg", b"null", self.lib.encrypt, b"", [("A", params)])
        self.assertFails("EncryptHibeMsg", b"null", self.lib.encrypt, b"m", [("A", b"x" * 64)])

    def test_encryption_error_names_the_cause_that_the_library_writes(self):
        params = data("org.params")
        other = self.lib.read_key(self.setup_org("other")[1])
        zero_h = params[:-64] + bytes(64)
        bad_points = params[:384] + b"\x01" * 192  # the right length, no points
        cases = [
            ("params of no params length first", b"", [("A", params[:100])]),
            ("empty plaintext", b"", [("A", params)]),
            ("no receivers", b"m", []),
            ("empty identity", b"m", [("A", params), ("", params)]),
            ("empty level", b"m", [("a//b", params)]),
            ("trailing separator", b"m", [("a/", params)]),
            ("space", b"m", [(" a", params)]),
            ("identities before depths", b"m", [("A/B/C/D", params), ("a b", params)]),
            ("byte FF", b"m", [(b"A/\xff", params)]),
            ("encoded surrogate", b"m", [(b"\xed\xa0\x80", params)]),
            ("overlong", b"m", [(b"\xc0\xaf", params)]),
            ("above U+10FFFF", b"m", [(b"\xf4\x90\x80\x80", params)]),
            ("reserved", b"m", [("CT", params)]),
            ("too deep", b"m", [("A/B/C/D", params)]),
            ("identity element", b"m", [("X", params), ("A", zero_h)]),
            ("depth before identity element", b"m", [("A/B/C/D", zero_h)]),
            ("related, other params", b"m", [("A", params), ("X", other), ("A/B", other)]),
            ("equal, other params", b"m", [("eng", params), ("eng", other)]),
            ("descendant first", b"m", [("A/B", params), ("Y", params), ("A", other)]),
        ]
        for name, plaintext, receivers in cases:
            with self.subTest(name):
                text, error = written_to_fd1(self.lib.encrypt, plaintext, receivers)
                self.assertIsNotNone(error)
                self.assertNotEqual(text, b"")
                # The library's text; bytes of an identity that are not UTF-8 show as \xNN.
                self.assertEqual(error.reason, text.decode("utf-8", "backslashreplace"))
                self.assertIn(error.reason, str(error))
        # Params whose points do not decode: the module cannot tell, the library can.
        text, error = written_to_fd1(self.lib.encrypt, b"m", [("A", bad_points)])
        self.assertEqual(text, b"failed to unmarshal params")
        self.assertEqual(error.reason, hibe.REASONS["EncryptHibeMsg"])
        self.assertIn("descriptor 1", error.reason)

    def test_encrypt_reason_for_each_receiver_is_the_library_text(self):
        params = data("org.params")
        taken = ["A", "A/B/C", "a#b", "A/CT", "\u00fc/\u00e9", "a\tb", "a\x00b", "..", "x" * 300]
        refused = ["", "/a", "a/", "a//b", " a", "a b", "CT", b"\xff", b"\xe2\x82", "A/B/C/D"]
        for identity in taken + refused:
            with self.subTest(identity=identity):
                text, error = written_to_fd1(self.lib.encrypt, b"m", [(identity, params)])
                if identity in taken:
                    self.assertIsNone(error)
                    self.assertEqual(text, b"")
                else:
                    self.assertIsNotNone(error)
                    self.assertEqual(error.reason, text.decode("utf-8", "backslashreplace"))

    def test_map_length_is_the_length_of_the_map(self):
        params = data("org.params")
        # Escaped identities, and lists that refinement shortens.
        receivers = [["A"], ["A/B", "X"], ["a<b>&c", 'q"\\', "t\tn\n\x01", "s\u2028\u2029"],
                     ["A", "A/B"], ["X", "A", "A/B/C", "A/B", "X", "AB/C"], ["R/%d" % n for n in range(40)]]
        for size in [1, 5, 93, 94, 127, 128, 220, 221, 255, 256, 65500, 65536, 70000]:
            for ids in receivers:
                with self.subTest(size=size, ids=ids[:3]):
                    plaintext = bytes(size)
                    id_blob = hibe.list_blob([i.encode() for i in ids], hibe.STRING)
                    params_blob = hibe.list_blob([params] * len(ids), hibe.BYTES)
                    text = self.lib._take(self.lib.lib.EncryptHibeMsg(
                        plaintext, size, id_blob, len(id_blob), params_blob, len(params_blob), 0))
                    refined = hibe._refine([i.encode() for i in ids], [params] * len(ids))[0]
                    self.assertEqual(len(text), hibe._map_length(size, [r for r, _ in refined]))
                    self.assertEqual(sorted(json.loads(text)),
                                     sorted(["CT"] + [r.decode() for r, _ in refined]))

    def test_known_answer_map(self):
        params, msg_map = data("org.params"), data("map-A#B#C.json")
        for identity in ["A", "A/B", "A/B/C"]:
            key = data(identity.replace("/", "#") + ".privateKey")
            with self.subTest(holder=identity):
                self.assertEqual(self.lib.decrypt(identity, params, key, msg_map), data("plaintext.txt"))
                self.assertEqual(self.lib.decrypt(identity, params, key, json.loads(msg_map)),
                                 data("plaintext.txt"))

    def test_threads_call_all_five_functions(self):
        errors = []

        def work(n):
            try:
                out, params_path, master_path = self.setup_org("thread%d" % n, depth=2)
                self.lib.keygen("T/%d" % n, out, master_path, params_path)
                params = self.lib.read_key(params_path)
                key = self.lib.read_key(os.path.join(out, "privateKeys", "T#%d.privateKey" % n))
                shared = data("org.params")
                message = b"thread %d" % n
                msg_map = self.lib.encrypt(message, [("T/%d" % n, params), ("A/B", shared)])
                try:
                    self.lib.decrypt("T", params, key, msg_map)
                    raise AssertionError("T decrypted a message for T/%d" % n)
                except hibe.HibeError:
                    pass
                assert self.lib.decrypt("T/%d" % n, params, key, msg_map) == message
                assert self.lib.decrypt("A", shared, data("A.privateKey"), msg_map) == message
            except Exception as e:  # reported in the main thread
                errors.append(e)

        threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])

    def test_library_is_loaded_from_the_first_place_given(self):
        missing = self.path("missing/libhibe.so.0")
        with mock.patch.dict(os.environ, {"HIBE_LIBRARY": LIB_PATH}):
            self.assertEqual(hibe.Hibe().path, LIB_PATH)
        with mock.patch.dict(os.environ, {"HIBE_LIBRARY": missing}):
            self.assertEqual(hibe.Hibe(LIB_PATH).path, LIB_PATH)  # the path given comes first
            self.assertEqual(hibe.Hibe(pathlib.Path(LIB_PATH)).path, LIB_PATH)
            # A library named but missing is an error, not a reason to load another.
            with self.assertRaises(hibe.LibraryNotFound) as caught:
                hibe.Hibe()
            self.assertIn("HIBE_LIBRARY, " + missing, str(caught.exception))
        with self.assertRaises(hibe.LibraryNotFound) as caught:
            hibe.Hibe(missing)
        self.assertIn("the path given, " + missing, str(caught.exception))
        for place in ["a path given to Hibe()", "HIBE_LIBRARY", "the installed libhibe.so.0"]:
            self.assertIn(place, str(caught.exception))

    def test_arguments_are_checked_before_the_call(self):
        lib, params = self.lib, data("org.params")
        key = data("A.privateKey")
        big = b"x" * (hibe.MAX_VALUE_LENGTH + 1)
        cases = [
            (TypeError, "plaintext must be bytes-like, not int", lib.encrypt, 5, [("A", params)]),
            (TypeError, "plaintext must be bytes-like, not str", lib.encrypt, "m", [("A", params)]),
            (TypeError, "identity must be str or bytes, not int", lib.encrypt, b"m", [(5, params)]),
            (TypeError, "params must be bytes-like, not str", lib.encrypt, b"m", [("A", "p")]),
            (TypeError, "receiver 0 must be a pair", lib.encrypt, b"m", [("A",)]),
            (ValueError, "128 receivers; a list blob holds at most 127", lib.encrypt, b"m",
             [("A", params)] * 128),
            (ValueError, "at most 1048576", lib.encrypt, b"m", [(big, params)]),
            (ValueError, "at most 1048576", lib.encrypt, b"m", [("A", big)]),
            (TypeError, "local_id must be str or bytes", lib.decrypt, 1, params, key, "{}"),
            (TypeError, "private_key must be bytes-like", lib.decrypt, "A", params, "key", "{}"),
            (TypeError, "depth must be an int", lib.setup, "2", "org", SCRATCH),
            (TypeError, "path must be a path", lib.read_key, 5),
        ]
        for error, text, call, *args in cases:
            with self.subTest(text=text):
                with self.assertRaises(error) as caught:
                    call(*args)
                self.assertIn(text, str(caught.exception))

    def test_bytes_like_arguments_and_the_most_receivers_a_list_holds(self):
        params, key = data("org.params"), data("A#B.privateKey")
        # 127 receivers, the most one list blob holds: the library takes them all.
        receivers = [(b"A/B", bytearray(params))] + [("R/%d" % n, params) for n in range(126)]
        msg_map = self.lib.encrypt(memoryview(b"many"), receivers)
        self.assertEqual(len(msg_map), 128)
        self.assertEqual(self.lib.decrypt(b"A/B", memoryview(params), bytearray(key),
                                          json.dumps(msg_map).encode()), b"many")
        self.assertEqual(self.lib.read_key(pathlib.Path(DATA) / "A.privateKey"), data("A.privateKey"))

    def test_negative_counts_fail(self):
        lib = self.lib.lib
        self.assertEqual(self.take(lib.EncryptHibeMsg(b"m", -1, b"", 0, b"", 0, 0)), b"null")
        self.assertIsNone(self.take(lib.DecryptHibeMsg(b"A", 1, b"", 0, b"", -5, b"", 0, 0)))
        self.assertEqual(lib.HibeSetup(3, hibe.StringRef(b"o", -1), hibe.ref(SCRATCH)), 1)


if __name__ == "__main__":
    LIB_PATH, SCRATCH, DATA = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
