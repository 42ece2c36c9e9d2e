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
#include <tmmintrin.h>
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

// Products of N-word polynomials (64-bit words, least significant first) into 2N
// words.
template <int N>
struct ClmulWords {
    // The diagonal products a_i b_i, and for each pair i < j the cross terms
    // a_i b_j + a_j b_i = (a_i + a_j)(b_i + b_j) + a_i b_i + a_j b_j.
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
};

template <int M, int K1, int K2, int K3>
struct StdField {
    static constexpr int N = (M + 63) / 64;

    static KCAR_INLINE void MulWide(uint64_t *c, const uint64_t *a, const uint64_t *b) {
        ClmulWords<N>::MulWide(c, a, b);
    }
    static KCAR_INLINE void SqrWide(uint64_t *c, const uint64_t *a) { ClmulWords<N>::SqrWide(c, a); }

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

// ---- Optimal normal basis, through the palindromic form ----
//
// With p = 2m + 1 and g a p-th root of unity, the basis element B^(2^i) is
// g^e + g^-e (e = 2^i mod p), so an element is sum over j = 1..m of c_j (g^j +
// g^-j): m bits c_1..c_m (a permutation of the normal-basis coordinates), kept
// at bit positions 1..m. Products are polynomial products modulo g^p - 1: with
// A(g) = sum a_j g^j, a*b = A B + A(1/g) B(1/g) + A(g) B(1/g) + A(1/g) B(g), so
// two carry-less products of (m + 1)-bit polynomials, P = A B and Q = A rev(B)
// (rev(B) has b_(m+1-k) at bit k), give c_j = P_j + P_(p-j) + Q_(j+m+1) +
// Q_(m+1-j). Squaring is A(g^2) + A(1/g^2): one spread and one fold.

KCAR_INLINE uint64_t Rev64(uint64_t x) {
    x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    return __builtin_bswap64(x);
}

// The 128 bits of x in reverse order: nibbles through a table, then the bytes.
KCAR_INLINE __m128i Rev128(__m128i x) {
    const __m128i nib = _mm_set1_epi8(0x0F);
    const __m128i rev_lo = _mm_setr_epi8(0x00, 0x08, 0x04, 0x0C, 0x02, 0x0A, 0x06, 0x0E, 0x01, 0x09, 0x05, 0x0D,
                                         0x03, 0x0B, 0x07, 0x0F);
    const __m128i rev_hi = _mm_slli_epi16(rev_lo, 4);
    const __m128i lo = _mm_and_si128(x, nib), hi = _mm_and_si128(_mm_srli_epi16(x, 4), nib);
    const __m128i r = _mm_or_si128(_mm_shuffle_epi8(rev_hi, lo), _mm_shuffle_epi8(rev_lo, hi));
    return _mm_shuffle_epi8(r, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
}

// Where each normal-basis coordinate q sits in the palindromic form.
template <int M>
struct PalPositions {
    uint16_t j[M];
    constexpr PalPositions() : j{} {
        const int p = 2 * M + 1;
        int e = 1;  // 2^i mod p
        for (int i = 0; i < M; ++i) {
            j[(M - i) % M] = static_cast<uint16_t>(e <= M ? e : p - e);
            e = 2 * e % p;
        }
    }
};

template <int M>
struct PalField {
    static constexpr int N = (M + 1 + 63) / 64;
    static constexpr PalPositions<M> kPos{};

    // r = bits from..from+63N-1 of the W-word value x, i.e. x shifted by `from`
    // (negative: to the left), N words.
    template <int W, int From>
    static KCAR_INLINE void Shifted(uint64_t *r, const uint64_t *x) {
        if constexpr (From >= 0) {
            constexpr int ws = From / 64, bs = From % 64;
#pragma GCC unroll 16
            for (int i = 0; i < N; ++i) {
                const uint64_t lo = i + ws < W ? x[i + ws] : 0;
                const uint64_t hi = i + ws + 1 < W ? x[i + ws + 1] : 0;
                r[i] = bs ? (lo >> bs) | (hi << (64 - bs)) : lo;
            }
        } else {
            constexpr int bs = -From;  // at most a few bits
            static_assert(bs < 64, "shift");
#pragma GCC unroll 16
            for (int i = N - 1; i >= 0; --i) r[i] = (x[i] << bs) | (i ? x[i - 1] >> (64 - bs) : 0);
        }
    }

    // Keeps bits 1..m.
    static KCAR_INLINE void Keep(uint64_t *x) {
        x[0] &= ~uint64_t{1};
        if constexpr ((M + 1) % 64 != 0) x[N - 1] &= (uint64_t{1} << ((M + 1) % 64)) - 1;
    }

    // r_k = x_(m+1-k) for k = 1..m; x has nothing outside bits 1..m.
    static KCAR_INLINE void Reverse(uint64_t *r, const uint64_t *x) {
        uint64_t t[N];
        // Word i of the reversal is word N - 1 - i reversed, two words at a time.
#pragma GCC unroll 16
        for (int i = 0; i + 1 < N; i += 2) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + N - 2 - i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(t + i), Rev128(v));
        }
        if constexpr (N % 2) t[N - 1] = Rev64(x[0]);
        Shifted<N, 64 * N - 2 - M>(r, t);  // bit k went to 64N - 1 - k
        Keep(r);
    }

