// The driver frame's steps replayed in the order the Windows dispatch routines
// run them: registry options, add-device and start, power transitions, surprise
// removal and removal, against devices on the simulated platform.
#include <gtest/gtest.h>

#include "reader_fixture.h"
#include "sim_frame.h"

namespace drvtest {
namespace {

using namespace usbkey;

struct PluggedToken {
    PluggedToken() : card(simtest::FreshState()), usb(card) {}
    vtoken::Token card;
    usbsim::SimUsbToken usb;
};

std::u16string U(const char *s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

class Harness {
public:
    Harness(NtStatus startTypeStatus = kStatusSuccess, uint32_t startType = 0, uint32_t noPcsc = 0) {
        ApplyRegistryOptions(&services.driver, startTypeStatus, startType, noPcsc);
    }
    ~Harness() {  // the tokens still attached are unplugged
        while (!services.objects.empty()) Remove(services.objects.back()->record.get(), true);
    }
    // AddDevice, then IRP_MN_START_DEVICE once the lower drivers started the device.
    ReaderDevice *Plug(PluggedToken &token, NtStatus *addStatus = nullptr) {
        ReaderDevice *d = nullptr;
        NtStatus s = AddReaderDevice(&services.driver, &services, &token.usb, &d);
        if (addStatus) *addStatus = s;
        if (!NtSuccess(s)) return nullptr;
        EXPECT_EQ(StartDevice(d), kStatusSuccess);
        return d;
    }
    void Remove(ReaderDevice *d, bool surprise) {
        if (surprise) SurpriseRemoval(d);
        RemoveBeforeForward(d);
        RemoveAfterForward(&services, d);
        services.DeleteDevice(d);
    }
    // A system set-power request: the device request it needs, if any, then the
    // device's own steps in the order of its set-power handling.
    bool SystemPower(ReaderDevice *d, uint32_t systemState) {
        uint32_t wanted = 0;
        if (!SystemPowerNeedsDeviceRequest(d, systemState, &wanted)) return false;
        if (wanted == kPowerD0) DeviceBackInD0(d);
        else EnterDeviceState(d, wanted);
        return true;
    }
    std::unique_ptr<usbsim::SimRequest> Control(ReaderDevice *d, uint32_t code, const Bytes &in, uint32_t out) {
        auto r = std::make_unique<usbsim::SimRequest>(code, in, out);
        DispatchDeviceControl(d, code, r->Handle());
        return r;
    }

    usbsim::SimFrameServices services;
};

TEST(DriverFrame, RegistryOptionsChooseNamesLinksAndModes) {
    struct Expect {
        bool named, exclusive, noPcsc;
        char scReader;  // 0 none
    };
    struct Case {
        const char *name;
        NtStatus startTypeStatus;
        uint32_t startType, noPcsc;
        Expect first, second, third;
    } cases[] = {
        {"no values", kStatusSuccess, 0, 0, {false, true, false, 0}, {false, true, false, 0}, {false, true, false, 0}},
        {"NoPCSC 1", kStatusSuccess, 0, 1, {true, false, true, 0}, {true, false, true, 0}, {true, false, true, 0}},
        {"NoPCSC 98", kStatusSuccess, 0, 98, {true, false, false, '0'}, {true, false, false, '1'},
         {true, false, false, '2'}},
        {"StartType 2", kStatusSuccess, 2, 0, {true, false, true, 0}, {false, true, false, 0},
         {false, true, false, 0}},
        {"StartType 2 with NoPCSC 98", kStatusSuccess, 2, 98, {true, false, true, 0}, {true, false, false, '0'},
         {true, false, false, '1'}},
        {"no service key", kStatusObjectNameNotFound, 2, 1, {false, true, false, 0}, {false, true, false, 0},
         {false, true, false, 0}},
        {"other NoPCSC values", kStatusSuccess, 0, 7, {false, true, false, 0}, {false, true, false, 0},
         {false, true, false, 0}},
    };
    for (const auto &c : cases) {
        Harness h(c.startTypeStatus, c.startType, c.noPcsc);
        PluggedToken tokens[3];
        const Expect *expect[] = {&c.first, &c.second, &c.third};
        for (int i = 0; i < 3; ++i) {
            ReaderDevice *d = h.Plug(tokens[i]);
            ASSERT_NE(d, nullptr) << c.name;
            auto *object = h.services.ObjectOf(d);
            char16_t digit = static_cast<char16_t>(u'0' + i);
            std::u16string deviceName = U("\\Device\\UsbReaderA12") + digit;
            EXPECT_EQ(h.services.links[U("\\DosDevices\\UsbReaderA12r0") + digit], deviceName) << c.name;
            EXPECT_EQ(object->name, expect[i]->named ? deviceName : u"") << c.name << " device " << i;
            EXPECT_EQ(object->exclusive, expect[i]->exclusive) << c.name << " device " << i;
            EXPECT_EQ(d->NoPcsc, expect[i]->noPcsc) << c.name << " device " << i;
            EXPECT_EQ(object->platform->interfaceEnabled, !expect[i]->noPcsc) << c.name << " device " << i;
            EXPECT_EQ(d->ScReaderDigit, static_cast<char16_t>(expect[i]->scReader)) << c.name << " device " << i;
            if (expect[i]->scReader) {
                EXPECT_EQ(h.services.links[U("\\DosDevices\\SCReader") + static_cast<char16_t>(expect[i]->scReader)],
                          deviceName)
                    << c.name;
            }
        }
    }
}

TEST(DriverFrame, NoPcscDevicesAnswerSmartcardRequestsAtOnceAndKeepTheRawPipes) {
    Harness h(kStatusSuccess, 0, 1);
    PluggedToken t;
    ReaderDevice *d = h.Plug(t);
    auto &platform = h.services.PlatformOf(d);
    EXPECT_FALSE(platform.interfaceRegistered);
    EXPECT_EQ(platform.library().initialized, 0);
    auto q = h.Control(d, kIoctlSmartcardTransmit, H("02 00 00 00 08 00 00 00 00 84 00 00 08"), 64);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(q->information, 0u);
    EXPECT_EQ(q->completions, 1);
    t.usb.ClearLog();
    q = h.Control(d, kIoctlReaderExchange, H("13 00"), 8);
    EXPECT_EQ(q->status, kStatusSuccess);
    EXPECT_EQ(q->Output(), H("90 01 00"));
    // The sleep notice goes out in every mode.
    EXPECT_TRUE(h.SystemPower(d, 4));
    EXPECT_EQ(t.usb.Frames().back().command, kCmdSleepNotice);
    h.Remove(d, false);
    EXPECT_TRUE(h.services.links.empty());
}

TEST(DriverFrame, TenTokensAtOnceAndTheEleventhRefused) {
    Harness h;
    PluggedToken tokens[11];
    std::vector<ReaderDevice *> devices;
    for (int i = 0; i < 10; ++i) devices.push_back(h.Plug(tokens[i]));
    NtStatus status = kStatusSuccess;
    EXPECT_EQ(h.Plug(tokens[10], &status), nullptr);
    EXPECT_EQ(status, kStatusObjectNameCollision);
    EXPECT_EQ(h.services.objects.size(), 10u);
    // A removed token's digit and unit number go to the next one.
    h.Remove(devices[4], true);
    ReaderDevice *d = h.Plug(tokens[10]);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->UnitDigit, u'4');
    EXPECT_EQ(d->Smartcard.VendorAttr_.UnitNo, 4u);
}

TEST(DriverFrame, AFailedDeviceObjectLeavesItsLinkFree) {
    Harness h;
    PluggedToken a, b;
    h.services.failCreateDevice = kStatusInsufficientResources;
    NtStatus status = kStatusSuccess;
    EXPECT_EQ(h.Plug(a, &status), nullptr);
    EXPECT_EQ(status, kStatusInsufficientResources);
    EXPECT_TRUE(h.services.links.empty());
    h.services.failCreateDevice = kStatusSuccess;
    EXPECT_EQ(h.Plug(b)->UnitDigit, u'0');
}

TEST(DriverFrame, SleepWithACardAndAPendingTrackingRequest) {
    Harness h;
    PluggedToken t;
    ReaderDevice *d = h.Plug(t);
    auto &platform = h.services.PlatformOf(d);
    h.Control(d, kIoctlSmartcardPower, SimReader::Le32(kColdReset), 64);
    h.Control(d, kIoctlSmartcardSetProtocol, SimReader::Le32(kProtocolDefault), 4);
    ASSERT_EQ(d->Smartcard.ReaderCapabilities_.CurrentState, kScardSpecific);
    auto wait = h.Control(d, kIoctlSmartcardIsAbsent, {}, 0);
    ASSERT_EQ(wait->completions, 0);

    t.usb.ClearLog();
    EXPECT_FALSE(h.SystemPower(d, 1)) << "already working: passed down without a device request";
    EXPECT_TRUE(h.SystemPower(d, 4));
    EXPECT_EQ(d->DevicePowerState, kPowerD3);
    ASSERT_EQ(t.usb.Frames().size(), 1u);
    EXPECT_EQ(t.usb.Frames()[0].command, kCmdSleepNotice);
    EXPECT_EQ(t.usb.Frames()[0].data, Bytes{0x01});
    EXPECT_FALSE(platform.InterruptOutstanding()) << "card events stop before D3";
    EXPECT_EQ(wait->completions, 0);

    EXPECT_TRUE(h.SystemPower(d, 1));
    EXPECT_EQ(d->DevicePowerState, kPowerD0);
    EXPECT_TRUE(platform.InterruptOutstanding()) << "card events restart in D0";
    EXPECT_EQ(d->Smartcard.ReaderCapabilities_.CurrentState, kScardSwallowed);
    EXPECT_EQ(wait->completions, 1);
    EXPECT_EQ(wait->status, kStatusSuccess);
    t.usb.PullCard();
    platform.RunPending();
    EXPECT_EQ(d->Smartcard.ReaderCapabilities_.CurrentState, kScardAbsent);
}

TEST(DriverFrame, RemovalReleasesEverything) {
    for (bool surprise : {false, true}) {
        Harness h(kStatusSuccess, 0, 98);
        PluggedToken t;
        ReaderDevice *d = h.Plug(t);
        auto &platform = h.services.PlatformOf(d);
        auto wait = h.Control(d, kIoctlSmartcardIsAbsent, {}, 0);
        ASSERT_EQ(wait->completions, 0);
        if (surprise) SurpriseRemoval(d);
        EXPECT_EQ(d->Stopping, surprise);
        RemoveBeforeForward(d);
        EXPECT_FALSE(platform.InterruptOutstanding());
        EXPECT_FALSE(platform.HasNotifyRequest());
        EXPECT_LT(platform.stalledMicroseconds, 3000000u);
        RemoveAfterForward(&h.services, d);
        EXPECT_EQ(wait->completions, 1) << "a pending tracking request is completed";
        EXPECT_TRUE(h.services.links.empty());
        EXPECT_EQ(h.services.driver.Units.Taken[0], 0);
        EXPECT_EQ(platform.library().initialized, 0);
        EXPECT_EQ(platform.outstandingPool(), 0);
        EXPECT_FALSE(platform.interfaceEnabled);
        h.services.DeleteDevice(d);
    }
}

TEST(DriverFrame, APollQueuedBeforeRemovalDoesNotOutliveTheDevice) {
    Harness h;
    PluggedToken t;
    t.usb.SetReaderInfo(Bytes(16, 0));  // version 0: polling
    ReaderDevice *d = h.Plug(t);
    auto &platform = h.services.PlatformOf(d);
    ASSERT_FALSE(d->UseInterrupt);
    platform.Tick();
    ASSERT_EQ(platform.QueuedWork(), 1u);
    SurpriseRemoval(d);
    platform.RunPending();  // the queued poll runs now and sends nothing
    EXPECT_FALSE(d->PollQueued);
    platform.Tick();
    EXPECT_EQ(platform.QueuedWork(), 0u) << "no poll is queued for a device going away";
    h.Remove(d, false);
}

TEST(DriverFrame, ARecoveryQueuedBeforeRemovalEndsBeforeTheDeviceGoes) {
    for (bool surprise : {true, false}) {
        Harness h;
        PluggedToken t;
        ReaderDevice *d = h.Plug(t);
        auto &platform = h.services.PlatformOf(d);
        platform.portFlags = kPortConnected;  // a recovery that would reset the port for seconds
        platform.failingPortResets = 3;
        platform.FailInterrupt(kStatusDeviceProtocolError);
        ASSERT_EQ(platform.QueuedWork(), 1u);
        if (surprise) SurpriseRemoval(d);
        RemoveBeforeForward(d);  // the work queue runs while removal waits
        EXPECT_EQ(platform.QueuedWork(), 0u);
        EXPECT_FALSE(d->RecoveryQueued);
        EXPECT_EQ(platform.portResets, 0) << "the recovery saw the device going away";
        EXPECT_FALSE(platform.InterruptOutstanding());
        EXPECT_LT(platform.stalledMicroseconds, 10000u);
        RemoveAfterForward(&h.services, d);
        h.services.DeleteDevice(d);
    }
}

TEST(DriverFrame, AStartAfterAStopKeepsTheRunningCardEvents) {
    Harness h;
    PluggedToken t;
    ReaderDevice *d = h.Plug(t);
    auto &platform = h.services.PlatformOf(d);
    ASSERT_TRUE(platform.InterruptOutstanding());
    // IRP_MN_STOP_DEVICE is passed down; the next start runs the sequence again.
    EXPECT_EQ(StartDevice(d), kStatusSuccess);
    EXPECT_TRUE(platform.InterruptOutstanding());
    t.usb.PullCard();
    platform.RunPending();
    EXPECT_EQ(d->Smartcard.ReaderCapabilities_.CurrentState, kScardAbsent);
    EXPECT_EQ(platform.lockOrderViolations, 0);
    h.Remove(d, false);
}

}  // namespace
}  // namespace drvtest
