// The smart-card driver library's record as this driver sees it: our own
// declaration of the library's device record (SmartcardExtension) and of the
// smart-card class constants, written in fixed-width types so that the same
// declaration serves the Windows build and the Linux tests.
//
// Layout: x64 (8-byte pointers, 4-byte ULONG), natural alignment. The offsets
// this driver and the library share are the ones pinned by the static_asserts at
// the end; they follow the library's published record, but only loading the
// driver beside the real library on Windows can confirm them (see README.md).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "nt_status.h"

namespace usbkey {

struct OpaqueRequest;  // an I/O request packet, never looked into by the core
using RequestHandle = OpaqueRequest *;

inline constexpr uint32_t kMaxAttrString = 32;

struct ScardString {
    uint8_t Buffer[kMaxAttrString];
    uint32_t Length;
};

struct VendorAttr {
    ScardString VendorName;
    ScardString IfdType;
    uint32_t UnitNo;
    struct {
        uint16_t BuildNumber;
        uint8_t VersionMinor;
        uint8_t VersionMajor;
    } IfdVersion;
    ScardString IfdSerialNo;
    uint32_t Reserved[25];
};

struct PtsData {
    uint8_t Fl;
    uint8_t Dl;
    uint32_t CLKFrequency;
    uint32_t DataRate;
    uint8_t StopBits;
    uint8_t Type;
};

struct CardCapabilities {
    uint8_t InversConvention;
    uint32_t etu;
    struct {
        uint8_t Buffer[64];
        uint8_t Length;
    } ATR;
    struct {
        uint8_t Buffer[16];
        uint8_t Length;
    } HistoricalChars;
    void *ClockRateConversion;
    void *BitRateAdjustment;
    uint8_t Fl, Dl, II, P, N;
    uint32_t GT;
    struct {
        uint32_t Supported;
        uint32_t Selected;
    } Protocol;
    struct {
        uint8_t WI;
        uint32_t WT;
    } T0;
    struct {
        uint8_t IFSC, CWI, BWI, EDC;
        uint32_t CWT, BWT, BGT;
    } T1;
    PtsData PtsData_;
    uint8_t Reserved[100 - sizeof(PtsData)];
};

struct ReaderCapabilities {
    uint32_t SupportedProtocols;
    uint32_t Reserved;
    uint32_t ReaderType;
    uint32_t MechProperties;
    uint32_t CurrentState;
    uint32_t Channel;
    struct {
        uint32_t Default;
        uint32_t Max;
    } CLKFrequency;
    struct {
        uint32_t Default;
        uint32_t Max;
    } DataRate;
    uint32_t MaxIFSD;
    uint32_t PowerMgmtSupport;
    uint32_t CardConfiscated;
    struct {
        uint32_t *List;
        uint8_t Entries;
    } DataRatesSupported;
    struct {
        uint32_t *List;
        uint8_t Entries;
    } CLKFrequenciesSupported;
    uint8_t Reserved1[100 - (sizeof(uint32_t) * 13) - sizeof(void *) * 2 - 2];
};

struct SmartcardBuffer {  // the library's request and reply areas
    uint8_t *Buffer;
    uint32_t BufferSize;
    uint32_t BufferLength;
};

// The library's per-device data (allocated by SmartcardInitialize); the driver
// uses its first fields only.
struct OsDepData {
    void *DeviceObject;
    RequestHandle CurrentIrp;
    RequestHandle NotificationIrp;
    uint8_t Mutex[56];       // KMUTEX
    uintptr_t SpinLock;      // KSPIN_LOCK
};

struct SmartcardExtension;
using ReaderFunction = NtStatus (*)(SmartcardExtension *);

enum ReaderFunctionIndex : unsigned {
    kRdfTransmit = 0,
    kRdfSetProtocol = 1,
    kRdfCardPower = 2,
    kRdfCardTracking = 3,
    kRdfCardEject = 4,
    kRdfCardConfiscate = 5,
    kRdfReaderSwallow = 6,
    kRdfIoctlVendor = 7,
    kRdfAttrCount = 16,
};

struct SmartcardExtension {
    uint32_t Version;
    VendorAttr VendorAttr_;
    ReaderFunction ReaderFunctions[kRdfAttrCount];
    CardCapabilities CardCapabilities_;
    uint32_t LastError;
    struct {
        uint64_t *Information;  // ULONG_PTR
        uint8_t *RequestBuffer;
        uint32_t RequestBufferLength;
        uint8_t *ReplyBuffer;
        uint32_t ReplyBufferLength;
    } IoRequest;
    uint32_t MajorIoControlCode;
    uint32_t MinorIoControlCode;
    OsDepData *OsData;
    ReaderCapabilities ReaderCapabilities_;
    void *ReaderExtension;
    SmartcardBuffer SmartcardReply;
    SmartcardBuffer SmartcardRequest;
    uint8_t T0[16];
    uint8_t T1[48];
    void *PerfInfo;
    uint32_t Reserved[25 - sizeof(void *) / sizeof(uint32_t)];
};

// Card states (ReaderCapabilities.CurrentState).
inline constexpr uint32_t kScardUnknown = 0;
inline constexpr uint32_t kScardAbsent = 1;
inline constexpr uint32_t kScardPresent = 2;
inline constexpr uint32_t kScardSwallowed = 3;
inline constexpr uint32_t kScardPowered = 4;
inline constexpr uint32_t kScardNegotiable = 5;
inline constexpr uint32_t kScardSpecific = 6;

inline constexpr uint32_t kProtocolT0 = 1;
inline constexpr uint32_t kProtocolT1 = 2;
inline constexpr uint32_t kProtocolRaw = 4;
inline constexpr uint32_t kProtocolDefault = 0x80000000u;

inline constexpr uint32_t kPowerDown = 0;
inline constexpr uint32_t kColdReset = 1;
inline constexpr uint32_t kWarmReset = 2;

inline constexpr uint32_t kReaderTypeUsb = 0x20;

// Device I/O control codes: CTL_CODE(type, function, method, access).
constexpr uint32_t CtlCode(uint32_t type, uint32_t function, uint32_t method, uint32_t access) {
    return type << 16 | access << 14 | function << 2 | method;
}
inline constexpr uint32_t kFileDeviceSmartcard = 0x31;
inline constexpr uint32_t kFileDeviceUnknown = 0x22;
constexpr uint32_t ScardCtlCode(uint32_t function) { return CtlCode(kFileDeviceSmartcard, function, 0, 0); }

inline constexpr uint32_t kIoctlSmartcardPower = ScardCtlCode(1);
inline constexpr uint32_t kIoctlSmartcardGetAttribute = ScardCtlCode(2);
inline constexpr uint32_t kIoctlSmartcardSetAttribute = ScardCtlCode(3);
inline constexpr uint32_t kIoctlSmartcardTransmit = ScardCtlCode(5);
inline constexpr uint32_t kIoctlSmartcardIsPresent = ScardCtlCode(10);
inline constexpr uint32_t kIoctlSmartcardIsAbsent = ScardCtlCode(11);
inline constexpr uint32_t kIoctlSmartcardSetProtocol = ScardCtlCode(12);
inline constexpr uint32_t kIoctlSmartcardGetState = ScardCtlCode(14);

// Vendor requests of this reader (smart-card device type, write access).
inline constexpr uint32_t kIoctlReaderSetSpeed = CtlCode(kFileDeviceSmartcard, 0x801, 0, 2);
inline constexpr uint32_t kIoctlReaderCommand6F = CtlCode(kFileDeviceSmartcard, 0x802, 0, 2);
inline constexpr uint32_t kIoctlReaderGetInfo = CtlCode(kFileDeviceSmartcard, 0x803, 0, 2);
inline constexpr uint32_t kIoctlReaderCommand79 = CtlCode(kFileDeviceSmartcard, 0x804, 0, 2);

// Raw pipe requests (unknown device type, buffered).
inline constexpr uint32_t kIoctlReaderGetString = CtlCode(kFileDeviceUnknown, 0x803, 0, 0);
inline constexpr uint32_t kIoctlReaderExchange = CtlCode(kFileDeviceUnknown, 0x804, 0, 0);
inline constexpr uint32_t kIoctlReaderRead = CtlCode(kFileDeviceUnknown, 0x802, 0, 1);
inline constexpr uint32_t kIoctlReaderReadInterrupt = CtlCode(kFileDeviceUnknown, 0x806, 0, 1);
inline constexpr uint32_t kIoctlReaderWrite = CtlCode(kFileDeviceUnknown, 0x801, 0, 2);

// Attribute identifiers answered by the library from the record.
constexpr uint32_t ScardAttr(uint32_t cls, uint32_t tag) { return cls << 16 | tag; }
inline constexpr uint32_t kAttrVendorName = ScardAttr(1, 0x100);
inline constexpr uint32_t kAttrVendorIfdType = ScardAttr(1, 0x101);
inline constexpr uint32_t kAttrVendorIfdVersion = ScardAttr(1, 0x102);
inline constexpr uint32_t kAttrCurrentProtocolType = ScardAttr(8, 0x201);
inline constexpr uint32_t kAttrAtrString = ScardAttr(9, 0x303);
inline constexpr uint32_t kAttrDeviceUnit = 0x7FFF0001u;

// The transmit header that precedes an APDU (SCARD_IO_REQUEST).
struct ScardIoRequest {
    uint32_t dwProtocol;
    uint32_t cbPciLength;
};

static_assert(sizeof(void *) == 8, "the record is declared for 64-bit builds");
static_assert(sizeof(ScardString) == 36);
static_assert(offsetof(VendorAttr, UnitNo) == 72);
static_assert(offsetof(VendorAttr, IfdVersion) == 76);
static_assert(sizeof(VendorAttr) == 216);
static_assert(offsetof(SmartcardExtension, ReaderFunctions) == 224);
static_assert(offsetof(SmartcardExtension, CardCapabilities_) == 352);
static_assert(offsetof(CardCapabilities, ATR) == 8);
static_assert(offsetof(CardCapabilities, Protocol) == 124);
static_assert(offsetof(ReaderCapabilities, CurrentState) == 16);
static_assert(sizeof(ReaderCapabilities) == 120);
static_assert(sizeof(SmartcardBuffer) == 16);
static_assert(offsetof(SmartcardExtension, IoRequest) == 616);
static_assert(offsetof(SmartcardExtension, OsData) == 664);
static_assert(offsetof(SmartcardExtension, ReaderCapabilities_) == 672);
static_assert(offsetof(SmartcardExtension, SmartcardReply) == 800);
static_assert(sizeof(SmartcardExtension) == 1000);

}  // namespace usbkey
