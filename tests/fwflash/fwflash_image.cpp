// Writes the firmware image that fwflash carries to the file named, so that the
// end-to-end tests can compare what the simulated boot loader stored.
#include <cstdio>

#include "firmware_image.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fwflash-image FILE\n");
        return 2;
    }
    FILE *f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    bool ok = std::fwrite(fwflash::kFirmwareImage.data(), 1, fwflash::kFirmwareImage.size(), f) ==
              fwflash::kFirmwareImage.size();
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}
