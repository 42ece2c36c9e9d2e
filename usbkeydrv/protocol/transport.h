// The token's reader protocol over USB: configuration and pipes, the command
// frame exchange, card events from the interrupt pipe or the one-second poll,
// recovery of a failed interrupt pipe, and the raw pipe requests of user-mode
// tools.
//
// Command frame (bulk OUT): command code, data length (low 8 bits), data (at
// most 270 bytes). Reply frame (bulk IN, read with the short-transfer flag into
// the same 272-byte buffer): status (0x90 success), one byte the driver does not
// read, reply data; the data length is the transfer length minus 2.
#pragma once

#include <stdint.h>

#include "reader_device.h"

namespace usbkey {

enum ReaderCommand : uint8_t {
    kCmdReaderInfo = 0x11,
    kCmdCardStatus = 0x13,
    kCmdCardPowerOff = 0x16,
    kCmdSleepNotice = 0x6E,
    kCmd6F = 0x6F,
    kCmdColdReset = 0x71,
    kCmdTransmitT1 = 0x72,
    kCmdSetSpeed = 0x74,
    kCmd79 = 0x79,
    kCmdWarmReset = 0x7A,
    kCmdTransmitT0 = 0x7B,
    kCmdCardRaw = 0x7C,
};

inline constexpr uint8_t kReaderOk = 0x90;
inline constexpr uint8_t kReaderCardChanged = 0x08;
inline constexpr uint8_t kReaderCardTimeout = 0x01;
inline constexpr uint8_t kReaderNotConfigured = 0x12;

NtStatus ConfigureUsb(ReaderDevice *device);

// Sends one command frame and reads its reply. data may be null with length 0;
// reply (capacity bytes) and replyLength may be null; *status is always written
// (0 when no reply was read, 0x12 before configuration, else the reply's status
// byte). Answers:
// - kStatusInvalidParameter for more than 270 data bytes (nothing is sent);
// - a failed transfer's status;
// - kStatusDeviceProtocolError for an empty reply (no status byte);
// - kStatusAdapterHardwareError for a reader status other than 0x90;
// - kStatusBufferOverflow when the reply data exceed capacity: the first
//   capacity bytes are copied and *replyLength is the full length;
// - success otherwise (a 1-byte reply counts as no data).
NtStatus ReaderExchange(ReaderDevice *device, uint8_t command, const uint8_t *data, uint32_t length,
                        uint8_t *reply, uint32_t capacity, uint32_t *replyLength, uint8_t *status);

// Card events from the interrupt pipe.
NtStatus StartNotification(ReaderDevice *device, CardPacketCallback callback);
void SwitchNotification(ReaderDevice *device, bool on);
// Called by the platform once for each end of the interrupt request (may be at
// dispatch level).
void NotifyCompleted(ReaderDevice *device, NtStatus status);
// The recovery work routine (passive level).
void RecoverInterruptPipe(ReaderDevice *device);
bool StallUnlessStopping(ReaderDevice *device, uint32_t us);

// Card events by polling.
void StartPolling(ReaderDevice *device);
void TimerTick(ReaderDevice *device);  // called by the platform once a second
void PollCardStatus(ReaderDevice *device);  // the poll work routine

NtStatus PrepareForSleep(ReaderDevice *device);
void ResumeCardEvents(ReaderDevice *device);

// Removal: stops card events, waits (1 ms steps) up to 3 s for the interrupt
// request to come back and until no poll or recovery is queued or running,
// then frees the request unless it is still with the USB stack.
void StopCardEvents(ReaderDevice *device);

// A raw pipe request (device I/O control outside the smart-card range) on its
// system buffer; *information is the number of bytes for the caller.
NtStatus RawPipeRequest(ReaderDevice *device, uint32_t code, uint8_t *buffer, uint32_t inLength,
                        uint32_t outLength, uint64_t *information);

}  // namespace usbkey
