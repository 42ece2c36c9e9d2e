#include "flash_records.h"

#include <algorithm>
#include <cstring>

namespace fwflash {

uint16_t Crc16(const uint8_t *data, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void ScrambleBlock(uint8_t index, uint8_t *data) {
    uint16_t reg = static_cast<uint16_t>(index << 8 | kScramblerSeed);
    for (std::size_t i = 0; i < kBlockDataSize; ++i) {
        bool out = (reg & 0x8000) != 0;
        reg = static_cast<uint16_t>(reg << 1);
        if (out) reg ^= kScramblerFeedback;
        data[i] ^= static_cast<uint8_t>(reg >> 8);
    }
}

BlockRecord MakeBlockRecord(const uint8_t *image, std::size_t index) {
    BlockRecord r{};
    std::size_t start = index * kBlockDataSize;
    std::size_t n = start < kImageSize ? std::min(kBlockDataSize, kImageSize - start) : 0;
    r[0] = static_cast<uint8_t>(index);
    if (n) std::memcpy(&r[1], image + start, n);
    ScrambleBlock(r[0], &r[1]);
    uint16_t crc = Crc16(r.data(), 1 + kBlockDataSize);
    r[129] = static_cast<uint8_t>(crc);
    r[130] = static_cast<uint8_t>(crc >> 8);
    return r;
}

RequestRecord MakeRequest(uint32_t command, const uint8_t *data, std::size_t length) {
    RequestRecord r{};
    length = std::min(length, kRequestFilled);
    PutLe32(&r[0], command);
    PutLe32(&r[4], 250);
    PutLe32(&r[8], kResultNotSent);
    PutLe32(&r[12], static_cast<uint32_t>(length));
    PutLe32(&r[16], 0);
    PutLe32(&r[20], 1);
    // The whole data area is 0x37: the last two bytes are not part of the filled
    // area but get the same value rather than stray zeros.
    std::fill(r.begin() + kRequestDataOffset, r.end(), uint8_t{0x37});
    if (length) std::memcpy(&r[kRequestDataOffset], data, length);
    return r;
}

uint32_t GetLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace fwflash
