// The simulated token as the host sees its USB device: in reader mode a PC/SC
// reader "Kelmar Morvane 0" holding the token, which also takes vendor control
// requests; after the restart request, the boot-loader device "ClsReaderB07r00"
// served by the simulated boot loader. A final command that stores the image
// brings the token back as a reader.
#pragma once

#include <cstdint>
#include <string>

#include "boot_loader.h"
#include "vtoken.h"

namespace bootsim {

class UsbToken {
public:
    UsbToken(vtoken::Token &token, BootLoader &loader) : token_(token), loader_(loader) {}

    vtoken::Token &token() { return token_; }
    BootLoader &loader() { return loader_; }
    bool InBootLoader() const { return token_.mode() == vtoken::Token::Mode::BootLoader; }
    // Increases with every restart of the device (either way).
    uint32_t Generation() const { return generation_; }

    // PC/SC side: the reader's name while the token is a reader, else empty.
    std::string ReaderName() const { return InBootLoader() ? std::string() : vtoken::Token::kReaderName; }
    bool VendorControl(uint32_t code, const Bytes &input, Bytes &out);

    // Device side: true when the named boot-loader device is there.
    bool OpenDevice(const std::string &name) const;
    bool DeviceControl(uint32_t code, uint8_t *record, std::size_t size);

private:
    vtoken::Token &token_;
    BootLoader &loader_;
    uint32_t generation_ = 1;
};

}  // namespace bootsim
