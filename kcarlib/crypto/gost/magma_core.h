// Round engine of GOST 28147-89 shared by the modes, the MAC, the hash and the
// generator.
//
// A block lives in two 32-bit words n1 (bytes 0..3) and n2 (bytes 4..7). A round
// with key k computes f = rotl11(S(n1 + k)) and n2 ^= f; the next round works the
// other way round, so no halves are exchanged and after an even number of rounds
// the value that the standard calls N1 is in n2 and N2 in n1. The substitution
// and the rotation come together from RoundTab: four lookups per round, one per
// byte of n1 + k. The N-lane templates run N independent blocks round by round so
// that their table loads overlap.
#pragma once

#include <cstdint>
#include <cstring>

#include "kcarlib/gost.h"

// Internal routines of the cipher and the generator: not exported.
extern "C" {
// Runs `rounds` rounds (even) over block8 with the keys keys[0..rounds-1] and writes
// the halves back exchanged (N1 = last B, N2 = last A).
void MagmaCycle(TGostCipher *cipher, void *block8, const uint32_t *keys, uint32_t rounds);
// Steps the mode 2 counter: N3 += C2 mod 2^32, N4 += C1 mod 2^32 - 1.
void addc1c2(void *reg8);
// Exchanges bytes 0..3 with bytes 4..7.
void swaprl(void *block8);
// Byte 0 of a fresh output block.
uint8_t MagmaRngNext(TMagmaRng *rng);
// A whole fresh output block.
void _MagmaRngGetBlock(TMagmaRng *rng, void *out8);
}

namespace kcar::gost {

using Tab = uint32_t[4][256];

inline uint32_t Load32(const void *p) noexcept {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline void Store32(void *p, uint32_t v) noexcept {
    uint8_t *b = static_cast<uint8_t *>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
    b[2] = uint8_t(v >> 16);
    b[3] = uint8_t(v >> 24);
}

inline uint64_t Load64(const void *p) noexcept {
    return uint64_t(Load32(p)) | uint64_t(Load32(static_cast<const uint8_t *>(p) + 4)) << 32;
}

inline void Store64(void *p, uint64_t v) noexcept {
    Store32(p, uint32_t(v));
    Store32(static_cast<uint8_t *>(p) + 4, uint32_t(v >> 32));
}

[[gnu::always_inline]] inline uint32_t F(const Tab &t, uint32_t x) noexcept {
    return t[0][x & 0xFF] ^ t[1][(x >> 8) & 0xFF] ^ t[2][(x >> 16) & 0xFF] ^ t[3][x >> 24];
}

// Two rounds on every lane; lane j uses keys[j][i0] then keys[j][i1] (keys[0] for
// all lanes when KS = 1).
template <int N, int KS>
[[gnu::always_inline]] inline void Rounds2(const Tab &t, const uint32_t *const (&keys)[KS], int i0, int i1,
                                           uint32_t (&n1)[N], uint32_t (&n2)[N]) noexcept {
    for (int j = 0; j < N; ++j) n2[j] ^= F(t, n1[j] + keys[KS == 1 ? 0 : j][i0]);
    for (int j = 0; j < N; ++j) n1[j] ^= F(t, n2[j] + keys[KS == 1 ? 0 : j][i1]);
}

// 32-round encryption of N lanes. KS = 1: one key for all lanes; KS = N: a key
// per lane. On return n1/n2 hold the output words N1/N2.
template <int N, int KS>
[[gnu::always_inline]] inline void Encrypt(const Tab &t, const uint32_t *const (&keys)[KS], uint32_t (&n1)[N],
                                           uint32_t (&n2)[N]) noexcept {
#pragma GCC unroll 3
    for (int r = 0; r < 3; ++r) {
#pragma GCC unroll 4
        for (int i = 0; i < 8; i += 2) Rounds2<N, KS>(t, keys, i, i + 1, n1, n2);
    }
#pragma GCC unroll 4
    for (int i = 7; i > 0; i -= 2) Rounds2<N, KS>(t, keys, i, i - 1, n1, n2);
    for (int j = 0; j < N; ++j) {
        uint32_t x = n1[j];
        n1[j] = n2[j];
        n2[j] = x;
    }
}

template <int N, int KS>
[[gnu::always_inline]] inline void Decrypt(const Tab &t, const uint32_t *const (&keys)[KS], uint32_t (&n1)[N],
                                           uint32_t (&n2)[N]) noexcept {
#pragma GCC unroll 4
    for (int i = 0; i < 8; i += 2) Rounds2<N, KS>(t, keys, i, i + 1, n1, n2);
#pragma GCC unroll 3
    for (int r = 0; r < 3; ++r) {
#pragma GCC unroll 4
        for (int i = 7; i > 0; i -= 2) Rounds2<N, KS>(t, keys, i, i - 1, n1, n2);
    }
    for (int j = 0; j < N; ++j) {
        uint32_t x = n1[j];
        n1[j] = n2[j];
        n2[j] = x;
    }
}

// One block, 32 rounds, with the cipher's key.
inline void EncryptBlock(const TGostCipher *c, uint32_t &a, uint32_t &b) noexcept {
    uint32_t n1[1] = {a}, n2[1] = {b};
    const uint32_t *const k[1] = {c->Key};
    Encrypt<1, 1>(c->RoundTab, k, n1, n2);
    a = n1[0];
    b = n2[0];
}

inline void EncryptBytes(const TGostCipher *c, uint8_t *block8) noexcept {
    uint32_t a = Load32(block8), b = Load32(block8 + 4);
    EncryptBlock(c, a, b);
    Store32(block8, a);
    Store32(block8 + 4, b);
}

}  // namespace kcar::gost
