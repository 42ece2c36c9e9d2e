// I/O-control codes of both builds.
#include "token_fixture.h"

#include <cstring>

namespace tokentest {
namespace {

const Bytes kQuery5 = {0x80, 0xF2, 0x00, 0x05, 0x01};
const Bytes kQuery6 = {0x80, 0xF2, 0x00, 0x06, 0x01};

TEST_F(TokenFixture, TokenBuildPassesOnlyRetryCounterQueries) {
    TNkiAbs &t = Connected(TokenBuild::Token);
    answers[kQuery5] = {0x03, 0x90, 0x00};
    answers[kQuery6] = {0x0A, 0x90, 0x00};
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    uint32_t n = 99;
    ASSERT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, kQuery5.data(), 5, out, 0, &n), NKI_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(Bytes(out, out + 2), Bytes({0x03, 0xEE}));
    ASSERT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, kQuery6.data(), 5, out, 0, &n), NKI_OK);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{kQuery5, kQuery6}));

    testpcsc::ClearSent(kReader);
    const Bytes other = {0x80, 0xF2, 0x00, 0x07, 0x01};
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, other.data(), 5, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, kQuery5.data(), 4, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, nullptr, 5, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
    EXPECT_TRUE(Sent().empty());

    answers[kQuery5] = {0x90, 0x00};  // no counter byte in the answer
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, kQuery5.data(), 5, out, 8, &n), NKI_E_DEVICE_CORRUPTED);
    answers[kQuery5] = {0x6A, 0x88};
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, kQuery5.data(), 5, out, 8, &n), NKI_E_DEVICE_CORRUPTED);

    n = 99;
    ASSERT_EQ(t.IoControl(TNkiAbs::IoVersionInfo, nullptr, 0, out, 0, &n), NKI_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Bytes(out, out + 8), Bytes({0x05, 0x01, 0, 0, 0, 0, 0, 0}));

    n = 99;
    for (uint32_t code : {0x222074u, 0x222078u, 0x222000u}) {
        EXPECT_EQ(t.IoControl(code, out, 8, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
        EXPECT_EQ(n, 99u);  // not written
    }
    EXPECT_EQ(t.IoControl(TNkiAbs::IoVersionInfo, nullptr, 0, nullptr, 8, &n), NKI_E_BAD_ARGUMENTS);
}

TEST_F(TokenFixture, MultiCarrierPassesAnyCommandAndAnswersItWhole) {
    TNkiAbs &t = Connected(TokenBuild::MultiCarrier);
    const Bytes raw = {0x00, 0xCA, 0x01, 0x02, 0x00};
    answers[raw] = Cat({Seq(0x10, 20), kOk});
    uint8_t out[32];
    std::memset(out, 0xEE, sizeof out);
    uint32_t n = 99;
    ASSERT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, raw.data(), 5, out, sizeof out, &n), NKI_OK);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(Bytes(out, out + 21), Cat({Seq(0x10, 20), {0xEE}}));
    EXPECT_EQ(Sent(), std::vector<Bytes>{raw});

    // An answer larger than the caller's buffer is not written past it.
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, raw.data(), 5, out, 19, &n), NKI_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(out[0], 0xEE);

    n = 99;
    ASSERT_EQ(t.IoControl(TNkiAbs::IoVersionInfo, nullptr, 0, out, 8, &n), NKI_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Bytes(out, out + 8), Bytes({0x04, 0x01, 0, 0, 3, 0, 0, 0}));

    n = 99;
    EXPECT_EQ(t.IoControl(0x222000, nullptr, 0, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(n, 0u);  // cleared before any code is handled
    EXPECT_EQ(t.IoControl(TNkiAbs::IoQueryPassThrough, raw.data(), 3, out, 8, &n), NKI_E_BAD_ARGUMENTS);
}

TEST_F(TokenFixture, IoControlNeedsAConnection) {
    for (TokenBuild build : {TokenBuild::Token, TokenBuild::MultiCarrier}) {
        TNkiAbs t(build);
        uint8_t out[8];
        uint32_t n = 99;
        EXPECT_EQ(t.IoControl(TNkiAbs::IoLastStatusWord, nullptr, 0, out, 8, &n), NKI_E_INVALID_CONTEXT);
        EXPECT_EQ(n, build == TokenBuild::Token ? 99u : 0u);
    }
}

}  // namespace
}  // namespace tokentest
