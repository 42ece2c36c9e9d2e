// What each device type of the multi-carrier build offers, and which calls need the
// PIN. Every call that takes a context asks for one operation number (0 = none);
// the device type offers the operation when its bit is set in the type's 256-bit
// set (bit n is bit n mod 8 of byte n div 8).
#pragma once

#include <cstdint>

namespace kcar {

// True for the device types this build serves: 1, 2, 3, 4 and 19.
bool DeviceTypeServed(uint8_t type) noexcept;
// The 32-byte capability set of a device type; all zero for types without one.
const uint8_t *CapabilitySet(uint8_t type) noexcept;
// True when operation 0 or the type offers it.
bool OperationOffered(uint8_t type, int operation) noexcept;
// True when the operation may only run after the PIN was accepted.
bool OperationNeedsPin(uint8_t type, int operation) noexcept;

}  // namespace kcar
