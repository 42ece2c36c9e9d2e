// Every export answers its frame's code before any session exists: 252 for the
// exports this build does not implement, 1 for a context that is not live, and 3
// for a live context without a session.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kcarlib/nki.h"

namespace {

struct Export {
    const char *name;
    std::function<uint32_t(NKI_CONTEXT)> call;
};

#define E(name, ...) Export{#name, [](NKI_CONTEXT c) { return name(c, ##__VA_ARGS__); }}

// Exports that answer 252 whatever they are given, null arguments included.
const std::vector<Export> &Unsupported() {
    static const std::vector<Export> list = {
        E(nkiGetInfoEx, 0, nullptr, nullptr),
        E(nkiGetSymmKey, nullptr),
        E(nkiGenerateUserKeyPair, nullptr, nullptr),
        E(nkiVerifyUserKeyPair, nullptr, nullptr),
        E(nkiChangePassword, nullptr),
        E(nkiSignDoc, nullptr, 0, nullptr, nullptr, nullptr),
        E(nkiVerifyDoc, nullptr, 0, nullptr, 0, nullptr, nullptr, 0),
        E(nkiVerifyDocEx, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
        E(nkiSignDocFinal, nullptr, nullptr, nullptr),
        E(nkiGetHwKeyTableSize, nullptr),
        E(nkiGetHwSessionKey, nullptr, nullptr, nullptr, nullptr),
        E(nkiSetHwSessionKey, nullptr, nullptr, nullptr),
        E(nkiSetHwSBox, nullptr),
        E(nkiHwInitCipher, nullptr, nullptr, nullptr),
        E(nkiHwCipherUpdate, nullptr, 0),
        E(nkiHwGetMac, nullptr),
        E(nkiGetCertListSize, nullptr),
        E(nkiGetCertList, nullptr),
        E(nkiGetAuditSize, nullptr),
        E(nkiGetAudit, nullptr),
        E(nkiGetAuditRecSize, 0, nullptr),
        E(nkiGetAuditRec, 0, nullptr),
        E(nkiFormat, nullptr, nullptr, nullptr),
        Export{"nkiGetDeviceAtr", [](NKI_CONTEXT) { return nkiGetDeviceAtr(nullptr, nullptr, nullptr); }},
        Export{"nkiGetDeviceSN", [](NKI_CONTEXT) { return nkiGetDeviceSN(nullptr, nullptr); }},
    };
    return list;
}

// Exports that reach a session operation after the context check.
const std::vector<Export> &SessionExports() {
    static const std::vector<Export> list = {
        E(nkiIOControl, 0x22203C, nullptr, 0, nullptr, 0, nullptr),
        E(nkiCloseSession),
        E(nkiGetUID, nullptr),
        E(nkiGetInfo, nullptr),
        E(nkiGetCryptoParams, 255, nullptr, nullptr),
        E(nkiGetRandomByte, nullptr),
        E(nkiGetRandomBlock, nullptr, 16),
        E(nkiGenerateSymmKey, nullptr),
        E(nkiGenerateOwnerKeyPair),
        E(nkiCreateFutureKey),
        E(nkiCreateKeyEx, 1),
        E(nkiGetOwnerPublicKey, nullptr, 0),
        E(nkiGetFutureKey, nullptr, 1),
        E(nkiGetKeyEx, 1, nullptr, 0),
        E(nkiActivateFutureKey),
        E(nkiCheckPIN, nullptr),
        E(nkiCheckPINEx, nullptr, 8),
        E(nkiForgetPIN),
        E(nkiChangePIN, nullptr, nullptr, 0),
        E(nkiChangePINEx, nullptr, 8, nullptr, 8, 0),
        E(nkiGetAuthSize, nullptr, nullptr),
        E(nkiDoAuthentification, nullptr, nullptr),
        E(nkiInitHash, nullptr, nullptr),
        E(nkiGetHash, nullptr, 0, nullptr),
        E(nkiHashUpdate, nullptr, 0),
        E(nkiHashFinal, nullptr),
        E(nkiInitDS, nullptr),
        E(nkiSignHash, nullptr, nullptr),
        E(nkiVerifyHash, nullptr, nullptr, nullptr, 0),
        E(nkiVerifyHashEx, nullptr, nullptr, 0, nullptr, 48),
        E(nkiSignData, nullptr, 0, nullptr),
        E(nkiVerifyData, nullptr, 0, nullptr, nullptr, 0),
        E(nkiVerifyDataEx, nullptr, 0, nullptr, 0, nullptr, 48),
        E(nkiDSLoadData, nullptr, 0),
        E(nkiSignFinal, nullptr),
        E(nkiVerifyFinal, nullptr, nullptr, 0),
        E(nkiVerifyFinalEx, nullptr, 0, nullptr, 48),
        E(nkiSignCAReq, nullptr, 1, nullptr, nullptr),
        E(nkiSignCAReqEx, nullptr, 0, 1, nullptr, nullptr),
        E(nkiInitCipher, nullptr, nullptr, nullptr),
        E(nkiEncrypt, nullptr, 0, 1),
        E(nkiDecrypt, nullptr, 0, 1),
        E(nkiEncryptUpdate, nullptr, 0, 1),
        E(nkiDecryptUpdate, nullptr, 0, 1),
        E(nkiGetMAC, nullptr, 0, nullptr),
        E(nkiCheckMAC, nullptr, 0, nullptr),
        E(nkiMACUpdate, nullptr, 0),
        E(nkiGetMACFinal, nullptr),
        E(nkiCheckMACFinal, nullptr),
        E(nkiResetCipher, nullptr),
        E(nkiGetSKTokenSize, nullptr),
        E(nkiGetSKTokenSizeEx, tagTECParams{}, 0, nullptr),
        E(nkiGetSessionKey, nullptr, nullptr, nullptr, nullptr),
        E(nkiGetSessionKeyEx, nullptr, 1, nullptr, 0, nullptr, nullptr),
        E(nkiGetSessionKeyMac, nullptr, 1, nullptr, 0, nullptr, nullptr),
        E(nkiSetSessionKeyEx, nullptr, 1, nullptr, 0, nullptr, nullptr),
        E(nkiSetSessionKeyMac, nullptr, 1, nullptr),
        E(nkiSetCACert, nullptr, 0),
        E(nkiGetCACert, nullptr, nullptr),
        E(nkiClearCACert),
        E(nkiGetCertSize, 1, nullptr),
        E(nkiGetCert, 1, nullptr),
        E(nkiSetCert, nullptr, 0),
        E(nkiDelCert, 1),
        E(nkiGetFileSize, nullptr),
        E(nkiReadFile, nullptr, 0, 0),
        E(nkiWriteFile, nullptr, 0, 0),
    };
    return list;
}

#undef E

class Exports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(nkiCreateContext(&live_, 3), NKI_OK); }
    void TearDown() override { nkiDestroyContext(&live_); }
    NKI_CONTEXT live_ = nullptr;
};

