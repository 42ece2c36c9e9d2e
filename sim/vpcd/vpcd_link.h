// The card side of the vpcd virtual reader: a TCP connection to the reader slot on
// 127.0.0.1 over which every message, both ways, is a 2-byte big-endian length
// followed by the payload. A 1-byte payload from the reader is a control code
// (00 power off, 01 power on, 02 reset: no reply; 04 get ATR: the ATR is the
// reply); any other payload is a command APDU answered by the response APDU.
// Closing the connection is the card leaving the reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vpcd {

using Bytes = std::vector<uint8_t>;

// What a simulated card does on the reader's requests.
class VirtualCard {
public:
    virtual ~VirtualCard() = default;
    virtual Bytes Atr() = 0;
    virtual Bytes Transmit(const Bytes &command) = 0;
    virtual void PowerOn() {}
    virtual void PowerOff() {}
    virtual void Reset() {}
};

class Link {
public:
    Link() = default;
    ~Link();
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    // Connects to the reader slot on 127.0.0.1:port, retrying for up to timeoutMs
    // (the reader may not listen yet). False when it could not connect.
    bool Connect(uint16_t port, int timeoutMs);
    // Serves the card until the reader closes the connection, stop becomes true, or
    // maxCommands APDUs have been answered (0 = no limit). Returns the number of
    // APDUs answered.
    long Serve(VirtualCard &card, const std::atomic<bool> &stop, long maxCommands = 0);
    void Close();

private:
    bool ReadExact(uint8_t *p, std::size_t n, const std::atomic<bool> &stop);
    bool Send(const Bytes &payload);
    int fd_ = -1;
};

// Parses a hex string ("3B B7 94", "3bb794"); false on a malformed string.
bool ParseHex(const std::string &text, Bytes &out);

}  // namespace vpcd