    // The two unfolded products P = A B and Q = A rev(B), given rev(B) as br.
    static KCAR_INLINE void MulRaw(uint64_t *p, uint64_t *q, const uint64_t *a, const uint64_t *b,
                                   const uint64_t *br) {
        ClmulWords<N>::MulWide(p, a, b);
        ClmulWords<N>::MulWide(q, a, br);
    }

    // c_j = P_j + P_(p-j) + Q_(j+m+1) + Q_(m+1-j). Linear in (P, Q), so sums of
    // products may be folded once.
    static KCAR_INLINE void Fold(uint64_t *c, const uint64_t *p, const uint64_t *q) {
        uint64_t u[N], v[N], w[N];
        Shifted<2 * N, M>(u, p);  // u_k = P_(m+k)
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) w[i] = u[i] ^ q[i];  // + Q_k
        Keep(w);
        Reverse(u, w);
        Shifted<2 * N, M + 1>(v, q);  // v_j = Q_(j+m+1)
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) c[i] = p[i] ^ v[i] ^ u[i];
        Keep(c);
    }

    static KCAR_INLINE void Mul(uint64_t *c, const uint64_t *a, const uint64_t *b) {
        uint64_t br[N], p[2 * N], q[2 * N];
        Reverse(br, b);
        MulRaw(p, q, a, b, br);
        Fold(c, p, q);
    }

    // A square is A(g^2) + A(1/g^2): the fold with Q = 0.
    static KCAR_INLINE void Sqr(uint64_t *c, const uint64_t *a) {
        uint64_t s[2 * N], u[N], r[N];
        ClmulWords<N>::SqrWide(s, a);
        Shifted<2 * N, M>(u, s);
        Keep(u);
        Reverse(r, u);
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) c[i] = s[i] ^ r[i];
        Keep(c);
    }

    static KCAR_INLINE void Add(uint64_t *a, const uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) a[i] ^= b[i];
    }

    static KCAR_INLINE void AddWide(uint64_t *a, const uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < 2 * N; ++i) a[i] ^= b[i];
    }

    static void ToPal(uint64_t *r, const uint32_t *a) {
        for (int i = 0; i < N; ++i) r[i] = 0;
        for (int q = 0; q < M; ++q) {
            const uint64_t bit = (a[q >> 5] >> (q & 31)) & 1u;
            const int j = kPos.j[q];
            r[j >> 6] |= bit << (j & 63);
        }
    }

    static void FromPal(uint32_t *r, const uint64_t *a) {
        std::memset(r, 0, sizeof(uint32_t) * kWords);
        for (int q = 0; q < M; ++q) {
            const int j = kPos.j[q];
            r[q >> 5] |= static_cast<uint32_t>((a[j >> 6] >> (j & 63)) & 1u) << (q & 31);
        }
    }

    static void SetOne(uint64_t *a) {
        for (int i = 0; i < N; ++i) a[i] = ~uint64_t{0};
        Keep(a);
    }

    static void MulOut(uint32_t *r, const uint32_t *a, const uint32_t *b) {
        uint64_t x[N], y[N];
        ToPal(x, a);
        ToPal(y, b);
        Mul(x, x, y);
        FromPal(r, x);
        SecureWipe(x, sizeof x);
        SecureWipe(y, sizeof y);
    }

    static void SqrOut(uint32_t *r, const uint32_t *a) {
        if (r != a) std::memcpy(r, a, sizeof(uint32_t) * kWords);
        OnbBaseSquare(r, M);
    }

    static KCAR_INLINE void CondSwap(uint64_t mask, uint64_t *a, uint64_t *b) {
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const uint64_t t = (a[i] ^ b[i]) & mask;
            a[i] ^= t;
            b[i] ^= t;
        }
    }

    // The ladder of EccScalarMul in the palindromic form; x, b and out in the
    // normal basis.
    static void Ladder(const uint32_t *k, const uint32_t *xp, const uint32_t *bp, uint32_t (*out)[kWords]) {
        struct {
            uint64_t x[N], xr[N], b[N], br[N], x1[N], z1[N], x2[N], z2[N], u[N], v[N];
            uint64_t p1[2 * N], q1[2 * N], p2[2 * N], q2[2 * N];
        } s = {};
        ToPal(s.x, xp);
        ToPal(s.b, bp);
        Reverse(s.xr, s.x);  // x and b are the second operand of their products
        Reverse(s.br, s.b);
        SetOne(s.x1);
        std::memcpy(s.x2, s.x, sizeof s.x2);
        SetOne(s.z2);
        uint64_t swapped = 0;
        for (int j = M - 1; j >= 0; --j) {
            const uint64_t bit = (k[j >> 5] >> (j & 31)) & 1u;
            const uint64_t mask = 0 - (swapped ^ bit);
            CondSwap(mask, s.x1, s.x2);
            CondSwap(mask, s.z1, s.z2);
            swapped = bit;
            // Madd; X2 = Z2 x + T folded once.
            Mul(s.x2, s.x2, s.z1);
            Mul(s.z2, s.z2, s.x1);
            Reverse(s.u, s.z2);
            MulRaw(s.p1, s.q1, s.x2, s.z2, s.u);
            Add(s.z2, s.x2);
            Sqr(s.z2, s.z2);
            MulRaw(s.p2, s.q2, s.z2, s.x, s.xr);
            AddWide(s.p1, s.p2);
            AddWide(s.q1, s.q2);
            Fold(s.x2, s.p1, s.q1);
            // Mdbl; X1 = X1^4 + b Z1^4 folded once.
            Sqr(s.u, s.x1);
            Sqr(s.v, s.z1);
            Mul(s.z1, s.u, s.v);
            Sqr(s.v, s.v);
            ClmulWords<N>::SqrWide(s.p1, s.u);
            MulRaw(s.p2, s.q2, s.v, s.b, s.br);
            AddWide(s.p1, s.p2);
            Fold(s.x1, s.p1, s.q2);
        }
        const uint64_t mask = 0 - swapped;
        CondSwap(mask, s.x1, s.x2);
        CondSwap(mask, s.z1, s.z2);
        FromPal(out[0], s.x1);
        FromPal(out[1], s.z1);
        FromPal(out[2], s.x2);
        FromPal(out[3], s.z2);
        SecureWipe(&s, sizeof s);
        SecureWipe(&swapped, sizeof swapped);
    }

    static constexpr StdClmulField kOps = {M, 0, 0, 0, MulOut, SqrOut, Ladder};
};

