// GOST 34.311-95 hash (the GOST R 34.11-94 algorithm) with a parameterised
// substitution table and start vector.
//
// Inside, a 256-bit value is four 64-bit words, word 0 least significant (bytes
// 0..7 of the 32-byte form); the psi transforms see the same words as sixteen
// 16-bit words eta1..eta16, eta1 = bytes 0..1, and work on them in registers. Whole message blocks are taken straight from the
// caller's buffer; the running H, Sum and Length stay in words for the whole call.
// The four encryptions of a step use four different keys on independent halves
// of H and run as four interleaved lanes.
#include <bit>

#include "crypto/gost/magma_core.h"
#include "crypto/secure_wipe.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(std::endian::native == std::endian::little, "the hash's word views assume a little-endian host");

using namespace kcar::gost;

namespace {

using V256 = uint64_t[4];

// C3 of the key generation, words least significant first.
constexpr uint64_t kC3[4] = {0xff00ff00ff00ff00ull, 0x00ff00ff00ff00ffull, 0xff0000ff00ffff00ull,
                             0xff00ffff000000ffull};

inline void LoadV(V256 &v, const void *p) noexcept { std::memcpy(v, p, 32); }
inline void StoreV(void *p, const V256 &v) noexcept { std::memcpy(p, v, 32); }

// A(Y) = (y1 ^ y2) | y4 | y3 | y2.
inline void A(V256 &y) noexcept {
    uint64_t y1 = y[0];
    y[0] = y[1];
    y[1] = y[2];
    y[2] = y[3];
    y[3] = y1 ^ y[0];
}

// The key words of P(W): byte i of key word k is byte k of W's word i.
inline void KeyOfP(const V256 &w, uint32_t key[8]) noexcept {
#if defined(__SSE2__)
    __m128i a = _mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(w[0])), _mm_cvtsi64_si128(int64_t(w[1])));
    __m128i b = _mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(w[2])), _mm_cvtsi64_si128(int64_t(w[3])));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(key), _mm_unpacklo_epi16(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(key + 4), _mm_unpackhi_epi16(a, b));
#else
    for (int k = 0; k < 8; ++k) {
        key[k] = uint32_t((w[0] >> (8 * k)) & 0xFF) | uint32_t((w[1] >> (8 * k)) & 0xFF) << 8 |
                 uint32_t((w[2] >> (8 * k)) & 0xFF) << 16 | uint32_t((w[3] >> (8 * k)) & 0xFF) << 24;
    }
#endif
}

// psi on Y held as four 64-bit words (four eta words each, eta1 in the low 16
// bits of y[0]): shift down one eta word, put eta1 ^ eta2 ^ eta3 ^ eta4 ^ eta13 ^
// eta16 on top.
inline void Psi1(V256 &y) noexcept {
    uint64_t t = y[0] ^ (y[0] >> 16) ^ (y[0] >> 32) ^ (y[0] >> 48) ^ y[3] ^ (y[3] >> 48);
    y[0] = (y[0] >> 16) | (y[1] << 48);
    y[1] = (y[1] >> 16) | (y[2] << 48);
    y[2] = (y[2] >> 16) | (y[3] << 48);
    y[3] = (y[3] >> 16) | (t << 48);
}

// psi^4 in one go: the four new eta words are t_j = eta_j ^ eta_j+1 ^ eta_j+2 ^
// eta_j+3 ^ eta_j+12 (all known), each XORed with the new word before it (the
// eta16 term), a prefix XOR across the four lanes starting from the old eta16.
inline void Psi4(V256 &y) noexcept {
    const uint64_t a = y[0], b = y[1];
    uint64_t t = a ^ ((a >> 16) | (b << 48)) ^ ((a >> 32) | (b << 32)) ^ ((a >> 48) | (b << 16)) ^ y[3];
    t ^= t << 16;
    t ^= t << 32;
    t ^= (y[3] >> 48) * 0x0001000100010001ull;
    y[0] = b;
    y[1] = y[2];
    y[2] = y[3];
    y[3] = t;
}

