// Session keys agreed between two tokens with SK tokens of both forms.
#include <cstring>

#include "kcarlib/ecc.h"
#include "session_fixture.h"

using namespace sessiontest;

class SessionKeys : public Sessions {
protected:
    void SetUp() override {
        Sessions::SetUp();
        Ready(a, kReaderA);
        Ready(b, kReaderB);
        keyA = OwnerKey(a, false);
        keyB = OwnerKey(b, false);
        paramsA = Params(a);
        paramsB = Params(b);
    }
    Bytes keyA, keyB;
    tagTECParams paramsA{}, paramsB{};
};

TEST_F(SessionKeys, Sizes) {
    uint32_t size = 0;
    ASSERT_EQ(nkiGetSKTokenSize(a, &size), NKI_OK);
    EXPECT_EQ(size, 76u);
    ASSERT_EQ(nkiGetSKTokenSizeEx(a, paramsB, 0, &size), NKI_OK);
    EXPECT_EQ(size, 76u);
    ASSERT_EQ(nkiGetSKTokenSizeEx(a, paramsB, 1, &size), NKI_OK);
    EXPECT_EQ(size, 32u);
    tagTECParams broken = paramsB;
    broken.m = 190;
    EXPECT_EQ(nkiGetSKTokenSizeEx(a, broken, 0, &size), NKI_E_BAD_ARGUMENTS);
}

TEST_F(SessionKeys, SignedAndMacProtectedTokensGiveTheSameKeyOnBothSides) {
    for (bool compressed : {false, true}) {
        Bytes peerB = OwnerKey(b, compressed), peerA = OwnerKey(a, compressed);
        uint8_t sent[32], received[32];
        Bytes token(76);
        ASSERT_EQ(nkiGetSessionKeyEx(a, sent, 1, peerB.data(), compressed, &paramsB, token.data()), NKI_OK);
        EXPECT_EQ(Bytes(token.begin(), token.begin() + 4), (Bytes{0x18, 0x00, 0x30, 0x00}));
        ASSERT_EQ(nkiSetSessionKeyEx(b, received, 1, peerA.data(), compressed, &paramsA, token.data()), NKI_OK);
        EXPECT_EQ(0, std::memcmp(sent, received, 32));

        Bytes macToken(32);
        ASSERT_EQ(nkiGetSessionKeyMac(a, sent, 1, peerB.data(), compressed, &paramsB, macToken.data()), NKI_OK);
        EXPECT_EQ(Bytes(macToken.begin(), macToken.begin() + 4), (Bytes{0x18, 0x00, 0x04, 0x01}));
        ASSERT_EQ(nkiSetSessionKeyMac(b, received, 1, macToken.data()), NKI_OK);
        EXPECT_EQ(0, std::memcmp(sent, received, 32));
        // The signed-token receiver hands a MAC-protected token on.
        std::memset(received, 0, 32);
        ASSERT_EQ(nkiSetSessionKeyEx(b, received, 1, peerA.data(), compressed, &paramsA, macToken.data()), NKI_OK);
        EXPECT_EQ(0, std::memcmp(sent, received, 32));
    }
}

TEST_F(SessionKeys, EveryExchangeDrawsAFreshEphemeralKey) {
    // The ephemeral key comes from the context's generator through the curve
    // code's random callback; two exchanges must not repeat it.
    uint8_t first[32], second[32];
    Bytes t1(32), t2(32);
    ASSERT_EQ(nkiGetSessionKeyMac(a, first, 1, keyB.data(), 0, &paramsB, t1.data()), NKI_OK);
    ASSERT_EQ(nkiGetSessionKeyMac(a, second, 1, keyB.data(), 0, &paramsB, t2.data()), NKI_OK);
    EXPECT_NE(t1, t2);
    EXPECT_NE(0, std::memcmp(first, second, 32));
}

TEST_F(SessionKeys, OwnCurveExchange) {
    uint8_t sent[32], received[32];
    Bytes token(76);
    ASSERT_EQ(nkiGetSessionKey(a, sent, keyB.data(), nullptr, token.data()), NKI_OK);
    ASSERT_EQ(nkiGetSessionKey(b, received, keyA.data(), token.data(), nullptr), NKI_OK);
    EXPECT_EQ(0, std::memcmp(sent, received, 32));
    token[10] ^= 1;
    EXPECT_EQ(nkiGetSessionKey(b, received, keyA.data(), token.data(), nullptr), NKI_E_INVALID_TOKEN);
}

