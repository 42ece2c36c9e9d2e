// Carry-less arithmetic specialised for the field polynomials of the standard
// curves: m and the middle exponents are template arguments, so the product is
// an unrolled Karatsuba over 64-bit words in registers and the reduction a
// straight run of constant shifts. The scalar-multiplication ladder is
// instantiated over each field, with all products inlined into it.
//
// Elements inside are (m + 63) / 64 little-endian 64-bit words; outside, the
// usual 16 little-endian 32-bit words (the same bytes on a little-endian machine).
// Nothing here branches on or indexes memory by the values.
//
// This file alone (with field_clmul.cpp) is built for PCLMULQDQ; StdClmulFieldFor
// answers null unless the processor has it.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#include <wmmintrin.h>
#define KCAR_STD_CLMUL 1
#endif

namespace kcar::ecc {

#if KCAR_STD_CLMUL

namespace {

#define KCAR_INLINE inline __attribute__((always_inline))

KCAR_INLINE __m128i Clmul(uint64_t a, uint64_t b) {
    return _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(a)),
                                _mm_cvtsi64_si128(static_cast<long long>(b)), 0x00);
}

template <int M, int K1, int K2, int K3>
struct StdField {
    static constexpr int N = (M + 63) / 64;

    // c (2N words) = a * b: the diagonal products a_i b_i, and for each pair i < j
    // the cross terms a_i b_j + a_j b_i = (a_i + a_j)(b_i + b_j) + a_i b_i + a_j b_j.
    static KCAR_INLINE void MulWide(uint64_t *c, const uint64_t *a, const uint64_t *b) {
        __m128i d[N], acc[2 * N - 1];
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) d[i] = Clmul(a[i], b[i]);
#pragma GCC unroll 16
        for (int k = 0; k < 2 * N - 1; ++k) acc[k] = _mm_setzero_si128();
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            acc[2 * i] = _mm_xor_si128(acc[2 * i], d[i]);
#pragma GCC unroll 16
            for (int j = i + 1; j < N; ++j) {
                const __m128i e = Clmul(a[i] ^ a[j], b[i] ^ b[j]);
                acc[i + j] = _mm_xor_si128(acc[i + j], _mm_xor_si128(e, _mm_xor_si128(d[i], d[j])));
            }
        }
        Collect(c, acc);
    }

    static KCAR_INLINE void SqrWide(uint64_t *c, const uint64_t *a) {
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const __m128i s = Clmul(a[i], a[i]);
            c[2 * i] = static_cast<uint64_t>(_mm_cvtsi128_si64(s));
            c[2 * i + 1] = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
        }
    }

    // 128-bit partial products at word offsets 0..2N-2 into 2N words.
    static KCAR_INLINE void Collect(uint64_t *c, const __m128i *acc) {
        uint64_t hi_prev = 0;
#pragma GCC unroll 16
        for (int k = 0; k < 2 * N - 1; ++k) {
            c[k] = static_cast<uint64_t>(_mm_cvtsi128_si64(acc[k])) ^ hi_prev;
            hi_prev = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc[k], acc[k])));
        }
        c[2 * N - 1] = hi_prev;
    }

    // Adds t, standing for bit position pos, into c; pos is a constant after unrolling.
    static KCAR_INLINE void Fold(uint64_t *c, uint64_t t, int pos) {
        const int w = pos >> 6, s = pos & 63;
        c[w] ^= t << s;
        if (s) c[w + 1] ^= t >> (64 - s);
    }

    static KCAR_INLINE void FoldTerms(uint64_t *c, uint64_t t, int pos) {
        Fold(c, t, pos);
        Fold(c, t, pos + K1);
        if (K2) {
            Fold(c, t, pos + K2);
            Fold(c, t, pos + K3);
        }
    }

    // r (N words) = c (2N words, up to 2m - 1 bits) mod f; every word is folded.
    static KCAR_INLINE void Reduce(uint64_t *r, uint64_t *c) {
        constexpr int mw = M / 64, mb = M % 64;
#pragma GCC unroll 16
        for (int i = 2 * N - 1; i > mw; --i) FoldTerms(c, c[i], 64 * i - M);
        FoldTerms(c, c[mw] >> mb, 0);
        c[mw] &= (uint64_t{1} << mb) - 1;
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) r[i] = c[i];
    }

    static KCAR_INLINE void Mul(uint64_t *r, const uint64_t *a, const uint64_t *b) {
        uint64_t c[2 * N];
        MulWide(c, a, b);
        Reduce(r, c);
    }

    static KCAR_INLINE void Sqr(uint64_t *r, const uint64_t *a) {
        uint64_t c[2 * N];
        SqrWide(c, a);
        Reduce(r, c);
    }

    static KCAR_INLINE void Load(uint64_t *r, const uint32_t *a) { std::memcpy(r, a, 8 * N); }
    static KCAR_INLINE void Store(uint32_t *r, const uint64_t *a) {
        std::memset(r, 0, sizeof(uint32_t) * kWords);
        std::memcpy(r, a, 8 * N);
    }

    static void MulOut(uint32_t *r, const uint32_t *a, const uint32_t *b) {
        uint64_t x[N], y[N];
        Load(x, a);
        Load(y, b);
        Mul(x, x, y);
        Store(r, x);
    }

    static void SqrOut(uint32_t *r, const uint32_t *a) {
        uint64_t x[N];
        Load(x, a);
        Sqr(x, x);
        Store(r, x);
    }

    static KCAR_INLINE void Add(uint64_t *a, const uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) a[i] ^= b[i];
    }

    static KCAR_INLINE void AddWide(uint64_t *a, const uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < 2 * N; ++i) a[i] ^= b[i];
    }

    static KCAR_INLINE void CondSwap(uint64_t mask, uint64_t *a, uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const uint64_t t = (a[i] ^ b[i]) & mask;
            a[i] ^= t;
            b[i] ^= t;
        }
    }

    // The Montgomery ladder of EccScalarMul over bits m-1..0 of k, from (1, 0) and
    // (x, 1): out receives X1, Z1, X2, Z2 in 16-word form.
    static void Ladder(const uint32_t *k, const uint32_t *xp, const uint32_t *bp, uint32_t (*out)[kWords]) {
        struct {
            uint64_t x[N], b[N], x1[N], z1[N], x2[N], z2[N], u[N], v[N], w1[2 * N], w2[2 * N];
        } s = {};
        Load(s.x, xp);
        Load(s.b, bp);
        s.x1[0] = 1;
        Load(s.x2, xp);
        s.z2[0] = 1;
        uint64_t swapped = 0;
        for (int j = M - 1; j >= 0; --j) {
            const uint64_t bit = (k[j >> 5] >> (j & 31)) & 1u;
            const uint64_t mask = 0 - (swapped ^ bit);
            CondSwap(mask, s.x1, s.x2);
            CondSwap(mask, s.z1, s.z2);
            swapped = bit;
            // Madd; X2 = x Z2 + T with one reduction of the sum of both products.
            Mul(s.x2, s.x2, s.z1);
            Mul(s.z2, s.z2, s.x1);
            MulWide(s.w1, s.x2, s.z2);
            Add(s.z2, s.x2);
            Sqr(s.z2, s.z2);
            MulWide(s.w2, s.x, s.z2);
            AddWide(s.w1, s.w2);
            Reduce(s.x2, s.w1);
            // Mdbl; X1 = X1^4 + b Z1^4, again one reduction for the sum.
            Sqr(s.u, s.x1);
            Sqr(s.v, s.z1);
            Mul(s.z1, s.u, s.v);
            Sqr(s.v, s.v);
            SqrWide(s.w1, s.u);
            MulWide(s.w2, s.v, s.b);
            AddWide(s.w1, s.w2);
            Reduce(s.x1, s.w1);
        }
        const uint64_t mask = 0 - swapped;
        CondSwap(mask, s.x1, s.x2);
        CondSwap(mask, s.z1, s.z2);
        Store(out[0], s.x1);
        Store(out[1], s.z1);
        Store(out[2], s.x2);
        Store(out[3], s.z2);
        SecureWipe(&s, sizeof s);
        SecureWipe(&swapped, sizeof swapped);
    }

    static constexpr StdClmulField kOps = {M, K1, K2, K3, MulOut, SqrOut, Ladder};
};

constexpr const StdClmulField *kStdFields[] = {
    &StdField<163, 7, 6, 3>::kOps,   &StdField<167, 6, 0, 0>::kOps,   &StdField<173, 10, 2, 1>::kOps,
    &StdField<179, 4, 2, 1>::kOps,   &StdField<191, 9, 0, 0>::kOps,   &StdField<233, 9, 4, 1>::kOps,
    &StdField<257, 12, 0, 0>::kOps,  &StdField<307, 8, 4, 2>::kOps,   &StdField<367, 21, 0, 0>::kOps,
    &StdField<431, 5, 3, 1>::kOps,   &StdField<509, 23, 3, 2>::kOps,
};

}  // namespace

const StdClmulField *StdClmulFieldFor(const TEcc *ecc) {
    if (!ClmulUsable(ecc)) return nullptr;
    for (const StdClmulField *f : kStdFields)
        if (f->m == ecc->M && f->k1 == ecc->K1 && f->k2 == ecc->K2 && f->k3 == ecc->K3) return f;
    return nullptr;
}

#else

const StdClmulField *StdClmulFieldFor(const TEcc *) { return nullptr; }

#endif

}  // namespace kcar::ecc
