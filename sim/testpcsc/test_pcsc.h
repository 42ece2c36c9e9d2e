// The in-process test PC/SC layer: implements the SCard client functions over
// readers and cards that a test scripts. Unit tests link it in place of
// libpcsclite; production never does.
//
// A test describes the PC/SC service (running or not), its readers in listing
// order, each reader's state bits and card, and the card's behaviour as an APDU
// handler. Every APDU sent to a card is recorded, so a test can assert the exact
// bytes a command layer sent. Faults: no service, a transmit failure or a short
// response at the n-th exchange, the card removed at the n-th exchange.
#pragma once

#include <PCSC/winscard.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testpcsc {

using Bytes = std::vector<uint8_t>;
// Answers a command APDU with a response APDU (data, then SW1 SW2).
using ApduHandler = std::function<Bytes(const Bytes &command)>;
// Answers an SCardControl call: the code and input, the output to return, and the
// PC/SC result (SCARD_S_SUCCESS to return the output).
using ControlHandler = std::function<LONG(DWORD code, const Bytes &in, Bytes &out)>;

struct Card {
    Bytes atr;
    ApduHandler handler;
    ControlHandler control;                  // empty: SCARD_E_UNSUPPORTED_FEATURE
    DWORD protocols = SCARD_PROTOCOL_T1;     // protocols the ATR offers
};

// Faults of one reader. Exchanges count from 1 over the card's lifetime in the reader.
struct Faults {
    int failAtExchange = 0;                  // this SCardTransmit fails with failCode
    LONG failCode = SCARD_E_COMM_DATA_LOST;
    int shortAtExchange = 0;                 // this SCardTransmit answers only shortLength bytes
    std::size_t shortLength = 1;
    int removeAtExchange = 0;                // the card is pulled just before this exchange
};

// Back to the initial state: service running, no readers, no faults, nothing recorded.
void Reset();
void SetServiceRunning(bool running);
void AddReader(const std::string &name);
// Sets the service's unknown bit (0x0004) in the reader's event state.
void SetReaderUnknown(const std::string &name, bool unknown);
void InsertCard(const std::string &name, Card card);
void RemoveCard(const std::string &name);
void SetFaults(const std::string &name, const Faults &faults);
// The APDUs sent to the reader's cards, in order.
std::vector<Bytes> Sent(const std::string &name);
void ClearSent(const std::string &name);
// Contexts and card handles the code under test has not released yet.
int OpenContexts();
int OpenCards();

// A card that answers every APDU with the given status word and records nothing else.
Card FixedCard(Bytes atr, Bytes response);

}  // namespace testpcsc