inline void PsiN(V256 &y, int n) noexcept {
    for (; n >= 4; n -= 4) Psi4(y);
    for (; n > 0; --n) Psi1(y);
}

// Working space of the step function; wiped once per call, not once per block.
struct Scratch {
    uint32_t keys[4][8];
};

// H = f(H, M).
inline void Step(const TGostCipher *c, V256 &h, const V256 &m, Scratch &x) noexcept {
    // Key generation: U = H, V = M; K1 = P(U ^ V); then U = A(U) (with C3 added
    // for K3), V = A(A(V)).
    V256 u = {h[0], h[1], h[2], h[3]}, v = {m[0], m[1], m[2], m[3]}, w;
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            A(u);
            if (j == 2) {
                for (int i = 0; i < 4; ++i) u[i] ^= kC3[i];
            }
            A(v);
            A(v);
        }
        for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
        KeyOfP(w, x.keys[j]);
    }

    // Encryption: part i of H with key K(i+1).
    uint32_t n1[4], n2[4];
    for (int i = 0; i < 4; ++i) {
        n1[i] = uint32_t(h[i]);
        n2[i] = uint32_t(h[i] >> 32);
    }
    const uint32_t *const keys[4] = {x.keys[0], x.keys[1], x.keys[2], x.keys[3]};
    Encrypt<4, 4>(c->RoundTab, keys, n1, n2);
    V256 s;
    for (int i = 0; i < 4; ++i) s[i] = uint64_t(n1[i]) | uint64_t(n2[i]) << 32;

    // Mixing: H = psi^61(H ^ psi(M ^ psi^12(S))).
    PsiN(s, 12);
    for (int i = 0; i < 4; ++i) s[i] ^= m[i];
    Psi1(s);
    for (int i = 0; i < 4; ++i) h[i] ^= s[i];
    PsiN(h, 61);
}

inline void Add(V256 &a, const V256 &b) noexcept {
    unsigned carry = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t s = a[i] + b[i];
        unsigned c1 = s < a[i];
        uint64_t t = s + carry;
        carry = c1 | (t < s);
        a[i] = t;
    }
}

inline void AddSmall(V256 &a, uint64_t n) noexcept {
    const V256 b = {n, 0, 0, 0};
    Add(a, b);
}

// Psi^n of a 32-byte value, out may equal in.
void Psi(void *out32, const void *in32, int n) {
    V256 y;
    LoadV(y, in32);
    PsiN(y, n);
    StoreV(out32, y);
}

}  // namespace

extern "C" {

KCARLIB_API void HashInit(TGostHash *hash, const void *sbox64, const void *startVector32) {
    const uint8_t zeroKey[32] = {};
    MagmaInit(&hash->Cipher, sbox64 != nullptr ? sbox64 : Uz34311, zeroKey);
    if (startVector32 != nullptr) {
        std::memcpy(hash->StartVector, startVector32, 32);
    } else {
        std::memset(hash->StartVector, 0, 32);
    }
    HashClear(hash);
}

KCARLIB_API void HashClear(TGostHash *hash) {
    std::memset(hash->Sum, 0, 32);
    std::memset(hash->Length, 0, 32);
    std::memcpy(hash->H, hash->StartVector, 32);
    hash->BlockPos = 0;
}

KCARLIB_API void HashUpdate(TGostHash *hash, const void *data, uint32_t len) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    if (len == 0) return;
    Scratch x;
    V256 h, sum, length, m;
    LoadV(h, hash->H);
    LoadV(sum, hash->Sum);
    LoadV(length, hash->Length);
    auto block = [&](const uint8_t *b) {
        LoadV(m, b);
        AddSmall(length, 256);
        Add(sum, m);
        Step(&hash->Cipher, h, m, x);
    };
    if (hash->BlockPos != 0) {
        uint32_t n = 32 - hash->BlockPos;
        if (n > len) n = len;
        std::memcpy(hash->Block + hash->BlockPos, p, n);
        hash->BlockPos = (hash->BlockPos + n) & 31;
        p += n;
        len -= n;
        if (hash->BlockPos == 0) block(hash->Block);
    }
    for (; len >= 32; len -= 32, p += 32) block(p);
    if (len > 0) {
        std::memcpy(hash->Block, p, len);
        hash->BlockPos = len;
    }
    StoreV(hash->H, h);
    StoreV(hash->Sum, sum);
    StoreV(hash->Length, length);
    kcar::SecureWipeObject(x);
    kcar::SecureWipe(m, sizeof m);
}

