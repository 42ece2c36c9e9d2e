// The two checksums of the carriers' stored formats: CRC-32 of the key file (the
// zip and HDLC CRC) and CRC-16/X-25 of the container card's copy counters. Both
// take a running value so that a checksum may be computed over pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kcar {

// CRC-32: reflected polynomial 0xEDB88320, start 0xFFFFFFFF, final complement.
// Crc32Update(Crc32Start(), ...) then Crc32Finish; "123456789" gives 0xCBF43926.
inline constexpr uint32_t Crc32Start() { return 0xFFFFFFFFu; }
uint32_t Crc32Update(uint32_t crc, const void *data, std::size_t length) noexcept;
inline constexpr uint32_t Crc32Finish(uint32_t crc) { return ~crc; }
uint32_t Crc32(const void *data, std::size_t length) noexcept;

// CRC-16/X-25: reflected polynomial 0x8408, start 0xFFFF, final complement;
// "123456789" gives 0x906E.
uint16_t Crc16X25(const void *data, std::size_t length) noexcept;

}  // namespace kcar
