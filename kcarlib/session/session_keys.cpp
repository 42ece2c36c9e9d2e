// Session keys agreed between two tokens with SK tokens.
//
// SK token: byte 0 = L (element length of the ephemeral key's curve), byte 1 = 0,
// byte 2 = S (length of the protection), byte 3 = type (0 signed by the sender's
// token, 1 MAC under the agreement's first key), then the ephemeral public key
// compressed (L bytes, least significant first), then S bytes of protection over
// the key field. The session key is the agreement's second key; it reaches the
// caller only when the whole operation succeeded.
//
// The multi-carrier build lets a token that offers it sign SK tokens with the
// document command: byte 1 is then the stamp length (14) and the body is the key
// field, the stamp and the signature. The token signs the hash of the key field,
// zero bytes up to the next multiple of 32 bytes and the stamp, and the receiver
// checks exactly that hash.
#include <cstring>

#include "crypto/secure_wipe.h"
#include "session/nki_handle.h"

namespace kcar {
namespace {

constexpr uint8_t kTypeSigned = 0;
constexpr uint8_t kTypeMac = 1;

// Hash of an SK token's key field with the given table and a zero start vector.
void HashKeyField(const uint8_t *field, std::size_t length, const uint8_t *sbox64, uint8_t *hash32) {
    TGostHash h;
    HashInit(&h, sbox64, nullptr);
    HashUpdate(&h, field, static_cast<uint32_t>(length));
    HashFinal(&h, hash32);
    HashDone(&h);
}

}  // namespace

uint32_t TNkiHandle::GetSKTokenSize(uint32_t *size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
    *size = static_cast<uint32_t>(ElementSize + SignSize + 4);
    // Room for the stamp and for the padding of the signed hash input.
    if (State & SkByDocument) *size += static_cast<uint32_t>(32 - ElementSize % 32 + kStampSize);
    return NKI_OK;
}

uint32_t TNkiHandle::GetSKTokenSizeEx(const tagTECParams &params, bool withMac, uint32_t *size) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (size == nullptr) return NKI_E_BAD_ARGUMENTS;
    TEcc curve;
    bool ok = CurveFromParams(curve, params, false, nullptr, nullptr);
    EccDone(&curve);
    if (!ok) return NKI_E_BAD_ARGUMENTS;
    *size = static_cast<uint32_t>((params.m + 7) / 8 + 4 + (withMac ? 4 : SignSize));
    return NKI_OK;
}

uint32_t TNkiHandle::SendSessionKey(void *key32, const TEcc &curve, const TEcPoint &peer, const uint8_t *sbox64,
                                    bool withMac, bool resetDs, uint8_t *out) {
    const std::size_t L = static_cast<std::size_t>((curve.M + 7) / 8);
    if (uint32_t rc = EnsureRng(); rc != NKI_OK) return rc;
    TEcDHKD kd;
    uint8_t key0[32], key1[32];
    TEcPoint ephemeral;
    uint32_t rc = NKI_OK;
    if (!EcdhInitTpl(&kd, &curve, sbox64) || !EcdhDeriveKeySend(&kd, &peer, key0, key1, &ephemeral)) {
        rc = NKI_E_BAD_ARGUMENTS;
    } else {
        uint32_t x[ECC_WORDS];
        EccShrinkPoint(&curve, &ephemeral, x);
        out[0] = static_cast<uint8_t>(L);
        out[1] = 0;
        BytesFromWords(x, out + 4, L);
        if (withMac) {
            out[2] = 4;
            out[3] = kTypeMac;
            TGostCipher mac;
            MagmaInit(&mac, sbox64, key0);
            MagmaClearSync(&mac);
            MagmaMAC(&mac, out + 4, static_cast<uint32_t>(L));
            MagmaGetMAC4(&mac, out + 4 + L);
            MagmaDone(&mac);
        } else if (State & SkByDocument) {
            out[1] = static_cast<uint8_t>(kStampSize);
            out[2] = static_cast<uint8_t>(SignSize);
            out[3] = kTypeSigned;
            TGostHash doc;
            HashInit(&doc, Params.Sbox, Params.IV);
            ::HashUpdate(&doc, out + 4, static_cast<uint32_t>(L));
            if (L % 32 != 0) {
                const uint8_t zeros[32] = {};
                ::HashUpdate(&doc, zeros, static_cast<uint32_t>(32 - L % 32));
            }
            rc = SignHashState(doc, static_cast<uint32_t>(32 - L % 32), out + 4 + L + kStampSize, out + 4 + L);
            HashDone(&doc);
        } else {
            out[2] = static_cast<uint8_t>(SignSize);
            out[3] = kTypeSigned;
            if (resetDs) rc = InitDS(nullptr);
            if (rc == NKI_OK) rc = SignData(out + 4, static_cast<uint32_t>(L), out + 4 + L);
        }
        if (rc == NKI_OK) std::memcpy(key32, key1, 32);
    }
    EcdhDone(&kd);
    SecureWipe(key0, sizeof key0);
    SecureWipe(key1, sizeof key1);
    return rc;
}