TEST_F(SessionKeys, DamagedOrMisusedTokensAreRefused) {
    uint8_t sent[32];
    Bytes token(76), macToken(32);
    ASSERT_EQ(nkiGetSessionKeyEx(a, sent, 1, keyB.data(), 0, &paramsB, token.data()), NKI_OK);
    ASSERT_EQ(nkiGetSessionKeyMac(a, sent, 1, keyB.data(), 0, &paramsB, macToken.data()), NKI_OK);

    const uint8_t marker[32] = {0x77};
    uint8_t out[32];
    auto untouched = [&] { return std::memcmp(out, marker, 32) == 0; };
    std::memcpy(out, marker, 32);
    EXPECT_EQ(nkiSetSessionKeyEx(b, out, 2, keyA.data(), 0, &paramsA, token.data()), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(nkiSetSessionKeyEx(b, out, 1, keyA.data(), 0, &paramsA, nullptr), NKI_E_BAD_ARGUMENTS);
    EXPECT_EQ(nkiSetSessionKeyMac(b, out, 1, token.data()), NKI_E_INVALID_TOKEN);  // byte 2 is 48
    Bytes relabelled = token;
    relabelled[2] = 4;
    EXPECT_EQ(nkiSetSessionKeyMac(b, out, 1, relabelled.data()), NKI_E_TOKEN_SIGNED);
    Bytes typed = token;
    typed[3] = 2;
    EXPECT_EQ(nkiSetSessionKeyEx(b, out, 1, keyA.data(), 0, &paramsA, typed.data()), NKI_E_INVALID_TOKEN);
    for (std::size_t i = 4; i < 4 + 24; i += 7) {
        Bytes t = token, m = macToken;
        t[i] ^= 0x10;
        m[i] ^= 0x10;
        EXPECT_EQ(nkiSetSessionKeyEx(b, out, 1, keyA.data(), 0, &paramsA, t.data()), NKI_E_INVALID_TOKEN) << i;
        EXPECT_EQ(nkiSetSessionKeyMac(b, out, 1, m.data()), NKI_E_INVALID_TOKEN) << i;
    }
    Bytes badMac = macToken;
    badMac[30] ^= 1;
    EXPECT_EQ(nkiSetSessionKeyMac(b, out, 1, badMac.data()), NKI_E_INVALID_TOKEN);
    // A refused token never leaves a key in the caller's buffer.
    EXPECT_TRUE(untouched());
}

TEST_F(SessionKeys, SendingASignedTokenNeedsThePin) {
    ASSERT_EQ(nkiForgetPIN(a), NKI_OK);
    uint8_t key[32] = {0x55}, before[32] = {0x55};
    Bytes token(76);
    EXPECT_EQ(nkiGetSessionKeyEx(a, key, 1, keyB.data(), 0, &paramsB, token.data()), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(0, std::memcmp(key, before, 32));
    // The MAC form needs no token command.
    Bytes macToken(32);
    EXPECT_EQ(nkiGetSessionKeyMac(a, key, 1, keyB.data(), 0, &paramsB, macToken.data()), NKI_OK);
}

TEST_F(SessionKeys, SenderRefusesPeerKeysOutsideTheOrderNGroup) {
    // The token's curve has cofactor 2: (0, sqrt b) has order 2, and adding it to a
    // genuine key gives a point of order 2n. Agreeing with either would put the
    // shared point in a small subgroup, so the session key could be guessed; the
    // compressed key of 24 zero bytes expands to the order-2 point.
    TEcc curve;
    EccInit(&curve, nullptr, nullptr);
    ASSERT_TRUE(EccSetBaseField(&curve, static_cast<int32_t>(paramsB.m), static_cast<int32_t>(paramsB.k1),
                                static_cast<int32_t>(paramsB.k2), static_cast<int32_t>(paramsB.k3)));
    uint32_t bw[ECC_WORDS], nw[ECC_WORDS];
    EccBaseFromArrayLSB(&curve, paramsB.B, 24, bw);
    EccIntFromArrayLSB(&curve, paramsB.N, 24, nw);
    ASSERT_TRUE(EccSetCurve(&curve, static_cast<int32_t>(paramsB.A), bw, nw));
    TEcPoint two{}, mixed{};
    BaseSquareRoot(&curve, curve.B, two.y);
    EccBaseFromArrayLSB(&curve, keyB.data(), 24, mixed.x);
    EccBaseFromArrayLSB(&curve, keyB.data() + 24, 24, mixed.y);
    AfSum(&curve, &mixed, &two);
    auto uncompressed = [&](const TEcPoint &p) {
        Bytes out(48);
        EccBaseToArrayLSB(&curve, p.x, out.data(), 24);
        EccBaseToArrayLSB(&curve, p.y, out.data() + 24, 24);
        return out;
    };
    EccDone(&curve);
    struct Case {
        const char *what;
        Bytes key;
        bool compressed;
    } cases[] = {
        {"compressed zero", Bytes(24, 0), true},
        {"order 2", uncompressed(two), false},
        {"order 2n", uncompressed(mixed), false},
    };
    for (const auto &c : cases) {
        for (int round = 0; round < 6; ++round) {  // about half the calls got through before
            uint8_t key[32] = {0x5A};
            Bytes token(76, 0xEE), macToken(32, 0xEE);
            EXPECT_EQ(nkiGetSessionKeyEx(a, key, 1, c.key.data(), c.compressed, &paramsB, token.data()),
                      NKI_E_BAD_ARGUMENTS) << c.what;
            EXPECT_EQ(nkiGetSessionKeyMac(a, key, 1, c.key.data(), c.compressed, &paramsB, macToken.data()),
                      NKI_E_BAD_ARGUMENTS) << c.what;
            if (!c.compressed) {
                EXPECT_EQ(nkiGetSessionKey(a, key, c.key.data(), nullptr, token.data()), NKI_E_BAD_ARGUMENTS)
                    << c.what;
            }
            EXPECT_EQ(key[0], 0x5A) << c.what;
            EXPECT_EQ(key[1], 0) << c.what;
        }
    }
}
