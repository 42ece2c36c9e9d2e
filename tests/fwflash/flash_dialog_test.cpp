// The whole update dialogue against the simulated token (its reader in the test
// PC/SC layer) and the simulated boot loader, with a scripted console.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "boot_loader.h"
#include "firmware_image.h"
#include "flash_dialog.h"
#include "flash_records.h"
#include "temp_dir.h"
#include "test_pcsc.h"
#include "token_state.h"
#include "usb_token.h"
#include "usb_token_testpcsc.h"

namespace fwflash {
namespace {

class ScriptedPlatform : public FlashPlatform {
public:
    explicit ScriptedPlatform(bootsim::UsbToken &device) : device_(device) {}
    void Write(std::string_view text) override { output.append(text); }
    void WaitEnter() override { waitsAfter.push_back(output); }
    void SleepMs(unsigned ms) override { sleeps.push_back(ms); }
    bool OpenBootLoader() override {
        opened_ = device_.OpenDevice("ClsReaderB07r00");
        return opened_;
    }
    bool BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) override {
        return opened_ && device_.DeviceControl(code, record, size);
    }

    void Clear() {
        output.clear();
        waitsAfter.clear();
        sleeps.clear();
        opened_ = false;
    }

    std::string output;
    std::vector<std::string> waitsAfter;  // the output so far at each wait
    std::vector<unsigned> sleeps;

private:
    bootsim::UsbToken &device_;
    bool opened_ = false;
};

vtoken::State FreshState() {
    vtoken::State s;
    std::string error;
    EXPECT_TRUE(vtoken::MakeState({}, s, error)) << error;
    return s;
}

const std::string kInsert = "Insert Token and press <Enter>...";
const std::string kInstall = "Install Drivers for \"Bootcore B07\" and press <Enter>\n";
const std::string kStart = "Press <ENTER> to start upgrading...\n";
const std::string kExit = "Press <ENTER> to exit...\n";

// The progress written after blocks 0 .. last.
std::string Progress(int last) {
    std::string s;
    for (int i = 0; i <= last; ++i) s += "\rProgram " + std::to_string(12800 * i / 6140) + "%";
    return s;
}

class FlashDialogTest : public ::testing::Test {
public:
    FlashDialogTest()
        : token_(FreshState()), loader_(dir_.File("firmware.bin")), device_(token_, loader_), platform_(device_) {
        testpcsc::Reset();
    }
    ~FlashDialogTest() override { testpcsc::Reset(); }

    int RunDialog() {
        if (plugIn_) bootsim::PlugIn(device_);
        int status;
        {
            FlashDialog dialog(platform_, kFirmwareImage.data(), kFirmwareImage.size());
            status = dialog.Run();
        }
        EXPECT_EQ(testpcsc::OpenContexts(), 0);
        EXPECT_EQ(testpcsc::OpenCards(), 0);
        return status;
    }
    std::vector<uint8_t> StoredImage() {
        std::ifstream in(dir_.File("firmware.bin"), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The blocks the boot loader received, by index, and the commands in order.
    std::vector<uint32_t> Commands() const {
        std::vector<uint32_t> c;
        for (const auto &r : loader_.Received()) c.push_back(GetLe32(r.data()));
        return c;
    }

    testsupport::TempDir dir_{"fwflash-test"};
    vtoken::Token token_;
    bootsim::BootLoader loader_;
    bootsim::UsbToken device_;
    ScriptedPlatform platform_;
    bool plugIn_ = true;
};

TEST_F(FlashDialogTest, UpgradeWritesTheImageWithEveryPercentage) {
    EXPECT_EQ(RunDialog(), 0);
    EXPECT_EQ(platform_.output, kInsert + kInstall + kStart + Progress(47) +
                                    "\rProgram 100% Upgrading successful.  \n" + kExit);
    EXPECT_NE(platform_.output.find("\rProgram 95%\rProgram 97%\rProgram 100%"), std::string::npos);
    EXPECT_EQ(platform_.waitsAfter.size(), 4u);
    EXPECT_EQ(platform_.sleeps, std::vector<unsigned>{3000});

    std::vector<uint8_t> stored = StoredImage();
    ASSERT_EQ(stored.size(), kImageSize);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), kFirmwareImage.begin()));

    // 48 blocks, indices 0..47 in order, each 131 bytes, then the final command.
    const auto &received = loader_.Received();
    ASSERT_EQ(received.size(), 49u);
    for (std::size_t i = 0; i < 48; ++i) {
        EXPECT_EQ(GetLe32(received[i].data()), kCommandBlock);
        EXPECT_EQ(GetLe32(received[i].data() + 12), 131u);
        EXPECT_EQ(received[i][24], i);
    }
    EXPECT_EQ(GetLe32(received[48].data()), kCommandFinish);
    EXPECT_EQ(GetLe32(received[48].data() + 12), 0u);
    // The boot loader handed back: the token is a reader again.
    EXPECT_FALSE(device_.InBootLoader());
}

