// Connection, start sequence and the command exchange with its status-word table.
#include "token/nki_abs.h"

#include <cstring>

#include "kcarlib/nki_result.h"
#include "token/apdu.h"

namespace kcar {
namespace {

constexpr uint16_t kNoExchange = 0x1111;  // LastSW until a status word arrives
constexpr uint8_t kCurveDegree = 0xBF;    // 191

// The token is always addressed with the T=1 header, whatever protocol was reported.
const SCARD_IO_REQUEST kT1Header = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};

// Curve record fields (offsets into the 204-byte record of file 5).
constexpr std::size_t kOffB = 10, kOffPx = 58, kOffPy = 82, kFieldBytes = 24;

}  // namespace

uint32_t TNkiAbs::connect(const char *readerName) {
    if (Context != 0 || Card != 0) return NKI_E_NOT_CONNECTED;  // never reconnected
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &Context) != SCARD_S_SUCCESS) {
        Context = 0;
        return NKI_E_NOT_CONNECTED;
    }
    DWORD active = 0;
    if (readerName == nullptr ||
        SCardConnect(Context, readerName, SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &Card,
                     &active) != SCARD_S_SUCCESS) {
        Card = 0;
        SCardReleaseContext(Context);
        Context = 0;
        return NKI_E_NOT_CONNECTED;
    }
    Protocol = active;
    if (!SvApplicationStart()) {
        const bool curveRefused = LastError == NKI_E_UNSUPPORTED_DS;
        disconnect();
        return MultiCarrier() && curveRefused ? NKI_E_UNSUPPORTED_DS : NKI_E_NOT_CONNECTED;
    }
    Connected = 1;
    return NKI_OK;
}

void TNkiAbs::disconnect() noexcept {
    if (Card != 0) SCardDisconnect(Card, SCARD_UNPOWER_CARD);
    Card = 0;
    if (Context != 0) SCardReleaseContext(Context);
    Context = 0;
    // No command may go out on the released handles.
    Connected = 0;
}

bool TNkiAbs::SvApplicationStart() {
    if (!CardCommand(TApdu(0x00, 0xA4, 0x08, 0x00).Byte(0x02).Byte(0xDF).Byte(0x42).Byte(0x01).data(), nullptr, 0))
        return false;

    uint8_t status[4];
    if (!CommandFor(TApdu(0x00, 0xB0, 0x84, 0x00).Byte(0x04).data(), status, sizeof status, sizeof status))
        return false;

    uint8_t serial[8];
    if (!CommandFor(TApdu(0x80, 0xF6, 0x00, 0x00).Byte(0x08).data(), serial, sizeof serial, sizeof serial))
        return false;
    std::memcpy(Serial, serial, sizeof Serial);

    // Missing containers have size 0 and do not stop the start.
    const unsigned containers = MultiCarrier() ? 2 : 3;
    for (unsigned i = 0; i < 3; ++i) {
        int size = 0;
        if (i < containers) EcSelectEF(0x0201 + i, &size);
        ContainerSize[i] = static_cast<uint32_t>(size);
    }
    int infoSize = 0;
    EcSelectEF(0x000A, &infoSize);
    InfoFileSize = static_cast<uint32_t>(infoSize);

    int keyFileSize = 0;
    if (!EcSelectEF(0x0009, &keyFileSize)) return false;
    KeySlots = (static_cast<uint32_t>(keyFileSize) >> 8) & 0xFF;

    uint8_t record[kCurveRecordSize];
    if (MultiCarrier()) {
        if (!CommandFor(TApdu(0x00, 0xB0, 0x85, 0x00).Byte(0x6A).data(), record, 0x6A, 0x6A)) return false;
        if (!CommandFor(TApdu(0x00, 0xB0, 0x85, 0x6A).Byte(0x62).data(), record + 0x6A, 0x62, 0x62)) return false;
    } else if (!EcReadBinary(5, 0, record, sizeof record)) {
        return false;
    }

    const bool noCurve = MultiCarrier() && (record[0] == 0x00 || record[0] == 0xFF);
    if (!noCurve) {
        const bool accepted =
            record[0] == kCurveDegree && record[7] == 2 && (!MultiCarrier() || record[8] == 1);
        if (!accepted) {
            SetError(NKI_E_UNSUPPORTED_DS);
            return false;
        }
        ByteReverse(record + kOffB, kFieldBytes);
        ByteReverse(record + kOffPx, kFieldBytes);
        ByteReverse(record + kOffPy, kFieldBytes);
        BaseSquare(record + kOffB);
        Caps |= CapCurveLoaded;
        FieldDegree = record[0];
    }
    std::memcpy(CurveRecord, record, sizeof CurveRecord);

    if ((status[2] & 0x08) == 0) Caps |= CapStatusBit;
    if (status[0] == 0x01 && status[1] == 0x08) Caps |= CapAgreeKeyZero;
    SignSize = 48;
    AuthChallengeSize = 8;
    AuthResponseSize = SignSize + 16;
    LastError = NKI_OK;
    return true;
}

