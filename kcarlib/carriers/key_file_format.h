// The key file, "NKIF" version 5, byte for byte (integers little-endian):
//
//   0   4   "NKIF"
//   4   2   version 5
//   6   4   total length L (520 .. 16384)
//   10  4   CRC-32 over the enciphered body, the signature length word and the signature
//   14  L-64  body, enciphered in gamma mode under the file key (table Uz34311, zero sync)
//   L-50 2  signature length, 48
//   L-48 48 DSTU 4145 signature of the plain body by the owner key
//
// The plain body (B = L - 64 bytes, a multiple of 8) holds the key container;
// KeyFileContent lists its fields with their offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcar::keyfile {

using Bytes = std::vector<uint8_t>;

inline constexpr std::size_t kHeaderSize = 14;
inline constexpr std::size_t kTrailerSize = 50;  // signature length word and signature
inline constexpr std::size_t kMinFile = 520;
inline constexpr std::size_t kMaxFile = 16384;
inline constexpr std::size_t kFixedBody = 452;
inline constexpr uint16_t kVersion = 5;
inline constexpr std::size_t kSignatureSize = 48;

struct KeyFileContent {
    uint8_t uid[8] = {};          // 4
    uint8_t alg[4] = {1, 1, 1, 1};  // 12: cipher, hash, signature, fourth identifier
    uint16_t openWord = 1;        // 16
    uint32_t state = 0;           // 18: key-state bits, low 20 stored
    uint8_t symKey[32] = {};      // 24 (after the length word 32 at 22)
    uint8_t ownerD[24] = {};      // 58 (after 24 at 56)
    uint8_t ownerX[24] = {};      // 84 (after 48 at 82)
    uint8_t ownerY[24] = {};      // 108
    uint8_t genSeed[8] = {};      // 132
    uint8_t genKey[32] = {};      // 140
    // 172: 50 zero bytes
    uint8_t futureD[24] = {};     // 222
    // 246: reserved word 0; 248: C; 252: U
    uint32_t a = 0;               // 256
    uint8_t b[24] = {};           // 260
    uint8_t n[24] = {};           // 284
    uint8_t px[24] = {};          // 308
    uint8_t py[24] = {};          // 332
    uint8_t hashIv[32] = {};      // 356
    uint8_t hashSbox[64] = {};    // 388
    Bytes certs;                  // 452: C bytes
    Bytes userFile;               // 452 + C: U bytes

    // Overwrites the keys and the generator's seed and key.
    void WipeSecrets() noexcept;
};

// B for the given certificate area and user file: 452 + C + U rounded up to 8.
std::size_t BodySize(std::size_t c, std::size_t u);

// The plain body of content, B bytes, zero padded.
Bytes EncodeBody(const KeyFileContent &content);
// Reads a plain body (available bytes of it). Answers 0, 33 for a length field
// out of 452 .. available, a length word other than 32, 24, 48 or areas that do
// not fit, 48 / 49 / 50 for a cipher / hash / signature identifier other than 1.
// *bodyLength receives the body length field.
uint32_t DecodeBody(const uint8_t *body, std::size_t available, KeyFileContent &content, std::size_t *bodyLength);

// The whole file for a plain body (length a multiple of 8) and its signature.
Bytes SealFile(const Bytes &plainBody, const uint8_t *signature48, const uint8_t *key32);
// Checks the outer layer and deciphers the body: 32 for a file shorter than 520
// bytes or than its length field, a wrong magic or version, a length above 16384
// or a CRC mismatch; else 0 with the plain body and the signature.
uint32_t OpenFile(const Bytes &file, const uint8_t *key32, Bytes &plainBody, uint8_t *signature48);

}  // namespace kcar::keyfile
