// The kernel services of add-device and removal for the Linux harness of the
// driver frame: a table of symbolic links and the device objects created, each
// with its own simulated platform bound to the simulated USB token that stands
// for its physical device.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "sim_platform.h"

namespace usbsim {

struct SimDeviceObject {
    std::u16string name;  // empty: unnamed
    bool exclusive = false;
    std::unique_ptr<SimPlatform> platform;
    std::unique_ptr<usbkey::ReaderDevice> record;
};

class SimFrameServices final : public usbkey::FrameServices {
public:
    usbkey::NtStatus CreateLink(const char16_t *link, const char16_t *target) override;
    usbkey::NtStatus DeleteLink(const char16_t *link) override;
    usbkey::NtStatus CreateDevice(void *physicalDevice, const char16_t *name, bool exclusive,
                                  usbkey::ReaderDevice **device) override;

    // Detaches and deletes a removed device's object.
    void DeleteDevice(usbkey::ReaderDevice *device);
    SimDeviceObject *ObjectOf(usbkey::ReaderDevice *device);
    SimPlatform &PlatformOf(usbkey::ReaderDevice *device) { return *ObjectOf(device)->platform; }

    usbkey::DriverState driver{};
    std::map<std::u16string, std::u16string> links;  // link → target
    std::vector<std::unique_ptr<SimDeviceObject>> objects;
    usbkey::NtStatus failCreateDevice = usbkey::kStatusSuccess;
};

}  // namespace usbsim
