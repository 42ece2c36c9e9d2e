#include "sim_platform.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "reader.h"
#include "transport.h"

namespace usbsim {

using namespace usbkey;

namespace {

NtStatus StatusOf(UsbResult r) {
    switch (r) {
    case UsbResult::Ok: return kStatusSuccess;
    case UsbResult::Stall: return Nt(0xC0000001);       // STATUS_UNSUCCESSFUL, as usbd reports a stall
    case UsbResult::Error: return kStatusDeviceProtocolError;
    case UsbResult::NoData: return kStatusIoTimeout;    // on the wire the request would wait for ever
    }
    return kStatusDeviceProtocolError;
}

constexpr int kBulkOut = 0, kBulkIn = 1, kInterruptIn = 2;

}  // namespace

SimPlatform::~SimPlatform() {
    for (void *p : pool_) std::free(p);
}

int SimPlatform::IndexOf(PipeHandle p) const {
    for (int i = 0; i < 3; ++i)
        if (reinterpret_cast<const uint8_t *>(p) == &pipes_[i]) return i;
    return -1;
}

void SimPlatform::RunPending() {
    for (;;) {
        if (notifySubmitted_ && token_.InterruptPending()) {
            size_t got = 0;
            token_.InterruptIn(notifyBuffer_, notifyLength_, &got);
            notifySubmitted_ = false;
            NotifyCompleted(device_, kStatusSuccess);
            continue;
        }
        if (!work_.empty()) {
            WorkRoutine w = work_.front();
            work_.pop_front();
            bool outer = std::exchange(inWork_, true);
            w(device_);
            inWork_ = outer;
            continue;
        }
        return;
    }
}

void SimPlatform::StallMicroseconds(uint32_t us) {
    stalledMicroseconds += us;
    if (!inWork_) RunPending();
}

void SimPlatform::Tick() {
    if (timerStarted) TimerTick(device_);
}

void SimPlatform::FailInterrupt(NtStatus status) {
    if (!notifySubmitted_) return;
    notifySubmitted_ = false;
    NotifyCompleted(device_, status);
}

void SimPlatform::Cancel(SimRequest &request) {
    uint8_t irql = AcquireCancelLock();
    request.cancel = true;
    bool routine = std::exchange(request.cancelRoutine, false);
    if (routine)
        TrackingCancel(device_, irql);  // releases the cancel lock
    else
        ReleaseCancelLock(irql);
}

NtStatus SimPlatform::GetDescriptor(uint8_t type, uint8_t index, uint16_t, void *buffer, uint32_t length,
                                    uint32_t *moved) {
    Bytes d;
    if (type == 1) d = token_.DeviceDescriptor();
    else if (type == 2) d = token_.ConfigurationDescriptor();
    else if (type == 3) d = token_.StringDescriptor(index);
    *moved = 0;
    if (d.empty()) return Nt(0xC0000001);
    uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(d.size()));
    if (n) std::memcpy(buffer, d.data(), n);
    *moved = n;
    return kStatusSuccess;
}

NtStatus SimPlatform::SelectConfiguration(const uint8_t *config, uint32_t length, PipeInfo *pipes,
                                          uint32_t capacity, uint32_t *count) {
    // The endpoints of the first interface, in descriptor order.
    *count = 0;
    bool inFirst = false, seenInterface = false;
    for (uint32_t at = 0; at + 2 <= length && config[at] >= 2; at += config[at]) {
        uint8_t type = config[at + 1];
        if (type == 4) {
            if (seenInterface) break;
            seenInterface = inFirst = true;
        } else if (type == 5 && inFirst && at + 7 <= length && *count < capacity) {
            uint8_t address = config[at + 2];
            int index = address == 0x01 ? kBulkOut : address == 0x82 ? kBulkIn : kInterruptIn;
            pipes[(*count)++] = PipeInfo{PipeOf(index), address, static_cast<uint8_t>(config[at + 3] & 3),
                                         static_cast<uint16_t>(config[at + 4] | config[at + 5] << 8)};
        }
    }
    return seenInterface ? kStatusSuccess : kStatusDeviceProtocolError;
}

NtStatus SimPlatform::Transfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length, uint32_t *moved) {
    *moved = 0;
    size_t got = 0;
    UsbResult r = UsbResult::Error;
    switch (IndexOf(pipe)) {
    case kBulkOut:
        if (flags & kTransferIn) break;
        r = token_.BulkOut(static_cast<const uint8_t *>(buffer), length);
        if (r == UsbResult::Ok) got = length;
        break;
    case kBulkIn:
        r = token_.BulkIn(static_cast<uint8_t *>(buffer), length, &got);
        break;
    case kInterruptIn:
        r = token_.InterruptIn(static_cast<uint8_t *>(buffer), length, &got);
        break;
    default:
        break;  // a null or foreign pipe handle
    }
    *moved = static_cast<uint32_t>(got);
    return StatusOf(r);
}

