// Telling the device type of a card from its answer-to-reset, and the serial
// number name a device can be opened by. No command is sent to a card.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kcar {

// The device type of a card with this ATR: 2, 3, 4 or 19 for cards of the family
// (16 bytes, 3B or B7 in front, the type in the high nibble of byte 8, protected
// data cards recognised by their pattern), 128 for a family card of an unknown
// type, 255 for any other card.
uint8_t DeviceTypeFromAtr(const uint8_t *atr, std::size_t length) noexcept;

// Resolves the named device: its type and its ATR (up to 33 bytes). 0, or 3 when
// the device is not reachable (no such reader, or no card in it).
uint32_t ResolveDevice(const char *name, uint8_t &type, uint8_t *atr, std::size_t &atrLength) noexcept;

// The serial number name of a device: "#" + 12 uppercase hex digits of ATR bytes
// 9..14 for types 2 and 3 (14 bytes with the NUL), "#" + the whole ATR reversed in
// hex for type 4. 0; 5 for a protected data card; 2 for other types; 3 when the
// device is not reachable. serial starts as an empty string in every case and
// must hold 68 bytes.
uint32_t DeviceSerialName(const char *name, char *serial) noexcept;

}  // namespace kcar
