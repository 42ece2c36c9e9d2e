#include "carriers/secure_channel.h"

#include <cstring>

#include "carriers/card_family.h"
#include "crypto/secure_wipe.h"
#include "kcarlib/gost.h"

namespace kcar {

SecureChannel::SecureChannel() noexcept = default;

SecureChannel::~SecureChannel() { Stop(); }

void SecureChannel::Start(const uint8_t *card4, const uint8_t *host4) noexcept {
    std::memcpy(counter_, card4, 4);
    std::memcpy(counter_ + 4, host4, 4);
    std::memcpy(macKey_, family::kChannelConstant, 32);
    std::memcpy(cipherKey_, family::kChannelConstant, 32);
    macKey_[0] = 0;
    cipherKey_[0] = 1;
    on_ = true;
}

void SecureChannel::Stop() noexcept {
    SecureWipe(counter_, sizeof counter_);
    SecureWipe(macKey_, sizeof macKey_);
    SecureWipe(cipherKey_, sizeof cipherKey_);
    on_ = false;
}

void SecureChannel::SetCounter(const uint8_t *counter8) noexcept { std::memcpy(counter_, counter8, 8); }

void SecureChannel::Advance() noexcept {
    uint16_t w = static_cast<uint16_t>(counter_[0] << 8 | counter_[1]);
    w = static_cast<uint16_t>(w + 2);
    counter_[0] = static_cast<uint8_t>(w >> 8);
    counter_[1] = static_cast<uint8_t>(w);
}

void SecureChannel::AnswerSync(uint8_t *sync8) const noexcept {
    std::memcpy(sync8, counter_, 8);
    uint16_t w = static_cast<uint16_t>(sync8[0] << 8 | sync8[1]);
    w = static_cast<uint16_t>(w - 1);
    sync8[0] = static_cast<uint8_t>(w >> 8);
    sync8[1] = static_cast<uint8_t>(w);
}

SecureChannel::Bytes SecureChannel::Wrap(const Bytes &command, bool encipher) const {
    if (command.size() < 5) return command;
    Bytes out;
    const bool hasData = command.size() > 5;
    const std::size_t lc = hasData ? command[4] : 0;
    if (hasData) {
        out.assign(command.begin(), command.begin() + 5 + static_cast<long>(lc));
        out[4] = static_cast<uint8_t>(lc + 4);
    } else {
        out = {command[0], command[1], command[2], command[3], 0x05, command[4]};
    }
    out[0] |= 0x04;
    TGostCipher c;
    MagmaInit(&c, Uz34311, macKey_);
    MagmaMAC(&c, counter_, 8);
    MagmaMAC(&c, out.data(), static_cast<uint32_t>(out.size()));
    uint8_t mac[4];
    MagmaGetMAC4(&c, mac);
    MagmaDone(&c);
    out.insert(out.end(), mac, mac + 4);
    if (!hasData) {
        out.push_back(0x00);
    } else if (encipher && lc > 0) {
        MagmaInit(&c, Uz34311, cipherKey_);
        MagmaSetSync(&c, counter_);
        MagmaM3Encrypt(&c, out.data() + 5, static_cast<uint32_t>(lc));
        MagmaDone(&c);
    }
    return out;
}

void SecureChannel::DecipherAnswer(uint8_t *data, std::size_t length) const noexcept {
    uint8_t sync[8];
    AnswerSync(sync);
    TGostCipher c;
    MagmaInit(&c, Uz34311, cipherKey_);
    MagmaSetSync(&c, sync);
    MagmaM3Decrypt(&c, data, static_cast<uint32_t>(length));
    MagmaDone(&c);
}

bool SecureChannel::CheckAnswerMac(const uint8_t *data, std::size_t length) const noexcept {
    if (length < 4) return false;
    uint8_t sync[8];
    AnswerSync(sync);
    TGostCipher c;
    MagmaInit(&c, Uz34311, macKey_);
    MagmaMAC(&c, sync, 8);
    MagmaMAC(&c, data, static_cast<uint32_t>(length - 4));
    int ok = MagmaCheckMAC4(&c, data + length - 4);
    MagmaDone(&c);
    return ok != 0;
}

}  // namespace kcar
