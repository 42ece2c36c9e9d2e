// Document signatures that the carrier completes, and the multi-carrier build's
// host-side key pair calls.
//
// In a document signature the library hashes the document up to a block boundary
// (zero bytes fill the last block) and hands the hash state to the carrier, which
// appends its 14-byte stamp, completes the hash and signs it. A verifier hashes the
// document, the same zero bytes and the stamp, and checks the signature.
#include <cstring>

#include "crypto/secure_wipe.h"
#include "session/nki_handle.h"

namespace kcar {
namespace {

const uint8_t kZeros[32] = {};

void PutLe(uint8_t *out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t BitCount(const TGostHash &hash) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | hash.Length[i];
    return bits;
}

}  // namespace

uint32_t TNkiHandle::SignHashState(const TGostHash &hash, uint32_t pad, uint8_t *signature, uint8_t *stamp14) {
    uint8_t record[70];
    PutLe(record, pad, 2);
    PutLe(record + 2, BitCount(hash) / 8, 4);
    std::memcpy(record + 6, hash.H, 32);
    std::memcpy(record + 38, hash.Sum, 32);
    return Carrier->SignDocument(record, signature, stamp14);
}

void TNkiHandle::DocumentHash(const TGostHash &parameters, const uint8_t *data, uint32_t length, const uint8_t *stamp,
                              uint32_t stampLength, uint8_t *hash32) {
    TGostHash h = parameters;
    HashClear(&h);
    ::HashUpdate(&h, data, length);
    if (length % 32 != 0) ::HashUpdate(&h, kZeros, 32 - length % 32);
    ::HashUpdate(&h, stamp, stampLength);
    ::HashFinal(&h, hash32);
    HashDone(&h);
}

uint32_t TNkiHandle::SignDoc(const void *data, uint32_t length, void *signature, void *stamp, int32_t *stampLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (!DsReady) return NKI_E_NOT_INITIALIZED_OP;
    if ((data == nullptr && length > 0) || signature == nullptr || stamp == nullptr || stampLength == nullptr)
        return NKI_E_BAD_ARGUMENTS;
    // The document hash runs under the carrier's own parameters, whatever nkiInitDS got.
    TGostHash doc;
    HashInit(&doc, Params.Sbox, Params.IV);
    ::HashUpdate(&doc, data, length);
    if (length % 32 != 0) ::HashUpdate(&doc, kZeros, 32 - length % 32);
    const uint32_t rc = SignHashState(doc, 32 - length % 32, static_cast<uint8_t *>(signature),
                                      static_cast<uint8_t *>(stamp));
    HashDone(&doc);
    *stampLength = kStampSize;
    return rc;
}

uint32_t TNkiHandle::SignDocFinal(void *signature, void *stamp, int32_t *stampLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    // The carrier completes the hash with its own parameters only.
    if (State & DsCallerParams) return NKI_E_CONTEXT_IN_USE;
    if (!DsReady) return NKI_E_NOT_INITIALIZED_OP;
    if (signature == nullptr || stamp == nullptr || stampLength == nullptr) return NKI_E_BAD_ARGUMENTS;
    const uint32_t b = DsHash.BlockPos;
    if (b != 0) ::HashUpdate(&DsHash, kZeros, 32 - b);
    const uint32_t rc =
        SignHashState(DsHash, 32 - b, static_cast<uint8_t *>(signature), static_cast<uint8_t *>(stamp));
    *stampLength = kStampSize;
    HashClear(&DsHash);
    return rc;
}

uint32_t TNkiHandle::VerifyDoc(const void *data, uint32_t length, const void *stamp, uint32_t stampLength,
                               const void *publicKey, bool compressed, const void *signature,
                               uint32_t signatureLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (!DsReady) return NKI_E_NOT_INITIALIZED_OP;
    if ((data == nullptr && length > 0) || (stamp == nullptr && stampLength > 0) || publicKey == nullptr ||
        signature == nullptr)
        return NKI_E_BAD_ARGUMENTS;
    uint8_t hash[32];
    DocumentHash(DsHash, static_cast<const uint8_t *>(data), length, static_cast<const uint8_t *>(stamp), stampLength,
                 hash);
    return VerifyOn(DsCurve, hash, publicKey, compressed, signature, signatureLength);
}

uint32_t TNkiHandle::VerifyDocFinal(const void *stamp, uint32_t stampLength, const void *publicKey, bool compressed,
                                    const void *signature, uint32_t signatureLength) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (!DsReady) return NKI_E_NOT_INITIALIZED_OP;
    if ((stamp == nullptr && stampLength > 0) || publicKey == nullptr || signature == nullptr)
        return NKI_E_BAD_ARGUMENTS;
    const uint32_t b = DsHash.BlockPos;
    if (b != 0) ::HashUpdate(&DsHash, kZeros, 32 - b);
    ::HashUpdate(&DsHash, stamp, stampLength);
    uint8_t hash[32];
    ::HashFinal(&DsHash, hash);
    return VerifyOn(DsCurve, hash, publicKey, compressed, signature, signatureLength);
}

