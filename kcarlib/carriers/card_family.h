// Constants of the card family that the host and the cards must agree on. This
// header holds data only; the library's card carriers and the simulated cards
// both read their values from here, so that the two sides cannot drift apart.
#pragma once

#include <cstdint>

namespace kcar::family {

// Container card: the card never sees the PIN. It checks a card value, the first
// 8 bytes of the GOST 34.311 hash of the 8 PIN bytes, and the container is
// enciphered under a second hash of the same bytes. The two hashes differ only in
// their start vectors, 32 copies of one byte each. The bytes are arbitrary but
// must differ from each other, so that the card value says nothing about the
// container key; they are fixed for ever, since changing either one makes every
// card and every key file unreadable.
inline constexpr uint8_t kCardValueStartByte = 0x3C;
inline constexpr uint8_t kContainerKeyStartByte = 0xA5;

// Protected data card: its secure channel takes its MAC key and its cipher key
// from this constant (first byte replaced by 0 and 1 respectively).
inline constexpr uint8_t kChannelConstant[32] = {
    0x4E, 0x8B, 0x21, 0xD7, 0x93, 0x5A, 0x0C, 0xE6, 0x71, 0x3F, 0xB8, 0x45, 0x9D, 0x02, 0xCA, 0x67,
    0x18, 0xF4, 0x5B, 0xA0, 0x36, 0xE9, 0x7C, 0x8D, 0x24, 0xC1, 0x6F, 0x90, 0x53, 0xBE, 0x0A, 0xD2,
};

}  // namespace kcar::family
