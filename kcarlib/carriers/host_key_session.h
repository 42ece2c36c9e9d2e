// HostKeySession: the session state of a carrier whose keys live on the host
// while a session is open (key files and container cards), and the key
// operations that run on the host for both. The carrier decides where the
// container is stored: it implements Commit, and may count signatures on the
// card afterwards.
//
// Every changing key operation keeps a copy of the key slots and state bits and
// puts them back when its commit fails, so that the session never holds keys
// that its carrier does not.
#pragma once

#include <cstdint>
#include <vector>

#include "carriers/host_keys.h"
#include "carriers/host_random.h"
#include "kcarlib/ecc.h"

namespace kcar {

class HostKeySession {
public:
    using Bytes = std::vector<uint8_t>;

    HostKeySession() noexcept;
    virtual ~HostKeySession();
    HostKeySession(const HostKeySession &) = delete;
    HostKeySession &operator=(const HostKeySession &) = delete;

    // Writes the container to its carrier; 0 or the failure's code.
    virtual uint32_t Commit() = 0;

    uint32_t GenerateOwnerKeyPair();
    uint32_t CreateFutureKey();
    uint32_t ActivateFutureKey();
    // The DSTU 4145 signature of a 32-byte hash with the owner key: SignatureSize()
    // bytes.
    uint32_t SignHash(const uint8_t *hash32, uint8_t *signature);
    // The same with the key of slot 1 (owner) or 2 (future): 98 when it is empty.
    uint32_t SignHashWithSlot(uint32_t slot, const uint8_t *hash32, uint8_t *signature);
    // The two wrap keys of the receiving side of a key agreement with the peer's
    // point: 104 when it is not a point of order n on the session's curve.
    uint32_t WrapKeys(const TEcPoint &peer, uint8_t *key0, uint8_t *key1);
    // 16 random bytes, then the signature of the hash of those bytes and the
    // 8-byte challenge.
    uint32_t AuthenticationResponse(const uint8_t *challenge8, uint8_t *response);
    uint32_t AuthenticationResponseSize() const { return 16 + SignatureSize(); }
    // Verifies a signature of a hash with a public key on the session's curve.
    uint32_t VerifyHash(const TEcPoint &q, const uint8_t *hash32, const uint8_t *signature);

    uint32_t SignatureSize() const { return signatureSize_; }
    uint32_t State() const { return state_; }
    bool Open() const { return (state_ & kStSessionOpen) != 0; }
    void ForgetPin() { state_ &= ~kStPinAccepted; }
    const uint8_t *Uid() const { return uid_; }
    const CurveParams &Curve() const { return curve_; }
    const TEcPoint &OwnerPublicKey() const { return keys_.owner.q; }
    const TEcPoint &FuturePublicKey() const { return keys_.future.q; }

    // The packed certificate store and the user file, as the carrier stores them.
    const Bytes &CertificateArea() const { return certs_; }
    uint32_t SetCertificateArea(const Bytes &packed);
    const Bytes &UserFile() const { return userFile_; }

protected:
    // Wipes the keys and returns the session to closed.
    void Reset() noexcept;
    // Before a key operation: PIN accepted (39), and the signer set up (254).
    virtual uint32_t Ready();
    // After each host signature (the container card counts it on the card).
    virtual uint32_t AfterSignature() { return 0; }
    uint32_t EnsureSigner();

    uint32_t state_ = kStContextValid;
    uint8_t uid_[8] = {};
    uint8_t alg_[4] = {1, 1, 1, 1};
    uint8_t symKey_[32] = {};
    uint8_t genSeed_[8] = {};
    uint8_t genKey_[32] = {};
    uint8_t containerKey_[32] = {};
    uint32_t signatureSize_ = 0;
    CurveParams curve_;
    HostKeys keys_;
    Bytes certs_, userFile_;

    HostRng rng_;
    TEcc ecc_{};
    bool signerReady_ = false;
};

}  // namespace kcar
