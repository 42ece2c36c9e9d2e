// Throughput of the GOST 28147-89 modes and MAC, the GOST 34.311 hash and the
// generator. Names and counters are read by bench/compare-gost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crypto/gost/magma_wide.h"
#include "kcarlib/gost.h"

namespace {

const uint8_t kKey[32] = {0x54, 0x6d, 0x20, 0x33, 0x68, 0x65, 0x6c, 0x32, 0x69, 0x73, 0x65,
                          0x20, 0x73, 0x73, 0x6e, 0x62, 0x20, 0x61, 0x67, 0x79, 0x69, 0x67,
                          0x74, 0x74, 0x73, 0x65, 0x68, 0x65, 0x20, 0x2c, 0x3d, 0x73};
const uint8_t kSync[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};

std::vector<uint8_t> Message(size_t n) {
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i) m[i] = uint8_t(i * 131 + 7);
    return m;
}

void BM_Hash(benchmark::State &state) {
    const auto msg = Message(size_t(state.range(0)));
    TGostHash h;
    HashInit(&h, nullptr, nullptr);
    uint8_t out[32];
    for (auto _ : state) {
        HashClear(&h);
        HashUpdate(&h, msg.data(), uint32_t(msg.size()));
        HashFinal(&h, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    HashDone(&h);
}
BENCHMARK(BM_Hash)->Arg(1024)->Arg(1 << 20);

template <void (*Op)(TGostCipher *, void *, uint32_t)>
void BM_Cipher(benchmark::State &state) {
    auto buf = Message(size_t(state.range(0)));
    TGostCipher c;
    MagmaInit(&c, Uz34311, kKey);
    MagmaSetSync(&c, kSync);
    for (auto _ : state) {
        Op(&c, buf.data(), uint32_t(buf.size()));
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    MagmaDone(&c);
}
BENCHMARK_TEMPLATE(BM_Cipher, MagmaM1Encrypt)->Name("BM_M1Encrypt")->Arg(1024)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Cipher, MagmaM1Decrypt)->Name("BM_M1Decrypt")->Arg(1024)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Cipher, MagmaM2Encrypt)->Name("BM_M2Encrypt")->Arg(1024)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Cipher, MagmaM3Encrypt)->Name("BM_M3Encrypt")->Arg(1024)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Cipher, MagmaM3Decrypt)->Name("BM_M3Decrypt")->Arg(1024)->Arg(1 << 20);

// Mode 1 on each vector level below the best one, and on none: the gain of each path.
void BM_M1EncryptLevel(benchmark::State &state) {
    kcar::gost::MagmaWideForce(int(state.range(1)));
    state.SetLabel(kcar::gost::MagmaWidePath());
    BM_Cipher<MagmaM1Encrypt>(state);
    kcar::gost::MagmaWideForce(-1);
}
BENCHMARK(BM_M1EncryptLevel)->Args({1 << 20, 0})->Args({1 << 20, 1})->Args({1 << 20, 2});

void BM_Mac(benchmark::State &state) {
    const auto msg = Message(size_t(state.range(0)));
    TGostCipher c;
    MagmaInit(&c, Uz34311, kKey);
    uint8_t mac[8];
    for (auto _ : state) {
        MagmaReset(&c);
        MagmaMAC(&c, msg.data(), uint32_t(msg.size()));
        MagmaGetMAC(&c, mac);
        benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    MagmaDone(&c);
}
BENCHMARK(BM_Mac)->Arg(1024)->Arg(1 << 20);

void BM_RngBytes(benchmark::State &state) {
    TMagmaRng rng;
    const uint8_t time[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    MagmaRngInit(&rng, nullptr, nullptr, kKey, time);
    uint8_t out[64];
    for (auto _ : state) {
        MagmaRngBuf(&rng, out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof out));
    MagmaRngDone(&rng);
}
BENCHMARK(BM_RngBytes);

}  // namespace

int main(int argc, char **argv) {
    benchmark::AddCustomContext("magma vector path", kcar::gost::MagmaWidePath());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
