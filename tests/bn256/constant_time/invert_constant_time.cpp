// Shows that gfP::Invert is constant time in its input. The input is marked
// undefined for valgrind's memcheck, which then reports every conditional branch
// and every memory address that depends on it; a run without reports (valgrind
// --error-exitcode=1) shows that neither depends on the value inverted. The result
// is marked defined again before it is checked. Without valgrind the marks do
// nothing and the program only checks the inverses.
#include <valgrind/memcheck.h>

#include <cstdio>

#include "bn256/cpu.h"
#include "bn256/gfp.h"
#include "hibe_c/startup.h"

int main() {
    hibe_c::RunStartup();
    const bn256::gfP one = bn256::newGFp(1);
    int failures = 0;
    for (bool bmi2 : {false, true}) {
        if (bmi2 && !bn256::cpuHasBMI2()) continue;
        bn256::hasBMI2 = bmi2;
        for (std::int64_t v : {0, 1, -1, 2, 1234567, -987654321}) {
            bn256::gfP f = bn256::newGFp(v), inverse, product;
            VALGRIND_MAKE_MEM_UNDEFINED(&f, sizeof f);
            inverse.Invert(f);
            VALGRIND_MAKE_MEM_DEFINED(&f, sizeof f);
            VALGRIND_MAKE_MEM_DEFINED(&inverse, sizeof inverse);
            bn256::gfpMul(product, f, inverse);
            if (v == 0 ? !inverse.IsZero() : product != one) {
                std::fprintf(stderr, "wrong inverse of %lld\n", static_cast<long long>(v));
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
