// The library's token layer against the simulated token in the in-process PC/SC
// layer: the token must pass for a real one in both builds' start sequences and
// key operations.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "kcarlib/nki_result.h"
#include "sim_support.h"
#include "test_pcsc.h"
#include "token/nki_abs.h"
#include "vtoken_testpcsc.h"

namespace {

using namespace simtest;
using kcar::TNkiAbs;
using kcar::TokenBuild;

const char kReader[] = "Virtual PCD 00 00";

int32_t TestBit(void *ctx) { return static_cast<int32_t>((*static_cast<std::mt19937 *>(ctx))() & 1); }

class VTokenAbs : public ::testing::Test {
protected:
    void Insert(vtoken::TokenOptions options = {}) {
        token = std::make_unique<vtoken::Token>(FreshState(options));
        testpcsc::Reset();
        testpcsc::AddReader(kReader);
        testpcsc::InsertCard(kReader, vtoken::TestCard(*token));
    }
    void TearDown() override {
        abs.disconnect();
        testpcsc::Reset();
    }
    // The host's curve from the token layer's converted record.
    void HostCurve(TEcc &ecc) {
        uint32_t b[ECC_WORDS] = {}, n[ECC_WORDS] = {};
        TEcPoint p;
        PointClear(&p);
        uint8_t v[64] = {};
        EccInit(&ecc, TestBit, &rng);
        ASSERT_TRUE(EccSetBaseField(&ecc, 191, 9, 0, 0));
        ASSERT_EQ(abs.GetDsaParams(2, v), NKI_OK);
        EccBaseFromArrayLSB(&ecc, v, 24, b);
        ASSERT_EQ(abs.GetDsaParams(3, v), NKI_OK);
        EccIntFromArrayLSB(&ecc, v, 24, n);
        ASSERT_EQ(abs.GetDsaParams(4, v), NKI_OK);
        EccBaseFromArrayLSB(&ecc, v, 24, p.x);
        ASSERT_EQ(abs.GetDsaParams(5, v), NKI_OK);
        EccBaseFromArrayLSB(&ecc, v, 24, p.y);
        ASSERT_TRUE(EccSetCurve(&ecc, 1, b, n));
        ASSERT_TRUE(EccSetBasePoint(&ecc, &p));
    }
    static TEcPoint Point(const uint8_t *point128) {
        TEcPoint q;
        PointClear(&q);
        EccBaseFromArrayLSB(nullptr, point128, 24, q.x);
        EccBaseFromArrayLSB(nullptr, point128 + 64, 24, q.y);
        return q;
    }

