#include "carriers/container_card_carrier.h"

#include <algorithm>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "kcarlib/nki_result.h"

namespace kcar {

namespace {

constexpr uint16_t kParamFile = 0x0005, kContainerFile = 0x0008, kFile10 = 0x000A;
constexpr uint16_t kUserFile = 0x0201, kCertFile = 0x0202, kAuditFile = 0x0053;

uint32_t Get16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

}  // namespace

uint32_t ContainerCardCarrier::Fail(uint32_t rc) {
    Close();
    return rc;
}

void ContainerCardCarrier::Close() {
    link_.Disconnect();
    Reset();
    hasParameters_ = false;
    userFileSize_ = certFileSize_ = file10Size_ = 0;
    currentCopy_ = 1;
    copyCounter_ = 0;
    carrierWord_ = 0;
}

uint32_t ContainerCardCarrier::Present() {
    if (link_.Connected() && link_.Present()) return NKI_OK;
    return Fail(NKI_E_CONNECTION_ABORTED);
}

uint32_t ContainerCardCarrier::Ready() {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (!(state_ & kStPinAccepted)) return NKI_E_PIN_REQUIRED;
    uint32_t rc = Present();
    return rc != NKI_OK ? rc : EnsureSigner();
}

uint32_t ContainerCardCarrier::ReadParameters(uint8_t *record) {
    return link_.ReadFile(kParamFile, 0, record, container::kParamRecordSize);
}

uint32_t ContainerCardCarrier::LoadCurve(const uint8_t *r) {
    CurveParams c;
    c.m = int32_t(Get16(r + 2));
    if (c.m < 5 || c.m > 509) return NKI_E_UNSUPPORTED_DS;
    c.k1 = int32_t(Get16(r + 4));
    c.k2 = int32_t(Get16(r + 6));
    c.k3 = int32_t(Get16(r + 8));
    c.a = int32_t(Get16(r + 10));
    WordsFromBytes(r + 12, 64, c.b);
    WordsFromBytes(r + 76, 64, c.n);
    WordsFromBytes(r + 140, 64, c.p.x);
    WordsFromBytes(r + 204, 64, c.p.y);
    std::memcpy(c.hashIv, r + 268, 32);
    std::memcpy(c.hashSbox, r + 300, 64);
    curve_ = c;
    // The half signature length is the byte length of n without its zero top bytes.
    uint32_t half = 64;
    while (half > 0 && r[76 + half - 1] == 0) --half;
    signatureSize_ = 2 * half;
    return NKI_OK;
}

uint32_t ContainerCardCarrier::OpenCard(const std::string &reader) {
    if (Open()) return NKI_E_CONTEXT_IN_USE;
    uint32_t rc = link_.Connect(reader);
    if (rc != NKI_OK) return rc;
    Bytes serial;
    rc = link_.SelectApplication();
    if (rc == NKI_OK) rc = link_.Exchange({0x80, 0xF6, 0x00, 0x00, 0x08}, &serial);
    if (rc == NKI_OK && serial.size() != 8) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc != NKI_OK) return Fail(rc);
    std::memcpy(uid_, serial.data(), 8);
    if (link_.SelectFile(kUserFile, &userFileSize_) != NKI_OK) userFileSize_ = 0;
    if (link_.SelectFile(kCertFile, &certFileSize_) != NKI_OK) certFileSize_ = 0;
    if (link_.SelectFile(kFile10, &file10Size_) == NKI_OK && file10Size_ >= 4) file10Size_ -= 4;
    uint8_t record[container::kParamRecordSize];
    rc = ReadParameters(record);
    if (rc != NKI_OK) return Fail(rc);
    hasParameters_ = Get16(record) != 0;
    if (hasParameters_) {
        rc = LoadCurve(record);
        if (rc != NKI_OK) return Fail(rc);
    }
    Bytes random;
    rc = link_.Exchange({0x40, 0x84, 0x00, 0x00, 0x00}, &random);
    if (rc == NKI_OK && random.size() < 8) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc != NKI_OK) return Fail(rc);
    std::memcpy(genSeed_, random.data(), 8);
    state_ = kStContextValid | kStSessionOpen;
    return NKI_OK;
}

