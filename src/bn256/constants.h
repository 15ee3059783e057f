// The module-level constants of the pairing library and its start-up.
//
// The curve is E: y² = x³ + 3 over GF(p), its sextic twist E': y² = x³ + 3/xi
// over GF(p²), with p and the group order the Barreto–Naehrig polynomials in u.
// Every value here is complete after init() (the big integers do not exist
// before it; the G1 generator is all zero and the G2 generator has z = t = 0) and
// never changes afterwards, so any number of threads may read them without locks.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "bn256/gfp.h"
#include "bn256/gfp2.h"

namespace bn256 {

// The curve parameter u = 4965661367192848881 (63 bits).
extern mpz_class& u;

// u as a machine word, for the fixed digit forms of the powers and multiples by u.
inline constexpr std::uint64_t kU = 4965661367192848881;

// The order of G1, G2 and GT: 36u⁴ + 36u³ + 18u² + 6u + 1 =
//   21888242871839275222246405745257275088548364400416034343698204186575808495617
extern mpz_class& Order;

// The field prime as a big integer: 36u⁴ + 36u³ + 24u² + 6u + 1 =
//   21888242871839275222246405745257275088696311157297823662689037894645226208583
extern mpz_class& P;

// Order >> 1, the rounding threshold of the scalar decomposition.
extern mpz_class& half;

// 3 in Montgomery form, the constant of E.
extern gfP curveB;

// 3/xi, the constant of the twist E' (static data in Montgomery form). Plain value:
//   266929791119991161246907387137283842545076965332900288569378510910307636690·i
//   + 19485874751759354771024239261021720505790618469301721065564631296452457478373
extern const gfP2 twistB;

// Parses the whole of s as a base-10 integer: an optional leading '+' or '-',
// then one or more decimal digits, nothing else. Absent for any other text.
std::optional<mpz_class> bigFromBase10(std::string_view s);

// Builds the module-level constants, once, after detectCpuFeatures (it copies the
// detected BMI2 flag into hasBMI2); the third step of the library's start-up,
// which never runs it on two threads at once. A call after one that finished
// does nothing; a call after one that a fork cut off builds them all again.
// Besides the values above it builds the generators curveGen (curve.h) and
// twistGen (twist.h) and the lattice curveLattice (lattice.h), which are
// declared beside their types so that this header needs none of them.
void init();

}  // namespace bn256
