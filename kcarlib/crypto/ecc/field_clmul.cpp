// Field multiplication and squaring with the x86 carry-less multiplier.
//
// Elements keep their 16-word layout (little-endian 32-bit words, bit i of the
// element is the coefficient of x^i); on a little-endian machine word pairs read as
// 64-bit words, so an element of m bits is (m + 63) / 64 such words. The product
// of two of them is formed word by word with PCLMULQDQ into 2 * (m + 63) / 64 words
// and reduced 64 bits at a time: a word above x^m is folded down once per term of
// the field polynomial. That is only valid when every middle exponent lies at least
// 64 below m (all table polynomials do); other fields stay on the portable path.
//
// This file alone is compiled for PCLMULQDQ; ClmulUsable (field_poly.cpp side) checks
// the processor before anything here runs.
#include <cstring>
#include <new>

#include "crypto/ecc/ecc_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <wmmintrin.h>
#include <emmintrin.h>
#define KCAR_HAVE_CLMUL 1
#endif

namespace kcar::ecc {

namespace {

bool g_force_off = false;

#if KCAR_HAVE_CLMUL
bool CpuHasClmul() {
    static const bool has = [] {
        __builtin_cpu_init();
        // The normal-basis path also shuffles bytes with SSSE3, which every
        // processor with PCLMULQDQ has.
        return __builtin_cpu_supports("pclmul") != 0 && __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}
#endif

// Adds t, whose bit 0 stands for bit position pos, into c.
inline void Fold(uint64_t *c, uint64_t t, int pos) {
    const int w = pos >> 6, s = pos & 63;
    c[w] ^= t << s;
    if (s) c[w + 1] ^= t >> (64 - s);
}

}  // namespace

struct Reducer {
    int m;
    int nk;
    int k[3];

    explicit Reducer(const TEcc *ecc) : m(static_cast<int>(ecc->M)), nk(1) {
        k[0] = static_cast<int>(ecc->K1);
        k[1] = k[2] = 0;
        if (ecc->K2 != 0) {
            k[1] = static_cast<int>(ecc->K2);
            k[2] = static_cast<int>(ecc->K3);
            nk = 3;
        }
    }

    inline void FoldTerms(uint64_t *c, uint64_t t, int pos) const {
        Fold(c, t, pos);
        for (int i = 0; i < nk; ++i) Fold(c, t, pos + k[i]);
    }

