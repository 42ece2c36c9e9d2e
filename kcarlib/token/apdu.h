// Command buffer of the token layer: byte 0 holds the APDU's length, the APDU
// follows. Appends past the 255-byte limit are dropped; no command of the token
// comes near it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/secure_wipe.h"

namespace kcar {

class TApdu {
public:
    TApdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2) noexcept {
        Byte(cla).Byte(ins).Byte(p1).Byte(p2);
    }
    TApdu() noexcept = default;
    // The buffer may have carried a PIN.
    ~TApdu() { SecureWipe(buf_, sizeof buf_); }
    TApdu(const TApdu &) = delete;
    TApdu &operator=(const TApdu &) = delete;

    TApdu &Byte(uint8_t v) noexcept {
        if (buf_[0] < kMax) buf_[1 + buf_[0]++] = v;
        return *this;
    }
    TApdu &Bytes(const uint8_t *p, std::size_t n) noexcept {
        for (std::size_t i = 0; i < n; ++i) Byte(p[i]);
        return *this;
    }
    const uint8_t *data() const noexcept { return buf_; }

private:
    static constexpr uint8_t kMax = 255;
    uint8_t buf_[1 + kMax] = {};
};

}  // namespace kcar
