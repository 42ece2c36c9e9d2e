// The Linux platform of fwflash (see platform_posix.cpp).
#pragma once

#include <string>
#include <vector>

#include "flash_platform.h"

namespace fwflash {

class PosixPlatform : public FlashPlatform {
public:
    // devicePath: the Unix socket that stands for the boot-loader device.
    explicit PosixPlatform(std::string devicePath);
    ~PosixPlatform() override;

    void Write(std::string_view text) override;
    void WaitEnter() override;
    void SleepMs(unsigned ms) override;
    bool OpenBootLoader() override;
    bool BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) override;

private:
    std::string devicePath_;
    std::vector<int> devices_;
};

}  // namespace fwflash
