// TNkiHandle: one library context and the session it holds.
//
// The context owns its carrier (carriers/carrier.h) while a session is open.
// Hashing, verification, encryption, MACs and the sender's side of key agreement
// are computed here; everything that needs a private key goes to the carrier. Every session
// operation answers 3 when no session is open, before it looks at its arguments;
// a required pointer that is null answers 251.
//
// Before the first init call of a context:
//  - the general hash (nkiInitHash) starts from the default parameters: the
//    Uz34311 table and a zero start vector;
//  - signing and verification (nkiInitDS) use the token's own curve and hash
//    parameters, as after nkiInitDS(null); a failed nkiInitDS returns to this;
//  - the cipher and MAC calls (nkiInitCipher) have no key and answer 54
//    ("Operation was not initialized").
#pragma once

#include <cstddef>
#include <cstdint>

#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "carriers/carrier.h"
#include "kcarlib/nki.h"

namespace kcar {


class TNkiHandle {
public:
    static constexpr uint32_t kMagic = 0x41727241;  // "ArrA" in memory order

    // State flags.
    static constexpr uint32_t OwnerKeyLoaded = 0x00000002;
    static constexpr uint32_t CaCertLoaded = 0x00000008;
    static constexpr uint32_t FutureKeyLoaded = 0x00000010;
    static constexpr uint32_t SessionOpen = 0x40000000;
    // State flags of the multi-carrier build.
    static constexpr uint32_t SymmKeyHeld = 0x00000004;      // nkiInitCipher loaded a key
    static constexpr uint32_t SkByDocument = 0x00000020;     // SK tokens signed by the document command
    static constexpr uint32_t DsCallerParams = 0x00200000;   // nkiInitDS got the caller's parameters
    static constexpr uint32_t CipherMade = 0x01000000;
    static constexpr uint32_t HashMade = 0x02000000;
    static constexpr uint32_t DsMade = 0x04000000;
    static constexpr uint32_t RngMade = 0x08000000;
    static constexpr uint32_t PinAccepted = 0x20000000;
    static constexpr uint32_t Created = 0x80000000;
    // Length of the stamp a carrier adds to a document signature.
    static constexpr uint32_t kStampSize = 14;

    TNkiHandle();
    // Disconnects and deletes an open session's token, releases the certificate
    // store and clears the magic word.
    virtual ~TNkiHandle();
    TNkiHandle(const TNkiHandle &) = delete;
    TNkiHandle &operator=(const TNkiHandle &) = delete;

    // True exactly when this is a live context: not null and the magic word intact.
    static bool validate(const TNkiHandle *h) noexcept { return h != nullptr && h->Magic == kMagic; }

    // Session lifecycle and token information.
    // Opens a session on the carrier of deviceType named readerName (a null or
    // empty name takes the first reader holding a card); key is the key file's
    // password. The carrier comes from MakeCarrier for this context's Build.
    uint32_t OpenSession(const char *readerName, const void *key = nullptr, uint8_t deviceType = kDeviceActiveToken);
    uint32_t CloseSession();
    uint32_t IsCardPresent();
    uint32_t GetUid(void *uid8);
    uint32_t GetInfo(tagTNKIinfo *info);
    uint32_t GetCryptoParams(uint8_t index, void *out, uint32_t *outLength);
    uint32_t GetRandomBlock(void *out, uint32_t length);
    uint32_t GenerateKeyPair(uint32_t keyNumber);
    uint32_t GetPublicKey(uint32_t keyNumber, void *key, bool compressed);
    uint32_t ActivateFutureKey();
    uint32_t IoControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outCapacity,
                       uint32_t *outLength);

    // PIN and authentication.
    uint32_t CheckPinEx(const void *pin, int32_t length);
    uint32_t ForgetPin();
    uint32_t ChangePinEx(const void *oldPin, int32_t oldLength, const void *newPin, int32_t newLength, int32_t mode);
    uint32_t GetAuthSize(int32_t *challengeLength, uint32_t *responseLength);
    uint32_t DoAuthentication(const void *challenge, void *response);

