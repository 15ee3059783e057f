/*
 * Hierarchical identity-based encryption on the BN256 pairing curve.
 *
 * The whole interface of libhibe.so: five functions with C linkage. Every call
 * first waits until the library's start-up (begun when the object was loaded)
 * has finished, then runs to completion on the calling thread. Any number of
 * threads may call at once: the library keeps no state between calls, and a
 * call takes no lock once the library is ready. Of calls that write the same
 * key file at once (two setups of one organisation, two keys of one identity)
 * exactly one succeeds, and the others return 1. A fork never waits for calls,
 * and the library works in the child of a fork made at any moment.
 *
 * Stack: a call needs, below the caller's frame, its reach (how deep it writes:
 * its own work and the zeroing at its end) plus room for a signal frame. The
 * reach is 24 KiB for HibeSetup, 22 KiB for KeyGenFromMaster, 3 KiB for
 * ReadKey, 26 KiB for EncryptHibeMsg and 24 KiB for DecryptHibeMsg (built with
 * AddressSanitizer: 35, 32, 8, 49 and 41 KiB). The signal room is the kernel's
 * signal frame for this processor's register state (getauxval(AT_MINSIGSTKSZ)),
 * its 128-byte red zone and 1 KiB for a handler's own frames, rounded up to
 * 1 KiB and at least 4 KiB: 5 KiB with AVX-512 state, so a call needs 29, 27,
 * 8, 31 and 29 KiB. Processors with large register state need that much more:
 * with AMX tile state in use the signal frame is 8 KiB larger (37, 35, 16, 39
 * and 37 KiB). Before it returns a call zeroes the stack that its work used,
 * where keys were held, down to its reach and no further; where the threads
 * library reports the bottom of the thread's stack (threads that it made or was
 * given a stack for, and the main thread, under its stack size limit as it is
 * at each call), never closer to that bottom than the signal room. Calls are
 * not async-signal-safe: a signal handler may fork and exec, but not call the
 * library.
 *
 * Arguments: a StringRef is read in place during the call and never written;
 * a byte array (pointer and int count) is copied on entry. A count or length of
 * 0 passes the empty value, and its pointer is then not read (it may be NULL);
 * whether a function takes an empty value, and what it then does, its comment
 * says (most refuse it). A negative count or length fails the call with its
 * failure result.
 *
 * Results: a *_return record holds r0, a buffer from malloc that belongs to the
 * caller (release it with free), and r1, its length in bytes. r0 is NULL exactly
 * when r1 is -1; a result of 0 bytes still has a non-NULL r0 to free. No
 * buffer ends with a NUL: a text (a message map) is r1 bytes long.
 *
 * Standard output: HibeSetup prints one line naming each file it wrote, and a
 * failed EncryptHibeMsg writes its error text (no line break), because neither
 * result carries a reason. Nothing else is printed, and nothing is read. Both
 * go to file descriptor 1 in one write each, past every buffer of the host's
 * (stdio's stdout, and the stdout objects of Python, Java or Node), so a host
 * that buffers its own output flushes it before the call to keep the order.
 * The other failures give no reason; each function's comment lists their
 * causes.
 */
#ifndef HIBE_HIBE_H
#define HIBE_HIBE_H

#include <stdint.h>

/* The version of this interface; the shared object is libhibe.so.MAJOR. */
#define HIBE_VERSION_MAJOR 0
#define HIBE_VERSION_MINOR 1
#define HIBE_VERSION_PATCH 0

/* Marks a function whose result must not be dropped: it owns a buffer to free,
   or it is the only sign of a failure. */
#if defined(__GNUC__) || defined(__clang__)
#define HIBE_WARN_UNUSED_RESULT __attribute__((warn_unused_result))
#else
#define HIBE_WARN_UNUSED_RESULT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A text or path: n bytes at p, no terminating NUL, any byte values allowed. */
typedef struct {
    const char* p;
    int64_t n;
} StringRef;

typedef struct {
    void* r0;
    int64_t r1;
} ReadKey_return;

typedef struct {
    void* r0;
    int64_t r1;
} EncryptHibeMsg_return;

typedef struct {
    void* r0;
    int64_t r1;
} DecryptHibeMsg_return;

