// Field arithmetic of GF(2^m) and the entry points shared by both bases.
//
// An element is 16 little-endian 32-bit words: bit i is bit i % 32 of word i / 32
// and, in the polynomial basis, the coefficient of x^i. A double element (an
// unreduced product of up to 2m - 1 bits) is 32 words in the same order. The field
// polynomial is x^m + x^K1 + x^K2 + x^K3 + 1 (K2 = K3 = 0 for a trinomial).
//
// Products go through the carry-less multiplier when the processor has one (see
// field_clmul.cpp) and through the portable 4-bit comb otherwise; both give the same
// words. In the optimal normal basis, products, squares, inverses and adding the
// unit go to field_onb.cpp.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

namespace {

int MaxMiddleExponent(const TEcc *ecc) {
    int64_t k = ecc->K1;
    if (ecc->K2 > k) k = ecc->K2;
    if (ecc->K3 > k) k = ecc->K3;
    return static_cast<int>(k);
}

// Adds t, whose bit 0 stands for bit position pos, into the double element c.
inline void FoldWord(uint32_t *c, uint32_t t, int pos) {
    const int w = pos >> 5, s = pos & 31;
    c[w] ^= t << s;
    if (s) c[w + 1] ^= t >> (32 - s);
}

void FoldAllOffsets(const TEcc *ecc, uint32_t *c, uint32_t t, int pos) {
    FoldWord(c, t, pos);
    FoldWord(c, t, pos + static_cast<int>(ecc->K1));
    if (ecc->K2 != 0) {
        FoldWord(c, t, pos + static_cast<int>(ecc->K2));
        FoldWord(c, t, pos + static_cast<int>(ecc->K3));
    }
}

void ClearAboveM(const TEcc *ecc, uint32_t *c) {
    const int m = static_cast<int>(ecc->M);
    const int top = m / 32;
    c[top] &= (1u << (m % 32)) - 1u;
    for (int i = top + 1; i < kDWords; ++i) c[i] = 0;
}

}  // namespace

int BitGet(const uint32_t *a, int i) { return (a[i >> 5] >> (i & 31)) & 1; }
int DBitGet(const uint32_t *c, int i) { return (c[i >> 5] >> (i & 31)) & 1; }
void BitSet(uint32_t *a, int i) { a[i >> 5] |= 1u << (i & 31); }
void BitNeg(uint32_t *c, int i) { c[i >> 5] ^= 1u << (i & 31); }
void DBaseClear(uint32_t *c) { std::memset(c, 0, sizeof(uint32_t) * kDWords); }

uint32_t bbtol(uint32_t v) {
    return (SquareByteTab[(v >> 8) & 0xFF] << 16) | SquareByteTab[v & 0xFF];
}

// Word by word from the top; valid when every middle exponent is more than 32
// below m, so that a folded word lands entirely below the word it came from.
void ReduceWordwise(const TEcc *ecc, uint32_t *c) {
    const int m = static_cast<int>(ecc->M);
    const int top = m / 32;
    for (int i = (2 * m - 1) / 32; i > top; --i) FoldAllOffsets(ecc, c, c[i], 32 * i - m);
    // No test of t: folding zeros changes nothing, and the words are secret in
    // the ladder.
    FoldAllOffsets(ecc, c, c[top] >> (m % 32), 0);
    ClearAboveM(ecc, c);
}

void ReduceBitwise(const TEcc *ecc, uint32_t *c) {
    const int m = static_cast<int>(ecc->M);
    for (int i = 2 * m - 2; i >= m; --i) {
        if (!DBitGet(c, i)) continue;
        const int b = i - m;
        BitNeg(c, b);
        BitNeg(c, b + static_cast<int>(ecc->K1));
        BitNeg(c, b + static_cast<int>(ecc->K2));
        BitNeg(c, b + static_cast<int>(ecc->K3));
    }
    ClearAboveM(ecc, c);
}