uint32_t TNkiHandle::GetCurrentDsSizes(int32_t *keySize, int32_t *signatureSize) {
    if (!DsReady) return NKI_E_NOT_INITIALIZED_OP;
    if (keySize == nullptr || signatureSize == nullptr) return NKI_E_BAD_ARGUMENTS;
    *keySize = static_cast<int32_t>(2 * ((DsCurve.M + 7) / 8));
    *signatureSize = static_cast<int32_t>(DsCurve.SigLen);
    return NKI_OK;
}

uint32_t TNkiHandle::GetSymmKey(void *key32) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if ((State & SymmKeyHeld) == 0) return NKI_E_KEY_ABSENT;
    if (key32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    std::memcpy(key32, SymmKey, sizeof SymmKey);
    return NKI_OK;
}

uint32_t TNkiHandle::GenerateUserKeyPair(void *privateKey, void *publicKey) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (privateKey == nullptr || publicKey == nullptr) return NKI_E_BAD_ARGUMENTS;
    // The signature work object is made here when nkiInitDS has not made it.
    if (uint32_t rc = DsReady ? NKI_OK : InitDS(nullptr); rc != NKI_OK) return rc;
    if (uint32_t rc = EnsureRng(); rc != NKI_OK) return rc;
    const std::size_t L = static_cast<std::size_t>((DsCurve.M + 7) / 8);
    const std::size_t D = static_cast<std::size_t>(DsCurve.SigLen / 2);
    uint32_t d[ECC_WORDS];
    TEcPoint q;
    uint32_t rc = NKI_E_CRYPTO_INTERNAL;
    if (EccGeneratePrivateKey(&DsCurve, d) && EccCalcPublicKey(&DsCurve, d, &q)) {
        BytesFromWords(d, static_cast<uint8_t *>(privateKey), D);
        BytesFromWords(q.x, static_cast<uint8_t *>(publicKey), L);
        BytesFromWords(q.y, static_cast<uint8_t *>(publicKey) + L, L);
        rc = NKI_OK;
    }
    SecureWipe(d, sizeof d);
    return rc;
}

uint32_t TNkiHandle::VerifyUserKeyPair(const void *privateKey, const void *publicKey) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (privateKey == nullptr || publicKey == nullptr) return NKI_E_BAD_ARGUMENTS;
    if (uint32_t rc = DsReady ? NKI_OK : InitDS(nullptr); rc != NKI_OK) return rc;
    const std::size_t D = static_cast<std::size_t>(DsCurve.SigLen / 2);
    uint32_t d[ECC_WORDS];
    WordsFromBytes(static_cast<const uint8_t *>(privateKey), D, d);
    TEcPoint given, computed;
    uint32_t rc = NKI_E_KEY_MISMATCH;
    if (!LoadPublicKey(DsCurve, publicKey, false, given)) {
        rc = NKI_E_KEY_MISMATCH;
    } else if (!EccCalcPublicKey(&DsCurve, d, &computed)) {
        rc = NKI_E_KEY_MISMATCH;  // a private key out of range belongs to no public key
    } else if (std::memcmp(given.x, computed.x, sizeof given.x) == 0 &&
               std::memcmp(given.y, computed.y, sizeof given.y) == 0) {
        rc = NKI_OK;
    }
    SecureWipe(d, sizeof d);
    return rc;
}

}  // namespace kcar