    // Hash and digital signature.
    uint32_t InitHash(const void *iv32, const void *sbox64);
    uint32_t GetHash(const void *data, uint32_t length, void *hash32);
    uint32_t HashUpdate(const void *data, uint32_t length);
    uint32_t HashFinal(void *hash32);
    uint32_t InitDS(const tagTECParams *params);
    uint32_t SignHash(const void *hash32, void *signature);
    uint32_t VerifyHash(const void *hash32, const void *publicKey, const void *signature, bool compressed);
    uint32_t VerifyHashEx(const void *hash32, const void *publicKey, bool compressed, const void *signature,
                          uint32_t signatureLength);
    uint32_t SignData(const void *data, uint32_t length, void *signature);
    uint32_t VerifyData(const void *data, uint32_t length, const void *publicKey, const void *signature,
                        bool compressed);
    uint32_t VerifyDataEx(const void *data, uint32_t length, const void *publicKey, bool compressed,
                          const void *signature, uint32_t signatureLength);
    uint32_t LoadData(const void *data, uint32_t length);
    uint32_t SignFinal(void *signature);
    uint32_t VerifyFinal(const void *publicKey, const void *signature, bool compressed);
    uint32_t VerifyFinalEx(const void *publicKey, bool compressed, const void *signature, uint32_t signatureLength);
    uint32_t SignCAReq(const void *hash32, uint32_t keyNumber, void *signature, void *out16);
    uint32_t SignCAReqEx(const void *data, uint32_t length, uint32_t keyNumber, void *signature, void *out16);

    // Encryption and MAC.
    uint32_t InitCipher(const void *key32, const void *sync8, const void *sbox64);
    uint32_t Encrypt(void *data, uint32_t length, uint8_t mode);
    uint32_t Decrypt(void *data, uint32_t length, uint8_t mode);
    uint32_t GetMAC(const void *data, uint32_t length, void *mac8);
    uint32_t CheckMAC(const void *data, uint32_t length, const void *mac8);
    uint32_t MACUpdate(const void *data, uint32_t length);
    uint32_t GetMACFinal(void *mac8);
    uint32_t CheckMACFinal(const void *mac8);
    uint32_t ResetCipher(const void *sync8);

    // Session keys.
    uint32_t GetSKTokenSize(uint32_t *size);
    uint32_t GetSKTokenSizeEx(const tagTECParams &params, bool withMac, uint32_t *size);
    uint32_t GetSessionKey(void *key32, const void *peerPublicKey, const void *incomingToken, void *outgoingToken);
    uint32_t GetSessionKeyEx(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                             const tagTECParams *params, void *outgoingToken);
    uint32_t GetSessionKeyMac(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                              const tagTECParams *params, void *outgoingToken);
    uint32_t SetSessionKeyEx(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                             const tagTECParams *params, const void *incomingToken);
    uint32_t SetSessionKeyMac(void *key32, uint32_t keyNumber, const void *incomingToken);

    // Document signatures completed by the carrier, and host-side key pairs
    // (multi-carrier build; session_documents.cpp).
    uint32_t SignDoc(const void *data, uint32_t length, void *signature, void *stamp, int32_t *stampLength);
    uint32_t SignDocFinal(void *signature, void *stamp, int32_t *stampLength);
    uint32_t VerifyDoc(const void *data, uint32_t length, const void *stamp, uint32_t stampLength,
                       const void *publicKey, bool compressed, const void *signature, uint32_t signatureLength);
    uint32_t VerifyDocFinal(const void *stamp, uint32_t stampLength, const void *publicKey, bool compressed,
                            const void *signature, uint32_t signatureLength);
    uint32_t GetCurrentDsSizes(int32_t *keySize, int32_t *signatureSize);
    uint32_t GetSymmKey(void *key32);
    uint32_t GenerateUserKeyPair(void *privateKey, void *publicKey);
    uint32_t VerifyUserKeyPair(const void *privateKey, const void *publicKey);

    // Random bit of the context's generator, for the curve code's callback.
    int GetRandomBit();

    // Certificate store and user file.
    uint32_t SetCACert(const void *certificate, uint32_t length);
    uint32_t GetCACert(void *buffer, uint32_t *length);
    uint32_t DelCACert();
    uint32_t GetCertSize(uint8_t index, uint32_t *size);
    uint32_t GetCert(uint8_t index, void *buffer);
    uint32_t SetCert(const void *certificate, uint32_t length);
    uint32_t DelCert(uint8_t index);
    uint32_t GetFileSize(int32_t *size);
    uint32_t ReadFile(void *buffer, uint32_t offset, uint32_t length);
    uint32_t WriteFile(const void *buffer, uint32_t offset, uint32_t length);

