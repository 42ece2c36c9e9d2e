// Many GOST 28147-89 blocks at once in vector registers, for the modes whose
// blocks are independent (simple replacement, the gamma of mode 2, the gamma of
// mode 3 decryption).
//
// Word-sliced: one register holds the n1 words of 16 blocks (AVX-512) or 8 blocks
// (AVX2), another their n2 words, so the 32-bit addition and the rotation are
// single instructions. The substitution works on nibbles: byte b of a word has
// its low nibble substituted by table 2b and its high nibble by table 2b + 1.
// With AVX-512 VBMI one VPERMB per nibble half looks up all four byte positions
// at once in a 64-byte table indexed by (byte position, nibble); with AVX2 each
// byte position takes its own VPSHUFB, the other positions masked out. Nothing is
// indexed by data in memory, so the engine also runs in constant time.
//
// The instruction set is chosen at run time; MagmaWideForce lets the tests and
// benchmarks pin each path.
#include <cstring>

#include "crypto/gost/magma_wide.h"
#include "crypto/secure_wipe.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define KCAR_WIDE_X86 1
// GCC 12 reports the placeholder operand inside its own AVX-512 intrinsics
// (_mm512_undefined_epi32) as maybe uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace kcar::gost {

namespace {

int g_force = -1;

#if KCAR_WIDE_X86

// Nibble tables from the cipher's byte tables: lo[16b + n] substitutes the low
// nibble n of byte b, hi[16b + n] the high nibble n (result in the high nibble).
struct NibbleTabs {
    alignas(64) uint8_t lo[64];
    alignas(64) uint8_t hi[64];
    explicit NibbleTabs(const TGostCipher *c) {
        for (int b = 0; b < 4; ++b)
            for (int n = 0; n < 16; ++n) {
                lo[16 * b + n] = c->SubstTab[b][n] & 0x0F;
                hi[16 * b + n] = c->SubstTab[b][n << 4] & 0xF0;
            }
    }
    ~NibbleTabs() { SecureWipe(this, sizeof *this); }
};

// ---- AVX-512 VBMI: 16 blocks per register, two register groups in flight. ----

constexpr int kG512 = 2;

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i F512(__m512i x, __m512i tlo, __m512i thi,
                                                                          __m512i pos, __m512i nib) {
    const __m512i lo = _mm512_or_si512(_mm512_and_si512(x, nib), pos);
    const __m512i hi = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(x, 4), nib), pos);
    const __m512i s = _mm512_or_si512(_mm512_permutexvar_epi8(lo, tlo), _mm512_permutexvar_epi8(hi, thi));
    return _mm512_rol_epi32(s, 11);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void Blocks512(const TGostCipher *c, const uint32_t *keys,
                                                                      const uint8_t *in, uint8_t *out,
                                                                      size_t groups) {
    NibbleTabs t(c);
    const __m512i tlo = _mm512_load_si512(t.lo), thi = _mm512_load_si512(t.hi);
    const __m512i nib = _mm512_set1_epi8(0x0F), pos = _mm512_set1_epi32(0x30201000);
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m512i ilo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i ihi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    for (; groups > 0; --groups, in += 128 * kG512, out += 128 * kG512) {
        __m512i n1[kG512], n2[kG512];
        for (int g = 0; g < kG512; ++g) {
            const __m512i a = _mm512_loadu_si512(in + 128 * g), b = _mm512_loadu_si512(in + 128 * g + 64);
            n1[g] = _mm512_permutex2var_epi32(a, even, b);
            n2[g] = _mm512_permutex2var_epi32(a, odd, b);
        }
        for (int r = 0; r < 32; r += 2) {
            const __m512i k0 = _mm512_set1_epi32(static_cast<int>(keys[r]));
            const __m512i k1 = _mm512_set1_epi32(static_cast<int>(keys[r + 1]));
            for (int g = 0; g < kG512; ++g)
                n2[g] = _mm512_xor_si512(n2[g], F512(_mm512_add_epi32(n1[g], k0), tlo, thi, pos, nib));
            for (int g = 0; g < kG512; ++g)
                n1[g] = _mm512_xor_si512(n1[g], F512(_mm512_add_epi32(n2[g], k1), tlo, thi, pos, nib));
        }
        // The halves leave exchanged: N1 is the last n2.
        for (int g = 0; g < kG512; ++g) {
            _mm512_storeu_si512(out + 128 * g, _mm512_permutex2var_epi32(n2[g], ilo, n1[g]));
            _mm512_storeu_si512(out + 128 * g + 64, _mm512_permutex2var_epi32(n2[g], ihi, n1[g]));
        }
    }
}

