#include "carriers/carrier_modules.h"

#include <cstring>

#include "carriers/host_random.h"
#include "crypto/secure_wipe.h"
#include "kcarlib/nki_result.h"

namespace kcar {

namespace {

void ParamsFromCurve(const CurveParams &c, tagTECParams &p) {
    std::memset(&p, 0, sizeof p);
    p.m = uint32_t(c.m);
    p.k1 = uint32_t(c.k1);
    p.k2 = uint32_t(c.k2);
    p.k3 = uint32_t(c.k3);
    p.A = uint32_t(c.a);
    BytesFromWords(c.b, p.B, 64);
    BytesFromWords(c.n, p.N, 64);
    BytesFromWords(c.p.x, p.Px, 64);
    BytesFromWords(c.p.y, p.Py, 64);
    std::memcpy(p.IV, c.hashIv, 32);
    std::memcpy(p.Sbox, c.hashSbox, 64);
}

void PointOut(const TEcPoint &q, uint8_t *point128) {
    BytesFromWords(q.x, point128, 64);
    BytesFromWords(q.y, point128 + 64, 64);
}

TEcPoint PointIn(const uint8_t *point128) {
    TEcPoint q;
    WordsFromBytes(point128, 64, q.x);
    WordsFromBytes(point128 + 64, 64, q.y);
    return q;
}

// The PIN as the carriers take it: the given bytes, cut or zero-filled to 8.
uint32_t PinBlock(const uint8_t *pin, int32_t length, uint8_t *block8) {
    if (length <= 0) return NKI_E_INVALID_DATA_LENGTH;
    std::memset(block8, 0, 8);
    std::memcpy(block8, pin, length < 8 ? std::size_t(length) : 8);
    return NKI_OK;
}

uint32_t GiveInfo(const void *data, std::size_t n, uint8_t *buffer, int32_t *length) {
    *length = int32_t(n);
    if (buffer != nullptr && n > 0) std::memcpy(buffer, data, n);
    return NKI_OK;
}

uint32_t PublicKeyOf(const HostKeySession &s, uint32_t slot, uint8_t *point128) {
    if (slot == 1 && (s.State() & kStOwnerPublic)) {
        PointOut(s.OwnerPublicKey(), point128);
        return NKI_OK;
    }
    if (slot == 2 && (s.State() & kStFutureKey)) {
        PointOut(s.FuturePublicKey(), point128);
        return NKI_OK;
    }
    return slot == 1 || slot == 2 ? NKI_E_KEY_ABSENT : NKI_E_OUT_OF_RANGE;
}

uint32_t Generate(HostKeySession &s, uint32_t slot, uint8_t *point128) {
    uint32_t rc = slot == 1 ? s.GenerateOwnerKeyPair() : slot == 2 ? s.CreateFutureKey() : NKI_E_OUT_OF_RANGE;
    return rc != NKI_OK ? rc : PublicKeyOf(s, slot, point128);
}

uint32_t CaRequest(HostKeySession &s, uint32_t slot, const uint8_t *hash32, uint8_t *signature, uint8_t *out16) {
    uint32_t rc = s.SignHashWithSlot(slot, hash32, signature);
    if (rc != NKI_OK) return rc;
    std::memset(out16, 0, 16);
    std::memcpy(out16, s.Uid(), 8);
    out16[8] = uint8_t(slot);
    return NKI_OK;
}

// The certificate container of a host-key carrier, read from its area (zero
// beyond the stored bytes).
uint32_t ReadArea(const HostKeySession::Bytes &area, uint32_t capacity, uint32_t offset, uint8_t *buffer,
                  uint32_t length) {
    if (offset > capacity || length > capacity - offset) return NKI_E_OUT_OF_RANGE;
    for (uint32_t i = 0; i < length; ++i) buffer[i] = offset + i < area.size() ? area[offset + i] : 0;
    return NKI_OK;
}

// The area after a write: a write at offset 0 replaces it (the session writes
// the whole store there); a write further on patches it.
bool PatchArea(HostKeySession::Bytes &area, uint32_t capacity, uint32_t offset, const uint8_t *data, uint32_t length) {
    if (offset > capacity || length > capacity - offset) return false;
    if (offset == 0) area.clear();
    if (area.size() < offset + length) area.resize(offset + length, 0);
    std::memcpy(area.data() + offset, data, length);
    return true;
}

uint32_t WordOne(uint8_t *record4) {
    const uint8_t one[4] = {1, 0, 0, 0};
    std::memcpy(record4, one, 4);
    return NKI_OK;
}

}  // namespace

// ---- Key file ----

uint32_t TKeyFileCarrier::Open(const char *name, const void *key) {
    return file_.OpenFile(name != nullptr ? name : "", static_cast<const uint8_t *>(key));
}

uint32_t TKeyFileCarrier::Close() noexcept {
    file_.Close();
    return NKI_OK;
}

uint32_t TKeyFileCarrier::GetSerial(uint8_t *serial8) {
    std::memcpy(serial8, file_.Uid(), 8);
    return NKI_OK;
}

uint32_t TKeyFileCarrier::GetCurveParams(tagTECParams &params) {
    ParamsFromCurve(file_.Curve(), params);
    return NKI_OK;
}

uint32_t TKeyFileCarrier::GetPublicKey(uint32_t slot, uint8_t *point128) { return PublicKeyOf(file_, slot, point128); }

uint32_t TKeyFileCarrier::GetRandom(uint8_t *out, uint32_t length) {
    return SystemRandom(out, length) ? NKI_OK : NKI_E_CRYPTO_INTERNAL;
}

// The file may grow to 16384 bytes: the certificate area gets what the fixed
// part and the user file leave.
static uint32_t KeyFileCertCapacity(const KeyFileCarrier &f) {
    const std::size_t room = 16384 - 64 - 452;
    return f.UserFile().size() >= room ? 0 : uint32_t(room - f.UserFile().size());
}

uint32_t TKeyFileCarrier::GetContainerSize(uint32_t n, uint32_t *size) {
    if (n == 1) *size = uint32_t(file_.UserFile().size());
    else if (n == 2) *size = KeyFileCertCapacity(file_);
    else return NKI_E_OUT_OF_RANGE;
    return NKI_OK;
}

uint32_t TKeyFileCarrier::ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length) {
    if (n == 1) return ReadArea(file_.UserFile(), uint32_t(file_.UserFile().size()), offset, buffer, length);
    if (n == 2) return ReadArea(file_.CertificateArea(), KeyFileCertCapacity(file_), offset, buffer, length);
    return NKI_E_OUT_OF_RANGE;
}

