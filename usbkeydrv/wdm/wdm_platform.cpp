#include "wdm_platform.h"

#include "reader.h"
#include "smclib_imports.h"
#include "transport.h"

namespace usbkey {
namespace {

constexpr ULONG kPoolTag = ' cmS';  // shows as "Smc " in pool listings
constexpr ULONG kMaxTransfer = 4096;

const GUID kSmartcardReaderInterface = {0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};

VOID NTAPI TrackingCancelRoutine(PDEVICE_OBJECT device, PIRP irp) {
    TrackingCancel(&WdmDeviceOf(device)->Reader, irp->CancelIrql);
}

// A transfer submitted without waiting: its request, URB and the event its
// completion sets.
struct PendingTransfer {
    PIRP Irp;
    KEVENT Done;
    URB Urb;
};

NTSTATUS NTAPI SignalDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

WdmPlatform::WdmPlatform(ReaderDevice *device, PDEVICE_OBJECT self, PDEVICE_OBJECT lower, PDEVICE_OBJECT physical)
    : device_(device), self_(self), lower_(lower), physical_(physical) {
    ExInitializeFastMutex(&exchangeLock_);
    RtlZeroMemory(work_, sizeof work_);
    RtlZeroMemory(&interfaceName_, sizeof interfaceName_);
}

NTSTATUS WdmPlatform::CallLowerSync(ULONG code, PVOID argument) {
    KEVENT event;
    IO_STATUS_BLOCK io;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, lower_, nullptr, 0, nullptr, 0, TRUE, &event, &io);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS s = IoCallDriver(lower_, irp);
    if (s == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        s = io.Status;
    }
    return s;
}

NtStatus WdmPlatform::GetDescriptor(uint8_t type, uint8_t index, uint16_t language, void *buffer, uint32_t length,
                                    uint32_t *moved) {
    URB urb;
    RtlZeroMemory(&urb, sizeof urb);
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, index, language,
                                 buffer, nullptr, length, nullptr);
    NTSTATUS s = SubmitUrbSync(&urb);
    *moved = NT_SUCCESS(s) ? urb.UrbControlDescriptorRequest.TransferBufferLength : 0;
    return s;
}

NtStatus WdmPlatform::SelectConfiguration(const uint8_t *config, uint32_t, PipeInfo *pipes, uint32_t capacity,
                                          uint32_t *count) {
    *count = 0;
    auto *descriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(const_cast<uint8_t *>(config));
    PUSB_INTERFACE_DESCRIPTOR iface = USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, -1, -1, -1, -1, -1);
    if (!iface) return STATUS_DEVICE_CONFIGURATION_ERROR;
    USBD_INTERFACE_LIST_ENTRY list[2];
    RtlZeroMemory(list, sizeof list);
    list[0].InterfaceDescriptor = iface;
    PURB urb = USBD_CreateConfigurationRequestEx(descriptor, list);
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    PUSBD_INTERFACE_INFORMATION info = list[0].Interface;
    for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
        info->Pipes[i].MaximumTransferSize = kMaxTransfer;
        info->Pipes[i].PipeFlags = 0;
    }
    NTSTATUS s = SubmitUrbSync(urb);
    if (NT_SUCCESS(s)) {
        for (ULONG i = 0; i < info->NumberOfPipes && *count < capacity; ++i) {
            const USBD_PIPE_INFORMATION &p = info->Pipes[i];
            pipes[(*count)++] = PipeInfo{reinterpret_cast<PipeHandle>(p.PipeHandle), p.EndpointAddress,
                                         static_cast<uint8_t>(p.PipeType), p.MaximumPacketSize};
        }
    }
    ExFreePool(urb);
    return s;
}

NtStatus WdmPlatform::Transfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length, uint32_t *moved) {
    URB urb;
    RtlZeroMemory(&urb, sizeof urb);
    UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                           reinterpret_cast<USBD_PIPE_HANDLE>(pipe), buffer, nullptr, length,
                                           flags, nullptr);
    NTSTATUS s = SubmitUrbSync(&urb);
    *moved = NT_SUCCESS(s) ? urb.UrbBulkOrInterruptTransfer.TransferBufferLength : 0;
    return s;
}

