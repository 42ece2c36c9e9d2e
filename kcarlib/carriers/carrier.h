// TCarrier: one key carrier as the session services see it.
//
// A session (TNkiHandle) does its hashing, verification, encryption, MACs and the
// sender's side of key agreement itself; everything that needs the carrier's
// private key, its storage or its PIN goes through this interface. One object
// stands for one open carrier: it is made by MakeCarrier for a device type,
// opened once, used, closed once and deleted by the session that owns it.
//
// Implementations:
//  - the active token (device type 3): the token command layer TNkiAbs reached
//    through PC/SC; it signs, derives keys and keeps files on the card;
//  - the type-4 module (device type 4): refuses every request, so no session on
//    it ever opens;
//  - the key file (1), the container card (2) and the protected data card (19):
//    their modules hold the unpacked keys on the host and do the key operations
//    there.
//
// Contract of every method:
//  - it answers a result code of kcarlib/nki_result.h, 0 for success; nothing
//    throws out of it and nothing is logged;
//  - the default implementation answers NKI_E_UNSUPPORTED_FUNCTION (252): a
//    carrier overrides what its device type offers and nothing else;
//  - apart from Open, Close and IsPresent, methods are called only while the
//    carrier is open; the session checks its arguments (null pointers, lengths)
//    before it calls, so methods may rely on the sizes documented here;
//  - output buffers are written only on success unless a method says otherwise.
#pragma once

#include <cstdint>

#include "kcarlib/nki.h"

namespace kcar {

// Device type codes.
enum : uint8_t {
    kDeviceUnknown = 0,         // not yet known; resolved at session opening
    kDeviceKeyFile = 1,         // key container in a file on disk
    kDeviceContainerCard = 2,   // card that stores an enciphered key container
    kDeviceActiveToken = 3,     // keys stay on the token
    kDeviceType4 = 4,           // served, but its module refuses everything
    kDeviceProtectedCard = 19,  // protected data card behind a secure channel
    kDeviceUnknownFamily = 128, // card of the family with an unknown type nibble
    kDeviceForeign = 255,       // card that is not of the family
};

// Which library drives the carrier: the token build (pointer contexts, active
// token only) or the multi-carrier build. The token command layer drives the
// token slightly differently in each.
enum class CarrierBuild { Token, MultiCarrier };

class TCarrier {
public:
    // Capability bits answered by Caps().
    static constexpr uint64_t CapDocumentSignedSk = 0x02;  // SK tokens signed with the document command

    virtual ~TCarrier() = default;
    TCarrier() = default;
    TCarrier(const TCarrier &) = delete;
    TCarrier &operator=(const TCarrier &) = delete;

    // The device type this object serves (one of the codes above).
    virtual uint8_t DeviceType() const noexcept = 0;

    // --- Opening and presence ---

    // Opens the carrier: name is a reader name (cards, tokens) or a file path (key
    // file); key is the key file's password and unused by the others. 0 on
    // success. On failure nothing stays open and the code says why: 3 device not
    // reachable, 50 the carrier's curve is refused, 252 the type opens no session,
    // or the carrier's own codes (32-38, 33 wrong password, ...).
    virtual uint32_t Open(const char *name, const void *key) = 0;
    // Releases the card or file; safe when not open or already closed. Answers 0,
    // or the carrier's code when the release itself failed (the object is closed
    // in any case).
    virtual uint32_t Close() noexcept = 0;
    // True while the card is still reachable. A carrier without a card (key file)
    // is always present. Never answers a code: a failed query counts as absent.
    virtual bool IsPresent() noexcept { return true; }
    // True when the carrier needs no PIN presentation for its PIN-guarded calls:
    // the key file, whose password was checked at opening.
    virtual bool PinAcceptedAtOpen() const noexcept { return false; }
    // Capability bits (Cap... above) learned at opening.
    virtual uint64_t Caps() const noexcept { return 0; }

    // --- Identity, parameters and storage ---

