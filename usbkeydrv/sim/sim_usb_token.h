// The device side of the token's USB reader function, simulated: descriptors,
// the command frames on the bulk pipes and the card packets on the interrupt
// pipe. The card behind it is any simulated card (the simulated token of the
// library's tests answers its T=1 transmits), so the same card answers whether
// it is reached through pcscd or through the driver core.
//
// Endpoints: 0x01 bulk OUT, 0x82 bulk IN, 0x83 interrupt IN (optional). A frame
// ends with a packet shorter than the bulk OUT packet size (an empty one when the
// frame fills whole packets), as on the wire: a frame that ends on a packet
// boundary without an empty packet is never answered.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "vpcd_link.h"

namespace usbsim {

using Bytes = std::vector<uint8_t>;

enum class UsbResult { Ok, Stall, Error, NoData };

// A fault injected into the next transfer on a pipe (or the next reply).
enum class Fault { None, Stall, PipeError };

struct TokenOptions {
    uint16_t bulkOutPacket = 64;
    bool interruptPipe = true;
    uint16_t readerVersion = 0x0011;  // reply bytes 0-1 of CMD_READER_INFO
    uint16_t readerFlags = 0;         // reply bytes 4-5 (bit 14: no rate 0x19)
    uint8_t cardStatusExtra = 0;      // bits added to the card status byte
};

class SimUsbToken {
public:
    explicit SimUsbToken(vpcd::VirtualCard &card, TokenOptions options = {});

    Bytes DeviceDescriptor() const;
    Bytes ConfigurationDescriptor() const;
    Bytes StringDescriptor(uint8_t index) const;  // index 0: the language list

    // One transfer from the host on the bulk OUT pipe.
    UsbResult BulkOut(const uint8_t *data, size_t length);
    // One bulk IN transfer into capacity bytes; *got is the length moved.
    UsbResult BulkIn(uint8_t *buffer, size_t capacity, size_t *got);
    // One interrupt IN packet, when one is waiting.
    UsbResult InterruptIn(uint8_t *buffer, size_t capacity, size_t *got);
    bool InterruptPending() const { return !interrupts_.empty(); }

    // The card leaves or enters the reader: the status changes and, with an
    // interrupt pipe, a card packet is queued.
    void PullCard();
    void InsertCard();
    bool CardPresent() const { return cardPresent_; }

    // ---- Faults and odd tokens ----
    void FailNextBulkOut(Fault f) { outFault_ = f; }
    void FailNextBulkIn(Fault f) { inFault_ = f; }
    void CutNextReply(size_t bytes) { cutReply_ = bytes; }           // a short packet
    void ReplyStatusOnce(uint8_t status) { statusOverride_ = status; }  // an error status
    void SetAtr(const Bytes &atr) { atr_ = atr; }                       // instead of the card's
    void SetAtrContinuation(const Bytes &rest) { atrRest_ = rest; }
    void SetPtsReply(const Bytes &reply) { ptsReply_ = reply; }         // default: echo
    void SetCommand79Reply(const Bytes &reply) { reply79_ = reply; }
    void SetReaderInfo(const Bytes &info) { readerInfo_ = info; }       // instead of 16 built bytes
    void SetBulkOutPacket(uint16_t bytes) { options_.bulkOutPacket = bytes; }  // a changed device

    // ---- What the host did ----
    struct Frame {
        uint8_t command;
        Bytes data;
    };
    const std::vector<Frame> &Frames() const { return frames_; }
    std::vector<uint8_t> Commands() const;
    const std::vector<size_t> &OutTransferSizes() const { return outSizes_; }
    void ClearLog() {
        frames_.clear();
        outSizes_.clear();
    }
    uint8_t Speed() const { return speed_; }

private:
    void HandleFrame(const Bytes &frame);
    Bytes Answer(uint8_t command, const Bytes &data, uint8_t &status);
    Bytes CardAtr();

    vpcd::VirtualCard &card_;
    TokenOptions options_;
    bool cardPresent_ = true;
    Bytes pendingOut_;
    std::optional<Bytes> reply_;
    std::deque<Bytes> interrupts_;
    Fault outFault_ = Fault::None, inFault_ = Fault::None;
    std::optional<size_t> cutReply_;
    std::optional<uint8_t> statusOverride_;
    std::optional<Bytes> atr_, atrRest_, ptsReply_, readerInfo_;
    Bytes reply79_;
    std::vector<Frame> frames_;
    std::vector<size_t> outSizes_;
    uint8_t speed_ = 0;
};

}  // namespace usbsim
