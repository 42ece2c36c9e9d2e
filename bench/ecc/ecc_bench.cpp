// Field arithmetic, scalar multiplication, signing and verification on the
// polynomial-basis standard curves of the sizes that matter in practice.
// BM_*Portable runs the 32-bit comb instead of carry-less multiplication.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "crypto/ecc/ecc_internal.h"
#include "kcarlib/ecc.h"

namespace {

using namespace kcar::ecc;

struct Rng {
    uint64_t s = 0x243F6A8885A308D3ull;
    uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    static int32_t Bit(void *ctx) { return static_cast<int32_t>(static_cast<Rng *>(ctx)->Next() >> 63); }
};

struct Curve {
    Rng rng;
    TEcc ecc;
    uint32_t a[16] = {}, b[16] = {}, d[16] = {};
    TEcPoint q;
    explicit Curve(int m) {
        EccInit(&ecc, &Rng::Bit, &rng);
        EccSetStdCurve(&ecc, m, 0);
        TEcPoint p;
        if (!EccGenerateBasePoint(&ecc, &p) || !EccSetBasePoint(&ecc, &p)) std::abort();
        BaseGenRandom(&ecc, a);
        BaseGenRandom(&ecc, b);
        EccGeneratePrivateKey(&ecc, d);
        EccCalcPublicKey(&ecc, d, &q);
    }
};

Curve &CurveOf(int m) {
    static std::vector<Curve *> curves;
    for (Curve *c : curves)
        if (c->ecc.M == m) return *c;
    curves.push_back(new Curve(m));
    return *curves.back();
}

void BM_FieldMul(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    for (auto _ : st) {
        BaseMul(&c.ecc, c.a, c.b);
        benchmark::DoNotOptimize(c.a);
    }
}

void BM_FieldSquare(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    for (auto _ : st) {
        BaseSquare(&c.ecc, c.a);
        benchmark::DoNotOptimize(c.a);
    }
}

void BM_FieldInverse(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    for (auto _ : st) {
        BaseInverse(&c.ecc, c.a);
        benchmark::DoNotOptimize(c.a);
    }
}

void BM_FieldMulPortable(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    ClmulForceOff(true);
    for (auto _ : st) {
        BaseMul(&c.ecc, c.a, c.b);
        benchmark::DoNotOptimize(c.a);
    }
    ClmulForceOff(false);
}

void BM_EccScalarMul(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    TEcPoint r;
    for (auto _ : st) {
        EccScalarMul(&c.ecc, c.d, &c.q, &r);
        benchmark::DoNotOptimize(r);
    }
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_EccScalarMulPortable(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    TEcPoint r;
    ClmulForceOff(true);
    for (auto _ : st) {
        EccScalarMul(&c.ecc, c.d, &c.q, &r);
        benchmark::DoNotOptimize(r);
    }
    ClmulForceOff(false);
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_EccSignHash(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    uint8_t hash[32] = {1, 2, 3}, sig[128];
    for (auto _ : st) {
        EccSignHash(&c.ecc, c.d, hash, sig);
        benchmark::DoNotOptimize(sig);
    }
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_EccCheckHash(benchmark::State &st) {
    Curve &c = CurveOf(static_cast<int>(st.range(0)));
    uint8_t hash[32] = {1, 2, 3}, sig[128];
    EccSignHash(&c.ecc, c.d, hash, sig);
    for (auto _ : st) {
        if (!EccCheckHash(&c.ecc, &c.q, hash, sig, 0)) st.SkipWithError("signature refused");
    }
    st.counters["ops/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

#define SIZES ->Arg(163)->Arg(191)->Arg(257)->Arg(431)->Arg(509)
BENCHMARK(BM_FieldMul) SIZES;
BENCHMARK(BM_FieldSquare) SIZES;
BENCHMARK(BM_FieldInverse) SIZES;
BENCHMARK(BM_FieldMulPortable) SIZES;
BENCHMARK(BM_EccScalarMul) SIZES;
BENCHMARK(BM_EccScalarMulPortable) SIZES;
BENCHMARK(BM_EccSignHash) SIZES;
BENCHMARK(BM_EccCheckHash) SIZES;

}  // namespace

BENCHMARK_MAIN();
