#include "carriers/token_carrier.h"

#include <cstring>

#include "kcarlib/nki_result.h"

namespace kcar {

uint32_t TTokenCarrier::Open(const char *name, const void *) {
    if (name == nullptr) return NKI_E_NOT_CONNECTED;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof ReaderName) return NKI_E_NOT_CONNECTED;
    std::memcpy(ReaderName, name, length + 1);
    return Abs.connect(name);
}

uint32_t TTokenCarrier::Close() noexcept {
    Abs.disconnect();
    return NKI_OK;
}

bool TTokenCarrier::IsPresent() noexcept { return Abs.CardPresent(); }

uint64_t TTokenCarrier::Caps() const noexcept {
    return (Abs.Caps & TNkiAbs::CapStatusBit) ? CapDocumentSignedSk : 0;
}

uint32_t TTokenCarrier::GetSerial(uint8_t *serial8) {
    std::memcpy(serial8, Abs.Serial, sizeof Abs.Serial);
    return NKI_OK;
}

uint32_t TTokenCarrier::GetCurveParams(tagTECParams &params) {
    uint8_t words[16];
    uint32_t rc = Abs.GetDsaParams(0, words);
    if (rc != NKI_OK) return rc;
    std::memset(&params, 0, sizeof params);
    std::memcpy(&params.m, words, 4);
    std::memcpy(&params.k1, words + 4, 4);
    std::memcpy(&params.k2, words + 8, 4);
    std::memcpy(&params.k3, words + 12, 4);
    uint8_t a[4] = {};
    Abs.GetDsaParams(1, a);
    std::memcpy(&params.A, a, 4);
    Abs.GetDsaParams(2, params.B);
    Abs.GetDsaParams(3, params.N);
    Abs.GetDsaParams(4, params.Px);
    Abs.GetDsaParams(5, params.Py);
    Abs.GetDsaParams(6, params.IV);
    Abs.GetDsaParams(7, params.Sbox);
    return NKI_OK;
}

uint32_t TTokenCarrier::GetPublicKey(uint32_t slot, uint8_t *point128) { return Abs.GetOwnerPublicKey(slot, point128); }

uint32_t TTokenCarrier::GetRandom(uint8_t *out, uint32_t length) {
    return Abs.GetRandom(out, static_cast<int32_t>(length));
}

uint32_t TTokenCarrier::GetContainerSize(uint32_t n, uint32_t *size) { return Abs.GetContainerSize(n, size); }

uint32_t TTokenCarrier::ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length) {
    return Abs.ReadDataEx(n, offset, buffer, length);
}

uint32_t TTokenCarrier::WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length) {
    return Abs.WriteDataEx(n, offset, data, length);
}

uint32_t TTokenCarrier::CheckPin(const uint8_t *pin, int32_t length) { return Abs.CheckPinEx(pin, length); }

uint32_t TTokenCarrier::ForgetPin() { return Abs.ForgetPin(); }

uint32_t TTokenCarrier::ChangePin(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin, int32_t newLength,
                                  int32_t mode) {
    return Abs.ChangePinEx(oldPin, oldLength, newPin, newLength, mode);
}

uint32_t TTokenCarrier::GetAuthSizes(uint32_t *challengeLength, uint32_t *responseLength) {
    *challengeLength = Abs.AuthChallengeSize;
    *responseLength = Abs.AuthResponseSize;
    return NKI_OK;
}

uint32_t TTokenCarrier::Authenticate(const uint8_t *challenge, uint8_t *response) {
    return Abs.DoAuthentication(challenge, response);
}

uint32_t TTokenCarrier::GenerateKeyPair(uint32_t slot, uint8_t *point128) {
    return Abs.GenerateOwnerKeyPair(slot, point128);
}

uint32_t TTokenCarrier::ActivateFutureKey() {
    uint32_t rc = Abs.ShiftKey();
    return rc != NKI_OK ? rc : Abs.ActivateKey(1);
}

uint32_t TTokenCarrier::SignHash(const uint8_t *hash32, uint8_t *signature) { return Abs.SignHash(hash32, signature); }

uint32_t TTokenCarrier::SignCaRequest(uint32_t slot, const uint8_t *hash32, uint8_t *signature, uint8_t *out16) {
    return Abs.SignCaRequest(slot, hash32, signature, out16);
}

uint32_t TTokenCarrier::AgreeKeys(const uint8_t *point128, uint8_t *key0, uint8_t *key1) {
    return Abs.CreateWrapKeysEx(1, point128, key0, key1);
}

uint32_t TTokenCarrier::SignDocument(const uint8_t *record70, uint8_t *signature, uint8_t *stamp14) {
    return Abs.SignDocument(record70, signature, stamp14);
}

uint32_t TTokenCarrier::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                  uint32_t outCapacity, uint32_t *outLength) {
    return Abs.IoControl(code, in, inLength, out, outCapacity, outLength);
}

uint32_t TTokenCarrier::ReadAuditRecord(uint8_t *record4) { return Abs.ReadAuditRecord(record4); }

uint32_t TTokenCarrier::GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length) {
    uint32_t certSize = 0;
    switch (code) {
    case -4: {  // the whole certificate container
        uint32_t rc = Abs.GetContainerSize(2, &certSize);
        if (rc != NKI_OK) return rc;
        *length = static_cast<int32_t>(certSize);
        return buffer == nullptr || certSize == 0 ? NKI_OK : Abs.ReadDataEx(2, 0, buffer, certSize);
    }
    case -3: {  // the certificate container's room for certificates
        uint32_t rc = Abs.GetContainerSize(2, &certSize);
        if (rc != NKI_OK) return rc;
        const uint32_t room = certSize >= 4 ? certSize - 4 : 0;
        *length = 4;
        if (buffer != nullptr) std::memcpy(buffer, &room, 4);
        return NKI_OK;
    }
    case -2: {  // the capability word of the information record
        uint8_t record[TNkiAbs::kInfoRecordSize] = {TNkiAbs::kInfoRecordSize};
        const uint32_t rc = Abs.GetInfoRecord(record);
        if (rc != NKI_OK) return rc;
        *length = 4;
        if (buffer != nullptr) std::memcpy(buffer, record + 8, 4);
        return NKI_OK;
    }
    case 4: {  // the reader name
        const std::size_t n = std::strlen(ReaderName) + 1;
        *length = static_cast<int32_t>(n);
        if (buffer != nullptr) std::memcpy(buffer, ReaderName, n);
        return NKI_OK;
    }
    case 5: {  // the token's status text
        uint8_t text[1024] = {};
        uint32_t n = 0;
        uint32_t rc = Abs.ReadStatusText(text, sizeof text, &n);
        if (rc != NKI_OK) return rc;
        *length = static_cast<int32_t>(n);
        if (buffer != nullptr) std::memcpy(buffer, text, n);
        return NKI_OK;
    }
    default: return NKI_E_OUT_OF_RANGE;
    }
}

}  // namespace kcar
