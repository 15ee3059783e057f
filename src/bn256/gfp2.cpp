#include "bn256/gfp2.h"

namespace bn256 {

namespace {

// ax² + ay². On the MULX path the two squares are added at 512 bits (below
// 2p² < p·R) and reduced once.
gfP norm(const gfP2& a) {
    gfP n;
#ifdef BN256_HAVE_WIDE
    if (hasBMI2) [[likely]] {
        gfPWide w, t;
        gfpMulWideBMI2(w, a.x, a.x);
        gfpMulWideBMI2(t, a.y, a.y);
        gfpWideAdd(w, w, t);
        gfpReduceWideBMI2(n, w);
        return n;
    }
#endif
    gfP t;
    gfpMul(n, a.x, a.x);
    gfpMul(t, a.y, a.y);
    gfpAdd(n, n, t);
    return n;
}

}  // namespace

// 1/(ax·i + ay) = (−ax·i + ay) / (ax² + ay²): (ax·i + ay)(−ax·i + ay) = ax² + ay²,
// which is non-zero for a ≠ 0 since −1 is not a square mod p. For a = 0 the norm
// is 0, its inverse 0, and so is the result.
gfP2& gfP2::Invert(const gfP2& a) {
    gfP t1, inv;
    inv.Invert(norm(a));
    gfpNeg(t1, a.x);
    // Writing x leaves a.y intact even when this is a.
    gfpMul(x, t1, inv);
    gfpMul(y, a.y, inv);
    return *this;
}

std::string gfP2::String() const {
    std::string text;
    text.reserve(132);
    text.append("(").append(x.String()).append(", ").append(y.String()).append(")");
    return text;
}

gfP2 gfP2Decode(const gfP2& in) {
    gfP2 out;
    montDecode(out.x, in.x);
    montDecode(out.y, in.y);
    return out;
}

}  // namespace bn256
