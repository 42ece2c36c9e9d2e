#include "carriers/key_file_carrier.h"

#include <cstring>

#include "carriers/atomic_file.h"
#include "carriers/card_family.h"
#include "carriers/key_file_format.h"
#include "crypto/secure_wipe.h"
#include "kcarlib/nki_result.h"

namespace kcar {

namespace {

void ToBytes24(const uint32_t *w, uint8_t *b) { BytesFromWords(w, b, 24); }
void FromBytes24(const uint8_t *b, uint32_t *w) { WordsFromBytes(b, 24, w); }

}  // namespace

// The curve of a key file: the standard field of degree 191 and the file's A, B,
// N, base point and hash parameters.
static void CurveFromContent(const keyfile::KeyFileContent &k, CurveParams &c) {
    c = StandardCurve191();
    c.a = int32_t(k.a);
    FromBytes24(k.b, c.b);
    FromBytes24(k.n, c.n);
    FromBytes24(k.px, c.p.x);
    FromBytes24(k.py, c.p.y);
    std::memcpy(c.hashIv, k.hashIv, 32);
    std::memcpy(c.hashSbox, k.hashSbox, 64);
}

uint32_t KeyFileCarrier::OpenFile(const std::string &path, const uint8_t *key32) {
    if (Open()) return NKI_E_CONTEXT_IN_USE;
    if (path.empty() || key32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    keyfile::Bytes file;
    if (ReadWholeFile(path, keyfile::kMaxFile, file) != 0) return NKI_E_IO;
    keyfile::Bytes body;
    uint8_t signature[keyfile::kSignatureSize];
    uint32_t rc = keyfile::OpenFile(file, key32, body, signature);
    if (rc != NKI_OK) return rc;
    keyfile::KeyFileContent k;
    std::size_t bodyLength = 0;
    rc = keyfile::DecodeBody(body.data(), body.size(), k, &bodyLength);
    CurveParams curve;
    KeySlot owner, future;
    TEcc check;
    EccInit(&check, nullptr, nullptr);
    if (rc == NKI_OK) {
        CurveFromContent(k, curve);
        rc = SetUpCurve(check, curve, nullptr);
    }
    if (rc == NKI_OK) {
        // The stored public key must belong to the stored private key.
        FromBytes24(k.ownerD, owner.d);
        TEcPoint stored;
        PointClear(&stored);
        FromBytes24(k.ownerX, stored.x);
        FromBytes24(k.ownerY, stored.y);
        if (!PublicFromPrivate(check, owner) || !PointIsEqual(&owner.q, &stored)) rc = NKI_E_BAD_PASSWORD;
    }
    if (rc == NKI_OK) {
        uint8_t hash[32];
        HashWith(curve, body.data(), bodyLength, hash);
        if (!VerifyHashWith(check, owner.q, hash, signature)) rc = NKI_E_BAD_PASSWORD;
    }
    if (rc == NKI_OK) {
        FromBytes24(k.futureD, future.d);
        if (!IntIsZero(future.d) && !PublicFromPrivate(check, future)) rc = NKI_E_BAD_PASSWORD;
    }
    EccDone(&check);
    if (rc == NKI_OK) {
        Reset();
        curve_ = curve;
        std::memcpy(uid_, k.uid, 8);
        std::memcpy(alg_, k.alg, 4);
        std::memcpy(symKey_, k.symKey, 32);
        std::memcpy(genSeed_, k.genSeed, 8);
        std::memcpy(genKey_, k.genKey, 32);
        std::memcpy(containerKey_, key32, 32);
        keys_.owner = owner;
        keys_.future = future;
        certs_ = k.certs;
        userFile_ = k.userFile;
        signatureSize_ = keyfile::kSignatureSize;
        path_ = path;
        // The file key stands in for the PIN.
        state_ = k.state | kStContextValid | kStSessionOpen | kStPinAccepted;
    }
    SecureWipeObject(owner);
    SecureWipeObject(future);
    SecureWipe(body.data(), body.size());
    k.WipeSecrets();
    return rc;
}

uint32_t KeyFileCarrier::Commit() {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (!(state_ & kStPinAccepted)) return NKI_OK;
    keyfile::KeyFileContent k;
    std::memcpy(k.uid, uid_, 8);
    std::memcpy(k.alg, alg_, 4);
    k.state = state_ & kStStoredBits;
    std::memcpy(k.symKey, symKey_, 32);
    ToBytes24(keys_.owner.d, k.ownerD);
    ToBytes24(keys_.owner.q.x, k.ownerX);
    ToBytes24(keys_.owner.q.y, k.ownerY);
    std::memcpy(k.genSeed, genSeed_, 8);
    std::memcpy(k.genKey, genKey_, 32);
    ToBytes24(keys_.future.d, k.futureD);
    k.a = uint32_t(curve_.a);
    ToBytes24(curve_.b, k.b);
    ToBytes24(curve_.n, k.n);
    ToBytes24(curve_.p.x, k.px);
    ToBytes24(curve_.p.y, k.py);
    std::memcpy(k.hashIv, curve_.hashIv, 32);
    std::memcpy(k.hashSbox, curve_.hashSbox, 64);
    k.certs = certs_;
    k.userFile = userFile_;
    keyfile::Bytes body = keyfile::EncodeBody(k);
    k.WipeSecrets();
    uint32_t rc = NKI_OK;
    if (body.size() + keyfile::kHeaderSize + keyfile::kTrailerSize > keyfile::kMaxFile) rc = NKI_E_NO_SPACE;
    uint8_t hash[32], signature[keyfile::kSignatureSize] = {};
    if (rc == NKI_OK) rc = EnsureSigner();
    if (rc == NKI_OK) {
        HashWith(curve_, body.data(), body.size(), hash);
        if (!SignHashWith(ecc_, keys_.owner.d, hash, signature)) rc = NKI_E_CRYPTO_INTERNAL;
    }
    if (rc == NKI_OK) {
        keyfile::Bytes file = keyfile::SealFile(body, signature, containerKey_);
        if (!ReplaceFile(path_, file.data(), file.size())) rc = NKI_E_IO;
        else state_ &= ~kStCertsChanged;
    }
    SecureWipe(body.data(), body.size());
    return rc;
}

uint32_t KeyFileCarrier::Format(const std::string &path, const uint8_t *key32) {
    if (key32 == nullptr || path.empty()) return NKI_E_BAD_ARGUMENTS;
    KeyFileCarrier s;
    std::memcpy(s.containerKey_, key32, 32);
    s.signatureSize_ = 48;
    s.state_ |= kStSessionOpen | kStPinAccepted | kStOwnerPrivate | kStOwnerPublic;
    s.curve_ = StandardCurve191();
    s.path_ = path;
    // The owner key comes from a generator keyed by the family's constant
    // formatting key (32 copies of the container-key start byte) and, above
    // all, by fresh system randomness (HostRng), so that no two formattings can
    // make the same key.
    uint8_t formatKey[32];
    std::memset(formatKey, family::kContainerKeyStartByte, sizeof formatKey);
    uint32_t rc = NKI_OK;
    HostRng rng;
    if (!rng.Start(nullptr, formatKey)) rc = NKI_E_CRYPTO_INTERNAL;
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    if (rc == NKI_OK && SetUpCurve(ecc, s.curve_, &rng) != 0) rc = NKI_E_CRYPTO_INTERNAL;
    if (rc == NKI_OK && !GenerateKeyPair(ecc, s.keys_.owner)) rc = NKI_E_CRYPTO_INTERNAL;
    EccDone(&ecc);
    if (rc == NKI_OK) {
        rng.Fill(s.uid_, 8);
        rng.Fill(s.genSeed_, 8);
        rng.Fill(s.genKey_, 32);
        rc = s.Commit();
    }
    s.Close();
    return rc;
}

uint32_t KeyFileCarrier::ChangePassword(const uint8_t *key32) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (key32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint8_t old[32];
    std::memcpy(old, containerKey_, 32);
    std::memcpy(containerKey_, key32, 32);
    uint32_t rc = Commit();
    if (rc != NKI_OK) std::memcpy(containerKey_, old, 32);
    SecureWipe(old, sizeof old);
    return rc;
}

}  // namespace kcar