uint32_t TNkiAbs::StatusWordError(uint16_t sw) const noexcept {
    switch (sw) {
    case kNoExchange: return NKI_E_CONNECTION_ABORTED;
    case 0x9801: return NKI_E_NOT_INITIALIZED;
    case 0x6982: return MultiCarrier() ? NKI_E_ACCESS_CONDITION : NKI_E_PIN_REQUIRED;
    case 0x6983: return NKI_E_DEVICE_BLOCKED;
    case 0x980D: return NKI_E_INVALID_KEY_STATE;
    default: break;
    }
    if ((sw & 0xFFF0) == 0x63C0) return NKI_E_INVALID_PIN_BASE + (sw & 0x0F);
    return NKI_E_DEVICE_CORRUPTED;
}

bool TNkiAbs::CardCommand(const uint8_t *command, uint8_t *response, uint64_t limit) {
    LastSW = kNoExchange;
    LastDataLength = 0;
    if (MultiCarrier()) {
        const uint16_t counter = static_cast<uint16_t>((ExchangeBlock[0] << 8 | ExchangeBlock[1]) + 2);
        ExchangeBlock[0] = static_cast<uint8_t>(counter >> 8);
        ExchangeBlock[1] = static_cast<uint8_t>(counter);
    }

    uint8_t received[kMaxResponse];
    DWORD length = sizeof received;
    const LONG rc = SCardTransmit(Card, &kT1Header, command + 1, command[0], nullptr, received, &length);
    if (rc != SCARD_S_SUCCESS || length < 2 || length > sizeof received) {
        SecureWipe(received, sizeof received);
        SetError(NKI_E_CONNECTION_ABORTED);
        return false;
    }
    LastSW = static_cast<uint16_t>(received[length - 2] << 8 | received[length - 1]);
    LastDataLength = static_cast<uint32_t>(length - 2);
    if (response != nullptr) {
        const uint64_t n = (limit != 0 && limit < LastDataLength) ? limit : LastDataLength;
        std::memcpy(response, received, static_cast<std::size_t>(n));
    }
    // Answers may carry keys or random bytes.
    SecureWipe(received, sizeof received);

    if ((LastSW >> 8) == 0x90) {
        LastError = NKI_OK;
        return true;
    }
    SetError(StatusWordError(LastSW));
    return false;
}

bool TNkiAbs::CommandFor(const uint8_t *command, uint8_t *response, uint64_t limit, uint32_t need) {
    if (!CardCommand(command, response, limit)) return false;
    if (LastDataLength < need) {
        SetError(NKI_E_DEVICE_CORRUPTED);
        return false;
    }
    return true;
}

uint32_t TNkiAbs::TestConnected() noexcept {
    if (Connected != 1) return NKI_E_INVALID_CONTEXT;
    LastError = NKI_OK;
    return NKI_OK;
}

uint32_t TNkiAbs::GetInfoRecord(uint8_t *record80) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    uint32_t size = 0;
    std::memcpy(&size, record80, 4);
    if (size != kInfoRecordSize) return SetError(NKI_E_UNSUPPORTED_FUNCTION);
    std::memset(record80 + 4, 0xFF, kInfoRecordSize - 4);
    auto put = [record80](std::size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) record80[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(4, 0x104);
    put(8, static_cast<uint32_t>(Caps));
    std::memcpy(record80 + 12, Serial, sizeof Serial);
    for (std::size_t offset = 20; offset <= 32; offset += 4) put(offset, 1);  // algorithm identifiers
    put(36, 191);
    put(40, 24);
    put(44, SignSize);
    put(48, AuthChallengeSize);
    put(52, AuthResponseSize);
    put(56, 12);
    put(60, 14);  // the document stamp
    put(64, KeySlots);
    put(68, (InfoFileSize & 0xFF) - 4);
    put(72, ContainerSize[0]);
    put(76, ContainerSize[1]);
    return NKI_OK;
}

bool TNkiAbs::CardPresent() noexcept {
    if (Connected != 1 || Card == 0) return false;
    DWORD state = 0, protocol = 0, atrLength = MAX_ATR_SIZE, nameLength = 0;
    BYTE atr[MAX_ATR_SIZE];
    if (SCardStatus(Card, nullptr, &nameLength, &state, &protocol, atr, &atrLength) != SCARD_S_SUCCESS) return false;
    return (state & SCARD_ABSENT) == 0;
}

}  // namespace kcar
