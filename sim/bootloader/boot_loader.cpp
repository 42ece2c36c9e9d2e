#include "boot_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace bootsim {

namespace {

enum : uint32_t {
    kAccepted = 0x90,
    kResend = 2,
    kStoreFailed = 0x65,
    kWrongLength = 0x67,
    kIncomplete = 0x69,
    kOutOfOrder = 0x6A,
    kUnknownCommand = 0x6D,
};
constexpr std::size_t kDataOffset = 24;
constexpr std::size_t kBlockRecord = 131;
constexpr std::size_t kBlockData = 128;

uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void SetLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool WriteFileAtomically(const std::string &path, const Bytes &data) {
    std::string temp = path + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const uint8_t *p = data.data();
    std::size_t n = data.size();
    bool ok = true;
    while (ok && n > 0) {
        ssize_t k = ::write(fd, p, n);
        ok = k > 0;
        if (ok) {
            p += k;
            n -= static_cast<std::size_t>(k);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace

uint16_t BootCrc16(const uint8_t *data, std::size_t length) {
    uint16_t crc = 0xFFFF;
    while (length--) {
        crc = static_cast<uint16_t>(crc ^ (*data++ << 8));
        for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void Descramble(uint8_t index, uint8_t *data, std::size_t length) {
    unsigned reg = (unsigned{index} << 8) | 0x4E;
    for (std::size_t i = 0; i < length; ++i) {
        reg <<= 1;
        if (reg & 0x10000) reg ^= 0x9B;
        reg &= 0xFFFF;
        data[i] ^= static_cast<uint8_t>(reg >> 8);
    }
}

BootLoader::BootLoader(std::string imagePath, std::size_t imageSize)
    : imagePath_(std::move(imagePath)), imageSize_(imageSize), blocks_((imageSize + kBlockData - 1) / kBlockData) {
    Restart();
}

void BootLoader::Restart() {
    image_.assign(blocks_ * kBlockData, 0);
    next_ = 0;
    seen_.assign(blocks_, 0);
    stored_ = false;
}

bool BootLoader::Control(uint32_t code, uint8_t *record, std::size_t size) {
    if (code != kIoctl || record == nullptr || size != kRecordSize) return false;
    received_.emplace_back(record, record + size);
    uint32_t command = Le32(record);
    uint32_t length = Le32(record + 12);
    if (command == 0x83 && length == kBlockRecord && record[kDataOffset] < blocks_ &&
        static_cast<int>(record[kDataOffset]) == faults_.failBlock) {
        faults_.failBlock = -1;
        return false;
    }
    uint32_t result;
    if (length > kRecordSize - kDataOffset) result = kWrongLength;
    else if (command == 0x83) result = Block(record + kDataOffset, length);
    else if (command == 0x81) result = Finish();
    else result = kUnknownCommand;
    SetLe32(record + 8, result);
    SetLe32(record + 16, 0);
    return true;
}

uint32_t BootLoader::Block(const uint8_t *data, uint32_t length) {
    if (length != kBlockRecord) return kWrongLength;
    uint8_t block[kBlockRecord];
    std::memcpy(block, data, sizeof block);
    std::size_t index = block[0];
    if (index >= blocks_) return kOutOfOrder;
    int seen = ++seen_[index];
    if (static_cast<int>(index) == faults_.refuseBlock) return faults_.refuseResult;
    if (static_cast<int>(index) == faults_.resendBlock && seen <= faults_.resendTimes) return kResend;
    if (static_cast<int>(index) == faults_.garbleBlock && seen == 1) block[1 + index % kBlockData] ^= 0x10;
    uint16_t crc = static_cast<uint16_t>(block[129] | block[130] << 8);
    if (BootCrc16(block, 129) != crc) return kResend;
    Descramble(block[0], block + 1, kBlockData);
    uint8_t *slot = &image_[index * kBlockData];
    if (index < next_) return std::equal(block + 1, block + 129, slot) ? kAccepted : kOutOfOrder;
    if (index != next_) return kOutOfOrder;
    std::memcpy(slot, block + 1, kBlockData);
    ++next_;
    return kAccepted;
}

uint32_t BootLoader::Finish() {
    if (next_ != blocks_) return kIncomplete;
    // The last block is padded with zeros past the image's end.
    if (!std::all_of(image_.begin() + static_cast<long>(imageSize_), image_.end(), [](uint8_t b) { return b == 0; }))
        return kOutOfOrder;
    Bytes image(image_.begin(), image_.begin() + static_cast<long>(imageSize_));
    if (!WriteFileAtomically(imagePath_, image)) return kStoreFailed;
    stored_ = true;
    return kAccepted;
}

}  // namespace bootsim