TEST_F(Exports, UnimplementedAnswer252WhateverTheContext) {
    int foreign = 7;
    for (const auto &e : Unsupported()) {
        EXPECT_EQ(e.call(nullptr), NKI_E_UNSUPPORTED_FUNCTION) << e.name;
        EXPECT_EQ(e.call(&foreign), NKI_E_UNSUPPORTED_FUNCTION) << e.name;
        EXPECT_EQ(e.call(live_), NKI_E_UNSUPPORTED_FUNCTION) << e.name;
    }
}

TEST_F(Exports, DocumentVerificationChecksTheContextFirst) {
    EXPECT_EQ(nkiVerifyDocFinal(nullptr, nullptr, 0, nullptr, nullptr, 0), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiVerifyDocFinalEx(nullptr, nullptr, 0, nullptr, 0, nullptr, 0), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiVerifyDocFinal(live_, nullptr, 0, nullptr, nullptr, 0), NKI_E_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(nkiVerifyDocFinalEx(live_, nullptr, 0, nullptr, 0, nullptr, 0), NKI_E_UNSUPPORTED_FUNCTION);
}

TEST_F(Exports, SessionExportsCheckTheContextThenTheSession) {
    int foreign = 0x41727241;  // the magic word, but not a context
    NKI_CONTEXT dead = nullptr;
    ASSERT_EQ(nkiCreateContext(&dead, 3), NKI_OK);
    NKI_CONTEXT destroyed = dead;
    ASSERT_EQ(nkiDestroyContext(&dead), NKI_OK);

    for (const auto &e : SessionExports()) {
        EXPECT_EQ(e.call(nullptr), NKI_E_INVALID_CONTEXT) << e.name;
        EXPECT_EQ(e.call(&foreign), NKI_E_INVALID_CONTEXT) << e.name;
        EXPECT_EQ(e.call(destroyed), NKI_E_INVALID_CONTEXT) << e.name;
        EXPECT_EQ(e.call(live_), NKI_E_NOT_CONNECTED) << e.name;
    }
}

TEST_F(Exports, CardPresenceWithoutSessionIsAnAbortedConnection) {
    EXPECT_EQ(nkiIsCardPresent(nullptr), NKI_E_INVALID_CONTEXT);
    EXPECT_EQ(nkiIsCardPresent(live_), NKI_E_CONNECTION_ABORTED);
}

TEST_F(Exports, EveryExportIsCovered) {
    // 102 exports: the tables above, plus the calls that take no context (create,
    // destroy, version, description, enumerate, device type), open session, card
    // presence and the two checked document calls.
    EXPECT_EQ(Unsupported().size() + SessionExports().size() + 6 + 1 + 1 + 2, 102u);
}

}  // namespace