NtStatus WdmPlatform::SubmitTransfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                                     TransferHandle *transfer, uint32_t *moved) {
    *moved = 0;
    auto *t = static_cast<PendingTransfer *>(ExAllocatePoolWithTag(NonPagedPool, sizeof(PendingTransfer), kPoolTag));
    if (!t) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(t, sizeof *t);
    t->Irp = IoAllocateIrp(static_cast<CCHAR>(lower_->StackSize + 1), FALSE);
    if (!t->Irp) {
        ExFreePool(t);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KeInitializeEvent(&t->Done, NotificationEvent, FALSE);
    UsbBuildInterruptOrBulkTransferRequest(&t->Urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                           reinterpret_cast<USBD_PIPE_HANDLE>(pipe), buffer, nullptr, length,
                                           flags, nullptr);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(t->Irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &t->Urb;
    IoSetCompletionRoutine(t->Irp, SignalDone, &t->Done, TRUE, TRUE, TRUE);
    NTSTATUS s = IoCallDriver(lower_, t->Irp);
    if (s == STATUS_PENDING) {
        *transfer = reinterpret_cast<TransferHandle>(t);
        return s;
    }
    KeWaitForSingleObject(&t->Done, Executive, KernelMode, FALSE, nullptr);
    s = t->Irp->IoStatus.Status;
    *moved = NT_SUCCESS(s) ? t->Urb.UrbBulkOrInterruptTransfer.TransferBufferLength : 0;
    IoFreeIrp(t->Irp);
    ExFreePool(t);
    return s;
}

NtStatus WdmPlatform::WaitTransfer(TransferHandle transfer, uint32_t *moved) {
    auto *t = reinterpret_cast<PendingTransfer *>(transfer);
    KeWaitForSingleObject(&t->Done, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS s = t->Irp->IoStatus.Status;
    *moved = NT_SUCCESS(s) ? t->Urb.UrbBulkOrInterruptTransfer.TransferBufferLength : 0;
    IoFreeIrp(t->Irp);
    ExFreePool(t);
    return s;
}

NtStatus WdmPlatform::ResetPipe(PipeHandle pipe) {
    URB urb;
    RtlZeroMemory(&urb, sizeof urb);
    urb.UrbPipeRequest.Hdr.Length = sizeof(struct _URB_PIPE_REQUEST);
    urb.UrbPipeRequest.Hdr.Function = URB_FUNCTION_RESET_PIPE;
    urb.UrbPipeRequest.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(pipe);
    return SubmitUrbSync(&urb);
}

NtStatus WdmPlatform::GetPortStatus(uint32_t *flags) {
    ULONG port = 0;
    NTSTATUS s = CallLowerSync(IOCTL_INTERNAL_USB_GET_PORT_STATUS, &port);
    *flags = port;
    return s;
}

NtStatus WdmPlatform::ResetPort() { return CallLowerSync(IOCTL_INTERNAL_USB_RESET_PORT, nullptr); }

bool WdmPlatform::AllocateNotifyRequest() {
    FreeNotifyRequest();
    notifyIrp_ = IoAllocateIrp(static_cast<CCHAR>(lower_->StackSize + 1), FALSE);
    notifyUrb_ = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(URB), kPoolTag));
    if (!notifyIrp_ || !notifyUrb_) {
        FreeNotifyRequest();
        return false;
    }
    return true;
}

void WdmPlatform::FreeNotifyRequest() {
    if (notifyIrp_) IoFreeIrp(notifyIrp_);
    if (notifyUrb_) ExFreePool(notifyUrb_);
    notifyIrp_ = nullptr;
    notifyUrb_ = nullptr;
}

NTSTATUS NTAPI WdmPlatform::NotifyDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto *self = static_cast<WdmPlatform *>(context);
    NotifyCompleted(self->device_, irp->IoStatus.Status);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the request stays with the driver
}

void WdmPlatform::SubmitNotifyRequest(PipeHandle pipe, void *buffer, uint32_t length) {
    RtlZeroMemory(notifyUrb_, sizeof(URB));
    UsbBuildInterruptOrBulkTransferRequest(notifyUrb_, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                           reinterpret_cast<USBD_PIPE_HANDLE>(pipe), buffer, nullptr, length,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, nullptr);
    IoReuseIrp(notifyIrp_, STATUS_SUCCESS);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(notifyIrp_);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = notifyUrb_;
    IoSetCompletionRoutine(notifyIrp_, NotifyDone, this, TRUE, TRUE, TRUE);
    IoCallDriver(lower_, notifyIrp_);
}

void WdmPlatform::CancelNotifyRequest() {
    if (notifyIrp_) IoCancelIrp(notifyIrp_);
}

void WdmPlatform::StallMicroseconds(uint32_t us) {
    // The processor is stalled in slices the kernel accepts (at most 50 us each).
    for (uint32_t done = 0; done < us; done += 50) KeStallExecutionProcessor(50);
}

void WdmPlatform::AcquireExchangeLock() {
    KeEnterCriticalRegion();
    ExAcquireFastMutexUnsafe(&exchangeLock_);
}

