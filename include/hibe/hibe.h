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
 * Stack: a call needs 36 KiB of the calling thread's stack below the caller's
 * frame (52 KiB when the library is built with AddressSanitizer). Before it
 * returns it zeroes the stack that its work used, where keys were held, never
 * below the bottom of the thread's stack where the threads library reports it
 * (threads that it made or was given a stack for, the main thread). Calls are
 * not async-signal-safe: a signal handler may fork and exec, but not call the
 * library.
 *
 * Arguments: a StringRef is read in place during the call and never written;
 * a byte array (pointer and int count) is copied on entry. A count or length of
 * 0 means the empty value, and its pointer is then not read (it may be NULL).
 * A negative count or length fails the call with its failure result.
 *
 * Results: a *_return record holds r0, a buffer from malloc that belongs to the
 * caller (release it with free), and r1, its length in bytes. r0 is NULL exactly
 * when r1 is -1; a result of 0 bytes still has a non-NULL r0 to free.
 *
 * Standard output: HibeSetup prints one line naming each file it wrote, and a
 * failed EncryptHibeMsg writes its error text (no line break), because neither
 * result carries a reason. Nothing else is printed, and nothing is read.
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
 * writes Join(keyOutPath, orgId)/orgId.params and .../orgId.masterKey (mode
 * 0600) and prints one line naming each file to standard output.
 * Returns 0 on success, 1 on any failure (among others: the master key file
 * exists already, another setup of the organisation is under way, depth is
 * negative or above 33554425, whose params would exceed an int count). After 1
 * the organisation is as it was: absent when it was absent, so that a later
 * setup can succeed.
 */
HIBE_WARN_UNUSED_RESULT int64_t HibeSetup(int64_t depth, StringRef orgId, StringRef keyOutPath);

/*
 * Derives the private key of the identity id ("A/B/C") from the master key file
 * and params file named by the last two arguments, and writes it to
 * keyOutPath/privateKeys/A#B#C.privateKey (mode 0600).
 * Returns 0 on success, 1 on any failure (among others: the key file exists
 * already, the identity is deeper than the params allow, the params hold an
 * identity element, the master key is at infinity or does not belong to the
 * params). After 1 no key file of the identity has been left behind.
 */
HIBE_WARN_UNUSED_RESULT int64_t KeyGenFromMaster(StringRef id, StringRef keyOutPath,
                                                 StringRef masterKeyFilePath, StringRef paramsFilePath);

/*
 * Reads the whole file keyfile (the path bytes as given, relative to the working
 * directory) and returns its bytes. Only a regular file is read: a directory, a
 * FIFO, a device or a socket fails at once, without waiting or reading. Failure
 * (those, a missing file, empty path, a zero byte in the path, unreadable file):
 * r0 NULL, r1 -1.
 */
HIBE_WARN_UNUSED_RESULT ReadKey_return ReadKey(StringRef keyfile);

/*
 * Encrypts plaintext for the receivers of the receiverIds list blob, each with the
 * params encoding at the same index of the params list blob, and returns the JSON
 * text of the message map. keyType is not read: the message is always encrypted
 * with AES. Failure (among others: a receiver id that is not valid UTF-8, params
 * holding an identity element, a map that would exceed 2147483647 bytes): the
 * error's text is written to standard output (no line break) and r0 holds the
 * four bytes "null" (r1 = 4), a buffer to free like any other.
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
 * Decrypts the JSON message map hibeMsgMap as the identity localId, with one raw
 * params encoding and one raw private key encoding (the bytes of the key files),
 * and returns the plaintext. keyType is not read. Failure: r0 NULL, r1 -1.
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