// Left-to-right comb over 4-bit windows of b. The multiple of a for a window,
// k(x) * a for the window's value k, is built from a, a*x, a*x^2 and a*x^3 under
// masks made from the window's bits, not read from a table indexed by them: b is
// secret in the ladder, and neither a branch nor an address may depend on it.
void CombMul(const TEcc *ecc, uint32_t *a, const uint32_t *b) {
    const int words = static_cast<int>(ecc->M) / 32;  // top word of b and of a
    const int n = words + 2;                           // words of a * x^3
    uint32_t sh[4][kWords + 1] = {};
    uint32_t c[kDWords] = {};
    std::memcpy(sh[0], a, sizeof(uint32_t) * kWords);
    for (int k = 1; k < 4; ++k)
        for (int w = n - 1; w >= 0; --w) sh[k][w] = (sh[k - 1][w] << 1) | (w ? sh[k - 1][w - 1] >> 31 : 0);
    for (int s = 28; s >= 0; s -= 4) {
        for (int j = 0; j <= words; ++j) {
            const uint32_t nib = b[j] >> s;
            const uint32_t m0 = 0u - (nib & 1u), m1 = 0u - ((nib >> 1) & 1u), m2 = 0u - ((nib >> 2) & 1u),
                           m3 = 0u - ((nib >> 3) & 1u);
            for (int w = 0; w < n; ++w)
                c[j + w] ^= (sh[0][w] & m0) ^ (sh[1][w] & m1) ^ (sh[2][w] & m2) ^ (sh[3][w] & m3);
        }
        if (s) BaseMulByXD4(c);
    }
    BaseReduction(ecc, c);
    std::memcpy(a, c, sizeof(uint32_t) * kWords);
    SecureWipe(sh, sizeof sh);
    SecureWipe(c, sizeof c);
}

namespace {

// The 16 bits of v moved to the even positions of 32, by shifts and masks (the
// squaring of secret values must not index a table by them).
inline uint32_t Spread16(uint32_t v) {
    v &= 0xFFFFu;
    v = (v | (v << 8)) & 0x00FF00FFu;
    v = (v | (v << 4)) & 0x0F0F0F0Fu;
    v = (v | (v << 2)) & 0x33333333u;
    v = (v | (v << 1)) & 0x55555555u;
    return v;
}

}  // namespace

void PortableSquare(const TEcc *ecc, uint32_t *a) {
    uint32_t c[kDWords];
    for (int i = 0; i < kWords; ++i) {
        c[2 * i] = Spread16(a[i]);
        c[2 * i + 1] = Spread16(a[i] >> 16);
    }
    BaseReduction(ecc, c);
    std::memcpy(a, c, sizeof(uint32_t) * kWords);
    SecureWipe(c, sizeof c);
}

void FieldMul(const TEcc *ecc, uint32_t *r, const uint32_t *a, const uint32_t *b) {
    if (ClmulUsable(ecc)) {
        ClmulMul(ecc, r, a, b);
        return;
    }
    uint32_t t[kWords];
    std::memcpy(t, a, sizeof t);
    BaseMul(ecc, t, b);
    std::memcpy(r, t, sizeof t);
    SecureWipe(t, sizeof t);
}

void FieldSquare(const TEcc *ecc, uint32_t *r, const uint32_t *a) {
    if (ClmulUsable(ecc)) {
        ClmulSquare(ecc, r, a);
        return;
    }
    if (r != a) std::memcpy(r, a, sizeof(uint32_t) * kWords);
    BaseSquare(ecc, r);
}

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API void BaseCopy(const uint32_t *src, uint32_t *dst) {
    std::memmove(dst, src, sizeof(uint32_t) * kWords);
}

KCARLIB_API void BaseClear(uint32_t *a) { std::memset(a, 0, sizeof(uint32_t) * kWords); }

KCARLIB_API void BaseSetOne(const TEcc *ecc, uint32_t *a) {
    BaseClear(a);
    if (!ecc->Onb) {
        a[0] = 1;
        return;
    }
    // Normal basis: the unit has all m coordinates set.
    const int m = static_cast<int>(ecc->M);
    for (int i = 0; i < m; ++i) BitSet(a, i);
}

KCARLIB_API int32_t BaseIsZero(const uint32_t *a) { return IntIsZero(a); }
KCARLIB_API int32_t BaseIsEqual(const uint32_t *a, const uint32_t *b) { return IntIsEqual(a, b); }
KCARLIB_API int32_t BaseDegree(const uint32_t *a) { return IntDegree(a); }