    // c holds 2 * n words; the reduced element goes to r (16 words).
    void Reduce(uint64_t *c, int n, uint32_t *r) const {
        const int mw = m >> 6, mb = m & 63;
        // Every word is folded, zero or not: the words are secret in the ladder.
        for (int i = 2 * n - 1; i > mw; --i) FoldTerms(c, c[i], 64 * i - m);
        FoldTerms(c, c[mw] >> mb, 0);
        c[mw] &= (uint64_t{1} << mb) - 1;
        uint64_t out[8] = {};
        for (int i = 0; i <= mw; ++i) out[i] = c[i];
        std::memcpy(r, out, sizeof out);
    }
};

namespace {

#if KCAR_HAVE_CLMUL
inline __m128i Load64(const uint32_t *p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}

template <int N>
inline void MulWords(uint64_t *c, const uint32_t *a, const uint32_t *b) {
    __m128i x[N], y[N], acc[2 * N - 1];
    for (int i = 0; i < N; ++i) {
        x[i] = Load64(a + 2 * i);
        y[i] = Load64(b + 2 * i);
    }
    for (int i = 0; i < 2 * N - 1; ++i) acc[i] = _mm_setzero_si128();
    for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j)
            acc[i + j] = _mm_xor_si128(acc[i + j], _mm_clmulepi64_si128(x[i], y[j], 0x00));
    alignas(16) uint64_t part[2 * N - 1][2];
    for (int i = 0; i < 2 * N - 1; ++i)
        _mm_store_si128(reinterpret_cast<__m128i *>(part[i]), acc[i]);
    c[0] = part[0][0];
    for (int i = 1; i < 2 * N - 1; ++i) c[i] = part[i][0] ^ part[i - 1][1];
    c[2 * N - 1] = part[2 * N - 2][1];
}

template <int N>
inline void SquareWords(uint64_t *c, const uint32_t *a) {
    for (int i = 0; i < N; ++i) {
        const __m128i x = Load64(a + 2 * i);
        alignas(16) uint64_t part[2];
        _mm_store_si128(reinterpret_cast<__m128i *>(part), _mm_clmulepi64_si128(x, x, 0x00));
        c[2 * i] = part[0];
        c[2 * i + 1] = part[1];
    }
}

template <int N>
void MulN(const TEcc *ecc, uint32_t *r, const uint32_t *a, const uint32_t *b) {
    uint64_t c[2 * N];
    MulWords<N>(c, a, b);
    Reducer(ecc).Reduce(c, N, r);
}

template <int N>
void SquareN(const TEcc *ecc, uint32_t *r, const uint32_t *a) {
    uint64_t c[2 * N];
    SquareWords<N>(c, a);
    Reducer(ecc).Reduce(c, N, r);
}
#endif

#if KCAR_HAVE_CLMUL
template <int N>
void FieldMulN(const ClmulField &f, uint32_t *r, const uint32_t *a, const uint32_t *b) {
    uint64_t c[2 * N];
    MulWords<N>(c, a, b);
    f.reducer->Reduce(c, N, r);
}

template <int N>
void FieldSquareN(const ClmulField &f, uint32_t *r, const uint32_t *a) {
    uint64_t c[2 * N];
    SquareWords<N>(c, a);
    f.reducer->Reduce(c, N, r);
}
#endif

}  // namespace

void ClmulForceOff(bool off) { g_force_off = off; }

bool ClmulAvailable() {
#if KCAR_HAVE_CLMUL
    return !g_force_off && CpuHasClmul();
#else
    return false;
#endif
}

bool ClmulFieldFor(const TEcc *ecc, ClmulField *f) {
#if KCAR_HAVE_CLMUL
    if (!ClmulUsable(ecc)) return false;
    static_assert(sizeof(Reducer) <= sizeof(f->reducer_storage), "reducer storage");
    f->reducer = new (f->reducer_storage) Reducer(ecc);
    switch ((ecc->M + 63) / 64) {
    case 3: f->mul = FieldMulN<3>, f->sqr = FieldSquareN<3>; break;
    case 4: f->mul = FieldMulN<4>, f->sqr = FieldSquareN<4>; break;
    case 5: f->mul = FieldMulN<5>, f->sqr = FieldSquareN<5>; break;
    case 6: f->mul = FieldMulN<6>, f->sqr = FieldSquareN<6>; break;
    case 7: f->mul = FieldMulN<7>, f->sqr = FieldSquareN<7>; break;
    default: f->mul = FieldMulN<8>, f->sqr = FieldSquareN<8>; break;
    }
    return true;
#else
    (void)ecc, (void)f;
    return false;
#endif
}

bool ClmulUsable(const TEcc *ecc) {
#if KCAR_HAVE_CLMUL
    if (g_force_off || ecc->Onb || ecc->M < 129 || ecc->M > 512) return false;
    if (ecc->M - ecc->K1 < 64 || ecc->M - ecc->K2 < 64 || ecc->M - ecc->K3 < 64) return false;
    if (ecc->K1 <= 0 || ecc->K2 < 0 || ecc->K3 < 0) return false;
    return CpuHasClmul();
#else
    (void)ecc;
    return false;
#endif
}

void ClmulMul(const TEcc *ecc, uint32_t *r, const uint32_t *a, const uint32_t *b) {
#if KCAR_HAVE_CLMUL
    if (const StdClmulField *f = StdClmulFieldFor(ecc)) {
        f->mul(r, a, b);
        return;
    }
    switch ((ecc->M + 63) / 64) {
    case 3: MulN<3>(ecc, r, a, b); return;
    case 4: MulN<4>(ecc, r, a, b); return;
    case 5: MulN<5>(ecc, r, a, b); return;
    case 6: MulN<6>(ecc, r, a, b); return;
    case 7: MulN<7>(ecc, r, a, b); return;
    default: MulN<8>(ecc, r, a, b); return;
    }
#else
    (void)ecc, (void)r, (void)a, (void)b;
#endif
}

void ClmulSquare(const TEcc *ecc, uint32_t *r, const uint32_t *a) {
#if KCAR_HAVE_CLMUL
    if (const StdClmulField *f = StdClmulFieldFor(ecc)) {
        f->sqr(r, a);
        return;
    }
    switch ((ecc->M + 63) / 64) {
    case 3: SquareN<3>(ecc, r, a); return;
    case 4: SquareN<4>(ecc, r, a); return;
    case 5: SquareN<5>(ecc, r, a); return;
    case 6: SquareN<6>(ecc, r, a); return;
    case 7: SquareN<7>(ecc, r, a); return;
    default: SquareN<8>(ecc, r, a); return;
    }
#else
    (void)ecc, (void)r, (void)a;
#endif
}

}  // namespace kcar::ecc
