#include "carriers/host_key_session.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "kcarlib/nki_result.h"

namespace kcar {

HostKeySession::HostKeySession() noexcept { EccInit(&ecc_, nullptr, nullptr); }

HostKeySession::~HostKeySession() { Reset(); }

void HostKeySession::Reset() noexcept {
    keys_.Wipe();
    SecureWipe(symKey_, sizeof symKey_);
    SecureWipe(genSeed_, sizeof genSeed_);
    SecureWipe(genKey_, sizeof genKey_);
    SecureWipe(containerKey_, sizeof containerKey_);
    SecureWipe(uid_, sizeof uid_);
    EccDone(&ecc_);
    EccInit(&ecc_, nullptr, nullptr);
    signerReady_ = false;
    certs_.clear();
    userFile_.clear();
    curve_ = CurveParams{};
    signatureSize_ = 0;
    state_ = kStContextValid;
}

uint32_t HostKeySession::EnsureSigner() {
    if (signerReady_) return NKI_OK;
    if (!rng_.Start(genSeed_, genKey_)) return NKI_E_CRYPTO_INTERNAL;
    if (SetUpCurve(ecc_, curve_, &rng_) != 0) return NKI_E_CRYPTO_INTERNAL;
    signerReady_ = true;
    state_ |= kStSignatureReady;
    return NKI_OK;
}

uint32_t HostKeySession::Ready() {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    if (!(state_ & kStPinAccepted)) return NKI_E_PIN_REQUIRED;
    return EnsureSigner();
}

uint32_t HostKeySession::GenerateOwnerKeyPair() {
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (state_ & kStOwnerPrivate) return NKI_E_KEY_ALREADY_LOADED;
    HostKeys old = keys_;
    const uint32_t oldState = state_;
    if (!GenerateKeyPair(ecc_, keys_.owner)) rc = NKI_E_CRYPTO_INTERNAL;
    if (rc == NKI_OK) {
        state_ |= kStOwnerPrivate | kStOwnerPublic;
        rc = Commit();
        if (rc != NKI_OK) {
            keys_ = old;
            state_ = oldState;
        }
    }
    old.Wipe();
    return rc;
}

uint32_t HostKeySession::CreateFutureKey() {
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    HostKeys old = keys_;
    const uint32_t oldState = state_;
    if (!GenerateKeyPair(ecc_, keys_.future)) rc = NKI_E_CRYPTO_INTERNAL;
    if (rc == NKI_OK) {
        state_ |= kStFutureKey;
        rc = Commit();
        if (rc != NKI_OK) {
            keys_ = old;
            state_ = oldState;
        }
    }
    old.Wipe();
    return rc;
}

uint32_t HostKeySession::ActivateFutureKey() {
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (!(state_ & kStFutureKey)) return NKI_E_KEY_ABSENT;
    HostKeys old = keys_;
    const uint32_t oldState = state_;
    keys_.owner = keys_.future;
    SecureWipeObject(keys_.future);
    state_ = (state_ & ~uint32_t{0x13}) | 0x03;
    rc = Commit();
    if (rc != NKI_OK) {
        keys_ = old;
        state_ = oldState;
    }
    old.Wipe();
    return rc;
}

uint32_t HostKeySession::SignHash(const uint8_t *hash32, uint8_t *signature) {
    if (hash32 == nullptr || signature == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (!(state_ & kStOwnerPrivate)) return NKI_E_PRIVATE_KEY_ABSENT;
    if (!SignHashWith(ecc_, keys_.owner.d, hash32, signature)) return NKI_E_CRYPTO_INTERNAL;
    return AfterSignature();
}

uint32_t HostKeySession::SignHashWithSlot(uint32_t slot, const uint8_t *hash32, uint8_t *signature) {
    if (slot == 1) return SignHash(hash32, signature);
    if (slot != 2) return NKI_E_OUT_OF_RANGE;
    if (hash32 == nullptr || signature == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (!(state_ & kStFutureKey)) return NKI_E_KEY_ABSENT;
    if (!SignHashWith(ecc_, keys_.future.d, hash32, signature)) return NKI_E_CRYPTO_INTERNAL;
    return AfterSignature();
}

uint32_t HostKeySession::VerifyHash(const TEcPoint &q, const uint8_t *hash32, const uint8_t *signature) {
    uint32_t rc = EnsureSigner();
    if (rc != NKI_OK) return rc;
    return VerifyHashWith(ecc_, q, hash32, signature) ? NKI_OK : NKI_E_INVALID_SIGNATURE;
}

uint32_t HostKeySession::WrapKeys(const TEcPoint &peer, uint8_t *key0, uint8_t *key1) {
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (!(state_ & kStOwnerPrivate)) return NKI_E_PRIVATE_KEY_ABSENT;
    if (!EccVerifyPublicKey(&ecc_, &peer)) return NKI_E_INVALID_TOKEN;
    TEcDHKD kd;
    rc = NKI_E_CRYPTO_INTERNAL;
    if (EcdhInitAll(&kd, curve_.m, curve_.k1, curve_.k2, curve_.k3, curve_.a, curve_.b, curve_.n, &curve_.p,
                    curve_.hashSbox, curve_.hashIv, &HostRng::EccBit, &rng_)) {
        rc = EcdhDeriveKeyReceive(&kd, &peer, keys_.owner.d, key0, key1) ? NKI_OK : NKI_E_INVALID_TOKEN;
    }
    EcdhDone(&kd);
    return rc;
}

uint32_t HostKeySession::AuthenticationResponse(const uint8_t *challenge8, uint8_t *response) {
    if (challenge8 == nullptr || response == nullptr) return NKI_E_BAD_ARGUMENTS;
    uint32_t rc = Ready();
    if (rc != NKI_OK) return rc;
    if (!(state_ & kStOwnerPrivate)) return NKI_E_PRIVATE_KEY_ABSENT;
    uint8_t input[24], hash[32];
    rng_.Fill(input, 16);
    std::memcpy(input + 16, challenge8, 8);
    HashWith(curve_, input, sizeof input, hash);
    if (!SignHashWith(ecc_, keys_.owner.d, hash, response + 16)) return NKI_E_CRYPTO_INTERNAL;
    std::memcpy(response, input, 16);
    return NKI_OK;
}

uint32_t HostKeySession::SetCertificateArea(const Bytes &packed) {
    if (!Open()) return NKI_E_NOT_CONNECTED;
    Bytes old = certs_;
    const uint32_t oldState = state_;
    certs_ = packed;
    state_ |= kStCertsChanged;
    uint32_t rc = Commit();
    if (rc != NKI_OK) {
        certs_ = old;
        state_ = oldState;
    }
    return rc;
}

}  // namespace kcar
