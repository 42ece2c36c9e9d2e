// The two hash streams of a session, DSTU 4145 signing through the token and
// verification in the library.
#include <cstring>

#include "crypto/secure_wipe.h"
#include "session/nki_handle.h"

namespace kcar {

#define NKI_REQUIRE_SESSION() \
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED

uint32_t TNkiHandle::InitHash(const void *iv32, const void *sbox64) {
    NKI_REQUIRE_SESSION();
    HashDone(&Hash);
    HashInit(&Hash, sbox64, iv32);
    State |= HashMade;
    return NKI_OK;
}

// The multi-carrier build has no general hash before nkiInitHash.
#define NKI_REQUIRE_HASH()                                                             \
    NKI_REQUIRE_SESSION();                                                             \
    if (MultiCarrier() && (State & HashMade) == 0) return NKI_E_NOT_INITIALIZED_OP

uint32_t TNkiHandle::GetHash(const void *data, uint32_t length, void *hash32) {
    NKI_REQUIRE_HASH();
    if ((data == nullptr && length > 0) || hash32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    HashClear(&Hash);
    ::HashUpdate(&Hash, data, length);
    ::HashFinal(&Hash, hash32);
    return NKI_OK;
}

uint32_t TNkiHandle::HashUpdate(const void *data, uint32_t length) {
    NKI_REQUIRE_HASH();
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    ::HashUpdate(&Hash, data, length);
    return NKI_OK;
}

uint32_t TNkiHandle::HashFinal(void *hash32) {
    NKI_REQUIRE_HASH();
    if (hash32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    ::HashFinal(&Hash, hash32);
    return NKI_OK;
}

uint32_t TNkiHandle::InitDS(const tagTECParams *params) {
    NKI_REQUIRE_SESSION();
    DsReady = false;
    const tagTECParams &p = params != nullptr ? *params : Params;
    if (!CurveFromParams(DsCurve, p, true, iRngFunc, this)) return NKI_E_BAD_ARGUMENTS;
    HashDone(&DsHash);
    HashInit(&DsHash, p.Sbox, p.IV);
    DsReady = true;
    State |= DsMade;
    if (params != nullptr)
        State |= DsCallerParams;
    else
        State &= ~DsCallerParams;
    return NKI_OK;
}

uint32_t TNkiHandle::EnsureDs() {
    if (DsReady) return NKI_OK;
    // The multi-carrier build signs and verifies only after nkiInitDS.
    return MultiCarrier() ? NKI_E_NOT_INITIALIZED_OP : InitDS(nullptr);
}

uint32_t TNkiHandle::HashMessageDs(const void *data, uint32_t length, uint8_t *hash32) {
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = EnsureDs();
    if (rc != NKI_OK) return rc;
    HashClear(&DsHash);
    ::HashUpdate(&DsHash, data, length);
    ::HashFinal(&DsHash, hash32);
    return NKI_OK;
}

uint32_t TNkiHandle::SignHash(const void *hash32, void *signature) {
    NKI_REQUIRE_SESSION();
    if (hash32 == nullptr || signature == nullptr) return NKI_E_BAD_ARGUMENTS;
    return Carrier->SignHash(static_cast<const uint8_t *>(hash32), static_cast<uint8_t *>(signature));
}

uint32_t TNkiHandle::SignData(const void *data, uint32_t length, void *signature) {
    NKI_REQUIRE_SESSION();
    if (signature == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint8_t hash[32];
    uint32_t rc = HashMessageDs(data, length, hash);
    return rc != NKI_OK ? rc : SignHash(hash, signature);
}

uint32_t TNkiHandle::LoadData(const void *data, uint32_t length) {
    NKI_REQUIRE_SESSION();
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = EnsureDs();
    if (rc != NKI_OK) return rc;
    ::HashUpdate(&DsHash, data, length);
    return NKI_OK;
}

uint32_t TNkiHandle::SignFinal(void *signature) {
    NKI_REQUIRE_SESSION();
    if (signature == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = EnsureDs();
    if (rc != NKI_OK) return rc;
    uint8_t hash[32];
    ::HashFinal(&DsHash, hash);
    return SignHash(hash, signature);
}

bool TNkiHandle::LoadPublicKey(const TEcc &curve, const void *key, bool compressed, TEcPoint &point) const {
    if (key == nullptr || curve.M == 0) return false;
    const std::size_t L = static_cast<std::size_t>((curve.M + 7) / 8);
    const auto *bytes = static_cast<const uint8_t *>(key);
    if (compressed) {
        uint32_t x[ECC_WORDS];
        WordsFromBytes(bytes, L, x);
        EccExpandPoint(&curve, x, &point);
    } else {
        WordsFromBytes(bytes, L, point.x);
        WordsFromBytes(bytes + L, L, point.y);
    }
    return true;
}

uint32_t TNkiHandle::VerifyOn(const TEcc &curve, const uint8_t *hash32, const void *publicKey, bool compressed,
                              const void *signature, uint32_t signatureLength) const {
    TEcPoint q;
    if (hash32 == nullptr || signature == nullptr || !LoadPublicKey(curve, publicKey, compressed, q))
        return NKI_E_INVALID_SIGNATURE;
    return EccCheckHash(&curve, &q, hash32, static_cast<const uint8_t *>(signature), signatureLength)
               ? NKI_OK
               : NKI_E_INVALID_SIGNATURE;
}

uint32_t TNkiHandle::VerifyHashEx(const void *hash32, const void *publicKey, bool compressed, const void *signature,
                                  uint32_t signatureLength) {
    NKI_REQUIRE_SESSION();
    uint32_t rc = EnsureDs();
    if (rc != NKI_OK) return rc;
    return VerifyOn(DsCurve, static_cast<const uint8_t *>(hash32), publicKey, compressed, signature,
                    signatureLength);
}

uint32_t TNkiHandle::VerifyHash(const void *hash32, const void *publicKey, const void *signature, bool compressed) {
    return VerifyHashEx(hash32, publicKey, compressed, signature, 0);
}

uint32_t TNkiHandle::VerifyDataEx(const void *data, uint32_t length, const void *publicKey, bool compressed,
                                  const void *signature, uint32_t signatureLength) {
    NKI_REQUIRE_SESSION();
    uint8_t hash[32];
    uint32_t rc = HashMessageDs(data, length, hash);
    return rc != NKI_OK ? rc : VerifyHashEx(hash, publicKey, compressed, signature, signatureLength);
}

uint32_t TNkiHandle::VerifyData(const void *data, uint32_t length, const void *publicKey, const void *signature,
                                bool compressed) {
    return VerifyDataEx(data, length, publicKey, compressed, signature, 0);
}

uint32_t TNkiHandle::VerifyFinalEx(const void *publicKey, bool compressed, const void *signature,
                                   uint32_t signatureLength) {
    NKI_REQUIRE_SESSION();
    uint32_t rc = EnsureDs();
    if (rc != NKI_OK) return rc;
    uint8_t hash[32];
    ::HashFinal(&DsHash, hash);
    return VerifyHashEx(hash, publicKey, compressed, signature, signatureLength);
}

uint32_t TNkiHandle::VerifyFinal(const void *publicKey, const void *signature, bool compressed) {
    return VerifyFinalEx(publicKey, compressed, signature, 0);
}

uint32_t TNkiHandle::SignCAReq(const void *hash32, uint32_t keyNumber, void *signature, void *out16) {
    NKI_REQUIRE_SESSION();
    if (hash32 == nullptr || signature == nullptr || out16 == nullptr) return NKI_E_BAD_ARGUMENTS;
    return Carrier->SignCaRequest(keyNumber, static_cast<const uint8_t *>(hash32), static_cast<uint8_t *>(signature),
                                static_cast<uint8_t *>(out16));
}

uint32_t TNkiHandle::SignCAReqEx(const void *data, uint32_t length, uint32_t keyNumber, void *signature,
                                 void *out16) {
    NKI_REQUIRE_SESSION();
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    TGostHash hash;
    HashInit(&hash, Params.Sbox, Params.IV);
    ::HashUpdate(&hash, data, length);
    uint8_t digest[32];
    ::HashFinal(&hash, digest);
    HashDone(&hash);
    return SignCAReq(digest, keyNumber, signature, out16);
}

}  // namespace kcar
