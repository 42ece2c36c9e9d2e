// The container card's key container: two 308-byte copies in card file 8 after a
// 4-byte header, and the two values derived from the PIN (the card value the
// card checks, and the key the copies are enciphered under).
//
// Copy layout (integers little-endian):
//   0   4  counter (the newer copy has the larger counter)
//   4   2  CRC-16/X-25 of the counter's 4 bytes
//   6   2  carrier word, carried unchanged
//   8   64 owner private key     bytes 8..295 are enciphered in gamma-with-
//   72  64 future private key    feedback mode under the container key, table
//   136 128 zero                 Uz34311, with bytes 0..7 of the copy as the
//   264 32 generator key         synchronisation message
//   296 4  MAC over the 366-byte parameter record and plain bytes 0..295
//   300 4  zero
//   304 4  key-state bits (low 20)
#pragma once

#include <cstddef>
#include <cstdint>

namespace kcar::container {

inline constexpr std::size_t kCopySize = 308;
inline constexpr std::size_t kParamRecordSize = 366;
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::size_t kCopyOffset[3] = {0, 4, 312};  // by copy number 1, 2
inline constexpr uint32_t kPinChangeFlag = 0x00080000;       // in the header word

struct CopyContent {
    uint32_t counter = 0;
    uint16_t carrierWord = 0;
    uint8_t ownerD[64] = {};
    uint8_t futureD[64] = {};
    uint8_t genKey[32] = {};
    uint32_t state = 0;
};

// 8 PIN bytes -> 8-byte card value and 32-byte container key.
void CardValue(const uint8_t *pin8, uint8_t *value8);
void ContainerKey(const uint8_t *pin8, uint8_t *key32);

// Builds and enciphers a copy for the given parameter record.
void SealCopy(const CopyContent &content, const uint8_t *paramRecord, const uint8_t *key32, uint8_t *copy);
// Checks and deciphers a copy: 0, or 33 when the counter's CRC or the MAC does not
// match (another key, or damage).
uint32_t OpenCopy(const uint8_t *copy, const uint8_t *paramRecord, const uint8_t *key32, CopyContent &content);
// The counter of a stored copy (bytes 0..3).
uint32_t CopyCounter(const uint8_t *copy);

}  // namespace kcar::container
