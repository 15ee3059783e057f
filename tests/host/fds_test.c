/*
 * A host whose standard streams are closed from before it loads the library,
 * as a daemon's are: it closes descriptors 0, 1 and 2, loads libhibe.so and
 * makes all five calls (a setup, a key, and a message encrypted and decrypted
 * with the key files read back). fds_trace.py runs it under strace and checks
 * that nothing the library opens, its start-up included, lands on 0, 1 or 2.
 *
 * The host opens nothing itself once it has closed them, and it closes them
 * with the one close_range(0, 2, 0) of the trace: the check begins there. With
 * no standard error, it tells what failed by its exit status alone.
 *
 *   fds_test path/to/libhibe.so scratch-directory
 */
#define _GNU_SOURCE /* close_range */
#include "host_lib.h"

enum { kUsage = 2, kClose = 3, kSetup = 4, kRound = 5 };

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return kUsage;
    }
    if (close_range(0, 2, 0) != 0) return kClose;
    loadHibe(argv[1]);
    if (hibe.setup(2, ref("org"), ref(argv[2])) != 0) return kSetup;
    return orgIsConsistent(argv[2], "org", "A/B") ? 0 : kRound;
}
