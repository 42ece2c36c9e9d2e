// The platform of one reader device on Windows: URBs to the lower driver, the
// kernel's locks, work items and timer, and the smart-card library.
#pragma once

#include "kernel_headers.h"
#include "platform.h"
#include "reader_device.h"

namespace usbkey {

class WdmPlatform;

// One deferred-work slot: a kernel work item that runs a core routine.
struct WorkSlot {
    WORK_QUEUE_ITEM Item;
    WdmPlatform *Owner;
    WorkRoutine Routine;
    volatile LONG Queued;
};

class WdmPlatform final : public Platform {
public:
    WdmPlatform(ReaderDevice *device, PDEVICE_OBJECT self, PDEVICE_OBJECT lower, PDEVICE_OBJECT physical);

    NtStatus GetDescriptor(uint8_t type, uint8_t index, uint16_t language, void *buffer, uint32_t length,
                           uint32_t *moved) override;
    NtStatus SelectConfiguration(const uint8_t *config, uint32_t length, PipeInfo *pipes, uint32_t capacity,
                                 uint32_t *count) override;
    NtStatus Transfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length, uint32_t *moved) override;
    NtStatus SubmitTransfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                            TransferHandle *transfer, uint32_t *moved) override;
    NtStatus WaitTransfer(TransferHandle transfer, uint32_t *moved) override;
    NtStatus ResetPipe(PipeHandle pipe) override;
    NtStatus GetPortStatus(uint32_t *flags) override;
    NtStatus ResetPort() override;
    bool AllocateNotifyRequest() override;
    void FreeNotifyRequest() override;
    bool HasNotifyRequest() override { return notifyIrp_ != nullptr; }
    void SubmitNotifyRequest(PipeHandle pipe, void *buffer, uint32_t length) override;
    void CancelNotifyRequest() override;
    void StallMicroseconds(uint32_t us) override;
    void AcquireExchangeLock() override;
    void ReleaseExchangeLock() override;
    bool ExchangeLockFree() override;
    void QueueDelayedWork(WorkRoutine routine) override;
    void StartTimer() override;
    void *AllocatePool(uint32_t bytes) override;
    void FreePool(void *p) override;
    uint8_t AcquireCancelLock() override;
    void ReleaseCancelLock(uint8_t irql) override;
    uint8_t AcquireCardLock() override;
    void ReleaseCardLock(uint8_t irql) override;
    bool ExchangeTrackingCancel(RequestHandle request, bool install) override;
    bool RequestCancelled(RequestHandle request) override;
    void CompleteRequest(RequestHandle request, NtStatus status, uint64_t information) override;
    uint8_t *RequestBuffer(RequestHandle request, uint32_t *inLength, uint32_t *outLength) override;
    NtStatus RegisterReaderInterface() override;
    NtStatus SetReaderInterfaceState(bool enabled) override;
    NtStatus SmartcardInitialize(SmartcardExtension *ext) override;
    NtStatus SmartcardExit(SmartcardExtension *ext) override;
    NtStatus SmartcardDeviceControl(SmartcardExtension *ext, RequestHandle request) override;
    NtStatus SmartcardUpdateCardCapabilities(SmartcardExtension *ext) override;

    // Sends an internal device control with one argument and waits for it.
    NTSTATUS CallLowerSync(ULONG code, PVOID argument);
    NTSTATUS SubmitUrbSync(PURB urb) { return CallLowerSync(IOCTL_INTERNAL_USB_SUBMIT_URB, urb); }
    // Runs routine at passive level on the delayed work queue (used by the frame too).
    void QueueWork(WorkRoutine routine);
    void ReleaseInterfaceName();

    ReaderDevice *Device() const { return device_; }
    PDEVICE_OBJECT Self() const { return self_; }
    PDEVICE_OBJECT Lower() const { return lower_; }
    PDEVICE_OBJECT Physical() const { return physical_; }

private:
    static NTSTATUS NTAPI NotifyDone(PDEVICE_OBJECT, PIRP irp, PVOID context);
    static VOID NTAPI RunWork(PVOID context);

    ReaderDevice *device_;
    PDEVICE_OBJECT self_, lower_, physical_;
    FAST_MUTEX exchangeLock_;
    PIRP notifyIrp_ = nullptr;
    PURB notifyUrb_ = nullptr;
    WorkSlot work_[3];
    UNICODE_STRING interfaceName_;
    bool timerStarted_ = false;
};

// The device extension: the core's record first (it begins with the smart-card
// library's record), then the platform.
struct WdmDevice {
    ReaderDevice Reader;
    WdmPlatform Platform;
};

inline WdmDevice *WdmDeviceOf(PDEVICE_OBJECT device) { return static_cast<WdmDevice *>(device->DeviceExtension); }

}  // namespace usbkey
