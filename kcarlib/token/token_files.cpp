// Elementary files of the token application: selection with file information,
// chunked transparent reads and writes, and the numbered containers 0x0201..0x02FF.
#include <cstring>

#include "kcarlib/nki_result.h"
#include "token/apdu.h"
#include "token/nki_abs.h"

namespace kcar {
namespace {

constexpr std::size_t kFileInfoLimit = 30;
constexpr uint32_t kDefaultAccess = 0x0505;
// Offset addressing has 15 bits: P1 with bit 7 set would name a short file identifier.
constexpr uint64_t kOffsetLimit = 0x8000;

uint8_t Hi(uint64_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t Lo(uint64_t v) { return static_cast<uint8_t>(v); }

}  // namespace

bool TNkiAbs::EcSelectEFGetAC(uint64_t fid, int *size, uint32_t *accessConditions) {
    int sizeValue = 0;
    uint32_t access = kDefaultAccess;
    if (size != nullptr) *size = 0;
    if (accessConditions != nullptr) *accessConditions = access;

    uint8_t info[kFileInfoLimit] = {};
    if (!CardCommand(TApdu(0x00, 0xA4, 0x00, 0x00).Byte(0x02).Byte(Hi(fid)).Byte(Lo(fid)).Byte(0x00).data(), info,
                     sizeof info))
        return false;
    const std::size_t n = LastDataLength < sizeof info ? LastDataLength : sizeof info;

    if (MultiCarrier()) {
        // The size follows the first 80 02 of the answer.
        for (std::size_t i = 0; i + 3 < n; ++i) {
            if (info[i] == 0x80 && info[i + 1] == 0x02) {
                sizeValue = info[i + 2] << 8 | info[i + 3];
                break;
            }
        }
    } else {
        if (n >= 6) sizeValue = info[4] << 8 | info[5];
        if (n >= 10 && info[6] == 0x86) access = static_cast<uint32_t>(info[8] << 8 | info[9]);
    }
    if (size != nullptr) *size = sizeValue;
    if (accessConditions != nullptr) *accessConditions = access;
    return true;
}

bool TNkiAbs::EcSelectEF(uint64_t fid, int *size) { return EcSelectEFGetAC(fid, size, nullptr); }

bool TNkiAbs::SelectForTransfer(uint64_t fid, uint64_t offset, uint8_t &p1, uint8_t &p2) {
    if (fid >= 32 || (fid != 0 && offset > 255)) {
        // The multi-carrier build selects with the information form here too.
        const uint8_t le = MultiCarrier() ? 0x00 : 0x01;
        if (!CardCommand(TApdu(0x00, 0xA4, 0x00, 0x00).Byte(0x02).Byte(Hi(fid)).Byte(Lo(fid)).Byte(le).data(),
                         nullptr, 0))
            return false;
        fid = 0;
    }
    if (fid != 0) {
        p1 = static_cast<uint8_t>(0x80 + fid);
        p2 = Lo(offset);
    } else {
        p1 = Hi(offset);
        p2 = Lo(offset);
    }
    return true;
}

bool TNkiAbs::Transfer(bool write, uint64_t fid, uint64_t offset, uint8_t *buffer, uint64_t length) {
    if (length == 0) return true;
    if (buffer == nullptr) {
        SetError(NKI_E_BAD_ARGUMENTS);
        return false;
    }
    if (offset >= kOffsetLimit || length > kOffsetLimit - offset) {
        SetError(NKI_E_NO_SPACE);
        return false;
    }
    uint8_t p1 = 0, p2 = 0;
    if (!SelectForTransfer(fid, offset, p1, p2)) return false;
    while (length != 0) {
        const uint8_t chunk = static_cast<uint8_t>(length < kChunk ? length : kChunk);
        bool ok;
        if (write) {
            ok = CardCommand(TApdu(0x00, 0xD6, p1, p2).Byte(chunk).Bytes(buffer, chunk).data(), nullptr, 0);
        } else {
            ok = CommandFor(TApdu(0x00, 0xB0, p1, p2).Byte(chunk).data(), buffer, chunk, chunk);
        }
        if (!ok) return false;
        offset += chunk;
        buffer += chunk;
        length -= chunk;
        p1 = Hi(offset);
        p2 = Lo(offset);
    }
    return true;
}

bool TNkiAbs::EcReadBinary(uint64_t fid, uint64_t offset, uint8_t *buffer, uint64_t length) {
    return Transfer(false, fid, offset, buffer, length);
}

bool TNkiAbs::EcWriteBinary(uint64_t fid, const uint8_t *data, uint64_t offset, uint64_t length) {
    // Transfer only reads from the buffer when writing.
    return Transfer(true, fid, offset, const_cast<uint8_t *>(data), length);
}

uint32_t TNkiAbs::GetContainerSize(uint64_t n, uint32_t *size) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (n == 0 || n >= 256) return SetError(NKI_E_BAD_ARGUMENTS);
    uint32_t value = 0;
    if (n <= 3) {
        value = ContainerSize[n - 1];
    } else {
        int reported = 0;
        if (EcSelectEF(0x0200 + n, &reported)) value = static_cast<uint32_t>(reported);
        LastError = NKI_OK;  // a missing container is just empty
    }
    if (size != nullptr) *size = value;
    return NKI_OK;
}

uint32_t TNkiAbs::ContainerCheck(uint64_t n, uint32_t offset, uint32_t length) {
    uint32_t size = 0;
    if (uint32_t rc = GetContainerSize(n, &size); rc != NKI_OK) return rc;
    if (size == 0 || static_cast<uint64_t>(offset) + length > size) return SetError(NKI_E_NO_SPACE);
    return NKI_OK;
}

uint32_t TNkiAbs::ReadDataEx(uint64_t n, uint32_t offset, uint8_t *buffer, uint32_t length) {
    if (uint32_t rc = ContainerCheck(n, offset, length); rc != NKI_OK) return rc;
    if (length == 0) return NKI_OK;
    return EcReadBinary(0x0200 + n, offset, buffer, length) ? NKI_OK : LastError;
}

uint32_t TNkiAbs::WriteDataEx(uint64_t n, uint32_t offset, const uint8_t *data, uint32_t length) {
    if (uint32_t rc = ContainerCheck(n, offset, length); rc != NKI_OK) return rc;
    if (length == 0) return NKI_OK;
    return EcWriteBinary(0x0200 + n, data, offset, length) ? NKI_OK : LastError;
}

uint32_t TNkiAbs::ReadAuditRecord(uint8_t *record4) {
    if (uint32_t rc = TestConnected(); rc != NKI_OK) return rc;
    if (!EcSelectEF(0x0053, nullptr)) return LastError;
    uint8_t answer[kMaxResponse];
    if (!CommandFor(TApdu(0x00, 0xB2, 0x01, 0x04).Byte(0x00).data(), answer, sizeof answer, 4)) return LastError;
    std::memcpy(record4, answer, 4);
    return NKI_OK;
}

}  // namespace kcar
