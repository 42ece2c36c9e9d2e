// The user file and the certificate store kept in the token's certificate container.
//
// Store: records of a 4-byte little-endian header (bits 0..15 data length, bits
// 24..31 kind: 0xEA CA certificate, only ever first; 0x00 certificate; 0x80
// certificate of length 0) followed by the data, ended by a 0 header.
// Container: packed (bytes L, L >> 8, 0, 0xB0, then L bytes of coded store without
// its final header) or plain (the store itself). The store is read whole at the
// first certificate call and cached; every change writes the complete new store to
// the token before the cache takes it. Closing the session drops the cache.
#include <cstring>
#include <new>
#include <vector>

#include "session/cert_packing.h"
#include "session/nki_handle.h"

namespace kcar {
namespace {

constexpr uint32_t kKindCa = 0xEA000000u;
constexpr uint32_t kKindCert = 0x00000000u;
constexpr uint32_t kKindEmptyCert = 0x80000000u;
constexpr uint32_t kMaxRecordLength = 0xFFFF;
constexpr uint32_t kUserFile = 1;
constexpr uint32_t kCertContainer = 2;

void PutULong(uint8_t *b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t RecordLength(uint32_t header) { return header & 0xFFFF; }

// Length of the records of a store up to and including its 0 header, or 0 when
// they run past size without one.
uint32_t StoreLength(const uint8_t *store, uint32_t size) {
    uint32_t pos = 0;
    while (pos + 4 <= size) {
        uint32_t header = MakeULong(store + pos);
        if (header == 0) return pos + 4;
        pos += 4 + RecordLength(header);
    }
    return 0;
}

// A new store built in a fresh array.
struct NewStore {
    uint8_t *data = nullptr;
    uint32_t size = 0;
    bool Allocate(std::size_t n) {
        if (n > 0xFFFFFFFFu) return false;
        data = new (std::nothrow) uint8_t[n == 0 ? 1 : n];
        size = static_cast<uint32_t>(n);
        return data != nullptr;
    }
};

}  // namespace

void TNkiHandle::DropCertStore() noexcept {
    delete[] CertStore;
    CertStore = nullptr;
    CertStoreSize = 0;
    State &= ~CaCertLoaded;
}

uint32_t TNkiHandle::GetFileSize(int32_t *size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
    *size = static_cast<int32_t>(UserFileSize);
    return NKI_OK;
}

uint32_t TNkiHandle::ReadFile(void *buffer, uint32_t offset, uint32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (buffer == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    return Carrier->ReadContainer(kUserFile, offset, static_cast<uint8_t *>(buffer), length);
}

uint32_t TNkiHandle::WriteFile(const void *buffer, uint32_t offset, uint32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (buffer == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    return Carrier->WriteContainer(kUserFile, offset, static_cast<const uint8_t *>(buffer), length);
}

uint32_t TNkiHandle::UnpackCertificates() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (CertFileSize < 4) return NKI_E_NO_SPACE;  // no room for even an empty store
    std::vector<uint8_t> raw(CertFileSize);
    uint32_t rc = Carrier->ReadContainer(kCertContainer, 0, raw.data(), CertFileSize);
    if (rc != NKI_OK) return rc;

    const uint32_t w = MakeULong(raw.data());
    std::vector<uint8_t> store;
    if ((w >> 28) != 0xB) {
        uint32_t length = StoreLength(raw.data(), CertFileSize);
        if (length == 0) return NKI_E_CERTS_UNKNOWN_PACKING;  // records run past the container
        store.assign(raw.begin(), raw.begin() + length);
    } else {
        if (((w >> 24) & 0xF) != 0) return NKI_E_CERTS_UNKNOWN_PACKING;
        const uint32_t L = w & 0xFFFF;
        if (L > CertFileSize - 4) return NKI_E_CERTS_UNKNOWN_PACKING;
        if (!Unpack(raw.data() + 4, L, store, static_cast<std::size_t>(CertFileSize) * 12))
            return NKI_E_CERTS_UNKNOWN_PACKING;
        store.insert(store.end(), 4, 0);
        if (StoreLength(store.data(), static_cast<uint32_t>(store.size())) != store.size())
            return NKI_E_CERTS_UNKNOWN_PACKING;  // the records do not end where the data does
    }
    NewStore fresh;
    if (!fresh.Allocate(store.size())) return NKI_E_FAIL;
    std::memcpy(fresh.data, store.data(), store.size());
    DropCertStore();
    CertStore = fresh.data;
    CertStoreSize = fresh.size;
    if ((MakeULong(CertStore) & 0xFF000000u) == kKindCa) State |= CaCertLoaded;
    return NKI_OK;
}

uint32_t TNkiHandle::PackCertificates(uint8_t *store, uint32_t size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (size < 4) return NKI_E_BAD_ARGUMENTS;
    const uint64_t workArea = static_cast<uint64_t>(CertFileSize) * 12 + 4;
    if (size > workArea) return NKI_E_NO_SPACE;  // too large for the packing work area
    std::vector<uint8_t> packed = Pack(store, size - 4);
    const uint64_t L = packed.size();
    if (L <= 0xFFFF && L + 4 <= CertFileSize) {
        std::vector<uint8_t> out(L + 4);
        out[0] = static_cast<uint8_t>(L);
        out[1] = static_cast<uint8_t>(L >> 8);
        out[2] = 0;
        out[3] = 0xB0;
        std::memcpy(out.data() + 4, packed.data(), L);
        return Carrier->WriteContainer(kCertContainer, 0, out.data(), static_cast<uint32_t>(out.size()));
    }
    if (size > CertFileSize) return NKI_E_NO_SPACE;
    return Carrier->WriteContainer(kCertContainer, 0, store, size);
}

uint32_t TNkiHandle::CommitStore(uint8_t *store, uint32_t size) {
    uint32_t rc = PackCertificates(store, size);
    if (rc != NKI_OK) {
        delete[] store;
        return rc;
    }
    const uint32_t flags = State & CaCertLoaded;
    DropCertStore();
    State |= flags;
    CertStore = store;
    CertStoreSize = size;
    return NKI_OK;
}

uint32_t TNkiHandle::SeekToCert(uint32_t index, const uint8_t *&data, uint32_t &header) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (index < 1) return NKI_E_OUT_OF_RANGE;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc != NKI_OK) return rc;
    }
    const uint32_t wanted = index + ((State & CaCertLoaded) ? 1 : 0);
    uint32_t pos = 0, count = 0;
    while (pos + 4 <= CertStoreSize) {
        uint32_t h = MakeULong(CertStore + pos);
        if (h == 0) break;
        if (++count == wanted) {
            if (pos + 4 + RecordLength(h) > CertStoreSize) break;
            header = h;
            data = CertStore + pos + 4;
            return NKI_OK;
        }
        pos += 4 + RecordLength(h);
    }
    return NKI_E_OUT_OF_RANGE;
}