void WdmPlatform::ReleaseExchangeLock() {
    ExReleaseFastMutexUnsafe(&exchangeLock_);
    KeLeaveCriticalRegion();
}

bool WdmPlatform::ExchangeLockFree() { return exchangeLock_.Count == FM_LOCK_BIT; }

VOID NTAPI WdmPlatform::RunWork(PVOID context) {
    auto *slot = static_cast<WorkSlot *>(context);
    WorkRoutine routine = slot->Routine;
    InterlockedExchange(&slot->Queued, 0);
    routine(slot->Owner->device_);
}

void WdmPlatform::QueueWork(WorkRoutine routine) {
    for (WorkSlot &slot : work_) {
        if (slot.Routine && slot.Routine != routine) continue;
        if (InterlockedCompareExchange(&slot.Queued, 1, 0) != 0) return;  // already on its way
        slot.Owner = this;
        slot.Routine = routine;
        ExInitializeWorkItem(&slot.Item, RunWork, &slot);
        ExQueueWorkItem(&slot.Item, DelayedWorkQueue);
        return;
    }
}

void WdmPlatform::QueueDelayedWork(WorkRoutine routine) { QueueWork(routine); }

void WdmPlatform::StartTimer() {
    if (timerStarted_) return;
    timerStarted_ = true;
    IoStartTimer(self_);  // initialised with the device object
}

void *WdmPlatform::AllocatePool(uint32_t bytes) { return ExAllocatePoolWithTag(NonPagedPool, bytes, kPoolTag); }

void WdmPlatform::FreePool(void *p) {
    if (p) ExFreePool(p);
}

uint8_t WdmPlatform::AcquireCancelLock() {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    return irql;
}

void WdmPlatform::ReleaseCancelLock(uint8_t irql) { IoReleaseCancelSpinLock(irql); }

uint8_t WdmPlatform::AcquireCardLock() {
    return KeAcquireSpinLockRaiseToDpc(reinterpret_cast<PKSPIN_LOCK>(&device_->Smartcard.OsData->SpinLock));
}

void WdmPlatform::ReleaseCardLock(uint8_t irql) {
    KeReleaseSpinLock(reinterpret_cast<PKSPIN_LOCK>(&device_->Smartcard.OsData->SpinLock), irql);
}

bool WdmPlatform::ExchangeTrackingCancel(RequestHandle request, bool install) {
    PIRP irp = reinterpret_cast<PIRP>(request);
    return IoSetCancelRoutine(irp, install ? TrackingCancelRoutine : nullptr) != nullptr;
}

bool WdmPlatform::RequestCancelled(RequestHandle request) { return reinterpret_cast<PIRP>(request)->Cancel; }

void WdmPlatform::CompleteRequest(RequestHandle request, NtStatus status, uint64_t information) {
    PIRP irp = reinterpret_cast<PIRP>(request);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

uint8_t *WdmPlatform::RequestBuffer(RequestHandle request, uint32_t *inLength, uint32_t *outLength) {
    PIRP irp = reinterpret_cast<PIRP>(request);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    *inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    *outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    return static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
}

NtStatus WdmPlatform::RegisterReaderInterface() {
    return IoRegisterDeviceInterface(physical_, &kSmartcardReaderInterface, nullptr, &interfaceName_);
}

NtStatus WdmPlatform::SetReaderInterfaceState(bool enabled) {
    if (!interfaceName_.Buffer) return STATUS_INVALID_DEVICE_STATE;
    return IoSetDeviceInterfaceState(&interfaceName_, enabled ? TRUE : FALSE);
}

void WdmPlatform::ReleaseInterfaceName() {
    if (interfaceName_.Buffer) RtlFreeUnicodeString(&interfaceName_);
    RtlZeroMemory(&interfaceName_, sizeof interfaceName_);
}

NtStatus WdmPlatform::SmartcardInitialize(SmartcardExtension *ext) { return ::SmartcardInitialize(ext); }

NtStatus WdmPlatform::SmartcardExit(SmartcardExtension *ext) {
    ::SmartcardExit(ext);
    return STATUS_SUCCESS;
}

NtStatus WdmPlatform::SmartcardDeviceControl(SmartcardExtension *ext, RequestHandle request) {
    return ::SmartcardDeviceControl(ext, reinterpret_cast<PIRP>(request));
}

NtStatus WdmPlatform::SmartcardUpdateCardCapabilities(SmartcardExtension *ext) {
    return ::SmartcardUpdateCardCapabilities(ext);
}

}  // namespace usbkey
