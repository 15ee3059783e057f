#include "bn256/gfp.h"

#include <cstdio>

namespace bn256 {

// The two Montgomery product routines, as functions of the System V ABI
// (rdi = c, rsi = a, rdx = b). Both follow the same steps:
//   1. T = a·b, the full 512-bit product (16 limb products);
//   2. m = (T mod 2^256)·np mod 2^256, from the 10 products np_i·T_j with
//      i + j ≤ 3 (for i + j = 3 only the low half counts);
//   3. U = m·p, the full 512-bit product (16 limb products);
//   4. S = T + U, 513 bits, whose low 256 bits are zero by the choice of m;
//   5. r = S >> 256 (the upper four limbs and the carry bit);
//   6. r − p; without a borrow the result is r − p, with one it is r, selected by
//      conditional moves;
//   7. the four result limbs are written last, so c may be a or b.
// Both read a and b only, keep their intermediates in registers and a scratch
// area on their own stack, and make no branch at all.
//
// With BMI2, MULX leaves the flags alone, so the products of a row are added in
// add-with-carry passes: row 0 in one pass, every later row in two, the products
// with b0 and b2 (low and high halves in adjacent limbs) and then those with b1
// and b3; ADCX/ADOX are not used. Without it, MUL forms each 320-bit row a_i·b,
// which is then added into an eight-limb scratch accumulator.
__asm__(R"(
    .pushsection .rodata.bn256_gfpmul, "a", @progbits
    .p2align 5
.Lbn256_p:
    .quad 0x3c208c16d87cfd47
    .quad 0x97816a916871ca8d
    .quad 0xb85045b68181585d
    .quad 0x30644e72e131a029
.Lbn256_np:
    .quad 0x87d20782e4866389
    .quad 0x9ede7d651eca6ac9
    .quad 0xd8afcbd01833da80
    .quad 0xf57a22b791888c6b
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
    subq $160, %rsp
    .cfi_adjust_cfa_offset 160
    movq %rdx, %rcx  # b
    # 1. T = a·b: the rows a_i·b added into the scratch T
    # row 0
    movq 0(%rsi), %rax
    mulq 0(%rcx)
    movq %rax, %r8
    movq %rdx, %r9
    movq 0(%rsi), %rax
    mulq 8(%rcx)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 0(%rsi), %rax
    mulq 16(%rcx)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 0(%rsi), %rax
    mulq 24(%rcx)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    movq %r8, 0(%rsp)
    movq %r9, 8(%rsp)
    movq %r10, 16(%rsp)
    movq %r11, 24(%rsp)
    movq %r12, 32(%rsp)
    movq $0, 40(%rsp)
    movq $0, 48(%rsp)
    movq $0, 56(%rsp)
    # row 1
    movq 8(%rsi), %rax
    mulq 0(%rcx)
    movq %rax, %r8
    movq %rdx, %r9
    movq 8(%rsi), %rax
    mulq 8(%rcx)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 8(%rsi), %rax
    mulq 16(%rcx)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 8(%rsi), %rax
    mulq 24(%rcx)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 8(%rsp)
    adcq %r9, 16(%rsp)
    adcq %r10, 24(%rsp)
    adcq %r11, 32(%rsp)
    adcq %r12, 40(%rsp)
    # row 2
    movq 16(%rsi), %rax
    mulq 0(%rcx)
    movq %rax, %r8
    movq %rdx, %r9
    movq 16(%rsi), %rax
    mulq 8(%rcx)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 16(%rsi), %rax
    mulq 16(%rcx)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 16(%rsi), %rax
    mulq 24(%rcx)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 16(%rsp)
    adcq %r9, 24(%rsp)
    adcq %r10, 32(%rsp)
    adcq %r11, 40(%rsp)
    adcq %r12, 48(%rsp)
    # row 3
    movq 24(%rsi), %rax
    mulq 0(%rcx)
    movq %rax, %r8
    movq %rdx, %r9
    movq 24(%rsi), %rax
    mulq 8(%rcx)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 24(%rsi), %rax
    mulq 16(%rcx)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 24(%rsi), %rax
    mulq 24(%rcx)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 24(%rsp)
    adcq %r9, 32(%rsp)
    adcq %r10, 40(%rsp)
    adcq %r11, 48(%rsp)
    adcq %r12, 56(%rsp)
    # 2. m = (T mod 2^256)·np mod 2^256 from the ten products np_i·T_j, i + j ≤ 3;
    #    m0..m3 in r8..r11
    movq 0(%rsp), %rax
    mulq .Lbn256_np(%rip)
    movq %rax, %r8
    movq %rdx, %r9
    movq 0(%rsp), %rax
    mulq .Lbn256_np+8(%rip)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 0(%rsp), %rax
    mulq .Lbn256_np+16(%rip)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 0(%rsp), %rax
    imulq .Lbn256_np+24(%rip), %rax  # low half only
    addq %rax, %r11
    movq 8(%rsp), %rax
    mulq .Lbn256_np(%rip)
    addq %rax, %r9
    adcq %rdx, %r10
    adcq $0, %r11
    movq 8(%rsp), %rax
    mulq .Lbn256_np+8(%rip)
    addq %rax, %r10
    adcq %rdx, %r11
    movq 8(%rsp), %rax
    imulq .Lbn256_np+16(%rip), %rax  # low half only
    addq %rax, %r11
    movq 16(%rsp), %rax
    mulq .Lbn256_np(%rip)
    addq %rax, %r10
    adcq %rdx, %r11
    movq 16(%rsp), %rax
    imulq .Lbn256_np+8(%rip), %rax  # low half only
    addq %rax, %r11
    movq 24(%rsp), %rax
    imulq .Lbn256_np(%rip), %rax  # low half only
    addq %rax, %r11
    movq %r8, 128(%rsp)
    movq %r9, 136(%rsp)
    movq %r10, 144(%rsp)
    movq %r11, 152(%rsp)
    # 3. U = m·p: the rows m_i·p added into the scratch U
    # row 0
    movq 128(%rsp), %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %r8
    movq %rdx, %r9
    movq 128(%rsp), %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 128(%rsp), %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 128(%rsp), %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    movq %r8, 64(%rsp)
    movq %r9, 72(%rsp)
    movq %r10, 80(%rsp)
    movq %r11, 88(%rsp)
    movq %r12, 96(%rsp)
    movq $0, 104(%rsp)
    movq $0, 112(%rsp)
    movq $0, 120(%rsp)
    # row 1
    movq 136(%rsp), %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %r8
    movq %rdx, %r9
    movq 136(%rsp), %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 136(%rsp), %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 136(%rsp), %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 72(%rsp)
    adcq %r9, 80(%rsp)
    adcq %r10, 88(%rsp)
    adcq %r11, 96(%rsp)
    adcq %r12, 104(%rsp)
    # row 2
    movq 144(%rsp), %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %r8
    movq %rdx, %r9
    movq 144(%rsp), %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 144(%rsp), %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 144(%rsp), %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 80(%rsp)
    adcq %r9, 88(%rsp)
    adcq %r10, 96(%rsp)
    adcq %r11, 104(%rsp)
    adcq %r12, 112(%rsp)
    # row 3
    movq 152(%rsp), %rax
    mulq .Lbn256_p(%rip)
    movq %rax, %r8
    movq %rdx, %r9
    movq 152(%rsp), %rax
    mulq .Lbn256_p+8(%rip)
    addq %rax, %r9
    adcq $0, %rdx
    movq %rdx, %r10
    movq 152(%rsp), %rax
    mulq .Lbn256_p+16(%rip)
    addq %rax, %r10
    adcq $0, %rdx
    movq %rdx, %r11
    movq 152(%rsp), %rax
    mulq .Lbn256_p+24(%rip)
    addq %rax, %r11
    adcq $0, %rdx
    movq %rdx, %r12
    addq %r8, 88(%rsp)
    adcq %r9, 96(%rsp)
    adcq %r10, 104(%rsp)
    adcq %r11, 112(%rsp)
    adcq %r12, 120(%rsp)
    movq 64(%rsp), %r8
    movq 72(%rsp), %r9
    movq 80(%rsp), %r10
    movq 88(%rsp), %r11
    movq 96(%rsp), %r12
    movq 104(%rsp), %r13
    movq 112(%rsp), %r14
    movq 120(%rsp), %r15
    # 4.-6.
    # S = T + U (513 bits); its low 256 bits are zero, r = S >> 256
    xorl %eax, %eax
    addq 0(%rsp), %r8
    adcq 8(%rsp), %r9
    adcq 16(%rsp), %r10
    adcq 24(%rsp), %r11
    adcq 32(%rsp), %r12
    adcq 40(%rsp), %r13
    adcq 48(%rsp), %r14
    adcq 56(%rsp), %r15
    adcq $0, %rax
    # r − p; a borrow keeps r
    movq %r12, %rbx
    movq %r13, %rbp
    movq %r14, %rsi
    movq %r15, %rcx
    subq .Lbn256_p(%rip), %rbx
    sbbq .Lbn256_p+8(%rip), %rbp
    sbbq .Lbn256_p+16(%rip), %rsi
    sbbq .Lbn256_p+24(%rip), %rcx
    sbbq $0, %rax
    cmovcq %r12, %rbx
    cmovcq %r13, %rbp
    cmovcq %r14, %rsi
    cmovcq %r15, %rcx
    # the result is written last, so it may be an operand
    movq %rbx, 0(%rdi)
    movq %rbp, 8(%rdi)
    movq %rsi, 16(%rdi)
    movq %rcx, 24(%rdi)
    addq $160, %rsp
    .cfi_adjust_cfa_offset -160
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
# c = a·b·R^−1 mod p with MULX (BMI2, no ADX). rdi = c, rsi = a, rdx = b.
    .p2align 5
    .globl bn256_gfpMulBMI2
    .hidden bn256_gfpMulBMI2
    .type bn256_gfpMulBMI2, @function
bn256_gfpMulBMI2:
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
    pushq %rdi
    .cfi_adjust_cfa_offset 8
    subq $72, %rsp
    .cfi_adjust_cfa_offset 72
    movq %rdx, %rcx  # b
    # 1. T = a·b, 512 bits in r8..r15
    # row 0: a0·b, one add-with-carry pass
    movq 0(%rsi), %rdx
    mulxq 0(%rcx), %r8, %r9
    mulxq 8(%rcx), %rax, %r10
    mulxq 16(%rcx), %rbx, %r11
    mulxq 24(%rcx), %rbp, %r12
    addq %rax, %r9
    adcq %rbx, %r10
    adcq %rbp, %r11
    adcq $0, %r12
    # row 1: a1·b0 and a1·b2 at limbs 1..4, then a1·b1 and a1·b3 at limbs 2..5
    movq 8(%rsi), %rdx
    xorl %r13d, %r13d
    mulxq 0(%rcx), %rax, %rbx
    mulxq 16(%rcx), %rbp, %rdi
    addq %rax, %r9
    adcq %rbx, %r10
    adcq %rbp, %r11
    adcq %rdi, %r12
    adcq $0, %r13
    mulxq 8(%rcx), %rax, %rbx
    mulxq 24(%rcx), %rbp, %rdi
    addq %rax, %r10
    adcq %rbx, %r11
    adcq %rbp, %r12
    adcq %rdi, %r13  # no carry out: the partial product fits
    # row 2: a2·b0 and a2·b2 at limbs 2..5, then a2·b1 and a2·b3 at limbs 3..6
    movq 16(%rsi), %rdx
    xorl %r14d, %r14d
    mulxq 0(%rcx), %rax, %rbx
    mulxq 16(%rcx), %rbp, %rdi
    addq %rax, %r10
    adcq %rbx, %r11
    adcq %rbp, %r12
    adcq %rdi, %r13
    adcq $0, %r14
    mulxq 8(%rcx), %rax, %rbx
    mulxq 24(%rcx), %rbp, %rdi
    addq %rax, %r11
    adcq %rbx, %r12
    adcq %rbp, %r13
    adcq %rdi, %r14  # no carry out: the partial product fits
    # row 3: a3·b0 and a3·b2 at limbs 3..6, then a3·b1 and a3·b3 at limbs 4..7
    movq 24(%rsi), %rdx
    xorl %r15d, %r15d
    mulxq 0(%rcx), %rax, %rbx
    mulxq 16(%rcx), %rbp, %rdi
    addq %rax, %r11
    adcq %rbx, %r12
    adcq %rbp, %r13
    adcq %rdi, %r14
    adcq $0, %r15
    mulxq 8(%rcx), %rax, %rbx
    mulxq 24(%rcx), %rbp, %rdi
    addq %rax, %r12
    adcq %rbx, %r13
    adcq %rbp, %r14
    adcq %rdi, %r15  # no carry out: the partial product fits
    movq %r8, 0(%rsp)
    movq %r9, 8(%rsp)
    movq %r10, 16(%rsp)
    movq %r11, 24(%rsp)
    movq %r12, 32(%rsp)
    movq %r13, 40(%rsp)
    movq %r14, 48(%rsp)
    movq %r15, 56(%rsp)
    # 2. m = (T mod 2^256)·np mod 2^256 from the ten products np_i·T_j, i + j ≤ 3;
    #    the four that count only with their low half (i + j = 3) by IMUL into r12..r15
    #    (T4..T7 wait in the scratch), the six others by MULX; m0..m3 in rbx, rbp, rsi, rcx
    movq %r8, %r12
    imulq .Lbn256_np+24(%rip), %r12  # low half of T0·np3
    movq %r9, %r13
    imulq .Lbn256_np+16(%rip), %r13  # low half of T1·np2
    movq %r10, %r14
    imulq .Lbn256_np+8(%rip), %r14  # low half of T2·np1
    movq %r11, %r15
    imulq .Lbn256_np+0(%rip), %r15  # low half of T3·np0
    movq %r8, %rdx  # T0
    mulxq .Lbn256_np(%rip), %rbx, %rbp
    mulxq .Lbn256_np+8(%rip), %rax, %rsi
    mulxq .Lbn256_np+16(%rip), %rdi, %rcx
    addq %rax, %rbp
    adcq %rdi, %rsi
    adcq %r12, %rcx
    movq %r9, %rdx  # T1
    mulxq .Lbn256_np(%rip), %rax, %rdi
    addq %rax, %rbp
    adcq %rdi, %rsi
    adcq %r13, %rcx
    mulxq .Lbn256_np+8(%rip), %rax, %rdi
    addq %rax, %rsi
    adcq %rdi, %rcx
    movq %r10, %rdx  # T2
    mulxq .Lbn256_np(%rip), %rax, %rdi
    addq %rax, %rsi
    adcq %rdi, %rcx
    addq %r14, %rcx
    addq %r15, %rcx
    movq %rbp, 64(%rsp)  # m1 waits in the scratch; m2, m3 stay in rsi, rcx
    # 3. U = m·p, 512 bits in r8..r15
    # row 0: m0·p, one add-with-carry pass
    movq %rbx, %rdx
    mulxq .Lbn256_p(%rip), %r8, %r9
    mulxq .Lbn256_p+8(%rip), %rax, %r10
    mulxq .Lbn256_p+16(%rip), %rbx, %r11
    mulxq .Lbn256_p+24(%rip), %rbp, %r12
    addq %rax, %r9
    adcq %rbx, %r10
    adcq %rbp, %r11
    adcq $0, %r12
    # row 1: m1·p0 and m1·p2 at limbs 1..4, then m1·p1 and m1·p3 at limbs 2..5
    movq 64(%rsp), %rdx
    xorl %r13d, %r13d
    mulxq .Lbn256_p(%rip), %rax, %rbx
    mulxq .Lbn256_p+16(%rip), %rbp, %rdi
    addq %rax, %r9
    adcq %rbx, %r10
    adcq %rbp, %r11
    adcq %rdi, %r12
    adcq $0, %r13
    mulxq .Lbn256_p+8(%rip), %rax, %rbx
    mulxq .Lbn256_p+24(%rip), %rbp, %rdi
    addq %rax, %r10
    adcq %rbx, %r11
    adcq %rbp, %r12
    adcq %rdi, %r13  # no carry out: the partial product fits
    # row 2: m2·p0 and m2·p2 at limbs 2..5, then m2·p1 and m2·p3 at limbs 3..6
    movq %rsi, %rdx
    xorl %r14d, %r14d
    mulxq .Lbn256_p(%rip), %rax, %rbx
    mulxq .Lbn256_p+16(%rip), %rbp, %rdi
    addq %rax, %r10
    adcq %rbx, %r11
    adcq %rbp, %r12
    adcq %rdi, %r13
    adcq $0, %r14
    mulxq .Lbn256_p+8(%rip), %rax, %rbx
    mulxq .Lbn256_p+24(%rip), %rbp, %rdi
    addq %rax, %r11
    adcq %rbx, %r12
    adcq %rbp, %r13
    adcq %rdi, %r14  # no carry out: the partial product fits
    # row 3: m3·p0 and m3·p2 at limbs 3..6, then m3·p1 and m3·p3 at limbs 4..7
    movq %rcx, %rdx
    xorl %r15d, %r15d
    mulxq .Lbn256_p(%rip), %rax, %rbx
    mulxq .Lbn256_p+16(%rip), %rbp, %rdi
    addq %rax, %r11
    adcq %rbx, %r12
    adcq %rbp, %r13
    adcq %rdi, %r14
    adcq $0, %r15
    mulxq .Lbn256_p+8(%rip), %rax, %rbx
    mulxq .Lbn256_p+24(%rip), %rbp, %rdi
    addq %rax, %r12
    adcq %rbx, %r13
    adcq %rbp, %r14
    adcq %rdi, %r15  # no carry out: the partial product fits
    # 4.-6.
    # S = T + U (513 bits); its low 256 bits are zero, r = S >> 256
    xorl %eax, %eax
    addq 0(%rsp), %r8
    adcq 8(%rsp), %r9
    adcq 16(%rsp), %r10
    adcq 24(%rsp), %r11
    adcq 32(%rsp), %r12
    adcq 40(%rsp), %r13
    adcq 48(%rsp), %r14
    adcq 56(%rsp), %r15
    adcq $0, %rax
    # r − p; a borrow keeps r
    movq %r12, %rbx
    movq %r13, %rbp
    movq %r14, %rsi
    movq %r15, %rcx
    subq .Lbn256_p(%rip), %rbx
    sbbq .Lbn256_p+8(%rip), %rbp
    sbbq .Lbn256_p+16(%rip), %rsi
    sbbq .Lbn256_p+24(%rip), %rcx
    sbbq $0, %rax
    cmovcq %r12, %rbx
    cmovcq %r13, %rbp
    cmovcq %r14, %rsi
    cmovcq %r15, %rcx
    movq 72(%rsp), %rdi  # c
    # the result is written last, so it may be an operand
    movq %rbx, 0(%rdi)
    movq %rbp, 8(%rdi)
    movq %rsi, 16(%rdi)
    movq %rcx, 24(%rdi)
    addq $72, %rsp
    .cfi_adjust_cfa_offset -72
    popq %rdi
    .cfi_adjust_cfa_offset -8
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
    .size bn256_gfpMulBMI2, .-bn256_gfpMulBMI2
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
