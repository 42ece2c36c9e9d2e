#include "carriers/protected_card_carrier.h"

#include <algorithm>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "kcarlib/nki_result.h"

namespace kcar {

namespace {

constexpr uint16_t kUserFile = 0x0201, kFile203 = 0x0203;
uint32_t (*g_clock)() = nullptr;

}  // namespace

void ProtectedCardCarrier::SetClock(uint32_t (*clock)()) noexcept { g_clock = clock; }

uint32_t ProtectedCardCarrier::Fail(uint32_t rc) {
    Close();
    return rc;
}

void ProtectedCardCarrier::Close() {
    link_.Disconnect();
    channel_.Stop();
    std::memset(serial_, 0xFF, sizeof serial_);
    flags_ = 0;
    state_ = 0x80000000;
    userFileSize_ = file203Size_ = 0;
    permission_ = false;
}

uint32_t ProtectedCardCarrier::Present() {
    if (link_.Connected() && link_.Present()) return NKI_OK;
    return Fail(NKI_E_CONNECTION_ABORTED);
}

uint32_t ProtectedCardCarrier::OpenCard(const std::string &reader) {
    if (marker_ != kMarker) return NKI_E_INVALID_CONTEXT;
    if (Open()) return NKI_E_CONTEXT_IN_USE;
    uint32_t rc = link_.Connect(reader);
    if (rc != NKI_OK) return rc;
    CardLink::Bytes serial;
    rc = link_.SelectApplication();
    if (rc == NKI_OK) rc = link_.Exchange({0x80, 0xF6, 0x00, 0x00, 0x08}, &serial);
    if (rc == NKI_OK && serial.size() != 8) rc = NKI_E_DEVICE_CORRUPTED;
    if (rc != NKI_OK) return Fail(rc);
    std::memcpy(serial_, serial.data(), 8);
    if (link_.Exchange({0x80, 0xF2, 0x00, 0x20, 0x00}) == NKI_OK) {
        flags_ |= kChannelOn;
        const uint32_t now = g_clock != nullptr ? g_clock() : uint32_t(std::time(nullptr));
        const uint8_t host[4] = {uint8_t(now), uint8_t(now >> 8), uint8_t(now >> 16), uint8_t(now >> 24)};
        CardLink::Bytes cardHalf;
        rc = link_.Exchange({0x80, 0x80, 0x00, 0x00, 0x04, host[0], host[1], host[2], host[3], 0x00}, &cardHalf);
        if (rc == NKI_OK && cardHalf.size() != 4) rc = NKI_E_DEVICE_CORRUPTED;
        if (rc != NKI_OK) return Fail(rc);
        channel_.Start(cardHalf.data(), host);
        link_.AttachChannel(&channel_);
    }
    uint16_t access = 0;
    if (link_.SelectFile(kUserFile, &userFileSize_, &access) != NKI_OK) userFileSize_ = 0;
    else if (access == 0x8080) flags_ |= kUserFileNeedsChannel;
    if (link_.SelectFile(kFile203, &file203Size_) != NKI_OK) file203Size_ = 0;
    flags_ |= kStarted;
    state_ = flags_ | 0xC0000000;
    return NKI_OK;
}

uint32_t ProtectedCardCarrier::SendReference(const CardLink::Bytes &command) {
    ExchangeOptions o;
    o.wrap = o.encipher = (flags_ & kChannelOn) != 0;
    return link_.Exchange(command, nullptr, o);
}

uint32_t ProtectedCardCarrier::CheckPin(const uint8_t *pin8) {
    if (marker_ != kMarker) return NKI_E_INVALID_CONTEXT;
    if (!(flags_ & kStarted)) return NKI_E_NOT_INITIALIZED;
    if (pin8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    if ((flags_ & kUserFileNeedsChannel) && !permission_) return NKI_OK;
    permission_ = false;
    CardLink::Bytes verify = {0x00, 0x20, 0x00, 0x05, 0x08};
    verify.insert(verify.end(), pin8, pin8 + 8);
    uint32_t rc = SendReference(verify);
    SecureWipe(verify.data(), verify.size());
    if (rc == NKI_OK) state_ |= 0x20000000;
    return rc;
}

uint32_t ProtectedCardCarrier::ChangePin(const uint8_t *old8, const uint8_t *new8, int mode) {
    if (marker_ != kMarker) return NKI_E_INVALID_CONTEXT;
    if (!(flags_ & kStarted)) return NKI_E_NOT_INITIALIZED;
    if (old8 == nullptr || new8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    static const uint8_t kP1P2[3][2] = {{0x00, 0x05}, {0x00, 0x06}, {0x01, 0x06}};
    if (mode < 0 || mode > 2) return NKI_E_OUT_OF_RANGE;
    if ((flags_ & kUserFileNeedsChannel) && !permission_) return NKI_OK;
    permission_ = false;
    CardLink::Bytes change = {0x80, 0x24, kP1P2[mode][0], kP1P2[mode][1], 0x10};
    change.insert(change.end(), old8, old8 + 8);
    change.insert(change.end(), new8, new8 + 8);
    uint32_t rc = SendReference(change);
    SecureWipe(change.data(), change.size());
    // In the PUK modes a wrong old value is a wrong PUK.
    if (mode != 0 && rc >= NKI_E_INVALID_PIN_BASE && rc <= NKI_E_INVALID_PIN_BASE + 15)
        rc = rc - NKI_E_INVALID_PIN_BASE + NKI_E_INVALID_PUK_BASE;
    return rc;
}

uint32_t ProtectedCardCarrier::ForgetPin() {
    uint32_t rc = link_.Exchange({0x80, 0xE0, 0x02, 0x00});
    if (rc == NKI_OK) state_ &= ~0x20000000u;
    return rc;
}

uint32_t ProtectedCardCarrier::ReadUserFile(uint32_t offset, uint8_t *out, uint32_t length) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (out == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (userFileSize_ == 0 || offset > userFileSize_ || length > userFileSize_ - offset) return NKI_E_NO_SPACE;
    uint32_t rc = Present();
    ExchangeOptions o;
    o.wrap = o.decipher = (flags_ & kChannelOn) != 0;
    return rc != NKI_OK ? rc : link_.ReadFile(kUserFile, offset, out, length, o);
}

uint32_t ProtectedCardCarrier::WriteUserFile(uint32_t offset, const uint8_t *data, uint32_t length) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (userFileSize_ == 0 || offset > userFileSize_ || length > userFileSize_ - offset) return NKI_E_NO_SPACE;
    uint32_t rc = Present();
    return rc != NKI_OK ? rc : link_.WriteFile(kUserFile, offset, data, length);
}

uint32_t ProtectedCardCarrier::InfoString(int code, std::string &out) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    switch (code) {
    case 4: out = link_.Reader(); return NKI_OK;
    case 5: {
        CardLink::Bytes data;
        uint32_t rc = link_.Exchange({0x00, 0xB0, 0x84, 0x08, 0x00}, &data);
        if (rc != NKI_OK) return rc;
        out.assign(data.begin(), std::find(data.begin(), data.end(), uint8_t{0}));
        return NKI_OK;
    }
    case 6: out.assign(1, permission_ ? '\x01' : '\x00'); return NKI_OK;
    default: return NKI_E_OUT_OF_RANGE;
    }
}

uint32_t ProtectedCardCarrier::IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                                         uint32_t outCapacity, uint32_t *outLength) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    uint32_t produced = 0;
    auto give = [&](const uint8_t *p, uint32_t n) {
        if (out == nullptr || outCapacity < n) return false;
        std::memcpy(out, p, n);
        produced = n;
        return true;
    };
    switch (code) {
    case 0x22203C: {
        const uint8_t info[8] = {0x04, 0x01, 0, 0, 0, 0, 0, 0};  // 260, then 0
        if (!give(info, 8)) return NKI_E_BUFFER_TOO_SMALL;
        break;
    }
    case 0x22204C: {
        if (in == nullptr || inLength < 4 || inLength > 255) return NKI_E_INVALID_DATA_LENGTH;
        CardLink::Bytes answer;
        link_.Exchange(CardLink::Bytes(in, in + inLength), &answer);
        if (link_.LastSw() == 0x1111) return NKI_E_CONNECTION_ABORTED;
        answer.push_back(uint8_t(link_.LastSw() >> 8));
        answer.push_back(uint8_t(link_.LastSw()));
        if (!give(answer.data(), uint32_t(answer.size()))) return NKI_E_BUFFER_TOO_SMALL;
        break;
    }
    case 0x222070: {
        const uint8_t sw[2] = {uint8_t(link_.LastSw() >> 8), uint8_t(link_.LastSw())};
        if (!give(sw, 2)) return NKI_E_BUFFER_TOO_SMALL;
        break;
    }
    case 0x222074:
        if (!give(channel_.Counter(), 8)) return NKI_E_BUFFER_TOO_SMALL;
        break;
    case 0x222078:
        if (in == nullptr || inLength < 8) return NKI_E_INVALID_DATA_LENGTH;
        channel_.SetCounter(in);
        break;
    case 0x227004: permission_ = true; break;
    default: return NKI_E_UNSUPPORTED_FUNCTION;
    }
    if (outLength) *outLength = produced;
    return NKI_OK;
}

}  // namespace kcar
