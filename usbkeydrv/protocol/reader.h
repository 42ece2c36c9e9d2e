// The smart-card reader functions: the library record's vendor attributes and
// capabilities, the five reader functions the smart-card library calls (card
// power, transmit, set protocol, card tracking, vendor requests), the card state
// kept from card events, and the transmission speed negotiation (PTS). Every
// function reaches the token through ReaderExchange.
#pragma once

#include <stdint.h>

#include "reader_device.h"

namespace usbkey {

inline constexpr uint32_t kSmartcardBufferSize = 288;
inline constexpr uint32_t kMaxAtr = 32;

// Speed bytes (TA1) of the rate table and the rates reported, by index; the
// index is what CMD_SET_SPEED carries. Index 0 is the default speed (TA1 0x11).
inline constexpr uint8_t kRateTa1[10] = {0x11, 0x13, 0x94, 0x18, 0x19, 0x12, 0x91, 0x92, 0x93, 0x95};
inline constexpr uint32_t kRateBits[10] = {10750, 43010, 62500, 129032, 210526, 21505, 7813, 15625, 31250, 125000};

// Called by the frame.
NtStatus SetupSmartcard(ReaderDevice *device);
NtStatus StartReader(ReaderDevice *device);
void RefreshCardState(ReaderDevice *device);
void StopReader(ReaderDevice *device);
// A device I/O control of the smart-card type; the request is completed here
// or by the smart-card library.
NtStatus RouteSmartcardRequest(ReaderDevice *device, uint32_t code, RequestHandle request);

// Card events.
void ReportCardAbsent(ReaderDevice *device);
void ReportCardPresent(ReaderDevice *device);
void CardPacket(ReaderDevice *device, const uint8_t *packet);  // interrupt packet decoder

// Reader functions called by the smart-card library.
NtStatus CardPower(SmartcardExtension *ext);
NtStatus Transmit(SmartcardExtension *ext);
NtStatus SetProtocol(SmartcardExtension *ext);
NtStatus CardTracking(SmartcardExtension *ext);
NtStatus VendorIoctl(SmartcardExtension *ext);
// The card-tracking request's cancel routine, entered with the cancel spin lock
// held (cancelIrql is the level to restore).
NtStatus TrackingCancel(ReaderDevice *device, uint8_t cancelIrql);

}  // namespace usbkey
