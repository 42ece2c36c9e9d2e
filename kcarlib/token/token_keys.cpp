// On-token key operations: random numbers, curve parameters, public-key records,
// key generation, activation and shift, signatures and wrap keys.
//
// The token exchanges coordinates most significant byte first, 24 bytes each; the
// library keeps them least significant byte first in 64-byte slots.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "token/apdu.h"
#include "token/nki_abs.h"

namespace kcar {
namespace {

constexpr std::size_t kCoord = 24;       // bytes of a coordinate on the wire
constexpr std::size_t kSlot = 64;        // bytes of a coordinate slot on the host
constexpr std::size_t kHash = 32;
constexpr std::size_t kSignature = 48;
constexpr std::size_t kAnswerLimit = 128;

void PutWord(uint8_t *out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t TNkiAbs::GetRandom(uint8_t *buffer, int32_t length) {
    if (length > 0 && buffer == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    const uint8_t le = MultiCarrier() ? 0x00 : 0x08;
    while (length > 0) {
        uint8_t piece[8];
        // A short answer would hand out bytes the token never sent.
        if (!CommandFor(TApdu(0x00, 0x84, 0x00, 0x00).Byte(le).data(), piece, sizeof piece, sizeof piece))
            return LastError;
        const std::size_t n = length < 8 ? static_cast<std::size_t>(length) : 8;
        std::memcpy(buffer, piece, n);
        SecureWipe(piece, sizeof piece);
        buffer += 8;
        length -= 8;
    }
    return NKI_OK;
}

uint32_t TNkiAbs::GetDsaParams(int32_t index, uint8_t *out) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if ((Caps & CapCurveLoaded) == 0) return SetError(NKI_E_NOT_INITIALIZED);
    if (index < 0 || index > 7) return SetError(NKI_E_OUT_OF_RANGE);
    if (out == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    const std::size_t L = (CurveRecord[0] + 7u) / 8u;
    switch (index) {
    case 0:  // x^191 + x^9 + 1: the only field the token layer accepts
        PutWord(out, 191);
        PutWord(out + 4, 9);
        PutWord(out + 8, 0);
        PutWord(out + 12, 0);
        break;
    case 1: PutWord(out, CurveRecord[1] & 1u); break;
    case 2: std::memcpy(out, CurveRecord + 10, L); break;
    case 3: std::memcpy(out, CurveRecord + 34, L); break;
    case 4: std::memcpy(out, CurveRecord + 58, L); break;
    case 5: std::memcpy(out, CurveRecord + 82, L); break;
    case 6: std::memcpy(out, CurveRecord + 106, 32); break;
    default: std::memcpy(out, CurveRecord + 138, 64); break;
    }
    return NKI_OK;
}

uint32_t TNkiAbs::GetOwnerPublicKey(uint32_t keyNumber, uint8_t *out) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!KeyNumberValid(keyNumber)) return SetError(NKI_E_OUT_OF_RANGE);
    if (out == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t record[kAnswerLimit];
    // Record n of the key file, short identifier 9 (P2 = 9 * 8 + 4).
    if (!CommandFor(TApdu(0x00, 0xB2, static_cast<uint8_t>(keyNumber), 0x4C).Byte(0x00).data(), record,
                    sizeof record, 2 * kCoord))
        return LastError;

    uint8_t point[kPointSize] = {};
    std::memcpy(point, record, kCoord);
    std::memcpy(point + kSlot, record + kCoord, kCoord);
    uint32_t rc = NKI_OK;
    if (point[0] == 0xFF && point[kSlot] == 0xFF) {
        if (!MultiCarrier()) return SetError(NKI_E_KEY_ABSENT);
        // The multi-carrier build reports the empty slot as a key state and still
        // hands out the converted record.
        rc = SetError(NKI_E_INVALID_KEY_STATE);
    }
    point[0] &= 0x7F;  // bit 7 of the first byte is not part of x
    ByteReverse(point, kCoord);
    ByteReverse(point + kSlot, kCoord);
    std::memcpy(out, point, sizeof point);
    return rc;
}

uint32_t TNkiAbs::GenerateOwnerKeyPair(uint32_t keyNumber, uint8_t *out) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!KeyNumberValid(keyNumber)) return SetError(NKI_E_OUT_OF_RANGE);
    if (!CardCommand(TApdu(0x40, 0x4A, static_cast<uint8_t>(keyNumber), 0x00).data(), nullptr, 0))
        return LastError;
    return GetOwnerPublicKey(keyNumber, out);
}

uint32_t TNkiAbs::ActivateKey(uint32_t keyNumber) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!KeyNumberValid(keyNumber)) return SetError(NKI_E_OUT_OF_RANGE);
    return CardCommand(TApdu(0x40, 0x4A, static_cast<uint8_t>(keyNumber), 0x01).data(), nullptr, 0) ? NKI_OK
                                                                                                      : LastError;
}

