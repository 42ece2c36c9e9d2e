#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boot_loader.h"
#include "firmware_image.h"
#include "flash_records.h"

namespace fwflash {
namespace {

TEST(FlashCrc, KnownValuesInToolAndBootLoader) {
    struct Case {
        std::string text;
        uint16_t crc;
    } cases[] = {{"", 0xFFFF}, {"abc", 0x514A}, {"123456789", 0x29B1}, {"A", 0xB915}};
    for (const Case &c : cases) {
        auto *p = reinterpret_cast<const uint8_t *>(c.text.data());
        EXPECT_EQ(Crc16(p, c.text.size()), c.crc) << c.text;
        EXPECT_EQ(bootsim::BootCrc16(p, c.text.size()), c.crc) << c.text;
    }
}

// Key stream of block 0 worked out by hand from the register rules: start 0x004E,
// shift left, XOR 0x9B into the low byte when a 1 falls out, use the high byte.
TEST(FlashScrambler, KeyStreamOfBlockZero) {
    uint8_t data[128] = {};
    ScrambleBlock(0, data);
    const uint8_t expected[] = {0x00, 0x01, 0x02, 0x04, 0x09, 0x13, 0x27, 0x4E, 0x9C, 0x38, 0x71, 0xE2, 0xC4};
    EXPECT_EQ(0, std::memcmp(data, expected, sizeof expected));
    uint8_t loader[128] = {};
    bootsim::Descramble(0, loader, sizeof loader);
    EXPECT_EQ(0, std::memcmp(data, loader, sizeof data));
}

TEST(FlashScrambler, BlockIndexEntersTheSeed) {
    uint8_t a[128] = {}, b[128] = {};
    ScrambleBlock(1, a);
    ScrambleBlock(2, b);
    // 0x014E shifted once: 0x029C, high byte 02; 0x024E shifted once: 0x049C.
    EXPECT_EQ(a[0], 0x02);
    EXPECT_EQ(b[0], 0x04);
}

TEST(FlashRecords, LastBlockCarries124BytesAndZeroPadding) {
    const auto &image = kFirmwareImage;
    ASSERT_EQ(kBlockCount, 48u);
    BlockRecord r = MakeBlockRecord(image.data(), 47);
    EXPECT_EQ(r[0], 47);
    uint8_t data[128];
    std::memcpy(data, &r[1], 128);
    bootsim::Descramble(47, data, 128);
    EXPECT_EQ(0, std::memcmp(data, image.data() + 47 * 128, 124));
    for (int i = 124; i < 128; ++i) EXPECT_EQ(data[i], 0) << i;
    uint16_t crc = Crc16(r.data(), 129);
    EXPECT_EQ(r[129], crc & 0xFF);
    EXPECT_EQ(r[130], crc >> 8);
}

TEST(FlashRecords, RequestRecordFields) {
    BlockRecord block = MakeBlockRecord(kFirmwareImage.data(), 3);
    struct Case {
        uint32_t command;
        const uint8_t *data;
        std::size_t length;
    } cases[] = {{kCommandBlock, block.data(), block.size()}, {kCommandFinish, nullptr, 0}};
    for (const Case &c : cases) {
        RequestRecord r = MakeRequest(c.command, c.data, c.length);
        EXPECT_EQ(GetLe32(&r[0]), c.command);
        EXPECT_EQ(GetLe32(&r[4]), 250u);
        EXPECT_EQ(GetLe32(&r[8]), 0xFF00u);
        EXPECT_EQ(GetLe32(&r[12]), c.length);
        EXPECT_EQ(GetLe32(&r[16]), 0u);
        EXPECT_EQ(GetLe32(&r[20]), 1u);
        if (c.length) {
            EXPECT_EQ(0, std::memcmp(&r[24], c.data, c.length));
        }
        for (std::size_t i = 24 + c.length; i < r.size(); ++i) ASSERT_EQ(r[i], 0x37) << i;
    }
}

TEST(FirmwareImage, HeaderAndTrailingCrcAreSound) {
    const auto &image = kFirmwareImage;
    EXPECT_EQ(0, std::memcmp(image.data(), "KCAR-TOKEN-FW\0\x01\0", 16));
    uint16_t crc = Crc16(image.data(), image.size() - 2);
    EXPECT_EQ(image[6138], crc & 0xFF);
    EXPECT_EQ(image[6139], crc >> 8);
    // The CRC of the whole image pins the generator: a changed pattern shows here.
    EXPECT_EQ(Crc16(image.data(), image.size()), 0xA894);
}

}  // namespace
}  // namespace fwflash
