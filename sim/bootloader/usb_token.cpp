#include "usb_token.h"

namespace bootsim {

bool UsbToken::VendorControl(uint32_t code, const Bytes &input, Bytes &out) {
    bool wasBootLoader = InBootLoader();
    bool ok = token_.Control(code, input, out);
    if (InBootLoader() && !wasBootLoader) {
        loader_.Restart();
        ++generation_;
    }
    return ok;
}

bool UsbToken::OpenDevice(const std::string &name) const {
    return InBootLoader() && name == vtoken::Token::kBootLoaderName;
}

bool UsbToken::DeviceControl(uint32_t code, uint8_t *record, std::size_t size) {
    if (!InBootLoader()) return false;
    bool ok = loader_.Control(code, record, size);
    if (loader_.Stored()) {
        token_.LeaveBootLoader();
        ++generation_;
    }
    return ok;
}

}  // namespace bootsim