uint32_t TNkiHandle::GetCertSize(uint8_t index, uint32_t *size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
    const uint8_t *data;
    uint32_t header;
    uint32_t rc = SeekToCert(index, data, header);
    if (rc == NKI_OK) *size = RecordLength(header);
    return rc;
}

uint32_t TNkiHandle::GetCert(uint8_t index, void *buffer) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (buffer == nullptr) return NKI_E_BAD_ARGUMENTS;
    const uint8_t *data;
    uint32_t header;
    uint32_t rc = SeekToCert(index, data, header);
    if (rc == NKI_OK) std::memcpy(buffer, data, RecordLength(header));
    return rc;
}

uint32_t TNkiHandle::SetCert(const void *certificate, uint32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (certificate == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (length > kMaxRecordLength) return NKI_E_NO_SPACE;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc != NKI_OK) return rc;
    }
    const uint32_t body = CertStoreSize - 4;  // without the final 0 header
    NewStore fresh;
    if (!fresh.Allocate(static_cast<std::size_t>(body) + 4 + length + 4)) return NKI_E_FAIL;
    std::memcpy(fresh.data, CertStore, body);
    PutULong(fresh.data + body, length | (length == 0 ? kKindEmptyCert : kKindCert));
    if (length > 0) std::memcpy(fresh.data + body + 4, certificate, length);
    PutULong(fresh.data + body + 4 + length, 0);
    return CommitStore(fresh.data, fresh.size);
}

uint32_t TNkiHandle::DelCert(uint8_t index) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    const uint8_t *data;
    uint32_t header;
    uint32_t rc = SeekToCert(index, data, header);
    if (rc != NKI_OK) return rc;
    const uint32_t start = static_cast<uint32_t>(data - 4 - CertStore);
    const uint32_t removed = 4 + RecordLength(header);
    NewStore fresh;
    if (!fresh.Allocate(CertStoreSize - removed)) return NKI_E_FAIL;
    std::memcpy(fresh.data, CertStore, start);
    std::memcpy(fresh.data + start, CertStore + start + removed, CertStoreSize - start - removed);
    return CommitStore(fresh.data, fresh.size);
}

uint32_t TNkiHandle::GetCACert(void *buffer, uint32_t *length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (length == nullptr) return NKI_E_BAD_ARGUMENTS;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc != NKI_OK) return rc;
    }
    if (!(State & CaCertLoaded)) return NKI_E_CERTS_NOT_LOADED;
    const uint32_t size = RecordLength(MakeULong(CertStore));
    if (buffer == nullptr) {
        *length = size;
        return NKI_OK;
    }
    const uint32_t room = *length;
    *length = size;
    if (room < size) return NKI_E_BUFFER_TOO_SMALL;
    std::memcpy(buffer, CertStore + 4, size);
    return NKI_OK;
}

uint32_t TNkiHandle::SetCACert(const void *certificate, uint32_t length) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (length == 0 || certificate == nullptr) return NKI_E_BAD_ARGUMENTS;
    if (length > kMaxRecordLength) return NKI_E_NO_SPACE;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc != NKI_OK) return rc;
    }
    uint32_t keep = 0;  // offset of the first record after the old CA certificate
    if (State & CaCertLoaded) keep = 4 + RecordLength(MakeULong(CertStore));
    NewStore fresh;
    if (!fresh.Allocate(4 + static_cast<std::size_t>(length) + CertStoreSize - keep)) return NKI_E_FAIL;
    PutULong(fresh.data, length | kKindCa);
    std::memcpy(fresh.data + 4, certificate, length);
    std::memcpy(fresh.data + 4 + length, CertStore + keep, CertStoreSize - keep);
    uint32_t rc = CommitStore(fresh.data, fresh.size);
    if (rc == NKI_OK) State |= CaCertLoaded;
    return rc;
}

uint32_t TNkiHandle::DelCACert() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc != NKI_OK) return rc;
    }
    if (!(State & CaCertLoaded)) return NKI_E_CERTS_NOT_LOADED;
    const uint32_t skip = 4 + RecordLength(MakeULong(CertStore));
    NewStore fresh;
    if (!fresh.Allocate(CertStoreSize - skip)) return NKI_E_FAIL;
    std::memcpy(fresh.data, CertStore + skip, CertStoreSize - skip);
    uint32_t rc = CommitStore(fresh.data, fresh.size);
    if (rc == NKI_OK) State &= ~CaCertLoaded;
    return rc;
}

}  // namespace kcar
