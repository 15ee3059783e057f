#include "bn256/jacobian.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <vector>

#include "bn256/constants.h"
#include "bn256/curve.h"
#include "bn256/twist.h"

namespace bn256 {
namespace {

template <typename P>
const P& generator();
template <>
const curvePoint& generator<curvePoint>() {
    return curveGen;
}
template <>
const twistPoint& generator<twistPoint>() {
    return twistGen;
}

template <typename P>
P affine(P a) {
    jacobian::makeAffine(a);
    return a;
}

template <typename P>
bool samePoint(const P& a, const P& b) {
    const P ca = affine(a), cb = affine(b);
    return ca.x == cb.x && ca.y == cb.y && ca.z == cb.z;
}

template <typename P>
P negated(const P& a) {
    P c = a;
    jacobian::neg(c.y, a.y);
    return c;
}

template <typename P>
class JacobianFormulas : public ::testing::Test {};

using PointTypes = ::testing::Types<curvePoint, twistPoint>;
TYPED_TEST_SUITE(JacobianFormulas, PointTypes);

// The mixed addition gives the point of the general one for every kind of first
// operand, the cases it handles apart included (infinity, b itself, −b), and with
// the result aliasing either operand.
TYPED_TEST(JacobianFormulas, MixedAdditionMatchesGeneralAddition) {
    using P = TypeParam;
    gmp_randclass rng(gmp_randinit_default);
    rng.seed(17);
    P jac;  // 7·generator in Jacobian form
    jacobian::dbl(jac, generator<P>());
    jacobian::add(jac, jac, generator<P>());
    jacobian::dbl(jac, jac);
    jacobian::add(jac, jac, generator<P>());
    P random;
    random.Mul(generator<P>(), rng.get_z_range(Order));
    const P b = affine(jac);
    const P bJacobian = jac;

    const struct {
        const char* name;
        P a;
    } cases[] = {
        {"infinity", P{}},
        {"the same point, affine", b},
        {"the same point, Jacobian", bJacobian},
        {"its negation", negated(bJacobian)},
        {"generator", generator<P>()},
        {"random multiple", random},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        P general, mixed, aliasA = c.a, aliasB = b;
        jacobian::add(general, c.a, b);
        jacobian::addAffine(mixed, c.a, b);
        jacobian::addAffine(aliasA, aliasA, b);
        jacobian::addAffine(aliasB, c.a, aliasB);
        EXPECT_TRUE(samePoint(mixed, general));
        EXPECT_TRUE(samePoint(aliasA, general));
        EXPECT_TRUE(samePoint(aliasB, general));
        EXPECT_EQ(mixed.z.IsZero(), general.z.IsZero());
    }
}

}  // namespace
}  // namespace bn256
