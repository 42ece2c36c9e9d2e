// Reader enumeration through the PC/SC service. Every call opens and releases its
// own PC/SC context and lists the readers afresh; nothing is cached.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kcar {

// The library's buffer for a reader name compared by PcscGetDeviceType.
inline constexpr std::size_t kReaderNameCapacity = 264;
// The library's buffer for the reader that a session chooses by itself.
inline constexpr std::size_t kAutoReaderNameCapacity = 136;

// Finds the index-th usable reader (from 1, in the service's listing order) and
// copies its name, NUL included, into name. A reader is usable when the service
// knows it (the unknown state bit is clear), its name fits capacity bytes with the
// terminator, and, with withCard, it holds a card. name[0] is set to NUL first, so
// a failure leaves an empty name; index 0 answers true with the empty name. Any
// PC/SC failure answers false.
bool PcscEnumDevices(int index, bool withCard, char *name, std::size_t capacity = kReaderNameCapacity);

// True, with kind = 3, when a usable reader holding a card has exactly this name.
// The card itself is not examined.
bool PcscGetDeviceType(const char *name, int &kind);

}  // namespace kcar

namespace kcar {

// The state of the named reader as the service reports it right now: true when
// the query succeeded and a card is present, with its ATR (up to 33 bytes) and
// length. False when the reader is unknown, holds no card or the service fails.
bool PcscReaderAtr(const char *name, uint8_t *atr, std::size_t &length);

}  // namespace kcar
