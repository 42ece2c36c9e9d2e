// fwflash: writes the firmware image it carries into a token. It switches the
// token into its boot loader through its PC/SC reader, then sends the image to
// the boot-loader device block by block.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "firmware_image.h"
#include "flash_dialog.h"

#ifdef _WIN32
#include "platform_win32.h"
#else
#include "device_socket.h"
#include "platform_posix.h"
#endif

int main(int argc, char **argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    fwflash::Win32Platform platform;
#else
    std::string device;
    if (const char *env = std::getenv(fwflash::kDevicePathVariable); env != nullptr && *env != '\0') device = env;
    else device = fwflash::kDefaultDevicePath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "usage: fwflash [--device PATH]\n"
                "\n"
                "Writes the firmware image built into this program (6140 bytes) into a token.\n"
                "It finds the token's reader \"%s\" through PC/SC, asks the token to\n"
                "restart into its boot loader, and sends the image to the boot-loader device.\n"
                "Every step waits for Enter.\n"
                "\n"
                "On Linux the boot-loader device is a Unix socket served by the device's\n"
                "driver or by a simulator: --device PATH, else $%s, else\n"
                "%s. The simulated token (nki-vusb) serves one; its\n"
                "reader is reached through the project's stand-in PC/SC library\n"
                "(LD_LIBRARY_PATH=build/sim/usbdev/pcsc-standin, NKI_VUSB_PORT=PORT).\n",
                fwflash::kTokenReaderName, fwflash::kDevicePathVariable, fwflash::kDefaultDevicePath);
            return 0;
        }
        if (std::strcmp(argv[i], "--device") == 0 && i + 1 < argc) {
            device = argv[++i];
            continue;
        }
        std::fprintf(stderr, "fwflash: unknown argument %s (see --help)\n", argv[i]);
        return 2;
    }
    fwflash::PosixPlatform platform(device);
#endif
    fwflash::FlashDialog dialog(platform, fwflash::kFirmwareImage.data(), fwflash::kFirmwareImage.size());
    return dialog.Run();
}
