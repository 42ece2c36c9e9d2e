// The protected data card's secure channel, host side.
//
// The 8-byte counter is the card's 4 bytes from the channel start followed by
// the host's 4 time bytes; its first two bytes, read big-endian, grow by 2 after
// every exchange with the card, protected or not. A command is protected under
// the counter before its exchange, an answer under the counter after it, less 1.
//
// Wrapping sets bit 0x04 in the class byte and appends a 4-byte MAC (MAC key,
// fed the counter and then the protected command). A command without data,
// CLA INS P1 P2 Le, becomes CLA INS P1 P2 05 Le MAC 00. A command with data gets
// Lc + 4 and the MAC after the data, and its data field (not the MAC) may then be
// enciphered in gamma-with-feedback mode under the cipher key with the counter
// as synchronisation message. Read answers come back enciphered the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcar {

class SecureChannel {
public:
    using Bytes = std::vector<uint8_t>;

    SecureChannel() noexcept;
    ~SecureChannel();
    SecureChannel(const SecureChannel &) = delete;
    SecureChannel &operator=(const SecureChannel &) = delete;

    // Keys from the family's channel constant and the counter from its two halves.
    void Start(const uint8_t *card4, const uint8_t *host4) noexcept;
    void Stop() noexcept;
    bool On() const noexcept { return on_; }

    const uint8_t *Counter() const noexcept { return counter_; }
    void SetCounter(const uint8_t *counter8) noexcept;
    // After every exchange while the channel is on.
    void Advance() noexcept;

    // The protected form of a short command (see above), under the current counter.
    Bytes Wrap(const Bytes &command, bool encipher) const;
    // Deciphers answer data in place; call after Advance for that exchange.
    void DecipherAnswer(uint8_t *data, std::size_t length) const noexcept;
    // Checks an answer whose last 4 bytes are the MAC of the counter and the
    // (deciphered) data before it; call after Advance.
    bool CheckAnswerMac(const uint8_t *data, std::size_t length) const noexcept;

private:
    void AnswerSync(uint8_t *sync8) const noexcept;

    uint8_t counter_[8] = {};
    uint8_t macKey_[32] = {};
    uint8_t cipherKey_[32] = {};
    bool on_ = false;
};

}  // namespace kcar
