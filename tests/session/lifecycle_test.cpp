// Opening and closing sessions, token information, parameters, keys and PIN.
#include <cstring>

#include "kcarlib/ecc.h"
#include "session_fixture.h"

using namespace sessiontest;

TEST_F(Sessions, OpenWithoutReaderNameTakesTheFirstCard) {
    testpcsc::RemoveCard(kReaderA);
    ASSERT_EQ(nkiOpenSession(a, nullptr, nullptr), NKI_OK);
    uint8_t uid[8];
    ASSERT_EQ(nkiGetUID(a, uid), NKI_OK);
    EXPECT_EQ(uid[2], 0xB2);  // the token in the second reader
    EXPECT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_E_CONTEXT_IN_USE);
    EXPECT_EQ(nkiGetUID(a, uid), NKI_OK);  // the first session stays usable
    EXPECT_EQ(nkiIsCardPresent(a), NKI_OK);

    EXPECT_EQ(nkiCloseSession(a), NKI_OK);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiGetUID(a, uid), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiCloseSession(a), NKI_E_NOT_CONNECTED);

    testpcsc::RemoveCard(kReaderB);
    EXPECT_EQ(nkiOpenSession(a, "", nullptr), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_E_NOT_CONNECTED);
}

TEST_F(Sessions, InfoAndCryptoParameters) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    tagTNKIinfo info;
    ASSERT_EQ(nkiGetInfo(a, &info), NKI_OK);
    EXPECT_EQ(info.Kind, 3);
    EXPECT_EQ(info.Serial[2], 0xA1);
    EXPECT_EQ(info.HalfSignSize, 24u);
    EXPECT_EQ(info.PointSize, 48u);
    EXPECT_EQ(info.SignSize, 48u);
    EXPECT_EQ(info.Flags, 0x87);

    uint32_t length = 99;
    EXPECT_EQ(nkiGetCryptoParams(a, 255, nullptr, &length), NKI_OK);
    EXPECT_EQ(length, 372u);
    EXPECT_EQ(nkiGetCryptoParams(a, 9, nullptr, &length), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(nkiGetCryptoParams(a, 240, nullptr, &length), NKI_E_UNSUPPORTED_FUNCTION);
    uint32_t words[4];
    ASSERT_EQ(nkiGetCryptoParams(a, 0, words, &length), NKI_OK);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(words[0], 191u);
    EXPECT_EQ(words[1], 9u);

    // The compressed base point expands to the base point of the parameters.
    tagTECParams p = Params(a);
    uint8_t packed[24];
    ASSERT_EQ(nkiGetCryptoParams(a, 8, packed, &length), NKI_OK);
    ASSERT_EQ(length, 24u);
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    ASSERT_TRUE(EccSetBaseField(&ecc, 191, 9, 0, 0));
    uint32_t bb[ECC_WORDS], n[ECC_WORDS], x[ECC_WORDS];
    EccBaseFromArrayLSB(&ecc, p.B, 24, bb);
    EccIntFromArrayLSB(&ecc, p.N, 24, n);
    ASSERT_TRUE(EccSetCurve(&ecc, static_cast<int32_t>(p.A), bb, n));
    EccBaseFromArrayLSB(&ecc, packed, 24, x);
    TEcPoint q;
    EccExpandPoint(&ecc, x, &q);
    uint8_t qx[24], qy[24];
    EccBaseToArrayLSB(&ecc, q.x, qx, 24);
    EccBaseToArrayLSB(&ecc, q.y, qy, 24);
    EXPECT_EQ(0, std::memcmp(qx, p.Px, 24));
    EXPECT_EQ(0, std::memcmp(qy, p.Py, 24));
    EccDone(&ecc);
}