KCARLIB_API int32_t BaseOnField(const TEcc *ecc, const uint32_t *a) {
    const int64_t m = ecc->M;
    if (m <= 0 || m > 32 * kWords) return 0;
    for (int i = 0; i < kWords; ++i) {
        const int64_t low = 32 * static_cast<int64_t>(i);
        if (low >= m) {
            if (a[i]) return 0;
        } else if (m - low < 32 && (a[i] >> (m - low))) {
            return 0;
        }
    }
    return 1;
}

KCARLIB_API void BaseSum(uint32_t *a, const uint32_t *b) {
    for (int i = 0; i < kWords; ++i) a[i] ^= b[i];
}

KCARLIB_API void BaseSumShort(const TEcc *ecc, uint32_t *a, uint32_t v) {
    if (!ecc->Onb) {
        a[0] ^= v;
        return;
    }
    if (v == 0) return;
    // Normal basis: adding the unit complements the m coordinates.
    OnbBaseIncrement(a, static_cast<int>(ecc->M));
}

KCARLIB_API void BaseMulByX(uint32_t *a) {
    for (int i = kWords - 1; i > 0; --i) a[i] = (a[i] << 1) | (a[i - 1] >> 31);
    a[0] <<= 1;
}

KCARLIB_API void BaseDivByX(uint32_t *a) { IntDivBy2(a); }

KCARLIB_API void BaseMulByXn(uint32_t *a, int32_t n) {
    uint32_t r[kWords] = {};
    if (n >= 0) {
        const int w = n / 32, s = n % 32;
        for (int i = kWords - 1; i >= w; --i)
            r[i] = (a[i - w] << s) | (s && i - w > 0 ? a[i - w - 1] >> (32 - s) : 0);
    } else {
        const int64_t m = -static_cast<int64_t>(n);
        const int w = m >= 32 * kWords ? kWords : static_cast<int>(m / 32), s = static_cast<int>(m % 32);
        for (int i = 0; i + w < kWords; ++i)
            r[i] = (a[i + w] >> s) | (s && i + w + 1 < kWords ? a[i + w + 1] << (32 - s) : 0);
    }
    std::memcpy(a, r, sizeof r);
}

KCARLIB_API void BaseMulByXD4(uint32_t *c) {
    for (int i = kDWords - 1; i > 0; --i) c[i] = (c[i] << 4) | (c[i - 1] >> 28);
    c[0] <<= 4;
}

KCARLIB_API void BaseReduction(const TEcc *ecc, uint32_t *c) {
    // The word-wise method needs every middle exponent, not only K1, more than 32
    // below m: K2 and K3 are not required to be smaller than K1.
    const int k = MaxMiddleExponent(ecc);
    if (ecc->M - k > 32)
        ReduceWordwise(ecc, c);
    else
        ReduceBitwise(ecc, c);
}

KCARLIB_API void BaseMul(const TEcc *ecc, uint32_t *a, const uint32_t *b) {
    if (ecc->Onb) {
        if (const StdClmulField *f = OnbClmulField(static_cast<int>(ecc->M)))
            f->mul(a, a, b);
        else
            OnbBaseMul(a, b, static_cast<int>(ecc->M));
        return;
    }
    if (ClmulUsable(ecc))
        ClmulMul(ecc, a, a, b);
    else
        CombMul(ecc, a, b);
}

KCARLIB_API void BaseSquare(const TEcc *ecc, uint32_t *a) {
    if (ecc->Onb) {
        OnbBaseSquare(a, static_cast<int>(ecc->M));
        return;
    }
    if (ClmulUsable(ecc))
        ClmulSquare(ecc, a, a);
    else
        PortableSquare(ecc, a);
}