    uint32_t Magic = kMagic;
    // Public keys travel between carrier and session as x then y, 64 bytes each.
    static constexpr std::size_t kPointSize = 128;
    // Which library made this context; decides how carriers are driven.
    CarrierBuild Build = CarrierBuild::Token;
    TCarrier *Carrier = nullptr;
    uint8_t Serial[8] = {};
    // Multi-carrier build: the context's device type and its symmetric key.
    uint8_t DeviceType = kDeviceActiveToken;
    uint8_t SymmKey[32] = {};
    // Multi-carrier build: the generator's key, read from the carrier at opening.
    uint8_t RngKey[32] = {};
    tagTECParams Params{};
    uint64_t ElementSize = 0;
    uint64_t SignSize = 0;
    TEcc Curve{};
    TEcc DsCurve{};
    TGostHash Hash{};
    TGostHash DsHash{};
    TGostCipher Cipher{};
    TEcPoint OwnerKey{};
    TEcPoint FutureKey{};
    TMagmaRng Rng{};
    uint8_t RngReady = 0;
    uint32_t UserFileSize = 0;
    uint32_t CertFileSize = 0;
    uint8_t *CertStore = nullptr;
    uint32_t CertStoreSize = 0;
    uint32_t State = 0;
    // DsCurve and DsHash hold the parameters of a successful InitDS.
    bool DsReady = false;
    // Cipher holds a key from InitCipher.
    bool CipherReady = false;

private:
    uint32_t CloseOnFailure(uint32_t code);
    bool MultiCarrier() const noexcept { return Build == CarrierBuild::MultiCarrier; }
    // Hash state record of a stream that ends on a block boundary, signed by the
    // carrier: pad count, byte count, H, control sum.
    uint32_t SignHashState(const TGostHash &hash, uint32_t pad, uint8_t *signature, uint8_t *stamp14);
    // Hash of data, zero bytes up to the next multiple of 32 and the stamp, under
    // the hash parameters of `parameters` (restarted, not changed).
    static void DocumentHash(const TGostHash &parameters, const uint8_t *data, uint32_t length, const uint8_t *stamp,
                             uint32_t stampLength, uint8_t *hash32);
    // Makes the generator when the session has none yet (multi-carrier build: on
    // first use, seeded with 8 random bytes of the carrier).
    uint32_t EnsureRng();
    // Runs InitDS(null) when signing and verification have no parameters yet (the
    // multi-carrier build answers 54 instead).
    uint32_t EnsureDs();
    // Restarts the signature stream and hashes one whole message with it.
    uint32_t HashMessageDs(const void *data, uint32_t length, uint8_t *hash32);
    // Reads a public key in either form on the given curve; false when it cannot be a point.
    bool LoadPublicKey(const TEcc &curve, const void *key, bool compressed, TEcPoint &point) const;
    void StoreEcPoint(const TEcPoint &point, void *out, bool compressed) const;
    uint32_t VerifyOn(const TEcc &curve, const uint8_t *hash32, const void *publicKey, bool compressed,
                      const void *signature, uint32_t signatureLength) const;
    // Session keys. SendOnCurve: the sending side on the receiver's curve; a signed
    // SK token first returns the signature parameters to the token's own.
    uint32_t SendOnCurve(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                         const tagTECParams *params, void *outgoingToken, bool withMac);
    uint32_t SendSessionKey(void *key32, const TEcc &curve, const TEcPoint &peer, const uint8_t *sbox64,
                            bool withMac, bool resetDs, uint8_t *out);
    uint32_t ReceiveWrapKeys(const uint8_t *ephemeral, uint8_t *key0, uint8_t *key1);
    // Checks a signed SK token against the sender's key and has the token derive the keys.
    uint32_t ReceiveSigned(const TEcc &curve, const TEcPoint &sender, const uint8_t *sbox64, const uint8_t *iv32,
                           const uint8_t *in, void *key32);
    // Certificate store.
    void DropCertStore() noexcept;
    uint32_t UnpackCertificates();
    uint32_t PackCertificates(uint8_t *store, uint32_t size);
    uint32_t CommitStore(uint8_t *store, uint32_t size);
    uint32_t SeekToCert(uint32_t index, const uint8_t *&data, uint32_t &header);
};

// Sets up a curve from a caller's parameter record (elements least significant
// byte first). Answers false when the field or the curve is refused, or the base
// point is not a point of order n on the curve.
bool CurveFromParams(TEcc &curve, const tagTECParams &params, bool withBasePoint, TEccRandFunc rand, void *ctx);
// Field element or integer from little-endian bytes, and back.
void WordsFromBytes(const uint8_t *bytes, std::size_t count, uint32_t *words);
void BytesFromWords(const uint32_t *words, uint8_t *bytes, std::size_t count);

}  // namespace kcar
