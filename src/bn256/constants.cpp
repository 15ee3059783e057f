#include "bn256/constants.h"

#include <atomic>

#include "bn256/cpu.h"
#include "bn256/curve.h"
#include "bn256/lattice.h"
#include "bn256/twist.h"
#include "common/load_time.h"

namespace bn256 {
namespace {

constinit common::LoadTimeSlot<mpz_class> uStorage;
constinit common::LoadTimeSlot<mpz_class> orderStorage;
constinit common::LoadTimeSlot<mpz_class> pStorage;
constinit common::LoadTimeSlot<mpz_class> halfStorage;
constinit common::LoadTimeSlot<lattice> latticeStorage;

mpz_class parse(std::string_view text) { return *bigFromBase10(text); }

}  // namespace

constinit mpz_class& u = uStorage.value;
constinit mpz_class& Order = orderStorage.value;
constinit mpz_class& P = pStorage.value;
constinit mpz_class& half = halfStorage.value;
constinit lattice& curveLattice = latticeStorage.value;

constinit gfP curveB{};
constinit curvePoint curveGen{};

// 3/xi in Montgomery form; plain value in the header.
constinit const gfP2 twistB = {
    {{0x38e7ecccd1dcff67, 0x65f0b37d93ce0d3e, 0xd749d0dd22ac00aa, 0x0141b9ce4a688d4d}},
    {{0x3bf938e377b802a8, 0x020b1b273633535d, 0x26b7edf049755260, 0x2514c6324384a86d}},
};

// x and y in Montgomery form, z = t = 0 until init. Plain values:
//   x = 11559732032986387107991004021392285783925812861821192530917403151452391805634·i
//     + 10857046999023057135944570762232829481370756359578518086990519993285655852781
//   y = 4082367875863433681332203403145435568316851327593401208105741076214120093531·i
//     + 8495653923123431417604973247489272438418190587263600148770280649306958101930
constinit twistPoint twistGen = {
    {
        {{0xafb4737da84c6140, 0x6043dd5a5802d8c4, 0x09e950fc52a02f86, 0x14fef0833aea7b6b}},
        {{0x8e83b5d102bc2026, 0xdceb1935497b0172, 0xfbb8264797811adf, 0x19573841af96503b}},
    },
    {
        {{0x64095b56c71856ee, 0xdc57f922327d3cbb, 0x55f935be33351076, 0x0da4a0e693fd6482}},
        {{0x619dfa9d886be9f6, 0xfe7fd297f59e9b78, 0xff9e1a62231b7dfe, 0x28fd7eebae9e4206}},
    },
    {},
    {},
};

std::optional<mpz_class> bigFromBase10(std::string_view s) {
    std::string_view digits = s;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    mpz_class value;
    // mpz_set_str takes no '+' and skips blanks, so it gets only the checked digits.
    mpz_set_str(value.get_mpz_t(), std::string(digits).c_str(), 10);
    if (s.front() == '-') {
        value = -value;
    }
    return value;
}

namespace {

// Set when build has finished. Not a std::call_once: a fork that runs no fork
// handler may cut build off, and the child runs it again from its start, which
// a once-guard left "in progress" would make it wait for for ever. build only
// constructs into the constants' storage, never destroying what a cut-off run
// left there.
constinit std::atomic<bool> built{false};

void build() {
    // A run again after a cut starts on the MUL path, as the first did.
    hasBMI2 = false;

    // The big integers first: u, Order and P, parsed from their decimal texts.
    uStorage.Emplace(parse("4965661367192848881"));
    orderStorage.Emplace(parse(
        "21888242871839275222246405745257275088548364400416034343698204186575808495617"));
    pStorage.Emplace(parse(
        "21888242871839275222246405745257275088696311157297823662689037894645226208583"));

    // The constant of E and the G1 generator, made while hasBMI2 is still false (the
    // MUL path), so they come out the same on every processor.
    curveB = newGFp(3);
    curveGen.x = newGFp(1);
    curveGen.y = newGFp(2);
    curveGen.z = newGFp(1);
    curveGen.t = newGFp(1);

    // Copy the detected BMI2 bit: from here on gfpMul takes the MULX path where the
    // processor has BMI2.
    hasBMI2 = cpuHasBMI2();

    // The rounding threshold of the scalar decomposition, Order >> 1 (needs Order).
    halfStorage.Emplace(Order >> 1);

    // The G1 scalar-decomposition lattice: basis vector 0, basis vector 1, the inverse
    // entries, det.
    lattice* l = &latticeStorage.Emplace();
    mpz_class v00 = parse("147946756881789319000765030803803410728");
    mpz_class v01 = parse("147946756881789319010696353538189108491");
    mpz_class v10 = parse("147946756881789319020627676272574806254");
    mpz_class v11 = parse("-147946756881789318990833708069417712965");
    mpz_class i0 = parse("147946756881789318990833708069417712965");
    mpz_class i1 = parse("147946756881789319010696353538189108491");
    l->vectors = {{v00, v01}, {v10, v11}};
    l->inverse = {i0, i1};
    l->det = parse("43776485743678550444492811490514550177096728800832068687396408373151616991234");

    // Complete the G2 generator (x and y are static data): z and t = the GF(p^2) one.
    twistGen.z.x = newGFp(0);
    twistGen.z.y = newGFp(1);
    twistGen.t.x = newGFp(0);
    twistGen.t.y = newGFp(1);

    // The fixed tables of the scalar splits, from curveLattice and u.
    buildScalarSplits();
}

}  // namespace

void init() {
    if (built.load(std::memory_order_acquire)) return;
    build();
    built.store(true, std::memory_order_release);
}

}  // namespace bn256
