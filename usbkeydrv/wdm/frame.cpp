#include "frame.h"

#include "reader.h"
#include "transport.h"

namespace usbkey {
namespace {

constexpr uint32_t kSystemWorking = 1;

void Compose(const char *prefix, char16_t digit, char16_t (&out)[kNameChars]) {
    int i = 0;
    for (; prefix[i] && i < kNameChars - 2; ++i) out[i] = static_cast<char16_t>(prefix[i]);
    out[i++] = digit;
    out[i] = 0;
}

}  // namespace

void DeviceName(char16_t digit, char16_t (&out)[kNameChars]) { Compose("\\Device\\UsbReaderA12", digit, out); }
void UnitLinkName(char16_t digit, char16_t (&out)[kNameChars]) {
    Compose("\\DosDevices\\UsbReaderA12r0", digit, out);
}
void ScReaderLinkName(char16_t digit, char16_t (&out)[kNameChars]) {
    Compose("\\DosDevices\\SCReader", digit, out);
}

void ApplyRegistryOptions(DriverState *driver, NtStatus startTypeStatus, uint32_t startType, uint32_t noPcsc) {
    if (startTypeStatus == kStatusObjectNameNotFound) return;
    DriverOptions &o = driver->Options;
    if (startType == 2) o.NextDeviceNoPcsc = true;
    if (noPcsc == 1) {
        o.NextDeviceNoPcsc = true;
        o.AllDevicesNoPcsc = true;
    } else if (noPcsc == 98) {
        o.ScReaderLinks = true;
    }
}

NtStatus AddReaderDevice(DriverState *driver, FrameServices *services, void *physicalDevice,
                         ReaderDevice **out) {
    *out = nullptr;
    DriverOptions &o = driver->Options;
    char16_t name[kNameChars], link[kNameChars];
    NtStatus s = kStatusObjectNameCollision;
    char16_t digit = u'0';
    for (; digit <= u'9'; ++digit) {
        DeviceName(digit, name);
        UnitLinkName(digit, link);
        s = services->CreateLink(link, name);
        if (NtSuccess(s)) break;
    }
    if (!NtSuccess(s)) return s;

    bool named = o.ScReaderLinks || o.NextDeviceNoPcsc;
    ReaderDevice *d = nullptr;
    s = services->CreateDevice(physicalDevice, named ? name : nullptr, !named, &d);
    if (!NtSuccess(s)) {
        services->DeleteLink(link);  // the digit stays free for the next token
        return s;
    }
    d->PhysicalDevice = physicalDevice;
    d->UnitDigit = digit;
    d->ScReaderDigit = 0;
    if (o.ScReaderLinks && !o.NextDeviceNoPcsc) {
        char16_t sc[kNameChars];
        for (char16_t k = u'0'; k <= u'9'; ++k) {
            ScReaderLinkName(k, sc);
            if (NtSuccess(services->CreateLink(sc, name))) {
                d->ScReaderDigit = k;
                break;
            }
        }
    }
    d->PollQueued = false;
    d->Configured = false;
    d->DevicePowerState = kPowerD0;
    if (o.NextDeviceNoPcsc) {
        d->NoPcsc = true;
        o.NextDeviceNoPcsc = o.AllDevicesNoPcsc;
    }
    SetupSmartcard(d);  // a failure shows at start (no unit number) and is not passed on here
    *out = d;
    return kStatusSuccess;
}

NtStatus StartDevice(ReaderDevice *d) {
    NtStatus s = ConfigureUsb(d);
    if (!NtSuccess(s)) return s;
    return StartReader(d);
}

void SurpriseRemoval(ReaderDevice *d) {
    d->Stopping = true;
    SwitchNotification(d, false);
}

void RemoveBeforeForward(ReaderDevice *d) { StopCardEvents(d); }

void RemoveAfterForward(FrameServices *services, ReaderDevice *d) {
    StopReader(d);
    char16_t link[kNameChars];
    UnitLinkName(d->UnitDigit, link);
    services->DeleteLink(link);
    if (d->ScReaderDigit) {
        ScReaderLinkName(d->ScReaderDigit, link);
        services->DeleteLink(link);
    }
}

uint32_t DeviceStateForSystem(uint32_t systemState) { return systemState == kSystemWorking ? kPowerD0 : kPowerD3; }

bool SystemPowerNeedsDeviceRequest(const ReaderDevice *d, uint32_t systemState, uint32_t *wanted) {
    *wanted = DeviceStateForSystem(systemState);
    return d->DevicePowerState != *wanted;
}

NtStatus EnterDeviceState(ReaderDevice *d, uint32_t state) {
    NtStatus s = kStatusSuccess;
    if (state == kPowerD3) s = PrepareForSleep(d);
    d->DevicePowerState = state;
    return s;
}

void DeviceBackInD0(ReaderDevice *d) {
    d->DevicePowerState = kPowerD0;
    ResumeCardEvents(d);
    RefreshCardState(d);
}

NtStatus DispatchDeviceControl(ReaderDevice *d, uint32_t code, RequestHandle request) {
    if ((code & 0xFFFF0000u) == kFileDeviceSmartcard << 16) return RouteSmartcardRequest(d, code, request);
    uint32_t in = 0, out = 0;
    uint8_t *buffer = d->Ops->RequestBuffer(request, &in, &out);
    uint64_t information = 0;
    NtStatus s = RawPipeRequest(d, code, buffer, in, out, &information);
    d->Ops->CompleteRequest(request, s, information);
    return s;
}

}  // namespace usbkey
