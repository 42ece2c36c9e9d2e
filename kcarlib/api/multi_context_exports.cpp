// Exports of the multi-carrier build that differ from the token build's: the
// integer contexts and their registry, session opening by device type, PIN and
// presence handling, the calls the token build does not implement, and the
// build's own calls.
#include <cstring>

#include "api/device_identity.h"
#include "api/export_guard.h"
#include "kcarlib/nki.h"
#include "token/pcsc_enum.h"

using kcar::TNkiHandle;
using kcar::WithContext;

namespace kcar {

uint32_t Validate(int32_t context, int operation, TNkiHandle *&h) noexcept {
    h = RegistryFind(context);
    if (h == nullptr) return NKI_E_INVALID_CONTEXT;
    if (!DeviceTypeServed(h->DeviceType)) return NKI_E_UNSUPPORTED_NKI;
    if ((h->State & TNkiHandle::SessionOpen) == 0) return NKI_E_NOT_CONNECTED;
    if (!OperationOffered(h->DeviceType, operation)) return NKI_E_UNSUPPORTED_FUNCTION;
    return NKI_OK;
}

uint32_t CloseMultiSession(TNkiHandle &h) noexcept {
    return Guarded([&] {
        const bool hostOnly = h.DeviceType == kDeviceKeyFile;
        const uint32_t rc = h.CloseSession();
        return hostOnly ? NKI_OK : rc;
    });
}

bool CarrierStillPresent(TNkiHandle &h) noexcept {
    if (h.Carrier == nullptr || h.Carrier->IsPresent()) return true;
    CloseMultiSession(h);
    return false;
}

namespace {

// The reader whose present card carries this serial number name; false when none.
bool FindBySerial(const char *serial, char *reader) {
    char name[NKI_MAX_READER_NAME];
    char candidate[80];
    for (int index = 1; PcscEnumDevices(index, true, name, sizeof name); ++index) {
        if (DeviceSerialName(name, candidate) != NKI_OK) return false;
        if (std::strcmp(candidate, serial) == 0) {
            std::memcpy(reader, name, std::strlen(name) + 1);
            return true;
        }
    }
    return false;
}

// Validation with operation 0, then the PIN, then the presence of a card.
template <typename Body>
uint32_t WithPinAndCard(int32_t context, Body &&body) noexcept {
    TNkiHandle *h = nullptr;
    if (uint32_t rc = Validate(context, 0, h); rc != NKI_OK) return rc;
    if ((h->State & TNkiHandle::PinAccepted) == 0) return NKI_E_PIN_REQUIRED;
    if (!CarrierStillPresent(*h)) return NKI_E_CONNECTION_ABORTED;
    return Guarded([&] { return body(*h); });
}

void PutLe32(void *out, uint32_t value) {
    auto *p = static_cast<uint8_t *>(out);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t AuditRecord(TNkiHandle &h, uint8_t *record) {
    switch (h.DeviceType) {
    case kDeviceContainerCard:
    case kDeviceActiveToken:
    case kDeviceType4: return h.Carrier->ReadAuditRecord(record);
    default: PutLe32(record, 1); return NKI_OK;
    }
}

}  // namespace
}  // namespace kcar

extern "C" {

uint32_t nkiCreateContext(NKI_CONTEXT *context, uint8_t kind) {
    if (kind != kcar::kDeviceUnknown && !kcar::DeviceTypeServed(kind)) return NKI_E_UNSUPPORTED_NKI;
    if (context == nullptr) return NKI_E_BAD_ARGUMENTS;
    const int32_t handle = kcar::RegistryInsert(kind);
    if (handle == 0) return NKI_E_FAIL;
    *context = handle;
    return NKI_OK;
}

uint32_t nkiDestroyContext(NKI_CONTEXT *context) {
    if (context == nullptr) return NKI_E_INVALID_CONTEXT;
    TNkiHandle *h = kcar::RegistryFind(*context);
    if (h == nullptr) return NKI_E_INVALID_CONTEXT;
    if (h->State & TNkiHandle::SessionOpen) kcar::CloseMultiSession(*h);
    if (!kcar::RegistryRemove(*context)) return NKI_E_INVALID_CONTEXT;
    *context = 0;
    return NKI_OK;
}

uint32_t nkiGetDllVersion(void) { return 0x10014; }

const char *nkiGetDllDescription(void) {
    static const char kDescription[] = "kcarlib version 1.0.1.20 release 05.february.2009";
    return kDescription;
}

uint32_t nkiSetParamSession(void) { return NKI_OK; }

uint32_t nkiOpenSession(NKI_CONTEXT c, const char *name, void *key) {
    TNkiHandle *h = kcar::RegistryFind(c);
    if (h == nullptr) return NKI_E_INVALID_CONTEXT;
    if (h->State & TNkiHandle::SessionOpen) return NKI_E_CONTEXT_IN_USE;
    return kcar::Guarded([&] {
        if (name == nullptr) name = "";
        char reader[NKI_MAX_READER_NAME];
        if ((name[0] == '#' || name[0] == '~') && h->DeviceType != kcar::kDeviceKeyFile) {
            if (!kcar::FindBySerial(name, reader)) return NKI_E_SERIAL_NOT_FOUND;
            name = reader;
        }
        if (h->DeviceType == kcar::kDeviceUnknown) {
            uint8_t type = 0, atr[40];
            std::size_t length = 0;
            if (uint32_t rc = kcar::ResolveDevice(name, type, atr, length); rc != NKI_OK) return rc;
            // Resolved once: the context keeps this type for its whole life.
            h->DeviceType = type;
        }
        if (!kcar::DeviceTypeServed(h->DeviceType)) return NKI_E_UNSUPPORTED_NKI;
        return h->OpenSession(name, key, h->DeviceType);
    });
}

uint32_t nkiCloseSession(NKI_CONTEXT c) {
    TNkiHandle *h = nullptr;
    if (uint32_t rc = kcar::Validate(c, 6, h); rc != NKI_OK) return rc;
    return kcar::CloseMultiSession(*h);
}

uint32_t nkiIsCardPresent(NKI_CONTEXT c) {
    return WithContext(c, 7, [](TNkiHandle &) { return NKI_OK; });
}

uint32_t nkiCheckPIN(NKI_CONTEXT c, const void *pin8) {
    return WithContext(c, 3, [&](TNkiHandle &h) {
        const uint32_t rc = h.CheckPinEx(pin8, 8);
        if (rc == NKI_OK) h.State |= TNkiHandle::PinAccepted;
        return rc;
    });
}

uint32_t nkiCheckPINEx(NKI_CONTEXT c, const void *pin, int32_t length) {
    return WithContext(c, 3, [&](TNkiHandle &h) {
        const uint32_t rc = h.CheckPinEx(pin, length);
        if (rc == NKI_OK) h.State |= TNkiHandle::PinAccepted;
        return rc;
    });
}

uint32_t nkiForgetPIN(NKI_CONTEXT c) {
    return WithContext(c, 5, [&](TNkiHandle &h) {
        const uint32_t rc = h.DeviceType == kcar::kDeviceKeyFile ? NKI_OK : h.ForgetPin();
        if (rc == NKI_OK) h.State &= ~TNkiHandle::PinAccepted;
        return rc;
    });
}

uint32_t nkiDoAuthentification(NKI_CONTEXT c, const void *challenge, void *response) {
    return kcar::WithPinAndCard(c, [&](TNkiHandle &h) { return h.DoAuthentication(challenge, response); });
}

uint32_t nkiChangePassword(NKI_CONTEXT c, const void *key) {
    return WithContext(c, 15, [&](TNkiHandle &h) { return h.Carrier->ChangePassword(key); });
}

uint32_t nkiGetCurrentDsSizes(NKI_CONTEXT c, int32_t *keySize, int32_t *signatureSize) {
    TNkiHandle *h = nullptr;
    if (uint32_t rc = kcar::Validate(c, 0, h); rc != NKI_OK) return rc;
    return kcar::Guarded([&] { return h->GetCurrentDsSizes(keySize, signatureSize); });
}

uint32_t nkiGetSymmKey(NKI_CONTEXT c, void *key32) {
    return WithContext(c, 17, [&](TNkiHandle &h) { return h.GetSymmKey(key32); });
}
uint32_t nkiGenerateUserKeyPair(NKI_CONTEXT c, void *privateKey, void *publicKey) {
    return WithContext(c, 18, [&](TNkiHandle &h) { return h.GenerateUserKeyPair(privateKey, publicKey); });
}
uint32_t nkiVerifyUserKeyPair(NKI_CONTEXT c, const void *privateKey, const void *publicKey) {
    return WithContext(c, 21, [&](TNkiHandle &h) { return h.VerifyUserKeyPair(privateKey, publicKey); });
}

uint32_t nkiGetInfoEx(NKI_CONTEXT c, uint32_t code, void *buffer, int32_t *length) {
    return WithContext(c, 12, [&](TNkiHandle &h) {
        if (h.DeviceType == kcar::kDeviceKeyFile) return NKI_E_OUT_OF_RANGE;
        if (length == nullptr) return NKI_E_BAD_ARGUMENTS;
        return h.Carrier->GetInfoEx(static_cast<int32_t>(code), static_cast<uint8_t *>(buffer), length);
    });
}

uint32_t nkiSignDoc(NKI_CONTEXT c, const void *data, uint32_t length, void *signature, void *stamp,
                    int32_t *stampLength) {
    return WithContext(c, 69, [&](TNkiHandle &h) { return h.SignDoc(data, length, signature, stamp, stampLength); });
}
uint32_t nkiVerifyDoc(NKI_CONTEXT c, const void *data, uint32_t length, const void *stamp, uint32_t stampLength,
                      const void *publicKey, const void *signature, uint8_t compressed) {
    return WithContext(c, 70, [&](TNkiHandle &h) {
        return h.VerifyDoc(data, length, stamp, stampLength, publicKey, compressed != 0, signature, 0);
    });
}
uint32_t nkiVerifyDocEx(NKI_CONTEXT c, const void *data, uint32_t length, const void *stamp, uint32_t stampLength,
                        const void *publicKey, uint8_t compressed, const void *signature, uint32_t signatureLength) {
    return WithContext(c, 71, [&](TNkiHandle &h) {
        return h.VerifyDoc(data, length, stamp, stampLength, publicKey, compressed != 0, signature, signatureLength);
    });
}
uint32_t nkiSignDocFinal(NKI_CONTEXT c, void *signature, void *stamp, int32_t *stampLength) {
    return WithContext(c, 72, [&](TNkiHandle &h) { return h.SignDocFinal(signature, stamp, stampLength); });
}
uint32_t nkiVerifyDocFinal(NKI_CONTEXT c, const void *stamp, uint32_t stampLength, const void *publicKey,
                           const void *signature, uint8_t compressed) {
    return WithContext(c, 73, [&](TNkiHandle &h) {
        return h.VerifyDocFinal(stamp, stampLength, publicKey, compressed != 0, signature, 0);
    });
}
uint32_t nkiVerifyDocFinalEx(NKI_CONTEXT c, const void *stamp, uint32_t stampLength, const void *publicKey,
                             uint8_t compressed, const void *signature, uint32_t signatureLength) {
    return WithContext(c, 74, [&](TNkiHandle &h) {
        return h.VerifyDocFinal(stamp, stampLength, publicKey, compressed != 0, signature, signatureLength);
    });
}

// The build keeps one audit record of 4 bytes, number 0.
uint32_t nkiGetAuditRecSize(NKI_CONTEXT c, uint32_t index, int32_t *size) {
    return WithContext(c, 86, [&](TNkiHandle &) {
        if (index != 0) return NKI_E_OUT_OF_RANGE;
        if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
        *size = 4;
        return NKI_OK;
    });
}
uint32_t nkiGetAuditRec(NKI_CONTEXT c, uint32_t index, void *record) {
    return WithContext(c, 87, [&](TNkiHandle &h) {
        if (index != 0) return NKI_E_OUT_OF_RANGE;
        if (record == nullptr) return NKI_E_BAD_ARGUMENTS;
        return kcar::AuditRecord(h, static_cast<uint8_t *>(record));
    });
}
uint32_t nkiGetAuditSize(NKI_CONTEXT c, int32_t *size) {
    return WithContext(c, 88, [&](TNkiHandle &) {
        if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
        *size = 4 + 4;
        return NKI_OK;
    });
}
uint32_t nkiGetAudit(NKI_CONTEXT c, void *data) {
    return WithContext(c, 89, [&](TNkiHandle &h) {
        if (data == nullptr) return NKI_E_BAD_ARGUMENTS;
        uint8_t record[4];
        if (uint32_t rc = kcar::AuditRecord(h, record); rc != NKI_OK) return rc;
        kcar::PutLe32(data, 4);
        std::memcpy(static_cast<uint8_t *>(data) + 4, record, 4);
        return NKI_OK;
    });
}

uint32_t nkiGetCertListSize(NKI_CONTEXT, uint32_t *) { return NKI_E_OBSOLETE; }
uint32_t nkiGetCertList(NKI_CONTEXT, void *) { return NKI_E_OBSOLETE; }

uint32_t nkiGetHwKeyTableSize(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetHwSessionKey(NKI_CONTEXT, void *, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiSetHwSessionKey(NKI_CONTEXT, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiSetHwSBox(NKI_CONTEXT, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwInitCipher(NKI_CONTEXT, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwCipherUpdate(NKI_CONTEXT, void *, uint32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwGetMac(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

// Formatting belongs to the key file and container card modules.
uint32_t nkiFormat(NKI_CONTEXT, const char *, const void *, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

}  // extern "C"