uint32_t TKeyFileCarrier::WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length) {
    if (n != 2) return NKI_E_UNSUPPORTED_FUNCTION;
    HostKeySession::Bytes area = file_.CertificateArea();
    if (!PatchArea(area, KeyFileCertCapacity(file_), offset, data, length)) return NKI_E_OUT_OF_RANGE;
    return file_.SetCertificateArea(area);
}

uint32_t TKeyFileCarrier::CheckPin(const uint8_t *, int32_t) { return NKI_OK; }

uint32_t TKeyFileCarrier::ForgetPin() {
    file_.ForgetPin();
    return NKI_OK;
}

uint32_t TKeyFileCarrier::ChangePassword(const void *key) {
    return file_.ChangePassword(static_cast<const uint8_t *>(key));
}

uint32_t TKeyFileCarrier::GetAuthSizes(uint32_t *challengeLength, uint32_t *responseLength) {
    *challengeLength = 8;
    *responseLength = file_.AuthenticationResponseSize();
    return NKI_OK;
}

uint32_t TKeyFileCarrier::Authenticate(const uint8_t *challenge, uint8_t *response) {
    return file_.AuthenticationResponse(challenge, response);
}

uint32_t TKeyFileCarrier::GenerateKeyPair(uint32_t slot, uint8_t *point128) { return Generate(file_, slot, point128); }
uint32_t TKeyFileCarrier::ActivateFutureKey() { return file_.ActivateFutureKey(); }
uint32_t TKeyFileCarrier::SignHash(const uint8_t *hash32, uint8_t *signature) {
    return file_.SignHash(hash32, signature);
}
uint32_t TKeyFileCarrier::SignCaRequest(uint32_t slot, const uint8_t *hash32, uint8_t *signature, uint8_t *out16) {
    return CaRequest(file_, slot, hash32, signature, out16);
}
uint32_t TKeyFileCarrier::AgreeKeys(const uint8_t *point128, uint8_t *key0, uint8_t *key1) {
    return file_.WrapKeys(PointIn(point128), key0, key1);
}
uint32_t TKeyFileCarrier::ReadAuditRecord(uint8_t *record4) { return WordOne(record4); }

uint32_t TKeyFileCarrier::GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length) {
    switch (code) {
    case -4: return GiveInfo(file_.CertificateArea().data(), file_.CertificateArea().size(), buffer, length);
    case -3: {
        const uint32_t room = KeyFileCertCapacity(file_) >= 4 ? KeyFileCertCapacity(file_) - 4 : 0;
        return GiveInfo(&room, 4, buffer, length);
    }
    case 4: return GiveInfo(file_.Path().c_str(), file_.Path().size() + 1, buffer, length);
    default: return NKI_E_OUT_OF_RANGE;
    }
}

