// Field products: the carry-less path against the portable one, for products and
// squares of hostile elements on curves of several degrees.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "fuzz_input.h"
#include "kcarlib/ecc.h"

using fuzz::Check;

namespace {

TEcc *Field(int m) {
    auto *c = new TEcc;
    EccInit(c, nullptr, nullptr);
    Check(EccSetStdCurve(c, m, 0) != 0);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static TEcc *fields[] = {Field(163), Field(173), Field(191), Field(257), Field(431), Field(509)};
    fuzz::Input in(data, size);
    const TEcc *ecc = fields[in.Byte() % 6];
    uint32_t a[ECC_WORDS] = {}, b[ECC_WORDS] = {};
    for (int64_t i = 0; i < ecc->Words; ++i) a[i] = in.Word();
    for (int64_t i = 0; i < ecc->Words; ++i) b[i] = in.Word();
    // Elements of the field: below the degree.
    const int top = static_cast<int>(ecc->M % 32);
    const int64_t last = ecc->Words - 1;
    if (top != 0) {
        a[last] &= (1u << top) - 1;
        b[last] &= (1u << top) - 1;
    }
    uint32_t fast[ECC_WORDS], slow[ECC_WORDS], fastSq[ECC_WORDS], slowSq[ECC_WORDS];
    std::memcpy(fast, a, sizeof a);
    std::memcpy(fastSq, a, sizeof a);
    kcar::ecc::ClmulForceOff(false);
    BaseMul(ecc, fast, b);
    BaseSquare(ecc, fastSq);
    std::memcpy(slow, a, sizeof a);
    std::memcpy(slowSq, a, sizeof a);
    kcar::ecc::ClmulForceOff(true);
    BaseMul(ecc, slow, b);
    BaseSquare(ecc, slowSq);
    kcar::ecc::ClmulForceOff(false);
    Check(std::memcmp(fast, slow, sizeof fast) == 0);
    Check(std::memcmp(fastSq, slowSq, sizeof fastSq) == 0);
    return 0;
}
