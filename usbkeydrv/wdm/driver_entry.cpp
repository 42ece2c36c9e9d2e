// The Windows driver frame: driver entry with its two registry values, device
// objects, dispatch, Plug and Play and power. The decisions are the portable
// frame steps of frame.cpp; this file only carries requests to and from them.
#include <new>

#include "frame.h"
#include "kernel_headers.h"
#include "reader.h"
#include "transport.h"
#include "wdm_platform.h"

using namespace usbkey;

namespace {

// Driver-wide values: plain data, zero at load (no constructor runs in the kernel).
DriverState g_driver;
PDRIVER_OBJECT g_driverObject;

PCWSTR Wide(const char16_t *s) { return reinterpret_cast<PCWSTR>(s); }

class WdmFrameServices final : public FrameServices {
public:
    NtStatus CreateLink(const char16_t *link, const char16_t *target) override {
        UNICODE_STRING l, t;
        RtlInitUnicodeString(&l, Wide(link));
        RtlInitUnicodeString(&t, Wide(target));
        return IoCreateSymbolicLink(&l, &t);
    }
    NtStatus DeleteLink(const char16_t *link) override {
        UNICODE_STRING l;
        RtlInitUnicodeString(&l, Wide(link));
        return IoDeleteSymbolicLink(&l);
    }
    NtStatus CreateDevice(void *physicalDevice, const char16_t *name, bool exclusive, ReaderDevice **out) override;
};

VOID NTAPI TimerRoutine(PDEVICE_OBJECT, PVOID context) { TimerTick(static_cast<ReaderDevice *>(context)); }

NtStatus WdmFrameServices::CreateDevice(void *physicalDevice, const char16_t *name, bool exclusive,
                                        ReaderDevice **out) {
    UNICODE_STRING deviceName;
    if (name) RtlInitUnicodeString(&deviceName, Wide(name));
    PDEVICE_OBJECT self = nullptr;
    NTSTATUS s = IoCreateDevice(g_driverObject, sizeof(WdmDevice), name ? &deviceName : nullptr,
                                FILE_DEVICE_SMARTCARD, 0, exclusive ? TRUE : FALSE, &self);
    if (!NT_SUCCESS(s)) return s;
    auto *w = WdmDeviceOf(self);
    RtlZeroMemory(w, sizeof *w);
    auto *physical = static_cast<PDEVICE_OBJECT>(physicalDevice);
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(self, physical);
    if (!lower) {
        IoDeleteDevice(self);
        return STATUS_NO_SUCH_DEVICE;
    }
    new (&w->Platform) WdmPlatform(&w->Reader, self, lower, physical);
    InitReaderDevice(&w->Reader, &w->Platform, &g_driver.Units);
    w->Reader.DeviceObject = self;
    self->Flags |= lower->Flags & DO_POWER_PAGABLE;
    self->Flags &= ~DO_DEVICE_INITIALIZING;
    IoInitializeTimer(self, TimerRoutine, &w->Reader);
    *out = &w->Reader;
    return STATUS_SUCCESS;
}

NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PassDown(WdmDevice *w, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(w->Platform.Lower(), irp);
}

NTSTATUS PassPowerDown(WdmDevice *w, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(w->Platform.Lower(), irp);
}

NTSTATUS NTAPI SignalEvent(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ForwardAndWait(WdmDevice *w, PIRP irp) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalEvent, &event, TRUE, TRUE, TRUE);
    NTSTATUS s = IoCallDriver(w->Platform.Lower(), irp);
    if (s == STATUS_PENDING) KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp) { return CompleteIrp(irp, STATUS_SUCCESS, 0); }

NTSTATUS NTAPI DispatchDeviceControlIrp(PDEVICE_OBJECT device, PIRP irp) {
    WdmDevice *w = WdmDeviceOf(device);
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    return DispatchDeviceControl(&w->Reader, code, reinterpret_cast<RequestHandle>(irp));
}

NTSTATUS NTAPI DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    return PassDown(WdmDeviceOf(device), irp);
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    WdmDevice *w = WdmDeviceOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS s = ForwardAndWait(w, irp);
        if (NT_SUCCESS(s)) s = StartDevice(&w->Reader);  // a failed lower start is not built on
        return CompleteIrp(irp, s, 0);
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        NTSTATUS s = ForwardAndWait(w, irp);
        if (NT_SUCCESS(s) && stack->Parameters.DeviceCapabilities.Capabilities)
            stack->Parameters.DeviceCapabilities.Capabilities->SurpriseRemovalOK = TRUE;
        irp->IoStatus.Status = s;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return s;
    }
    case IRP_MN_SURPRISE_REMOVAL:
        SurpriseRemoval(&w->Reader);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(w, irp);
    case IRP_MN_REMOVE_DEVICE: {
        RemoveBeforeForward(&w->Reader);
        NTSTATUS s = ForwardAndWait(w, irp);
        WdmFrameServices services;
        RemoveAfterForward(&services, &w->Reader);
        w->Platform.ReleaseInterfaceName();
        PDEVICE_OBJECT lower = w->Platform.Lower();
        irp->IoStatus.Status = s;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return s;
    }
    default:
        return PassDown(w, irp);
    }
}

