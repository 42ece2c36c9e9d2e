// TNkiAbs: the command layer of one connected token.
#pragma once

#include <cstdint>

#include <PCSC/winscard.h>

namespace kcar {

class TNkiAbs {
public:
    TNkiAbs() = default;
    // Ends the object only; the owner disconnects first.
    virtual ~TNkiAbs() = default;
    TNkiAbs(const TNkiAbs &) = delete;
    TNkiAbs &operator=(const TNkiAbs &) = delete;

    // Releases the card and the PC/SC context; safe to call when not connected.
    void Disconnect() noexcept;

    uint32_t LastError = 0;
    uint8_t Connected = 0;
    uint8_t Serial[8] = {};
    uint32_t FieldDegree = 0;
    uint32_t SignSize = 0;
    uint32_t KeySlots = 0;
    uint32_t ContainerSize[3] = {};
    uint32_t InfoWord = 0;
    uint32_t AuthChallengeSize = 8;
    uint32_t AuthResponseSize = 64;
    SCARDCONTEXT Context = 0;
    SCARDHANDLE Card = 0;
    DWORD Protocol = 0;
    uint64_t Caps = 0;
    uint16_t LastSW = 0;
    uint8_t CurveRecord[204] = {};
};

}  // namespace kcar
