// The token's key operations on its 191-bit curve. Field elements and points
// travel most significant byte first, as on the token's interface; hashes and
// signatures (r then s, each least significant byte first) pass unchanged.
#pragma once

#include <array>
#include <cstdint>

namespace vtoken::crypto {

using Scalar = std::array<uint8_t, 24>;
using PublicKey = std::array<uint8_t, 48>;  // x then y

// A fresh private key d and its DSTU 4145 public key Q = -d·P.
bool GenerateKeyPair(Scalar &d, PublicKey &q);
// DSTU 4145 signature (48 bytes) of a 32-byte hash value with d.
bool SignHash(const Scalar &d, const uint8_t *hash32, uint8_t *signature48);
// GOST 34.311 of data under the given start vector and packed table.
void Hash(const uint8_t *iv32, const uint8_t *sbox64, const uint8_t *data, std::size_t len, uint8_t *out32);
// Completes a hash handed over as its state after whole blocks (running value H,
// control sum, byteCount bytes hashed) by the tail bytes and the final steps.
void CompleteHash(const uint8_t *sbox64, const uint8_t *h32, const uint8_t *sum32, uint32_t byteCount,
                  const uint8_t *tail, std::size_t tailLen, uint8_t *out32);
// The two keys of the receiving side of the key agreement with the peer's point
// R = (x, y): Z = -d·R (the sender computes e·Q = e·(-d·P)), key c = GOST 34.311
// with a zero start vector and the given table of the 32-byte block x(Z), least
// significant byte first, with c in its last byte. False when R is not a point of
// order n on the curve.
bool WrapKeys(const Scalar &d, const uint8_t *x24, const uint8_t *y24, const uint8_t *sbox64, uint8_t *keys64);

}  // namespace vtoken::crypto
