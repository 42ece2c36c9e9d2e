// The key model of the carriers that keep their keys on the host (key files and
// container cards): the curve and hash parameters of the carrier, two key slots
// (owner and future), and the DSTU 4145 operations on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "carriers/host_random.h"
#include "kcarlib/ecc.h"

namespace kcar {

// State bits of a host-key session.
inline constexpr uint32_t kStOwnerPrivate = 0x00000001;
inline constexpr uint32_t kStOwnerPublic = 0x00000002;
inline constexpr uint32_t kStFutureKey = 0x00000010;
inline constexpr uint32_t kStCertsChanged = 0x10000000;
inline constexpr uint32_t kStSignatureReady = 0x04000000;
inline constexpr uint32_t kStPinAccepted = 0x20000000;
inline constexpr uint32_t kStSessionOpen = 0x40000000;
inline constexpr uint32_t kStContextValid = 0x80000000;
inline constexpr uint32_t kStStoredBits = 0x000FFFFF;

struct CurveParams {
    int32_t m = 0, k1 = 0, k2 = 0, k3 = 0;
    int32_t a = 0;
    uint32_t b[ECC_WORDS] = {}, n[ECC_WORDS] = {};
    TEcPoint p{};
    uint8_t hashIv[32] = {};
    uint8_t hashSbox[64] = {};
};

// The standard curve of degree 191 in the polynomial basis with its published
// base point, a zero hash start vector and the hash table Uz34311.
CurveParams StandardCurve191();

// Sets up ecc from params: 254 when the field cannot be set, 33 when the curve or
// the base point is refused (a base point off the curve or of the wrong order).
uint32_t SetUpCurve(TEcc &ecc, const CurveParams &params, HostRng *rng);

// One key slot: private integer d and public point Q = -d·P.
struct KeySlot {
    uint32_t d[ECC_WORDS] = {};
    TEcPoint q{};
};

struct HostKeys {
    KeySlot owner, future;
    void Wipe() noexcept;
};

bool GenerateKeyPair(const TEcc &ecc, KeySlot &slot);
bool PublicFromPrivate(const TEcc &ecc, KeySlot &slot);
// The DSTU 4145 signature of a 32-byte hash; SigLen bytes.
bool SignHashWith(const TEcc &ecc, const uint32_t *d, const uint8_t *hash32, uint8_t *signature);
bool VerifyHashWith(const TEcc &ecc, const TEcPoint &q, const uint8_t *hash32, const uint8_t *signature);
// GOST 34.311 of data under the params' start vector and table.
void HashWith(const CurveParams &params, const uint8_t *data, std::size_t length, uint8_t *hash32);

// Little-endian byte strings and 16-word integers (count <= 64 bytes); the
// session layer's helpers, shared by every carrier.
void WordsFromBytes(const uint8_t *bytes, std::size_t count, uint32_t *words);
void BytesFromWords(const uint32_t *words, uint8_t *bytes, std::size_t count);

}  // namespace kcar
