// Encryption, decryption and MAC on the context's cipher. One key and one
// synchronisation message serve both; they share the record's reset state.
#include <cstring>

#include "session/nki_handle.h"

namespace kcar {
namespace {

bool ModeValid(uint8_t mode) { return mode >= 1 && mode <= 3; }

}  // namespace

#define NKI_REQUIRE_CIPHER()                           \
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;  \
    if (!CipherReady) return NKI_E_NOT_INITIALIZED_OP

uint32_t TNkiHandle::InitCipher(const void *key32, const void *sync8, const void *sbox64) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (key32 == nullptr) return NKI_E_BAD_ARGUMENTS;
    if (MultiCarrier()) {
        // The key is kept for nkiGetSymmKey; a table or synchronisation message
        // that is not given stays as loaded before.
        std::memcpy(SymmKey, key32, sizeof SymmKey);
        State |= SymmKeyHeld;
        if ((State & CipherMade) == 0) {
            MagmaInit(&Cipher, sbox64 != nullptr ? sbox64 : Uz34311, key32);
            MagmaClearSync(&Cipher);
            State |= CipherMade;
        }
        MagmaSetKey(&Cipher, key32);
        if (sbox64 != nullptr) MagmaSetUz(&Cipher, sbox64);
        if (sync8 != nullptr) MagmaSetSync(&Cipher, sync8);
        MagmaReset(&Cipher);
        CipherReady = true;
        return NKI_OK;
    }
    MagmaDone(&Cipher);
    MagmaInit(&Cipher, sbox64 != nullptr ? sbox64 : Uz34311, key32);
    if (sync8 != nullptr)
        MagmaSetSync(&Cipher, sync8);
    else
        MagmaClearSync(&Cipher);
    CipherReady = true;
    return NKI_OK;
}

uint32_t TNkiHandle::Encrypt(void *data, uint32_t length, uint8_t mode) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (!ModeValid(mode)) return NKI_E_OUT_OF_RANGE;
    if (!CipherReady) return NKI_E_NOT_INITIALIZED_OP;
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (mode == 1) MagmaM1Encrypt(&Cipher, data, length);
    if (mode == 2) MagmaM2Encrypt(&Cipher, data, length);
    if (mode == 3) MagmaM3Encrypt(&Cipher, data, length);
    return NKI_OK;
}

uint32_t TNkiHandle::Decrypt(void *data, uint32_t length, uint8_t mode) {
    if (Carrier == nullptr) return NKI_E_NOT_CONNECTED;
    if (!ModeValid(mode)) return NKI_E_OUT_OF_RANGE;
    if (!CipherReady) return NKI_E_NOT_INITIALIZED_OP;
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    if (mode == 1) MagmaM1Decrypt(&Cipher, data, length);
    if (mode == 2) MagmaM2Decrypt(&Cipher, data, length);
    if (mode == 3) MagmaM3Decrypt(&Cipher, data, length);
    return NKI_OK;
}

uint32_t TNkiHandle::GetMAC(const void *data, uint32_t length, void *mac8) {
    NKI_REQUIRE_CIPHER();
    if ((data == nullptr && length > 0) || mac8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    MagmaReset(&Cipher);
    MagmaMAC(&Cipher, data, length);
    MagmaGetMAC(&Cipher, mac8);
    return NKI_OK;
}

uint32_t TNkiHandle::CheckMAC(const void *data, uint32_t length, const void *mac8) {
    NKI_REQUIRE_CIPHER();
    if ((data == nullptr && length > 0) || mac8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    MagmaReset(&Cipher);
    MagmaMAC(&Cipher, data, length);
    return MagmaCheckMAC(&Cipher, mac8) ? NKI_OK : NKI_E_INVALID_MAC;
}

uint32_t TNkiHandle::MACUpdate(const void *data, uint32_t length) {
    NKI_REQUIRE_CIPHER();
    if (data == nullptr && length > 0) return NKI_E_BAD_ARGUMENTS;
    MagmaMAC(&Cipher, data, length);
    return NKI_OK;
}

uint32_t TNkiHandle::GetMACFinal(void *mac8) {
    NKI_REQUIRE_CIPHER();
    if (mac8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    MagmaGetMAC(&Cipher, mac8);
    return NKI_OK;
}

uint32_t TNkiHandle::CheckMACFinal(const void *mac8) {
    NKI_REQUIRE_CIPHER();
    if (mac8 == nullptr) return NKI_E_BAD_ARGUMENTS;
    return MagmaCheckMAC(&Cipher, mac8) ? NKI_OK : NKI_E_INVALID_MAC;
}

uint32_t TNkiHandle::ResetCipher(const void *sync8) {
    NKI_REQUIRE_CIPHER();
    if (sync8 != nullptr)
        MagmaSetSync(&Cipher, sync8);
    else
        MagmaReset(&Cipher);
    return NKI_OK;
}

}  // namespace kcar
