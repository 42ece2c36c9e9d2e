// The Windows platform of fwflash (see platform_win32.cpp).
#pragma once

#include <windows.h>

#include <vector>

#include "flash_platform.h"

namespace fwflash {

class Win32Platform : public FlashPlatform {
public:
    Win32Platform() = default;
    ~Win32Platform() override;

    void Write(std::string_view text) override;
    void WaitEnter() override;
    void SleepMs(unsigned ms) override;
    bool OpenBootLoader() override;
    bool BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) override;

private:
    std::vector<HANDLE> devices_;
};

}  // namespace fwflash
