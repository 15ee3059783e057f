/*
 * Builds the two list blobs that EncryptHibeMsg takes (layout in hibe/hibe.h)
 * from C arrays, so that a C host needs no code of its own for them. Header
 * only: every function is static inline, and nothing is exported.
 *
 *   const char* ids[] = {"A/B/C", "X"};
 *   const void* params[] = {paramsOfA, paramsOfX};
 *   int paramsLens[] = {paramsOfALen, paramsOfXLen};
 *   HibeList idList = HibeListOfStrings(2, ids, NULL);
 *   HibeList paramsList = HibeListOfBytes(2, params, paramsLens);
 *   ... EncryptHibeMsg(m, mLen, idList.p, idList.n, paramsList.p, paramsList.n, 0) ...
 *   HibeListFree(&idList);
 *   HibeListFree(&paramsList);
 *
 * Each list is written with the header, its user item "size" and the user items
 * "0", "1", ... in order. A list that could not be built (p NULL, n 0) may be
 * passed on: EncryptHibeMsg reads it as a list of no values and fails with
 * "invalid parameters, receiverIds is nil" (or "... paramsList is nil").
 */
#ifndef HIBE_HIBE_LIST_H
#define HIBE_HIBE_LIST_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A list blob: n bytes at p, from malloc; release it with HibeListFree. p is
   NULL (and n 0) when the list could not be built. */
typedef struct {
    char* p;
    int n;
} HibeList;

/* The most values one list carries: 128 items, one of them "size". */
#define HIBE_LIST_MAX_VALUES 127
/* The longest value in bytes. */
#define HIBE_LIST_MAX_VALUE_LEN 1048576

enum { HIBE_LIST_INT32 = 0, HIBE_LIST_STRING = 1, HIBE_LIST_BYTES = 2 };

/* Writes v as 4 little-endian bytes at p; returns the byte after them. */
static inline char* HibeListPutU32(char* p, uint32_t v) {
    p[0] = (char)(v & 0xFF);
    p[1] = (char)((v >> 8) & 0xFF);
    p[2] = (char)((v >> 16) & 0xFF);
    p[3] = (char)((v >> 24) & 0xFF);
    return p + 4;
}

/* Writes one user item at p; returns the byte after it. */
static inline char* HibeListPutItem(char* p, const char* key, uint32_t valueType,
                                    const void* value, uint32_t n) {
    size_t keyLen = strlen(key);
    p = HibeListPutU32(p, 1);
    p = HibeListPutU32(p, (uint32_t)keyLen);
    memcpy(p, key, keyLen);
    p = HibeListPutU32(p + keyLen, valueType);
    p = HibeListPutU32(p, n);
    if (n > 0) memcpy(p, value, n);
    return p + n;
}

/* The length of value i: lens[i], or strlen when lens is NULL; -1 when it
   cannot be a value's length. */
static inline int64_t HibeListValueLen(const void* const* values, const int* lens, int i) {
    int64_t len = lens != NULL ? lens[i] : (values[i] != NULL ? (int64_t)strlen((const char*)values[i]) : 0);
    if (len < 0 || len > HIBE_LIST_MAX_VALUE_LEN || (values[i] == NULL && len > 0)) return -1;
    return len;
}

/* The list of count values of valueType (HIBE_LIST_STRING or HIBE_LIST_BYTES);
   lens NULL takes each value's length with strlen, and a NULL value as empty.
   count 0 gives a list of no values (values may then be NULL). Fails (p NULL)
   when count is negative or above HIBE_LIST_MAX_VALUES, values is NULL with a
   count above 0, a value is NULL with a length above 0, a length is negative or
   above HIBE_LIST_MAX_VALUE_LEN, the blob would exceed INT_MAX bytes, or there
   is no memory. The values are copied: they may go once the list is built. */
static inline HibeList HibeListOf(int count, uint32_t valueType, const void* const* values,
                                  const int* lens) {
    HibeList list = {NULL, 0};
    if (count < 0 || count > HIBE_LIST_MAX_VALUES || (count > 0 && values == NULL)) return list;

    /* header 16, count 4; "size": 4 + 4 + 4 + 4 + 4 + 4; each item 16 + key + value */
    uint64_t total = 16 + 4 + 24 + 4;
    for (int i = 0; i < count; ++i) {
        int64_t len = HibeListValueLen(values, lens, i);
        if (len < 0) return list;
        total += 16 + 3 + (uint64_t)len; /* keys "0".."126" take at most 3 bytes */
    }
    if (total > 0x7FFFFFFF) return list;
    char* blob = (char*)malloc((size_t)total);
    if (blob == NULL) return list;

    char* p = blob;
    memcpy(p, "vtkv" "v1.0" "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16);
    p = HibeListPutU32(p + 16, (uint32_t)count + 1);
    char size[4];
    HibeListPutU32(size, (uint32_t)count);
    p = HibeListPutItem(p, "size", HIBE_LIST_INT32, size, 4);
    for (int i = 0; i < count; ++i) {
        char key[4];
        snprintf(key, sizeof key, "%d", i);
        p = HibeListPutItem(p, key, valueType, values[i], (uint32_t)HibeListValueLen(values, lens, i));
    }
    list.p = blob;
    list.n = (int)(p - blob);
    return list;
}

/* The receiver id list: count identity strings ("A/B/C"), each of lens[i] bytes
   (any bytes), or NUL-terminated when lens is NULL. Fails as HibeListOf. */
static inline HibeList HibeListOfStrings(int count, const char* const* ids, const int* lens) {
    return HibeListOf(count, HIBE_LIST_STRING, (const void* const*)ids, lens);
}

/* The params list: count params encodings (the bytes of params files), each of
   lens[i] bytes. An encoding holds bytes of value 0, which strlen cannot
   measure: lens NULL fails when count is above 0. Fails as HibeListOf too. */
static inline HibeList HibeListOfBytes(int count, const void* const* params, const int* lens) {
    if (lens == NULL && count > 0) {
        HibeList none = {NULL, 0};
        return none;
    }
    return HibeListOf(count, HIBE_LIST_BYTES, params, lens);
}

/* Releases the blob and empties the list (p NULL, n 0), so that a second call
   does nothing; a list that failed may be freed too. */
static inline void HibeListFree(HibeList* list) {
    free(list->p);
    list->p = NULL;
    list->n = 0;
}

#ifdef __cplusplus
}
#endif

#endif /* HIBE_HIBE_LIST_H */