uint32_t TNkiHandle::SendOnCurve(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                                 const tagTECParams *params, void *outgoingToken, bool withMac) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (keyNumber != 1) return NKI_E_OUT_OF_RANGE;
    if (outgoingToken == nullptr || key32 == nullptr || params == nullptr || peerPublicKey == nullptr)
        return NKI_E_BAD_ARGUMENTS;
    TEcc curve;
    TEcPoint peer;
    uint32_t rc = NKI_E_BAD_ARGUMENTS;
    if (CurveFromParams(curve, *params, true, iRngFunc, this) && LoadPublicKey(curve, peerPublicKey, compressed, peer))
        rc = SendSessionKey(key32, curve, peer, params->Sbox, withMac, !withMac,
                            static_cast<uint8_t *>(outgoingToken));
    EccDone(&curve);
    return rc;
}

uint32_t TNkiHandle::GetSessionKeyEx(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                                     const tagTECParams *params, void *outgoingToken) {
    return SendOnCurve(key32, keyNumber, peerPublicKey, compressed, params, outgoingToken, false);
}

uint32_t TNkiHandle::GetSessionKeyMac(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                                      const tagTECParams *params, void *outgoingToken) {
    return SendOnCurve(key32, keyNumber, peerPublicKey, compressed, params, outgoingToken, true);
}

uint32_t TNkiHandle::ReceiveWrapKeys(const uint8_t *ephemeral, uint8_t *key0, uint8_t *key1) {
    // The ephemeral key lies on this token's own curve.
    uint32_t x[ECC_WORDS];
    WordsFromBytes(ephemeral, ElementSize, x);
    TEcPoint u;
    EccExpandPoint(&Curve, x, &u);
    // A key field that is no point of the token's group is a damaged SK token, not
    // something to hand to the token.
    if (!EccVerifyPublicKey(&Curve, &u)) return NKI_E_INVALID_TOKEN;
    uint8_t point[kPointSize];
    BytesFromWords(u.x, point, 64);
    BytesFromWords(u.y, point + 64, 64);
    return Carrier->AgreeKeys(point, key0, key1);
}

uint32_t TNkiHandle::SetSessionKeyEx(void *key32, uint32_t keyNumber, const void *peerPublicKey, bool compressed,
                                     const tagTECParams *params, const void *incomingToken) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (keyNumber != 1) return NKI_E_OUT_OF_RANGE;
    if (incomingToken == nullptr) return NKI_E_BAD_ARGUMENTS;
    const auto *in = static_cast<const uint8_t *>(incomingToken);
    if (in[3] == kTypeMac) return SetSessionKeyMac(key32, keyNumber, incomingToken);
    if (in[3] != kTypeSigned) return NKI_E_INVALID_TOKEN;
    if (key32 == nullptr || params == nullptr || peerPublicKey == nullptr) return NKI_E_BAD_ARGUMENTS;

    TEcc curve;
    TEcPoint sender;
    uint32_t rc = NKI_E_BAD_ARGUMENTS;
    if (CurveFromParams(curve, *params, true, nullptr, nullptr) && LoadPublicKey(curve, peerPublicKey, compressed, sender))
        rc = ReceiveSigned(curve, sender, params->Sbox, params->IV, in, key32);
    EccDone(&curve);
    return rc;
}

