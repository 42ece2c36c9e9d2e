// The per-device record of the reader driver. It begins with the smart-card
// library's record, so that the reader functions the library calls with that
// record find the whole device behind it.
#pragma once

#include <stdint.h>

#include "platform.h"
#include "smartcard_abi.h"

namespace usbkey {

inline constexpr uint32_t kFrameBufferSize = 272;
inline constexpr uint32_t kMaxFrameData = kFrameBufferSize - 2;
inline constexpr uint32_t kUnitCount = 16;

// Unit numbers in use, shared by every device of the driver (a flag per number).
struct UnitTable {
    uint8_t Taken[kUnitCount];
};

using CardPacketCallback = void (*)(ReaderDevice *device, const uint8_t *packet);

enum DevicePower : uint32_t { kPowerD0 = 1, kPowerD1 = 2, kPowerD2 = 3, kPowerD3 = 4 };

struct ReaderDevice {
    SmartcardExtension Smartcard;  // must stay first
    Platform *Ops;
    UnitTable *Units;

    // USB transport.
    PipeHandle BulkOutPipe;
    PipeHandle BulkInPipe;
    PipeHandle InterruptInPipe;
    uint32_t BulkOutMaxPacket;
    bool Configured;
    bool UseInterrupt;
    bool NoRate19;
    CardPacketCallback NotifyCallback;
    uint8_t NotifyBuffer[8];
    volatile bool NotifyActive;       // the interrupt transfer is wanted
    volatile bool NotifyStopped;      // it ended for good (cancelled or device going away)
    volatile bool NotifyOutstanding;  // the request is with the USB stack now
    volatile bool PollQueued;
    volatile bool RecoveryQueued;     // the interrupt-pipe recovery is queued or running
    bool TimerStarted;
    volatile bool Stopping;
    uint8_t Frame[kFrameBufferSize];  // command and reply frames, under the exchange lock

    // Smart-card functions.
    bool UnitHeld;     // UnitNo was taken from the unit table by this device
    bool ReaderSetUp;  // SetupSmartcard succeeded, so StopReader has something to undo
    uint32_t DataRates[10];

    // Driver frame.
    void *PhysicalDevice;
    void *DeviceObject;
    char16_t UnitDigit;
    char16_t ScReaderDigit;
    bool NoPcsc;
    uint32_t DevicePowerState;
    RequestHandle HeldSystemPowerRequest;
};

inline ReaderDevice *DeviceOf(SmartcardExtension *ext) { return reinterpret_cast<ReaderDevice *>(ext); }

// Prepares a zeroed record for use with ops (what add-device does before setup).
void InitReaderDevice(ReaderDevice *device, Platform *ops, UnitTable *units);

}  // namespace usbkey
