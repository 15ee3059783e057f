// Differential test of the prime-field arithmetic: both Montgomery
// multiplication paths, addition, subtraction, negation and inversion agree with
// a big-integer reference for every pair of elements below p. The input is two
// 32-byte little-endian limb arrays; values not below p are skipped.
#include <gmpxx.h>

#include <cstring>

#include "bn256/cpu.h"
#include "bn256/gfp.h"
#include "fuzz_util.h"
#include "hibe_c/startup.h"

namespace {

mpz_class toMpz(const bn256::gfP& e) {
    mpz_class v;
    mpz_import(v.get_mpz_t(), 4, -1, sizeof(std::uint64_t), 0, 0, e.limbs);
    return v;
}

bool equals(const bn256::gfP& e, const mpz_class& v) { return toMpz(e) == v; }

const mpz_class& modulus() {
    static const mpz_class p = [] {
        bn256::gfP e;
        std::memcpy(e.limbs, bn256::p2, sizeof e.limbs);
        return toMpz(e);
    }();
    return p;
}

mpz_class mod(const mpz_class& v) {
    mpz_class r = v % modulus();
    if (r < 0) r += modulus();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 64) return 0;
    bn256::gfP a, b;
    std::memcpy(a.limbs, data, 32);
    std::memcpy(b.limbs, data + 32, 32);
    const mpz_class& p = modulus();
    const mpz_class x = toMpz(a), y = toMpz(b);
    if (x >= p || y >= p) return 0;

    const mpz_class r = mpz_class(1) << 256;
    mpz_class rInverse;
    mpz_invert(rInverse.get_mpz_t(), r.get_mpz_t(), p.get_mpz_t());
    const mpz_class product = mod(x * y * rInverse);

    bn256::gfP c;
    bn256::gfpMulGeneric(c, a, b);
    fuzz::Check(equals(c, product), "MUL path is the Montgomery product");
    if (bn256::cpuHasBMI2()) {
        bn256::gfpMulBMI2(c, a, b);
        fuzz::Check(equals(c, product), "MULX path is the Montgomery product");
    }
    bn256::gfpMul(c, a, b);
    fuzz::Check(equals(c, product), "gfpMul is the Montgomery product");

    bn256::gfpAdd(c, a, b);
    fuzz::Check(equals(c, mod(x + y)), "gfpAdd");
    bn256::gfpSub(c, a, b);
    fuzz::Check(equals(c, mod(x - y)), "gfpSub");
    bn256::gfpNeg(c, a);
    fuzz::Check(equals(c, mod(-x)), "gfpNeg");

    // a holds x = v·R; its inverse holds v^-1·R = R²·x^-1 (and 0 for 0).
    c.Invert(a);
    mpz_class expected = 0;
    if (x != 0) {
        mpz_invert(expected.get_mpz_t(), x.get_mpz_t(), p.get_mpz_t());
        expected = mod(expected * r * r);
    }
    fuzz::Check(equals(c, expected), "Invert");

    // Aliased result and operand.
    bn256::gfP d = a;
    bn256::gfpMul(d, d, b);
    fuzz::Check(equals(d, product), "gfpMul with the result aliasing an operand");
    return 0;
}
