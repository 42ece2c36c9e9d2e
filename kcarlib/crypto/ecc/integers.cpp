// Unsigned integers below 2^512 for arithmetic modulo the base-point order n.
// An integer is 16 little-endian 32-bit words: word 0 holds bits 0..31.
#include <cstring>

#include "crypto/ecc/ecc_internal.h"
#include "crypto/secure_wipe.h"

namespace kcar::ecc {

uint32_t fcarry(uint32_t a, uint32_t b, uint32_t sum) {
    return ((a & b) | ((a | b) & ~sum)) >> 31;
}

int lookup(const uint8_t *table, int count, int value) {
    for (int i = 0; i < count; ++i)
        if (table[i] == value) return 1;
    return 0;
}

int lookupl(const uint32_t *table, int count, uint32_t value) {
    for (int i = 0; i < count; ++i)
        if (table[i] == value) return 1;
    return 0;
}

namespace {

int SignificantWords(const uint32_t *a, int n) {
    while (n > 0 && a[n - 1] == 0) --n;
    return n;
}

// r = u mod v (Knuth's algorithm D on 32-bit digits). u has nu words, v has nv
// significant words; r receives nv words.
void Remainder(const uint32_t *u, int nu, const uint32_t *v, int nv, uint32_t *r) {
    if (nu < nv) {
        std::memcpy(r, u, sizeof(uint32_t) * nu);
        std::memset(r + nu, 0, sizeof(uint32_t) * (nv - nu));
        return;
    }
    if (nv == 1) {
        uint64_t rem = 0;
        for (int i = nu - 1; i >= 0; --i) rem = ((rem << 32) | u[i]) % v[0];
        r[0] = static_cast<uint32_t>(rem);
        return;
    }
    const int s = __builtin_clz(v[nv - 1]);
    uint32_t vn[kWords];
    uint32_t un[2 * kWords + 1];
    for (int i = nv - 1; i > 0; --i)
        vn[i] = (v[i] << s) | (s ? v[i - 1] >> (32 - s) : 0);
    vn[0] = v[0] << s;
    un[nu] = s ? u[nu - 1] >> (32 - s) : 0;
    for (int i = nu - 1; i > 0; --i)
        un[i] = (u[i] << s) | (s ? u[i - 1] >> (32 - s) : 0);
    un[0] = u[0] << s;

    const uint64_t base = 1ull << 32;
    for (int j = nu - nv; j >= 0; --j) {
        const uint64_t num = (static_cast<uint64_t>(un[j + nv]) << 32) | un[j + nv - 1];
        uint64_t qhat = num / vn[nv - 1];
        uint64_t rhat = num % vn[nv - 1];
        while (qhat >= base || qhat * vn[nv - 2] > ((rhat << 32) | un[j + nv - 2])) {
            --qhat;
            rhat += vn[nv - 1];
            if (rhat >= base) break;
        }
        int64_t k = 0;
        int64_t t;
        for (int i = 0; i < nv; ++i) {
            const uint64_t p = qhat * vn[i];
            t = static_cast<int64_t>(un[i + j]) - k - static_cast<int64_t>(p & 0xFFFFFFFFu);
            un[i + j] = static_cast<uint32_t>(t);
            k = static_cast<int64_t>(p >> 32) - (t >> 32);
        }
        t = static_cast<int64_t>(un[j + nv]) - k;
        un[j + nv] = static_cast<uint32_t>(t);
        if (t < 0) {
            uint64_t c = 0;
            for (int i = 0; i < nv; ++i) {
                const uint64_t x = static_cast<uint64_t>(un[i + j]) + vn[i] + c;
                un[i + j] = static_cast<uint32_t>(x);
                c = x >> 32;
            }
            un[j + nv] += static_cast<uint32_t>(c);
        }
    }
    for (int i = 0; i < nv; ++i)
        r[i] = (un[i] >> s) | (s ? un[i + 1] << (32 - s) : 0);
    SecureWipe(un, sizeof un);
}

}  // namespace

}  // namespace kcar::ecc

using namespace kcar::ecc;

