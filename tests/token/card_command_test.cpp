// One command exchange: status words, response copying and transport faults.
#include "token_fixture.h"

#include <cstring>

namespace tokentest {
namespace {

const uint8_t kVerify[] = {13, 0x00, 0x20, 0x00, 0x05, 0x08, '1', '2', '3', '4', 0, 0, 0, 0};

class Exchange : public BothBuilds {
protected:
    // A connected token whose answer to the test command is `response`.
    TNkiAbs &With(const Bytes &response) {
        TNkiAbs &t = Connected(GetParam());
        answers[Bytes(kVerify + 1, kVerify + 1 + kVerify[0])] = response;
        return t;
    }
};

TEST_P(Exchange, StatusWordsMapToResultCodes) {
    struct Case {
        uint16_t sw;
        uint32_t token, multi;
    } cases[] = {
        {0x9000, NKI_OK, NKI_OK},
        {0x9001, NKI_OK, NKI_OK},
        {0x90FF, NKI_OK, NKI_OK},
        {0x9801, 38, 38},
        {0x6982, 39, 37},
        {0x6983, 36, 36},
        {0x980D, 53, 53},
        {0x63C0, 224, 224},
        {0x63C2, 226, 226},
        {0x63CF, 239, 239},
        {0x1111, 35, 35},
        {0x6A82, 32, 32},
        {0x6300, 32, 32},
        {0x63D1, 32, 32},
        {0x6D00, 32, 32},
    };
    TNkiAbs &t = With(kOk);
    for (const Case &c : cases) {
        answers[Bytes(kVerify + 1, kVerify + 1 + kVerify[0])] = {uint8_t(c.sw >> 8), uint8_t(c.sw)};
        const bool ok = t.CardCommand(kVerify, nullptr, 0);
        const uint32_t expected = Multi() ? c.multi : c.token;
        EXPECT_EQ(ok, expected == NKI_OK) << std::hex << c.sw;
        EXPECT_EQ(t.LastError, expected) << std::hex << c.sw;
        EXPECT_EQ(t.LastSW, c.sw);
        EXPECT_EQ(t.CheckPinEx(reinterpret_cast<const uint8_t *>("1234"), 4), expected) << std::hex << c.sw;
    }
    EXPECT_EQ(Sent().front(), Bytes(kVerify + 1, kVerify + 14));
}

TEST_P(Exchange, ResponseDataIsCopiedUpToTheLimitWhateverTheStatusWord) {
    TNkiAbs &t = With(Cat({Seq(1, 10), {0x69, 0x82}}));
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_FALSE(t.CardCommand(kVerify, buf, 4));
    EXPECT_EQ(Bytes(buf, buf + 5), Bytes({1, 2, 3, 4, 0xEE}));
    EXPECT_EQ(t.LastDataLength, 10u);

    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_FALSE(t.CardCommand(kVerify, buf, 0));  // no limit
    EXPECT_EQ(Bytes(buf, buf + 11), Cat({Seq(1, 10), {0xEE}}));

    answers[Bytes(kVerify + 1, kVerify + 14)] = kOk;  // status word only: nothing copied
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_TRUE(t.CardCommand(kVerify, buf, 8));
    EXPECT_EQ(Bytes(buf, buf + 16), Bytes(16, 0xEE));
}

TEST_P(Exchange, TransportFaultsGive35) {
    // Shorter than a status word, longer than the 254-byte receive buffer.
    for (const Bytes &bad : {Bytes{}, Bytes{0x90}, Cat({Bytes(253, 0x5A), kOk})}) {
        TNkiAbs &t = With(bad);
        uint8_t buf[300];
        std::memset(buf, 0xEE, sizeof buf);
        EXPECT_FALSE(t.CardCommand(kVerify, buf, 0));
        EXPECT_EQ(t.LastError, NKI_E_CONNECTION_ABORTED);
        EXPECT_EQ(t.LastSW, 0x1111);
        EXPECT_EQ(buf[0], 0xEE);
        t.disconnect();
    }
    TNkiAbs &t = With(Cat({Bytes(252, 0x5A), kOk}));  // the largest answer that fits
    uint8_t buf[252];
    EXPECT_TRUE(t.CardCommand(kVerify, buf, 0));
    EXPECT_EQ(buf[251], 0x5A);

    testpcsc::RemoveCard(kReader);  // removed during the session
    EXPECT_EQ(t.CheckPinEx(nullptr, 0), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(t.Connected, 1);  // the session has to be closed by its owner
}

TEST_P(Exchange, MultiCarrierCountsExchangesInStepsOfTwo) {
    TNkiAbs &t = With(kOk);
    uint8_t block[8];
    uint32_t n = 0;
    if (!Multi()) {
        EXPECT_EQ(t.IoControl(TNkiAbs::IoGetExchangeBlock, nullptr, 0, block, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
        return;
    }
    const uint8_t start[8] = {0xFF, 0xFC, 1, 2, 3, 4, 5, 6};
    ASSERT_EQ(t.IoControl(TNkiAbs::IoSetExchangeBlock, start, 8, nullptr, 0, &n), NKI_OK);
    EXPECT_EQ(n, 0u);
    t.CardCommand(kVerify, nullptr, 0);
    testpcsc::SetFaults(kReader, {.failAtExchange = 9 + 2});  // 9 exchanges at connection
    EXPECT_FALSE(t.CardCommand(kVerify, nullptr, 0));  // failed exchanges count too
    ASSERT_EQ(t.IoControl(TNkiAbs::IoGetExchangeBlock, nullptr, 0, block, 8, &n), NKI_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Bytes(block, block + 8), Bytes({0x00, 0x00, 1, 2, 3, 4, 5, 6}));  // 0xFFFC + 4 wraps
    EXPECT_EQ(t.IoControl(TNkiAbs::IoSetExchangeBlock, start, 7, nullptr, 0, &n), NKI_E_BAD_ARGUMENTS);
}

TOKEN_BOTH_BUILDS(Exchange);

}  // namespace
}  // namespace tokentest
