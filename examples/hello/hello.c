/* The first contact: set up an organisation, derive the key of A/B, encrypt a
   message for A/B and decrypt it. Run it in an empty directory. */
#include <hibe/hibe.h>
#include <hibe/hibe_list.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static StringRef s(const char* t) { StringRef r = {t, (int64_t)strlen(t)}; return r; }

int main(void) {
    if (HibeSetup(2, s("org"), s("keys")) != 0 ||
        KeyGenFromMaster(s("A/B"), s("keys"), s("keys/org/org.masterKey"), s("keys/org/org.params")) != 0)
        return 1;
    ReadKey_return params = ReadKey(s("keys/org/org.params"));
    ReadKey_return key = ReadKey(s("keys/privateKeys/A#B.privateKey"));
    const char* ids[] = {"A/B"};
    int paramsLen = (int)params.r1;
    HibeList idList = HibeListOfStrings(1, ids, NULL);
    HibeList paramsList = HibeListOfBytes(1, (const void* const*)&params.r0, &paramsLen);
    EncryptHibeMsg_return map = EncryptHibeMsg("hello, A/B", 10, idList.p, idList.n, paramsList.p, paramsList.n, 0);
    DecryptHibeMsg_return plain = DecryptHibeMsg("A/B", 3, params.r0, paramsLen, key.r0, (int)key.r1, map.r0, (int)map.r1, 0);
    int failed = plain.r0 == NULL;
    if (!failed) printf("%.*s\n", (int)plain.r1, (char*)plain.r0);
    free(plain.r0), free(map.r0), free(key.r0), free(params.r0);
    HibeListFree(&idList), HibeListFree(&paramsList);
    return failed;
}
