/*
 * Builds the key-value list blobs that EncryptHibeMsg takes (the receiver id list
 * and the params list): a header, the item count, a USER item "size" (INT32)
 * and the USER items "0", "1", ... (STRING or BYTES). Every integer is 4 bytes,
 * little-endian.
 */
#ifndef HIBE_EXAMPLES_KV_LIST_H
#define HIBE_EXAMPLES_KV_LIST_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    unsigned char* p;
    size_t n;
} KvBlob;

enum { KV_KEY_USER = 1, KV_VALUE_INT32 = 0, KV_VALUE_STRING = 1, KV_VALUE_BYTES = 2 };

static void kvPut(KvBlob* b, const void* data, size_t n) {
    unsigned char* grown = (unsigned char*)realloc(b->p, b->n + n + 1);
    if (grown == NULL) abort();
    b->p = grown;
    if (n > 0) memcpy(b->p + b->n, data, n);
    b->n += n;
}

static void kvPutU32(KvBlob* b, uint32_t v) {
    unsigned char le[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                           (unsigned char)(v >> 24)};
    kvPut(b, le, 4);
}

static void kvPutItem(KvBlob* b, const char* key, uint32_t valueType, const void* value,
                      size_t n) {
    kvPutU32(b, KV_KEY_USER);
    kvPutU32(b, (uint32_t)strlen(key));
    kvPut(b, key, strlen(key));
    kvPutU32(b, valueType);
    kvPutU32(b, (uint32_t)n);
    kvPut(b, value, n);
}

/* A list of count values of valueType (KV_VALUE_STRING or KV_VALUE_BYTES). The
   caller frees blob.p. */
static KvBlob kvList(int count, uint32_t valueType, const void* const* values,
                     const size_t* lens) {
    KvBlob b = {NULL, 0};
    kvPut(&b, "vtkv", 4);
    kvPut(&b, "v1.0", 4);
    kvPut(&b, "\xff\xff\xff\xff\xff\xff\xff\xff", 8);
    kvPutU32(&b, (uint32_t)count + 1);
    unsigned char size[4] = {(unsigned char)count, (unsigned char)(count >> 8),
                             (unsigned char)(count >> 16), (unsigned char)(count >> 24)};
    kvPutItem(&b, "size", KV_VALUE_INT32, size, 4);
    for (int i = 0; i < count; ++i) {
        char key[16];
        snprintf(key, sizeof key, "%d", i);
        kvPutItem(&b, key, valueType, values[i], lens[i]);
    }
    return b;
}

#endif
