#include "carriers/crc.h"

namespace kcar {

uint32_t Crc32Update(uint32_t crc, const void *data, std::size_t length) noexcept {
    const auto *p = static_cast<const uint8_t *>(data);
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

uint32_t Crc32(const void *data, std::size_t length) noexcept {
    return Crc32Finish(Crc32Update(Crc32Start(), data, length));
}

uint16_t Crc16X25(const void *data, std::size_t length) noexcept {
    const auto *p = static_cast<const uint8_t *>(data);
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc >> 1) ^ (0x8408u & (0u - (crc & 1u))));
    }
    return static_cast<uint16_t>(~crc);
}

}  // namespace kcar
