// Runs every multiplication by a secret scalar under valgrind's memcheck with the
// secret's bytes marked undefined: a conditional jump or a memory address that
// depends on them is reported as a use of an uninitialised value. Each case runs
// twice from the same random bytes, once with them secret and once in the open;
// the secret run's results are marked defined again, then both are encoded and
// compared, so the constant-time routes are also held to the same values.
//
// First a control: the variable-time route given a secret scalar must be
// reported (its reports appear in the log, expected), which shows that the
// marking works. After it, every case must leave memcheck's error count as it
// was; the cases run on both paths of the field product (MULX and MUL).
//
// Exits 0 when every case is silent and equal, 1 otherwise; 2 when not run under
// valgrind, where nothing would be checked.
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>

#include <cstdio>
#include <random>
#include <span>
#include <string>

#include "bn256/bn256.h"
#include "bn256/constants.h"
#include "bn256/cpu.h"
#include "bn256/scalar.h"
#include "hibe/scheme.h"
#include "hibe_c/startup.h"

namespace {

// A reproducible source; when secret, the bytes it hands out are undefined.
class Source final : public common::RandomSource {
public:
    Source(std::uint64_t seed, bool secret) : engine_(seed), secret_(secret) {}
    common::Status Fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = static_cast<std::uint8_t>(engine_());
        if (secret_) (void)VALGRIND_MAKE_MEM_UNDEFINED(out.data(), out.size());
        return {};
    }

private:
    std::mt19937_64 engine_;
    bool secret_;
};

template <typename T>
void reveal(const T& v) {
    (void)VALGRIND_MAKE_MEM_DEFINED(&v, sizeof v);
}
template <typename E>
void revealElement(const E& e) {
    reveal(e);
    if (e.p) reveal(*e.p);
}

int failures = 0;
unsigned long seen = 0;  // memcheck's error count at the last check

// Reports errors memcheck counted since the last check, under the case's name.
void check(const char* name, bool equal) {
    const unsigned long errors = VALGRIND_COUNT_ERRORS;
    const bool silent = errors == seen;
    seen = errors;
    std::printf("%-44s %s%s\n", name, silent ? "constant time" : "SECRET-DEPENDENT",
                equal ? "" : ", RESULT DIFFERS");
    if (!silent || !equal) ++failures;
}

void hibeRecords(hibe::Params& params, hibe::MasterKey& master) {
    revealElement(params.G);
    revealElement(params.G1);
    revealElement(params.G2);
    revealElement(params.G3);
    for (const bn256::G1& h : params.H) revealElement(h);
    revealElement(master.Key);
}

// Marks the points of a private key undefined (secret) or defined again.
void markKey(const hibe::PrivateKey& key, bool secret) {
    const auto mark = [secret](const auto& e) {
        if (secret) {
            (void)VALGRIND_MAKE_MEM_UNDEFINED(&*e.p, sizeof *e.p);
        } else {
            revealElement(e);
        }
    };
    mark(key.A0);
    mark(key.A1);
    for (const bn256::G1& b : key.B) mark(b);
}
void revealKey(const hibe::PrivateKey& key) { markKey(key, false); }

template <typename E>
bool same(const E& a, const E& b) {
    return a.Marshal() == b.Marshal();
}

// k·a and k·generator with the secret k and with the open kOpen, equal.
template <typename E>
bool sameMultiples(const E& a, const bn256::Scalar& k, const bn256::Scalar& kOpen) {
    E x, y, xOpen, yOpen;
    x.ScalarMult(a, k);
    y.ScalarBaseMult(k);
    revealElement(x);
    revealElement(y);
    xOpen.ScalarMult(a, kOpen.ToMpz());
    yOpen.ScalarBaseMult(kOpen.ToMpz());
    return same(x, xOpen) && same(y, yOpen);
}

bool sameKey(const hibe::PrivateKey& a, const hibe::PrivateKey& b) {
    bool equal = same(a.A0, b.A0) && same(a.A1, b.A1) && a.B.size() == b.B.size();
    for (std::size_t j = 0; equal && j < a.B.size(); ++j) equal = same(a.B[j], b.B[j]);
    return equal;
}

