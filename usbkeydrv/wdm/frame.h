// The driver frame's decisions, kept free of kernel headers so that the
// Windows dispatch routines (driver_entry.cpp) and the Linux harness run the
// same steps in the same order: registry options, add-device with its names
// and links, start, removal, the power transitions, and the routing of device
// I/O controls.
#pragma once

#include <stdint.h>

#include "reader_device.h"

namespace usbkey {

struct DriverOptions {
    bool NextDeviceNoPcsc;  // the next device added runs in no-PC/SC mode
    bool AllDevicesNoPcsc;  // every device does
    bool ScReaderLinks;     // devices are named and get a "\DosDevices\SCReader<n>" link
};

// Driver-wide values: zero-initialised, no constructor (the kernel build runs none).
struct DriverState {
    DriverOptions Options;
    UnitTable Units;
};

// Kernel services of add-device and removal.
class FrameServices {
public:
    virtual NtStatus CreateLink(const char16_t *link, const char16_t *target) = 0;
    virtual NtStatus DeleteLink(const char16_t *link) = 0;
    // Creates the smart-card type device object (name null: unnamed), attaches it
    // to the stack of physicalDevice and answers its record, set up with
    // InitReaderDevice and its platform.
    virtual NtStatus CreateDevice(void *physicalDevice, const char16_t *name, bool exclusive,
                                  ReaderDevice **device) = 0;

protected:
    ~FrameServices() = default;
};

inline constexpr int kNameChars = 40;
// "\Device\UsbReaderA12<d>", "\DosDevices\UsbReaderA12r0<d>", "\DosDevices\SCReader<d>".
void DeviceName(char16_t digit, char16_t (&out)[kNameChars]);
void UnitLinkName(char16_t digit, char16_t (&out)[kNameChars]);
void ScReaderLinkName(char16_t digit, char16_t (&out)[kNameChars]);

// Applies the two registry values read at driver entry. startTypeStatus is the
// status of the "StartType" query; values that are absent read as 0.
void ApplyRegistryOptions(DriverState *driver, NtStatus startTypeStatus, uint32_t startType, uint32_t noPcsc);

// Add-device: links, device object, smart-card setup. *device is the new record.
NtStatus AddReaderDevice(DriverState *driver, FrameServices *services, void *physicalDevice,
                         ReaderDevice **device);

// IRP_MN_START_DEVICE after the lower drivers started the device.
NtStatus StartDevice(ReaderDevice *device);
void SurpriseRemoval(ReaderDevice *device);
// IRP_MN_REMOVE_DEVICE: before the request goes down, and after it came back
// (reader stopped, links deleted; the caller then detaches and deletes).
void RemoveBeforeForward(ReaderDevice *device);
void RemoveAfterForward(FrameServices *services, ReaderDevice *device);

// Power. The device state wanted for a system state (1 = working).
uint32_t DeviceStateForSystem(uint32_t systemState);
// A system set-power request needs a device power request first (stored in
// *wanted) unless the device is already in the state that system state wants.
bool SystemPowerNeedsDeviceRequest(const ReaderDevice *device, uint32_t systemState, uint32_t *wanted);
NtStatus EnterDeviceState(ReaderDevice *device, uint32_t state);  // D1..D3, before passing down
void DeviceBackInD0(ReaderDevice *device);                         // after the lower drivers are in D0

// IRP_MJ_DEVICE_CONTROL: smart-card requests to the library, the rest to the
// raw pipe requests (completed here).
NtStatus DispatchDeviceControl(ReaderDevice *device, uint32_t code, RequestHandle request);

}  // namespace usbkey
