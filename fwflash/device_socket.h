// The boot-loader device of the Linux build: a Unix stream socket at a path of
// the user's choosing, served by whatever stands for the device's driver (the
// project's simulated token). Every message, both ways, is a 4-byte
// little-endian length and the payload:
//   open:    'O' then the device name          reply: 4-byte status (0: open)
//   control: 'I', 4-byte code, the input       reply: 4-byte status, the output
// A status other than 0 means the device refused (not there, or the request
// failed); the connection stays usable for the next request.
#pragma once

#include <cstdint>

namespace fwflash {

inline constexpr char kBootLoaderDeviceName[] = "ClsReaderB07r00";
inline constexpr char kDefaultDevicePath[] = "/run/fwflash/ClsReaderB07r00";
inline constexpr char kDevicePathVariable[] = "FWFLASH_DEVICE";
inline constexpr uint8_t kDeviceOpen = 'O';
inline constexpr uint8_t kDeviceControl = 'I';
inline constexpr uint32_t kMaxMessage = 64 * 1024;

}  // namespace fwflash
