// What the firmware update dialogue needs of the platform besides PC/SC (which
// TScReader reaches directly): the console, a pause, and the boot-loader device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fwflash {

class FlashPlatform {
public:
    virtual ~FlashPlatform() = default;
    // Writes text to the console as it stands (line ends included by the caller).
    virtual void Write(std::string_view text) = 0;
    // Waits for the user: reads one line (returns at the end of input as well).
    virtual void WaitEnter() = 0;
    virtual void SleepMs(unsigned ms) = 0;
    // Opens the boot-loader device; false when it is not there. A handle opened
    // earlier stays open until the platform goes away.
    virtual bool OpenBootLoader() = 0;
    // One device I/O control on the most recently opened device: record (size
    // bytes) is both input and output. False when the request could not be sent.
    virtual bool BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) = 0;
};

}  // namespace fwflash