uint32_t TNkiHandle::ReceiveSigned(const TEcc &curve, const TEcPoint &sender, const uint8_t *sbox64,
                                   const uint8_t *iv32, const uint8_t *in, void *key32) {
    // The ephemeral key lies on this token's own curve.
    if (in[0] != ElementSize) return NKI_E_INVALID_TOKEN;
    uint8_t hash[32];
    const uint8_t *signature = in + 4 + ElementSize;
    if (in[1] == 0) {
        HashKeyField(in + 4, ElementSize, sbox64, hash);
    } else if (MultiCarrier() && in[1] == kStampSize) {
        // Signed by the sender's token with the document command, over its own
        // start vector and table: key field, zero padding, stamp.
        TGostHash parameters;
        HashInit(&parameters, sbox64, iv32);
        DocumentHash(parameters, in + 4, static_cast<uint32_t>(ElementSize), in + 4 + ElementSize, kStampSize, hash);
        HashDone(&parameters);
        signature += kStampSize;
    } else {
        return NKI_E_INVALID_TOKEN;
    }
    if (!EccCheckHash(&curve, &sender, hash, signature, 0)) return NKI_E_INVALID_TOKEN;
    uint8_t key0[32], key1[32];
    uint32_t rc = ReceiveWrapKeys(in + 4, key0, key1);
    if (rc == NKI_OK) std::memcpy(key32, key1, 32);
    SecureWipe(key0, sizeof key0);
    SecureWipe(key1, sizeof key1);
    return rc;
}

uint32_t TNkiHandle::SetSessionKeyMac(void *key32, uint32_t keyNumber, const void *incomingToken) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (keyNumber != 1) return NKI_E_OUT_OF_RANGE;
    if (incomingToken == nullptr || key32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    const auto *in = static_cast<const uint8_t *>(incomingToken);
    if (in[0] != ElementSize || in[1] != 0 || in[2] != 4) return NKI_E_INVALID_TOKEN;
    if (in[3] == kTypeSigned) return NKI_E_TOKEN_SIGNED;
    if (in[3] != kTypeMac) return NKI_E_INVALID_TOKEN;

    uint8_t key0[32], key1[32];
    uint32_t rc = ReceiveWrapKeys(in + 4, key0, key1);
    if (rc == NKI_OK) {
        TGostCipher mac;
        MagmaInit(&mac, Params.Sbox, key0);
        MagmaClearSync(&mac);
        MagmaMAC(&mac, in + 4, static_cast<uint32_t>(ElementSize));
        if (MagmaCheckMAC4(&mac, in + 4 + ElementSize))
            std::memcpy(key32, key1, 32);  // only a key whose MAC checked out is handed over
        else
            rc = NKI_E_INVALID_TOKEN;
        MagmaDone(&mac);
    }
    SecureWipe(key0, sizeof key0);
    SecureWipe(key1, sizeof key1);
    return rc;
}

uint32_t TNkiHandle::GetSessionKey(void *key32, const void *peerPublicKey, const void *incomingToken,
                                   void *outgoingToken) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (key32 == nullptr || peerPublicKey == nullptr) return NKI_E_BAD_ARGUMENTS;
    TEcc curve;
    TEcPoint peer;
    uint32_t rc = NKI_OK;
    if (!CurveFromParams(curve, Params, true, iRngFunc, this) || !LoadPublicKey(curve, peerPublicKey, false, peer)) {
        EccDone(&curve);
        return NKI_E_BAD_ARGUMENTS;
    }
    if (incomingToken == nullptr) {
        if (outgoingToken == nullptr) {
            rc = NKI_E_BAD_ARGUMENTS;
        } else {
            rc = EnsureDs();
            if (rc == NKI_OK)
                rc = SendSessionKey(key32, curve, peer, Params.Sbox, false, false,
                                    static_cast<uint8_t *>(outgoingToken));
        }
        EccDone(&curve);
        return rc;
    }
    const auto *in = static_cast<const uint8_t *>(incomingToken);
    rc = in[3] == kTypeSigned ? ReceiveSigned(curve, peer, Params.Sbox, Params.IV, in, key32) : NKI_E_INVALID_TOKEN;
    EccDone(&curve);
    return rc;
}

}  // namespace kcar
