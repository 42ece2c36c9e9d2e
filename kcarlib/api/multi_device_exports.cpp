// Device exports of the multi-carrier build: enumeration, device type from the
// ATR, the ATR itself, serial number names, and the result texts. They need no
// context; each call asks the PC/SC service afresh.
#include <cstring>

#include "api/device_identity.h"
#include "api/error_texts.h"
#include "api/export_guard.h"
#include "carriers/type4_carrier.h"
#include "kcarlib/nki.h"
#include "token/pcsc_enum.h"

extern "C" {

uint32_t nkiEnumDevices(int32_t index, uint8_t withCard, char *name) {
    if (name == nullptr) return NKI_E_BAD_ARGUMENTS;
    return kcar::Guarded([&] {
        name[0] = '\0';
        if (index == 0) return NKI_OK;
        if (kcar::PcscEnumDevices(index, withCard != 0, name)) return NKI_OK;
        // The type-4 module would number its devices after the readers; it has none.
        name[0] = '\0';
        return kcar::Type4EnumDevice(index, name) ? NKI_OK : NKI_E_OUT_OF_RANGE;
    });
}

uint32_t nkiEnumReaders(int32_t index, uint8_t withCard, char *name) { return nkiEnumDevices(index, withCard, name); }

uint32_t nkiGetDeviceType(const char *name, int32_t *kind) {
    if (kind == nullptr) return NKI_E_BAD_ARGUMENTS;
    *kind = 0;
    if (name == nullptr) return NKI_E_NOT_CONNECTED;
    return kcar::Guarded([&] {
        uint8_t type = 0, atr[40];
        std::size_t length = 0;
        const uint32_t rc = kcar::ResolveDevice(name, type, atr, length);
        if (rc == NKI_OK) *kind = type;
        return rc;
    });
}

uint32_t nkiGetReaderType(const char *name, int32_t *kind) { return nkiGetDeviceType(name, kind); }

uint32_t nkiGetDeviceAtr(const char *name, void *atr, int32_t *length) {
    if (length == nullptr) return NKI_E_BAD_ARGUMENTS;
    if (name == nullptr) return NKI_E_NOT_CONNECTED;
    return kcar::Guarded([&] {
        uint8_t type = 0, bytes[40];
        std::size_t n = 0;
        if (uint32_t rc = kcar::ResolveDevice(name, type, bytes, n); rc != NKI_OK) return rc;
        const int32_t room = *length;
        *length = static_cast<int32_t>(n);
        if (atr == nullptr) return NKI_OK;
        if (room < static_cast<int32_t>(n)) return NKI_E_BUFFER_TOO_SMALL;
        std::memcpy(atr, bytes, n);
        return NKI_OK;
    });
}

uint32_t nkiGetDeviceSN(const char *name, char *serial) {
    if (serial == nullptr) return NKI_E_BAD_ARGUMENTS;
    serial[0] = '\0';
    if (name == nullptr) return NKI_E_NOT_CONNECTED;
    return kcar::Guarded([&] { return kcar::DeviceSerialName(name, serial); });
}

uint32_t nkiErrorMsgLang(int32_t code, int32_t language, char *text) {
    // No room to write into: refused rather than written through.
    if (text == nullptr) return NKI_E_BAD_ARGUMENTS;
    const uint32_t number = static_cast<uint32_t>(code);
    if ((static_cast<uint16_t>(language) & 0xFF) == 0x19)
        kcar::RussianResultText(number, text);
    else
        nkiResultText(number, text);
    return NKI_OK;
}

}  // extern "C"