uint32_t ContainerCardCarrier::CheckPin(const uint8_t *pin8) {
    if (marker_ != kMarker) return NKI_E_INVALID_CONTEXT;
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (pin8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint8_t value[8];
    container::CardValue(pin8, value);
    container::ContainerKey(pin8, containerKey_);
    if (!hasParameters_) return NKI_E_NOT_INITIALIZED;
    Bytes verify = {0x00, 0x20, 0x00, 0x05, 0x08};
    verify.insert(verify.end(), value, value + 8);
    SecureWipe(value, sizeof value);
    uint32_t rc = link_.Exchange(verify);
    SecureWipe(verify.data(), verify.size());
    if (rc != NKI_OK) return rc;

    uint8_t record[container::kParamRecordSize];
    rc = ReadParameters(record);
    if (rc != NKI_OK) return rc;
    if (Get16(record) == 0) return NKI_E_NOT_INITIALIZED;
    uint8_t file[container::kHeaderSize + 2 * container::kCopySize];
    rc = link_.ReadFile(kContainerFile, 0, file, sizeof file);
    if (rc != NKI_OK) return rc;
    const uint32_t header = Get16(file) | Get16(file + 2) << 16;
    const bool changing = (header & container::kPinChangeFlag) != 0;
    const uint8_t *copies[3] = {nullptr, file + container::kCopyOffset[1], file + container::kCopyOffset[2]};
    int slot = container::CopyCounter(copies[1]) > container::CopyCounter(copies[2]) ? 1 : 2;
    container::CopyContent k;
    rc = container::OpenCopy(copies[slot], record, containerKey_, k);
    if (rc != NKI_OK) {
        if (!changing) return NKI_E_BAD_PASSWORD;
        // A PIN change was cut after the container was rewritten under the new
        // key: the older copy still holds the container under this PIN's key.
        const int other = 3 - slot;
        if (container::OpenCopy(copies[other], record, containerKey_, k) != NKI_OK) {
            SecureWipe(file, sizeof file);
            return NKI_E_DEVICE_CORRUPTED;
        }
        const uint8_t zero[container::kCopySize] = {};
        rc = WriteCopy(slot, zero);
        if (rc != NKI_OK) {
            SecureWipe(file, sizeof file);
            SecureWipeObject(k);
            return Fail(rc);
        }
        slot = other;
    }
    SecureWipe(file, sizeof file);
    if (changing) {
        rc = WriteHeader(0);
        if (rc != NKI_OK) {
            SecureWipeObject(k);
            return Fail(rc);
        }
    }
    rc = LoadCurve(record);
    copyCounter_ = k.counter;
    carrierWord_ = k.carrierWord;
    currentCopy_ = slot;
    keys_.Wipe();
    WordsFromBytes(k.ownerD, 64, keys_.owner.d);
    WordsFromBytes(k.futureD, 64, keys_.future.d);
    std::memcpy(genKey_, k.genKey, 32);
    const uint32_t stored = k.state;
    SecureWipeObject(k);
    signerReady_ = false;
    if (rc == NKI_OK && EnsureSigner() != NKI_OK) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc == NKI_OK && !IntIsZero(keys_.owner.d) && !PublicFromPrivate(ecc_, keys_.owner)) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc == NKI_OK && !IntIsZero(keys_.future.d) && !PublicFromPrivate(ecc_, keys_.future)) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc != NKI_OK) {
        keys_.Wipe();
        return NKI_E_DEVICE_CORRUPTED;
    }
    Bytes certs;
    if (certFileSize_ > 0 && ReadCertificateFile(certs) == NKI_OK) certs_ = certs;
    state_ = stored | kStContextValid | kStSessionOpen | kStPinAccepted | (state_ & kStSignatureReady);
    return NKI_OK;
}

