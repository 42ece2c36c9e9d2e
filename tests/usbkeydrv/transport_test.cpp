// The frame exchange, configuration, card events and raw pipe requests of the
// reader transport against the simulated USB token.
#include <gtest/gtest.h>

#include "reader_fixture.h"

namespace drvtest {
namespace {

using namespace usbkey;

struct Exchanged {
    NtStatus status;
    uint8_t reader;
    uint32_t length;
    Bytes reply;
};

Exchanged Exchange(SimReader &r, uint8_t command, const Bytes &data, uint32_t capacity = 272) {
    Exchanged e{};
    Bytes reply(capacity + 4, 0xEE);  // 4 guard bytes behind the caller's area
    e.length = 0xFFFF;
    e.status = ReaderExchange(&r.device, command, data.data(), static_cast<uint32_t>(data.size()), reply.data(),
                              capacity, &e.length, &e.reader);
    for (uint32_t i = capacity; i < capacity + 4; ++i) EXPECT_EQ(reply[i], 0xEE) << "written past the reply area";
    reply.resize(capacity);
    e.reply = reply;
    return e;
}

TEST(ReaderExchange, EmptyPacketEndsAFrameThatFillsWholePackets) {
    struct Case {
        uint16_t packet;
        size_t dataBytes;
        std::vector<size_t> transfers;
    } cases[] = {
        {64, 61, {63}},     {64, 62, {64, 0}}, {64, 63, {65}}, {16, 14, {16, 0}},
        {64, 126, {128, 0}}, {8, 270, {272, 0}}, {512, 270, {272}},
    };
    for (const auto &c : cases) {
        SimReader r({.bulkOutPacket = c.packet});
        ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
        Bytes data(c.dataBytes, 0x5A);
        Exchanged e = Exchange(r, kCmd6F, data);
        EXPECT_EQ(e.status, kStatusSuccess) << c.dataBytes << " bytes on " << c.packet;
        EXPECT_EQ(r.usb.OutTransferSizes(), c.transfers) << c.dataBytes << " bytes on " << c.packet;
        ASSERT_EQ(r.usb.Frames().size(), 1u);
        EXPECT_EQ(r.usb.Frames()[0].data, data);
    }
}

TEST(ReaderExchange, ReplyLengthsAndStatusBytes) {
    struct Case {
        const char *name;
        size_t cutTo;  // bytes of the reply frame that arrive (0 = whole)
        int status;    // reader status forced, -1 none
        NtStatus result;
        uint8_t reader;
        uint32_t length;
    } cases[] = {
        {"whole 16-byte information", 0, -1, kStatusSuccess, 0x90, 16},
        {"exactly the two header bytes", 2, -1, kStatusSuccess, 0x90, 0},
        {"status byte alone", 1, -1, kStatusSuccess, 0x90, 0},
        {"nothing at all", 0xFFFF, -1, kStatusDeviceProtocolError, 0, 0},
        {"card removed", 0, 0x08, kStatusAdapterHardwareError, 0x08, 0},
        {"card time-out", 0, 0x01, kStatusAdapterHardwareError, 0x01, 0},
    };
    for (const auto &c : cases) {
        SimReader r;
        ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
        if (c.cutTo == 0xFFFF) r.usb.CutNextReply(0);
        else if (c.cutTo) r.usb.CutNextReply(c.cutTo);
        if (c.status >= 0) r.usb.ReplyStatusOnce(static_cast<uint8_t>(c.status));
        Exchanged e = Exchange(r, kCmdReaderInfo, {}, 16);
        EXPECT_EQ(e.status, c.result) << c.name;
        EXPECT_EQ(e.reader, c.reader) << c.name;
        EXPECT_EQ(e.length, c.length) << c.name;
        if (c.length == 0) {
            EXPECT_EQ(e.reply, Bytes(16, 0xEE)) << c.name << ": nothing copied";
        }
    }
}

TEST(ReaderExchange, RefusesWhatDoesNotFitInsteadOfWritingPastIt) {
    SimReader r;
    ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
    // 16 bytes of information into a 10-byte area: the first 10, the full length, a warning.
    Exchanged e = Exchange(r, kCmdReaderInfo, {}, 10);
    EXPECT_EQ(e.status, kStatusBufferOverflow);
    EXPECT_EQ(e.length, 16u);
    EXPECT_EQ(e.reply[0], 0x11);
    // A frame of more than 270 data bytes is not sent at all.
    r.usb.ClearLog();
    EXPECT_EQ(Exchange(r, kCmd6F, Bytes(271, 1)).status, kStatusInvalidParameter);
    EXPECT_TRUE(r.usb.OutTransferSizes().empty());
    EXPECT_EQ(Exchange(r, kCmd6F, Bytes(270, 1)).status, kStatusSuccess);
}

TEST(ReaderExchange, TransferFailuresAndTheUnconfiguredTransport) {
    SimReader r;
    Exchanged e = Exchange(r, kCmdCardStatus, {});
    EXPECT_EQ(e.status, kStatusAdapterHardwareError);
    EXPECT_EQ(e.reader, 0x12);
    EXPECT_TRUE(r.usb.OutTransferSizes().empty());

    ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
    r.usb.FailNextBulkOut(usbsim::Fault::Stall);
    e = Exchange(r, kCmdCardStatus, {});
    EXPECT_FALSE(NtSuccess(e.status));
    EXPECT_NE(e.status, kStatusAdapterHardwareError);
    EXPECT_EQ(e.reader, 0);
    EXPECT_TRUE(r.usb.Frames().empty()) << "no read follows a failed write";

    r.usb.FailNextBulkIn(usbsim::Fault::PipeError);
    e = Exchange(r, kCmdCardStatus, {});
    EXPECT_EQ(e.status, kStatusDeviceProtocolError);
    EXPECT_EQ(e.reader, 0);
    EXPECT_EQ(r.platform.lockOrderViolations, 0) << "the lock is released on every path";
    EXPECT_EQ(Exchange(r, kCmdCardStatus, {}).status, kStatusSuccess);
}

TEST(ConfigureUsb, BulkOutPacketSizeAndPipes) {
    struct Case {
        uint16_t packet;
        bool interrupt;
        NtStatus result;
    } cases[] = {{4, true, kStatusAdapterHardwareError}, {8, true, kStatusSuccess},
                 {512, false, kStatusSuccess},            {1024, true, kStatusAdapterHardwareError}};
    for (const auto &c : cases) {
        SimReader r({.bulkOutPacket = c.packet, .interruptPipe = c.interrupt});
        EXPECT_EQ(ConfigureUsb(&r.device), c.result) << c.packet;
        EXPECT_EQ(r.device.Configured, c.result == kStatusSuccess);
        EXPECT_EQ(r.device.InterruptInPipe != nullptr, c.interrupt && c.result == kStatusSuccess);
        EXPECT_EQ(r.platform.outstandingPool(), 0) << "descriptor blocks are freed";
        uint8_t reader = 0;
        if (c.result != kStatusSuccess) {
            EXPECT_EQ(ReaderExchange(&r.device, kCmdCardStatus, nullptr, 0, nullptr, 0, nullptr, &reader),
                      kStatusAdapterHardwareError);
        }
    }
}

TEST(ConfigureUsb, ASecondStartOnAChangedDeviceKeepsTheWorkingTransport) {
    SimReader r;
    ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
    r.usb.SetBulkOutPacket(0);
    EXPECT_EQ(ConfigureUsb(&r.device), kStatusAdapterHardwareError);
    EXPECT_EQ(r.device.BulkOutMaxPacket, 64u);
    r.usb.SetBulkOutPacket(64);
    EXPECT_EQ(Exchange(r, kCmdCardStatus, {}).status, kStatusSuccess);
}

TEST(CardEvents, InterruptPacketsMoveTheCardState) {
    SimReader r;
    r.Start();
    ASSERT_TRUE(r.device.UseInterrupt);
    ASSERT_TRUE(r.platform.InterruptOutstanding());
    EXPECT_EQ(r.State(), kScardSwallowed);
    r.usb.PullCard();
    r.platform.RunPending();
    EXPECT_EQ(r.State(), kScardAbsent);
    EXPECT_TRUE(r.platform.InterruptOutstanding()) << "resubmitted after each packet";
    r.usb.InsertCard();
    r.platform.RunPending();
    EXPECT_EQ(r.State(), kScardSwallowed);
    EXPECT_TRUE(r.usb.Frames().empty()) << "interrupt events need no frame";
}

TEST(CardEvents, APacketAfterSwitchOffIsNeitherDeliveredNorResubmitted) {
    SimReader r;
    r.Start();
    r.device.NotifyActive = false;  // switched off while the packet was on its way
    r.usb.PullCard();
    r.platform.RunPending();
    EXPECT_EQ(r.State(), kScardSwallowed);
    EXPECT_FALSE(r.platform.InterruptOutstanding());
    EXPECT_FALSE(r.device.NotifyStopped);
    // Switching on again restarts it.
    SwitchNotification(&r.device, true);
    EXPECT_TRUE(r.platform.InterruptOutstanding());
}

TEST(CardEvents, RecoveryOfAFailedInterruptPipe) {
    struct Case {
        uint32_t port;
        int failingPortResets, failingPipeResets;
        int portResets, pipeResets;
        uint64_t stalled;
        bool restarted;
    } cases[] = {
        {kPortEnabled | kPortConnected, 0, 0, 0, 1, 0, true},
        {kPortEnabled | kPortConnected, 0, 1, 0, 2, 2000, true},
        {kPortEnabled | kPortConnected, 0, 2, 0, 3, 3002000, true},
        {kPortConnected, 0, 0, 1, 1, 0, true},
        {kPortConnected, 1, 0, 2, 1, 10000, true},
        {kPortConnected, 3, 0, 3, 0, 3010000, false},
        {kPortEnabled, 0, 0, 0, 0, 0, false},  // the token is gone
    };
    for (const auto &c : cases) {
        SimReader r;
        r.Start();
        r.platform.portFlags = c.port;
        r.platform.failingPortResets = c.failingPortResets;
        r.platform.failingPipeResets = c.failingPipeResets;
        r.platform.FailInterrupt(kStatusDeviceProtocolError);
        EXPECT_FALSE(r.device.NotifyActive);
        EXPECT_FALSE(r.device.NotifyStopped);
        r.platform.RunPending();
        EXPECT_EQ(r.platform.portResets, c.portResets);
        EXPECT_EQ(r.platform.pipeResets, c.pipeResets);
        EXPECT_EQ(r.platform.stalledMicroseconds, c.stalled);
        EXPECT_EQ(r.platform.InterruptOutstanding(), c.restarted);
        if (c.restarted) {
            r.usb.PullCard();
            r.platform.RunPending();
            EXPECT_EQ(r.State(), kScardAbsent) << "events flow again";
        }
    }
    // A cancellation is an end, not a failure.
    SimReader r;
    r.Start();
    SwitchNotification(&r.device, false);
    EXPECT_TRUE(r.device.NotifyStopped);
    EXPECT_EQ(r.platform.QueuedWork(), 0u);
}

TEST(CardEvents, PollingOncePerTickAndNeverWaitingForTheLock) {
    SimReader r({.interruptPipe = true, .readerVersion = 0x0010});
    r.Start();
    ASSERT_FALSE(r.device.UseInterrupt);
    ASSERT_TRUE(r.platform.timerStarted);
    r.platform.Tick();
    r.platform.Tick();  // at most one poll queued
    EXPECT_EQ(r.platform.QueuedWork(), 1u);
    r.usb.PullCard();
    r.platform.RunPending();
    EXPECT_EQ(r.usb.Commands(), std::vector<uint8_t>{kCmdCardStatus});
    EXPECT_EQ(r.State(), kScardAbsent);

    r.usb.ClearLog();
    r.usb.InsertCard();
    r.platform.HoldExchangeLockElsewhere(true);
    r.platform.Tick();
    r.platform.RunPending();
    EXPECT_TRUE(r.usb.Frames().empty()) << "the poll skips a held lock";
    EXPECT_FALSE(r.device.PollQueued);
    r.platform.HoldExchangeLockElsewhere(false);
    r.platform.Tick();
    r.platform.RunPending();
    EXPECT_EQ(r.State(), kScardSwallowed) << "the next tick tries again";
}

TEST(CardEvents, PollCountsBitOneAsNoCardWhileStartLooksAtBitThreeAlone) {
    SimReader r({.interruptPipe = false, .cardStatusExtra = 0x02});
    r.Start();
    EXPECT_FALSE(r.device.UseInterrupt) << "no interrupt pipe: polling even on a new reader";
    EXPECT_EQ(r.State(), kScardSwallowed);
    r.platform.Tick();
    r.platform.RunPending();
    EXPECT_EQ(r.State(), kScardAbsent);
}

TEST(RawPipeRequests, StringsExchangeWriteAndUnknownCodes) {
    SimReader r;
    ASSERT_EQ(ConfigureUsb(&r.device), kStatusSuccess);
    auto q = r.Control(kIoctlReaderGetString, {}, 32);
    EXPECT_EQ(q->status, kStatusInvalidParameter);
    EXPECT_EQ(q->information, 0u);
    q = r.Control(kIoctlReaderGetString, {1}, 32);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(q->Output(), H("08 03 54 00 45 00 51 00"));

    // A whole frame written and its reply read in one request, under the lock.
    q = r.Control(kIoctlReaderExchange, H("11 00"), 64);
    EXPECT_EQ(q->status, kStatusSuccess);
    ASSERT_EQ(q->information, 18u);
    EXPECT_EQ(q->buffer[0], 0x90);
    EXPECT_EQ(q->buffer[2], 0x11);
    EXPECT_EQ(r.platform.lockOrderViolations, 0);

    r.usb.ClearLog();
    q = r.Control(kIoctlReaderWrite, Bytes(64, 0), 0);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(r.usb.OutTransferSizes(), (std::vector<size_t>{64, 0}));
    q = r.Control(kIoctlReaderRead, {}, 64);
    EXPECT_EQ(q->status, kStatusSuccess);
    ASSERT_EQ(q->information, 2u) << "the token answered the 64-byte frame";
    EXPECT_EQ(q->buffer[0], 0x05) << "command 00 is not one of the token's";

    r.usb.PullCard();  // no interrupt transfer of the driver's own is running before start
    q = r.Control(kIoctlReaderReadInterrupt, {}, 8);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(q->Output(), H("08 00 00 00 00 00 00 00"));

    q = r.Control(CtlCode(kFileDeviceUnknown, 0x805, 0, 0), {1, 2}, 8);
    EXPECT_EQ(q->status, kStatusNotImplemented);
    EXPECT_EQ(q->completions, 1);
}

}  // namespace
}  // namespace drvtest
