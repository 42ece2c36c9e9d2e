#include "reader.h"

#include "bytes.h"
#include "transport.h"

namespace usbkey {
namespace {

constexpr uint32_t kVersion = 0x150;
constexpr char kVendorName[] = "TEQ";
constexpr char kIfdType[] = "ReaderA12";
constexpr uint8_t kNoTa1 = 0x11;

void SetString(ScardString &s, const char *text, uint32_t n) {
    CopyBytes(s.Buffer, text, n);
    s.Length = n;
}

void CompleteTracking(ReaderDevice *d) {
    Platform *ops = d->Ops;
    OsDepData *os = d->Smartcard.OsData;
    if (!os) return;
    uint8_t cancelIrql = ops->AcquireCancelLock();
    uint8_t cardIrql = ops->AcquireCardLock();
    RequestHandle request = os->NotificationIrp;
    os->NotificationIrp = nullptr;
    ops->ReleaseCardLock(cardIrql);
    if (request) ops->ExchangeTrackingCancel(request, false);
    ops->ReleaseCancelLock(cancelIrql);
    if (request)
        ops->CompleteRequest(request, ops->RequestCancelled(request) ? kStatusCancelled : kStatusSuccess, 0);
}

// Reads the card status byte; false when the token gave none.
bool QueryCardStatus(ReaderDevice *d, uint8_t *card) {
    uint8_t status = 0;
    uint32_t n = 0;
    NtStatus s = ReaderExchange(d, kCmdCardStatus, nullptr, 0, card, 1, &n, &status);
    return (NtSuccess(s) || s == kStatusBufferOverflow) && n >= 1;
}

void NegotiateSpeed(ReaderDevice *d, uint8_t protocol, uint8_t ta1) {
    if (ta1 == 0x96) ta1 = 0x95;
    else if (ta1 == 0x14 || ta1 == 0x15) ta1 = 0x13;
    else if (ta1 == 0x19 && d->NoRate19) ta1 = 0x18;
    uint8_t index = 0;
    for (uint8_t i = 1; i < 10; ++i)
        if (kRateTa1[i] == ta1) index = i;
    if (index == 0) return;
    uint8_t pts0 = protocol == 0 ? 0x10 : 0x11;
    const uint8_t request[7] = {0x0A, 0x05, 0x04, 0xFF, pts0, ta1, static_cast<uint8_t>(0xFF ^ pts0 ^ ta1)};
    uint8_t reply[4] = {};
    uint8_t status = 0;
    uint32_t n = 0;
    NtStatus s = ReaderExchange(d, kCmdCardRaw, request, sizeof request, reply, sizeof reply, &n, &status);
    if (s == kStatusSuccess && n == 4 && reply[2] == ta1)
        ReaderExchange(d, kCmdSetSpeed, &index, 1, nullptr, 0, nullptr, &status);
}

uint8_t AtrByte(const SmartcardExtension &ext, uint32_t i) {
    const auto &atr = ext.CardCapabilities_.ATR;
    return i < atr.Length && i < sizeof atr.Buffer ? atr.Buffer[i] : 0;
}

}  // namespace

void InitReaderDevice(ReaderDevice *d, Platform *ops, UnitTable *units) {
    ZeroBytes(d, sizeof *d);
    d->Ops = ops;
    d->Units = units;
    d->BulkOutMaxPacket = 16;
    d->DevicePowerState = kPowerD0;
}

NtStatus SetupSmartcard(ReaderDevice *d) {
    if (d->NoPcsc) return kStatusSuccess;
    SmartcardExtension &ext = d->Smartcard;
    Platform *ops = d->Ops;
    ext.ReaderExtension = ops->AllocatePool(8);
    if (!ext.ReaderExtension) return kStatusInsufficientResources;
    ZeroBytes(ext.ReaderExtension, 8);
    ext.Version = kVersion;
    ext.SmartcardRequest.BufferSize = kSmartcardBufferSize;
    ext.SmartcardReply.BufferSize = kSmartcardBufferSize;
    NtStatus s = ops->SmartcardInitialize(&ext);
    if (!NtSuccess(s)) {
        ops->FreePool(ext.ReaderExtension);
        ext.ReaderExtension = nullptr;
        return s;
    }
    d->ReaderSetUp = true;
    ext.OsData->DeviceObject = d->DeviceObject;
    ext.ReaderFunctions[kRdfCardPower] = CardPower;
    ext.ReaderFunctions[kRdfTransmit] = Transmit;
    ext.ReaderFunctions[kRdfSetProtocol] = SetProtocol;
    ext.ReaderFunctions[kRdfCardTracking] = CardTracking;
    ext.ReaderFunctions[kRdfIoctlVendor] = VendorIoctl;
    SetString(ext.VendorAttr_.VendorName, kVendorName, sizeof kVendorName - 1);
    SetString(ext.VendorAttr_.IfdType, kIfdType, sizeof kIfdType - 1);

    uint32_t unit = kUnitCount;
    for (uint32_t i = 0; i < kUnitCount && unit == kUnitCount; ++i)
        if (!d->Units->Taken[i]) unit = i;
    if (unit == kUnitCount) {
        ext.VendorAttr_.UnitNo = 0xFFFFFFFFu;
        return kStatusInsufficientResources;
    }
    d->Units->Taken[unit] = 1;
    d->UnitHeld = true;
    ext.VendorAttr_.UnitNo = unit;

    ReaderCapabilities &caps = ext.ReaderCapabilities_;
    caps.SupportedProtocols = kProtocolT0 | kProtocolT1;
    caps.ReaderType = kReaderTypeUsb;
    caps.MechProperties = 0;
    caps.Channel = 0;
    caps.CLKFrequency.Default = 4000;
    caps.CLKFrequency.Max = 4000;
    caps.DataRate.Default = 10750;
    caps.DataRate.Max = 210526;
    caps.MaxIFSD = 254;
    for (int i = 0; i < 10; ++i) d->DataRates[i] = kRateBits[i];
    caps.DataRatesSupported.List = d->DataRates;
    caps.DataRatesSupported.Entries = 10;
    caps.CurrentState = kScardUnknown;
    return ops->RegisterReaderInterface();
}

NtStatus StartReader(ReaderDevice *d) {
    if (d->NoPcsc) return kStatusSuccess;
    // A device without a unit number or library record serves no smart-card
    // requests: its start fails with the reason instead of half-working.
    if (!d->ReaderSetUp) return kStatusInsufficientResources;
    if (!d->UnitHeld) return kStatusInsufficientResources;
    d->Ops->SetReaderInterfaceState(true);

    uint8_t info[16] = {};
    uint8_t status = 0;
    uint32_t n = 0;
    NtStatus s = ReaderExchange(d, kCmdReaderInfo, nullptr, 0, info, sizeof info, &n, &status);
    if (s == kStatusBufferOverflow) s = kStatusSuccess;  // only the first 16 bytes are defined
    if (NtSuccess(s)) {
        uint16_t version = LoadLe16(info);
        d->UseInterrupt = version >= 0x0011 && d->InterruptInPipe;  // no pipe: poll instead
        d->NoRate19 = (LoadLe16(info + 4) & 0x4000) != 0;
        d->Smartcard.VendorAttr_.IfdVersion.BuildNumber = 0;
        d->Smartcard.VendorAttr_.IfdVersion.VersionMinor = info[0];
        d->Smartcard.VendorAttr_.IfdVersion.VersionMajor = info[1];
    }
    uint8_t card = 0;
    if (QueryCardStatus(d, &card))
        d->Smartcard.ReaderCapabilities_.CurrentState = (card & 0x08) ? kScardAbsent : kScardSwallowed;
    if (d->UseInterrupt)
        StartNotification(d, CardPacket);
    else
        StartPolling(d);
    return s;
}

void RefreshCardState(ReaderDevice *d) {
    if (d->NoPcsc || !d->ReaderSetUp) return;
    uint8_t card = 0;
    if (!QueryCardStatus(d, &card)) return;
    uint32_t &state = d->Smartcard.ReaderCapabilities_.CurrentState;
    uint32_t old = state;
    state = (card & 0x08) ? kScardAbsent : kScardSwallowed;
    if (!(old == kScardAbsent && state == kScardAbsent)) CompleteTracking(d);
}

void StopReader(ReaderDevice *d) {
    if (d->NoPcsc || !d->ReaderSetUp) return;
    CompleteTracking(d);
    d->Ops->SmartcardExit(&d->Smartcard);
    d->Ops->FreePool(d->Smartcard.ReaderExtension);
    d->Smartcard.ReaderExtension = nullptr;
    if (d->UnitHeld) {
        uint32_t unit = d->Smartcard.VendorAttr_.UnitNo;
        if (unit < kUnitCount) d->Units->Taken[unit] = 0;
        d->UnitHeld = false;
    }
    d->Ops->SetReaderInterfaceState(false);
    d->ReaderSetUp = false;
}

NtStatus RouteSmartcardRequest(ReaderDevice *d, uint32_t code, RequestHandle request) {
    if (d->NoPcsc) {
        d->Ops->CompleteRequest(request, kStatusSuccess, 0);
        return kStatusSuccess;
    }
    if (!d->ReaderSetUp) {
        d->Ops->CompleteRequest(request, kStatusInvalidDeviceRequest, 0);
        return kStatusInvalidDeviceRequest;
    }
    if (code == kIoctlSmartcardSetProtocol) {
        uint32_t in = 0, out = 0;
        uint8_t *buffer = d->Ops->RequestBuffer(request, &in, &out);
        if (buffer && in >= 4) {
            uint32_t mask = LoadLe32(buffer);
            if (mask == kProtocolDefault || mask == 0) StoreLe32(buffer, mask | kProtocolT0 | kProtocolT1);
        }
    }
    return d->Ops->SmartcardDeviceControl(&d->Smartcard, request);
}

void ReportCardAbsent(ReaderDevice *d) {
    uint32_t &state = d->Smartcard.ReaderCapabilities_.CurrentState;
    if (state == kScardAbsent) return;
    state = kScardAbsent;
    CompleteTracking(d);
}

void ReportCardPresent(ReaderDevice *d) {
    uint32_t &state = d->Smartcard.ReaderCapabilities_.CurrentState;
    if (state >= kScardSwallowed) return;
    state = kScardSwallowed;
    CompleteTracking(d);
}

void CardPacket(ReaderDevice *d, const uint8_t *packet) {
    if (packet[0] & 0x08)
        ReportCardAbsent(d);
    else
        ReportCardPresent(d);
}

NtStatus CardPower(SmartcardExtension *ext) {
    ReaderDevice *d = DeviceOf(ext);
    auto &atr = ext->CardCapabilities_.ATR;
    atr.Length = 0;
    uint8_t status = 0;
    if (ext->MinorIoControlCode == kPowerDown) {
        ReaderExchange(d, kCmdCardPowerOff, nullptr, 0, nullptr, 0, nullptr, &status);
        if (ext->ReaderCapabilities_.CurrentState > kScardPresent)
            ext->ReaderCapabilities_.CurrentState = kScardPresent;
        ext->CardCapabilities_.Protocol.Selected = 0;
        return kStatusSuccess;
    }
    uint8_t command;
    if (ext->MinorIoControlCode == kColdReset) command = kCmdColdReset;
    else if (ext->MinorIoControlCode == kWarmReset) command = kCmdWarmReset;
    else return kStatusInvalidDeviceRequest;

    uint8_t answer[kFrameBufferSize] = {};
    uint32_t n = 0;
    NtStatus s = ReaderExchange(d, command, nullptr, 0, answer, sizeof answer, &n, &status);
    if (!NtSuccess(s)) {
        if (ext->IoRequest.Information) *ext->IoRequest.Information = 0;
        ext->SmartcardReply.BufferLength = 0;
        return status == kReaderCardChanged ? kStatusMediaChanged : kStatusUnrecognizedMedia;
    }
    if (n == 1 && answer[0] == 0x3B) {
        // A card that gives only TS: the reader fetches the rest of its answer.
        const uint8_t params[3] = {0x1F, 0x4B, 0x19};
        uint32_t more = 0;
        uint8_t rawStatus = 0;
        NtStatus r = ReaderExchange(d, kCmdCardRaw, params, sizeof params, answer + 1, sizeof answer - 1,
                                    &more, &rawStatus);
        if (NtSuccess(r)) n += more;
    }
    if (n > kMaxAtr) n = kMaxAtr;
    if (ext->SmartcardReply.Buffer && ext->SmartcardReply.BufferSize >= n) {
        CopyBytes(ext->SmartcardReply.Buffer, answer, n);
        ext->SmartcardReply.BufferLength = n;
    }
    CopyBytes(atr.Buffer, answer, n);
    atr.Length = static_cast<uint8_t>(n);
    if (ext->IoRequest.ReplyBuffer) {
        if (ext->IoRequest.ReplyBufferLength < n) {
            if (ext->IoRequest.Information) *ext->IoRequest.Information = 0;
            return kStatusBufferTooSmall;
        }
        CopyBytes(ext->IoRequest.ReplyBuffer, answer, n);
        if (ext->IoRequest.Information) *ext->IoRequest.Information = n;
    }
    return d->Ops->SmartcardUpdateCardCapabilities(ext);
}

NtStatus SetProtocol(SmartcardExtension *ext) {
    ReaderDevice *d = DeviceOf(ext);
    uint8_t t0 = AtrByte(*ext, 1);
    uint8_t ta1 = (t0 & 0x10) ? AtrByte(*ext, 2) : kNoTa1;
    uint32_t mask = ext->MinorIoControlCode;
    if ((mask & kProtocolT0) && (mask & kProtocolT1)) {
        uint32_t td1 = 2 + ((t0 & 0x10) ? 1 : 0) + ((t0 & 0x20) ? 1 : 0) + ((t0 & 0x40) ? 1 : 0);
        bool t1 = (t0 & 0x80) && (AtrByte(*ext, td1) & 0x0F) == 1;
        mask = t1 ? kProtocolT1 : kProtocolT0;
    }
    uint32_t selected;
    if (mask & kProtocolT0) selected = kProtocolT0;
    else if (mask & kProtocolT1) selected = kProtocolT1;
    else return kStatusInvalidDeviceRequest;
    if (!ext->IoRequest.ReplyBuffer || ext->IoRequest.ReplyBufferLength < 4) return kStatusBufferTooSmall;
    StoreLe32(ext->IoRequest.ReplyBuffer, selected);
    ext->CardCapabilities_.Protocol.Selected = selected;
    ext->ReaderCapabilities_.CurrentState = kScardSpecific;
    if (ta1 != kNoTa1) NegotiateSpeed(d, selected == kProtocolT0 ? 0 : 1, ta1);
    if (ext->IoRequest.Information) *ext->IoRequest.Information = 4;
    return kStatusSuccess;
}

NtStatus Transmit(SmartcardExtension *ext) {
    ReaderDevice *d = DeviceOf(ext);
    auto &io = ext->IoRequest;
    if (io.Information) *io.Information = 0;
    if (!io.RequestBuffer || io.RequestBufferLength < sizeof(ScardIoRequest)) return kStatusInvalidParameter;
    uint32_t protocol = LoadLe32(io.RequestBuffer);
    uint32_t pci = LoadLe32(io.RequestBuffer + 4);
    uint8_t command;
    if (protocol == kProtocolT0) command = kCmdTransmitT0;
    else if (protocol == kProtocolT1) command = kCmdTransmitT1;
    else return kStatusInvalidDeviceRequest;
    // The header must lie inside both buffers, and the answer has to fit behind it.
    if (pci < sizeof(ScardIoRequest) || pci > io.RequestBufferLength || !io.ReplyBuffer ||
        pci > io.ReplyBufferLength)
        return kStatusInvalidParameter;
    CopyBytes(io.ReplyBuffer, io.RequestBuffer, pci);
    uint8_t status = 0;
    uint32_t m = 0;
    NtStatus s = ReaderExchange(d, command, io.RequestBuffer + pci, io.RequestBufferLength - pci,
                                io.ReplyBuffer + pci, io.ReplyBufferLength - pci, &m, &status);
    if (s == kStatusBufferOverflow) return kStatusBufferTooSmall;
    if (s == kStatusAdapterHardwareError) {
        if (status == kReaderCardChanged) return kStatusMediaChanged;
        if (status == kReaderCardTimeout) return kStatusIoTimeout;
        return kStatusUnrecognizedMedia;
    }
    if (!NtSuccess(s)) return s;
    if (io.Information) *io.Information = pci + m;
    return kStatusSuccess;
}

NtStatus CardTracking(SmartcardExtension *ext) {
    ReaderDevice *d = DeviceOf(ext);
    Platform *ops = d->Ops;
    uint8_t cancelIrql = ops->AcquireCancelLock();
    uint8_t cardIrql = ops->AcquireCardLock();
    if (ext->OsData->NotificationIrp) ops->ExchangeTrackingCancel(ext->OsData->NotificationIrp, true);
    ops->ReleaseCardLock(cardIrql);
    ops->ReleaseCancelLock(cancelIrql);
    return kStatusPending;
}

NtStatus TrackingCancel(ReaderDevice *d, uint8_t cancelIrql) {
    d->Ops->ReleaseCancelLock(cancelIrql);
    CompleteTracking(d);
    return kStatusCancelled;
}

NtStatus VendorIoctl(SmartcardExtension *ext) {
    ReaderDevice *d = DeviceOf(ext);
    auto &io = ext->IoRequest;
    if (io.Information) *io.Information = 0;
    uint8_t status = 0;
    uint32_t n = 0;
    switch (ext->MajorIoControlCode) {
    case kIoctlReaderSetSpeed:
        if (!io.RequestBuffer || io.RequestBufferLength < 1) return kStatusInvalidDeviceRequest;
        return ReaderExchange(d, kCmdSetSpeed, io.RequestBuffer, 1, nullptr, 0, nullptr, &status);
    case kIoctlReaderCommand6F:
        if (!io.RequestBuffer || io.RequestBufferLength < 4) return kStatusInvalidDeviceRequest;
        return ReaderExchange(d, kCmd6F, io.RequestBuffer, 4, nullptr, 0, nullptr, &status);
    case kIoctlReaderGetInfo: {
        if (!io.ReplyBuffer || io.ReplyBufferLength < 16) return kStatusInvalidDeviceRequest;
        uint8_t info[16] = {};
        NtStatus s = ReaderExchange(d, kCmdReaderInfo, nullptr, 0, info, sizeof info, &n, &status);
        if (s == kStatusBufferOverflow) s = kStatusSuccess;  // only the first 16 bytes are defined
        if (!NtSuccess(s)) return s;
        CopyBytes(io.ReplyBuffer, info, sizeof info);
        if (io.Information) *io.Information = sizeof info;
        return kStatusSuccess;
    }
    case kIoctlReaderCommand79: {
        if (!io.ReplyBuffer || io.ReplyBufferLength < 32) return kStatusInvalidDeviceRequest;
        uint8_t area[64] = {};
        NtStatus s = ReaderExchange(d, kCmd79, nullptr, 0, area, sizeof area, &n, &status);
        if (s == kStatusBufferOverflow) return kStatusBufferTooSmall;
        if (!NtSuccess(s)) return s;
        if (n > io.ReplyBufferLength) return kStatusBufferTooSmall;
        CopyBytes(io.ReplyBuffer, area, n);
        if (io.Information) *io.Information = n;
        return kStatusSuccess;
    }
    default:
        return kStatusNotImplemented;
    }
}

}  // namespace usbkey
