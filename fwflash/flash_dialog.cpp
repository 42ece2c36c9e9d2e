#include "flash_dialog.h"

#include <algorithm>
#include <string>

#include "flash_records.h"

namespace fwflash {

FlashDialog::FlashDialog(FlashPlatform &platform, const uint8_t *image, std::size_t imageSize)
    : platform_(platform), image_(image), imageSize_(imageSize) {}

void FlashDialog::FindDevice() {
    deviceType_ = kDeviceTokenReader;
    readers_.push_back(std::make_unique<TScReader>());
    TScReader &reader = *readers_.back();
    reader.SetReaderName(kTokenReaderName);
    uint8_t atr[64];
    DWORD atrLength = 0;
    if (reader.Connect(atr, atrLength)) return;
    deviceType_ = kDeviceBootLoader;
    if (!platform_.OpenBootLoader()) deviceType_ = kDeviceNone;
}

uint32_t FlashDialog::SendCommand(uint32_t command, const uint8_t *data, std::size_t length) {
    RequestRecord record = MakeRequest(command, data, length);
    if (!platform_.BootLoaderControl(kBootLoaderIoctl, record.data(), record.size())) return kResultNotSent;
    return GetLe32(&record[8]);
}

bool FlashDialog::Upgrade() {
    std::size_t remaining = imageSize_;
    std::size_t blockLength = kBlockDataSize;
    for (std::size_t index = 0; remaining != 0; ++index) {
        BlockRecord block = MakeBlockRecord(image_, index);
        uint32_t result = SendCommand(kCommandBlock, block.data(), block.size());
        if (result == kResultResend) result = SendCommand(kCommandBlock, block.data(), block.size());
        if (result != kResultAccepted) {
            platform_.Write("Error during upgrading!\n");
            platform_.Write("Press <ENTER> to exit...\n");
            platform_.WaitEnter();
            return false;
        }
        platform_.Write("\rProgram " + std::to_string((imageSize_ - remaining) * 100 / imageSize_) + "%");
        remaining -= blockLength;
        if (remaining < kBlockDataSize) blockLength = remaining;
    }
    platform_.Write("\rProgram 100% Upgrading successful.  \n");
    return true;
}

void FlashDialog::ExitPrompt() {
    platform_.Write("Press <ENTER> to exit...\n");
    platform_.WaitEnter();
}

int FlashDialog::Run() {
    platform_.Write("Insert Token and press <Enter>...");
    platform_.WaitEnter();
    FindDevice();
    if (deviceType_ != kDeviceTokenReader) {
        platform_.Write("Can`t find device.\n");
        ExitPrompt();
        return 0;
    }
    TScReader &token = *readers_.back();
    uint8_t output[16];
    DWORD returned = 0;
    if (!token.Control(kVendorControlCode, kRequestReaderInfo, 4, output, sizeof output, returned)) {
        platform_.Write("Can`t find correct device.\n");
        ExitPrompt();
        return 0;
    }
    if (!token.Control(kVendorControlCode, kRequestStartBootLoader, 4, output, sizeof output, returned))
        platform_.Write("Can't start bootloader\n");
    platform_.SleepMs(3000);
    platform_.Write("Install Drivers for \"Bootcore B07\" and press <Enter>\n");
    platform_.WaitEnter();
    FindDevice();
    if (deviceType_ != kDeviceBootLoader) {
        platform_.Write("Can`t connect to device.\n");
        ExitPrompt();
        return 0;
    }
    platform_.Write("Press <ENTER> to start upgrading...\n");
    platform_.WaitEnter();
    Upgrade();
    ExitPrompt();
    SendCommand(kCommandFinish, nullptr, 0);
    return 0;
}

}  // namespace fwflash
