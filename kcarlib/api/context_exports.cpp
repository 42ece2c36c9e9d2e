// Context creation and destruction, library version and description.
#include <new>

#include "api/export_guard.h"
#include "kcarlib/nki.h"

using kcar::TNkiHandle;

extern "C" {

uint32_t nkiCreateContext(NKI_CONTEXT *context, uint8_t kind) {
    if (kind != NKI_KIND_UNKNOWN && kind != NKI_KIND_ACTIVE_TOKEN) return NKI_E_UNSUPPORTED_NKI;
    if (context == nullptr) return NKI_E_BAD_ARGUMENTS;
    return kcar::Guarded([&] {
        auto *h = new TNkiHandle();
        kcar::RegisterHandle(h);
        *context = h;
        return NKI_OK;
    });
}

uint32_t nkiDestroyContext(NKI_CONTEXT *context) {
    if (context == nullptr) return NKI_E_INVALID_CONTEXT;
    TNkiHandle *h = kcar::FindHandle(*context);
    if (h == nullptr || !kcar::UnregisterHandle(h)) return NKI_E_INVALID_CONTEXT;
    delete h;
    *context = nullptr;
    return NKI_OK;
}

uint32_t nkiGetDllVersion(void) { return 65556; }

const char *nkiGetDllDescription(void) {
    static const char kDescription[] = "kcarlib version 1.0.1.20, base release 05.february.2009";
    return kDescription;
}

}  // extern "C"