constexpr const StdClmulField *kOnbFields[] = {
    &PalField<173>::kOps, &PalField<179>::kOps, &PalField<191>::kOps, &PalField<233>::kOps,
    &PalField<239>::kOps, &PalField<251>::kOps, &PalField<281>::kOps, &PalField<293>::kOps,
    &PalField<359>::kOps, &PalField<419>::kOps, &PalField<431>::kOps, &PalField<443>::kOps,
    &PalField<491>::kOps, &PalField<509>::kOps,
};

constexpr const StdClmulField *kStdFields[] = {
    &StdField<163, 7, 6, 3>::kOps,   &StdField<167, 6, 0, 0>::kOps,   &StdField<173, 10, 2, 1>::kOps,
    &StdField<179, 4, 2, 1>::kOps,   &StdField<191, 9, 0, 0>::kOps,   &StdField<233, 9, 4, 1>::kOps,
    &StdField<257, 12, 0, 0>::kOps,  &StdField<307, 8, 4, 2>::kOps,   &StdField<367, 21, 0, 0>::kOps,
    &StdField<431, 5, 3, 1>::kOps,   &StdField<509, 23, 3, 2>::kOps,
};

}  // namespace

const StdClmulField *OnbClmulField(int m) {
    if (!ClmulAvailable()) return nullptr;
    for (const StdClmulField *f : kOnbFields)
        if (f->m == m) return f;
    return nullptr;
}

const StdClmulField *StdClmulFieldFor(const TEcc *ecc) {
    if (ecc->Onb) return OnbClmulField(static_cast<int>(ecc->M));
    if (!ClmulUsable(ecc)) return nullptr;
    for (const StdClmulField *f : kStdFields)
        if (f->m == ecc->M && f->k1 == ecc->K1 && f->k2 == ecc->K2 && f->k3 == ecc->K3) return f;
    return nullptr;
}

#else

const StdClmulField *StdClmulFieldFor(const TEcc *) { return nullptr; }
const StdClmulField *OnbClmulField(int) { return nullptr; }

#endif

}  // namespace kcar::ecc
