// GOST 28147-89 MAC (imitation insert): the 16-step cycle over the Mac register of
// a keyed TGostCipher. Mac holds N1 in bytes 0..3 and N2 in bytes 4..7; MacPos
// counts the bytes already added into the current block.
#include "crypto/gost/magma_core.h"

using namespace kcar::gost;

namespace {

// 16 rounds with K1..K8 twice, each ending with the exchange of halves: with the
// alternating round form the halves come out where they started.
inline void Transform16(const TGostCipher *c, uint32_t &n1, uint32_t &n2) noexcept {
    const uint32_t *k = c->Key;
    for (int r = 0; r < 2; ++r) {
#pragma GCC unroll 4
        for (int i = 0; i < 8; i += 2) {
            n2 ^= F(c->RoundTab, n1 + k[i]);
            n1 ^= F(c->RoundTab, n2 + k[i + 1]);
        }
    }
}

void TransformMac(TGostCipher *c) noexcept {
    uint32_t n1 = Load32(c->Mac), n2 = Load32(c->Mac + 4);
    Transform16(c, n1, n2);
    Store32(c->Mac, n1);
    Store32(c->Mac + 4, n2);
}

void AddBytes(TGostCipher *c, const uint8_t *p, uint32_t n) noexcept {
    for (uint32_t i = 0; i < n; ++i) {
        c->Mac[c->MacPos] ^= p[i];
        c->MacPos = (c->MacPos + 1) & 7;
        if (c->MacPos == 0) TransformMac(c);
    }
}

void Finalise(TGostCipher *c) noexcept {
    if (c->MacPos != 0) {
        c->MacPos = 0;
        TransformMac(c);
    }
}

// Compares without an early exit, so the time does not tell where a forged MAC
// first differs.
int SameBytes(const uint8_t *a, const void *b, int n) noexcept {
    const uint8_t *q = static_cast<const uint8_t *>(b);
    uint8_t diff = 0;
    for (int i = 0; i < n; ++i) diff |= uint8_t(a[i] ^ q[i]);
    return diff == 0;
}

}  // namespace

extern "C" {

KCARLIB_API void MagmaMAC(TGostCipher *c, const void *data, uint32_t len) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    if (len == 0) return;
    if (c->MacPos != 0) {
        uint32_t n = 8 - c->MacPos;
        if (n > len) n = len;
        AddBytes(c, p, n);
        p += n;
        len -= n;
        if (c->MacPos != 0) return;
    }
    uint32_t n1 = Load32(c->Mac), n2 = Load32(c->Mac + 4);
    for (; len >= 8; len -= 8, p += 8) {
        n1 ^= Load32(p);
        n2 ^= Load32(p + 4);
        Transform16(c, n1, n2);
    }
    Store32(c->Mac, n1);
    Store32(c->Mac + 4, n2);
    AddBytes(c, p, len);
}

KCARLIB_API void MagmaGetMAC(TGostCipher *c, void *mac8) {
    Finalise(c);
    std::memcpy(mac8, c->Mac, 8);
}

KCARLIB_API void MagmaGetMAC4(TGostCipher *c, void *mac4) {
    Finalise(c);
    std::memcpy(mac4, c->Mac, 4);
}

KCARLIB_API int MagmaCheckMAC(TGostCipher *c, const void *mac8) {
    Finalise(c);
    return SameBytes(c->Mac, mac8, 8);
}

KCARLIB_API int MagmaCheckMAC4(TGostCipher *c, const void *mac4) {
    Finalise(c);
    return SameBytes(c->Mac, mac4, 4);
}

}  // extern "C"
