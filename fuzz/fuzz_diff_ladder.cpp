// Scalar multiplication: the ladder against plain double-and-add in affine
// coordinates, for hostile scalars below the order on two curves.
#include <cstring>

#include "fuzz_input.h"
#include "kcarlib/ecc.h"

using fuzz::Check;

namespace {

uint32_t g_seed = 12345;
int32_t Bit(void *) {
    g_seed = g_seed * 1103515245u + 12345u;
    return static_cast<int32_t>((g_seed >> 16) & 1);
}

TEcc *Curve(int m) {
    auto *c = new TEcc;
    EccInit(c, &Bit, nullptr);
    Check(EccSetStdCurve(c, m, 0) != 0);
    TEcPoint p;
    Check(EccGenerateBasePoint(c, &p) != 0 && EccSetBasePoint(c, &p) != 0);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static TEcc *curves[2] = {Curve(163), Curve(191)};
    fuzz::Input in(data, size);
    const TEcc *ecc = curves[in.Byte() & 1];
    uint32_t k[ECC_WORDS] = {};
    for (int64_t i = 0; i < ecc->Words; ++i) k[i] = in.Word();
    // Below 2^deg(n), so below n.
    const int bits = BaseDegree(ecc->N);
    for (int i = bits; i < ECC_WORDS * 32; ++i) k[i / 32] &= ~(1u << (i % 32));

    TEcPoint ladder;
    EccScalarMul(ecc, k, &ecc->P, &ladder);
    TEcPoint acc;
    PointClear(&acc);
    for (int i = bits - 1; i >= 0; --i) {
        AfDouble(ecc, &acc);
        if (k[i / 32] >> (i % 32) & 1) AfSum(ecc, &acc, &ecc->P);
    }
    Check(BaseIsEqual(ladder.x, acc.x) && BaseIsEqual(ladder.y, acc.y));
    return 0;
}
