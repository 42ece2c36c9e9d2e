#include "api/device_identity.h"

#include <cstring>

#include "carriers/carrier.h"
#include "carriers/type4_carrier.h"
#include "kcarlib/nki_result.h"
#include "token/pcsc_enum.h"

namespace kcar {
namespace {

constexpr uint8_t kMask[16] = {0xff, 0xff, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0};
constexpr uint8_t kPatternA[16] = {0x3b, 0xb7, 0, 0, 0, 0, 0, 0, 0x10, 'C', 'N', 'T', 'R', 'V', '3', 0};
constexpr uint8_t kPatternB[16] = {0x3b, 0xb7, 0, 0, 0, 0, 0, 0, 0x10, 'C', 'N', 'T', 'R', 'V', '2', 0};

bool Matches(const uint8_t *atr, const uint8_t *pattern) {
    for (int i = 0; i < 16; ++i)
        if ((atr[i] & kMask[i]) != (pattern[i] & kMask[i])) return false;
    return true;
}

void Hex(const uint8_t byte, char *out) {
    static const char kDigits[] = "0123456789ABCDEF";
    out[0] = kDigits[byte >> 4];
    out[1] = kDigits[byte & 15];
}

}  // namespace

uint8_t DeviceTypeFromAtr(const uint8_t *atr, std::size_t length) noexcept {
    if (length != 16) return kDeviceForeign;
    if (atr[0] != 0x3B && atr[1] != 0xB7) return kDeviceForeign;
    uint8_t type = kDeviceUnknownFamily;
    switch (atr[8] >> 4) {
    case 1: type = kDeviceContainerCard; break;
    case 2: type = kDeviceActiveToken; break;
    case 3: type = kDeviceType4; break;
    default: break;
    }
    if (type == kDeviceContainerCard && (Matches(atr, kPatternA) || Matches(atr, kPatternB)))
        type = kDeviceProtectedCard;
    return type;
}

uint32_t ResolveDevice(const char *name, uint8_t &type, uint8_t *atr, std::size_t &atrLength) noexcept {
    type = kDeviceUnknown;
    atrLength = 0;
    if (PcscReaderAtr(name, atr, atrLength)) {
        type = DeviceTypeFromAtr(atr, atrLength);
        return NKI_OK;
    }
    int moduleType = 0;
    if (Type4DeviceType(name, moduleType)) {
        type = static_cast<uint8_t>(moduleType);
        return NKI_OK;
    }
    return NKI_E_NOT_CONNECTED;
}

uint32_t DeviceSerialName(const char *name, char *serial) noexcept {
    serial[0] = '\0';
    uint8_t type = 0;
    uint8_t atr[40];
    std::size_t length = 0;
    if (uint32_t rc = ResolveDevice(name, type, atr, length); rc != NKI_OK) return rc;
    if (type == kDeviceProtectedCard) return NKI_E_NO_SERIAL;
    if (type == kDeviceContainerCard || type == kDeviceActiveToken) {
        if (length < 15) return NKI_E_NO_SERIAL;
        serial[0] = '#';
        for (int i = 0; i < 6; ++i) Hex(atr[9 + i], serial + 1 + 2 * i);
        serial[13] = '\0';
        return NKI_OK;
    }
    if (type == kDeviceType4) {
        serial[0] = '#';
        for (std::size_t i = 0; i < length; ++i) Hex(atr[length - 1 - i], serial + 1 + 2 * i);
        serial[1 + 2 * length] = '\0';
        return NKI_OK;
    }
    return NKI_E_UNSUPPORTED_NKI;
}

}  // namespace kcar
