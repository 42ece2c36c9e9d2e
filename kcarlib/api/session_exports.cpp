// Session exports of both builds: each checks the context and forwards to its
// TNkiHandle operation. The number each passes is the call's operation number: the
// multi-carrier build checks it against the device type's capabilities and its
// PIN and presence rules (multi_frame.h); the token build does not use it.
// The exports that older callers reach without the check (PIN, authentication,
// I/O control, presence, crypto parameters) are checked too: a null or foreign
// pointer is never dereferenced.
#include "api/export_guard.h"
#include "kcarlib/nki.h"

using kcar::TNkiHandle;
using kcar::WithContext;

extern "C" {

uint32_t nkiIOControl(NKI_CONTEXT c, uint32_t code, const void *in, uint32_t inLength, void *out,
                      uint32_t outCapacity, uint32_t *outLength) {
    return WithContext(c, 2, [&](TNkiHandle &h) { return h.IoControl(code, in, inLength, out, outCapacity, outLength); });
}

#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiOpenSession(NKI_CONTEXT c, const char *readerName, void *) {
    return WithContext(c, 0, [&](TNkiHandle &h) {
        if (h.State & TNkiHandle::SessionOpen) return NKI_E_CONTEXT_IN_USE;
        return h.OpenSession(readerName);
    });
}
#endif
#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiCloseSession(NKI_CONTEXT c) { return WithContext(c, 6, [&](TNkiHandle &h) { return h.CloseSession(); }); }
#endif
#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiIsCardPresent(NKI_CONTEXT c) { return WithContext(c, 7, [&](TNkiHandle &h) { return h.IsCardPresent(); }); }
#endif
uint32_t nkiGetUID(NKI_CONTEXT c, void *uid8) { return WithContext(c, 10, [&](TNkiHandle &h) { return h.GetUid(uid8); }); }
uint32_t nkiGetInfo(NKI_CONTEXT c, tagTNKIinfo *info) {
    return WithContext(c, 11, [&](TNkiHandle &h) { return h.GetInfo(info); });
}
uint32_t nkiGetCryptoParams(NKI_CONTEXT c, uint8_t index, void *out, uint32_t *outLength) {
    return WithContext(c, 13, [&](TNkiHandle &h) { return h.GetCryptoParams(index, out, outLength); });
}
uint32_t nkiGetRandomByte(NKI_CONTEXT c, void *out1) {
    return WithContext(c, 75, [&](TNkiHandle &h) { return h.GetRandomBlock(out1, 1); });
}
uint32_t nkiGetRandomBlock(NKI_CONTEXT c, void *out, uint32_t length) {
    return WithContext(c, 76, [&](TNkiHandle &h) { return h.GetRandomBlock(out, length); });
}
uint32_t nkiGenerateSymmKey(NKI_CONTEXT c, void *key32) {
    return WithContext(c, 16, [&](TNkiHandle &h) { return h.GetRandomBlock(key32, 32); });
}
uint32_t nkiGenerateOwnerKeyPair(NKI_CONTEXT c) { return WithContext(c, 19, [&](TNkiHandle &h) { return h.GenerateKeyPair(1); }); }
uint32_t nkiCreateFutureKey(NKI_CONTEXT c) { return WithContext(c, 22, [&](TNkiHandle &h) { return h.GenerateKeyPair(2); }); }
uint32_t nkiCreateKeyEx(NKI_CONTEXT c, uint32_t keyNumber) {
    return WithContext(c, 25, [&](TNkiHandle &h) { return h.GenerateKeyPair(keyNumber); });
}
uint32_t nkiGetOwnerPublicKey(NKI_CONTEXT c, void *key, uint8_t compressed) {
    return WithContext(c, 20, [&](TNkiHandle &h) { return h.GetPublicKey(1, key, compressed != 0); });
}
uint32_t nkiGetFutureKey(NKI_CONTEXT c, void *key, uint8_t compressed) {
    return WithContext(c, 23, [&](TNkiHandle &h) { return h.GetPublicKey(2, key, compressed != 0); });
}
uint32_t nkiGetKeyEx(NKI_CONTEXT c, uint32_t keyNumber, void *key, uint8_t compressed) {
    return WithContext(c, 26, [&](TNkiHandle &h) { return h.GetPublicKey(keyNumber, key, compressed != 0); });
}
uint32_t nkiActivateFutureKey(NKI_CONTEXT c) { return WithContext(c, 24, [&](TNkiHandle &h) { return h.ActivateFutureKey(); }); }

