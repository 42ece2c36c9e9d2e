#include "transport.h"

#include "bytes.h"
#include "reader.h"

namespace usbkey {
namespace {

constexpr uint32_t kDescriptorDevice = 1;
constexpr uint32_t kDescriptorConfig = 2;
constexpr uint32_t kDescriptorString = 3;
constexpr uint32_t kMaxPipes = 8;

// A bulk OUT write followed by an empty packet when its length fills whole
// packets, so that the token sees where the frame ends.
NtStatus WriteBulk(ReaderDevice *d, const uint8_t *data, uint32_t length) {
    uint32_t moved = 0;
    NtStatus s = d->Ops->Transfer(d->BulkOutPipe, 0, const_cast<uint8_t *>(data), length, &moved);
    if (NtSuccess(s) && length != 0 && length % d->BulkOutMaxPacket == 0)
        s = d->Ops->Transfer(d->BulkOutPipe, 0, nullptr, 0, &moved);
    return s;
}

void SubmitNotify(ReaderDevice *d) {
    ZeroBytes(d->NotifyBuffer, sizeof d->NotifyBuffer);
    d->NotifyOutstanding = true;
    d->Ops->SubmitNotifyRequest(d->InterruptInPipe, d->NotifyBuffer, sizeof d->NotifyBuffer);
}

}  // namespace

NtStatus ConfigureUsb(ReaderDevice *d) {
    Platform *ops = d->Ops;
    uint8_t device[18];
    uint32_t moved = 0;
    NtStatus s = ops->GetDescriptor(kDescriptorDevice, 0, 0, device, sizeof device, &moved);
    if (!NtSuccess(s)) return s;
    uint8_t head[9] = {};
    s = ops->GetDescriptor(kDescriptorConfig, 0, 0, head, sizeof head, &moved);
    if (!NtSuccess(s)) return s;
    uint32_t total = LoadLe16(head + 2);
    if (moved < sizeof head || total < sizeof head) return kStatusDeviceProtocolError;
    auto *config = static_cast<uint8_t *>(ops->AllocatePool(total));
    if (!config) return kStatusInsufficientResources;
    s = ops->GetDescriptor(kDescriptorConfig, 0, 0, config, total, &moved);
    PipeInfo pipes[kMaxPipes];
    uint32_t count = 0;
    if (NtSuccess(s)) s = ops->SelectConfiguration(config, moved, pipes, kMaxPipes, &count);
    ops->FreePool(config);
    if (!NtSuccess(s)) return s;

    // The pipes are taken only when they make a usable transport, so that a
    // second start on a changed device cannot spoil a working one.
    PipeHandle out = nullptr, in = nullptr, interrupt = nullptr;
    uint32_t packet = 16;
    for (uint32_t i = 0; i < count && i < kMaxPipes; ++i) {
        const PipeInfo &p = pipes[i];
        bool isIn = (p.EndpointAddress & 0x80) != 0;
        if (!isIn && p.Type == kEndpointBulk) {
            out = p.Handle;
            packet = p.MaximumPacketSize;
        } else if (isIn && p.Type == kEndpointBulk) {
            in = p.Handle;
        } else if (isIn && p.Type == kEndpointInterrupt) {
            interrupt = p.Handle;
        }
    }
    // A device without both bulk pipes cannot carry a frame: refused like a bad
    // packet size instead of sending on a null pipe later.
    if (packet < 8 || packet > 512 || !out || !in) return kStatusAdapterHardwareError;
    d->BulkOutPipe = out;
    d->BulkInPipe = in;
    d->InterruptInPipe = interrupt;
    d->BulkOutMaxPacket = packet;
    d->Configured = true;
    return kStatusSuccess;
}

NtStatus ReaderExchange(ReaderDevice *d, uint8_t command, const uint8_t *data, uint32_t length,
                        uint8_t *reply, uint32_t capacity, uint32_t *replyLength, uint8_t *status) {
    *status = 0;
    if (replyLength) *replyLength = 0;
    if (!d->Configured) {
        *status = kReaderNotConfigured;
        return kStatusAdapterHardwareError;
    }
    if (length > kMaxFrameData || (length != 0 && !data)) return kStatusInvalidParameter;

    // The frame buffer is shared by every exchange: it is filled and read only
    // while the lock is held.
    d->Ops->AcquireExchangeLock();
    d->Frame[0] = command;
    d->Frame[1] = static_cast<uint8_t>(length & 0xFF);
    if (length) CopyBytes(d->Frame + 2, data, length);
    NtStatus s = WriteBulk(d, d->Frame, length + 2);
    uint32_t got = 0;
    if (NtSuccess(s))
        s = d->Ops->Transfer(d->BulkInPipe, kTransferIn | kShortTransferOk, d->Frame, kFrameBufferSize, &got);
    if (NtSuccess(s) && got > kFrameBufferSize) s = kStatusDeviceProtocolError;  // a platform fault
    if (NtSuccess(s) && got == 0) s = kStatusDeviceProtocolError;
    if (!NtSuccess(s)) {
        d->Ops->ReleaseExchangeLock();
        return s;
    }
    *status = d->Frame[0];
    if (*status != kReaderOk) {
        d->Ops->ReleaseExchangeLock();
        return kStatusAdapterHardwareError;
    }
    uint32_t m = got > 2 ? got - 2 : 0;
    uint32_t copied = m;
    if (!reply) copied = 0;
    else if (copied > capacity) copied = capacity;
    if (copied) CopyBytes(reply, d->Frame + 2, copied);
    d->Ops->ReleaseExchangeLock();
    if (replyLength) *replyLength = m;
    return reply && m > capacity ? kStatusBufferOverflow : kStatusSuccess;
}

NtStatus StartNotification(ReaderDevice *d, CardPacketCallback callback) {
    d->NotifyCallback = callback;
    if (d->NotifyOutstanding) {  // a second start: the running request goes on
        d->NotifyActive = true;
        return kStatusSuccess;
    }
    if (!d->Ops->AllocateNotifyRequest()) return kStatusSuccess;  // no card events; the reader still works
    d->NotifyStopped = false;
    d->NotifyActive = true;
    SubmitNotify(d);
    return kStatusSuccess;
}

void SwitchNotification(ReaderDevice *d, bool on) {
    if (!d->UseInterrupt) return;
    if (on) {
        if (!d->NotifyOutstanding && d->NotifyCallback && d->Ops->HasNotifyRequest()) {
            d->NotifyStopped = false;
            d->NotifyActive = true;
            SubmitNotify(d);
        }
    } else {
        d->NotifyActive = false;
        if (d->NotifyOutstanding) d->Ops->CancelNotifyRequest();
    }
}

void NotifyCompleted(ReaderDevice *d, NtStatus status) {
    if (!NtSuccess(status)) {
        d->NotifyOutstanding = false;
        d->NotifyActive = false;
        if (status == kStatusCancelled || d->Stopping) {
            d->NotifyStopped = true;
        } else if (!d->RecoveryQueued) {
            d->RecoveryQueued = true;
            d->Ops->QueueDelayedWork(RecoverInterruptPipe);
        }
        return;
    }
    if (!d->NotifyActive) {
        d->NotifyOutstanding = false;
        return;
    }
    if (d->NotifyCallback) d->NotifyCallback(d, d->NotifyBuffer);
    SubmitNotify(d);
}

// Busy-waits in 1 ms steps; false (early) once the device is going away, so
// that removal never waits for a recovery longer than one step.
bool StallUnlessStopping(ReaderDevice *d, uint32_t us) {
    for (uint32_t done = 0; done < us; done += 1000) {
        if (d->Stopping) return false;
        d->Ops->StallMicroseconds(us - done < 1000 ? us - done : 1000);
    }
    return !d->Stopping;
}

namespace {

void Recover(ReaderDevice *d) {
    Platform *ops = d->Ops;
    uint32_t port = 0;
    NtStatus s = ops->GetPortStatus(&port);
    if (!NtSuccess(s) || d->Stopping || !(port & kPortConnected)) return;
    if (!(port & kPortEnabled)) {
        if (!NtSuccess(ops->ResetPort())) {
            if (!StallUnlessStopping(d, 10000)) return;
            if (!NtSuccess(ops->ResetPort())) {
                if (!StallUnlessStopping(d, 3000000)) return;
                if (!NtSuccess(ops->ResetPort())) return;
            }
        }
    }
    SwitchNotification(d, false);
    if (!NtSuccess(ops->ResetPipe(d->InterruptInPipe))) {
        if (!StallUnlessStopping(d, 2000)) return;
        if (!NtSuccess(ops->ResetPipe(d->InterruptInPipe))) {
            if (!StallUnlessStopping(d, 3000000)) return;
            ops->ResetPipe(d->InterruptInPipe);
        }
    }
    if (!d->Stopping) SwitchNotification(d, true);
}

}  // namespace

void RecoverInterruptPipe(ReaderDevice *d) {
    Recover(d);
    d->RecoveryQueued = false;
}

void StartPolling(ReaderDevice *d) {
    if (d->TimerStarted) return;  // a second start keeps the running tick
    d->TimerStarted = true;
    d->Ops->StartTimer();
}

void TimerTick(ReaderDevice *d) {
    if (!d->Configured || d->PollQueued || d->Stopping) return;
    d->PollQueued = true;
    d->Ops->QueueDelayedWork(PollCardStatus);
}

void PollCardStatus(ReaderDevice *d) {
    if (!d->Stopping && d->Ops->ExchangeLockFree()) {
        uint8_t card[1] = {};
        uint8_t status = 0;
        uint32_t n = 0;
        NtStatus s = ReaderExchange(d, kCmdCardStatus, nullptr, 0, card, sizeof card, &n, &status);
        if ((NtSuccess(s) || s == kStatusBufferOverflow) && n >= 1) {
            if (card[0] & 0x0A)
                ReportCardAbsent(d);
            else
                ReportCardPresent(d);
        }
    }
    d->PollQueued = false;
}

NtStatus PrepareForSleep(ReaderDevice *d) {
    SwitchNotification(d, false);
    const uint8_t notice = 0x01;
    uint8_t status = 0;
    return ReaderExchange(d, kCmdSleepNotice, &notice, 1, nullptr, 0, nullptr, &status);
}

void ResumeCardEvents(ReaderDevice *d) {
    if (d->UseInterrupt) SwitchNotification(d, true);
}

void StopCardEvents(ReaderDevice *d) {
    d->Stopping = true;
    if (d->UseInterrupt) {
        d->NotifyActive = false;
        if (d->NotifyOutstanding) d->Ops->CancelNotifyRequest();
    }
    // The interrupt request gets 3 s to come back. A queued poll or recovery is
    // always waited for: it would otherwise run on a deleted device, and with
    // Stopping set it ends at its next step.
    for (int step = 0; (step < 3000 && d->NotifyOutstanding) || d->PollQueued || d->RecoveryQueued; ++step)
        d->Ops->StallMicroseconds(1000);
    // A request still with the USB stack after 3 s is left allocated rather
    // than freed under it.
    if (!d->NotifyOutstanding) d->Ops->FreeNotifyRequest();
}

NtStatus RawPipeRequest(ReaderDevice *d, uint32_t code, uint8_t *buffer, uint32_t inLength,
                        uint32_t outLength, uint64_t *information) {
    *information = 0;
    Platform *ops = d->Ops;
    uint32_t moved = 0;
    NtStatus s;
    switch (code) {
    case kIoctlReaderGetString:
        if (inLength < 1 || !buffer) return kStatusInvalidParameter;
        s = ops->GetDescriptor(kDescriptorString, buffer[0], 0x0409, buffer, outLength, &moved);
        break;
    case kIoctlReaderExchange: {
        if (!d->BulkInPipe || !d->BulkOutPipe) return kStatusInvalidDeviceRequest;
        ops->AcquireExchangeLock();
        TransferHandle read = nullptr;
        NtStatus r = ops->SubmitTransfer(d->BulkInPipe, kTransferIn | kShortTransferOk, buffer, outLength,
                                         &read, &moved);
        NtStatus w = WriteBulk(d, buffer, inLength);
        s = w;
        if (r == kStatusPending) s = ops->WaitTransfer(read, &moved);
        ops->ReleaseExchangeLock();
        break;
    }
    case kIoctlReaderRead:
        if (!d->BulkInPipe) return kStatusInvalidDeviceRequest;
        s = ops->Transfer(d->BulkInPipe, kTransferIn | kShortTransferOk, buffer, outLength, &moved);
        break;
    case kIoctlReaderReadInterrupt:
        if (!d->InterruptInPipe) return kStatusInvalidDeviceRequest;
        s = ops->Transfer(d->InterruptInPipe, kTransferIn | kShortTransferOk, buffer, outLength, &moved);
        break;
    case kIoctlReaderWrite:
        if (!d->BulkOutPipe) return kStatusInvalidDeviceRequest;
        return WriteBulk(d, buffer, inLength);
    default:
        return kStatusNotImplemented;
    }
    if (moved > outLength) moved = outLength;
    *information = moved;
    return s;
}

}  // namespace usbkey