// Every secret path once, each from its own secret and open sources.
void runCases(const bn256::G1& g1, const bn256::G2& g2, const bn256::GT& gt) {
    bn256::GT decoded;
    (void)decoded.Unmarshal(gt.Marshal());

    {
        Source secret(3, true), open(3, false);
        bn256::Scalar k = *bn256::randomK(secret);
        const bn256::Scalar kOpen = *bn256::randomK(open);
        reveal(k);
        check("draw of a scalar (randomK)", k.ToMpz() == kOpen.ToMpz());
    }
    {
        Source secret(4, true), open(4, false);
        const bn256::Scalar k = *bn256::RandomScalar(secret), kOpen = *bn256::RandomScalar(open);
        check("G1 multiplication", sameMultiples(g1, k, kOpen));
        check("G2 multiplication", sameMultiples(g2, k, kOpen));

        bn256::GT e, f, eOpen, fOpen;
        e.ScalarMult(gt, k);
        f.ScalarMult(decoded, k);
        revealElement(e);
        revealElement(f);
        eOpen.ScalarMult(gt, kOpen.ToMpz());
        fOpen.ScalarMult(decoded, kOpen.ToMpz());
        check("GT power (in GT, and decoded)", same(e, eOpen) && same(f, fOpen));
    }
    {
        Source secret(5, true), open(5, false);
        auto r1 = bn256::RandomG1(secret);
        auto r2 = bn256::RandomG2(secret);
        revealElement(r1->element);
        revealElement(r2->element);
        auto o1 = bn256::RandomG1(open);
        auto o2 = bn256::RandomG2(open);
        check("random G1 and G2 elements (message key)",
              same(r1->element, o1->element) && same(r2->element, o2->element));
    }

    Source secret(6, true), open(6, false);
    auto setup = hibe::Setup(secret, 2);
    auto setupOpen = hibe::Setup(open, 2);
    hibeRecords(setup->params, setup->masterKey);
    check("hibe::Setup",
          setup->params.Marshal() == setupOpen->params.Marshal() &&
              same(setup->masterKey.Key, setupOpen->masterKey.Key));

    const hibe::HibeId parentId = {mpz_class(17)}, childId = {mpz_class(17), mpz_class(23)};
    auto parent = hibe::KeyGenFromMaster(secret, setup->params, setup->masterKey, parentId);
    auto parentOpen = hibe::KeyGenFromMaster(open, setupOpen->params, setupOpen->masterKey, parentId);
    revealKey(*parent);
    check("hibe::KeyGenFromMaster", sameKey(*parent, *parentOpen));

    markKey(*parent, true);  // the parent key is secret as well
    auto child = hibe::KeyGenFromParent(secret, setup->params, *parent, childId);
    auto childOpen = hibe::KeyGenFromParent(open, setupOpen->params, *parentOpen, childId);
    revealKey(*parent);
    revealKey(*child);
    check("hibe::KeyGenFromParent", sameKey(*child, *childOpen));

    auto ct = hibe::Encrypt(secret, setup->params, childId, gt);
    auto ctOpen = hibe::Encrypt(open, setupOpen->params, childId, gt);
    revealElement(ct->A);
    revealElement(ct->B);
    revealElement(ct->C);
    check("hibe::Encrypt", ct->Marshal() == ctOpen->Marshal());
}

}  // namespace

int main() {
    if (!RUNNING_ON_VALGRIND) {
        std::fprintf(stderr, "run this under valgrind --tool=memcheck\n");
        return 2;
    }
    hibe_c::RunStartup();
    Source publicSource(1, false);
    const bn256::G1 g1 = bn256::RandomG1(publicSource)->element;
    const bn256::G2 g2 = bn256::RandomG2(publicSource)->element;
    const bn256::GT gt = bn256::Pair(g1, g2);

    // The control: the variable-time route, given a secret scalar, is reported.
    {
        Source secret(2, true);
        const mpz_class k = *common::RandomBelow(secret, bn256::Order);
        bn256::G1 e;
        e.ScalarMult(g1, k);
        seen = VALGRIND_COUNT_ERRORS;
        std::printf("%-44s %s\n", "control: variable-time route, secret scalar",
                    seen > 0 ? "reported, as it must be" : "NOT REPORTED: the check sees nothing");
        if (seen == 0) ++failures;
    }

    // Both paths of the field product: MULX where the processor has it, and MUL.
    for (const bool bmi2 : {true, false}) {
        if (bmi2 && !bn256::cpuHasBMI2()) continue;
        bn256::hasBMI2 = bmi2;
        std::printf("field product on the %s path:\n", bmi2 ? "MULX" : "MUL");
        runCases(g1, g2, gt);
    }
    bn256::hasBMI2 = bn256::cpuHasBMI2();

    std::printf("%s\n", failures == 0 ? "all secret paths constant time" : "FAILED");
    return failures == 0 ? 0 : 1;
}
