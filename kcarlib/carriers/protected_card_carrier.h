// The protected data card carrier: a card of the family with a PIN, a user file
// and an information text, part of whose traffic runs through its secure channel
// (secure_channel.h). It holds no keys for the caller.
//
// When the user file's access word is 80 80 the file is guarded by the channel
// and the PIN check is a one-shot affair: it reaches the card only after control
// code 0x227004 has granted one permission, and answers 0 without a command
// otherwise.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "carriers/card_link.h"
#include "carriers/secure_channel.h"

namespace kcar {

class ProtectedCardCarrier {
public:
    static constexpr uint32_t kMarker = 0xAC044EC8;
    // Card flag word.
    static constexpr uint32_t kStarted = 0x01, kChannelOn = 0x10, kUserFileNeedsChannel = 0x20;

    ProtectedCardCarrier() = default;
    ~ProtectedCardCarrier() { Close(); }
    ProtectedCardCarrier(const ProtectedCardCarrier &) = delete;
    ProtectedCardCarrier &operator=(const ProtectedCardCarrier &) = delete;

    uint32_t OpenCard(const std::string &reader);
    void Close();
    bool Open() const { return (state_ & 0x40000000) != 0; }
    uint32_t Present();

    uint32_t CheckPin(const uint8_t *pin8);
    uint32_t ChangePin(const uint8_t *old8, const uint8_t *new8, int mode);
    uint32_t ForgetPin();

    uint32_t UserFileSize() const { return userFileSize_; }
    uint32_t ReadUserFile(uint32_t offset, uint8_t *out, uint32_t length);
    uint32_t WriteUserFile(uint32_t offset, const uint8_t *data, uint32_t length);
    // Information strings: 4 the reader name, 5 the card's text, 6 one byte, the
    // one-shot PIN permission; other codes 52.
    uint32_t InfoString(int code, std::string &out);
    uint32_t IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outCapacity,
                       uint32_t *outLength);

    uint32_t State() const { return state_; }
    uint32_t Flags() const { return flags_; }
    const uint8_t *Serial() const { return serial_; }
    const SecureChannel &Channel() const { return channel_; }
    // Test hook: the host's clock for the channel start (null: time()).
    static void SetClock(uint32_t (*clock)()) noexcept;

private:
    uint32_t Fail(uint32_t rc);
    uint32_t SendReference(const CardLink::Bytes &command);

    uint32_t marker_ = kMarker;
    CardLink link_;
    SecureChannel channel_;
    uint8_t serial_[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t flags_ = 0;
    uint32_t state_ = 0x80000000;
    uint32_t userFileSize_ = 0, file203Size_ = 0;
    bool permission_ = false;
};

}  // namespace kcar
