// Byte-order reversal and squaring in GF(2^191), used to turn the token's curve
// record into the library's representation.
//
// An element is 24 bytes, least significant byte first: a polynomial over GF(2) of
// degree below 191, bit i of the 192-bit number being the coefficient of x^i. The
// field polynomial is x^191 + x^9 + 1.
#include <cstring>

#include "token/nki_abs.h"

namespace kcar {

void TNkiAbs::ByteReverse(uint8_t *buffer, int length) noexcept {
    for (int i = 0; i < length / 2; ++i) {
        const uint8_t t = buffer[i];
        buffer[i] = buffer[length - 1 - i];
        buffer[length - 1 - i] = t;
    }
}

void TNkiAbs::BaseSquare(uint8_t *a) noexcept {
    // Squaring over GF(2) spreads the bits: bit j moves to bit 2j.
    static constexpr uint8_t kSpread[16] = {0x00, 0x01, 0x04, 0x05, 0x10, 0x11, 0x14, 0x15,
                                            0x40, 0x41, 0x44, 0x45, 0x50, 0x51, 0x54, 0x55};
    uint32_t w[12];
    for (int k = 0; k < 12; ++k) {
        const uint8_t lo = a[2 * k], hi = a[2 * k + 1];
        w[k] = static_cast<uint32_t>(kSpread[lo & 0x0F]) | static_cast<uint32_t>(kSpread[lo >> 4]) << 8 |
               static_cast<uint32_t>(kSpread[hi & 0x0F]) << 16 | static_cast<uint32_t>(kSpread[hi >> 4]) << 24;
    }
    // x^(192+e) = x^(e+1) + x^(e+10) modulo the field polynomial.
    for (int i = 11; i >= 6; --i) {
        const uint32_t v = w[i];
        w[i - 6] ^= (v << 1) ^ (v << 10);
        w[i - 5] ^= (v >> 31) ^ (v >> 22);
    }
    // x^191 = x^9 + 1.
    const uint32_t top = w[5] & 0x80000000u;
    w[0] ^= (top >> 31) ^ (top >> 22);
    w[5] &= 0x7FFFFFFFu;
    for (int k = 0; k < 6; ++k)
        for (int b = 0; b < 4; ++b) a[4 * k + b] = static_cast<uint8_t>(w[k] >> (8 * b));
}

}  // namespace kcar
