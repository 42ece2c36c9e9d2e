// The module of device type 4. The type is served, so contexts of it can be made
// and validated, but this build has no such device: the module refuses every
// request, and no session on it ever opens.
#pragma once

#include "carriers/carrier.h"
#include "kcarlib/nki_result.h"

namespace kcar {

class TType4Carrier final : public TCarrier {
public:
    uint8_t DeviceType() const noexcept override { return kDeviceType4; }
    uint32_t Open(const char *, const void *) override { return NKI_E_UNSUPPORTED_FUNCTION; }
    uint32_t Close() noexcept override { return NKI_OK; }
    bool IsPresent() noexcept override { return false; }
};

// The module's device list: it knows no devices, so every query fails.
inline bool Type4EnumDevice(int /*index*/, char * /*name*/) noexcept { return false; }
inline bool Type4DeviceType(const char * /*name*/, int & /*type*/) noexcept { return false; }

}  // namespace kcar
