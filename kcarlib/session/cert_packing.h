// The certificate container's bit coder: an LZ77-style stream of literals and
// back-references.
//
// Bits are taken from bit 0 of byte 0 upwards, and every field of n bits is stored
// least significant bit first. Items:
//   literal  0, then the byte (8 bits)
//   match    1, a 2-bit length field (0, 1, 2: lengths 2, 3, 4; 3: a 4-bit e
//            follows, length 5 + e), then a distance flag: 0 and 7 bits d
//            (distance d + 1, 1..128) or 1 and 11 bits d (distance d + 129,
//            129..2175)
//   end      a match of length field 0 with the long distance 0x7FF (2176)
// A match copies byte by byte, so it may overlap the bytes it produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcar {

// Packs n bytes. The result is whole bytes; unused bits of the last one are 0.
std::vector<uint8_t> Pack(const uint8_t *input, std::size_t n);

// Unpacks the L-byte stream at input, producing at most limit bytes into output.
// Answers true when the end item was met within the input and below the limit.
// A stream of 0 bytes is an empty output that counts as ended. Never reads past
// the input; a back-reference before the start of the output is a broken stream.
bool Unpack(const uint8_t *input, std::size_t L, std::vector<uint8_t> &output, std::size_t limit);

// Bytes 0..3 as a little-endian 32-bit value.
inline uint32_t MakeULong(const uint8_t *b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

}  // namespace kcar
