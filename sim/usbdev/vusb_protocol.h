// The wire of nki-vusb, the simulated token's USB device: what the project's
// stand-ins for the host's drivers (the PC/SC client library on Linux, winscard.dll
// and the boot-loader device's driver under wine) send to reach the simulated
// token and boot loader. TCP on 127.0.0.1, and on Linux also the Unix socket of
// the boot-loader device (device_socket.h of fwflash). Every message, both ways,
// is a 4-byte little-endian length and the payload; numbers are 4 bytes,
// little-endian.
//
//   'O' name                          device open      -> status (0: open)
//   'I' code input                    device control   -> status, output
//   'C' share protocols name          reader connect   -> rc, handle, protocol
//   'S' handle                        card status      -> rc, protocol, ATR
//   'K' handle code capacity input    vendor control   -> rc, output
//   'D' handle                        disconnect       -> rc
//
// rc is a PC/SC result code. A connection may carry any number of requests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vusb {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kOpen = 'O', kDeviceControl = 'I', kConnect = 'C', kStatus = 'S', kControl = 'K',
                         kDisconnect = 'D';
inline constexpr uint32_t kMaxMessage = 64 * 1024;
inline constexpr char kPortVariable[] = "NKI_VUSB_PORT";

inline void Put32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutText(Bytes &b, const std::string &s) { b.insert(b.end(), s.begin(), s.end()); }

}  // namespace vusb
