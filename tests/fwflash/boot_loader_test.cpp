// The simulated boot loader on its own: what it answers to records out of the
// normal order, and that a refused or unfinished transfer never touches the
// stored firmware.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "boot_loader.h"
#include "firmware_image.h"
#include "flash_records.h"
#include "temp_dir.h"
#include "token_state.h"
#include "usb_token.h"

namespace fwflash {
namespace {

uint32_t Send(bootsim::BootLoader &loader, uint32_t command, const uint8_t *data, std::size_t length) {
    RequestRecord r = MakeRequest(command, data, length);
    EXPECT_TRUE(loader.Control(kBootLoaderIoctl, r.data(), r.size()));
    return GetLe32(&r[8]);
}

uint32_t SendBlock(bootsim::BootLoader &loader, std::size_t index) {
    BlockRecord b = MakeBlockRecord(kFirmwareImage.data(), index);
    return Send(loader, kCommandBlock, b.data(), b.size());
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BootLoader, AnswersRecordsOutOfTheNormalOrder) {
    testsupport::TempDir dir("bootsim-test");
    bootsim::BootLoader loader(dir.File("fw.bin"));
    EXPECT_EQ(SendBlock(loader, 1), 0x6Au) << "block 1 before block 0";
    EXPECT_EQ(SendBlock(loader, 0), 0x90u);
    EXPECT_EQ(SendBlock(loader, 0), 0x90u) << "the same block again";
    BlockRecord other = MakeBlockRecord(kFirmwareImage.data(), 1);
    other[0] = 0;  // block 1's bytes under index 0, with a valid CRC
    uint16_t crc = Crc16(other.data(), 129);
    other[129] = static_cast<uint8_t>(crc);
    other[130] = static_cast<uint8_t>(crc >> 8);
    EXPECT_EQ(Send(loader, kCommandBlock, other.data(), other.size()), 0x6Au) << "block 0 with other bytes";
    BlockRecord b1 = MakeBlockRecord(kFirmwareImage.data(), 1);
    EXPECT_EQ(Send(loader, kCommandBlock, b1.data(), 130), 0x67u) << "short block record";
    EXPECT_EQ(Send(loader, 0x85, nullptr, 0), 0x6Du) << "unknown command";
    b1[129] ^= 1;
    EXPECT_EQ(Send(loader, kCommandBlock, b1.data(), b1.size()), 2u) << "CRC mismatch asks a resend";

    RequestRecord r = MakeRequest(kCommandFinish, nullptr, 0);
    EXPECT_FALSE(loader.Control(0x222014, r.data(), r.size())) << "another control code";
    EXPECT_FALSE(loader.Control(kBootLoaderIoctl, r.data(), r.size() - 1)) << "short record";
}

TEST(BootLoader, UnfinishedTransferKeepsTheStoredFirmware) {
    testsupport::TempDir dir("bootsim-test");
    const std::string path = dir.File("fw.bin");
    std::ofstream(path, std::ios::binary) << "old firmware";
    bootsim::BootLoader loader(path);
    for (std::size_t i = 0; i < 47; ++i) ASSERT_EQ(SendBlock(loader, i), 0x90u) << i;
    EXPECT_EQ(Send(loader, kCommandFinish, nullptr, 0), 0x69u);
    EXPECT_FALSE(loader.Stored());
    EXPECT_EQ(ReadFile(path), "old firmware");
    // The blocks so far are kept: the last one completes the image.
    EXPECT_EQ(SendBlock(loader, 47), 0x90u);
    EXPECT_EQ(Send(loader, kCommandFinish, nullptr, 0), 0x90u);
    EXPECT_EQ(ReadFile(path), std::string(kFirmwareImage.begin(), kFirmwareImage.end()));
    EXPECT_EQ(dir.Entries().size(), 1u) << "no temporary file left";
}

// The token's side of the vendor requests: which ones it takes, and how its reader
// name and devices change with the restart into the boot loader and back.
TEST(UsbToken, VendorRequestsAndRestarts) {
    testsupport::TempDir dir("bootsim-test");
    vtoken::State state;
    std::string error;
    ASSERT_TRUE(vtoken::MakeState({}, state, error)) << error;
    vtoken::Token token(state);
    bootsim::BootLoader loader(dir.File("fw.bin"));
    bootsim::UsbToken device(token, loader);
    const bootsim::Bytes info = {0x0C, 0xA0, 0x31, 0x7A}, restart = {0x14, 0xA0, 0x31, 0x7A};
    bootsim::Bytes out;

    struct Case {
        uint32_t code;
        bootsim::Bytes input;
        bool accepted;
        std::size_t outSize;
    } cases[] = {
        {0x3136B0, info, true, 16},
        {0x3136B4, info, false, 0},                       // another control code
        {0x3136B0, {0x0C, 0xA0, 0x31, 0x7B}, false, 0},   // another top byte
        {0x3136B0, {0x10, 0xA0, 0x31, 0x7A}, false, 0},   // a request the token does not take
        {0x3136B0, {0x0C, 0xA0, 0x31}, false, 0},         // short input
    };
    for (const Case &c : cases) {
        EXPECT_EQ(device.VendorControl(c.code, c.input, out), c.accepted) << std::hex << c.code;
        EXPECT_EQ(out.size(), c.outSize);
        EXPECT_FALSE(device.InBootLoader());
    }
    EXPECT_EQ(device.ReaderName(), "Kelmar Morvane 0");
    EXPECT_FALSE(device.OpenDevice("ClsReaderB07r00"));

    ASSERT_TRUE(device.VendorControl(0x3136B0, restart, out));
    EXPECT_TRUE(device.InBootLoader());
    EXPECT_EQ(device.ReaderName(), "");
    EXPECT_TRUE(device.OpenDevice("ClsReaderB07r00"));
    EXPECT_FALSE(device.OpenDevice("ClsReaderB07r01"));
    EXPECT_FALSE(device.VendorControl(0x3136B0, info, out)) << "no reader function in the boot loader";
    EXPECT_EQ(token.Transmit({0x00, 0xA4, 0x08, 0x00, 0x02, 0x00, 0x42}), (bootsim::Bytes{0x6F, 0x00}));

    // A complete transfer hands back to the token.
    for (std::size_t i = 0; i < kBlockCount; ++i) {
        BlockRecord b = MakeBlockRecord(kFirmwareImage.data(), i);
        RequestRecord r = MakeRequest(kCommandBlock, b.data(), b.size());
        ASSERT_TRUE(device.DeviceControl(kBootLoaderIoctl, r.data(), r.size()));
    }
    RequestRecord finish = MakeRequest(kCommandFinish, nullptr, 0);
    ASSERT_TRUE(device.DeviceControl(kBootLoaderIoctl, finish.data(), finish.size()));
    EXPECT_EQ(GetLe32(&finish[8]), 0x90u);
    EXPECT_FALSE(device.InBootLoader());
    EXPECT_EQ(device.ReaderName(), "Kelmar Morvane 0");
    EXPECT_FALSE(device.DeviceControl(kBootLoaderIoctl, finish.data(), finish.size())) << "the device is gone";
}

}  // namespace
}  // namespace fwflash