extern "C" {

KCARLIB_API void IntCopy(const uint32_t *src, uint32_t *dst) {
    std::memmove(dst, src, sizeof(uint32_t) * kWords);
}

KCARLIB_API void IntClear(uint32_t *a) { std::memset(a, 0, sizeof(uint32_t) * kWords); }

KCARLIB_API int32_t IntIsZero(const uint32_t *a) {
    uint32_t acc = 0;
    for (int i = 0; i < kWords; ++i) acc |= a[i];
    return acc == 0;
}

KCARLIB_API int32_t IntIsOne(const uint32_t *a) {
    uint32_t acc = a[0] ^ 1u;
    for (int i = 1; i < kWords; ++i) acc |= a[i];
    return acc == 0;
}

KCARLIB_API int32_t IntIsEqual(const uint32_t *a, const uint32_t *b) {
    uint32_t acc = 0;
    for (int i = 0; i < kWords; ++i) acc |= a[i] ^ b[i];
    return acc == 0;
}

KCARLIB_API int32_t IntDegree(const uint32_t *a) {
    for (int i = kWords - 1; i >= 0; --i)
        if (a[i]) return 32 * i + 31 - __builtin_clz(a[i]);
    return 0;
}

KCARLIB_API uint32_t IntAdd(uint32_t *a, const uint32_t *b) {
    uint32_t carry = 0;
    for (int i = 0; i < kWords; ++i) {
        const uint32_t x = a[i], y = b[i];
        const uint32_t s = x + y + carry;
        carry = fcarry(x, y, s);
        a[i] = s;
    }
    return carry;
}

KCARLIB_API uint32_t IntSub(uint32_t *a, const uint32_t *b) {
    uint32_t borrow = 0;
    for (int i = 0; i < kWords; ++i) {
        const uint32_t x = a[i], y = b[i];
        const uint32_t d = x - y - borrow;
        borrow = fcarry(d, y, x);
        a[i] = d;
    }
    return borrow;
}

KCARLIB_API uint32_t IntDec(uint32_t *a, uint32_t v) {
    uint32_t borrow = v;
    for (int i = 0; i < kWords; ++i) {
        const uint32_t x = a[i];
        a[i] = x - borrow;
        borrow = x < borrow ? 1u : 0u;
    }
    return borrow;
}

KCARLIB_API void IntMul(uint32_t *a, const uint32_t *b) {
    uint32_t r[kWords] = {};
    for (int i = 0; i < kWords; ++i) {
        uint64_t carry = 0;
        for (int j = 0; i + j < kWords; ++j) {
            const uint64_t t = static_cast<uint64_t>(a[i]) * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
    }
    std::memcpy(a, r, sizeof r);
    kcar::SecureWipe(r, sizeof r);
}

KCARLIB_API int32_t IntCmp(const uint32_t *a, const uint32_t *b) {
    for (int i = kWords - 1; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

KCARLIB_API void IntDivBy2(uint32_t *a) {
    for (int i = 0; i < kWords - 1; ++i) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
    a[kWords - 1] >>= 1;
}

// Branch-free: the sum may involve secrets (signing).
KCARLIB_API void IntAddMod(uint32_t *a, const uint32_t *b, const uint32_t *n) {
    const uint32_t carry = IntAdd(a, b);
    uint32_t t[kWords];
    std::memcpy(t, a, sizeof t);
    const uint32_t borrow = IntSub(t, n);
    // Keep a + b when the subtraction borrowed without a carry out of the sum.
    const uint32_t keep = 0u - (borrow & ~carry & 1u);
    for (int i = 0; i < kWords; ++i) a[i] = (a[i] & keep) | (t[i] & ~keep);
    kcar::SecureWipe(t, sizeof t);
}

KCARLIB_API void IntMulMod(uint32_t *a, const uint32_t *b, const uint32_t *n) {
    const int nv = SignificantWords(n, kWords);
    if (nv == 0) {
        IntClear(a);
        return;
    }
    uint32_t p[2 * kWords] = {};
    for (int i = 0; i < kWords; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < kWords; ++j) {
            const uint64_t t = static_cast<uint64_t>(a[i]) * b[j] + p[i + j] + carry;
            p[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        p[i + kWords] = static_cast<uint32_t>(carry);
    }
    IntClear(a);
    Remainder(p, SignificantWords(p, 2 * kWords), n, nv, a);
    kcar::SecureWipe(p, sizeof p);
}

KCARLIB_API void IntExpMod(uint32_t *a, const uint32_t *e, const uint32_t *n) {
    uint32_t r[kWords] = {1};
    uint32_t base[kWords];
    IntCopy(a, base);
    const int top = IntDegree(e);
    for (int i = 0; i <= top; ++i) {
        if ((e[i / 32] >> (i % 32)) & 1u) IntMulMod(r, base, n);
        if (i < top) IntMulMod(base, base, n);
    }
    IntCopy(r, a);
    kcar::SecureWipe(r, sizeof r);
    kcar::SecureWipe(base, sizeof base);
}

}  // extern "C"
