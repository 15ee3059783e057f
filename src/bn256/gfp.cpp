#include "bn256/gfp.h"

#include <cstdio>

namespace bn256 {

// The MUL path of the Montgomery product (the steps are above gfpMulGeneric in
// gfp.h), a function of the System V ABI: rdi = c, rsi = a, rdx = b (moved to rcx,
// since MUL writes rdx). MUL sets the flags, so every row x·(y_0, y_1, y_2, y_3) is
// first formed in five registers (rbx, rbp, r14, r15 and rdx), each high half added
// to the next low half as the products come, and then added into t in one
// add-with-carry pass. t lives in r8..r12 used as a ring: the register that the
// shift frees takes the top limb of the next row. All intermediates stay in
// registers, and there is no branch.
__asm__(R"(
    .pushsection .rodata.bn256_gfpmul, "a", @progbits
    .p2align 5
.Lbn256_p:
    .quad 0x3c208c16d87cfd47
    .quad 0x97816a916871ca8d
    .quad 0xb85045b68181585d
    .quad 0x30644e72e131a029
.Lbn256_np:  # np_0, the low limb of np = −p^−1 mod 2^256
    .quad 0x87d20782e4866389
    .popsection
    .pushsection .text.bn256_gfpmul, "ax", @progbits
# c = a·b·R^−1 mod p with the classic MUL. rdi = c, rsi = a, rdx = b.
    .p2align 5
    .globl bn256_gfpMulGeneric
    .hidden bn256_gfpMulGeneric
    .type bn256_gfpMulGeneric, @function
bn256_gfpMulGeneric:
    .cfi_startproc
    pushq %rbx
    .cfi_adjust_cfa_offset 8
    .cfi_offset %rbx, -16
    pushq %rbp
    .cfi_adjust_cfa_offset 8
    .cfi_offset %rbp, -24
    pushq %r12
    .cfi_adjust_cfa_offset 8
    .cfi_offset %r12, -32
    pushq %r13
    .cfi_adjust_cfa_offset 8
    .cfi_offset %r13, -40
    pushq %r14
    .cfi_adjust_cfa_offset 8
    .cfi_offset %r14, -48
    pushq %r15
    .cfi_adjust_cfa_offset 8
    .cfi_offset %r15, -56
    movq %rdx, %rcx  # b
    # t += a0·b: the row a0·b (five limbs, the last in rdx) added into t
    movq 0(%rsi), %r13
    movq %r13, %rax
    mulq 0(%rcx)
    movq %rax, %r8
    movq %rdx, %r9
    movq %r13, %rax
    mulq 8(%rcx)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq %r13, %rax
    mulq 16(%rcx)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq %r13, %rax
    mulq 24(%rcx)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    # m = t0·np0 mod 2^64; t += m·p (limb 0 becomes zero); t >>= 64
    movq %r8, %r13
    imulq .Lbn256_np(%rip), %r13
    movq %r13, %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r8
    adcq %rbp, %r9
    adcq %r14, %r10
    adcq %r15, %r11
    adcq %rdx, %r12
    # t += a1·b: the row a1·b (five limbs, the last in rdx) added into t
    movq 8(%rsi), %r13
    movq %r13, %rax
    mulq 0(%rcx)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq 8(%rcx)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq 16(%rcx)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq 24(%rcx)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r9
    adcq %rbp, %r10
    adcq %r14, %r11
    adcq %r15, %r12
    adcq $0, %rdx
    movq %rdx, %r8
    # m = t0·np0 mod 2^64; t += m·p (limb 0 becomes zero); t >>= 64
    movq %r9, %r13
    imulq .Lbn256_np(%rip), %r13
    movq %r13, %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r9
    adcq %rbp, %r10
    adcq %r14, %r11
    adcq %r15, %r12
    adcq %rdx, %r8
    # t += a2·b: the row a2·b (five limbs, the last in rdx) added into t
    movq 16(%rsi), %r13
    movq %r13, %rax
    mulq 0(%rcx)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq 8(%rcx)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq 16(%rcx)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq 24(%rcx)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r10
    adcq %rbp, %r11
    adcq %r14, %r12
    adcq %r15, %r8
    adcq $0, %rdx
    movq %rdx, %r9
    # m = t0·np0 mod 2^64; t += m·p (limb 0 becomes zero); t >>= 64
    movq %r10, %r13
    imulq .Lbn256_np(%rip), %r13
    movq %r13, %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r10
    adcq %rbp, %r11
    adcq %r14, %r12
    adcq %r15, %r8
    adcq %rdx, %r9
    # t += a3·b: the row a3·b (five limbs, the last in rdx) added into t
    movq 24(%rsi), %r13
    movq %r13, %rax
    mulq 0(%rcx)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq 8(%rcx)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq 16(%rcx)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq 24(%rcx)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r11
    adcq %rbp, %r12
    adcq %r14, %r8
    adcq %r15, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    # m = t0·np0 mod 2^64; t += m·p (limb 0 becomes zero); t >>= 64
    movq %r11, %r13
    imulq .Lbn256_np(%rip), %r13
    movq %r13, %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %rbx
    movq %rdx, %rbp
    movq %r13, %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %rbp
    adcq $0, %rdx
    movq %rdx, %r14
    movq %r13, %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r14
    adcq $0, %rdx
    movq %rdx, %r15
    movq %r13, %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r15
    adcq $0, %rdx
    addq %rbx, %r11
    adcq %rbp, %r12
    adcq %r14, %r8
    adcq %r15, %r9
    adcq %rdx, %r10
    # u = t − p; a borrow means t < p and keeps t
    movq %r12, %rbx
    movq %r8, %rbp
    movq %r9, %r14
    movq %r10, %r15
    subq .Lbn256_p(%rip), %rbx
    sbbq .Lbn256_p+8(%rip), %rbp
    sbbq .Lbn256_p+16(%rip), %r14
    sbbq .Lbn256_p+24(%rip), %r15
    cmovcq %r12, %rbx
    cmovcq %r8, %rbp
    cmovcq %r9, %r14
    cmovcq %r10, %r15
    # the result is written last, so c may be a or b
    movq %rbx, 0(%rdi)
    movq %rbp, 8(%rdi)
    movq %r14, 16(%rdi)
    movq %r15, 24(%rdi)

    popq %r15
    .cfi_adjust_cfa_offset -8
    popq %r14
    .cfi_adjust_cfa_offset -8
    popq %r13
    .cfi_adjust_cfa_offset -8
    popq %r12
    .cfi_adjust_cfa_offset -8
    popq %rbp
    .cfi_adjust_cfa_offset -8
    popq %rbx
    .cfi_adjust_cfa_offset -8
    ret
    .cfi_endproc
    .size bn256_gfpMulGeneric, .-bn256_gfpMulGeneric
    .popsection
)");

namespace {

// p − 2, least significant word first: the exponent of the inversion.
constexpr std::uint64_t kPMinus2[4] = {0x3c208c16d87cfd45, 0x97816a916871ca8d,
                                       0xb85045b68181585d, 0x30644e72e131a029};

}  // namespace

gfP newGFp(std::int64_t x) {
    gfP out{};
    if (x >= 0) {
        out.limbs[0] = static_cast<std::uint64_t>(x);
    } else {
        // −x as an unsigned 64-bit value; 2^63 for the smallest int64.
        out.limbs[0] = 0 - static_cast<std::uint64_t>(x);
        gfpNeg(out, out);
    }
    gfpMul(out, out, r2);
    return out;
}

// Fermat: f^(p−2), right to left over all 256 bits of the exponent.
//   power = f·R · ... holds the Montgomery form of f^(2^k); every product of sum
//   with it multiplies in f^(2^k) and keeps sum's factor R^−1, so after the loop
//   sum = f^(p−2)·R^−1, and the product with r3 = R^3 gives f^(p−2)·R.
gfP& gfP::Invert(const gfP& f) {
    gfP sum = rN1;
    gfP power = f;
    for (int word = 0; word < 4; ++word) {
        for (int bit = 0; bit < 64; ++bit) {
            if ((kPMinus2[word] >> bit) & 1) {  // a fixed exponent, not data
                gfpMul(sum, sum, power);
            }
            gfpMul(power, power, power);
        }
    }
    gfpMul(sum, sum, r3);
    *this = sum;
    return *this;
}

std::string gfP::String() const {
    char text[65];
    std::snprintf(text, sizeof text, "%16.16llx%16.16llx%16.16llx%16.16llx",
                  static_cast<unsigned long long>(limbs[3]),
                  static_cast<unsigned long long>(limbs[2]),
                  static_cast<unsigned long long>(limbs[1]),
                  static_cast<unsigned long long>(limbs[0]));
    return std::string(text, 64);
}

void gfP::Marshal(std::span<std::uint8_t, 32> out) const {
    for (int w = 0; w < 4; ++w) {
        std::uint64_t limb = limbs[3 - w];
        for (int j = 0; j < 8; ++j) {
            out[8 * w + j] = static_cast<std::uint8_t>(limb >> (56 - 8 * j));
        }
    }
}

common::Status gfP::Unmarshal(std::span<const std::uint8_t> in) {
    if (in.size() < 32) {
        return common::Fail(std::string(kCoordinateNotEnoughData));
    }
    for (int w = 0; w < 4; ++w) {
        std::uint64_t limb = 0;
        for (int j = 0; j < 8; ++j) {
            limb = (limb << 8) | in[8 * w + j];
        }
        limbs[3 - w] = limb;
    }
    // The first limb, from the top, that differs from p's decides.
    for (int i = 3; i >= 0; --i) {
        if (limbs[i] < p2[i]) {
            return {};
        }
        if (limbs[i] > p2[i]) {
            return common::Fail(std::string(kCoordinateExceedsModulus));
        }
    }
    return common::Fail(std::string(kCoordinateEqualsModulus));
}

}  // namespace bn256