TEST_F(Sessions, PinAndKeyPairs) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    Bytes key(48);
    EXPECT_EQ(nkiGetOwnerPublicKey(a, key.data(), 0), NKI_E_KEY_ABSENT);  // a fresh token
    EXPECT_EQ(nkiGenerateOwnerKeyPair(a), NKI_E_PIN_REQUIRED);
    const uint8_t wrong[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
    EXPECT_EQ(nkiCheckPIN(a, wrong), NKI_E_INVALID_PIN_BASE + 9);
    EXPECT_EQ(nkiCheckPINEx(a, "12345678", 8), NKI_OK);

    testpcsc::ClearSent(kReaderA);
    EXPECT_EQ(nkiCreateKeyEx(a, 3), NKI_E_KEY_ABSENT);
    EXPECT_EQ(nkiGetKeyEx(a, 3, key.data(), 0), NKI_E_KEY_ABSENT);
    EXPECT_TRUE(testpcsc::Sent(kReaderA).empty());

    ASSERT_EQ(nkiGenerateOwnerKeyPair(a), NKI_OK);
    Bytes owner = OwnerKey(a, false);
    Bytes same(48);
    ASSERT_EQ(nkiGetKeyEx(a, 1, same.data(), 0), NKI_OK);
    EXPECT_EQ(owner, same);

    ASSERT_EQ(nkiCreateFutureKey(a), NKI_OK);
    Bytes future(48);
    ASSERT_EQ(nkiGetFutureKey(a, future.data(), 0), NKI_OK);
    EXPECT_NE(future, owner);
    ASSERT_EQ(nkiActivateFutureKey(a), NKI_OK);
    EXPECT_EQ(OwnerKey(a, false), future);
    EXPECT_EQ(nkiGetFutureKey(a, key.data(), 0), NKI_E_KEY_ABSENT);

    // The keys are on the token: a new session finds the activated one.
    ASSERT_EQ(nkiCloseSession(a), NKI_OK);
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    EXPECT_EQ(OwnerKey(a, false), future);

    EXPECT_EQ(nkiForgetPIN(a), NKI_OK);
    EXPECT_EQ(nkiGenerateOwnerKeyPair(a), NKI_E_PIN_REQUIRED);
}

TEST_F(Sessions, RandomAndAuthentication) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    uint8_t block[64] = {}, before[64] = {};
    EXPECT_EQ(nkiGetRandomBlock(a, block, 0), NKI_OK);
    EXPECT_EQ(0, std::memcmp(block, before, 64));
    ASSERT_EQ(nkiGetRandomBlock(a, block, 64), NKI_OK);
    EXPECT_NE(0, std::memcmp(block, before, 64));
    EXPECT_EQ(nkiGetRandomBlock(a, nullptr, 4), NKI_E_BAD_ARGUMENTS);

    int32_t challengeLength = 0;
    uint32_t responseLength = 0;
    ASSERT_EQ(nkiGetAuthSize(a, &challengeLength, &responseLength), NKI_OK);
    EXPECT_EQ(challengeLength, 8);
    EXPECT_EQ(responseLength, 64u);
    uint8_t challenge[8] = {1, 2, 3, 4, 5, 6, 7, 8}, response[64];
    EXPECT_EQ(nkiDoAuthentification(a, challenge, response), NKI_E_PIN_REQUIRED);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    ASSERT_EQ(nkiGenerateOwnerKeyPair(a), NKI_OK);
    EXPECT_EQ(nkiDoAuthentification(a, challenge, response), NKI_OK);
}

TEST_F(Sessions, CardPulledMidSession) {
    Ready(a, kReaderA);
    testpcsc::RemoveCard(kReaderA);
    uint8_t hash[32] = {}, signature[48];
    EXPECT_EQ(nkiSignHash(a, hash, signature), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_OK);  // the session state only
    EXPECT_EQ(nkiCloseSession(a), NKI_OK);
}

TEST_F(Sessions, FailedOpeningLeavesNoSession) {
    // The token stops answering after its start sequence: the random seed fails.
    tokenA->InjectStatus({0x00, 0x84}, 0x6F00);
    EXPECT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_E_DEVICE_CORRUPTED);
    EXPECT_EQ(nkiIsCardPresent(a), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(testpcsc::OpenCards(), 0);
    tokenA->ClearInjections();
    EXPECT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
}
