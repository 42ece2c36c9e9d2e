// Random generator of the ANSI X9.17 kind on GOST 28147-89 in simple replacement.
// One output step: R = E(V ^ I), V = E(R ^ I), with V the secret Seed and I the
// encrypted TimeBlock. Only bit 0 of each R is used for output, so a byte costs
// eight steps (sixteen block encryptions).
#include <ctime>

#include "crypto/gost/magma_core.h"
#include "crypto/secure_wipe.h"

using namespace kcar::gost;

namespace kcar {
// The library context's random-bit method, supplied by the session layer.
[[gnu::weak]] int NkiContextRandomBit(void *context) noexcept;
}  // namespace kcar

namespace {

void OutputBlock(TMagmaRng *rng, uint32_t &r1, uint32_t &r2) noexcept {
    const uint32_t i1 = Load32(rng->TimeBlock), i2 = Load32(rng->TimeBlock + 4);
    r1 = Load32(rng->Seed) ^ i1;
    r2 = Load32(rng->Seed + 4) ^ i2;
    EncryptBlock(&rng->Cipher, r1, r2);
    uint32_t v1 = r1 ^ i1, v2 = r2 ^ i2;
    EncryptBlock(&rng->Cipher, v1, v2);
    Store32(rng->Seed, v1);
    Store32(rng->Seed + 4, v2);
}

}  // namespace

extern "C" {

KCARLIB_API void MagmaRngInit(TMagmaRng *rng, const void *seed8, const void *sbox64, const void *key32,
                              const void *time8) {
    // A record without a key still gets a defined (zero) cipher, never whatever
    // the caller's storage held.
    kcar::SecureWipeObject(*rng);
    MagmaClearSync(&rng->Cipher);
    if (key32 == nullptr) return;
    MagmaRngReset(rng, seed8, sbox64, key32, time8);
}

KCARLIB_API void MagmaRngReset(TMagmaRng *rng, const void *seed8, const void *sbox64, const void *key32,
                               const void *time8) {
    if (time8 != nullptr) {
        std::memcpy(rng->TimeBlock, time8, 8);
    } else {
        Store64(rng->TimeBlock, uint64_t(std::clock()));
    }
    if (seed8 != nullptr) std::memcpy(rng->Seed, seed8, 8);
    const void *table = sbox64 != nullptr ? sbox64 : UzUa01;
    if (key32 != nullptr) {
        MagmaInit(&rng->Cipher, table, key32);
    } else {
        MagmaSetUz(&rng->Cipher, table);
    }
    EncryptBytes(&rng->Cipher, rng->TimeBlock);
}

KCARLIB_API void MagmaRngDone(TMagmaRng *rng) {
    // Seed and time block are as secret as the key: a wiped generator must not be
    // predictable from what is left in memory.
    kcar::SecureWipeObject(*rng);
    MagmaDone(&rng->Cipher);
}

uint8_t MagmaRngNext(TMagmaRng *rng) {
    uint32_t r1, r2;
    OutputBlock(rng, r1, r2);
    return uint8_t(r1);
}

void _MagmaRngGetBlock(TMagmaRng *rng, void *out8) {
    uint32_t r1, r2;
    OutputBlock(rng, r1, r2);
    Store32(out8, r1);
    Store32(static_cast<uint8_t *>(out8) + 4, r2);
}

KCARLIB_API int MagmaRngNextBit(TMagmaRng *rng) { return MagmaRngNext(rng) & 1; }

KCARLIB_API uint8_t MagmaRngNext8Bit(TMagmaRng *rng) {
    uint8_t b = 0;
    for (int i = 0; i < 8; ++i) b = uint8_t((b >> 1) | ((MagmaRngNext(rng) & 1) << 7));
    return b;
}

KCARLIB_API void MagmaRngBuf(TMagmaRng *rng, void *out, int64_t len) {
    uint8_t *p = static_cast<uint8_t *>(out);
    for (int64_t i = 0; i < len; ++i) p[i] = MagmaRngNext8Bit(rng);
}

KCARLIB_API int iRngFunc(void *context) {
    if (kcar::NkiContextRandomBit == nullptr) return 0;
    return kcar::NkiContextRandomBit(context) & 1;
}

}  // extern "C"