#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiCheckPIN(NKI_CONTEXT c, const void *pin8) {
    return WithContext(c, 3, [&](TNkiHandle &h) { return h.CheckPinEx(pin8, 8); });
}
#endif
#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiCheckPINEx(NKI_CONTEXT c, const void *pin, int32_t length) {
    return WithContext(c, 3, [&](TNkiHandle &h) { return h.CheckPinEx(pin, length); });
}
#endif
#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiForgetPIN(NKI_CONTEXT c) { return WithContext(c, 5, [&](TNkiHandle &h) { return h.ForgetPin(); }); }
#endif
uint32_t nkiChangePIN(NKI_CONTEXT c, const void *oldPin8, const void *newPin8, int32_t mode) {
    return WithContext(c, 14, [&](TNkiHandle &h) { return h.ChangePinEx(oldPin8, 8, newPin8, 8, mode); });
}
uint32_t nkiChangePINEx(NKI_CONTEXT c, const void *oldPin, int32_t oldLength, const void *newPin, int32_t newLength,
                        int32_t mode) {
    return WithContext(c, 14, [&](TNkiHandle &h) { return h.ChangePinEx(oldPin, oldLength, newPin, newLength, mode); });
}
uint32_t nkiGetAuthSize(NKI_CONTEXT c, int32_t *challengeLength, uint32_t *responseLength) {
    return WithContext(c, 8, [&](TNkiHandle &h) { return h.GetAuthSize(challengeLength, responseLength); });
}
#if !KCARLIB_MULTI_CARRIER  // the multi-carrier build has its own (multi_session_exports.cpp)
uint32_t nkiDoAuthentification(NKI_CONTEXT c, const void *challenge, void *response) {
    return WithContext(c, 0, [&](TNkiHandle &h) { return h.DoAuthentication(challenge, response); });
}
#endif

uint32_t nkiInitHash(NKI_CONTEXT c, const void *iv32, const void *sbox64) {
    return WithContext(c, 52, [&](TNkiHandle &h) { return h.InitHash(iv32, sbox64); });
}
uint32_t nkiGetHash(NKI_CONTEXT c, const void *data, uint32_t length, void *hash32) {
    return WithContext(c, 53, [&](TNkiHandle &h) { return h.GetHash(data, length, hash32); });
}
uint32_t nkiHashUpdate(NKI_CONTEXT c, const void *data, uint32_t length) {
    return WithContext(c, 54, [&](TNkiHandle &h) { return h.HashUpdate(data, length); });
}
uint32_t nkiHashFinal(NKI_CONTEXT c, void *hash32) { return WithContext(c, 55, [&](TNkiHandle &h) { return h.HashFinal(hash32); }); }
uint32_t nkiInitDS(NKI_CONTEXT c, const tagTECParams *params) {
    return WithContext(c, 58, [&](TNkiHandle &h) { return h.InitDS(params); });
}
uint32_t nkiSignHash(NKI_CONTEXT c, const void *hash32, void *signature) {
    return WithContext(c, 59, [&](TNkiHandle &h) { return h.SignHash(hash32, signature); });
}
uint32_t nkiVerifyHash(NKI_CONTEXT c, const void *hash32, const void *publicKey, const void *signature,
                       uint8_t compressed) {
    return WithContext(c, 60, [&](TNkiHandle &h) { return h.VerifyHash(hash32, publicKey, signature, compressed != 0); });
}
uint32_t nkiVerifyHashEx(NKI_CONTEXT c, const void *hash32, const void *publicKey, uint8_t compressed,
                         const void *signature, uint32_t signatureLength) {
    return WithContext(
        c, 61, [&](TNkiHandle &h) { return h.VerifyHashEx(hash32, publicKey, compressed != 0, signature, signatureLength); });
}
uint32_t nkiSignData(NKI_CONTEXT c, const void *data, uint32_t length, void *signature) {
    return WithContext(c, 62, [&](TNkiHandle &h) { return h.SignData(data, length, signature); });
}
uint32_t nkiVerifyData(NKI_CONTEXT c, const void *data, uint32_t length, const void *publicKey, const void *signature,
                       uint8_t compressed) {
    return WithContext(
        c, 63, [&](TNkiHandle &h) { return h.VerifyData(data, length, publicKey, signature, compressed != 0); });
}
uint32_t nkiVerifyDataEx(NKI_CONTEXT c, const void *data, uint32_t length, const void *publicKey, uint8_t compressed,
                         const void *signature, uint32_t signatureLength) {
    return WithContext(c, 64, [&](TNkiHandle &h) {
        return h.VerifyDataEx(data, length, publicKey, compressed != 0, signature, signatureLength);
    });
}
uint32_t nkiDSLoadData(NKI_CONTEXT c, const void *data, uint32_t length) {
    return WithContext(c, 65, [&](TNkiHandle &h) { return h.LoadData(data, length); });
}
uint32_t nkiSignFinal(NKI_CONTEXT c, void *signature) {
    return WithContext(c, 66, [&](TNkiHandle &h) { return h.SignFinal(signature); });
}
uint32_t nkiVerifyFinal(NKI_CONTEXT c, const void *publicKey, const void *signature, uint8_t compressed) {
    return WithContext(c, 67, [&](TNkiHandle &h) { return h.VerifyFinal(publicKey, signature, compressed != 0); });
}
uint32_t nkiVerifyFinalEx(NKI_CONTEXT c, const void *publicKey, uint8_t compressed, const void *signature,
                          uint32_t signatureLength) {
    return WithContext(
        c, 68, [&](TNkiHandle &h) { return h.VerifyFinalEx(publicKey, compressed != 0, signature, signatureLength); });
}
uint32_t nkiSignCAReq(NKI_CONTEXT c, const void *hash32, uint32_t keyNumber, void *signature, void *out16) {
    return WithContext(c, 56, [&](TNkiHandle &h) { return h.SignCAReq(hash32, keyNumber, signature, out16); });
}
uint32_t nkiSignCAReqEx(NKI_CONTEXT c, const void *data, uint32_t length, uint32_t keyNumber, void *signature,
                        void *out16) {
    return WithContext(c, 57, [&](TNkiHandle &h) { return h.SignCAReqEx(data, length, keyNumber, signature, out16); });
}

