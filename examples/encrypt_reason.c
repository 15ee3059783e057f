/* Why EncryptHibeMsg failed, in a single-threaded host: the library writes the
   reason to file descriptor 1 (one write, no line break), so for the call
   descriptor 1 is a temporary file, read back afterwards. A temporary file and
   not a pipe: the text names the identity it refuses, which may be larger than
   a pipe holds, and a host that is its pipe's only reader would wait for ever. */
#define _POSIX_C_SOURCE 200809L /* dup, dup2, fileno */
#include <hibe/hibe.h>
#include <hibe/hibe_list.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* EncryptHibeMsg, with the library's text of a failure in reason (at most
   size - 1 bytes and a NUL; empty on success, or when it could not be caught). */
static EncryptHibeMsg_return encrypt_with_reason(char* plaintext, int plaintextLen, HibeList ids,
                                                 HibeList params, char* reason, size_t size) {
    reason[0] = '\0';
    fflush(stdout); /* what the host printed before goes out first */
    FILE* text = tmpfile();
    int saved = dup(STDOUT_FILENO);
    int caught = text != NULL && saved >= 0 && dup2(fileno(text), STDOUT_FILENO) >= 0;
    EncryptHibeMsg_return map = EncryptHibeMsg(plaintext, plaintextLen, ids.p, ids.n, params.p,
                                               params.n, 0);
    if (caught) {
        dup2(saved, STDOUT_FILENO);
        rewind(text);
        reason[fread(reason, 1, size - 1, text)] = '\0';
    }
    if (saved >= 0) close(saved);
    if (text != NULL) fclose(text);
    return map;
}

int main(void) {
    /* "A B" holds a space: no message can be encrypted to it. A list of no params
       is refused only after the receivers are checked, so none are needed here. */
    const char* ids[] = {"A/B", "A B"};
    HibeList idList = HibeListOfStrings(2, ids, NULL);
    HibeList paramsList = HibeListOfBytes(0, NULL, NULL);
    char reason[4096];
    EncryptHibeMsg_return map = encrypt_with_reason("hello", 5, idList, paramsList, reason,
                                                    sizeof reason);
    if (map.r0 == NULL || (map.r1 == 4 && memcmp(map.r0, "null", 4) == 0)) {
        printf("EncryptHibeMsg failed: %s\n", reason);
    } else {
        printf("a message map of %lld bytes\n", (long long)map.r1);
    }
    free(map.r0);
    HibeListFree(&idList), HibeListFree(&paramsList);
    return 0;
}
