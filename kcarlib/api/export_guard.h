// The shape of every export: check the context, catch anything, forward, answer the code.
#pragma once

#include <cstdint>

#include "kcarlib/nki.h"
#include "kcarlib/nki_result.h"
#include "session/handle_registry.h"

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

}  // namespace kcar

#if KCARLIB_MULTI_CARRIER
#include "api/multi_frame.h"
#else
namespace kcar {

// Validated forwarding: an unknown context answers NKI_E_INVALID_CONTEXT. The
// operation number is the multi-carrier build's; this build checks none.
template <typename Body>
inline uint32_t WithContext(const void *context, int /*operation*/, Body &&body) noexcept {
    TNkiHandle *h = FindHandle(context);
    if (h == nullptr) return NKI_E_INVALID_CONTEXT;
    return Guarded([&] { return body(*h); });
}

}  // namespace kcar
#endif