    std::unique_ptr<vtoken::Token> token;
    TNkiAbs abs;
    std::mt19937 rng{2002};
};

TEST_F(VTokenAbs, ConnectsAndLearnsTheToken) {
    vtoken::TokenOptions o;
    o.containerSizes = {1000, 2000, 0};
    o.keySlots = 3;
    Insert(o);
    ASSERT_EQ(abs.connect(kReader), NKI_OK);
    EXPECT_EQ(Bytes(abs.Serial, abs.Serial + 8), Bytes(token->state().serial.begin(), token->state().serial.end()));
    EXPECT_EQ(abs.KeySlots, 3u);
    EXPECT_EQ(abs.ContainerSize[0], 1000u);
    EXPECT_EQ(abs.ContainerSize[1], 2000u);
    EXPECT_EQ(abs.ContainerSize[2], 0u) << "a token without 0203 connects";
    EXPECT_EQ(abs.Caps, TNkiAbs::CapCurveLoaded | TNkiAbs::CapStatusBit);
    uint32_t b[ECC_WORDS] = {}, expected[ECC_WORDS] = {};
    uint8_t v[64] = {};
    ASSERT_EQ(abs.GetDsaParams(2, v), NKI_OK);
    EccBaseFromArrayLSB(nullptr, v, 24, b);
    TEcc ecc;
    EccInit(&ecc, nullptr, nullptr);
    EccBaseFromString(&ecc, "7BC86E2102902EC4D5890E8B6B4981FF27E0482750FEFC03", expected);
    EXPECT_TRUE(BaseIsEqual(b, expected)) << "the host squares the stored root back to b";

    TNkiAbs other(TokenBuild::MultiCarrier);
    abs.disconnect();
    ASSERT_EQ(other.connect(kReader), NKI_OK);
    EXPECT_EQ(other.ContainerSize[0], 1000u);
    EXPECT_EQ(other.KeySlots, 3u);
    uint8_t text[252];
    uint32_t length = 0;
    EXPECT_EQ(other.ReadStatusText(text, sizeof text, &length), NKI_OK);
    EXPECT_STREQ(reinterpret_cast<char *>(text), "nki-vtoken 1.0");
    other.disconnect();
}

TEST_F(VTokenAbs, UnusableTokensAreRefused) {
    Insert();
    token->MutableState().files[vtoken::kCurveFile][0] = 0xA3;
    EXPECT_EQ(abs.connect(kReader), NKI_E_NOT_CONNECTED);
    Insert();
    token->InjectStatus(H("00 A4 00 00 02 00 09"), 0x6A82);
    EXPECT_EQ(abs.connect(kReader), NKI_E_NOT_CONNECTED);
}

TEST_F(VTokenAbs, PinContainersAndKeysThroughTheTokenLayer) {
    Insert();
    ASSERT_EQ(abs.connect(kReader), NKI_OK);
    const uint8_t pin[] = "12345678", wrong[] = "1234";
    uint8_t point[128];
    EXPECT_EQ(abs.GenerateOwnerKeyPair(1, point), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(abs.CheckPinEx(wrong, 4), NKI_E_INVALID_PIN_BASE + 9);
    uint8_t counter = 0;
    uint32_t got = 0;
    const uint8_t query[] = {0x80, 0xF2, 0x00, 0x05, 0x01};
    EXPECT_EQ(abs.IoControl(TNkiAbs::IoQueryPassThrough, query, 5, &counter, 1, &got), NKI_OK);
    EXPECT_EQ(counter, 9);
    EXPECT_EQ(abs.CheckPinEx(pin, 8), NKI_OK);

    const uint8_t data[200] = {1, 2, 3, 4, 5};
    uint8_t back[200] = {};
    EXPECT_EQ(abs.WriteDataEx(2, 8000, data, 192), NKI_OK);
    EXPECT_EQ(abs.ReadDataEx(2, 8000, back, 192), NKI_OK);
    EXPECT_EQ(0, std::memcmp(back, data, 192));
    EXPECT_EQ(abs.ReadDataEx(2, 8000, back, 193), NKI_E_NO_SPACE);

    EXPECT_EQ(abs.GetOwnerPublicKey(1, point), NKI_E_KEY_ABSENT);
    ASSERT_EQ(abs.GenerateOwnerKeyPair(1, point), NKI_OK);
    TEcc ecc;
    HostCurve(ecc);
    TEcPoint q = Point(point);
    EXPECT_TRUE(EccVerifyPublicKey(&ecc, &q));

    uint8_t hash[32], sig[48];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(abs.SignHash(hash, sig), NKI_OK);
    EXPECT_EQ(EccCheckHash(&ecc, &q, hash, sig, 0), 1);

    // Authentication: the layer hands out the 16 random bytes first.
    uint8_t challenge[8] = {9, 8, 7, 6, 5, 4, 3, 2}, response[64];
    ASSERT_EQ(abs.DoAuthentication(challenge, response), NKI_OK);
    uint8_t input[24], authHash[32];
    std::memcpy(input, response, 16);
    std::memcpy(input + 16, challenge, 8);
    uint8_t iv[32], sbox[64];
    ASSERT_EQ(abs.GetDsaParams(6, iv), NKI_OK);
    ASSERT_EQ(abs.GetDsaParams(7, sbox), NKI_OK);
    TGostHash h;
    HashInit(&h, sbox, iv);
    HashUpdate(&h, input, sizeof input);
    HashFinal(&h, authHash);
    EXPECT_EQ(EccCheckHash(&ecc, &q, authHash, response + 16, 0), 1);

    // Wrap keys: the token's pair equals what the library's sending side derives
    // from the token's public key (tags 0 and 1).
    TEcDHKD kd;
    ASSERT_TRUE(EcdhInitTpl(&kd, &ecc, sbox));
    uint8_t sent0[32], sent1[32], key0[32], key1[32], peer[128] = {};
    TEcPoint u;
    ASSERT_TRUE(EcdhDeriveKeySend(&kd, &q, sent0, sent1, &u));
    EcdhDone(&kd);
    EccBaseToArrayLSB(&ecc, u.x, peer, 24);
    EccBaseToArrayLSB(&ecc, u.y, peer + 64, 24);
    ASSERT_EQ(abs.CreateWrapKeysEx(1, peer, key0, key1), NKI_OK);
    EXPECT_EQ(0, std::memcmp(key0, sent0, 32));
    EXPECT_EQ(0, std::memcmp(key1, sent1, 32));

    EXPECT_EQ(abs.ForgetPin(), NKI_OK);
    EXPECT_EQ(abs.SignHash(hash, sig), NKI_E_PIN_REQUIRED);
    EccDone(&ecc);
}

TEST_F(VTokenAbs, KeyStateAndBlockedPinCodes) {
    Insert();
    ASSERT_EQ(abs.connect(kReader), NKI_OK);
    const uint8_t pin[] = "12345678", wrong[] = "0";
    ASSERT_EQ(abs.CheckPinEx(pin, 8), NKI_OK);
    uint8_t hash[32] = {}, sig[48], point[128];
    EXPECT_EQ(abs.SignHash(hash, sig), NKI_E_INVALID_KEY_STATE) << "no active key";
    EXPECT_EQ(abs.ShiftKey(), NKI_E_INVALID_KEY_STATE);
    ASSERT_EQ(abs.GenerateOwnerKeyPair(2, point), NKI_OK);
    ASSERT_EQ(abs.ShiftKey(), NKI_OK);
    ASSERT_EQ(abs.ActivateKey(1), NKI_OK);
    EXPECT_EQ(abs.SignHash(hash, sig), NKI_OK);
    EXPECT_EQ(abs.GetOwnerPublicKey(2, point), NKI_E_KEY_ABSENT);
    for (int left = 9; left > 0; --left) EXPECT_EQ(abs.CheckPinEx(wrong, 1), NKI_E_INVALID_PIN_BASE + left);
    EXPECT_EQ(abs.CheckPinEx(wrong, 1), NKI_E_INVALID_PIN_BASE);
    EXPECT_EQ(abs.CheckPinEx(pin, 8), NKI_E_DEVICE_BLOCKED);
    uint16_t sw = 0;
    uint32_t got = 0;
    EXPECT_EQ(abs.IoControl(TNkiAbs::IoLastStatusWord, nullptr, 0, reinterpret_cast<uint8_t *>(&sw), 2, &got), NKI_OK);
    EXPECT_EQ(sw, 0x6983);
}

}  // namespace