// ---- Power ----

// The device power request has ended: the held system request goes down.
VOID NTAPI DevicePowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK) {
    auto *w = static_cast<WdmDevice *>(context);
    PIRP held = reinterpret_cast<PIRP>(w->Reader.HeldSystemPowerRequest);
    w->Reader.HeldSystemPowerRequest = nullptr;
    if (held) PassPowerDown(w, held);
}

void BackInD0Work(ReaderDevice *device) { DeviceBackInD0(device); }

NTSTATUS NTAPI D0Done(PDEVICE_OBJECT device, PIRP irp, PVOID) {
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    WdmDevice *w = WdmDeviceOf(device);
    // The card-state refresh exchanges frames, which needs passive level.
    if (KeGetCurrentIrql() == PASSIVE_LEVEL)
        DeviceBackInD0(&w->Reader);
    else
        w->Platform.QueueWork(BackInD0Work);
    PoStartNextPowerIrp(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    WdmDevice *w = WdmDeviceOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    if (stack->MinorFunction != IRP_MN_SET_POWER) return PassPowerDown(w, irp);

    if (stack->Parameters.Power.Type == SystemPowerState) {
        uint32_t wanted = 0;
        if (!SystemPowerNeedsDeviceRequest(&w->Reader, stack->Parameters.Power.State.SystemState, &wanted))
            return PassPowerDown(w, irp);
        w->Reader.HeldSystemPowerRequest = reinterpret_cast<RequestHandle>(irp);
        IoMarkIrpPending(irp);
        POWER_STATE state;
        state.DeviceState = static_cast<DEVICE_POWER_STATE>(wanted);
        NTSTATUS s = PoRequestPowerIrp(w->Platform.Physical(), IRP_MN_SET_POWER, state, DevicePowerDone, w, nullptr);
        if (!NT_SUCCESS(s)) {
            // No device request will come back for it: the held request ends here.
            w->Reader.HeldSystemPowerRequest = nullptr;
            PoStartNextPowerIrp(irp);
            irp->IoStatus.Status = s;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        }
        return STATUS_PENDING;
    }

    uint32_t state = stack->Parameters.Power.State.DeviceState;
    if (state == kPowerD0) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, D0Done, nullptr, TRUE, TRUE, TRUE);
        return PoCallDriver(w->Platform.Lower(), irp);
    }
    EnterDeviceState(&w->Reader, state);
    return PassPowerDown(w, irp);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT physical) {
    WdmFrameServices services;
    ReaderDevice *device = nullptr;
    return AddReaderDevice(&g_driver, &services, physical, &device);
}

VOID NTAPI DriverUnload(PDRIVER_OBJECT) {}

// Reads one DWORD of the service key; absent values read as 0.
NTSTATUS QueryDword(PUNICODE_STRING registryPath, PCWSTR name, ULONG *value) {
    ULONG zero = 0;
    *value = 0;
    RTL_QUERY_REGISTRY_TABLE table[2];
    RtlZeroMemory(table, sizeof table);
    // The type check keeps a value of another type from being written into the ULONG.
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = const_cast<PWSTR>(name);
    table[0].EntryContext = value;
    table[0].DefaultType = (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_DWORD;
    table[0].DefaultData = &zero;
    table[0].DefaultLength = sizeof zero;
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, registryPath->Buffer, table,
                                  nullptr, nullptr);
}

}  // namespace

// The core's pure virtual slots are all filled; this only satisfies the linker.
extern "C" void __cxa_pure_virtual() { KeBugCheckEx(0xDEADC0DE, 0, 0, 0, 0); }

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    g_driverObject = driver;
    ULONG startType = 0, noPcsc = 0;
    NTSTATUS startTypeStatus = QueryDword(registryPath, L"StartType", &startType);
    if (startTypeStatus != STATUS_OBJECT_NAME_NOT_FOUND) QueryDword(registryPath, L"NoPCSC", &noPcsc);
    ApplyRegistryOptions(&g_driver, startTypeStatus, startType, noPcsc);

    driver->DriverUnload = DriverUnload;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControlIrp;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    return STATUS_SUCCESS;
}
