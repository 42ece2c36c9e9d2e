#include "session/nki_handle.h"

#include "token/nki_abs.h"

namespace kcar {

TNkiHandle::~TNkiHandle() {
    if (Token != nullptr) {
        Token->disconnect();
        delete Token;
        Token = nullptr;
    }
    delete[] CertStore;
    CertStore = nullptr;
    Magic = 0;
}

// No token layer is linked into this build yet: a session never opens, so every
// session operation answers "Device haven't connected".
uint32_t TNkiHandle::OpenSession(const char *) { return NKI_E_NOT_CONNECTED; }

uint32_t TNkiHandle::CloseSession() { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::IsCardPresent() { return Token == nullptr ? NKI_E_CONNECTION_ABORTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetUid(void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetInfo(tagTNKIinfo *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetCryptoParams(uint8_t, void *, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetRandomBlock(void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GenerateKeyPair(uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetPublicKey(uint32_t, void *, bool) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::ActivateFutureKey() { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::IoControl(uint32_t, const void *, uint32_t, void *, uint32_t, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::CheckPinEx(const void *, int32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::ForgetPin() { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::ChangePinEx(const void *, int32_t, const void *, int32_t, int32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetAuthSize(int32_t *, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::DoAuthentication(const void *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::InitHash(const void *, const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetHash(const void *, uint32_t, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::HashUpdate(const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::HashFinal(void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::InitDS(const tagTECParams *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SignHash(const void *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyHash(const void *, const void *, const void *, bool) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyHashEx(const void *, const void *, bool, const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SignData(const void *, uint32_t, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyData(const void *, uint32_t, const void *, const void *, bool) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyDataEx(const void *, uint32_t, const void *, bool, const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::LoadData(const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SignFinal(void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyFinal(const void *, const void *, bool) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::VerifyFinalEx(const void *, bool, const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SignCAReq(const void *, uint32_t, void *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SignCAReqEx(const void *, uint32_t, uint32_t, void *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::InitCipher(const void *, const void *, const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::Encrypt(void *, uint32_t, uint8_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::Decrypt(void *, uint32_t, uint8_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetMAC(const void *, uint32_t, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::CheckMAC(const void *, uint32_t, const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::MACUpdate(const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetMACFinal(void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::CheckMACFinal(const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::ResetCipher(const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetSKTokenSize(uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetSKTokenSizeEx(const tagTECParams &, bool, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetSessionKey(void *, const void *, const void *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetSessionKeyEx(void *, uint32_t, const void *, bool, const tagTECParams *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetSessionKeyMac(void *, uint32_t, const void *, bool, const tagTECParams *, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SetSessionKeyEx(void *, uint32_t, const void *, bool, const tagTECParams *, const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SetSessionKeyMac(void *, uint32_t, const void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SetCACert(const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetCACert(void *, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::DelCACert() { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetCertSize(uint8_t, uint32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetCert(uint8_t, void *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::SetCert(const void *, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::DelCert(uint8_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::GetFileSize(int32_t *) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::ReadFile(void *, uint32_t, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TNkiHandle::WriteFile(const void *, uint32_t, uint32_t) { return Token == nullptr ? NKI_E_NOT_CONNECTED : NKI_E_UNSUPPORTED_FUNCTION; }

}  // namespace kcar