// ---- AVX2: 8 blocks per register, two register groups in flight. ----

constexpr int kG256 = 2;

struct Tabs256 {
    __m256i lo[4], hi[4], keep[4];
};

__attribute__((target("avx2"))) inline __m256i F256(__m256i x, const Tabs256 &t, __m256i nib) {
    const __m256i lo = _mm256_and_si256(x, nib);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(x, 4), nib);
    __m256i s = _mm256_setzero_si256();
    for (int b = 0; b < 4; ++b) {
        // keep[b] sets bit 7 in the other byte positions: VPSHUFB gives 0 there.
        s = _mm256_or_si256(s, _mm256_shuffle_epi8(t.lo[b], _mm256_or_si256(lo, t.keep[b])));
        s = _mm256_or_si256(s, _mm256_shuffle_epi8(t.hi[b], _mm256_or_si256(hi, t.keep[b])));
    }
    return _mm256_or_si256(_mm256_slli_epi32(s, 11), _mm256_srli_epi32(s, 21));
}

__attribute__((target("avx2"))) void Blocks256(const TGostCipher *c, const uint32_t *keys, const uint8_t *in,
                                               uint8_t *out, size_t groups) {
    NibbleTabs nt(c);
    Tabs256 t;
    for (int b = 0; b < 4; ++b) {
        t.lo[b] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(nt.lo + 16 * b)));
        t.hi[b] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(nt.hi + 16 * b)));
        t.keep[b] = _mm256_set1_epi32(static_cast<int>(0x80808080u & ~(0xFFu << (8 * b))));
    }
    const __m256i nib = _mm256_set1_epi8(0x0F);
    const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i join = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; groups > 0; --groups, in += 64 * kG256, out += 64 * kG256) {
        __m256i n1[kG256], n2[kG256];
        for (int g = 0; g < kG256; ++g) {
            const __m256i a = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 64 * g)), split);
            const __m256i b = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 64 * g + 32)), split);
            n1[g] = _mm256_permute2x128_si256(a, b, 0x20);
            n2[g] = _mm256_permute2x128_si256(a, b, 0x31);
        }
        for (int r = 0; r < 32; r += 2) {
            const __m256i k0 = _mm256_set1_epi32(static_cast<int>(keys[r]));
            const __m256i k1 = _mm256_set1_epi32(static_cast<int>(keys[r + 1]));
            for (int g = 0; g < kG256; ++g) n2[g] = _mm256_xor_si256(n2[g], F256(_mm256_add_epi32(n1[g], k0), t, nib));
            for (int g = 0; g < kG256; ++g) n1[g] = _mm256_xor_si256(n1[g], F256(_mm256_add_epi32(n2[g], k1), t, nib));
        }
        for (int g = 0; g < kG256; ++g) {
            const __m256i a = _mm256_permute2x128_si256(n2[g], n1[g], 0x20);
            const __m256i b = _mm256_permute2x128_si256(n2[g], n1[g], 0x31);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 64 * g), _mm256_permutevar8x32_epi32(a, join));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 64 * g + 32), _mm256_permutevar8x32_epi32(b, join));
        }
    }
    SecureWipe(&t, sizeof t);
}

int Detected() {
    static const int level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vbmi"))
            return 2;
        if (__builtin_cpu_supports("avx2")) return 1;
        return 0;
    }();
    return level;
}

#else

int Detected() { return 0; }

#endif

int Level() {
    const int d = Detected();
    return g_force >= 0 && g_force < d ? g_force : d;
}

}  // namespace

int MagmaWideLevelsAvailable() { return Detected(); }

bool MagmaWideActive() { return Level() > 0; }

void MagmaWideForce(int level) { g_force = level; }

const char *MagmaWidePath() {
    switch (Level()) {
    case 2: return "AVX-512 VBMI";
    case 1: return "AVX2";
    default: return "portable";
    }
}

size_t MagmaWideBlocks(const TGostCipher *c, bool decrypt, const uint8_t *in, uint8_t *out, size_t blocks) {
#if KCAR_WIDE_X86
    const uint32_t *keys = c->RoundKeys + (decrypt ? 16 : 0);
    switch (Level()) {
    case 2: {
        const size_t groups = blocks / (16 * kG512);
        if (groups) Blocks512(c, keys, in, out, groups);
        return groups * 16 * kG512;
    }
    case 1: {
        const size_t groups = blocks / (8 * kG256);
        if (groups) Blocks256(c, keys, in, out, groups);
        return groups * 8 * kG256;
    }
    default: break;
    }
#else
    (void)c, (void)decrypt, (void)in, (void)out, (void)blocks;
#endif
    return 0;
}

}  // namespace kcar::gost