    // The carrier's 8-byte serial number (the UID of the session).
    virtual uint32_t GetSerial(uint8_t *serial8);
    // The curve and hash parameters of the carrier's keys: m, k1..k3, A, B, N, Px,
    // Py (least significant byte first), IV and the packed S-box. 50 when the
    // carrier holds no usable curve.
    virtual uint32_t GetCurveParams(tagTECParams &params);
    // Public key of key slot n (1 = owner key, 2 = future key) as 128 bytes: x then
    // y, 64 bytes each, least significant byte first. 98 when the slot is empty.
    virtual uint32_t GetPublicKey(uint32_t slot, uint8_t *point128);
    // length random bytes from the carrier (seeding the session's generator).
    virtual uint32_t GetRandom(uint8_t *out, uint32_t length);
    // Size in bytes of container n: 1 the user file, 2 the certificate container.
    virtual uint32_t GetContainerSize(uint32_t n, uint32_t *size);
    // Reads or writes length bytes of container n at offset; 52 beyond its end.
    // A write that is cut leaves the old bytes or the new.
    virtual uint32_t ReadContainer(uint32_t n, uint32_t offset, uint8_t *buffer, uint32_t length);
    virtual uint32_t WriteContainer(uint32_t n, uint32_t offset, const uint8_t *data, uint32_t length);

    // --- PIN and authentication ---

    // 0 accepted; 224 + n wrong PIN with n tries left; 36 blocked; 64..79 bad length.
    virtual uint32_t CheckPin(const uint8_t *pin, int32_t length);
    virtual uint32_t ForgetPin();
    // mode 0: user PIN; 1: PUK; 2: unblock with the PUK; other modes 52.
    virtual uint32_t ChangePin(const uint8_t *oldPin, int32_t oldLength, const uint8_t *newPin, int32_t newLength,
                               int32_t mode);
    // Re-enciphers the key container under a new password (key file, container card).
    virtual uint32_t ChangePassword(const void *key);
    // Lengths of the authentication challenge and response.
    virtual uint32_t GetAuthSizes(uint32_t *challengeLength, uint32_t *responseLength);
    virtual uint32_t Authenticate(const uint8_t *challenge, uint8_t *response);

    // --- Key operations ---

    // Makes a new key pair in slot n (1 or 2) and answers its public key (128 bytes).
    virtual uint32_t GenerateKeyPair(uint32_t slot, uint8_t *point128);
    // Makes the future key (slot 2) the owner key (slot 1).
    virtual uint32_t ActivateFutureKey();
    // Signs a 32-byte hash with the owner key; signature: the curve's signature
    // length (48 bytes on the 191-bit curve), r then s. 39 PIN required, 96 no key.
    virtual uint32_t SignHash(const uint8_t *hash32, uint8_t *signature);
    // Signs a certificate request hash with key slot n; out16 receives 16 bytes.
    virtual uint32_t SignCaRequest(uint32_t slot, const uint8_t *hash32, uint8_t *signature, uint8_t *out16);
    // Receiving side of key agreement: the peer's ephemeral point (128 bytes, as
    // GetPublicKey) with the owner key gives the two 32-byte wrap keys.
    virtual uint32_t AgreeKeys(const uint8_t *point128, uint8_t *key0, uint8_t *key1);
    // Document signature completed by the carrier: record70 is the hash state
    // record (pad count, byte count, H, control sum); answers the signature and
    // the carrier's 14-byte stamp. Only the active token offers it.
    virtual uint32_t SignDocument(const uint8_t *record70, uint8_t *signature, uint8_t *stamp14);

    // --- Control, audit and information ---

    virtual uint32_t IoControl(uint32_t code, const uint8_t *in, uint32_t inLength, uint8_t *out,
                               uint32_t outCapacity, uint32_t *outLength);
    // The carrier's one 4-byte audit record.
    virtual uint32_t ReadAuditRecord(uint8_t *record4);
    // Information item `code` of nkiGetInfoEx: *length receives the item's size and,
    // when buffer is not null, the item is copied into it (the caller asked for the
    // size first). Unknown codes: 52.
    virtual uint32_t GetInfoEx(int32_t code, uint8_t *buffer, int32_t *length);
};

// The carrier object for a device type, not yet opened; null when the type has no
// module in this build (the session then answers 2). One place decides which
// module serves which type.
TCarrier *MakeCarrier(uint8_t deviceType, CarrierBuild build);

}  // namespace kcar
