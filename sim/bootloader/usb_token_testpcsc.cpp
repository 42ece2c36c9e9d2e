#include "usb_token_testpcsc.h"

#include "vtoken_testpcsc.h"

namespace bootsim {

void PlugIn(UsbToken &device) {
    const std::string reader = vtoken::Token::kReaderName;
    testpcsc::AddReader(reader);
    if (device.InBootLoader()) return;
    testpcsc::Card card = vtoken::TestCard(device.token());
    card.protocols = SCARD_PROTOCOL_T1;
    card.control = [&device, reader](DWORD code, const testpcsc::Bytes &in, testpcsc::Bytes &out) -> LONG {
        bool ok = device.VendorControl(static_cast<uint32_t>(code), in, out);
        if (device.InBootLoader()) testpcsc::RemoveCard(reader);
        return ok ? SCARD_S_SUCCESS : SCARD_E_NOT_TRANSACTED;
    };
    testpcsc::InsertCard(reader, std::move(card));
}

}  // namespace bootsim
