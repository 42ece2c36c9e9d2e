// GOST 28147-89 data modes: simple replacement (1), gamma (2), gamma with
// feedback (3).
//
// Whole blocks go first to the vector engine where the processor has one
// (magma_wide.cpp), 64 blocks at a time for the gammas, then to the multi-lane
// round engine: mode 1 and the gamma of mode 2 four blocks at a time, mode 3
// decryption four blocks at a time (its gamma depends only on ciphertext). Mode 3 encryption is inherently one block after
// the other. Partial blocks go byte by byte through Gamma/Sync and Pos, so that
// any split of a message gives the output of one call.
#include "crypto/gost/magma_core.h"
#include "crypto/gost/magma_wide.h"
#include "crypto/secure_wipe.h"

using namespace kcar::gost;

namespace {

constexpr int kLanes = 4;
// Blocks of gamma made at once for the vector engine (a multiple of its groups).
constexpr uint32_t kWideChunk = 64;

template <bool kEncrypt>
void SimpleReplacement(const TGostCipher *c, uint8_t *p, uint32_t blocks) noexcept {
    const uint32_t *const k[1] = {c->Key};
    const size_t wide = MagmaWideBlocks(c, !kEncrypt, p, p, blocks);
    p += 8 * wide;
    blocks -= static_cast<uint32_t>(wide);
    for (; blocks >= kLanes; blocks -= kLanes, p += 8 * kLanes) {
        uint32_t n1[kLanes], n2[kLanes];
        for (int j = 0; j < kLanes; ++j) {
            n1[j] = Load32(p + 8 * j);
            n2[j] = Load32(p + 8 * j + 4);
        }
        if constexpr (kEncrypt) {
            Encrypt<kLanes, 1>(c->RoundTab, k, n1, n2);
        } else {
            Decrypt<kLanes, 1>(c->RoundTab, k, n1, n2);
        }
        for (int j = 0; j < kLanes; ++j) {
            Store32(p + 8 * j, n1[j]);
            Store32(p + 8 * j + 4, n2[j]);
        }
    }
    for (; blocks > 0; --blocks, p += 8) {
        uint32_t n1[1] = {Load32(p)}, n2[1] = {Load32(p + 4)};
        if constexpr (kEncrypt) {
            Encrypt<1, 1>(c->RoundTab, k, n1, n2);
        } else {
            Decrypt<1, 1>(c->RoundTab, k, n1, n2);
        }
        Store32(p, n1[0]);
        Store32(p + 4, n2[0]);
    }
}

// The mode 2 counter as two words: N3 (bytes 0..3) and N4 (bytes 4..7).
inline void StepCounter(uint32_t &n3, uint32_t &n4) noexcept {
    n3 += 0x01010101u;
    uint32_t s = n4 + 0x01010104u;
    n4 = s + (s < n4 ? 1u : 0u);
}

void Gamma(TGostCipher *c, uint8_t *p, uint32_t len) noexcept {
    if (len == 0) return;
    if (c->GammaStart) {
        EncryptBytes(c, c->Sync);
        c->GammaStart = 0;
    }
    // Rest of the current gamma block.
    while (c->Pos != 0 && len > 0) {
        *p++ ^= c->Gamma[c->Pos];
        c->Pos = (c->Pos + 1) & 7;
        --len;
    }
    if (len == 0) return;

    const uint32_t *const k[1] = {c->Key};
    uint32_t n3 = Load32(c->Sync), n4 = Load32(c->Sync + 4);
    if (len >= 8 * kWideChunk && MagmaWideActive()) {
        uint8_t g[8 * kWideChunk];
        for (; len >= 8 * kWideChunk; len -= 8 * kWideChunk, p += 8 * kWideChunk) {
            for (uint32_t j = 0; j < kWideChunk; ++j) {
                StepCounter(n3, n4);
                Store32(g + 8 * j, n3);
                Store32(g + 8 * j + 4, n4);
            }
            if (MagmaWideBlocks(c, false, g, g, kWideChunk) != kWideChunk) {
                // The level changed under us (tests pin it): one block at a time.
                for (uint32_t j = 0; j < kWideChunk; ++j) {
                    uint32_t a = Load32(g + 8 * j), b = Load32(g + 8 * j + 4);
                    EncryptBlock(c, a, b);
                    Store32(g + 8 * j, a);
                    Store32(g + 8 * j + 4, b);
                }
            }
            for (uint32_t i = 0; i < 8 * kWideChunk; ++i) p[i] ^= g[i];
            std::memcpy(c->Gamma, g + 8 * (kWideChunk - 1), 8);
        }
        kcar::SecureWipe(g, sizeof g);
    }
    uint32_t g1[kLanes], g2[kLanes];
    for (; len >= 8 * kLanes; len -= 8 * kLanes, p += 8 * kLanes) {
        for (int j = 0; j < kLanes; ++j) {
            StepCounter(n3, n4);
            g1[j] = n3;
            g2[j] = n4;
        }
        Encrypt<kLanes, 1>(c->RoundTab, k, g1, g2);
        for (int j = 0; j < kLanes; ++j) {
            Store32(p + 8 * j, Load32(p + 8 * j) ^ g1[j]);
            Store32(p + 8 * j + 4, Load32(p + 8 * j + 4) ^ g2[j]);
        }
        Store32(c->Gamma, g1[kLanes - 1]);
        Store32(c->Gamma + 4, g2[kLanes - 1]);
    }
    while (len > 0) {
        StepCounter(n3, n4);
        uint32_t a = n3, b = n4;
        EncryptBlock(c, a, b);
        Store32(c->Gamma, a);
        Store32(c->Gamma + 4, b);
        uint32_t n = len < 8 ? len : 8;
        for (uint32_t i = 0; i < n; ++i) p[i] ^= c->Gamma[i];
        c->Pos = n & 7;
        p += n;
        len -= n;
    }
    Store32(c->Sync, n3);
    Store32(c->Sync + 4, n4);
}

// Feedback mode, bytes of the current block one at a time.
template <bool kEncrypt>
void FeedbackBytes(TGostCipher *c, uint8_t *p, uint32_t n) noexcept {
    for (uint32_t i = 0; i < n; ++i) {
        if (c->Pos == 0) EncryptBytes(c, c->Sync);
        uint8_t in = p[i];
        uint8_t out = uint8_t(in ^ c->Sync[c->Pos]);
        p[i] = out;
        c->Sync[c->Pos] = kEncrypt ? out : in;
        c->Pos = (c->Pos + 1) & 7;
    }
}

void FeedbackEncryptBlocks(TGostCipher *c, uint8_t *p, uint32_t blocks) noexcept {
    uint32_t a = Load32(c->Sync), b = Load32(c->Sync + 4);
    for (; blocks > 0; --blocks, p += 8) {
        EncryptBlock(c, a, b);
        a ^= Load32(p);
        b ^= Load32(p + 4);
        Store32(p, a);
        Store32(p + 4, b);
    }
    Store32(c->Sync, a);
    Store32(c->Sync + 4, b);
}

void FeedbackDecryptBlocks(TGostCipher *c, uint8_t *p, uint32_t blocks) noexcept {
    const uint32_t *const k[1] = {c->Key};
    uint32_t a = Load32(c->Sync), b = Load32(c->Sync + 4);
    if (blocks >= kWideChunk && MagmaWideActive()) {
        // Gamma of block j is the encryption of ciphertext block j - 1.
        uint8_t g[8 * kWideChunk];
        for (; blocks >= kWideChunk; blocks -= kWideChunk, p += 8 * kWideChunk) {
            Store32(g, a);
            Store32(g + 4, b);
            std::memcpy(g + 8, p, 8 * (kWideChunk - 1));
            a = Load32(p + 8 * (kWideChunk - 1));
            b = Load32(p + 8 * (kWideChunk - 1) + 4);
            if (MagmaWideBlocks(c, false, g, g, kWideChunk) != kWideChunk) {
                for (uint32_t j = 0; j < kWideChunk; ++j) EncryptBytes(c, g + 8 * j);
            }
            for (uint32_t i = 0; i < 8 * kWideChunk; ++i) p[i] ^= g[i];
        }
        kcar::SecureWipe(g, sizeof g);
    }
    for (; blocks >= kLanes; blocks -= kLanes, p += 8 * kLanes) {
        // Gamma of block j is the encryption of ciphertext block j - 1.
        uint32_t g1[kLanes], g2[kLanes];
        g1[0] = a;
        g2[0] = b;
        for (int j = 1; j < kLanes; ++j) {
            g1[j] = Load32(p + 8 * (j - 1));
            g2[j] = Load32(p + 8 * (j - 1) + 4);
        }
        a = Load32(p + 8 * (kLanes - 1));
        b = Load32(p + 8 * (kLanes - 1) + 4);
        Encrypt<kLanes, 1>(c->RoundTab, k, g1, g2);
        for (int j = 0; j < kLanes; ++j) {
            Store32(p + 8 * j, Load32(p + 8 * j) ^ g1[j]);
            Store32(p + 8 * j + 4, Load32(p + 8 * j + 4) ^ g2[j]);
        }
    }
    for (; blocks > 0; --blocks, p += 8) {
        uint32_t ga = a, gb = b;
        EncryptBlock(c, ga, gb);
        a = Load32(p);
        b = Load32(p + 4);
        Store32(p, a ^ ga);
        Store32(p + 4, b ^ gb);
    }
    Store32(c->Sync, a);
    Store32(c->Sync + 4, b);
}

template <bool kEncrypt>
void Feedback(TGostCipher *c, uint8_t *p, uint32_t len) noexcept {
    if (len == 0) return;
    if (c->Pos != 0) {
        // Finish the current block byte by byte; what follows starts on a block
        // boundary, where the block path leaves the same state as the byte path.
        uint32_t n = 8 - c->Pos;
        if (n > len) n = len;
        FeedbackBytes<kEncrypt>(c, p, n);
        p += n;
        len -= n;
        if (c->Pos != 0) return;
    }
    uint32_t blocks = len / 8;
    if constexpr (kEncrypt) {
        FeedbackEncryptBlocks(c, p, blocks);
    } else {
        FeedbackDecryptBlocks(c, p, blocks);
    }
    FeedbackBytes<kEncrypt>(c, p + 8 * blocks, len % 8);
}

}  // namespace

extern "C" {

KCARLIB_API void MagmaM1Encrypt(TGostCipher *c, void *data, uint32_t len) {
    SimpleReplacement<true>(c, static_cast<uint8_t *>(data), len / 8);
}

KCARLIB_API void MagmaM1Decrypt(TGostCipher *c, void *data, uint32_t len) {
    SimpleReplacement<false>(c, static_cast<uint8_t *>(data), len / 8);
}

KCARLIB_API void MagmaM2Encrypt(TGostCipher *c, void *data, uint32_t len) {
    Gamma(c, static_cast<uint8_t *>(data), len);
}

KCARLIB_API void MagmaM2Decrypt(TGostCipher *c, void *data, uint32_t len) {
    Gamma(c, static_cast<uint8_t *>(data), len);
}

KCARLIB_API void MagmaM3Encrypt(TGostCipher *c, void *data, uint32_t len) {
    Feedback<true>(c, static_cast<uint8_t *>(data), len);
}

KCARLIB_API void MagmaM3Decrypt(TGostCipher *c, void *data, uint32_t len) {
    Feedback<false>(c, static_cast<uint8_t *>(data), len);
}

}  // extern "C"