uint32_t nkiInitCipher(NKI_CONTEXT c, const void *key32, const void *sync8, const void *sbox64) {
    return WithContext(c, 34, [&](TNkiHandle &h) { return h.InitCipher(key32, sync8, sbox64); });
}
uint32_t nkiEncrypt(NKI_CONTEXT c, void *data, uint32_t length, uint8_t mode) {
    return WithContext(c, 35, [&](TNkiHandle &h) { return h.Encrypt(data, length, mode); });
}
uint32_t nkiEncryptUpdate(NKI_CONTEXT c, void *data, uint32_t length, uint8_t mode) {
    return WithContext(c, 37, [&](TNkiHandle &h) { return h.Encrypt(data, length, mode); });
}
uint32_t nkiDecrypt(NKI_CONTEXT c, void *data, uint32_t length, uint8_t mode) {
    return WithContext(c, 36, [&](TNkiHandle &h) { return h.Decrypt(data, length, mode); });
}
uint32_t nkiDecryptUpdate(NKI_CONTEXT c, void *data, uint32_t length, uint8_t mode) {
    return WithContext(c, 38, [&](TNkiHandle &h) { return h.Decrypt(data, length, mode); });
}
uint32_t nkiGetMAC(NKI_CONTEXT c, const void *data, uint32_t length, void *mac8) {
    return WithContext(c, 39, [&](TNkiHandle &h) { return h.GetMAC(data, length, mac8); });
}
uint32_t nkiCheckMAC(NKI_CONTEXT c, const void *data, uint32_t length, const void *mac8) {
    return WithContext(c, 40, [&](TNkiHandle &h) { return h.CheckMAC(data, length, mac8); });
}
uint32_t nkiMACUpdate(NKI_CONTEXT c, const void *data, uint32_t length) {
    return WithContext(c, 41, [&](TNkiHandle &h) { return h.MACUpdate(data, length); });
}
uint32_t nkiGetMACFinal(NKI_CONTEXT c, void *mac8) { return WithContext(c, 42, [&](TNkiHandle &h) { return h.GetMACFinal(mac8); }); }
uint32_t nkiCheckMACFinal(NKI_CONTEXT c, const void *mac8) {
    return WithContext(c, 43, [&](TNkiHandle &h) { return h.CheckMACFinal(mac8); });
}
uint32_t nkiResetCipher(NKI_CONTEXT c, const void *sync8) {
    return WithContext(c, 44, [&](TNkiHandle &h) { return h.ResetCipher(sync8); });
}

