// Session services of the multi-carrier build on simulated tokens: PIN and
// presence rules, work objects made by their init calls, the calls this build adds,
// document signatures and token-signed SK tokens.
#include <gtest/gtest.h>

#include <cstring>

#include "multi_fixture.h"

namespace {

using multitest::Bytes;
using multitest::kPin;
using multitest::kReaderA;
using multitest::kReaderB;
using multitest::MultiTokens;

TEST_F(MultiTokens, PinRuleComesBeforeTheWork) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    uint8_t key[32] = {1}, hash[32], uid[8];
    tagTNKIinfo info;
    EXPECT_EQ(nkiInitCipher(a, key, nullptr, nullptr), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(nkiGetHash(a, "x", 1, hash), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(nkiDoAuthentification(a, hash, hash), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(nkiVerifyDoc(a, "x", 1, hash, 14, hash, hash, 0), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(nkiGetUID(a, uid), NKI_OK);
    EXPECT_EQ(nkiGetInfo(a, &info), NKI_OK);
    const uint8_t wrong[8] = {'0'};
    const uint32_t rc = nkiCheckPIN(a, wrong);
    EXPECT_GE(rc, NKI_E_INVALID_PIN_BASE);
    EXPECT_LE(rc, NKI_E_INVALID_PIN_BASE + 15);
    EXPECT_EQ(nkiInitCipher(a, key, nullptr, nullptr), NKI_E_PIN_REQUIRED);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    EXPECT_EQ(nkiInitCipher(a, key, nullptr, nullptr), NKI_OK);
    ASSERT_EQ(nkiForgetPIN(a), NKI_OK);
    EXPECT_EQ(nkiGetSymmKey(a, key), NKI_E_PIN_REQUIRED);
    // Closing forgets the PIN with everything else.
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    ASSERT_EQ(nkiCloseSession(a), NKI_OK);
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    EXPECT_EQ(nkiGetSymmKey(a, key), NKI_E_PIN_REQUIRED);
}

TEST_F(MultiTokens, PulledCardClosesTheSession) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_OK);
    testpcsc::RemoveCard(kReaderA);
    uint8_t out[8];
    EXPECT_EQ(nkiGetRandomBlock(a, out, 8), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiGetRandomBlock(a, out, 8), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(testpcsc::OpenCards(), 0);
    // A new session opens on a new card, without the old PIN.
    testpcsc::InsertCard(kReaderA, vtoken::TestCard(*tokenA));
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    EXPECT_EQ(nkiGetSymmKey(a, out), NKI_E_PIN_REQUIRED);
    testpcsc::RemoveCard(kReaderA);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_E_NOT_CONNECTED);
}

TEST_F(MultiTokens, WorkObjectsNeedTheirInitCall) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    uint8_t out[48], key[32];
    int32_t keySize = 0, signatureSize = 0, stampLength = 0;
    EXPECT_EQ(nkiMACUpdate(a, "x", 1), NKI_E_NOT_INITIALIZED_OP);
    EXPECT_EQ(nkiHashFinal(a, out), NKI_E_NOT_INITIALIZED_OP);
    EXPECT_EQ(nkiSignData(a, "x", 1, out), NKI_E_NOT_INITIALIZED_OP);
    EXPECT_EQ(nkiSignDoc(a, "x", 1, out, out, &stampLength), NKI_E_NOT_INITIALIZED_OP);
    EXPECT_EQ(nkiGetCurrentDsSizes(a, &keySize, &signatureSize), NKI_E_NOT_INITIALIZED_OP);
    EXPECT_EQ(nkiGetSymmKey(a, key), NKI_E_KEY_ABSENT);
    ASSERT_EQ(nkiInitDS(a, nullptr), NKI_OK);
    EXPECT_EQ(nkiGetCurrentDsSizes(a, &keySize, &signatureSize), NKI_OK);
    EXPECT_EQ(keySize, 48);
    EXPECT_EQ(signatureSize, 48);
    ASSERT_EQ(nkiInitHash(a, nullptr, nullptr), NKI_OK);
    EXPECT_EQ(nkiHashFinal(a, out), NKI_OK);
}

TEST_F(MultiTokens, CipherKeepsTableAndSyncOfEarlierInit) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    uint8_t key[32], sync[8] = {1, 2, 3, 4, 5, 6, 7, 8}, sbox[64];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 7);
    for (int i = 0; i < 64; ++i) sbox[i] = static_cast<uint8_t>((i % 16) * 0x11 ^ (i / 16) * 0x35);
    uint8_t first[16] = {}, second[16] = {};
    ASSERT_EQ(nkiInitCipher(a, key, sync, sbox), NKI_OK);
    ASSERT_EQ(nkiEncrypt(a, first, sizeof first, 2), NKI_OK);
    ASSERT_EQ(nkiInitCipher(a, key, nullptr, nullptr), NKI_OK);  // table and sync stay
    ASSERT_EQ(nkiEncrypt(a, second, sizeof second, 2), NKI_OK);
    EXPECT_EQ(0, std::memcmp(first, second, sizeof first));
    uint8_t held[32];
    ASSERT_EQ(nkiGetSymmKey(a, held), NKI_OK);
    EXPECT_EQ(0, std::memcmp(held, key, 32));
}