uint32_t TNkiAbs::ShiftKey() {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    return CardCommand(TApdu(0x40, 0x4C, 0x00, 0x00).data(), nullptr, 0) ? NKI_OK : LastError;
}

uint32_t TNkiAbs::SignHash(const uint8_t *hash, uint8_t *signature) {
    if (hash == nullptr || signature == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t answer[kSignature];
    if (!CommandFor(TApdu(0x40, 0x52, 0x00, 0x00).Byte(kHash).Bytes(hash, kHash).Byte(0x00).data(), answer,
                    sizeof answer, kSignature))
        return LastError;
    std::memcpy(signature, answer, kSignature);
    return NKI_OK;
}

uint32_t TNkiAbs::SignCaRequest(uint32_t keyNumber, const uint8_t *hash, uint8_t *signature, uint8_t *out16) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!KeyNumberValid(keyNumber)) return SetError(NKI_E_OUT_OF_RANGE);
    if (hash == nullptr || signature == nullptr || out16 == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t answer[kAnswerLimit];
    if (!CommandFor(TApdu(0x40, 0x50, static_cast<uint8_t>(keyNumber), 0x00)
                        .Byte(kHash)
                        .Bytes(hash, kHash)
                        .Byte(0x00)
                        .data(),
                    answer, sizeof answer, kSignature + 16))
        return LastError;
    std::memcpy(signature, answer, kSignature);
    std::memcpy(out16, answer + kSignature, 16);
    return NKI_OK;
}

uint32_t TNkiAbs::CreateWrapKeysEx(int32_t mode, const uint8_t *point, uint8_t *key0, uint8_t *key1) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!(mode == 1 || (mode == 0 && (Caps & CapAgreeKeyZero) != 0))) return SetError(NKI_E_KEY_ABSENT);
    if (point == nullptr || key0 == nullptr || key1 == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t x[kCoord], y[kCoord];
    std::memcpy(x, point, kCoord);
    std::memcpy(y, point + kSlot, kCoord);
    ByteReverse(x, kCoord);
    ByteReverse(y, kCoord);
    uint8_t answer[kAnswerLimit];
    const bool ok = CommandFor(TApdu(0x40, 0x56, static_cast<uint8_t>(mode - 1), 0x00)
                                   .Byte(2 * kCoord)
                                   .Bytes(x, kCoord)
                                   .Bytes(y, kCoord)
                                   .Byte(0x00)
                                   .data(),
                               answer, sizeof answer, 64);
    if (ok) {
        std::memcpy(key0, answer, 32);
        std::memcpy(key1, answer + 32, 32);
    }
    SecureWipe(answer, sizeof answer);
    return ok ? NKI_OK : LastError;
}

uint32_t TNkiAbs::SignDocument(const uint8_t *record70, uint8_t *signature, uint8_t *stamp14) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (record70 == nullptr || signature == nullptr || stamp14 == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t answer[kAnswerLimit];
    if (!CommandFor(TApdu(0x40, 0x54, 0x00, 0x00).Byte(70).Bytes(record70, 70).Byte(0x00).data(), answer,
                    sizeof answer, kSignature + 14))
        return LastError;
    std::memcpy(signature, answer, kSignature);
    std::memcpy(stamp14, answer + kSignature, 14);
    return NKI_OK;
}

uint32_t TNkiAbs::ReadStatusText(uint8_t *out, uint32_t capacity, uint32_t *length) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (length == nullptr) return SetError(NKI_E_BAD_ARGUMENTS);
    uint8_t text[kMaxResponse];
    if (!CardCommand(TApdu(0x00, 0xB0, 0x84, 0x08).Byte(0x00).data(), text, sizeof text)) return LastError;
    // Up to and including the first NUL; a text without one is taken whole.
    uint32_t n = LastDataLength;
    if (const void *nul = std::memchr(text, 0, LastDataLength); nul != nullptr)
        n = static_cast<uint32_t>(static_cast<const uint8_t *>(nul) - text) + 1;
    *length = n;
    if (out == nullptr) return NKI_OK;
    if (n > capacity) return SetError(NKI_E_BUFFER_TOO_SMALL);
    std::memcpy(out, text, n);
    return NKI_OK;
}

}  // namespace kcar
