// The export frame of the multi-carrier build: a context is an integer found in the
// registry, and every call passes one validation before it reaches the session:
//  1. unknown context: 1;
//  2. device type not served (a type-0 context never opened, 128, 255): 2;
//  3. no open session: 3;
//  4. the device type does not offer the call's operation: 252;
// then the PIN rule (39 when the call needs the PIN and it was not accepted) and the
// presence rule (a card-based session whose card is gone is closed and the call
// answers 35). A failed validation changes nothing in the context.
#pragma once

#include <cstdint>

#include "api/capabilities.h"
#include "api/multi_registry.h"
#include "kcarlib/nki_result.h"

namespace kcar {

// Validation steps 1 to 4; h receives the session when they pass.
uint32_t Validate(int32_t context, int operation, TNkiHandle *&h) noexcept;
// The presence rule: true when the session's carrier is present (or has no card);
// otherwise the session is closed and the caller answers 35.
bool CarrierStillPresent(TNkiHandle &h) noexcept;
// Closes the session as nkiCloseSession does and answers the carrier's close result.
uint32_t CloseMultiSession(TNkiHandle &h) noexcept;

// Validation, PIN rule, presence rule, then the body.
template <typename Body>
inline uint32_t WithContext(int32_t context, int operation, Body &&body) noexcept {
    TNkiHandle *h = nullptr;
    if (uint32_t rc = Validate(context, operation, h); rc != NKI_OK) return rc;
    if (OperationNeedsPin(h->DeviceType, operation) && (h->State & TNkiHandle::PinAccepted) == 0)
        return NKI_E_PIN_REQUIRED;
    if (operation != 0 && !CarrierStillPresent(*h)) return NKI_E_CONNECTION_ABORTED;
    return Guarded([&] { return body(*h); });
}

}  // namespace kcar
