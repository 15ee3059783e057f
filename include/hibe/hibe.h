/*
 * Hierarchical identity-based encryption on the BN256 pairing curve.
 *
 * The whole interface of libhibe.so: five functions with C linkage. Every call
 * first waits until the library's start-up (begun when the object was loaded)
 * has finished, then runs to completion on the calling thread. Any number of
 * threads may call at once.
 *
 * Arguments: a StringRef is read in place during the call and never written;
 * a byte array (pointer and int count) is copied on entry. A count or length of
 * 0 means the empty value, and its pointer is then not read (it may be NULL).
 * A negative count or length fails the call with its failure result.
 *
 * Results: a *_return record holds r0, a buffer from malloc that belongs to the
 * caller (release it with free), and r1, its length in bytes. r0 is NULL exactly
 * when r1 is -1; a result of 0 bytes still has a non-NULL r0 to free.
 */
#ifndef HIBE_HIBE_H
#define HIBE_HIBE_H

#include <stdint.h>

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
 * exists already, depth is negative or above 33554425, whose params would
 * exceed an int count).
 */
int64_t HibeSetup(int64_t depth, StringRef orgId, StringRef keyOutPath);

/*
 * Derives the private key of the identity id ("A/B/C") from the master key file
 * and params file named by the last two arguments, and writes it to
 * keyOutPath/privateKeys/A#B#C.privateKey (mode 0600).
 * Returns 0 on success, 1 on any failure (among others: the key file exists
 * already, the identity is deeper than the params allow, the master key does
 * not belong to the params).
 */
int64_t KeyGenFromMaster(StringRef id, StringRef keyOutPath,
                         StringRef masterKeyFilePath, StringRef paramsFilePath);

/*
 * Reads the whole file keyfile (the path bytes as given, relative to the working
 * directory) and returns its bytes. Failure (missing file, directory, empty path,
 * a zero byte in the path, unreadable file): r0 NULL, r1 -1.
 */
ReadKey_return ReadKey(StringRef keyfile);

/*
 * Encrypts plaintext for the receivers of the receiverIds list blob, each with the
 * params encoding at the same index of the params list blob, and returns the JSON
 * text of the message map. keyType is not read: the message is always encrypted
 * with AES. Failure (among others: a receiver id that is not valid UTF-8, params
 * holding an identity element, a map that would exceed 2147483647 bytes): the
 * error's text is written to standard output (no line break) and r0 holds the
 * four bytes "null" (r1 = 4).
 */
EncryptHibeMsg_return EncryptHibeMsg(char* plaintext, int plaintextLen,
                                     char* receiverIds, int receiverIdsLen,
                                     char* params, int paramsLen,
                                     int64_t keyType);

/*
 * Decrypts the JSON message map hibeMsgMap as the identity localId, with one raw
 * params encoding and one raw private key encoding (the bytes of the key files),
 * and returns the plaintext. keyType is not read. Failure: r0 NULL, r1 -1.
 */
DecryptHibeMsg_return DecryptHibeMsg(char* localId, int localIdLen,
                                     char* params, int paramsLen,
                                     char* prvKey, int prvKeyLen,
                                     char* hibeMsgMap, int hibeMsgMapLen,
                                     int64_t keyType);

#ifdef __cplusplus
}
#endif

#endif /* HIBE_HIBE_H */
