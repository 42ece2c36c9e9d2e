// The firmware image that fwflash writes into the token: 6140 bytes generated at
// compile time, so every build of the tool (Linux or Windows) carries the same
// bytes and the tests can rebuild them.
//
// The pattern: bytes 0..15 are the header "KCAR-TOKEN-FW" 00 01 00 (name, then
// version 1.0 and a zero), bytes 16..6137 come from a 32-bit xorshift generator
// (x ^= x << 13; x ^= x >> 17; x ^= x << 5) seeded with 0x4B434152, one step and
// its low byte per image byte, and the last two bytes are the CRC-16 of bytes
// 0..6137 (the parameters of flash_records.h), low byte first, so a stored image
// can be checked on its own.
#pragma once

#include <array>
#include <cstdint>

#include "flash_records.h"

namespace fwflash {

constexpr std::array<uint8_t, kImageSize> MakeFirmwareImage() {
    std::array<uint8_t, kImageSize> image{};
    const char header[] = "KCAR-TOKEN-FW";
    std::size_t i = 0;
    for (; header[i] != '\0'; ++i) image[i] = static_cast<uint8_t>(header[i]);
    image[i++] = 0x00;
    image[i++] = 0x01;
    image[i++] = 0x00;
    uint32_t x = 0x4B434152;
    for (; i < kImageSize - 2; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<uint8_t>(x);
    }
    uint16_t crc = 0xFFFF;
    for (std::size_t k = 0; k < kImageSize - 2; ++k) {
        crc ^= static_cast<uint16_t>(image[k] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    image[kImageSize - 2] = static_cast<uint8_t>(crc);
    image[kImageSize - 1] = static_cast<uint8_t>(crc >> 8);
    return image;
}

inline constexpr std::array<uint8_t, kImageSize> kFirmwareImage = MakeFirmwareImage();

}  // namespace fwflash
