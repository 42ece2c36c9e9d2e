// Reader enumeration exports; they need no context.
#include "api/export_guard.h"
#include "token/pcsc_enum.h"
#include "kcarlib/nki.h"

extern "C" {

uint32_t nkiEnumDevices(int32_t index, uint8_t withCard, char *name) {
    if (name == nullptr) return NKI_E_BAD_ARGUMENTS;
    return kcar::Guarded([&] {
        return kcar::PcscEnumDevices(index & 0xFF, withCard != 0, name) ? NKI_OK : NKI_E_OUT_OF_RANGE;
    });
}

uint32_t nkiGetDeviceType(const char *name, int32_t *kind) {
    if (name == nullptr || kind == nullptr) return NKI_E_NOT_CONNECTED;
    return kcar::Guarded([&] {
        int found = 0;
        if (!kcar::PcscGetDeviceType(name, found)) return NKI_E_NOT_CONNECTED;
        *kind = found;
        return NKI_OK;
    });
}

}  // extern "C"
