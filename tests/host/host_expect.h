/*
 * The check of the C host tests that run cases one after another: a failed
 * check is counted and reported with the case it failed in, and the test goes
 * on with the next check.
 */
#ifndef HIBE_TESTS_HOST_EXPECT_H
#define HIBE_TESTS_HOST_EXPECT_H

#include <stdio.h>

static int failures = 0;

#define EXPECT(cond, where)                                                                \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            ++failures;                                                                    \
            fprintf(stderr, "%s:%d: %s failed in %s\n", __FILE__, __LINE__, #cond, where); \
        }                                                                                  \
    } while (0)

#endif
