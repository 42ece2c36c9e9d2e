#include "smartcard_library.h"

#include <cstring>

#include "bytes.h"
#include "sim_request.h"

namespace usbsim {

using namespace usbkey;

NtStatus SmartcardLibrary::Initialize(SmartcardExtension *ext) {
    if (failInitialize) return kStatusInsufficientResources;
    if (ext->SmartcardRequest.BufferSize == 0 || ext->SmartcardReply.BufferSize == 0) return kStatusInvalidParameter;
    ext->OsData = new OsDepData{};
    ext->SmartcardRequest.Buffer = new uint8_t[ext->SmartcardRequest.BufferSize]{};
    ext->SmartcardReply.Buffer = new uint8_t[ext->SmartcardReply.BufferSize]{};
    ++initialized;
    return kStatusSuccess;
}

NtStatus SmartcardLibrary::Exit(SmartcardExtension *ext) {
    delete ext->OsData;
    delete[] ext->SmartcardRequest.Buffer;
    delete[] ext->SmartcardReply.Buffer;
    ext->OsData = nullptr;
    ext->SmartcardRequest.Buffer = ext->SmartcardReply.Buffer = nullptr;
    --initialized;
    return kStatusSuccess;
}

NtStatus SmartcardLibrary::UpdateCardCapabilities(SmartcardExtension *ext) {
    ++updates;
    const auto &atr = ext->CardCapabilities_.ATR;
    // TS must be a known convention and T0 present.
    if (atr.Length < 2 || (atr.Buffer[0] != 0x3B && atr.Buffer[0] != 0x3F)) return kStatusUnrecognizedMedia;
    ext->CardCapabilities_.Protocol.Supported = kProtocolT0 | kProtocolT1;
    if (ext->ReaderCapabilities_.CurrentState < kScardNegotiable)
        ext->ReaderCapabilities_.CurrentState = kScardNegotiable;
    return kStatusSuccess;
}

NtStatus SmartcardLibrary::Track(SmartcardExtension *ext, RequestHandle request, bool wantPresent) {
    uint32_t state = ext->ReaderCapabilities_.CurrentState;
    bool present = state > kScardAbsent;
    if (present == wantPresent) return kStatusSuccess;
    uint8_t irql = platform_.AcquireCardLock();
    bool busy = ext->OsData->NotificationIrp != nullptr;
    if (!busy) ext->OsData->NotificationIrp = request;
    platform_.ReleaseCardLock(irql);
    if (busy) return kStatusDeviceBusy;
    ReaderFunction f = ext->ReaderFunctions[kRdfCardTracking];
    if (!f) {
        ext->OsData->NotificationIrp = nullptr;
        return kStatusInvalidDeviceRequest;
    }
    return f(ext);
}

NtStatus SmartcardLibrary::Dispatch(SmartcardExtension *ext, RequestHandle request, uint32_t code,
                                    uint8_t *buffer, uint32_t in, uint32_t out, uint64_t *information) {
    auto call = [&](unsigned index) -> NtStatus {
        ReaderFunction f = ext->ReaderFunctions[index];
        return f ? f(ext) : kStatusInvalidDeviceRequest;
    };
    auto &io = ext->IoRequest;
    io.Information = information;
    io.RequestBuffer = buffer;
    io.RequestBufferLength = in;
    io.ReplyBuffer = buffer;
    io.ReplyBufferLength = out;
    ext->MajorIoControlCode = code;
    ext->MinorIoControlCode = 0;
    uint32_t &state = ext->ReaderCapabilities_.CurrentState;

    switch (code) {
    case kIoctlSmartcardPower:
        if (in < 4) return kStatusInvalidParameter;
        ext->MinorIoControlCode = LoadLe32(buffer);
        io.RequestBuffer = nullptr;
        io.RequestBufferLength = 0;
        if (ext->MinorIoControlCode != kPowerDown && state <= kScardAbsent) return kStatusDeviceNotConnected;
        if (out == 0) io.ReplyBuffer = nullptr;
        return call(kRdfCardPower);
    case kIoctlSmartcardSetProtocol:
        if (in < 4 || out < 4) return kStatusInvalidParameter;
        if (state < kScardNegotiable) return kStatusInvalidDeviceState;
        ext->MinorIoControlCode = LoadLe32(buffer);
        return call(kRdfSetProtocol);
    case kIoctlSmartcardTransmit: {
        if (state != kScardSpecific) return kStatusInvalidDeviceState;
        if (in < sizeof(ScardIoRequest)) return kStatusInvalidParameter;
        if (LoadLe32(buffer) != ext->CardCapabilities_.Protocol.Selected) return kStatusInvalidDeviceState;
        return call(kRdfTransmit);
    }
    case kIoctlSmartcardIsPresent:
        return Track(ext, request, true);
    case kIoctlSmartcardIsAbsent:
        return Track(ext, request, false);
    case kIoctlSmartcardGetState:
        if (out < 4) return kStatusBufferTooSmall;
        StoreLe32(buffer, state);
        *information = 4;
        return kStatusSuccess;
    case kIoctlSmartcardGetAttribute: {
        if (in < 4) return kStatusInvalidParameter;
        uint32_t id = LoadLe32(buffer);
        uint8_t value[64];
        uint32_t n = 0;
        const auto &va = ext->VendorAttr_;
        switch (id) {
        case kAttrVendorName: n = va.VendorName.Length; std::memcpy(value, va.VendorName.Buffer, n); break;
        case kAttrVendorIfdType: n = va.IfdType.Length; std::memcpy(value, va.IfdType.Buffer, n); break;
        case kAttrVendorIfdVersion: n = 4; std::memcpy(value, &va.IfdVersion, 4); break;
        case kAttrDeviceUnit: n = 4; StoreLe32(value, va.UnitNo); break;
        case kAttrCurrentProtocolType: n = 4; StoreLe32(value, ext->CardCapabilities_.Protocol.Selected); break;
        case kAttrAtrString:
            n = ext->CardCapabilities_.ATR.Length;
            std::memcpy(value, ext->CardCapabilities_.ATR.Buffer, n);
            break;
        default: return kStatusNotSupported;
        }
        if (out < n) return kStatusBufferTooSmall;
        std::memcpy(buffer, value, n);
        *information = n;
        return kStatusSuccess;
    }
    default:
        if (((code >> 2) & 0xFFF) >= 0x800) return call(kRdfIoctlVendor);
        return kStatusInvalidDeviceRequest;
    }
}

NtStatus SmartcardLibrary::DeviceControl(SmartcardExtension *ext, RequestHandle request) {
    SimRequest *r = SimRequest::Of(request);
    NtStatus s = Dispatch(ext, request, r->code, r->buffer.data(), r->inLength, r->outLength, &r->information);
    ext->IoRequest.Information = nullptr;
    if (s == kStatusPending) return s;
    platform_.CompleteRequest(request, s, NtSuccess(s) ? r->information : 0);
    return s;
}

}  // namespace usbsim