TEST_F(FlashDialogTest, OneResendOrOneDamagedBlockStillUpgrades) {
    for (bool garble : {false, true}) {
        SCOPED_TRACE(garble ? "damaged block" : "resend asked");
        testpcsc::Reset();
        token_.LeaveBootLoader();
        loader_ = bootsim::BootLoader(dir_.File("firmware.bin"));
        bootsim::Faults faults;
        if (garble) faults.garbleBlock = 10;
        else faults.resendBlock = 10, faults.resendTimes = 1;
        loader_.SetFaults(faults);
        platform_.Clear();
        EXPECT_EQ(RunDialog(), 0);
        EXPECT_NE(platform_.output.find("Upgrading successful."), std::string::npos);
        const auto &received = loader_.Received();
        ASSERT_EQ(received.size(), 50u);
        EXPECT_EQ(received[10], received[11]) << "the resend is the same record";
        EXPECT_EQ(StoredImage().size(), kImageSize);
    }
}

// Every way the dialogue stops early: the text after the first prompt, the
// number of waits, and whether the final command went out.
TEST_F(FlashDialogTest, StopsWithItsMessageAndExitPrompts) {
    struct Case {
        const char *name;
        std::function<void(FlashDialogTest &)> setUp;
        std::string after;  // the output after kInsert
        std::size_t waits;
        bool finalSent;
    };
    const std::string refusedTail = "Error during upgrading!\n" + kExit + kExit;
    const Case cases[] = {
        {"no token reader", [](FlashDialogTest &t) { t.plugIn_ = false; }, "Can`t find device.\n" + kExit, 2, false},
        {"token already in its boot loader",
         [](FlashDialogTest &t) {
             bootsim::Bytes out;
             t.device_.VendorControl(0x3136B0, {0x14, 0xA0, 0x31, 0x7A}, out);
         },
         "Can`t find device.\n" + kExit, 2, false},
        {"reader information refused",
         [](FlashDialogTest &t) { t.token_.RefuseControl({0x0C, 0xA0, 0x31, 0x7A}); },
         "Can`t find correct device.\n" + kExit, 2, false},
        {"restart refused: the reader stays",
         [](FlashDialogTest &t) { t.token_.RefuseControl({0x14, 0xA0, 0x31, 0x7A}); },
         "Can't start bootloader\n" + kInstall + "Can`t connect to device.\n" + kExit, 3, false},
        {"block 5 answered 2 twice",
         [](FlashDialogTest &t) { t.loader_.SetFaults({.resendBlock = 5, .resendTimes = 2}); },
         kInstall + kStart + Progress(4) + refusedTail, 5, true},
        {"block 0 refused", [](FlashDialogTest &t) { t.loader_.SetFaults({.refuseBlock = 0, .refuseResult = 0x6F}); },
         kInstall + kStart + refusedTail, 5, true},
        {"last block not sent", [](FlashDialogTest &t) { t.loader_.SetFaults({.failBlock = 47}); },
         kInstall + kStart + Progress(46) + refusedTail, 5, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testpcsc::Reset();
        token_ = vtoken::Token(FreshState());
        loader_ = bootsim::BootLoader(dir_.File("firmware.bin"));
        platform_.Clear();
        plugIn_ = true;
        c.setUp(*this);
        EXPECT_EQ(RunDialog(), 0);
        EXPECT_EQ(platform_.output, kInsert + c.after);
        EXPECT_EQ(platform_.waitsAfter.size(), c.waits);
        // The dialogue always ends waiting right after the exit prompt.
        ASSERT_FALSE(platform_.waitsAfter.empty());
        const std::string &last = platform_.waitsAfter.back();
        EXPECT_EQ(last.substr(last.size() - kExit.size()), kExit);
        if (c.waits == 5) {
            // Refused block: its own exit prompt and the main flow's, each waited for.
            const std::string &before = platform_.waitsAfter[3];
            EXPECT_EQ(before.substr(before.size() - kExit.size() - 24), "Error during upgrading!\n" + kExit);
        }
        std::vector<uint32_t> commands = Commands();
        EXPECT_EQ(!commands.empty() && commands.back() == kCommandFinish, c.finalSent);
        // A refused transfer stores nothing.
        EXPECT_TRUE(StoredImage().empty());
    }
}

}  // namespace
}  // namespace fwflash
