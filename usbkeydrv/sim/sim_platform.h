// The platform of one reader device in the Linux tests: USB requests go to a
// simulated USB token, kernel services are recorded and run when the test says
// (work items, the one-second tick, interrupt completions), and the smart-card
// library calls go to the library stand-in.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "platform.h"
#include "reader_device.h"
#include "sim_request.h"
#include "sim_usb_token.h"
#include "smartcard_library.h"

namespace usbsim {

class SimPlatform final : public usbkey::Platform {
public:
    explicit SimPlatform(SimUsbToken &token) : token_(token), library_(*this) {}
    ~SimPlatform();
    void Bind(usbkey::ReaderDevice *device) { device_ = device; }

    // ---- Driving the simulation ----
    // Delivers waiting card packets to the interrupt request and runs queued
    // work items until nothing is left to do.
    void RunPending();
    void Tick();  // one second passes
    size_t QueuedWork() const { return work_.size(); }
    // Ends the outstanding interrupt request with an error (a pipe failure).
    void FailInterrupt(usbkey::NtStatus status);
    bool InterruptOutstanding() const { return notifySubmitted_; }
    // Cancels a request as the I/O manager does.
    void Cancel(SimRequest &request);
    // Someone else holds the exchange lock (the poll must not wait for it).
    void HoldExchangeLockElsewhere(bool held) { heldElsewhere_ = held; }

    // Port as the hub reports it, and how many resets fail before one works.
    uint32_t portFlags = usbkey::kPortEnabled | usbkey::kPortConnected;
    int failingPortResets = 0, failingPipeResets = 0;
    bool failPool = false;  // every later pool allocation fails

    // ---- What the core did ----
    uint64_t stalledMicroseconds = 0;
    int portResets = 0, pipeResets = 0;
    int lockOrderViolations = 0;  // card lock taken before the cancel lock, or a lock taken twice
    bool interfaceRegistered = false, interfaceEnabled = false;
    bool timerStarted = false;
    long outstandingPool() const { return static_cast<long>(pool_.size()); }
    SmartcardLibrary &library() { return library_; }

    // ---- usbkey::Platform ----
    usbkey::NtStatus GetDescriptor(uint8_t type, uint8_t index, uint16_t language, void *buffer, uint32_t length,
                                   uint32_t *moved) override;
    usbkey::NtStatus SelectConfiguration(const uint8_t *config, uint32_t length, usbkey::PipeInfo *pipes,
                                         uint32_t capacity, uint32_t *count) override;
    usbkey::NtStatus Transfer(usbkey::PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                              uint32_t *moved) override;
    usbkey::NtStatus SubmitTransfer(usbkey::PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                                    usbkey::TransferHandle *transfer, uint32_t *moved) override;
    usbkey::NtStatus WaitTransfer(usbkey::TransferHandle transfer, uint32_t *moved) override;
    usbkey::NtStatus ResetPipe(usbkey::PipeHandle pipe) override;
    usbkey::NtStatus GetPortStatus(uint32_t *flags) override;
    usbkey::NtStatus ResetPort() override;
    bool AllocateNotifyRequest() override;
    void FreeNotifyRequest() override { notifyAllocated_ = false; }
    bool HasNotifyRequest() override { return notifyAllocated_; }
    void SubmitNotifyRequest(usbkey::PipeHandle pipe, void *buffer, uint32_t length) override;
    void CancelNotifyRequest() override;
    // While the core busy-waits outside a work item, the delayed work queue runs.
    void StallMicroseconds(uint32_t us) override;
    void AcquireExchangeLock() override;
    void ReleaseExchangeLock() override { exchangeLocked_ = false; }
    bool ExchangeLockFree() override { return !exchangeLocked_ && !heldElsewhere_; }
    void QueueDelayedWork(usbkey::WorkRoutine routine) override { work_.push_back(routine); }
    void StartTimer() override { timerStarted = true; }
    void *AllocatePool(uint32_t bytes) override;
    void FreePool(void *p) override;
    uint8_t AcquireCancelLock() override;
    void ReleaseCancelLock(uint8_t irql) override;
    uint8_t AcquireCardLock() override;
    void ReleaseCardLock(uint8_t irql) override;
    bool ExchangeTrackingCancel(usbkey::RequestHandle request, bool install) override;
    bool RequestCancelled(usbkey::RequestHandle request) override { return SimRequest::Of(request)->cancel; }
    void CompleteRequest(usbkey::RequestHandle request, usbkey::NtStatus status, uint64_t information) override;
    uint8_t *RequestBuffer(usbkey::RequestHandle request, uint32_t *inLength, uint32_t *outLength) override;
    usbkey::NtStatus RegisterReaderInterface() override;
    usbkey::NtStatus SetReaderInterfaceState(bool enabled) override;
    usbkey::NtStatus SmartcardInitialize(usbkey::SmartcardExtension *ext) override { return library_.Initialize(ext); }
    usbkey::NtStatus SmartcardExit(usbkey::SmartcardExtension *ext) override { return library_.Exit(ext); }
    usbkey::NtStatus SmartcardDeviceControl(usbkey::SmartcardExtension *ext, usbkey::RequestHandle r) override {
        return library_.DeviceControl(ext, r);
    }
    usbkey::NtStatus SmartcardUpdateCardCapabilities(usbkey::SmartcardExtension *ext) override {
        return library_.UpdateCardCapabilities(ext);
    }

private:
    usbkey::PipeHandle PipeOf(int i) { return reinterpret_cast<usbkey::PipeHandle>(&pipes_[i]); }
    int IndexOf(usbkey::PipeHandle p) const;

    SimUsbToken &token_;
    SmartcardLibrary library_;
    usbkey::ReaderDevice *device_ = nullptr;
    uint8_t pipes_[3] = {};
    std::deque<usbkey::WorkRoutine> work_;
    bool exchangeLocked_ = false, heldElsewhere_ = false;
    bool inWork_ = false;
    bool cancelHeld_ = false, cardHeld_ = false;
    bool notifyAllocated_ = false, notifySubmitted_ = false;
    uint8_t *notifyBuffer_ = nullptr;
    uint32_t notifyLength_ = 0;
    struct Pending {
        void *buffer;
        uint32_t length;
    };
    std::vector<std::unique_ptr<Pending>> transfers_;
    std::set<void *> pool_;
};

}  // namespace usbsim
