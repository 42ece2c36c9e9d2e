// The protected data card carrier against the simulated card in the in-process
// PC/SC layer: the secure channel's counters and command forms, the one-shot PIN
// permission, the user file, information strings, control codes and a lost card.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "carriers/protected_card_carrier.h"
#include "kcarlib/nki_result.h"
#include "test_pcsc.h"
#include "vcarrier.h"
#include "vcarrier_testpcsc.h"

namespace {

const char kReader[] = "Virtual PCD 00 00";
const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const uint8_t kPuk[8] = {'8', '7', '6', '5', '4', '3', '2', '1'};
const uint8_t kOther[8] = {'9', '9', 0, 0, 0, 0, 0, 0};

class ProtectedCard : public ::testing::Test {
protected:
    std::unique_ptr<vcards::Card> card;
    kcar::ProtectedCardCarrier s;

    void Insert(vcards::CardOptions o = {}) {
        o.kind = vcards::Kind::Protected;
        vcards::CardState st;
        std::string error;
        ASSERT_TRUE(vcards::MakeState(o, st, error)) << error;
        card = std::make_unique<vcards::Card>(st);
        testpcsc::Reset();
        testpcsc::AddReader(kReader);
        testpcsc::InsertCard(kReader, vcards::TestCard(*card));
        ASSERT_EQ(s.OpenCard(""), NKI_OK);
    }
    void TearDown() override {
        s.Close();
        testpcsc::Reset();
    }
    std::size_t SentCount() { return testpcsc::Sent(kReader).size(); }
    uint16_t CounterWord() {
        uint8_t c[8];
        uint32_t n = 0;
        EXPECT_EQ(s.IoControl(0x222074, nullptr, 0, c, 8, &n), NKI_OK);
        return uint16_t(c[0] << 8 | c[1]);
    }
    void Permit() {
        uint32_t n = 0;
        ASSERT_EQ(s.IoControl(0x227004, nullptr, 0, nullptr, 0, &n), NKI_OK);
    }
};

TEST_F(ProtectedCard, OpeningStartsTheChannel) {
    Insert();
    EXPECT_EQ(s.Flags(), 0x31u);
    EXPECT_EQ(s.State(), 0xC0000031u);
    EXPECT_EQ(std::memcmp(s.Serial(), card->state().serial.data(), 8), 0);
    EXPECT_EQ(std::memcmp(s.Channel().Counter(), card->ChannelCounter(), 8), 0) << "host and card count alike";
    EXPECT_EQ(s.UserFileSize(), 1024u);
}

TEST_F(ProtectedCard, PinCheckNeedsTheOneShotPermission) {
    Insert();
    std::size_t before = SentCount();
    EXPECT_EQ(s.CheckPin(kOther), NKI_OK);
    EXPECT_EQ(SentCount(), before) << "no command without the permission";
    Permit();
    std::string flag;
    ASSERT_EQ(s.InfoString(6, flag), NKI_OK);
    EXPECT_EQ(flag, std::string(1, '\x01'));
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    ASSERT_EQ(SentCount(), before + 1);
    const auto verify = testpcsc::Sent(kReader).back();
    ASSERT_EQ(verify.size(), 17u) << "Lc 12: the enciphered PIN and the MAC";
    EXPECT_EQ(verify[0], 0x04);
    EXPECT_EQ(verify[4], 12);
    EXPECT_NE(std::memcmp(verify.data() + 5, kPin, 8), 0) << "the PIN never travels in clear";
    EXPECT_TRUE(card->PinVerified());
    EXPECT_EQ(s.State() & 0x20000000, 0x20000000u);
    EXPECT_EQ(s.CheckPin(kOther), NKI_OK) << "the permission is used up";
    EXPECT_EQ(SentCount(), before + 1);
    Permit();
    EXPECT_EQ(s.CheckPin(kOther), NKI_E_INVALID_PIN_BASE + 9);
}

TEST_F(ProtectedCard, UserFileThroughTheChannel) {
    Insert();
    uint8_t data[200];
    for (int i = 0; i < 200; ++i) data[i] = uint8_t(i * 3 + 1);
    data[150] = 0x77;
    ASSERT_EQ(s.WriteUserFile(10, data, sizeof data), NKI_OK);
    EXPECT_EQ(card->state().files.at(0x0201).data[160], 0x77);
    uint8_t back[200];
    uint16_t w0 = CounterWord();
    ASSERT_EQ(s.ReadUserFile(10, back, sizeof back), NKI_OK);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    // SELECT, then three pieces of at most 96 bytes: four exchanges.
    EXPECT_EQ(uint16_t(CounterWord() - w0), 8);
    const auto sent = testpcsc::Sent(kReader);
    ASSERT_GE(sent.size(), 3u);
    const auto &r1 = sent[sent.size() - 2], &r2 = sent.back();
    ASSERT_EQ(r1.size(), 11u) << "CLA INS P1 P2 05 Le MAC 00";
    EXPECT_EQ(r1[0], 0x04);
    EXPECT_NE(std::memcmp(r1.data() + 6, r2.data() + 6, 4), 0) << "successive counters give different MACs";
    EXPECT_EQ(s.WriteUserFile(1000, data, 30), NKI_E_NO_SPACE);
    EXPECT_EQ(s.ReadUserFile(1024, back, 1), NKI_E_NO_SPACE);

    // A raw command through control moves the counter too.
    w0 = CounterWord();
    const uint8_t serial[] = {0x80, 0xF6, 0x00, 0x00, 0x08};
    uint8_t out[16];
    uint32_t n = 0;
    ASSERT_EQ(s.IoControl(0x22204C, serial, 5, out, sizeof out, &n), NKI_OK);
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(uint16_t(CounterWord() - w0), 2);
    ASSERT_EQ(s.IoControl(0x222070, nullptr, 0, out, 2, &n), NKI_OK);
    EXPECT_EQ(out[0] << 8 | out[1], 0x9000);
    // A counter out of step with the card makes its MACs fail.
    uint8_t counter[8] = {};
    ASSERT_EQ(s.IoControl(0x222078, counter, 8, nullptr, 0, &n), NKI_OK);
    EXPECT_EQ(s.ReadUserFile(0, back, 4), NKI_E_DEVICE_CORRUPTED);
}

TEST_F(ProtectedCard, PinChangeModes) {
    vcards::CardOptions o;
    o.userFileNeedsChannel = false;
    Insert(o);
    EXPECT_EQ(s.Flags() & 0x20, 0u);
    EXPECT_EQ(s.ChangePin(kPin, kOther, 3), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(s.ChangePin(kOther, kOther, 1), NKI_E_INVALID_PUK_BASE + 9) << "a wrong PUK";
    ASSERT_EQ(s.ChangePin(kPuk, kOther, 2), NKI_OK) << "a new PIN after the PUK";
    EXPECT_EQ(s.CheckPin(kPin), NKI_E_INVALID_PIN_BASE + 9);
    EXPECT_EQ(s.CheckPin(kOther), NKI_OK);
    ASSERT_EQ(s.ChangePin(kOther, kPin, 0), NKI_OK);
    EXPECT_EQ(s.CheckPin(kPin), NKI_OK);
    ASSERT_EQ(s.ForgetPin(), NKI_OK);
    EXPECT_FALSE(card->PinVerified());
}

TEST_F(ProtectedCard, WithoutTheChannelThePinGoesPlain) {
    vcards::CardOptions o;
    o.channel = false;
    o.userFileNeedsChannel = false;
    Insert(o);
    EXPECT_EQ(s.Flags(), 0x01u);
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    const auto verify = testpcsc::Sent(kReader).back();
    EXPECT_EQ(verify.size(), 13u);
    EXPECT_EQ(std::memcmp(verify.data() + 5, kPin, 8), 0);
}

TEST_F(ProtectedCard, InformationControlAndLoss) {
    Insert();
    std::string text;
    ASSERT_EQ(s.InfoString(4, text), NKI_OK);
    EXPECT_EQ(text, kReader);
    ASSERT_EQ(s.InfoString(5, text), NKI_OK);
    EXPECT_EQ(text, "nki-vcarrier 1.0");
    EXPECT_EQ(s.InfoString(7, text), NKI_E_OUT_OF_RANGE);
    uint8_t out[8];
    uint32_t n = 0;
    ASSERT_EQ(s.IoControl(0x22203C, nullptr, 0, out, 8, &n), NKI_OK);
    EXPECT_EQ(out[0] | out[1] << 8, 260);
    EXPECT_EQ(s.IoControl(0x222044, nullptr, 0, out, 8, &n), NKI_E_UNSUPPORTED_FUNCTION);
    testpcsc::RemoveCard(kReader);
    uint8_t back[4];
    EXPECT_EQ(s.ReadUserFile(0, back, 4), NKI_E_CONNECTION_ABORTED);
    EXPECT_FALSE(s.Open());
}

}  // namespace