uint32_t ContainerCardCarrier::WriteHeader(uint32_t word) {
    const uint8_t header[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
    return link_.WriteFile(kContainerFile, 0, header, 4);
}

uint32_t ContainerCardCarrier::WriteCopy(int slot, const uint8_t *copy) {
    if (slot != 1 && slot != 2) return NKI_E_OUT_OF_RANGE;
    const uint32_t at = uint32_t(container::kCopyOffset[slot]);
    // Body first, counter and its CRC last: a copy cut half-way keeps its old
    // counter, or a counter whose CRC does not match, and never wins as newest.
    uint32_t rc = link_.WriteFile(kContainerFile, at + 6, copy + 6, container::kCopySize - 6);
    return rc != NKI_OK ? rc : link_.WriteFile(kContainerFile, at, copy, 6);
}

uint32_t ContainerCardCarrier::Commit() {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (!(state_ & kStPinAccepted)) return NKI_OK;
    uint32_t rc = Present();
    if (rc != NKI_OK) return rc;
    container::CopyContent k;
    k.counter = copyCounter_ + 1;
    k.carrierWord = carrierWord_;
    BytesFromWords(keys_.owner.d, k.ownerD, 64);
    BytesFromWords(keys_.future.d, k.futureD, 64);
    std::memcpy(k.genKey, genKey_, 32);
    k.state = state_ & kStStoredBits;
    uint8_t record[container::kParamRecordSize], header[4];
    rc = ReadParameters(record);
    if (rc == NKI_OK) rc = link_.ReadFile(kContainerFile, 0, header, 4);
    if (rc != NKI_OK) {
        SecureWipeObject(k);
        return Fail(rc);
    }
    uint8_t copy[container::kCopySize];
    container::SealCopy(k, record, containerKey_, copy);
    SecureWipeObject(k);
    const int target = 3 - currentCopy_;
    rc = WriteCopy(target, copy);
    if (rc != NKI_OK) return rc;
    currentCopy_ = target;
    ++copyCounter_;
    if (state_ & kStCertsChanged) {
        if (certs_.size() > certFileSize_) return NKI_E_NO_SPACE;
        rc = certs_.empty() ? NKI_OK : link_.WriteFile(kCertFile, 0, certs_.data(), uint32_t(certs_.size()));
        if (rc != NKI_OK) return rc;
        state_ &= ~kStCertsChanged;
    }
    return NKI_OK;
}

uint32_t ContainerCardCarrier::ChangePin(const uint8_t *oldPin8, const uint8_t *newPin8, int mode) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (mode == 1 || mode == 2) return NKI_E_UNSUPPORTED_FUNCTION;
    if (mode != 0) return NKI_E_OUT_OF_RANGE;
    if (oldPin8 == nullptr || newPin8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = CheckPin(oldPin8);
    if (rc != NKI_OK) return rc;
    uint8_t oldKey[32], oldValue[8], newValue[8];
    std::memcpy(oldKey, containerKey_, 32);
    container::CardValue(oldPin8, oldValue);
    container::CardValue(newPin8, newValue);
    container::ContainerKey(newPin8, containerKey_);
    auto wipe = [&] {
        SecureWipe(oldKey, sizeof oldKey);
        SecureWipe(oldValue, sizeof oldValue);
        SecureWipe(newValue, sizeof newValue);
    };
    rc = Commit();
    if (rc != NKI_OK) {
        // The newest copy is still under the old key; so must the session be.
        if (Open()) std::memcpy(containerKey_, oldKey, 32);
        wipe();
        return rc;
    }
    rc = WriteHeader(container::kPinChangeFlag);
    if (rc != NKI_OK) {
        wipe();
        return Fail(rc);
    }
    Bytes change = {0x80, 0x24, 0x00, 0x05, 0x10};
    change.insert(change.end(), oldValue, oldValue + 8);
    change.insert(change.end(), newValue, newValue + 8);
    rc = link_.Exchange(change);
    SecureWipe(change.data(), change.size());
    if (rc != NKI_OK) {
        // The flag stays up: the next check with the old PIN falls back to the
        // older copy.
        std::memcpy(containerKey_, oldKey, 32);
        wipe();
        return rc;
    }
    wipe();
    rc = WriteHeader(0);
    return rc != NKI_OK ? Fail(rc) : NKI_OK;
}

uint32_t ContainerCardCarrier::ForgetPin() {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    uint32_t rc = link_.Exchange({0x80, 0xE0, 0x02, 0x00});
    if (rc == NKI_OK) state_ &= ~kStPinAccepted;
    return rc;
}

uint32_t ContainerCardCarrier::Format(const std::string &reader, const uint8_t *pin8) {
    if (pin8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    ContainerCardCarrier s;
    uint8_t value[8];
    container::CardValue(pin8, value);
    container::ContainerKey(pin8, s.containerKey_);
    uint32_t rc = s.link_.Connect(reader);
    if (rc != NKI_OK) return rc;
    Bytes verify = {0x00, 0x20, 0x00, 0x05, 0x08};
    verify.insert(verify.end(), value, value + 8);
    SecureWipe(value, sizeof value);
    rc = s.link_.SelectApplication();
    if (rc == NKI_OK) rc = s.link_.Exchange(verify);
    SecureWipe(verify.data(), verify.size());
    const uint8_t zero[container::kCopySize] = {};
    if (rc == NKI_OK) rc = s.WriteCopy(1, zero);
    if (rc == NKI_OK) rc = s.WriteCopy(2, zero);
    if (rc == NKI_OK) rc = s.link_.SelectFile(kCertFile, &s.certFileSize_);
    if (rc == NKI_OK && s.certFileSize_ >= 4) rc = s.link_.UpdateBinary(0, zero, 4);
    uint8_t record[container::kParamRecordSize];
    if (rc == NKI_OK) rc = s.ReadParameters(record);
    if (rc == NKI_OK && Get16(record) == 0) rc = NKI_E_NOT_INITIALIZED;
    if (rc == NKI_OK) rc = s.LoadCurve(record);
    if (rc == NKI_OK) {
        // A container without keys, with a fresh generator seed and key; the
        // commit writes it as copy 2 with counter 1.
        s.currentCopy_ = 1;
        s.copyCounter_ = 0;
        s.state_ = kStContextValid | kStSessionOpen | kStPinAccepted;
        HostRng rng;
        if (!rng.Start(nullptr, nullptr)) rc = NKI_E_CRYPTO_INTERNAL;
        if (rc == NKI_OK) {
            rng.Fill(s.uid_, 8);
            rng.Fill(s.genSeed_, 8);
            rng.Fill(s.genKey_, 32);
            rc = s.Commit();
        }
    }
    s.Close();
    return rc;
}

uint32_t ContainerCardCarrier::CardRandom(uint8_t *out, uint32_t n) {
    while (n > 0) {
        Bytes random;
        uint32_t rc = link_.Exchange({0x40, 0x84, 0x00, 0x00, 0x00}, &random);
        if (rc == NKI_OK && random.size() < 8) rc = NKI_E_DEVICE_CORRUPTED;
        if (rc != NKI_OK) return rc;
        const uint32_t take = n < 8 ? n : 8;
        std::memcpy(out, random.data(), take);
        out += take;
        n -= take;
    }
    return NKI_OK;
}

uint32_t ContainerCardCarrier::AfterSignature() {
    Bytes count;
    return link_.Exchange({0x40, 0x5A, 0x00, 0x00, 0x00}, &count);
}

uint32_t ContainerCardCarrier::ReadUserFile(uint32_t offset, uint8_t *out, uint32_t length) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (out == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (userFileSize_ == 0 || offset > userFileSize_ || length > userFileSize_ - offset) return NKI_E_NO_SPACE;
    uint32_t rc = Present();
    return rc != NKI_OK ? rc : link_.ReadFile(kUserFile, offset, out, length);
}

uint32_t ContainerCardCarrier::WriteUserFile(uint32_t offset, const uint8_t *data, uint32_t length) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (userFileSize_ == 0 || offset > userFileSize_ || length > userFileSize_ - offset) return NKI_E_NO_SPACE;
    uint32_t rc = Present();
    return rc != NKI_OK ? rc : link_.WriteFile(kUserFile, offset, data, length);
}

uint32_t ContainerCardCarrier::ReadCertificateFile(Bytes &out) {
    out.assign(certFileSize_, 0);
    if (certFileSize_ == 0) return NKI_E_NO_SPACE;
    return link_.ReadFile(kCertFile, 0, out.data(), certFileSize_);
}

uint32_t ContainerCardCarrier::AuditRecord(int index, uint8_t *record4) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (index != 0) return NKI_E_OUT_OF_RANGE;
    uint32_t rc = Present();
    if (rc == NKI_OK) rc = link_.SelectFile(kAuditFile);
    Bytes rec;
    if (rc == NKI_OK) rc = link_.Exchange({0x00, 0xB2, 0x01, 0x04, 0x00}, &rec);
    if (rc == NKI_OK && rec.size() < 4) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc == NKI_OK) std::memcpy(record4, rec.data(), 4);
    return rc;
}

