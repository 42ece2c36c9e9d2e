// Arithmetic of GF(2^m) in the optimal normal basis of type II, for the 14 degrees
// that have one (2m + 1 prime, 2 generating the squares modulo 2m + 1 or all of
// its units).
//
// With p = 2m + 1, g a primitive p-th root of unity and B = g + 1/g, the basis is
// B, B^2, B^4, ..., B^(2^(m - 1)). Bit q of an element holds the coefficient of
// B^(2^((m - q) mod m)): bit 0 that of B, bit m - 1 that of B^2, bit 1 that of
// B^(2^(m - 1)). So squaring moves every coefficient one bit down, cyclically, and
// the unit has all m bits set.
//
// Product rule, indices modulo m: c_q = a_q b_(q-1) + sum over d = 1..m-1 of
// a_(q-d) (b_(q-t1(d)) + b_(q-t2(d))), where t1(d), t2(d) are the two t with
// 2^d + 2^t or 2^d - 2^t equal to +-1 modulo p (the bcfm tables). The product is
// evaluated 32 output bits at a time from 32-bit windows of the cyclically extended
// operands (64 at a time in the product), so every step is a fixed sequence of shifts, ANDs and XORs that does not
// depend on the values.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

namespace {

// Words of an extended operand: the element in 64-bit words, its low 64 bits
// repeated above bit m - 1, and room for reading a window that starts just below m.
constexpr int kWide = kWords / 2 + 2;

void ExtendWide(const uint32_t *a, int m, uint64_t *v) {
    std::memcpy(v, a, sizeof(uint32_t) * kWords);
    v[kWide - 2] = v[kWide - 1] = 0;
    const int w = m >> 6, s = m & 63;
    v[w] |= v[0] << s;
    v[w + 1] |= (v[0] >> 1) >> (63 - s);
}

inline uint64_t Window(const uint64_t *v, int s) {
    const int w = s >> 6, b = s & 63;
    return (v[w] >> b) | ((v[w + 1] << 1) << (63 - b));
}

}  // namespace

const uint32_t *OnbTable(int m) {
    switch (m) {
    case 173: return bcfm173;
    case 179: return bcfm179;
    case 191: return bcfm191;
    case 233: return bcfm233;
    case 239: return bcfm239;
    case 251: return bcfm251;
    case 281: return bcfm281;
    case 293: return bcfm293;
    case 359: return bcfm359;
    case 419: return bcfm419;
    case 431: return bcfm431;
    case 443: return bcfm443;
    case 491: return bcfm491;
    case 509: return bcfm509;
    default: return nullptr;
    }
}

uint32_t Get32(const uint32_t *v, int i, int m) {
    const int s = m - 1 - (i % m);
    const int w = s >> 5, b = s & 31;
    if (b == 0) return v[w];
    return (v[w] >> b) | (v[w + 1] << (32 - b));
}

// The product 64 output bits at a time from 64-bit windows; window s holds the
// coordinates s..s + 63 (modulo m) of an operand extended by its low 64 bits above
// bit m - 1. This is the Get32 evaluation with twice the width.
void OnbBaseMul(uint32_t *a, const uint32_t *b, int m) {
    const uint32_t *table = OnbTable(m);
    if (table == nullptr) {  // no normal basis of this degree
        std::memset(a, 0, sizeof(uint32_t) * kWords);
        return;
    }
    uint64_t va[kWide], vb[kWide], r[kWords / 2] = {};
    ExtendWide(a, m, va);
    ExtendWide(b, m, vb);
    for (int w = 0; w <= m / 64; ++w) {
        const int base = 64 * w;
        auto at = [&](int back) { return base - back < 0 ? base - back + m : base - back; };
        uint64_t acc = Window(va, base) & Window(vb, at(1));
        for (int d = 1; d < m; ++d) {
            const uint32_t *row = table + 2 * (d - 1);
            acc ^= Window(va, at(d)) &
                   (Window(vb, at(static_cast<int>(row[0]))) ^ Window(vb, at(static_cast<int>(row[1]))));
        }
        r[w] = acc;
    }
    r[m / 64] &= (uint64_t{1} << (m & 63)) - 1u;
    std::memcpy(a, r, sizeof r);
    SecureWipe(va, sizeof va);
    SecureWipe(vb, sizeof vb);
    SecureWipe(r, sizeof r);
}

void OnbBaseSquare(uint32_t *a, int m) {
    const uint32_t low = a[0] & 1u;
    for (int i = 0; i < kWords - 1; ++i) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
    a[kWords - 1] >>= 1;
    // The coefficient shifted out of bit 0 moves to bit m - 1, with no branch on it.
    a[(m - 1) >> 5] |= low << ((m - 1) & 31);
}

void OnbBaseIncrement(uint32_t *a, int m) {
    for (int i = 0; i <= m / 32; ++i) a[i] = ~a[i];
    a[m / 32] &= (1u << (m & 31)) - 1u;
}

// a^(2^m - 2) by the Itoh-Tsujii chain over the bits of m - 1; 0 stays 0.
void OnbBaseInverse(uint32_t *a, int m) {
    const StdClmulField *fast = OnbClmulField(m);  // the same products, faster
    auto mul = [&](uint32_t *x, const uint32_t *y) {
        if (fast)
            fast->mul(x, x, y);
        else
            OnbBaseMul(x, y, m);
    };
    const int e = m - 1;
    const int t = 31 - __builtin_clz(static_cast<uint32_t>(e));
    uint32_t b[kWords], c[kWords];
    std::memcpy(b, a, sizeof b);
    int k = 1;
    for (int j = t - 1; j >= 0; --j) {
        std::memcpy(c, b, sizeof c);
        for (int i = 0; i < k; ++i) OnbBaseSquare(c, m);
        mul(b, c);
        k *= 2;
        if ((e >> j) & 1) {
            OnbBaseSquare(b, m);
            mul(b, a);
            k += 1;
        }
    }
    OnbBaseSquare(b, m);
    std::memcpy(a, b, sizeof b);
    SecureWipe(b, sizeof b);
    SecureWipe(c, sizeof c);
}

}  // namespace kcar::ecc
