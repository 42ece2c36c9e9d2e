// The firmware update dialogue: switch the token into its boot loader through two
// vendor control requests, then write the image into the boot loader block by
// block. Every message is a fixed English text; the user moves on with Enter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "StdReader.h"
#include "flash_platform.h"

namespace fwflash {

inline constexpr char kTokenReaderName[] = "Kelmar Morvane 0";
inline constexpr DWORD kVendorControlCode = 0x3136B0;  // SCARD_CTL_CODE(3500) of winscard
// The vendor requests, as the 4 bytes sent: reader information, and the restart
// into the boot loader.
inline constexpr uint8_t kRequestReaderInfo[4] = {0x0C, 0xA0, 0x31, 0x7A};
inline constexpr uint8_t kRequestStartBootLoader[4] = {0x14, 0xA0, 0x31, 0x7A};

// What the last device search found.
inline constexpr char kDeviceTokenReader[] = "ReaderA12";
inline constexpr char kDeviceBootLoader[] = "ReaderB07";
inline constexpr char kDeviceNone[] = "\xD0\xE8\xE4\xE5\xF0 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED!";  // code page 1251

class FlashDialog {
public:
    FlashDialog(FlashPlatform &platform, const uint8_t *image, std::size_t imageSize);
    // Runs the whole dialogue; answers the program's exit status (always 0).
    int Run();

    // The parts of Run, for tests.
    void FindDevice();
    const std::string &DeviceType() const { return deviceType_; }
    // Sends one request record; answers the boot loader's result, or 0xFF00 when
    // the request could not be sent.
    uint32_t SendCommand(uint32_t command, const uint8_t *data, std::size_t length);
    // Writes the image; false after a refused block (its exit prompt is done).
    bool Upgrade();

private:
    void ExitPrompt();

    FlashPlatform &platform_;
    const uint8_t *image_;
    std::size_t imageSize_;
    std::string deviceType_;
    // Every search makes a new connection; the earlier ones stay open until the end.
    std::vector<std::unique_ptr<TScReader>> readers_;
};

}  // namespace fwflash
