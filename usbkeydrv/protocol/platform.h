// The one seam between the driver core and the system it runs on. The Windows
// build implements it with the kernel, usbd and the smart-card library
// (usbkeydrv/wdm); the tests implement it with a simulated USB token and a
// stand-in of the smart-card library (usbkeydrv/sim). One Platform object serves
// one device: its USB requests go to that device's lower driver.
#pragma once

#include <stdint.h>

#include "nt_status.h"
#include "smartcard_abi.h"

namespace usbkey {

struct ReaderDevice;
struct OpaquePipe;
using PipeHandle = OpaquePipe *;
struct OpaqueTransfer;  // a bulk transfer submitted without waiting
using TransferHandle = OpaqueTransfer *;

enum UsbEndpointType : uint8_t { kEndpointControl = 0, kEndpointIso = 1, kEndpointBulk = 2, kEndpointInterrupt = 3 };

struct PipeInfo {
    PipeHandle Handle;
    uint8_t EndpointAddress;  // bit 7 set: IN
    uint8_t Type;             // UsbEndpointType
    uint16_t MaximumPacketSize;
};

// Transfer flags of a bulk or interrupt transfer.
inline constexpr uint32_t kTransferIn = 1;        // USBD_TRANSFER_DIRECTION_IN
inline constexpr uint32_t kShortTransferOk = 2;  // USBD_SHORT_TRANSFER_OK

inline constexpr uint32_t kPortEnabled = 1;
inline constexpr uint32_t kPortConnected = 2;

using WorkRoutine = void (*)(ReaderDevice *);

class Platform {
public:
    // ---- USB (synchronous requests wait without a time-out) ----
    virtual NtStatus GetDescriptor(uint8_t type, uint8_t index, uint16_t language, void *buffer,
                                   uint32_t length, uint32_t *moved) = 0;
    // Selects the configuration with the first interface of the descriptor, every
    // pipe's maximum transfer 4096 and flags 0, and lists the pipes it opened (at
    // most capacity; *count is the number opened).
    virtual NtStatus SelectConfiguration(const uint8_t *config, uint32_t length, PipeInfo *pipes,
                                         uint32_t capacity, uint32_t *count) = 0;
    // One bulk or interrupt transfer; *moved is the number of bytes moved.
    virtual NtStatus Transfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                              uint32_t *moved) = 0;
    // Submits a transfer without waiting: kStatusPending with *transfer set to wait
    // on with WaitTransfer, or the final status when it ended at once.
    virtual NtStatus SubmitTransfer(PipeHandle pipe, uint32_t flags, void *buffer, uint32_t length,
                                    TransferHandle *transfer, uint32_t *moved) = 0;
    virtual NtStatus WaitTransfer(TransferHandle transfer, uint32_t *moved) = 0;
    virtual NtStatus ResetPipe(PipeHandle pipe) = 0;
    virtual NtStatus GetPortStatus(uint32_t *flags) = 0;
    virtual NtStatus ResetPort() = 0;

    // ---- The interrupt transfer (one reusable request per device) ----
    // Frees any previous request and allocates a new one; false when out of pool.
    virtual bool AllocateNotifyRequest() = 0;
    virtual void FreeNotifyRequest() = 0;
    virtual bool HasNotifyRequest() = 0;
    // Sends the request: an IN transfer of length bytes into buffer with the
    // short-transfer flag; Transport::NotifyCompleted runs once when it ends.
    virtual void SubmitNotifyRequest(PipeHandle pipe, void *buffer, uint32_t length) = 0;
    virtual void CancelNotifyRequest() = 0;

    // ---- Kernel services ----
    virtual void StallMicroseconds(uint32_t us) = 0;
    virtual void AcquireExchangeLock() = 0;
    virtual void ReleaseExchangeLock() = 0;
    virtual bool ExchangeLockFree() = 0;
    virtual void QueueDelayedWork(WorkRoutine routine) = 0;
    // Starts the one-second tick that calls Transport::TimerTick.
    virtual void StartTimer() = 0;
    virtual void *AllocatePool(uint32_t bytes) = 0;  // non-paged, tag "Smc "
    virtual void FreePool(void *p) = 0;
    // The I/O cancel spin lock and the smart-card library's OsData->SpinLock;
    // each answers the level to restore on release.
    virtual uint8_t AcquireCancelLock() = 0;
    virtual void ReleaseCancelLock(uint8_t irql) = 0;
    virtual uint8_t AcquireCardLock() = 0;
    virtual void ReleaseCardLock(uint8_t irql) = 0;

    // ---- Requests ----
    // Installs (install true) or removes the card-tracking cancel routine with an
    // atomic exchange; answers whether a routine was installed before.
    virtual bool ExchangeTrackingCancel(RequestHandle request, bool install) = 0;
    virtual bool RequestCancelled(RequestHandle request) = 0;
    virtual void CompleteRequest(RequestHandle request, NtStatus status, uint64_t information) = 0;
    // The system buffer of a buffered device I/O control and its two lengths.
    virtual uint8_t *RequestBuffer(RequestHandle request, uint32_t *inLength, uint32_t *outLength) = 0;

    // ---- Smart-card reader interface and library ----
    virtual NtStatus RegisterReaderInterface() = 0;
    virtual NtStatus SetReaderInterfaceState(bool enabled) = 0;
    virtual NtStatus SmartcardInitialize(SmartcardExtension *ext) = 0;
    virtual NtStatus SmartcardExit(SmartcardExtension *ext) = 0;
    virtual NtStatus SmartcardDeviceControl(SmartcardExtension *ext, RequestHandle request) = 0;
    virtual NtStatus SmartcardUpdateCardCapabilities(SmartcardExtension *ext) = 0;

protected:
    ~Platform() = default;
};

}  // namespace usbkey
