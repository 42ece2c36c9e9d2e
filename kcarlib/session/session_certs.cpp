// The user file and the certificate store kept in the token's certificate container.
//
// Store: records of a 4-byte little-endian header (bits 0..15 data length, bits
// 24..31 kind: 0xEA CA certificate, only ever first; 0x00 certificate; 0x80
// certificate of length 0) followed by the data, ended by a 0 header. The
// container's forms are in cert_container.h. The store is read whole at the first
// certificate call and cached together with the container's bytes; every change
// writes the new container image to the token, in the order PlanContainerWrite
// chooses and skipping the pieces that already hold the right bytes, before the
// cache takes it. Closing the session drops the cache.
//
// A container that holds no readable store (114) is damaged: reads keep answering
// 114, and the calls that write a whole new store start a fresh one in its place
// (the rule is stated in nki.h).
#include <cstring>
#include <new>
#include <vector>

#include "session/cert_container.h"
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
    CertImage.clear();
    CertStoreDamaged = false;
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

uint32_t TNkiHandle::ReadCertImage() {
    CertImage.clear();
    if (CertFileSize < 4) return NKI_E_NO_SPACE;  // no room for even an empty store
    std::vector<uint8_t> raw(CertFileSize);
    uint32_t rc = Carrier->ReadContainer(kCertContainer, 0, raw.data(), CertFileSize);
    if (rc == NKI_OK) CertImage = std::move(raw);
    return rc;
}

uint32_t TNkiHandle::UnpackCertificates() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (CertStoreDamaged) return NKI_E_CERTS_UNKNOWN_PACKING;
    uint32_t rc = ReadCertImage();
    if (rc != NKI_OK) return rc;
    std::vector<uint8_t> store;
    rc = ReadCertContainer(CertImage.data(), CertImage.size(), store);
    if (rc != NKI_OK) {
        CertStoreDamaged = true;
        return rc;
    }
    NewStore fresh;
    if (!fresh.Allocate(store.size())) return NKI_E_FAIL;
    std::memcpy(fresh.data, store.data(), store.size());
    delete[] CertStore;
    CertStore = fresh.data;
    CertStoreSize = fresh.size;
    State &= ~CaCertLoaded;
    if ((MakeULong(CertStore) & 0xFF000000u) == kKindCa) State |= CaCertLoaded;
    return NKI_OK;
}

uint32_t TNkiHandle::StoreForWrite(const uint8_t *&base, uint32_t &size, bool &fresh) {
    static const uint8_t kEmptyStore[4] = {0, 0, 0, 0};
    fresh = false;
    if (CertStore == nullptr) {
        uint32_t rc = UnpackCertificates();
        if (rc == NKI_E_CERTS_UNKNOWN_PACKING && CertStoreDamaged) {
            // Nothing in a damaged container can be read back: the new store starts empty.
            base = kEmptyStore;
            size = sizeof kEmptyStore;
            fresh = true;
            return NKI_OK;
        }
        if (rc != NKI_OK) return rc;
    }
    base = CertStore;
    size = CertStoreSize;
    return NKI_OK;
}

uint32_t TNkiHandle::PackCertificates(uint8_t *store, uint32_t size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    std::vector<uint8_t> image;
    uint32_t rc = BuildCertContainer(store, size, CertFileSize, image);
    if (rc != NKI_OK) return rc;
    // After a write that failed part way the container's bytes are not known: read
    // them again, so that the plan knows which pieces hold what.
    if (CertImage.size() != CertFileSize) {
        rc = ReadCertImage();
        if (rc != NKI_OK) return rc;
    }
    std::vector<TCarrier::Piece> pieces;
    for (const auto &p : PlanContainerWrite(CertImage, image, TCarrier::kPieceLimit)) pieces.push_back({p.offset, p.length});
    rc = Carrier->WriteContainerPieces(kCertContainer, image.data(), pieces.data(), pieces.size());
    if (rc != NKI_OK) {
        CertImage.clear();  // some pieces may have been written
        return rc;
    }
    std::memcpy(CertImage.data(), image.data(), image.size());
    return NKI_OK;
}

uint32_t TNkiHandle::CommitStore(uint8_t *store, uint32_t size) {
    uint32_t rc = PackCertificates(store, size);
    if (rc != NKI_OK) {
        delete[] store;
        return rc;
    }
    delete[] CertStore;
    CertStore = store;
    CertStoreSize = size;
    CertStoreDamaged = false;
    State &= ~CaCertLoaded;
    if ((MakeULong(CertStore) & 0xFF000000u) == kKindCa) State |= CaCertLoaded;
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
    const uint8_t *base;
    uint32_t baseSize;
    bool damaged;
    if (uint32_t rc = StoreForWrite(base, baseSize, damaged); rc != NKI_OK) return rc;
    const uint32_t body = baseSize - 4;  // without the final 0 header
    NewStore fresh;
    if (!fresh.Allocate(static_cast<std::size_t>(body) + 4 + length + 4)) return NKI_E_FAIL;
    std::memcpy(fresh.data, base, body);
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
    const uint8_t *base;
    uint32_t baseSize;
    bool damaged;
    if (uint32_t rc = StoreForWrite(base, baseSize, damaged); rc != NKI_OK) return rc;
    uint32_t keep = 0;  // offset of the first record after the old CA certificate
    if (!damaged && (State & CaCertLoaded)) keep = 4 + RecordLength(MakeULong(base));
    NewStore fresh;
    if (!fresh.Allocate(4 + static_cast<std::size_t>(length) + baseSize - keep)) return NKI_E_FAIL;
    PutULong(fresh.data, length | kKindCa);
    std::memcpy(fresh.data + 4, certificate, length);
    std::memcpy(fresh.data + 4 + length, base + keep, baseSize - keep);
    return CommitStore(fresh.data, fresh.size);
}

uint32_t TNkiHandle::DelCACert() {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    const uint8_t *base;
    uint32_t baseSize;
    bool damaged;
    if (uint32_t rc = StoreForWrite(base, baseSize, damaged); rc != NKI_OK) return rc;
    // A damaged container is replaced by an empty store.
    if (!damaged && !(State & CaCertLoaded)) return NKI_E_CERTS_NOT_LOADED;
    const uint32_t skip = damaged ? 0 : 4 + RecordLength(MakeULong(base));
    NewStore fresh;
    if (!fresh.Allocate(baseSize - skip)) return NKI_E_FAIL;
    std::memcpy(fresh.data, base + skip, baseSize - skip);
    return CommitStore(fresh.data, fresh.size);
}

}  // namespace kcar
