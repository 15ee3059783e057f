#include "bn256/constants.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bn256/cpu.h"
#include "bn256/curve.h"
#include "bn256/field_testing.h"
#include "bn256/lattice.h"
#include "bn256/twist.h"

namespace bn256 {
namespace {

using bn256_testing::Mont;
using bn256_testing::MontP2;
using bn256_testing::Stored;

TEST(ConstantsTest, PrimeAndOrderAreTheBnPolynomials) {
    EXPECT_EQ(u, mpz_class("4965661367192848881"));
    EXPECT_EQ(u, mpz_class(static_cast<unsigned long>(kU)));
    const mpz_class u2 = u * u, u3 = u2 * u, u4 = u3 * u;
    EXPECT_EQ(P, 36 * u4 + 36 * u3 + 24 * u2 + 6 * u + 1);
    EXPECT_EQ(Order, 36 * u4 + 36 * u3 + 18 * u2 + 6 * u + 1);
    EXPECT_EQ(mpz_sizeinbase(P.get_mpz_t(), 2), 254u);
    EXPECT_EQ(mpz_sizeinbase(Order.get_mpz_t(), 2), 254u);
    EXPECT_EQ(P, Stored(gfP{{p2[0], p2[1], p2[2], p2[3]}}));
    EXPECT_EQ(half, (Order - 1) / 2);
}

TEST(ConstantsTest, CurveConstantsAndGenerator) {
    EXPECT_EQ(curveB, newGFp(3));
    EXPECT_EQ(curveGen.x, newGFp(1));
    EXPECT_EQ(curveGen.y, newGFp(2));
    EXPECT_EQ(curveGen.z, newGFp(1));
    EXPECT_EQ(curveGen.t, newGFp(1));
    // y² = x³ + 3: 4 = 1 + 3.
    gfP y2, x3;
    gfpMul(y2, curveGen.y, curveGen.y);
    gfpMul(x3, curveGen.x, curveGen.x);
    gfpMul(x3, x3, curveGen.x);
    gfpAdd(x3, x3, curveB);
    EXPECT_EQ(y2, x3);
}

TEST(ConstantsTest, TwistConstantAndGenerator) {
    // twistB·xi = 3.
    gfP2 e;
    e.MulXi(twistB);
    EXPECT_TRUE(e.x.IsZero());
    EXPECT_EQ(e.y, newGFp(3));
    EXPECT_EQ(twistB, MontP2({mpz_class("266929791119991161246907387137283842545076965332900288569378510910307636690"),
                              mpz_class("19485874751759354771024239261021720505790618469301721065564631296452457478373")}));

    EXPECT_EQ(twistGen.x.x, Mont(mpz_class("11559732032986387107991004021392285783925812861821192530917403151452391805634")));
    EXPECT_EQ(twistGen.x.y, Mont(mpz_class("10857046999023057135944570762232829481370756359578518086990519993285655852781")));
    EXPECT_EQ(twistGen.y.x, Mont(mpz_class("4082367875863433681332203403145435568316851327593401208105741076214120093531")));
    EXPECT_EQ(twistGen.y.y, Mont(mpz_class("8495653923123431417604973247489272438418190587263600148770280649306958101930")));
    EXPECT_TRUE(twistGen.z.IsOne());
    EXPECT_TRUE(twistGen.t.IsOne());

    // y² = x³ + twistB.
    gfP2 y2, x3;
    y2.Square(twistGen.y);
    x3.Square(twistGen.x);
    x3.Mul(x3, twistGen.x);
    x3.Add(x3, twistB);
    EXPECT_EQ(y2, x3);
}

TEST(ConstantsTest, CurveLatticeEntries) {
    ASSERT_EQ(curveLattice.vectors.size(), 2u);
    ASSERT_EQ(curveLattice.vectors[0].size(), 2u);
    ASSERT_EQ(curveLattice.vectors[1].size(), 2u);
    ASSERT_EQ(curveLattice.inverse.size(), 2u);
    EXPECT_EQ(curveLattice.vectors[0][0], mpz_class("147946756881789319000765030803803410728"));
    EXPECT_EQ(curveLattice.vectors[0][1], mpz_class("147946756881789319010696353538189108491"));
    EXPECT_EQ(curveLattice.vectors[1][0], mpz_class("147946756881789319020627676272574806254"));
    EXPECT_EQ(curveLattice.vectors[1][1], mpz_class("-147946756881789318990833708069417712965"));
    EXPECT_EQ(curveLattice.inverse[0], mpz_class("147946756881789318990833708069417712965"));
    EXPECT_EQ(curveLattice.inverse[1], mpz_class("147946756881789319010696353538189108491"));
    EXPECT_EQ(curveLattice.det, 2 * Order);
}

// The constants made before the flag is set come out the same on both paths.
TEST(ConstantsTest, StartupConstantsAreTheSameOnBothPaths) {
    if (!cpuHasBMI2()) GTEST_SKIP() << "no BMI2 on this processor";
    const bool saved = hasBMI2;
    for (bool flag : {false, true}) {
        hasBMI2 = flag;
        EXPECT_EQ(newGFp(3), curveB);
        EXPECT_EQ(newGFp(1), curveGen.x);
        EXPECT_EQ(newGFp(2), curveGen.y);
    }
    hasBMI2 = saved;
}

TEST(ConstantsTest, HasBMI2IsTheProcessorsBit) {
    EXPECT_EQ(hasBMI2, cpuHasBMI2());
    // The compiler's own detection reads the same CPUID bit.
    __builtin_cpu_init();
    EXPECT_EQ(cpuHasBMI2(), __builtin_cpu_supports("bmi2") != 0);
}

TEST(ConstantsTest, BigFromBase10) {
    struct Case {
        const char* text;
        std::optional<mpz_class> expected;
    };
    const Case cases[] = {
        {"-147946756881789318990833708069417712965",
         mpz_class("-147946756881789318990833708069417712965")},
        {"4965661367192848881", mpz_class("4965661367192848881")},
        {"+17", mpz_class(17)},
        {"0", mpz_class(0)},
        {"-0", mpz_class(0)},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"12a", std::nullopt},
        {"--1", std::nullopt},
        {"1_000", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(bigFromBase10(c.text), c.expected);
    }
}

}  // namespace
}  // namespace bn256
