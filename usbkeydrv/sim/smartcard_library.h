// A stand-in of the smart-card driver library for the Linux tests: it keeps the
// library's per-device data and request/reply areas, and dispatches smart-card
// class device I/O controls (power, transmit, set protocol, attributes, card
// tracking, vendor codes) to the reader functions of the record, completing
// each request the way the Windows smart-card subsystem sees it.
#pragma once

#include <cstdint>

#include "platform.h"
#include "smartcard_abi.h"

namespace usbsim {

inline constexpr usbkey::NtStatus kStatusInvalidDeviceState = usbkey::Nt(0xC0000184);
inline constexpr usbkey::NtStatus kStatusNotSupported = usbkey::Nt(0xC00000BB);
inline constexpr usbkey::NtStatus kStatusDeviceBusy = usbkey::Nt(0x80000011);

class SmartcardLibrary {
public:
    explicit SmartcardLibrary(usbkey::Platform &platform) : platform_(platform) {}

    usbkey::NtStatus Initialize(usbkey::SmartcardExtension *ext);
    usbkey::NtStatus Exit(usbkey::SmartcardExtension *ext);
    usbkey::NtStatus DeviceControl(usbkey::SmartcardExtension *ext, usbkey::RequestHandle request);
    usbkey::NtStatus UpdateCardCapabilities(usbkey::SmartcardExtension *ext);

    bool failInitialize = false;
    int initialized = 0;  // records held (Initialize minus Exit)
    int updates = 0;

private:
    usbkey::NtStatus Dispatch(usbkey::SmartcardExtension *ext, usbkey::RequestHandle request, uint32_t code,
                              uint8_t *buffer, uint32_t in, uint32_t out, uint64_t *information);
    usbkey::NtStatus Track(usbkey::SmartcardExtension *ext, usbkey::RequestHandle request, bool wantPresent);

    usbkey::Platform &platform_;
};

}  // namespace usbsim
