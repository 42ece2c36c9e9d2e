// The shape of every export: check the context, catch anything, forward, answer the code.
#pragma once

#include <cstdint>

#include "session/handle_registry.h"
#include "kcarlib/nki_result.h"

namespace kcar {

// Runs body() and turns any escaping exception into NKI_E_FAIL: nothing crosses
// the C interface.
template <typename Body>
inline uint32_t Guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return NKI_E_FAIL;
    }
}

// Validated forwarding: an unknown context answers NKI_E_INVALID_CONTEXT.
template <typename Body>
inline uint32_t WithContext(const void *context, Body &&body) noexcept {
    TNkiHandle *h = FindHandle(context);
    if (h == nullptr) return NKI_E_INVALID_CONTEXT;
    return Guarded([&] { return body(*h); });
}

}  // namespace kcar