// ---- Container card ----

uint32_t TContainerCardCarrier::Open(const char *name, const void *) { return card_.OpenCard(name ? name : ""); }

uint32_t TContainerCardCarrier::Close() noexcept {
    card_.Close();
    return NKI_OK;
}

bool TContainerCardCarrier::IsPresent() noexcept { return card_.Present() == NKI_OK; }

uint32_t TContainerCardCarrier::GetSerial(uint8_t *serial8) {
    std::memcpy(serial8, card_.Serial(), 8);
    return NKI_OK;
}

uint32_t TContainerCardCarrier::GetCurveParams(tagTECParams &params) {
    // A card without a parameter record still opens (its PIN check answers 38);
    // the session then works on the standard curve until the keys are loaded.
    ParamsFromCurve(card_.HasParameters() ? card_.Curve() : StandardCurve191(), params);
    return NKI_OK;
}

uint32_t TContainerCardCarrier::GetPublicKey(uint32_t slot, uint8_t *point128) {
    return PublicKeyOf(card_, slot, point128);
}

uint32_t TContainerCardCarrier::GetRandom(uint8_t *out, uint32_t length) { return card_.CardRandom(out, length); }

uint32_t TContainerCardCarrier::GetContainerSize(uint32_t n, uint32_t *size) {
    if (n == 1) *size = card_.UserFileSize();
    else if (n == 2) *size = card_.CertificateFileSize();
    else return NKI_E_OUT_OF_RANGE;
    return NKI_OK;
}

uint32_t TContainerCardCarrier::ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length) {
    if (n == 1) return card_.ReadUserFile(offset, buffer, length);
    if (n != 2) return NKI_E_OUT_OF_RANGE;
    HostKeySession::Bytes file;
    uint32_t rc = card_.ReadCertificateFile(file);
    return rc != NKI_OK ? rc : ReadArea(file, uint32_t(file.size()), offset, buffer, length);
}

uint32_t TContainerCardCarrier::WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length) {
    if (n == 1) return card_.WriteUserFile(offset, data, length);
    if (n != 2) return NKI_E_OUT_OF_RANGE;
    // The certificate store is written with the container, after the PIN.
    if (!(card_.State() & kStPinAccepted)) return NKI_E_PIN_REQUIRED;
    HostKeySession::Bytes area = card_.CertificateArea();
    if (!PatchArea(area, card_.CertificateFileSize(), offset, data, length)) return NKI_E_OUT_OF_RANGE;
    return card_.SetCertificateArea(area);
}

uint32_t TContainerCardCarrier::CheckPin(const uint8_t *pin, int32_t length) {
    uint8_t block[8];
    uint32_t rc = PinBlock(pin, length, block);
    if (rc == NKI_OK) rc = card_.CheckPin(block);
    SecureWipe(block, sizeof block);
    return rc;
}

uint32_t TContainerCardCarrier::ForgetPin() { return card_.ForgetPin(); }

uint32_t TContainerCardCarrier::ChangePin(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin,
                                          int32_t newLength, int32_t mode) {
    uint8_t oldBlock[8], newBlock[8];
    uint32_t rc = PinBlock(oldPin, oldLength, oldBlock);
    if (rc == NKI_OK) rc = PinBlock(newPin, newLength, newBlock);
    if (rc == NKI_OK) rc = card_.ChangePin(oldBlock, newBlock, mode);
    SecureWipe(oldBlock, sizeof oldBlock);
    SecureWipe(newBlock, sizeof newBlock);
    return rc;
}

uint32_t TContainerCardCarrier::GetAuthSizes(uint32_t *challengeLength, uint32_t *responseLength) {
    *challengeLength = 8;
    *responseLength = card_.AuthenticationResponseSize();
    return NKI_OK;
}

uint32_t TContainerCardCarrier::Authenticate(const uint8_t *challenge, uint8_t *response) {
    return card_.AuthenticationResponse(challenge, response);
}

uint32_t TContainerCardCarrier::GenerateKeyPair(uint32_t slot, uint8_t *point128) {
    return Generate(card_, slot, point128);
}
uint32_t TContainerCardCarrier::ActivateFutureKey() { return card_.ActivateFutureKey(); }
uint32_t TContainerCardCarrier::SignHash(const uint8_t *hash32, uint8_t *signature) {
    return card_.SignHash(hash32, signature);
}
uint32_t TContainerCardCarrier::SignCaRequest(uint32_t slot, const uint8_t *hash32, uint8_t *signature,
                                              uint8_t *out16) {
    return CaRequest(card_, slot, hash32, signature, out16);
}
uint32_t TContainerCardCarrier::AgreeKeys(const uint8_t *point128, uint8_t *key0, uint8_t *key1) {
    return card_.WrapKeys(PointIn(point128), key0, key1);
}
uint32_t TContainerCardCarrier::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                          uint32_t outCapacity, uint32_t *outLength) {
    return card_.IoControl(code, in, inLength, out, outCapacity, outLength);
}
uint32_t TContainerCardCarrier::ReadAuditRecord(uint8_t *record4) { return card_.AuditRecord(0, record4); }

