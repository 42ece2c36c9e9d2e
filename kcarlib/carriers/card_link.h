// CardLink: the PC/SC connection of one card carrier (container card or protected
// data card) and its command exchange.
//
// An exchange succeeds when SW1 is 90. A PC/SC failure, or an answer of fewer
// than two bytes, is a lost card (35). Status words map to result codes: 69 82
// -> 37, 69 83 -> 36, 98 0D -> 53, 63 Cn -> 224 + n, any other -> 32.
//
// While a secure channel is attached, every exchange advances its counter, and
// an exchange may be sent wrapped (see secure_channel.h), with its answer data
// deciphered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <PCSC/winscard.h>

#include "carriers/secure_channel.h"

namespace kcar {

struct ExchangeOptions {
    bool wrap = false;      // send through the secure channel
    bool encipher = false;  // ... with the data field enciphered
    bool decipher = false;  // ... and decipher the answer data
};

class CardLink {
public:
    using Bytes = std::vector<uint8_t>;
    static constexpr std::size_t kChunk = 96;

    CardLink() = default;
    ~CardLink() { Disconnect(); }
    CardLink(const CardLink &) = delete;
    CardLink &operator=(const CardLink &) = delete;

    // Connects to the named reader's card (exclusive, T=0 or T=1). An empty name
    // takes the first reader whose card's ATR matches the family's container
    // card pattern (bytes 0 and 1 = 3B B7, high nibble of byte 8 = 1). 0, or 3.
    uint32_t Connect(const std::string &reader);
    void Disconnect() noexcept;
    bool Connected() const { return card_ != 0; }
    const std::string &Reader() const { return reader_; }
    // Asks the reader's state: true while the card is in it.
    bool Present();

    void AttachChannel(SecureChannel *channel) { channel_ = channel; }

    using Options = ExchangeOptions;
    // Exchanges one short command. 0 when SW1 is 90; else the mapped code. The
    // answer data go to *data whatever the status word.
    uint32_t Exchange(const Bytes &command, Bytes *data = nullptr, Options options = {});
    uint16_t LastSw() const { return lastSw_; }

    // SELECT 00 A4 00 00 02 hi lo 00: size (bytes 4-5 of the answer) and access
    // word (bytes 8-9).
    uint32_t SelectFile(uint16_t fid, uint32_t *size = nullptr, uint16_t *access = nullptr);
    uint32_t SelectApplication();
    // READ / UPDATE BINARY of the current file in pieces of at most 96 bytes.
    uint32_t ReadBinary(uint32_t offset, uint8_t *out, uint32_t length, Options options = {});
    uint32_t UpdateBinary(uint32_t offset, const uint8_t *data, uint32_t length);
    uint32_t ReadFile(uint16_t fid, uint32_t offset, uint8_t *out, uint32_t length, Options options = {});
    uint32_t WriteFile(uint16_t fid, uint32_t offset, const uint8_t *data, uint32_t length);

    static uint32_t MapStatus(uint16_t sw);

private:
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    DWORD protocol_ = 0;
    std::string reader_;
    uint16_t lastSw_ = 0;
    SecureChannel *channel_ = nullptr;
};

}  // namespace kcar
