// Constant-time check of the secret-key operations, run under Valgrind's memcheck
// (scripts/test-all): private keys, per-signature random values and scalars are
// marked undefined, so memcheck reports every conditional jump and every memory
// address that depends on them. The program counts memcheck's errors around each
// operation and fails when one adds any; a deliberate leak first shows that the
// detection works. Each curve runs on every field path the processor offers.
//
//   valgrind --quiet ecc_ct_check
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <valgrind/memcheck.h>

#include "crypto/ct_check.h"
#include "crypto/ecc/ecc_internal.h"
#include "kcarlib/ecc.h"

namespace {

using namespace kcar::ecc;

struct Rng {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    bool secret = false;  // bits handed out now are secret
    static int32_t Bit(void *ctx) {
        auto *r = static_cast<Rng *>(ctx);
        r->state ^= r->state >> 12;
        r->state ^= r->state << 25;
        r->state ^= r->state >> 27;
        int32_t v = static_cast<int32_t>((r->state * 0x2545F4914F6CDD1Dull) >> 63);
        if (r->secret) (void)VALGRIND_MAKE_MEM_UNDEFINED(&v, sizeof v);
        return v;
    }
};

template <class T>
void Secret(T &v) {
    (void)VALGRIND_MAKE_MEM_UNDEFINED(&v, sizeof v);
}
template <class T>
void Public(T &v) {
    (void)VALGRIND_MAKE_MEM_DEFINED(&v, sizeof v);
}

int failures = 0;

// Runs op and reports whether memcheck found a secret-dependent step in it.
template <class Op>
void Check(const std::string &what, Op op) {
    const unsigned before = VALGRIND_COUNT_ERRORS;
    op();
    const unsigned added = VALGRIND_COUNT_ERRORS - before;
    std::printf("%-44s %s\n", what.c_str(), added ? "SECRET-DEPENDENT" : "ok");
    if (added) ++failures;
}

void CheckCurve(int m, int onb) {
    Rng rng;
    TEcc ecc;
    EccInit(&ecc, &Rng::Bit, &rng);
    TEcPoint p, q, r;
    if (!EccSetStdCurve(&ecc, m, onb) || !EccGenerateBasePoint(&ecc, &p) || !EccSetBasePoint(&ecc, &p)) {
        std::printf("curve %d: set-up failed\n", m);
        ++failures;
        return;
    }
    const char *ran = onb ? (StdClmulFieldFor(&ecc) ? "normal basis, carry-less" : "normal basis, windows")
                          : ClmulUsable(&ecc) ? "carry-less" : "portable";
    const std::string name = std::to_string(m) + " (" + ran + ")";
    uint32_t d[16] = {}, k[16] = {};
    uint8_t hash[32] = {7, 1, 2, 3}, sig[128];

    Check("key generation " + name, [&] {
        rng.secret = true;
        const int ok = EccGeneratePrivateKey(&ecc, d);
        rng.secret = false;
        Public(ok);  // a working source gives a key
        EccCalcPublicKey(&ecc, d, &q);
        Public(q);
        Public(d);
    });
    Check("signing " + name, [&] {
        Secret(d);
        rng.secret = true;  // the per-signature value
        const int ok = EccSignHash(&ecc, d, hash, sig);
        rng.secret = false;
        Public(ok);
        Public(d);
    });
    Check("scalar multiplication " + name, [&] {
        BaseGenRandom(&ecc, k);
        k[(m - 1) / 32] &= ~(1u << ((m - 1) % 32));  // below n for the a = 1 curves
        Secret(k);
        EccScalarMul(&ecc, k, &q, &r);
        Public(r);
    });
    if (EccCheckHash(&ecc, &q, hash, sig, 0) != 1) {
        std::printf("curve %d: the signature made under the check does not verify\n", m);
        ++failures;
    }
}

}  // namespace

int main() {
    if (!RUNNING_ON_VALGRIND) {
        std::fprintf(stderr, "ecc_ct_check: run it under valgrind (memcheck)\n");
        return 2;
    }
    if (!kcar::CtHooksPresent()) {
        std::fprintf(stderr, "ecc_ct_check: the library was built without <valgrind/memcheck.h>\n");
        return 2;
    }
    // The detection itself: a branch and a table index on a secret must be seen.
    {
        uint32_t s = 0x5A;
        Secret(s);
        const unsigned before = VALGRIND_COUNT_ERRORS;
        volatile uint32_t sink = SquareByteTab[s & 0xFF];
        if (s & 1) sink = sink + 1;
        (void)sink;
        if (VALGRIND_COUNT_ERRORS - before < 2) {
            std::fprintf(stderr, "ecc_ct_check: memcheck did not see a deliberate leak\n");
            return 2;
        }
        std::printf("deliberate leak seen (the two reports above are expected)\n");
    }
    for (int m : {163, 167, 173, 179, 191, 233, 257, 307, 367, 431, 509}) {
        ClmulForceOff(false);
        CheckCurve(m, 0);
        ClmulForceOff(true);
        CheckCurve(m, 0);
    }
    for (int m : {173, 233, 509}) {
        ClmulForceOff(false);
        CheckCurve(m, 1);
        if (m != 173) continue;  // the window products are slow under valgrind
        ClmulForceOff(true);
        CheckCurve(m, 1);
    }
    ClmulForceOff(false);
    if (failures) {
        std::printf("ecc_ct_check: %d operation(s) branch on or index by secret values\n", failures);
        return 1;
    }
    std::printf("ecc_ct_check: no secret-dependent branch or index\n");
    return 0;
}
