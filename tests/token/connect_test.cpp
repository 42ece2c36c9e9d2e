// Connection and the token's start sequence.
#include "token_fixture.h"

#include <algorithm>
#include <cstring>

namespace tokentest {
namespace {

using Connect = BothBuilds;

TEST_P(Connect, StartSequenceSendsExactlyTheseCommands) {
    Insert(TokenImage{});
    TNkiAbs t(GetParam());
    ASSERT_EQ(t.connect(kReader), NKI_OK);
    std::vector<Bytes> expected = {
        {0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42, 0x01},
        {0x00, 0xB0, 0x84, 0x00, 0x04},
        {0x80, 0xF6, 0x00, 0x00, 0x08},
        Select(0x0201, 0x00),
        Select(0x0202, 0x00),
    };
    if (!Multi()) expected.push_back(Select(0x0203, 0x00));
    expected.push_back(Select(0x000A, 0x00));
    expected.push_back(Select(0x0009, 0x00));
    if (Multi()) {
        expected.push_back({0x00, 0xB0, 0x85, 0x00, 0x6A});
        expected.push_back({0x00, 0xB0, 0x85, 0x6A, 0x62});
    } else {
        expected.push_back({0x00, 0xB0, 0x85, 0x00, 0x60});
        expected.push_back({0x00, 0xB0, 0x00, 0x60, 0x60});
        expected.push_back({0x00, 0xB0, 0x00, 0xC0, 0x0C});
    }
    EXPECT_EQ(Sent(), expected);

    EXPECT_EQ(t.Connected, 1);
    EXPECT_EQ(Bytes(t.Serial, t.Serial + 8), TokenImage{}.serial);
    EXPECT_EQ(t.ContainerSize[0], 1000u);
    EXPECT_EQ(t.ContainerSize[1], 2000u);
    EXPECT_EQ(t.ContainerSize[2], Multi() ? 0u : 300u);
    EXPECT_EQ(t.KeySlots, 3u);
    EXPECT_EQ(t.FieldDegree, 191u);
    EXPECT_EQ(t.SignSize, 48u);
    EXPECT_EQ(t.AuthChallengeSize, 8u);
    EXPECT_EQ(t.AuthResponseSize, 64u);
    EXPECT_EQ(t.Caps, TNkiAbs::CapCurveLoaded | TNkiAbs::CapStatusBit);
    EXPECT_EQ(t.LastError, NKI_OK);

    // B-root x^96 became B = x^10 + x; Px and Py are now least significant byte
    // first; N, IV and S-box stay as stored.
    const Bytes stored = StoredCurve();
    Bytes b(24, 0);
    b[0] = 0x02;
    b[1] = 0x04;
    EXPECT_EQ(Bytes(t.CurveRecord + 10, t.CurveRecord + 34), b);
    Bytes px = Slice(stored, 58, 24), py = Slice(stored, 82, 24);
    std::reverse(px.begin(), px.end());
    std::reverse(py.begin(), py.end());
    EXPECT_EQ(Bytes(t.CurveRecord + 58, t.CurveRecord + 82), px);
    EXPECT_EQ(Bytes(t.CurveRecord + 82, t.CurveRecord + 106), py);
    EXPECT_EQ(Bytes(t.CurveRecord + 34, t.CurveRecord + 58), Slice(stored, 34, 24));
    EXPECT_EQ(Bytes(t.CurveRecord + 106, t.CurveRecord + 204), Slice(stored, 106, 98));

    EXPECT_EQ(testpcsc::OpenCards(), 1);
    t.disconnect();
    EXPECT_EQ(t.Connected, 0);
    EXPECT_EQ(testpcsc::OpenContexts(), 0);
}

TEST_P(Connect, CapabilityBitsFromTheStatusFile) {
    struct Case {
        Bytes status;
        uint64_t caps;
    } cases[] = {
        {{0x01, 0x08, 0x00, 0x00}, 0x01 | 0x02 | 0x40},
        {{0x01, 0x09, 0x00, 0x00}, 0x01 | 0x02},
        {{0x01, 0x08, 0x08, 0x00}, 0x01 | 0x40},
        {{0x00, 0x00, 0xF7, 0xFF}, 0x01 | 0x02},
    };
    for (const Case &c : cases) {
        TokenImage image;
        image.status = c.status;
        Insert(image);
        TNkiAbs t(GetParam());
        ASSERT_EQ(t.connect(kReader), NKI_OK);
        EXPECT_EQ(t.Caps, c.caps) << testing::PrintToString(c.status);
        t.disconnect();
    }
}

TEST_P(Connect, MissingFiles) {
    {
        TokenImage image;  // no container 3 and no file 000A: still a token
        image.files.erase(0x0203);
        image.files.erase(0x000A);
        Insert(image);
        TNkiAbs t(GetParam());
        ASSERT_EQ(t.connect(kReader), NKI_OK);
        EXPECT_EQ(t.ContainerSize[2], 0u);
        EXPECT_EQ(t.ContainerSize[1], 2000u);
        t.disconnect();
    }
    {
        TokenImage image;  // no key file: refused
        image.files.erase(0x0009);
        answers.clear();
        Insert(image);
        TNkiAbs t(GetParam());
        EXPECT_EQ(t.connect(kReader), NKI_E_NOT_CONNECTED);
        EXPECT_EQ(t.Connected, 0);
        EXPECT_EQ(testpcsc::OpenContexts(), 0);
    }
}

// Curve records: which are refused and with what, per build.
TEST_F(TokenFixture, CurveRecordAcceptance) {
    struct Case {
        TokenBuild build;
        uint8_t b0, b7, b8;
        uint32_t rc;
        bool curveLoaded;
    } cases[] = {
        {TokenBuild::Token, 0xBF, 2, 1, NKI_OK, true},
        {TokenBuild::Token, 0xBF, 2, 0, NKI_OK, true},  // byte 8 is not checked here
        {TokenBuild::Token, 0xBE, 2, 1, NKI_E_NOT_CONNECTED, false},
        {TokenBuild::Token, 0xBF, 3, 1, NKI_E_NOT_CONNECTED, false},
        {TokenBuild::Token, 0x00, 2, 1, NKI_E_NOT_CONNECTED, false},
        {TokenBuild::Token, 0xFF, 0xFF, 0xFF, NKI_E_NOT_CONNECTED, false},
        {TokenBuild::MultiCarrier, 0xBF, 2, 1, NKI_OK, true},
        {TokenBuild::MultiCarrier, 0xBF, 2, 0, NKI_E_UNSUPPORTED_DS, false},
        {TokenBuild::MultiCarrier, 0xA3, 2, 1, NKI_E_UNSUPPORTED_DS, false},
        {TokenBuild::MultiCarrier, 0xBF, 1, 1, NKI_E_UNSUPPORTED_DS, false},
        {TokenBuild::MultiCarrier, 0x00, 0, 0, NKI_OK, false},  // a token without a curve
        {TokenBuild::MultiCarrier, 0xFF, 0xFF, 0xFF, NKI_OK, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.build == TokenBuild::Token ? "Token " : "Multi ") << std::hex
                                        << int(c.b0) << " " << int(c.b7) << " " << int(c.b8));
        TokenImage image;
        image.curve[0] = c.b0;
        image.curve[7] = c.b7;
        image.curve[8] = c.b8;
        answers.clear();
        Insert(image);
        TNkiAbs t(c.build);
        ASSERT_EQ(t.connect(kReader), c.rc);
        EXPECT_EQ(testpcsc::OpenContexts(), c.rc == NKI_OK ? 1 : 0);
        if (c.rc != NKI_OK) continue;
        EXPECT_EQ((t.Caps & TNkiAbs::CapCurveLoaded) != 0, c.curveLoaded);
        uint8_t out[64];
        EXPECT_EQ(t.GetDsaParams(2, out), c.curveLoaded ? NKI_OK : NKI_E_NOT_INITIALIZED);
        if (!c.curveLoaded) {  // stored as read, nothing converted
            EXPECT_EQ(Bytes(t.CurveRecord, t.CurveRecord + 204), image.curve);
        }
        t.disconnect();
    }
}

TEST_P(Connect, FailuresLeaveNothingOpen) {
    Insert(TokenImage{});
    TNkiAbs t0(GetParam());
    EXPECT_EQ(t0.connect("No Such Reader"), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(t0.connect(nullptr), NKI_E_NOT_CONNECTED);

    testpcsc::SetServiceRunning(false);
    TNkiAbs t1(GetParam());
    EXPECT_EQ(t1.connect(kReader), NKI_E_NOT_CONNECTED);
    testpcsc::SetServiceRunning(true);

    const testpcsc::Faults faults[] = {
        {.failAtExchange = 3},                        // transmit fails on the serial number
        {.shortAtExchange = 2, .shortLength = 1},     // one-byte answer to the status read
        {.shortAtExchange = 9, .shortLength = 50},    // a curve chunk cut short
        {.removeAtExchange = 8},                      // card pulled
    };
    for (const auto &f : faults) {
        Insert(TokenImage{});  // re-insertion restarts the exchange count
        testpcsc::SetFaults(kReader, f);
        TNkiAbs t(GetParam());
        EXPECT_NE(t.connect(kReader), NKI_OK);
        EXPECT_EQ(t.Connected, 0);
        EXPECT_EQ(testpcsc::OpenContexts(), 0);
        EXPECT_EQ(testpcsc::OpenCards(), 0);
    }

    TokenImage shortSerial;  // 90 00 after 4 bytes: not a serial number
    shortSerial.serial.resize(4);
    answers.clear();
    Insert(shortSerial);
    TNkiAbs t(GetParam());
    EXPECT_EQ(t.connect(kReader), NKI_E_NOT_CONNECTED);
    EXPECT_EQ(Bytes(t.Serial, t.Serial + 8), Bytes(8, 0));
}

TOKEN_BOTH_BUILDS(Connect);

}  // namespace
}  // namespace tokentest
