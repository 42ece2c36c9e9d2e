// Result values of the driver core: the kernel's NTSTATUS codes it answers,
// spelled out here so that the core needs no operating-system header.
#pragma once

#include <stdint.h>

namespace usbkey {

using NtStatus = int32_t;

constexpr NtStatus Nt(uint32_t v) { return static_cast<NtStatus>(v); }

inline constexpr NtStatus kStatusSuccess = 0;
inline constexpr NtStatus kStatusPending = 0x103;
inline constexpr NtStatus kStatusBufferOverflow = Nt(0x80000005);
inline constexpr NtStatus kStatusMediaChanged = Nt(0x8000001C);
inline constexpr NtStatus kStatusNotImplemented = Nt(0xC0000002);
inline constexpr NtStatus kStatusInvalidParameter = Nt(0xC000000D);
inline constexpr NtStatus kStatusInvalidDeviceRequest = Nt(0xC0000010);
inline constexpr NtStatus kStatusUnrecognizedMedia = Nt(0xC0000014);
inline constexpr NtStatus kStatusMoreProcessingRequired = Nt(0xC0000016);
inline constexpr NtStatus kStatusBufferTooSmall = Nt(0xC0000023);
inline constexpr NtStatus kStatusObjectNameNotFound = Nt(0xC0000034);
inline constexpr NtStatus kStatusObjectNameCollision = Nt(0xC0000035);
inline constexpr NtStatus kStatusInsufficientResources = Nt(0xC000009A);
inline constexpr NtStatus kStatusDeviceNotConnected = Nt(0xC000009D);
inline constexpr NtStatus kStatusIoTimeout = Nt(0xC00000B5);
inline constexpr NtStatus kStatusAdapterHardwareError = Nt(0xC00000C2);
inline constexpr NtStatus kStatusCancelled = Nt(0xC0000120);
inline constexpr NtStatus kStatusDeviceProtocolError = Nt(0xC0000186);
inline constexpr NtStatus kStatusInvalidBufferSize = Nt(0xC0000206);

constexpr bool NtSuccess(NtStatus s) { return s >= 0; }

}  // namespace usbkey