/*
 * Sets up the organisation orgId with a hierarchy of at most depth levels:
 * writes Join(keyOutPath, orgId)/orgId.params (384 + 64*depth bytes) and
 * .../orgId.masterKey (64 bytes), both mode 0600, and prints one line naming
 * each file to standard output. Join leaves out empty elements and cleans the
 * path lexically ("keys//org/" becomes "keys/org"), and the lines name the
 * cleaned paths.
 *
 * Empty values: an empty orgId puts the files, named ".params" and
 * ".masterKey", directly in keyOutPath; an empty keyOutPath puts the directory
 * orgId in the working directory; both empty fail. Depth 0 succeeds, but then
 * every KeyGenFromMaster with these params fails: every identity has a level.
 *
 * Returns 0 on success, 1 on any failure, and prints nothing then: something
 * has the master key file's name already (a file, a directory, a FIFO, a
 * symbolic link, dangling or not), which is checked before anything is
 * written; another setup of the organisation is under way; depth is negative
 * or above 33554425, whose params would exceed an int count; orgId holds a
 * zero byte, or a "/" (for "a/b" the files would lie in keyOutPath/a/b/a, which
 * is not made); a directory or file cannot be made, written or flushed. After
 * 1 the organisation is as it was: absent when it was absent, so that a later
 * setup can succeed, and a params file that was there is unchanged.
 */
HIBE_WARN_UNUSED_RESULT int64_t HibeSetup(int64_t depth, StringRef orgId, StringRef keyOutPath);

/*
 * Derives the private key of the identity id ("A/B/C") from the master key file
 * and params file named by the last two arguments, and writes it to
 * keyOutPath/privateKeys/A#B#C.privateKey (mode 0600, 192 + 64*(depth of the
 * params - levels of id) bytes): the name is id with every "/" replaced by "#".
 * It records neither the organisation nor the levels, so "a#b" and "a/b" share
 * one name, and so do the keys of one identity string of every organisation
 * whose keys go under the same keyOutPath.
 *
 * id is not checked against the identities that EncryptHibeMsg takes: a key is
 * written as well for "", "a b", "a//b", "/a", "CT" or bytes that are not
 * UTF-8, which no message can ever reach. The empty id writes ".privateKey".
 * An empty keyOutPath puts privateKeys/ in the working directory; an empty
 * file path fails.
 *
 * Returns 0 on success, 1 on any failure, and prints nothing: the key file's
 * name is taken already (by the same identity or one of the same name, of any
 * organisation); the identity has more levels than the params allow; its file
 * name cannot be made (a zero byte in id, a name longer than the file system's
 * limit, 255 bytes on Linux's file systems: id above 244 bytes); a file cannot
 * be read (see ReadKey) or does not decode (params whose length is not 384
 * plus a multiple of 64, a master key file of fewer than 64 bytes, an encoding
 * of no point; only the first 64 bytes of the master key file are read); the
 * params hold an identity element; the master key is at infinity or does not
 * belong to the params; the directory or the key file cannot be made, written
 * or flushed. After 1 no key file of the identity has been left behind.
 */
HIBE_WARN_UNUSED_RESULT int64_t KeyGenFromMaster(StringRef id, StringRef keyOutPath,
                                                 StringRef masterKeyFilePath, StringRef paramsFilePath);

/*
 * Reads the whole file keyfile (the path bytes as given, relative to the working
 * directory) and returns its bytes. Only a regular file is read: a directory, a
 * FIFO, a device or a socket fails at once, without waiting or reading. A file
 * larger than 2147483647 bytes fails before anything is read; a regular file is
 * read up to the size it had when it was opened, and one that reports size 0
 * (the files of /proc) to its end, but never past 2147483647 bytes. An empty
 * file gives r1 = 0 and a non-NULL r0 to free; the empty path fails. Failure
 * (those, a missing file, a zero byte in the path, an unreadable file, no
 * memory): r0 NULL, r1 -1.
 */
HIBE_WARN_UNUSED_RESULT ReadKey_return ReadKey(StringRef keyfile);