KCARLIB_API void HashFinal(TGostHash *hash, void *out32) {
    // Works on copies of H, Sum and Length: the record stays as it was.
    Scratch x;
    V256 h, sum, length, m;
    LoadV(h, hash->H);
    LoadV(sum, hash->Sum);
    LoadV(length, hash->Length);
    if (hash->BlockPos != 0) {
        uint8_t last[32] = {};
        std::memcpy(last, hash->Block, hash->BlockPos);
        LoadV(m, last);
        AddSmall(length, 8 * uint64_t(hash->BlockPos));
        Add(sum, m);
        Step(&hash->Cipher, h, m, x);
        kcar::SecureWipe(last, sizeof last);
    }
    Step(&hash->Cipher, h, length, x);
    Step(&hash->Cipher, h, sum, x);
    StoreV(out32, h);
    kcar::SecureWipeObject(x);
    kcar::SecureWipe(h, sizeof h);
    kcar::SecureWipe(sum, sizeof sum);
    kcar::SecureWipe(m, sizeof m);
}

KCARLIB_API void HashDone(TGostHash *hash) {
    kcar::SecureWipeObject(*hash);
    MagmaDone(&hash->Cipher);
    hash->BlockPos = 0;
}

KCARLIB_API void HashStep(TGostHash *hash, const void *block32) {
    Scratch x;
    V256 h, m;
    LoadV(h, hash->H);
    LoadV(m, block32);
    Step(&hash->Cipher, h, m, x);
    StoreV(hash->H, h);
    kcar::SecureWipeObject(x);
}

KCARLIB_API void IncreaseHsLen(TGostHash *hash, uint32_t byteCount) {
    V256 length;
    LoadV(length, hash->Length);
    AddSmall(length, 8 * uint64_t(byteCount));
    StoreV(hash->Length, length);
}

KCARLIB_API void AddV256(void *a32, const void *b32) {
    V256 a, b;
    LoadV(a, a32);
    LoadV(b, b32);
    Add(a, b);
    StoreV(a32, a);
}

KCARLIB_API void XorV256(void *a32, const void *b32) {
    V256 a, b;
    LoadV(a, a32);
    LoadV(b, b32);
    for (int i = 0; i < 4; ++i) a[i] ^= b[i];
    StoreV(a32, a);
}

KCARLIB_API void TransformA(void *out32, const void *in32) {
    V256 y;
    LoadV(y, in32);
    A(y);
    StoreV(out32, y);
}

KCARLIB_API void TransformP(void *out32, const void *in32) {
    const uint8_t *in = static_cast<const uint8_t *>(in32);
    uint8_t out[32];
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < 4; ++i) out[4 * k + i] = in[k + 8 * i];
    }
    std::memcpy(out32, out, 32);
}

KCARLIB_API void TransformFu1(void *out32, const void *in32) { Psi(out32, in32, 1); }
KCARLIB_API void TransformFu12(void *out32, const void *in32) { Psi(out32, in32, 12); }
KCARLIB_API void TransformFu61(void *out32, const void *in32) { Psi(out32, in32, 61); }

}  // extern "C"