// a^(2^m - 2) by the Itoh-Tsujii chain over the bits of m - 1; 0 stays 0.
KCARLIB_API void BaseInverse(const TEcc *ecc, uint32_t *a) {
    if (ecc->Onb) {
        OnbBaseInverse(a, static_cast<int>(ecc->M));
        return;
    }
    const int e = static_cast<int>(ecc->M) - 1;
    const int t = 31 - __builtin_clz(static_cast<uint32_t>(e));
    uint32_t b[kWords], c[kWords];
    BaseCopy(a, b);
    int k = 1;
    for (int j = t - 1; j >= 0; --j) {
        BaseCopy(b, c);
        for (int i = 0; i < k; ++i) FieldSquare(ecc, c, c);
        FieldMul(ecc, b, b, c);
        k *= 2;
        if ((e >> j) & 1) {
            FieldSquare(ecc, b, b);
            FieldMul(ecc, b, b, a);
            k += 1;
        }
    }
    FieldSquare(ecc, a, b);
    kcar::SecureWipe(b, sizeof b);
    kcar::SecureWipe(c, sizeof c);
}

KCARLIB_API void BaseExp(const TEcc *ecc, uint32_t *a, const uint32_t *e) {
    uint32_t r[kWords];
    BaseSetOne(ecc, r);
    const int m = static_cast<int>(ecc->M);
    for (int i = 0; i < m; ++i) {
        if (BitGet(e, i)) FieldMul(ecc, r, r, a);
        FieldSquare(ecc, a, a);
    }
    BaseCopy(r, a);
    kcar::SecureWipe(r, sizeof r);
}

KCARLIB_API void BaseSquareRoot(const TEcc *ecc, const uint32_t *a, uint32_t *out) {
    uint32_t t[kWords];
    BaseCopy(a, t);
    for (int64_t i = 1; i < ecc->M; ++i) FieldSquare(ecc, t, t);
    BaseCopy(t, out);
}

KCARLIB_API int32_t BaseTrace(const TEcc *ecc, const uint32_t *a) {
    uint32_t t[kWords];
    BaseCopy(a, t);
    for (int64_t i = 1; i < ecc->M; ++i) {
        FieldSquare(ecc, t, t);
        BaseSum(t, a);
    }
    return static_cast<int32_t>(t[0] & 1u);
}

KCARLIB_API void BaseHalfTrace(const TEcc *ecc, const uint32_t *a, uint32_t *out) {
    uint32_t h[kWords];
    BaseCopy(a, h);
    for (int64_t i = 0; i < (ecc->M - 1) / 2; ++i) {
        FieldSquare(ecc, h, h);
        FieldSquare(ecc, h, h);
        BaseSum(h, a);
    }
    BaseCopy(h, out);
}

KCARLIB_API int32_t BaseRootOfQuadraticEq(const TEcc *ecc, const uint32_t *u, const uint32_t *w,
                                          uint32_t *z) {
    if (BaseIsZero(u)) {
        BaseSquareRoot(ecc, w, z);
        return 1;
    }
    if (BaseIsZero(w)) {
        BaseClear(z);
        return 2;
    }
    uint32_t v[kWords], t[kWords];
    FieldSquare(ecc, t, u);
    BaseInverse(ecc, t);
    FieldMul(ecc, v, w, t);
    if (BaseTrace(ecc, v)) {
        BaseClear(z);
        return 0;
    }
    BaseHalfTrace(ecc, v, t);
    FieldMul(ecc, z, t, u);
    return 2;
}

KCARLIB_API void BaseGcd(uint32_t *a, const uint32_t *b) {
    uint32_t x[kWords], y[kWords];
    // x is the working value, y the divisor; on equal degree a is the divisor.
    if (BaseDegree(a) > BaseDegree(b)) {
        BaseCopy(a, x);
        BaseCopy(b, y);
    } else {
        BaseCopy(b, x);
        BaseCopy(a, y);
    }
    while (!BaseIsZero(y)) {
        const int dy = BaseDegree(y);
        while (!BaseIsZero(x) && BaseDegree(x) >= dy) {
            uint32_t s[kWords];
            BaseCopy(y, s);
            BaseMulByXn(s, BaseDegree(x) - dy);
            BaseSum(x, s);
        }
        uint32_t t[kWords];
        BaseCopy(x, t);
        BaseCopy(y, x);
        BaseCopy(t, y);
    }
    BaseCopy(x, a);
}

}  // extern "C"