uint32_t TContainerCardCarrier::GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length) {
    switch (code) {
    case -4: {
        HostKeySession::Bytes file;
        uint32_t rc = card_.ReadCertificateFile(file);
        return rc != NKI_OK ? rc : GiveInfo(file.data(), file.size(), buffer, length);
    }
    case -3: {
        const uint32_t size = card_.CertificateFileSize(), room = size >= 4 ? size - 4 : 0;
        return GiveInfo(&room, 4, buffer, length);
    }
    case 4: return GiveInfo(card_.Link().Reader().c_str(), card_.Link().Reader().size() + 1, buffer, length);
    case 5: {
        std::string text;
        uint32_t rc = card_.InfoText(text);
        return rc != NKI_OK ? rc : GiveInfo(text.c_str(), text.size() + 1, buffer, length);
    }
    default: return NKI_E_OUT_OF_RANGE;
    }
}

// ---- Protected data card ----

uint32_t TProtectedCardCarrier::Open(const char *name, const void *) { return card_.OpenCard(name ? name : ""); }

uint32_t TProtectedCardCarrier::Close() noexcept {
    card_.Close();
    return NKI_OK;
}

bool TProtectedCardCarrier::IsPresent() noexcept { return card_.Present() == NKI_OK; }

uint32_t TProtectedCardCarrier::GetSerial(uint8_t *serial8) {
    std::memcpy(serial8, card_.Serial(), 8);
    return NKI_OK;
}

uint32_t TProtectedCardCarrier::GetCurveParams(tagTECParams &params) {
    // The card holds no keys; the session's own computations use the standard curve.
    ParamsFromCurve(StandardCurve191(), params);
    return NKI_OK;
}

uint32_t TProtectedCardCarrier::GetRandom(uint8_t *out, uint32_t length) {
    return SystemRandom(out, length) ? NKI_OK : NKI_E_CRYPTO_INTERNAL;
}

uint32_t TProtectedCardCarrier::GetContainerSize(uint32_t n, uint32_t *size) {
    if (n == 1) *size = card_.UserFileSize();
    else if (n == 2) *size = 0;
    else return NKI_E_OUT_OF_RANGE;
    return NKI_OK;
}

uint32_t TProtectedCardCarrier::ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length) {
    return n == 1 ? card_.ReadUserFile(offset, buffer, length) : NKI_E_UNSUPPORTED_FUNCTION;
}

uint32_t TProtectedCardCarrier::WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length) {
    return n == 1 ? card_.WriteUserFile(offset, data, length) : NKI_E_UNSUPPORTED_FUNCTION;
}

uint32_t TProtectedCardCarrier::CheckPin(const uint8_t *pin, int32_t length) {
    uint8_t block[8];
    uint32_t rc = PinBlock(pin, length, block);
    if (rc == NKI_OK) rc = card_.CheckPin(block);
    SecureWipe(block, sizeof block);
    return rc;
}

uint32_t TProtectedCardCarrier::ForgetPin() { return card_.ForgetPin(); }

uint32_t TProtectedCardCarrier::ChangePin(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin,
                                          int32_t newLength, int32_t mode) {
    uint8_t oldBlock[8], newBlock[8];
    uint32_t rc = PinBlock(oldPin, oldLength, oldBlock);
    if (rc == NKI_OK) rc = PinBlock(newPin, newLength, newBlock);
    if (rc == NKI_OK) rc = card_.ChangePin(oldBlock, newBlock, mode);
    SecureWipe(oldBlock, sizeof oldBlock);
    SecureWipe(newBlock, sizeof newBlock);
    return rc;
}

uint32_t TProtectedCardCarrier::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                          uint32_t outCapacity, uint32_t *outLength) {
    return card_.IoControl(code, in, inLength, out, outCapacity, outLength);
}

uint32_t TProtectedCardCarrier::ReadAuditRecord(uint8_t *record4) { return WordOne(record4); }

uint32_t TProtectedCardCarrier::GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length) {
    std::string text;
    uint32_t rc = card_.InfoString(code, text);
    if (rc != NKI_OK) return rc;
    // The reader name and the card's text travel with their NUL; the permission as one byte.
    return GiveInfo(text.c_str(), code == 6 ? 1 : text.size() + 1, buffer, length);
}

}  // namespace kcar
