// PIN commands and the token authentication. The library never checks or keeps a
// PIN: it hands an 8-byte block to the token and reports the token's status word.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "token/apdu.h"
#include "token/nki_abs.h"

namespace kcar {
namespace {

constexpr std::size_t kPinBlock = 8;

// The caller's bytes cut to 8 and zero-filled; a negative length counts as 0.
// False for a null PIN that claims bytes.
bool PinBlock(const uint8_t *pin, int32_t length, uint8_t (&block)[kPinBlock]) {
    std::memset(block, 0, sizeof block);
    const std::size_t n = length <= 0 ? 0 : (static_cast<std::size_t>(length) > kPinBlock ? kPinBlock : length);
    if (n != 0 && pin == nullptr) return false;
    if (n != 0) std::memcpy(block, pin, n);
    return true;
}

}  // namespace

uint32_t TNkiAbs::CheckPinEx(const uint8_t *pin, int32_t length) {
    uint8_t block[kPinBlock];
    if (!PinBlock(pin, length, block)) return SetError(NKI_E_BAD_ARGUMENTS);
    const bool ok = CardCommand(TApdu(0x00, 0x20, 0x00, 0x05).Byte(kPinBlock).Bytes(block, kPinBlock).data(),
                                nullptr, 0);
    SecureWipe(block, sizeof block);
    return ok ? NKI_OK : LastError;
}

uint32_t TNkiAbs::ForgetPin() {
    return CardCommand(TApdu(0x80, 0xE0, 0x02, 0x00).data(), nullptr, 0) ? NKI_OK : LastError;
}

uint32_t TNkiAbs::ChangePinEx(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin, int32_t newLength,
                              int32_t mode) {
    if (MultiCarrier() && (Caps & CapCurveLoaded) == 0) return SetError(NKI_E_NOT_INITIALIZED);
    uint8_t p1, p2;
    switch (mode) {
    case 0: p1 = 0x00, p2 = 0x05; break;
    case 1: p1 = 0x00, p2 = 0x06; break;
    case 2: p1 = 0x01, p2 = 0x06; break;
    default: return SetError(NKI_E_OUT_OF_RANGE);
    }
    uint8_t oldBlock[kPinBlock], newBlock[kPinBlock];
    uint32_t rc = NKI_OK;
    if (!PinBlock(oldPin, oldLength, oldBlock) || !PinBlock(newPin, newLength, newBlock)) {
        rc = SetError(NKI_E_BAD_ARGUMENTS);
    } else if (!CardCommand(TApdu(0x80, 0x24, p1, p2)
                                .Byte(2 * kPinBlock)
                                .Bytes(oldBlock, kPinBlock)
                                .Bytes(newBlock, kPinBlock)
                                .data(),
                            nullptr, 0)) {
        rc = LastError;
    }
    SecureWipe(oldBlock, sizeof oldBlock);
    SecureWipe(newBlock, sizeof newBlock);
    return rc;
}

uint32_t TNkiAbs::DoAuthentication(const uint8_t *challenge, uint8_t *response) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (challenge == nullptr || response == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    // The token answers a 48-byte part and a 16-byte part; the caller gets the
    // 16-byte part first.
    uint8_t answer[128];
    if (!CommandFor(TApdu(0x40, 0x58, 0x00, 0x00).Byte(0x08).Bytes(challenge, 8).Byte(0x00).data(), answer,
                    sizeof answer, 64))
        return LastError;
    std::memcpy(response, answer + 48, 16);
    std::memcpy(response + 16, answer, 48);
    return NKI_OK;
}

}  // namespace kcar