NtStatus SimPlatform::SubmitTransfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                                     TransferHandle *transfer, uint32_t *moved) {
    *moved = 0;
    if (IndexOf(pipe) != kBulkIn) return Transfer(pipe, flags, buffer, length, moved);
    // A read waits for the token; it is carried out when the caller waits.
    transfers_.push_back(std::make_unique<Pending>(Pending{buffer, length}));
    *transfer = reinterpret_cast<TransferHandle>(transfers_.back().get());
    (void)pipe;
    return kStatusPending;
}

NtStatus SimPlatform::WaitTransfer(TransferHandle transfer, uint32_t *moved) {
    auto *p = reinterpret_cast<Pending *>(transfer);
    NtStatus s = Transfer(PipeOf(kBulkIn), kTransferIn | kShortTransferOk, p->buffer, p->length, moved);
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it)
        if (it->get() == p) {
            transfers_.erase(it);
            break;
        }
    return s;
}

NtStatus SimPlatform::ResetPipe(PipeHandle) {
    ++pipeResets;
    if (failingPipeResets > 0) {
        --failingPipeResets;
        return Nt(0xC0000001);
    }
    return kStatusSuccess;
}

NtStatus SimPlatform::GetPortStatus(uint32_t *flags) {
    *flags = portFlags;
    return kStatusSuccess;
}

NtStatus SimPlatform::ResetPort() {
    ++portResets;
    if (failingPortResets > 0) {
        --failingPortResets;
        return Nt(0xC0000001);
    }
    portFlags |= kPortEnabled;
    return kStatusSuccess;
}

bool SimPlatform::AllocateNotifyRequest() {
    if (failPool) return false;
    notifyAllocated_ = true;
    return true;
}

void SimPlatform::SubmitNotifyRequest(PipeHandle pipe, void *buffer, uint32_t length) {
    notifyBuffer_ = static_cast<uint8_t *>(buffer);
    notifyLength_ = length;
    if (!notifyAllocated_ || IndexOf(pipe) != kInterruptIn) {
        // usbd refuses a request on a bad pipe at once.
        NotifyCompleted(device_, kStatusInvalidParameter);
        return;
    }
    notifySubmitted_ = true;
}

void SimPlatform::CancelNotifyRequest() {
    if (!notifySubmitted_) return;
    notifySubmitted_ = false;
    NotifyCompleted(device_, kStatusCancelled);
}

void SimPlatform::AcquireExchangeLock() {
    if (exchangeLocked_) ++lockOrderViolations;  // would deadlock on Windows
    exchangeLocked_ = true;
}

void *SimPlatform::AllocatePool(uint32_t bytes) {
    if (failPool) return nullptr;
    void *p = std::malloc(bytes ? bytes : 1);
    pool_.insert(p);
    return p;
}

void SimPlatform::FreePool(void *p) {
    if (!p) return;
    if (pool_.erase(p) == 0) ++lockOrderViolations;  // freeing what is not ours is as bad
    std::free(p);
}

uint8_t SimPlatform::AcquireCancelLock() {
    if (cancelHeld_ || cardHeld_) ++lockOrderViolations;
    cancelHeld_ = true;
    return 0;
}

void SimPlatform::ReleaseCancelLock(uint8_t) { cancelHeld_ = false; }

uint8_t SimPlatform::AcquireCardLock() {
    if (cardHeld_) ++lockOrderViolations;
    cardHeld_ = true;
    return 2;
}

void SimPlatform::ReleaseCardLock(uint8_t) { cardHeld_ = false; }

bool SimPlatform::ExchangeTrackingCancel(RequestHandle request, bool install) {
    return std::exchange(SimRequest::Of(request)->cancelRoutine, install);
}

void SimPlatform::CompleteRequest(RequestHandle request, NtStatus status, uint64_t information) {
    SimRequest *r = SimRequest::Of(request);
    ++r->completions;
    r->status = status;
    r->information = information;
}

uint8_t *SimPlatform::RequestBuffer(RequestHandle request, uint32_t *inLength, uint32_t *outLength) {
    SimRequest *r = SimRequest::Of(request);
    *inLength = r->inLength;
    *outLength = r->outLength;
    return r->buffer.empty() ? nullptr : r->buffer.data();
}

NtStatus SimPlatform::RegisterReaderInterface() {
    interfaceRegistered = true;
    return kStatusSuccess;
}

NtStatus SimPlatform::SetReaderInterfaceState(bool enabled) {
    if (!interfaceRegistered) return kStatusInvalidParameter;
    interfaceEnabled = enabled;
    return kStatusSuccess;
}

}  // namespace usbsim