uint32_t nkiGetSKTokenSize(NKI_CONTEXT c, uint32_t *size) {
    return WithContext(c, 27, [&](TNkiHandle &h) { return h.GetSKTokenSize(size); });
}
uint32_t nkiGetSKTokenSizeEx(NKI_CONTEXT c, tagTECParams params, uint8_t withMac, uint32_t *size) {
    return WithContext(c, 28, [&](TNkiHandle &h) { return h.GetSKTokenSizeEx(params, withMac != 0, size); });
}
uint32_t nkiGetSessionKey(NKI_CONTEXT c, void *key32, const void *peerPublicKey, const void *incomingToken,
                          void *outgoingToken) {
    return WithContext(
        c, 29, [&](TNkiHandle &h) { return h.GetSessionKey(key32, peerPublicKey, incomingToken, outgoingToken); });
}
uint32_t nkiGetSessionKeyEx(NKI_CONTEXT c, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                            uint8_t compressed, const tagTECParams *params, void *outgoingToken) {
    return WithContext(c, 30, [&](TNkiHandle &h) {
        return h.GetSessionKeyEx(key32, keyNumber, peerPublicKey, compressed != 0, params, outgoingToken);
    });
}
uint32_t nkiGetSessionKeyMac(NKI_CONTEXT c, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                             uint8_t compressed, const tagTECParams *params, void *outgoingToken) {
    return WithContext(c, 31, [&](TNkiHandle &h) {
        return h.GetSessionKeyMac(key32, keyNumber, peerPublicKey, compressed != 0, params, outgoingToken);
    });
}
uint32_t nkiSetSessionKeyEx(NKI_CONTEXT c, void *key32, uint32_t keyNumber, const void *peerPublicKey,
                            uint8_t compressed, const tagTECParams *params, const void *incomingToken) {
    return WithContext(c, 32, [&](TNkiHandle &h) {
        return h.SetSessionKeyEx(key32, keyNumber, peerPublicKey, compressed != 0, params, incomingToken);
    });
}
uint32_t nkiSetSessionKeyMac(NKI_CONTEXT c, void *key32, uint32_t keyNumber, const void *incomingToken) {
    return WithContext(c, 33, [&](TNkiHandle &h) { return h.SetSessionKeyMac(key32, keyNumber, incomingToken); });
}

uint32_t nkiSetCACert(NKI_CONTEXT c, const void *certificate, uint32_t length) {
    return WithContext(c, 77, [&](TNkiHandle &h) { return h.SetCACert(certificate, length); });
}
uint32_t nkiGetCACert(NKI_CONTEXT c, void *buffer, uint32_t *length) {
    return WithContext(c, 78, [&](TNkiHandle &h) { return h.GetCACert(buffer, length); });
}
uint32_t nkiClearCACert(NKI_CONTEXT c) { return WithContext(c, 79, [&](TNkiHandle &h) { return h.DelCACert(); }); }
uint32_t nkiGetCertSize(NKI_CONTEXT c, uint8_t index, uint32_t *size) {
    return WithContext(c, 82, [&](TNkiHandle &h) { return h.GetCertSize(index, size); });
}
uint32_t nkiGetCert(NKI_CONTEXT c, uint8_t index, void *buffer) {
    return WithContext(c, 83, [&](TNkiHandle &h) { return h.GetCert(index, buffer); });
}
uint32_t nkiSetCert(NKI_CONTEXT c, const void *certificate, uint32_t length) {
    return WithContext(c, 84, [&](TNkiHandle &h) { return h.SetCert(certificate, length); });
}
uint32_t nkiDelCert(NKI_CONTEXT c, uint8_t index) { return WithContext(c, 85, [&](TNkiHandle &h) { return h.DelCert(index); }); }
uint32_t nkiGetFileSize(NKI_CONTEXT c, int32_t *size) {
    return WithContext(c, 90, [&](TNkiHandle &h) { return h.GetFileSize(size); });
}
uint32_t nkiReadFile(NKI_CONTEXT c, void *buffer, uint32_t offset, uint32_t length) {
    return WithContext(c, 91, [&](TNkiHandle &h) { return h.ReadFile(buffer, offset, length); });
}
uint32_t nkiWriteFile(NKI_CONTEXT c, const void *buffer, uint32_t offset, uint32_t length) {
    return WithContext(c, 92, [&](TNkiHandle &h) { return h.WriteFile(buffer, offset, length); });
}

}  // extern "C"
