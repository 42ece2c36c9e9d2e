// PIN blocks, PIN change modes and the token authentication.
#include "token_fixture.h"

#include <cstring>

namespace tokentest {
namespace {

using Pin = BothBuilds;

const uint8_t kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};

TEST_P(Pin, VerifySendsAnEightBytePinBlock) {
    TNkiAbs &t = Connected(GetParam());
    byHeader[{0x00, 0x20, 0x00, 0x05}] = kOk;
    struct Case {
        int32_t length;
        Bytes block;
    } cases[] = {
        {4, {'1', '2', '3', '4', 0, 0, 0, 0}},
        {8, {'1', '2', '3', '4', '5', '6', '7', '8'}},
        {10, {'1', '2', '3', '4', '5', '6', '7', '8'}},
        {0, Bytes(8, 0)},
        {-1, Bytes(8, 0)},
    };
    for (const Case &c : cases) {
        testpcsc::ClearSent(kReader);
        EXPECT_EQ(t.CheckPinEx(kPin, c.length), NKI_OK);
        EXPECT_EQ(Sent(), std::vector<Bytes>{Cat({{0x00, 0x20, 0x00, 0x05, 0x08}, c.block})}) << c.length;
    }
    EXPECT_EQ(t.CheckPinEx(nullptr, 4), NKI_E_BAD_ARGUMENTS);

    // Wrong and blocked PINs come back as the token says; the last status word stays readable.
    byHeader[{0x00, 0x20, 0x00, 0x05}] = {0x63, 0xC2};
    EXPECT_EQ(t.CheckPinEx(kPin, 4), 226u);
    uint8_t sw[2];
    uint32_t n = 0;
    ASSERT_EQ(t.IoControl(TNkiAbs::IoLastStatusWord, nullptr, 0, sw, 2, &n), NKI_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(sw[0] | sw[1] << 8, 0x63C2);
    byHeader[{0x00, 0x20, 0x00, 0x05}] = {0x69, 0x83};
    EXPECT_EQ(t.CheckPinEx(kPin, 4), NKI_E_DEVICE_BLOCKED);
}

TEST_P(Pin, ChangeAndForget) {
    TNkiAbs &t = Connected(GetParam());
    byHeader[{0x80, 0x24, 0x00, 0x05}] = kOk;
    byHeader[{0x80, 0x24, 0x00, 0x06}] = kOk;
    byHeader[{0x80, 0x24, 0x01, 0x06}] = kOk;
    answers[{0x80, 0xE0, 0x02, 0x00}] = kOk;
    const uint8_t newPin[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    const Bytes blocks = {'1', '2', '3', '4', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 0, 0};
    struct Case {
        int32_t mode;
        uint32_t rc;
        Bytes header;
    } cases[] = {
        {0, NKI_OK, {0x80, 0x24, 0x00, 0x05}}, {1, NKI_OK, {0x80, 0x24, 0x00, 0x06}},
        {2, NKI_OK, {0x80, 0x24, 0x01, 0x06}}, {3, NKI_E_OUT_OF_RANGE, {}},
        {-1, NKI_E_OUT_OF_RANGE, {}},
    };
    for (const Case &c : cases) {
        testpcsc::ClearSent(kReader);
        EXPECT_EQ(t.ChangePinEx(kPin, 4, newPin, 6, c.mode), c.rc) << c.mode;
        if (c.header.empty()) {
            EXPECT_TRUE(Sent().empty());
        } else {
            EXPECT_EQ(Sent(), std::vector<Bytes>{Cat({c.header, {0x10}, blocks})}) << c.mode;
        }
    }
    testpcsc::ClearSent(kReader);
    EXPECT_EQ(t.ForgetPin(), NKI_OK);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x80, 0xE0, 0x02, 0x00}}));
}

TEST_F(TokenFixture, MultiCarrierChangesThePinOnlyWithACurve) {
    TokenImage image;
    image.curve.assign(204, 0xFF);
    TNkiAbs &t = Connected(TokenBuild::MultiCarrier, image);
    EXPECT_EQ(t.ChangePinEx(kPin, 8, kPin, 8, 3), NKI_E_NOT_INITIALIZED);
    EXPECT_TRUE(Sent().empty());
    byHeader[{0x00, 0x20, 0x00, 0x05}] = kOk;
    EXPECT_EQ(t.CheckPinEx(kPin, 8), NKI_OK);
}

TEST_P(Pin, AuthenticationPutsTheSixteenBytePartFirst) {
    TNkiAbs &t = Connected(GetParam());
    const Bytes challenge = Seq(0xC0, 8);
    const Bytes command = Cat({{0x40, 0x58, 0x00, 0x00, 0x08}, challenge, {0x00}});
    answers[command] = Cat({Seq(0x00, 48), Seq(0xB0, 16), kOk});
    uint8_t response[65];
    std::memset(response, 0xEE, sizeof response);
    ASSERT_EQ(t.DoAuthentication(challenge.data(), response), NKI_OK);
    EXPECT_EQ(Sent(), std::vector<Bytes>{command});
    EXPECT_EQ(Bytes(response, response + 65), Cat({Seq(0xB0, 16), Seq(0x00, 48), {0xEE}}));

    for (const Bytes &bad : {Bytes{0x69, 0x82}, Cat({Seq(0x00, 48), kOk})}) {  // refused; too short
        answers[command] = bad;
        std::memset(response, 0xEE, sizeof response);
        EXPECT_NE(t.DoAuthentication(challenge.data(), response), NKI_OK);
        EXPECT_EQ(Bytes(response, response + 65), Bytes(65, 0xEE));
    }
    TNkiAbs idle(GetParam());
    EXPECT_EQ(idle.DoAuthentication(challenge.data(), response), NKI_E_INVALID_CONTEXT);
}

TOKEN_BOTH_BUILDS(Pin);

}  // namespace
}  // namespace tokentest
