// Exports that the token build does not implement: each answers "This function is
// unsupported by device" without reading its arguments (the two document
// verification calls check the context first).
#include "api/export_guard.h"
#include "kcarlib/nki.h"

extern "C" {

uint32_t nkiGetInfoEx(NKI_CONTEXT, uint32_t, void *, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetSymmKey(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGenerateUserKeyPair(NKI_CONTEXT, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiVerifyUserKeyPair(NKI_CONTEXT, const void *, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiChangePassword(NKI_CONTEXT, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

uint32_t nkiSignDoc(NKI_CONTEXT, const void *, uint32_t, void *, void *, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiVerifyDoc(NKI_CONTEXT, const void *, uint32_t, const void *, uint32_t, const void *, const void *, uint8_t) {
    return NKI_E_UNSUPPORTED_FUNCTION;
}
uint32_t nkiVerifyDocEx(NKI_CONTEXT, const void *, uint32_t, const void *, uint32_t, const void *, uint8_t, const void *,
                        uint32_t) {
    return NKI_E_UNSUPPORTED_FUNCTION;
}
uint32_t nkiSignDocFinal(NKI_CONTEXT, void *, void *, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiVerifyDocFinal(NKI_CONTEXT c, const void *, uint32_t, const void *, const void *, uint8_t) {
    return kcar::WithContext(c, 0, [](kcar::TNkiHandle &) { return NKI_E_UNSUPPORTED_FUNCTION; });
}
uint32_t nkiVerifyDocFinalEx(NKI_CONTEXT c, const void *, uint32_t, const void *, uint8_t, const void *, uint32_t) {
    return kcar::WithContext(c, 0, [](kcar::TNkiHandle &) { return NKI_E_UNSUPPORTED_FUNCTION; });
}

uint32_t nkiGetHwKeyTableSize(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetHwSessionKey(NKI_CONTEXT, void *, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiSetHwSessionKey(NKI_CONTEXT, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiSetHwSBox(NKI_CONTEXT, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwInitCipher(NKI_CONTEXT, void *, void *, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwCipherUpdate(NKI_CONTEXT, void *, uint32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiHwGetMac(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

uint32_t nkiGetCertListSize(NKI_CONTEXT, uint32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetCertList(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetAuditSize(NKI_CONTEXT, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetAudit(NKI_CONTEXT, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetAuditRecSize(NKI_CONTEXT, uint32_t, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetAuditRec(NKI_CONTEXT, uint32_t, void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

uint32_t nkiGetDeviceAtr(const char *, void *, int32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiGetDeviceSN(const char *, char *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t nkiFormat(NKI_CONTEXT, const char *, const void *, const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }

}  // extern "C"