TEST_F(MultiTokens, GeneratorSeededOnceFromTheToken) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    testpcsc::ClearSent(kReaderA);
    uint8_t out[32];
    ASSERT_EQ(nkiGetRandomBlock(a, out, 16), NKI_OK);
    ASSERT_EQ(nkiGetRandomByte(a, out), NKI_OK);
    ASSERT_EQ(nkiGenerateSymmKey(a, out), NKI_OK);
    int challenges = 0;
    for (const Bytes &apdu : testpcsc::Sent(kReaderA)) challenges += apdu.size() >= 2 && apdu[1] == 0x84;
    EXPECT_EQ(challenges, 1);
}

TEST_F(MultiTokens, UserKeyPairOnTheHost) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    uint8_t privateKey[24], publicKey[48];
    ASSERT_EQ(nkiGenerateUserKeyPair(a, privateKey, publicKey), NKI_OK);
    EXPECT_EQ(nkiVerifyUserKeyPair(a, privateKey, publicKey), NKI_OK);
    privateKey[5] ^= 0x10;
    EXPECT_EQ(nkiVerifyUserKeyPair(a, privateKey, publicKey), NKI_E_KEY_MISMATCH);
}

TEST_F(MultiTokens, DocumentSignatureVerifiesWithItsStamp) {
    Ready(a, kReaderA);
    ASSERT_EQ(nkiOpenSession(b, kReaderB, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(b, kPin), NKI_OK);
    ASSERT_EQ(nkiInitDS(b, nullptr), NKI_OK);
    const Bytes signer = OwnerKey(a);
    for (uint32_t n : {0u, 31u, 32u, 33u, 100u}) {
        Bytes doc(n);
        for (uint32_t i = 0; i < n; ++i) doc[i] = static_cast<uint8_t>(i * 13 + 1);
        uint8_t signature[48], stamp[14];
        int32_t stampLength = 0;
        ASSERT_EQ(nkiSignDoc(a, doc.data(), n, signature, stamp, &stampLength), NKI_OK) << n;
        EXPECT_EQ(stampLength, 14);
        EXPECT_EQ(nkiVerifyDoc(b, doc.data(), n, stamp, 14, signer.data(), signature, 0), NKI_OK) << n;
        EXPECT_EQ(nkiVerifyDocEx(a, doc.data(), n, stamp, 14, signer.data(), 0, signature, 48), NKI_OK) << n;
        stamp[3] ^= 1;
        EXPECT_EQ(nkiVerifyDoc(b, doc.data(), n, stamp, 14, signer.data(), signature, 0), NKI_E_INVALID_SIGNATURE);
        stamp[3] ^= 1;
        if (n > 0) {
            doc[n - 1] ^= 0x80;
            EXPECT_EQ(nkiVerifyDoc(b, doc.data(), n, stamp, 14, signer.data(), signature, 0),
                      NKI_E_INVALID_SIGNATURE);
        }
    }
    // The streamed form signs the same input: data, zero padding, stamp.
    Bytes doc(40, 0x5C);
    ASSERT_EQ(nkiDSLoadData(a, doc.data(), 25), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(a, doc.data() + 25, 15), NKI_OK);
    uint8_t signature[48], stamp[14];
    int32_t stampLength = 0;
    ASSERT_EQ(nkiSignDocFinal(a, signature, stamp, &stampLength), NKI_OK);
    EXPECT_EQ(nkiVerifyDoc(b, doc.data(), 40, stamp, 14, signer.data(), signature, 0), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(b, doc.data(), 40), NKI_OK);
    EXPECT_EQ(nkiVerifyDocFinal(b, stamp, 14, signer.data(), signature, 0), NKI_OK);
    // With the caller's parameters the token cannot complete the hash.
    const tagTECParams params = Params(a);
    ASSERT_EQ(nkiInitDS(a, &params), NKI_OK);
    EXPECT_EQ(nkiSignDocFinal(a, signature, stamp, &stampLength), NKI_E_CONTEXT_IN_USE);
}

TEST_F(MultiTokens, TokenSignedSkTokensBothWays) {
    Ready(a, kReaderA);
    Ready(b, kReaderB);
    const Bytes keyA = OwnerKey(a), keyB = OwnerKey(b);
    const tagTECParams paramsA = Params(a), paramsB = Params(b);
    uint32_t size = 0;
    ASSERT_EQ(nkiGetSKTokenSize(a, &size), NKI_OK);
    EXPECT_EQ(size, 4u + 24 + 48 + 8 + 14);
    struct Direction {
        NKI_CONTEXT from, to;
        const Bytes &fromKey, &toKey;
        const tagTECParams &fromParams, &toParams;
    } directions[] = {{a, b, keyA, keyB, paramsA, paramsB}, {b, a, keyB, keyA, paramsB, paramsA}};
    for (const Direction &d : directions) {
        Bytes token(size, 0xEE);
        uint8_t sent[32], received[32];
        ASSERT_EQ(nkiGetSessionKeyEx(d.from, sent, 1, d.toKey.data(), 0, &d.toParams, token.data()), NKI_OK);
        EXPECT_EQ(Bytes(token.begin(), token.begin() + 4), (Bytes{24, 14, 48, 0}));
        ASSERT_EQ(nkiSetSessionKeyEx(d.to, received, 1, d.fromKey.data(), 0, &d.fromParams, token.data()), NKI_OK);
        EXPECT_EQ(0, std::memcmp(sent, received, 32));
        for (std::size_t at : {std::size_t(4), std::size_t(4 + 24 + 3), std::size_t(4 + 24 + 14 + 5)}) {
            Bytes bad = token;
            bad[at] ^= 0x01;
            EXPECT_EQ(nkiSetSessionKeyEx(d.to, received, 1, d.fromKey.data(), 0, &d.fromParams, bad.data()),
                      NKI_E_INVALID_TOKEN)
                << at;
        }
    }
}

TEST_F(MultiTokens, InformationOfTheToken) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    int32_t length = 0;
    EXPECT_EQ(nkiGetInfoEx(a, 4, nullptr, &length), NKI_OK);
    EXPECT_EQ(length, static_cast<int32_t>(sizeof kReaderA));
    char name[64] = {};
    EXPECT_EQ(nkiGetInfoEx(a, 4, name, &length), NKI_OK);
    EXPECT_STREQ(name, kReaderA);
    EXPECT_EQ(nkiGetInfoEx(a, 5, nullptr, &length), NKI_OK);
    EXPECT_GT(length, 1);
    EXPECT_EQ(nkiGetInfoEx(a, 77, nullptr, &length), NKI_E_OUT_OF_RANGE);
    uint32_t room = 0;
    EXPECT_EQ(nkiGetInfoEx(a, static_cast<uint32_t>(-3), &room, &length), NKI_OK);
    EXPECT_EQ(room, 8192u - 4);
}

}  // namespace
