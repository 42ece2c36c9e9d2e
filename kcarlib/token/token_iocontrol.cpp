// I/O-control codes that the library answers for the token.
//
// Fixed-size answers (1, 2 or 8 bytes) are written without looking at the out
// capacity: callers provide at least that much. The multi-carrier build's raw
// pass-through answers as many bytes as the token sends, so there the capacity is
// checked.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "token/apdu.h"
#include "token/nki_abs.h"

namespace kcar {
namespace {

constexpr uint32_t kMaxCommand = 255;
constexpr uint8_t kQueryRef5[5] = {0x80, 0xF2, 0x00, 0x05, 0x01};
constexpr uint8_t kQueryRef6[5] = {0x80, 0xF2, 0x00, 0x06, 0x01};

void PutWord(uint8_t *out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t TNkiAbs::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outCapacity,
                            uint32_t *outLength) {
    if (MultiCarrier() && outLength != nullptr) *outLength = 0;
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;

    const bool known = code == IoQueryPassThrough || code == IoLastStatusWord || code == IoVersionInfo ||
                       (MultiCarrier() && (code == IoGetExchangeBlock || code == IoSetExchangeBlock));
    if (!known) return SetError(NKI_E_UNSUPPORTED_FUNCTION);
    if (outLength == nullptr || (out == nullptr && code != IoSetExchangeBlock)) return SetError(NKI_E_BAD_ARGUMENTS);

    switch (code) {
    case IoVersionInfo:
        PutWord(out, MultiCarrier() ? 0x104 : 0x105);
        PutWord(out + 4, MultiCarrier() ? 3 : InfoWord);
        *outLength = 8;
        return NKI_OK;

    case IoLastStatusWord:
        out[0] = static_cast<uint8_t>(LastSW);
        out[1] = static_cast<uint8_t>(LastSW >> 8);
        *outLength = 2;
        return NKI_OK;

    case IoGetExchangeBlock:
        std::memcpy(out, ExchangeBlock, sizeof ExchangeBlock);
        *outLength = 8;
        return NKI_OK;

    case IoSetExchangeBlock:
        if (in == nullptr || inLength < sizeof ExchangeBlock) return SetError(NKI_E_BAD_ARGUMENTS);
        std::memcpy(ExchangeBlock, in, sizeof ExchangeBlock);
        return NKI_OK;

    default: break;  // IoQueryPassThrough
    }

    const uint32_t n = inLength < kMaxCommand ? inLength : kMaxCommand;
    if (MultiCarrier()) {
        if (in == nullptr || n < 4) return SetError(NKI_E_BAD_ARGUMENTS);
    } else if (in == nullptr || n < sizeof kQueryRef5 ||
               (std::memcmp(in, kQueryRef5, sizeof kQueryRef5) != 0 &&
                std::memcmp(in, kQueryRef6, sizeof kQueryRef6) != 0)) {
        // Only the retry-counter queries are passed through.
        return SetError(NKI_E_UNSUPPORTED_FUNCTION);
    }
    TApdu command;
    command.Bytes(in, n);
    uint8_t answer[256];
    if (!CardCommand(command.data(), answer, sizeof answer)) return LastError;
    if (MultiCarrier()) {
        if (LastDataLength > outCapacity) {
            *outLength = LastDataLength;
            return SetError(NKI_E_BUFFER_TOO_SMALL);
        }
        std::memcpy(out, answer, LastDataLength);
        *outLength = LastDataLength;
        return NKI_OK;
    }
    if (LastDataLength < 1) return SetError(NKI_E_DEVICE_CORRUPTED);
    out[0] = answer[0];
    *outLength = 1;
    return NKI_OK;
}

}  // namespace kcar
