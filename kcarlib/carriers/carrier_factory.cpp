// The one place that decides which module serves which device type.
#include <new>

#include "kcarlib/nki_result.h"

#include "carriers/carrier.h"
#include "carriers/carrier_modules.h"
#include "carriers/token_carrier.h"
#include "carriers/type4_carrier.h"

namespace kcar {

TCarrier *MakeCarrier(uint8_t deviceType, CarrierBuild build) {
    switch (deviceType) {
    case kDeviceActiveToken: return new (std::nothrow) TTokenCarrier(build);
    case kDeviceType4:
        return build == CarrierBuild::MultiCarrier ? new (std::nothrow) TType4Carrier() : nullptr;
    case kDeviceKeyFile:
        return build == CarrierBuild::MultiCarrier ? new (std::nothrow) TKeyFileCarrier() : nullptr;
    case kDeviceContainerCard:
        return build == CarrierBuild::MultiCarrier ? new (std::nothrow) TContainerCardCarrier() : nullptr;
    case kDeviceProtectedCard:
        return build == CarrierBuild::MultiCarrier ? new (std::nothrow) TProtectedCardCarrier() : nullptr;
    default: return nullptr;
    }
}

uint32_t FormatCarrier(uint8_t deviceType, const char *name, const void *pin, const void *key) {
    switch (deviceType) {
    case kDeviceKeyFile: return KeyFileCarrier::Format(name, static_cast<const uint8_t *>(key));
    case kDeviceContainerCard:
        return pin == nullptr ? NKI_E_BAD_ARGUMENTS
                              : ContainerCardCarrier::Format(name, static_cast<const uint8_t *>(pin));
    default: return NKI_E_UNSUPPORTED_FUNCTION;
    }
}

}  // namespace kcar
