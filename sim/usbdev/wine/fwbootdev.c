/* fwbootdev.sys: a stand-in for the boot-loader device's driver, for running the
 * Windows fwflash under wine only (wine hosts drivers in a user process, so this
 * one may reach the simulator through winsock; a real kernel could not load it).
 * It forwards every device I/O control of "\\.\ClsReaderB07r00" to nki-vusb on
 * 127.0.0.1 (port: the DWORD "Port" of the service's registry key). As a device
 * that arrives and leaves with the token's restarts, the name exists only while
 * the simulated token is in its boot loader: a thread asks nki-vusb every 100 ms
 * and makes or removes the name's symbolic link (wine does not fail an open on
 * the driver's answer to the create request). Wire: vusb_protocol.h ('O' open,
 * 'I' control). */
#include <ddk/wdm.h>

/* The few winsock calls used, declared here: winsock2.h does not mix with wdm.h. */
typedef unsigned long long WsSocket;
struct WsAddress {
    short family;
    unsigned short port;
    unsigned long address;
    char zero[8];
};
__declspec(dllimport) int __stdcall WSAStartup(unsigned short version, void *data);
__declspec(dllimport) WsSocket __stdcall socket(int af, int type, int protocol);
__declspec(dllimport) int __stdcall connect(WsSocket s, const struct WsAddress *address, int length);
__declspec(dllimport) int __stdcall send(WsSocket s, const char *p, int n, int flags);
__declspec(dllimport) int __stdcall recv(WsSocket s, char *p, int n, int flags);
__declspec(dllimport) int __stdcall closesocket(WsSocket s);

NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

#define WS_INVALID_SOCKET (~(WsSocket)0)
#define MAX_MESSAGE 4096

static unsigned short g_port;
static UNICODE_STRING g_device = RTL_CONSTANT_STRING(L"\\Device\\ClsReaderB07r00");
static UNICODE_STRING g_link = RTL_CONSTANT_STRING(L"\\DosDevices\\ClsReaderB07r00");
static HANDLE g_poller;
static volatile LONG g_stop;
static int g_linked;

static void Put32(unsigned char *p, ULONG v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

static ULONG Get32(const unsigned char *p) {
    return (ULONG)p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24;
}

static int SendAll(WsSocket s, const unsigned char *p, ULONG n) {
    while (n > 0) {
        int k = send(s, (const char *)p, (int)n, 0);
        if (k <= 0) return 0;
        p += k;
        n -= (ULONG)k;
    }
    return 1;
}

static int ReceiveAll(WsSocket s, unsigned char *p, ULONG n) {
    while (n > 0) {
        int k = recv(s, (char *)p, (int)n, 0);
        if (k <= 0) return 0;
        p += k;
        n -= (ULONG)k;
    }
    return 1;
}

/* Sends the request in message + 4 (length bytes); the reply replaces it.
 * Answers the reply's length, or -1 when the simulator cannot be reached. */
static long Exchange(unsigned char *message, ULONG length) {
    struct WsAddress a;
    WsSocket s;
    long n = -1;
    if (g_port == 0 || length > MAX_MESSAGE) return -1;
    s = socket(2 /* AF_INET */, 1 /* SOCK_STREAM */, 6 /* TCP */);
    if (s == WS_INVALID_SOCKET) return -1;
    RtlZeroMemory(&a, sizeof a);
    a.family = 2;
    a.port = (unsigned short)((g_port >> 8) | (g_port << 8));
    a.address = 0x0100007F; /* 127.0.0.1 */
    Put32(message, length);
    if (connect(s, &a, sizeof a) == 0 && SendAll(s, message, 4 + length) && ReceiveAll(s, message, 4)) {
        ULONG r = Get32(message);
        if (r >= 4 && r <= MAX_MESSAGE && ReceiveAll(s, message + 4, r)) n = (long)r;
    }
    closesocket(s);
    return n;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* True when the simulated token is in its boot loader. */
static int DevicePresent(void) {
    static const char name[] = "ClsReaderB07r00";
    unsigned char message[64];
    message[4] = 'O';
    RtlCopyMemory(message + 5, name, sizeof name - 1);
    return Exchange(message, sizeof name) >= 4 && Get32(message + 4) == 0;
}

static void Poll(void *context) {
    LARGE_INTEGER interval;
    (void)context;
    interval.QuadPart = -1000000; /* 100 ms */
    while (!g_stop) {
        int present = DevicePresent();
        if (present && !g_linked) g_linked = NT_SUCCESS(IoCreateSymbolicLink(&g_link, &g_device));
        else if (!present && g_linked) g_linked = !NT_SUCCESS(IoDeleteSymbolicLink(&g_link));
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return Complete(irp, DevicePresent() ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE, 0);
}

static NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    unsigned char *buffer = irp->AssociatedIrp.SystemBuffer;
    static unsigned char message[4 + MAX_MESSAGE]; /* one request at a time */
    long n;
    (void)device;
    if ((code & 3) != METHOD_BUFFERED || in > MAX_MESSAGE - 5 || (in && !buffer))
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    message[4] = 'I';
    Put32(message + 5, code);
    if (in) RtlCopyMemory(message + 9, buffer, in);
    n = Exchange(message, 5 + in);
    if (n < 4 || Get32(message + 4) != 0) return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    if ((ULONG)(n - 4) > out) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    if (n > 4) RtlCopyMemory(buffer, message + 8, (ULONG)(n - 4));
    return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)(n - 4));
}

static void Unload(PDRIVER_OBJECT driver) {
    g_stop = 1;
    if (g_poller) {
        ZwWaitForSingleObject(g_poller, FALSE, NULL);
        ZwClose(g_poller);
    }
    if (g_linked) IoDeleteSymbolicLink(&g_link);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

static unsigned short ReadPort(PUNICODE_STRING registryPath) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING value = RTL_CONSTANT_STRING(L"Port");
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        unsigned char space[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } data;
    ULONG length = 0;
    unsigned short port = 0;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return 0;
    if (NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, &data, sizeof data, &length)) &&
        data.info.Type == REG_DWORD && data.info.DataLength == 4)
        port = (unsigned short)Get32(data.info.Data);
    ZwClose(key);
    return port;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    PDEVICE_OBJECT device;
    unsigned char wsa[512];
    NTSTATUS status;
    g_port = ReadPort(registryPath);
    if (WSAStartup(0x0202, wsa) != 0) return STATUS_UNSUCCESSFUL;
    status = IoCreateDevice(driver, 0, &g_device, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    status = PsCreateSystemThread(&g_poller, THREAD_ALL_ACCESS, NULL, NULL, NULL, Poll, NULL);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
