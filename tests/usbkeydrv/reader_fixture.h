// One reader device on the simulated platform: a simulated token as the card,
// the simulated USB token around it, and the driver core's record.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "reader.h"
#include "sim_platform.h"
#include "sim_support.h"
#include "transport.h"
#include "vtoken.h"

namespace drvtest {

using usbkey::NtStatus;
using usbsim::Bytes;
using usbsim::SimRequest;
using simtest::H;

struct SimReader {
    explicit SimReader(usbsim::TokenOptions options = {}, usbkey::UnitTable *sharedUnits = nullptr)
        : card(simtest::FreshState()), usb(card, options), platform(usb) {
        usbkey::InitReaderDevice(&device, &platform, sharedUnits ? sharedUnits : &units);
        platform.Bind(&device);
    }
    ~SimReader() { usbkey::StopReader(&device); }

    // Add-device and start, as the frame does them.
    void Start() {
        ASSERT_EQ(usbkey::SetupSmartcard(&device), usbkey::kStatusSuccess);
        ASSERT_EQ(usbkey::StartDevice(&device), usbkey::kStatusSuccess);
        usb.ClearLog();
    }

    // A device I/O control through the frame's dispatch; pending requests stay
    // owned by the caller.
    std::unique_ptr<SimRequest> Control(uint32_t code, const Bytes &input, uint32_t output) {
        auto r = std::make_unique<SimRequest>(code, input, output);
        usbkey::DispatchDeviceControl(&device, code, r->Handle());
        return r;
    }
    static Bytes Le32(uint32_t v) {
        return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                static_cast<uint8_t>(v >> 24)};
    }
    // Cold reset and protocol choice as the smart-card subsystem does on connect.
    void Connect(uint32_t mask = usbkey::kProtocolDefault) {
        auto power = Control(usbkey::kIoctlSmartcardPower, Le32(usbkey::kColdReset), 64);
        ASSERT_EQ(power->status, usbkey::kStatusSuccess);
        auto proto = Control(usbkey::kIoctlSmartcardSetProtocol, Le32(mask), 4);
        ASSERT_EQ(proto->status, usbkey::kStatusSuccess);
    }
    // SCardTransmit: header (protocol, 8) and the APDU in, header and response out.
    std::unique_ptr<SimRequest> TransmitRequest(const Bytes &apdu, uint32_t protocol, uint32_t output = 300) {
        Bytes in = Le32(protocol);
        Bytes pci = Le32(8);
        in.insert(in.end(), pci.begin(), pci.end());
        in.insert(in.end(), apdu.begin(), apdu.end());
        return Control(usbkey::kIoctlSmartcardTransmit, in, output);
    }
    uint32_t State() const { return device.Smartcard.ReaderCapabilities_.CurrentState; }
    // Calls a reader function directly, as the library would, on separate buffers.
    NtStatus CallReader(usbkey::ReaderFunction f, uint32_t major, uint32_t minor, Bytes request, Bytes &reply,
                        uint64_t &information) {
        auto &ext = device.Smartcard;
        ext.MajorIoControlCode = major;
        ext.MinorIoControlCode = minor;
        ext.IoRequest.RequestBuffer = request.empty() ? nullptr : request.data();
        ext.IoRequest.RequestBufferLength = static_cast<uint32_t>(request.size());
        ext.IoRequest.ReplyBuffer = reply.empty() ? nullptr : reply.data();
        ext.IoRequest.ReplyBufferLength = static_cast<uint32_t>(reply.size());
        information = 0xDEAD;
        ext.IoRequest.Information = &information;
        NtStatus s = f(&ext);
        ext.IoRequest.Information = nullptr;
        return s;
    }

    vtoken::Token card;
    usbsim::SimUsbToken usb;
    usbsim::SimPlatform platform;
    usbkey::UnitTable units{};
    usbkey::ReaderDevice device;
};

}  // namespace drvtest
