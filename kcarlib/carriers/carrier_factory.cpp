// The one place that decides which module serves which device type.
#include <new>

#include "carriers/carrier.h"
#include "carriers/token_carrier.h"
#include "carriers/type4_carrier.h"

namespace kcar {

TCarrier *MakeCarrier(uint8_t deviceType, CarrierBuild build) {
    switch (deviceType) {
    case kDeviceActiveToken: return new (std::nothrow) TTokenCarrier(build);
    case kDeviceType4:
        return build == CarrierBuild::MultiCarrier ? new (std::nothrow) TType4Carrier() : nullptr;
    default: return nullptr;
    }
}

}  // namespace kcar
