// The simulated container card and protected data card: the card side of the two
// card carriers, answering over T=1 as the real cards do, with their state kept
// by the caller (a file for the daemon, memory for in-process tests).
//
// Answer to reset (16 bytes): 3B B7 94 00 81 31 FE 65, the kind byte 10, six
// historical bytes, TCK. The container card puts bytes 2..7 of its serial number
// there; the protected data card the letters "CNTRV3".
//
// File system: the application DF 42 (SELECT 00 A4 08 00 02 DF 42 by path, or by
// identifier 00 A4 00 00 02 hi lo) with transparent files; SELECT with Le answers
//     62 0F 80 02 size(2) 86 02 read-AC write-AC 82 01 type 83 02 FID
// Access conditions: 00 always, 05 after VERIFY, 80 through the secure channel
// (reads must come wrapped, writes need the channel up), FF never.
//   container card: 0004 status and version text (offset 8), 0005 parameter
//   record (366 bytes), 0008 key container (4 + 2 x 308 bytes, write after
//   VERIFY), 000A, 0201 user file and 0202 certificate file (write after VERIFY),
//   and the record file 0053 whose record 1 is the signature count (4 bytes,
//   most significant first).
//   protected data card: 0004, 0201 user file (access 80 80 by default), 0203.
// READ BINARY (00 B0; P1 bit 7: short identifier, offset P2) answers Le bytes
// (Le 00: up to 252); UPDATE BINARY 00 D6.
//
// Reference data 5 (container card: the 8-byte card value derived from the PIN;
// protected card: the 8 PIN bytes) and 6 (protected card: PUK), each with a retry
// counter that is decreased and saved before the comparison: a wrong value
// answers 63 Cn, a blocked one 69 83. VERIFY 00 20 00 05; CHANGE REFERENCE
// 80 24 00 05 (PIN, checked against itself), 80 24 00 06 (PUK), 80 24 01 06 (new
// PIN after checking the PUK; unblocks the PIN). 80 E0 02 00 forgets VERIFY.
// 80 F6 00 00 08: the serial number.
//
// Container card: 40 84 00 00 00 gives 8 random bytes; 40 5A 00 00 00 (after
// VERIFY) counts one host signature and answers the new count (4 bytes).
//
// Protected data card: 80 F2 00 20 00 answers 90 00 when the card offers its
// secure channel; 80 80 00 00 04 + 4 host bytes + 00 starts it and answers 4
// random card bytes. The channel counter is those 4 bytes and the host's 4; its
// first two bytes, big-endian, grow by 2 after every later exchange. A command
// with class bit 04 carries a MAC (MAC key, over the counter before the exchange
// and the command as sent: for a command without data CLA INS P1 P2 05 Le MAC 00,
// else with Lc counting the MAC); VERIFY and CHANGE REFERENCE data come enciphered
// in gamma-with-feedback mode under the cipher key with the counter as
// synchronisation message. A wrong MAC answers 69 88. The answer to a wrapped
// READ BINARY is enciphered the same way under the counter after the exchange,
// less 1. The two keys are the family's channel constant with its first byte set
// to 0 (MAC) and 1 (cipher).
//
// Fault options: a chosen status word for every command that starts with given
// bytes; leaving the reader after n commands is the daemon's (or the test PC/SC
// layer's) part.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "card_state.h"
#include "vpcd_link.h"

namespace vcards {

class Card : public vpcd::VirtualCard {
public:
    using Saver = std::function<bool(const CardState &)>;

    explicit Card(CardState state, Saver saver = {});

    vpcd::Bytes Atr() override;
    vpcd::Bytes Transmit(const vpcd::Bytes &command) override;
    void PowerOn() override { EndCardSession(); }
    void PowerOff() override { EndCardSession(); }
    void Reset() override { EndCardSession(); }

    void InjectStatus(const Bytes &prefix, uint16_t sw) { injections_.emplace_back(prefix, sw); }
    void ClearInjections() { injections_.clear(); }

    const CardState &state() const { return state_; }
    CardState &MutableState() { return state_; }
    bool PinVerified() const { return verified_; }
    bool ChannelOn() const { return channelOn_; }
    const uint8_t *ChannelCounter() const { return counter_; }

    struct Apdu;

private:
    void EndCardSession();
    bool Commit(const CardState &next);
    Bytes Dispatch(const Apdu &a);
    Bytes Select(const Apdu &a);
    Bytes ReadBinary(const Apdu &a);
    Bytes UpdateBinary(const Apdu &a);
    Bytes ReadRecord(const Apdu &a);
    Bytes Verify(const Apdu &a);
    Bytes ChangeReference(const Apdu &a);
    Bytes CheckRef(uint8_t ref, const uint8_t *value, CardState &next);
    bool Unwrap(const Bytes &command, Bytes &plain);
    void Mac(const uint8_t *data, std::size_t n, uint8_t *mac4) const;
    void Cipher(bool encipher, const uint8_t *sync8, uint8_t *data, std::size_t n) const;

    CardState state_;
    Saver saver_;
    bool verified_ = false;
    bool appSelected_ = false;
    int currentEf_ = -1;
    bool channelOn_ = false;
    uint8_t counter_[8] = {};
    std::vector<std::pair<Bytes, uint16_t>> injections_;
};

}  // namespace vcards