uint32_t ContainerCardCarrier::InfoText(std::string &text) {
    Bytes data;
    uint32_t rc = link_.Exchange({0x00, 0xB0, 0x84, 0x08, 0x00}, &data);
    if (rc != NKI_OK) return rc;
    text.assign(data.begin(), std::find(data.begin(), data.end(), uint8_t{0}));
    return NKI_OK;
}

uint32_t ContainerCardCarrier::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                         uint32_t outCapacity, uint32_t *outLength) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    uint32_t produced = 0, rc = NKI_OK;
    switch (code) {
    case 0x22203C: {
        if (out == nullptr || outCapacity < 8) return NKI_E_BUFFER_TOO_SMALL;
        const uint8_t info[8] = {0x01, 0x01, 0, 0, 0x01, 0, 0, 0};  // 257, then 1
        std::memcpy(out, info, 8);
        produced = 8;
        break;
    }
    case 0x222040: break;
    case 0x222044:
    case 0x222048:
        if (in == nullptr || inLength < container::kCopySize) return NKI_E_INVALID_DATA_LENGTH;
        rc = WriteCopy(code == 0x222044 ? 1 : 2, in);
        break;
    case 0x22204C: {
        if (in == nullptr || inLength < 4 || inLength > 255) return NKI_E_INVALID_DATA_LENGTH;
        Bytes answer;
        link_.Exchange(Bytes(in, in + inLength), &answer);
        if (link_.LastSw() == 0x1111) return NKI_E_CONNECTION_ABORTED;
        answer.push_back(uint8_t(link_.LastSw() >> 8));
        answer.push_back(uint8_t(link_.LastSw()));
        if (out == nullptr || outCapacity < answer.size()) return NKI_E_BUFFER_TOO_SMALL;
        std::memcpy(out, answer.data(), answer.size());
        produced = uint32_t(answer.size());
        break;
    }
    default: return NKI_E_UNSUPPORTED_FUNCTION;
    }
    if (outLength) *outLength = produced;
    return rc;
}

}  // namespace kcar
