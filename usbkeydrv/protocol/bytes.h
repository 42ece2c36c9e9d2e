// Byte helpers of the driver core, which uses no C or C++ library.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace usbkey {

inline void CopyBytes(void *to, const void *from, size_t n) {
    auto *d = static_cast<uint8_t *>(to);
    auto *s = static_cast<const uint8_t *>(from);
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
}

inline void ZeroBytes(void *to, size_t n) {
    auto *d = static_cast<volatile uint8_t *>(to);
    for (size_t i = 0; i < n; ++i) d[i] = 0;
}

inline uint16_t LoadLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t LoadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace usbkey
