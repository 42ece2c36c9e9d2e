// The smart-card reader functions, reached the way the Windows smart-card
// subsystem reaches them: device I/O controls through the library stand-in.
#include <gtest/gtest.h>

#include "reader_fixture.h"

namespace drvtest {
namespace {

using namespace usbkey;

TEST(SmartcardPath, AnApduReachesTheSimulatedCardAndItsAnswerComesBackByteExact) {
    SimReader r;
    r.Start();
    EXPECT_TRUE(r.platform.interfaceEnabled);
    r.Connect();
    // The token's answer to reset offers T=1 in TD1 and TA1 0x94: T=1 is chosen
    // and the speed negotiated.
    EXPECT_EQ(r.device.Smartcard.CardCapabilities_.Protocol.Selected, kProtocolT1);
    EXPECT_EQ(r.State(), kScardSpecific);
    EXPECT_EQ(r.usb.Speed(), 2);

    // A twin card with the same state answers the same commands directly.
    vtoken::Token twin(r.card.state());
    const char *apdus[] = {"00 A4 08 00 02 00 42", "00 A4 00 00 02 00 04 00", "00 B0 00 00 00",
                           "80 F2 00 05 01", "00 B0 7F FF 04"};
    for (const char *hex : apdus) {
        auto q = r.TransmitRequest(H(hex), kProtocolT1);
        ASSERT_EQ(q->status, kStatusSuccess) << hex;
        Bytes expected = r.Le32(kProtocolT1);
        Bytes pci = r.Le32(8);
        expected.insert(expected.end(), pci.begin(), pci.end());
        Bytes answer = twin.Transmit(H(hex));
        expected.insert(expected.end(), answer.begin(), answer.end());
        EXPECT_EQ(q->Output(), expected) << hex;
        EXPECT_EQ(r.usb.Frames().back().command, kCmdTransmitT1);
        EXPECT_EQ(r.usb.Frames().back().data, H(hex));
    }
    // The attributes the subsystem reads come from the record.
    auto name = r.Control(kIoctlSmartcardGetAttribute, r.Le32(kAttrVendorName), 32);
    EXPECT_EQ(name->Output(), Bytes({'T', 'E', 'Q'}));
    auto type = r.Control(kIoctlSmartcardGetAttribute, r.Le32(kAttrVendorIfdType), 32);
    Bytes typeName = type->Output();
    EXPECT_EQ(std::string(typeName.begin(), typeName.end()), "ReaderA12");
    auto atr = r.Control(kIoctlSmartcardGetAttribute, r.Le32(kAttrAtrString), 64);
    EXPECT_EQ(atr->Output(), r.card.Atr());
}

TEST(CardPower, AnswerToResetContinuationAndCut) {
    Bytes forty(40);
    for (size_t i = 0; i < forty.size(); ++i) forty[i] = static_cast<uint8_t>(i == 0 ? 0x3B : i);
    struct Case {
        const char *name;
        Bytes atr, rest;
        Bytes expected;
        bool continuation;
    } cases[] = {
        {"TS alone is continued", H("3B"), H("02 14 50"), H("3B 02 14 50"), true},
        {"inverse TS alone is not", H("3F"), H("02 14 50"), H("3F"), false},
        {"a long answer is cut to 32 bytes", forty, {}, Bytes(forty.begin(), forty.begin() + 32), false},
    };
    for (const auto &c : cases) {
        SimReader r;
        r.Start();
        r.usb.SetAtr(c.atr);
        r.usb.SetAtrContinuation(c.rest);
        auto q = r.Control(kIoctlSmartcardPower, r.Le32(kColdReset), 64);
        // The library refuses a one-byte answer, but the driver has passed it on whole.
        if (c.expected.size() > 1) {
            EXPECT_EQ(q->Output(), c.expected) << c.name;
        }
        const auto &caps = r.device.Smartcard.CardCapabilities_;
        EXPECT_EQ(Bytes(caps.ATR.Buffer, caps.ATR.Buffer + caps.ATR.Length), c.expected) << c.name;
        EXPECT_EQ(r.device.Smartcard.SmartcardReply.BufferLength, c.expected.size()) << c.name;
        bool raw = r.usb.Commands().size() == 2 && r.usb.Frames()[1].command == kCmdCardRaw &&
                   r.usb.Frames()[1].data == H("1F 4B 19");
        EXPECT_EQ(raw, c.continuation) << c.name;
    }
}

TEST(CardPower, ResetFailuresAndPowerDown) {
    SimReader r;
    r.Start();
    r.Connect();
    r.usb.ReplyStatusOnce(0x08);
    auto q = r.Control(kIoctlSmartcardPower, r.Le32(kWarmReset), 64);
    EXPECT_EQ(q->status, kStatusMediaChanged);
    EXPECT_EQ(r.device.Smartcard.CardCapabilities_.ATR.Length, 0);
    EXPECT_EQ(r.device.Smartcard.SmartcardReply.BufferLength, 0u);
    r.usb.ReplyStatusOnce(0x41);
    EXPECT_EQ(r.Control(kIoctlSmartcardPower, r.Le32(kWarmReset), 64)->status, kStatusUnrecognizedMedia);

    r.Connect();
    ASSERT_EQ(r.State(), kScardSpecific);
    q = r.Control(kIoctlSmartcardPower, r.Le32(kPowerDown), 0);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(r.State(), kScardPresent);
    EXPECT_EQ(r.device.Smartcard.CardCapabilities_.Protocol.Selected, 0u);
    EXPECT_EQ(r.usb.Commands().back(), kCmdCardPowerOff);

    r.usb.PullCard();
    r.platform.RunPending();
    q = r.Control(kIoctlSmartcardPower, r.Le32(kPowerDown), 0);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(r.State(), kScardAbsent);
}

TEST(SetProtocol, ProtocolChoiceAndSpeedNegotiation) {
    struct Case {
        const char *name;
        const char *atr;
        uint32_t mask;
        bool noRate19;
        uint32_t selected;
        const char *pts;  // the PTS bytes sent after the 3 parameter bytes, "" none
        int speed;        // index sent with CMD_SET_SPEED, -1 none
        const char *ptsReply = nullptr;
    } cases[] = {
        {"no TA1: default speed", "3B 80 01", kProtocolDefault, false, kProtocolT1, "", -1},
        {"no TD1: T=0 by default", "3B 10 14", kProtocolDefault, false, kProtocolT0, "FF 10 13 FC", 1},
        {"TA1 0x19 without the flag", "3B 10 19", kProtocolT0, false, kProtocolT0, "FF 10 19 F6", 4},
        {"TA1 0x19 on a reader without rate 19", "3B 10 19", kProtocolT0, true, kProtocolT0, "FF 10 18 F7", 3},
        {"TA1 0x16 is not in the table", "3B 10 16", kProtocolT0, false, kProtocolT0, "", -1},
        {"TA1 0x96 is taken as 0x95", "3B 90 96 01", kProtocolT0 | kProtocolT1, false, kProtocolT1,
         "FF 11 95 7B", 9},
        {"T=1 at 0x94", "3B B7 94 00 81 31", kProtocolT1, false, kProtocolT1, "FF 11 94 7A", 2},
        {"a 3-byte PTS answer", "3B 10 13", kProtocolT0, false, kProtocolT0, "FF 10 13 FC", -1, "FF 10 13"},
        {"a PTS answer with another speed", "3B 10 13", kProtocolT0, false, kProtocolT0, "FF 10 13 FC", -1,
         "FF 10 11 FE"},
        {"only T=0 asked for", "3B 90 11 01", kProtocolT0, false, kProtocolT0, "", -1},
    };
    for (const auto &c : cases) {
        SimReader r({.readerFlags = static_cast<uint16_t>(c.noRate19 ? 0x4000 : 0)});
        r.Start();
        r.usb.SetAtr(H(c.atr));
        if (c.ptsReply) r.usb.SetPtsReply(H(c.ptsReply));
        ASSERT_EQ(r.Control(kIoctlSmartcardPower, r.Le32(kColdReset), 64)->status, kStatusSuccess) << c.name;
        r.usb.ClearLog();
        auto q = r.Control(kIoctlSmartcardSetProtocol, r.Le32(c.mask), 4);
        ASSERT_EQ(q->status, kStatusSuccess) << c.name;
        EXPECT_EQ(q->Output(), r.Le32(c.selected)) << c.name;
        EXPECT_EQ(r.State(), kScardSpecific) << c.name;
        Bytes sent;
        int speed = -1;
        for (const auto &f : r.usb.Frames()) {
            if (f.command == kCmdCardRaw) sent = f.data;
            if (f.command == kCmdSetSpeed) speed = f.data.at(0);
        }
        Bytes expectedPts;
        if (*c.pts) {
            expectedPts = H("0A 05 04");
            Bytes p = H(c.pts);
            expectedPts.insert(expectedPts.end(), p.begin(), p.end());
        }
        EXPECT_EQ(sent, expectedPts) << c.name;
        EXPECT_EQ(speed, c.speed) << c.name;
    }
}

TEST(SetProtocol, DefaultMaskGainsBothProtocolsOnTheWayToTheLibrary) {
    SimReader r;
    r.Start();
    r.usb.SetAtr(H("3B 00"));
    r.Control(kIoctlSmartcardPower, r.Le32(kColdReset), 64);
    for (uint32_t mask : {kProtocolDefault, 0u}) {
        auto q = r.Control(kIoctlSmartcardSetProtocol, r.Le32(mask), 4);
        EXPECT_EQ(q->status, kStatusSuccess);
        EXPECT_EQ(r.device.Smartcard.MinorIoControlCode, mask | 3u);
    }
    auto q = r.Control(kIoctlSmartcardSetProtocol, r.Le32(kProtocolRaw), 4);
    EXPECT_EQ(q->status, kStatusInvalidDeviceRequest);
}

TEST(Transmit, FailuresMapToTheSubsystemsStatuses) {
    SimReader r;
    r.Start();
    r.Connect();
    Bytes apdu = H("00 B0 00 00 00");
    auto request = [&](uint32_t protocol, uint32_t pci) {
        Bytes b = r.Le32(protocol), p = r.Le32(pci);
        b.insert(b.end(), p.begin(), p.end());
        b.insert(b.end(), apdu.begin(), apdu.end());
        return b;
    };
    struct Case {
        const char *name;
        uint32_t protocol, pci;
        int readerStatus;
        size_t replyBytes;
        NtStatus result;
    } cases[] = {
        {"raw protocol", kProtocolRaw, 8, -1, 300, kStatusInvalidDeviceRequest},
        {"card removed", kProtocolT1, 8, 0x08, 300, kStatusMediaChanged},
        {"card time-out", kProtocolT1, 8, 0x01, 300, kStatusIoTimeout},
        {"transport not configured", kProtocolT1, 8, 0x12, 300, kStatusUnrecognizedMedia},
        {"any other reader error", kProtocolT1, 8, 0x33, 300, kStatusUnrecognizedMedia},
        {"answer longer than the reply buffer", kProtocolT1, 8, -1, 8 + 1, kStatusBufferTooSmall},
        {"header longer than the request", kProtocolT1, 200, -1, 300, kStatusInvalidParameter},
        {"header longer than the reply buffer", kProtocolT1, 12, -1, 10, kStatusInvalidParameter},
        {"T=0 frames carry the same APDU", kProtocolT0, 8, -1, 300, kStatusSuccess},
    };
    for (const auto &c : cases) {
        if (c.readerStatus >= 0) r.usb.ReplyStatusOnce(static_cast<uint8_t>(c.readerStatus));
        Bytes reply(c.replyBytes + 4, 0xEE);
        Bytes in = request(c.protocol, c.pci);
        uint64_t information = 0;
        auto &ext = r.device.Smartcard;
        ext.IoRequest.RequestBuffer = in.data();
        ext.IoRequest.RequestBufferLength = static_cast<uint32_t>(in.size());
        ext.IoRequest.ReplyBuffer = reply.data();
        ext.IoRequest.ReplyBufferLength = static_cast<uint32_t>(c.replyBytes);
        ext.IoRequest.Information = &information;
        EXPECT_EQ(usbkey::Transmit(&ext), c.result) << c.name;
        ext.IoRequest.Information = nullptr;
        for (size_t i = c.replyBytes; i < reply.size(); ++i) ASSERT_EQ(reply[i], 0xEE) << c.name;
        if (c.result != kStatusSuccess) EXPECT_EQ(information, 0u) << c.name;
        else EXPECT_GT(information, 8u) << c.name;
    }
}

TEST(VendorIoctl, CodesAndBufferSizes) {
    struct Case {
        const char *name;
        uint32_t code;
        Bytes input;
        uint32_t output;
        NtStatus result;
        uint64_t information;
        int command;  // frame sent, -1 none
    } cases[] = {
        {"speed without a byte", kIoctlReaderSetSpeed, {}, 0, kStatusInvalidDeviceRequest, 0, -1},
        {"speed 3", kIoctlReaderSetSpeed, {3}, 0, kStatusSuccess, 0, kCmdSetSpeed},
        {"command 6F short", kIoctlReaderCommand6F, {1, 2, 3}, 0, kStatusInvalidDeviceRequest, 0, -1},
        {"command 6F", kIoctlReaderCommand6F, {1, 2, 3, 4}, 0, kStatusSuccess, 0, kCmd6F},
        {"information into 15 bytes", kIoctlReaderGetInfo, {}, 15, kStatusInvalidDeviceRequest, 0, -1},
        {"information", kIoctlReaderGetInfo, {}, 16, kStatusSuccess, 16, kCmdReaderInfo},
        {"command 79 into 31 bytes", kIoctlReaderCommand79, {}, 31, kStatusInvalidDeviceRequest, 0, -1},
        {"command 79", kIoctlReaderCommand79, {}, 32, kStatusSuccess, 20, kCmd79},
        {"function 3500", ScardCtlCode(3500), {}, 32, kStatusNotImplemented, 0, -1},
    };
    for (const auto &c : cases) {
        SimReader r;
        r.Start();
        r.usb.SetCommand79Reply(Bytes(20, 0x79));
        auto q = r.Control(c.code, c.input, c.output);
        EXPECT_EQ(q->status, c.result) << c.name;
        EXPECT_EQ(q->information, c.information) << c.name;
        EXPECT_EQ(r.usb.Commands(), c.command < 0 ? std::vector<uint8_t>{}
                                                  : std::vector<uint8_t>{static_cast<uint8_t>(c.command)})
            << c.name;
    }
    SimReader r;
    r.Start();
    r.Control(kIoctlReaderCommand6F, {1, 2, 3, 4, 5}, 0);
    EXPECT_EQ(r.usb.Frames().at(0).data, Bytes({1, 2, 3, 4}));
    // Replies longer than the driver's areas or the caller's buffer are refused.
    r.usb.SetCommand79Reply(Bytes(40, 0x79));
    EXPECT_EQ(r.Control(kIoctlReaderCommand79, {}, 32)->status, kStatusBufferTooSmall);
    r.usb.SetCommand79Reply(Bytes(70, 0x79));
    EXPECT_EQ(r.Control(kIoctlReaderCommand79, {}, 100)->status, kStatusBufferTooSmall);
    r.usb.SetReaderInfo(Bytes(30, 0x11));
    auto q = r.Control(kIoctlReaderGetInfo, {}, 64);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(q->Output(), Bytes(16, 0x11)) << "the first 16 bytes, no more";
}

TEST(CardTracking, CompletedOnceByTheEventOrByTheCancel) {
    SimReader r;
    r.Start();
    // Waiting for removal: the card leaves.
    auto absent = r.Control(kIoctlSmartcardIsAbsent, {}, 0);
    EXPECT_EQ(absent->completions, 0);
    EXPECT_TRUE(absent->cancelRoutine);
    r.usb.PullCard();
    r.platform.RunPending();
    EXPECT_EQ(absent->completions, 1);
    EXPECT_EQ(absent->status, kStatusSuccess);
    EXPECT_FALSE(absent->cancelRoutine);
    // Already absent: completed at once.
    EXPECT_EQ(r.Control(kIoctlSmartcardIsAbsent, {}, 0)->completions, 1);

    // Waiting for a card, then the wait is cancelled; a later event completes nothing.
    auto present = r.Control(kIoctlSmartcardIsPresent, {}, 0);
    ASSERT_EQ(present->completions, 0);
    r.platform.Cancel(*present);
    EXPECT_EQ(present->completions, 1);
    EXPECT_EQ(present->status, kStatusCancelled);
    r.usb.InsertCard();
    r.platform.RunPending();
    EXPECT_EQ(present->completions, 1);
    EXPECT_EQ(r.device.Smartcard.OsData->NotificationIrp, nullptr);

    // A cancel that comes after the completion finds no routine and does nothing.
    auto again = r.Control(kIoctlSmartcardIsAbsent, {}, 0);
    r.usb.PullCard();
    r.platform.RunPending();
    r.platform.Cancel(*again);
    EXPECT_EQ(again->completions, 1);
    EXPECT_EQ(again->status, kStatusSuccess);
    EXPECT_EQ(r.platform.lockOrderViolations, 0);
}

TEST(CardTracking, WakeUpRefreshesTheStateAndCompletesTheWait) {
    struct Case {
        const char *name;
        bool before, after;
        uint32_t state;
        bool completed;
    } cases[] = {
        {"card stays", true, true, kScardSwallowed, true},
        {"card pulled while asleep", true, false, kScardAbsent, true},
        {"card put in while asleep", false, true, kScardSwallowed, true},
        {"no card before or after", false, false, kScardAbsent, false},
    };
    for (const auto &c : cases) {
        SimReader r;
        r.Start();
        if (c.before) r.Connect();
        else {
            r.usb.PullCard();
            r.platform.RunPending();
        }
        auto wait = r.Control(c.before ? kIoctlSmartcardIsAbsent : kIoctlSmartcardIsPresent, {}, 0);
        ASSERT_EQ(wait->completions, 0) << c.name;
        ASSERT_EQ(EnterDeviceState(&r.device, kPowerD3), kStatusSuccess) << c.name;
        if (c.after != r.usb.CardPresent()) {
            if (c.after) r.usb.InsertCard();
            else r.usb.PullCard();
        }
        DeviceBackInD0(&r.device);
        EXPECT_EQ(r.State(), c.state) << c.name;
        EXPECT_EQ(wait->completions, c.completed ? 1 : 0) << c.name;
        if (!c.completed) r.platform.Cancel(*wait);
    }
}

TEST(UnitNumbers, SixteenReadersThenNone) {
    UnitTable units{};
    std::vector<std::unique_ptr<SimReader>> readers;
    for (int i = 0; i < 16; ++i) {
        readers.push_back(std::make_unique<SimReader>(usbsim::TokenOptions{}, &units));
        ASSERT_EQ(SetupSmartcard(&readers.back()->device), kStatusSuccess);
        EXPECT_EQ(readers.back()->device.Smartcard.VendorAttr_.UnitNo, static_cast<uint32_t>(i));
    }
    SimReader extra({}, &units);
    EXPECT_EQ(SetupSmartcard(&extra.device), kStatusInsufficientResources);
    EXPECT_EQ(extra.device.Smartcard.VendorAttr_.UnitNo, 0xFFFFFFFFu);
    EXPECT_EQ(StartDevice(&extra.device), kStatusInsufficientResources);
    StopReader(&extra.device);
    EXPECT_EQ(units.Taken[15], 1) << "a unit it never took stays taken";
    EXPECT_EQ(extra.platform.outstandingPool(), 0);

    StopReader(&readers[3]->device);
    SimReader next({}, &units);
    EXPECT_EQ(SetupSmartcard(&next.device), kStatusSuccess);
    EXPECT_EQ(next.device.Smartcard.VendorAttr_.UnitNo, 3u);
}

}  // namespace
}  // namespace drvtest
