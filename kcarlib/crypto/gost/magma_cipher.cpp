// GOST 28147-89: the published substitution tables, the record's setup calls and
// the single-cycle internal routines.
#include "crypto/gost/magma_core.h"
#include "crypto/secure_wipe.h"

using namespace kcar::gost;

extern "C" {

// Row k, byte j = node 2k+1 [j] | node 2k+2 [j] << 4.
const uint8_t Uz34311[64] = {
    0xe4, 0xba, 0x49, 0xc2, 0x6d, 0xd8, 0xf0, 0xae, 0x26, 0x3b, 0x81, 0x1c, 0x07, 0x7f, 0x55, 0x93,
    0x75, 0xd8, 0xa1, 0x1d, 0x0a, 0x83, 0x94, 0xf2, 0xee, 0x4f, 0x6c, 0xc7, 0xb6, 0x20, 0x59, 0x3b,
    0x46, 0xbc, 0xa7, 0x01, 0x75, 0x2f, 0x1d, 0xd8, 0x34, 0x6a, 0x89, 0x5e, 0x90, 0xc3, 0xfb, 0xe2,
    0x1d, 0xfb, 0xd4, 0x01, 0x53, 0x7f, 0xa5, 0x49, 0x90, 0x2a, 0x3e, 0xe7, 0x66, 0xb8, 0x82, 0xcc,
};

const uint8_t UzUa01[64] = {
    0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57, 0xe0, 0xa8, 0xd2,
    0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50, 0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d,
    0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00, 0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a,
    0x13, 0x28, 0x3b, 0xe5, 0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40,
};

}  // extern "C"

namespace {

void RestartStreams(TGostCipher *c) noexcept {
    std::memcpy(c->Sync, c->SyncInit, 8);
    std::memset(c->Mac, 0, 8);
    c->Pos = 0;
    c->MacPos = 0;
    c->GammaStart = 1;
}

}  // namespace

extern "C" {

KCARLIB_API void MagmaSetUz(TGostCipher *c, const void *sbox64) {
    const uint8_t(*row)[16] = static_cast<const uint8_t(*)[16]>(sbox64);
    for (int k = 0; k < 4; ++k) {
        for (int b = 0; b < 256; ++b) {
            uint8_t s = uint8_t((row[k][b & 0x0F] & 0x0F) + (row[k][b >> 4] & 0xF0));
            c->SubstTab[k][b] = s;
            uint32_t v = uint32_t(s) << (8 * k);
            c->RoundTab[k][b] = (v << 11) | (v >> 21);
        }
    }
    RestartStreams(c);
}

KCARLIB_API void MagmaSetKey(TGostCipher *c, const void *key32) {
    const uint8_t *key = static_cast<const uint8_t *>(key32);
    for (int i = 0; i < 8; ++i) c->Key[i] = Load32(key + 4 * i);
    for (int i = 0; i < 24; ++i) c->RoundKeys[i] = c->Key[i % 8];
    for (int i = 24; i < 48; ++i) c->RoundKeys[i] = c->Key[7 - i % 8];
    RestartStreams(c);
}

KCARLIB_API void MagmaSetSync(TGostCipher *c, const void *sync8) {
    std::memcpy(c->SyncInit, sync8, 8);
    RestartStreams(c);
}

KCARLIB_API void MagmaClearSync(TGostCipher *c) {
    std::memset(c->SyncInit, 0, 8);
    RestartStreams(c);
}

KCARLIB_API void MagmaReset(TGostCipher *c) { RestartStreams(c); }

KCARLIB_API void MagmaInit(TGostCipher *c, const void *sbox64, const void *key32) {
    MagmaSetUz(c, sbox64);
    MagmaSetKey(c, key32);
    MagmaClearSync(c);
}

KCARLIB_API void MagmaDone(TGostCipher *c) {
    // The whole record: besides key, round keys and tables, the registers hold
    // the last gamma block and feedback value, and Mac a keyed value.
    kcar::SecureWipeObject(*c);
    RestartStreams(c);
}

void MagmaCycle(TGostCipher *c, void *block8, const uint32_t *keys, uint32_t rounds) {
    uint8_t *blk = static_cast<uint8_t *>(block8);
    uint32_t a = Load32(blk), b = Load32(blk + 4);
    for (uint32_t i = 0; i + 1 < rounds; i += 2) {
        b ^= F(c->RoundTab, a + keys[i]);
        a ^= F(c->RoundTab, b + keys[i + 1]);
    }
    Store32(blk, b);
    Store32(blk + 4, a);
}

void addc1c2(void *reg8) {
    uint8_t *r = static_cast<uint8_t *>(reg8);
    uint32_t n3 = Load32(r) + 0x01010101u;
    uint32_t n4 = Load32(r + 4);
    uint32_t sum = n4 + 0x01010104u;
    if (sum < n4) ++sum;  // carry out of bit 31: reduce modulo 2^32 - 1
    Store32(r, n3);
    Store32(r + 4, sum);
}

void swaprl(void *block8) {
    uint8_t *b = static_cast<uint8_t *>(block8);
    uint8_t t[4];
    std::memcpy(t, b, 4);
    std::memcpy(b, b + 4, 4);
    std::memcpy(b + 4, t, 4);
}

}  // extern "C"
