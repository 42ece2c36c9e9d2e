// Default answers of the carrier interface: a carrier that does not override a
// request does not offer it.
#include "carriers/carrier.h"

#include "kcarlib/nki_result.h"

namespace kcar {

uint32_t TCarrier::GetSerial(uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetCurveParams(tagTECParams &) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetPublicKey(uint32_t, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetRandom(uint8_t *, uint32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetContainerSize(uint32_t, uint32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::ReadContainer(uint32_t, uint32_t, uint8_t *, uint32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::WriteContainer(uint32_t, uint32_t, const uint8_t *, uint32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::CheckPin(const uint8_t *, int32_t) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::ForgetPin() { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::ChangePin(const uint8_t *, int32_t, const uint8_t *, int32_t, int32_t) {
    return NKI_E_UNSUPPORTED_FUNCTION;
}
uint32_t TCarrier::ChangePassword(const void *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetAuthSizes(uint32_t *, uint32_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::Authenticate(const uint8_t *, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GenerateKeyPair(uint32_t, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::ActivateFutureKey() { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::SignHash(const uint8_t *, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::SignCaRequest(uint32_t, const uint8_t *, uint8_t *, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::AgreeKeys(const uint8_t *, uint8_t *, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::SignDocument(const uint8_t *, uint8_t *, uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::IoControl(uint32_t, const uint8_t *, uint32_t, uint8_t *, uint32_t, uint32_t *) {
    return NKI_E_UNSUPPORTED_FUNCTION;
}
uint32_t TCarrier::ReadAuditRecord(uint8_t *) { return NKI_E_UNSUPPORTED_FUNCTION; }
uint32_t TCarrier::GetInfoEx(int32_t, uint8_t *, int32_t *) { return NKI_E_OUT_OF_RANGE; }

}  // namespace kcar