/*
 * Encrypts plaintext for the receivers of the receiverIds list blob, each with the
 * params encoding at the same index of the params list blob, and returns the JSON
 * text of the message map: one object without whitespace or terminating NUL (r1
 * is its length), "CT" (the message, encrypted once with AES-256-GCM) and one
 * member per receiver left after refinement, each value standard base64. A
 * receiver that is an ancestor of another receiver ("A" beside "A/B") or equal
 * to one gets no member: the holder of its key derives the deeper key. keyType
 * is not read: the message is always encrypted with AES.
 *
 * A receiver identity has levels separated by "/", none empty or holding a
 * space; it is valid UTF-8 and not "CT". Failure: the error's text is written
 * to standard output (descriptor 1, one write, no line break) and r0 holds the
 * four bytes "null" (r1 = 4), a buffer to free like any other. The checks, in
 * this order, and their texts:
 *   - a params entry missing or not decoding: "failed to unmarshal params";
 *   - an empty plaintext: "invalid parameters, plaintext is nil" (an empty
 *     message cannot be sent);
 *   - no receivers (an empty or failed list, count 0): "invalid parameters,
 *     receiverIds is nil";
 *   - each receiver in list order: the empty identity "invalid parameters, id
 *     is nil"; an empty level or a space "invalid parameters, id: <id>, format
 *     error, only like : "A/B/C" can be used"; "invalid parameters, id: <id> is
 *     not valid UTF-8"; "invalid parameters, id: CT is reserved";
 *   - no params (an empty or failed list): "invalid parameters, paramsList is
 *     nil"; lists of different lengths: "invalid parameters, receiverIds and
 *     paramsList do not match, place check them";
 *   - each receiver in list order: more levels than its params allow "Cannot
 *     encrypt to identity at greater than maximum depth of the params"; params
 *     holding an identity element "invalid parameters, params of id: <id> hold
 *     an identity element";
 *   - two related receivers (equal, or one the other's ancestor) with params
 *     that differ, such as one identity string of two organisations: "ID
 *     [<the later id>] is matched, but Params are different, please check it";
 *   - a map that would exceed 2147483647 bytes (a message of about 1.5 GiB):
 *     "invalid parameters, the message map would exceed 2147483647 bytes".
 * A failure of the random source or of OpenSSL writes its own text. A negative
 * count, or no memory, gives "null" with no text (and r0 NULL, r1 -1 when even
 * those four bytes cannot be allocated).
 *
 * A list blob (hibe/hibe_list.h builds both from C arrays) is a key-value list;
 * every integer in it is 4 bytes, little-endian. It starts with a header or
 * without one:
 *
 *   with header:  "vtkv"  "v1.0"  8 bytes 0xFF  count  item...
 *   headerless:   count  item...
 *
 * count is the number of items, at most 128. One item:
 *
 *   key type  key length K (0..64)  K key bytes  value type  value length V  value
 *
 * key type 1 is a user item (0, a system item, is never read here); value type
 * 0 is a signed 32-bit integer (its value is always 4 bytes, whatever V says),
 * 1 a text and 2 bytes (each V bytes, V at most 1048576).
 *
 * Both lists hold a user item "size", an integer n, and the user items "0", "1",
 * ... "n-1" (decimal, no sign or leading zero): texts, the receivers' identities,
 * in receiverIds; bytes, each the params file of the receiver at the same index,
 * in params. Items of other keys, system items and indexes from n up are not
 * read, so at most 127 receivers fit.
 *
 * A malformed blob is never an error by itself: a blob of 20 bytes or fewer, a
 * header with another version or reserved field, or a count above 128 reads as
 * no items; a key length out of range or a blob that ends inside an item reads
 * as the items before it. A missing or non-integer "size" counts as 0, a missing
 * or mistyped receiver as the empty identity, and a missing or undecodable params
 * entry fails the call with "failed to unmarshal params". The message layer then
 * rejects what is left: among others "invalid parameters, receiverIds is nil"
 * for no receivers and "invalid parameters, id is nil" for an empty identity.
 */
HIBE_WARN_UNUSED_RESULT EncryptHibeMsg_return EncryptHibeMsg(char* plaintext, int plaintextLen,
                                                             char* receiverIds, int receiverIdsLen,
                                                             char* params, int paramsLen,
                                                             int64_t keyType);

/*
 * Decrypts the JSON message map hibeMsgMap (the r1 bytes that EncryptHibeMsg
 * returned) as the identity localId, with one raw params encoding and one raw
 * private key encoding (the bytes of the key files of localId), and returns
 * the plaintext. keyType is not read.
 *
 * The member read: the one named localId; otherwise the one below localId with
 * the fewest levels (the first in byte order among equals), whose key is
 * derived from prvKey one level at a time with params; otherwise the first
 * whose name merely begins with the bytes of localId ("A/BC" for "A/B"), read
 * with prvKey as it is, which fails. params must decode, but only a derivation
 * uses them: at its own level a key decrypts with any organisation's params.
 *
 * Empty values: an empty localId, params, prvKey or hibeMsgMap fails. Failure,
 * with nothing printed (r0 NULL, r1 -1): localId is empty, has an empty level
 * or a space; params or prvKey does not decode; hibeMsgMap is not one JSON
 * object; no member other than "CT" begins with localId (the message went to
 * another branch, or only above localId); the member is deeper than params
 * allow; a key must be derived and prvKey is not of localId's depth; the member
 * or "CT" is not base64 of a ciphertext, or "CT" is missing; the message does
 * not authenticate: prvKey is another identity's or another organisation's,
 * params are another organisation's and a key had to be derived, the member
 * only began with localId, or the map was changed; no memory.
 */
HIBE_WARN_UNUSED_RESULT DecryptHibeMsg_return DecryptHibeMsg(char* localId, int localIdLen,
                                                             char* params, int paramsLen,
                                                             char* prvKey, int prvKeyLen,
                                                             char* hibeMsgMap, int hibeMsgMapLen,
                                                             int64_t keyType);

#ifdef __cplusplus
}
#endif

#endif /* HIBE_HIBE_H */
