// The Windows platform of fwflash: the console through the C library, the
// boot-loader device "\\.\ClsReaderB07r00" through its driver.
#include "platform_win32.h"

#include <cstdio>

namespace fwflash {

Win32Platform::~Win32Platform() {
    for (HANDLE h : devices_) CloseHandle(h);
}

void Win32Platform::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Win32Platform::WaitEnter() {
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
}

void Win32Platform::SleepMs(unsigned ms) { Sleep(ms); }

bool Win32Platform::OpenBootLoader() {
    HANDLE h = CreateFileA("\\\\.\\ClsReaderB07r00", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    devices_.push_back(h);
    return true;
}

bool Win32Platform::BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) {
    if (devices_.empty()) return false;
    DWORD returned = 0;
    return DeviceIoControl(devices_.back(), code, record, static_cast<DWORD>(size), record, static_cast<DWORD>(size),
                           &returned, nullptr) != 0;
}

}  // namespace fwflash
