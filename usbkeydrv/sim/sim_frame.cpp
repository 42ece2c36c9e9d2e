#include "sim_frame.h"

namespace usbsim {

using namespace usbkey;

NtStatus SimFrameServices::CreateLink(const char16_t *link, const char16_t *target) {
    if (!links.emplace(link, target).second) return kStatusObjectNameCollision;
    return kStatusSuccess;
}

NtStatus SimFrameServices::DeleteLink(const char16_t *link) {
    return links.erase(link) ? kStatusSuccess : kStatusObjectNameNotFound;
}

NtStatus SimFrameServices::CreateDevice(void *physicalDevice, const char16_t *name, bool exclusive,
                                        ReaderDevice **device) {
    if (!NtSuccess(failCreateDevice)) return failCreateDevice;
    auto object = std::make_unique<SimDeviceObject>();
    if (name) {
        for (const auto &o : objects)
            if (o->name == name) return kStatusObjectNameCollision;
        object->name = name;
    }
    object->exclusive = exclusive;
    object->platform = std::make_unique<SimPlatform>(*static_cast<SimUsbToken *>(physicalDevice));
    object->record = std::make_unique<ReaderDevice>();
    InitReaderDevice(object->record.get(), object->platform.get(), &driver.Units);
    object->record->DeviceObject = object.get();
    object->platform->Bind(object->record.get());
    *device = object->record.get();
    objects.push_back(std::move(object));
    return kStatusSuccess;
}

SimDeviceObject *SimFrameServices::ObjectOf(ReaderDevice *device) {
    for (auto &o : objects)
        if (o->record.get() == device) return o.get();
    return nullptr;
}

void SimFrameServices::DeleteDevice(ReaderDevice *device) {
    for (auto it = objects.begin(); it != objects.end(); ++it)
        if ((*it)->record.get() == device) {
            objects.erase(it);
            return;
        }
}

}  // namespace usbsim
