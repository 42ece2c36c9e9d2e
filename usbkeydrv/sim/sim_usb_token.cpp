#include "sim_usb_token.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace usbsim {
namespace {

constexpr uint8_t kOk = 0x90;
constexpr uint8_t kNoCard = 0x08;
constexpr uint8_t kUnknownCommand = 0x05;

Bytes Utf16Descriptor(const std::string &text) {
    Bytes d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

}  // namespace

SimUsbToken::SimUsbToken(vpcd::VirtualCard &card, TokenOptions options) : card_(card), options_(options) {}

Bytes SimUsbToken::DeviceDescriptor() const {
    return {18, 1, 0x10, 0x01, 0, 0, 0, 8, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 1, 2, 3, 1};
}

Bytes SimUsbToken::ConfigurationDescriptor() const {
    uint8_t endpoints = options_.interruptPipe ? 3 : 2;
    uint16_t total = static_cast<uint16_t>(9 + 9 + 7 * endpoints);
    uint16_t mp = options_.bulkOutPacket;
    Bytes d{9, 2, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8), 1, 1, 0, 0x80, 50,
            9, 4, 0, 0, endpoints, 0xFF, 0, 0, 0,
            7, 5, 0x01, 2, static_cast<uint8_t>(mp), static_cast<uint8_t>(mp >> 8), 0,
            7, 5, 0x82, 2, 64, 0, 0};
    if (options_.interruptPipe) d.insert(d.end(), {7, 5, 0x83, 3, 8, 0, 10});
    return d;
}

Bytes SimUsbToken::StringDescriptor(uint8_t index) const {
    switch (index) {
    case 0: return {4, 3, 0x09, 0x04};
    case 1: return Utf16Descriptor("TEQ");
    case 2: return Utf16Descriptor("ReaderA12 token");
    case 3: return Utf16Descriptor("0001");
    default: return {};
    }
}

std::vector<uint8_t> SimUsbToken::Commands() const {
    std::vector<uint8_t> c;
    for (const auto &f : frames_) c.push_back(f.command);
    return c;
}

UsbResult SimUsbToken::BulkOut(const uint8_t *data, size_t length) {
    outSizes_.push_back(length);
    Fault f = std::exchange(outFault_, Fault::None);
    if (f == Fault::Stall) return UsbResult::Stall;
    if (f == Fault::PipeError) return UsbResult::Error;
    // Split into packets; a short (or empty) packet ends the frame.
    size_t mp = options_.bulkOutPacket;
    size_t at = 0;
    do {
        size_t n = std::min(mp, length - at);
        pendingOut_.insert(pendingOut_.end(), data + at, data + at + n);
        at += n;
        if (n < mp) {
            Bytes frame;
            frame.swap(pendingOut_);
            HandleFrame(frame);
        }
    } while (at < length);
    return UsbResult::Ok;
}

UsbResult SimUsbToken::BulkIn(uint8_t *buffer, size_t capacity, size_t *got) {
    *got = 0;
    Fault f = std::exchange(inFault_, Fault::None);
    if (f == Fault::Stall) return UsbResult::Stall;
    if (f == Fault::PipeError) return UsbResult::Error;
    if (!reply_) return UsbResult::NoData;
    Bytes r = std::move(*reply_);
    reply_.reset();
    if (r.size() > capacity) return UsbResult::Error;  // babble: more than the host asked for
    if (!r.empty()) std::memcpy(buffer, r.data(), r.size());
    *got = r.size();
    return UsbResult::Ok;
}

UsbResult SimUsbToken::InterruptIn(uint8_t *buffer, size_t capacity, size_t *got) {
    *got = 0;
    if (interrupts_.empty()) return UsbResult::NoData;
    Bytes p = interrupts_.front();
    interrupts_.pop_front();
    size_t n = std::min(capacity, p.size());
    if (n) std::memcpy(buffer, p.data(), n);
    *got = n;
    return UsbResult::Ok;
}

void SimUsbToken::PullCard() {
    cardPresent_ = false;
    card_.PowerOff();
    if (options_.interruptPipe) interrupts_.push_back({0x08, 0, 0, 0, 0, 0, 0, 0});
}

void SimUsbToken::InsertCard() {
    cardPresent_ = true;
    if (options_.interruptPipe) interrupts_.push_back({0x00, 0, 0, 0, 0, 0, 0, 0});
}

Bytes SimUsbToken::CardAtr() {
    if (atr_) return *atr_;
    return card_.Atr();
}

void SimUsbToken::HandleFrame(const Bytes &frame) {
    if (frame.size() < 2) {  // not a frame: the token ignores it
        reply_.reset();
        return;
    }
    Frame f{frame[0], Bytes(frame.begin() + 2, frame.end())};
    frames_.push_back(f);
    uint8_t status = kOk;
    Bytes data = Answer(f.command, f.data, status);
    if (statusOverride_) {
        status = *statusOverride_;
        statusOverride_.reset();
        data.clear();
    }
    Bytes r{status, static_cast<uint8_t>(data.size() & 0xFF)};
    r.insert(r.end(), data.begin(), data.end());
    if (cutReply_) {
        r.resize(std::min(r.size(), *cutReply_));
        cutReply_.reset();
    }
    reply_ = r;
}

Bytes SimUsbToken::Answer(uint8_t command, const Bytes &data, uint8_t &status) {
    auto needCard = [&]() {
        if (!cardPresent_) status = kNoCard;
        return cardPresent_;
    };
    switch (command) {
    case 0x11: {
        if (readerInfo_) return *readerInfo_;
        Bytes info(16, 0);
        info[0] = static_cast<uint8_t>(options_.readerVersion);
        info[1] = static_cast<uint8_t>(options_.readerVersion >> 8);
        info[4] = static_cast<uint8_t>(options_.readerFlags);
        info[5] = static_cast<uint8_t>(options_.readerFlags >> 8);
        return info;
    }
    case 0x13:
        return {static_cast<uint8_t>((cardPresent_ ? 0x00 : 0x08) | options_.cardStatusExtra)};
    case 0x16:
        card_.PowerOff();
        return {};
    case 0x6E:
    case 0x6F:
        return {};
    case 0x71:
    case 0x7A:
        if (!needCard()) return {};
        if (command == 0x71) card_.PowerOn();
        else card_.Reset();
        return CardAtr();
    case 0x72:
    case 0x7B:
        if (!needCard()) return {};
        return card_.Transmit(data);
    case 0x74:
        if (data.size() != 1 || data[0] > 9) {
            status = kUnknownCommand;
            return {};
        }
        speed_ = data[0];
        return {};
    case 0x79:
        return reply79_;
    case 0x7C: {
        if (!needCard() || data.size() < 3) return {};
        Bytes params(data.begin(), data.begin() + 3), send(data.begin() + 3, data.end());
        if (params == Bytes{0x1F, 0x4B, 0x19} && send.empty()) return atrRest_ ? *atrRest_ : Bytes{};
        if (ptsReply_) return *ptsReply_;
        return send;  // a card that accepts the PTS echoes it
    }
    default:
        status = kUnknownCommand;
        return {};
    }
}

}  // namespace usbsim
