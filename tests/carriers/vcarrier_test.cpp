// The simulated container card and protected data card, driven APDU by APDU; the
// protected card's channel is driven by the library's channel form, so the two
// independent sides are checked against each other.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../support/temp_dir.h"
#include "card_params.h"
#include "card_state.h"
#include "carriers/container_copy.h"
#include "carriers/secure_channel.h"
#include "vcarrier.h"

namespace {

using vcards::Bytes;

Bytes H(const std::string &hex) {
    Bytes b;
    EXPECT_TRUE(vpcd::ParseHex(hex, b)) << hex;
    return b;
}
uint16_t SwOf(const Bytes &r) { return r.size() < 2 ? 0 : uint16_t(r[r.size() - 2] << 8 | r[r.size() - 1]); }

vcards::Card Fresh(vcards::Kind kind) {
    vcards::CardOptions o;
    o.kind = kind;
    vcards::CardState s;
    std::string error;
    EXPECT_TRUE(vcards::MakeState(o, s, error)) << error;
    return vcards::Card(s);
}

uint16_t Send(vcards::Card &c, const std::string &hex, Bytes *data = nullptr) {
    Bytes r = c.Transmit(H(hex));
    if (data) *data = Bytes(r.begin(), r.end() - 2);
    return SwOf(r);
}

Bytes VerifyCommand(const uint8_t *value8) {
    Bytes v = H("00 20 00 05 08");
    v.insert(v.end(), value8, value8 + 8);
    return v;
}

TEST(VContainerCard, AtrPinFilesAndCounters) {
    auto card = Fresh(vcards::Kind::Container);
    Bytes atr = card.Atr();
    ASSERT_EQ(atr.size(), 16u);
    EXPECT_EQ(atr[8] >> 4, 1) << "kind nibble of a container card";
    EXPECT_EQ(0, std::memcmp(atr.data() + 9, card.state().serial.data() + 2, 6));

    EXPECT_EQ(Send(card, "00 A4 08 00 02 DF 42"), 0x9000);
    Bytes fci;
    EXPECT_EQ(Send(card, "00 A4 00 00 02 00 08 00", &fci), 0x9000);
    ASSERT_GE(fci.size(), 10u);
    EXPECT_EQ(fci[4] << 8 | fci[5], 620);
    EXPECT_EQ(Send(card, "00 D6 00 00 01 AA"), 0x6982) << "the container needs the PIN";
    EXPECT_EQ(Send(card, "40 5A 00 00 00"), 0x6982);

    // The card holds the card value, never the PIN.
    const uint8_t pin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    uint8_t value[8];
    kcar::container::CardValue(pin, value);
    EXPECT_EQ(SwOf(card.Transmit(VerifyCommand(pin))), 0x63C9);
    EXPECT_EQ(SwOf(card.Transmit(VerifyCommand(value))), 0x9000);
    EXPECT_EQ(card.state().refs.at(5).triesLeft, 10) << "a match restores the counter";
    EXPECT_EQ(Send(card, "00 A4 00 00 02 00 08"), 0x9000);
    EXPECT_EQ(Send(card, "00 D6 01 36 02 AA BB"), 0x9000);
    EXPECT_EQ(card.state().files.at(8).data[0x136], 0xAA);
    EXPECT_EQ(Send(card, "00 D6 02 6C 01 AA"), 0x6B00) << "offset past the end";

    Bytes count;
    EXPECT_EQ(Send(card, "40 5A 00 00 00", &count), 0x9000);
    EXPECT_EQ(count, H("00 00 00 01"));
    EXPECT_EQ(Send(card, "00 A4 00 00 02 00 53"), 0x9000);
    EXPECT_EQ(Send(card, "00 B2 01 04 00", &count), 0x9000);
    EXPECT_EQ(count, H("00 00 00 01")) << "the audit record counts the signatures";
    Bytes random;
    EXPECT_EQ(Send(card, "40 84 00 00 00", &random), 0x9000);
    EXPECT_EQ(random.size(), 8u);
    Bytes text;
    EXPECT_EQ(Send(card, "00 B0 84 08 00", &text), 0x9000);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(text.data())), "nki-vcarrier 1.0");
    // The parameter record carries the field degree 191.
    Bytes rec;
    EXPECT_EQ(Send(card, "00 B0 85 00 10", &rec), 0x9000);
    EXPECT_EQ(rec[2] | rec[3] << 8, 191);
}

TEST(VCardState, SavedStateComesBackWhole) {
    testsupport::TempDir dir;
    auto card = Fresh(vcards::Kind::Protected);
    vcards::CardState s = card.state();
    s.signatures = 7;
    s.refs[5].triesLeft = 3;
    s.files[0x0201].data[5] = 0x5A;
    std::string error;
    ASSERT_TRUE(vcards::SaveStateFile(dir.File("card"), s, error)) << error;
    vcards::CardState back;
    ASSERT_EQ(vcards::LoadStateFile(dir.File("card"), back, error), 1) << error;
    EXPECT_EQ(vcards::Serialize(back), vcards::Serialize(s));
    EXPECT_EQ(back.files.at(0x0201).readAc, vcards::kAcChannel);
    EXPECT_EQ(dir.Entries().size(), 1u) << "no temporary file left behind";
    EXPECT_EQ(vcards::LoadStateFile(dir.File("none"), back, error), 0);
}

// Host side of one channel exchange, as the library's carrier does it.
struct Host {
    kcar::SecureChannel ch;
    uint16_t Exchange(vcards::Card &card, const Bytes &command, bool wrap, bool encipher, Bytes *data = nullptr) {
        Bytes sent = wrap ? ch.Wrap(command, encipher) : command;
        Bytes r = card.Transmit(sent);
        ch.Advance();
        if (data) {
            *data = Bytes(r.begin(), r.end() - 2);
            if (wrap && !data->empty()) ch.DecipherAnswer(data->data(), data->size());
        }
        return SwOf(r);
    }
};

TEST(VProtectedCard, ChannelProtectsTheUserFileAndThePin) {
    auto card = Fresh(vcards::Kind::Protected);
    Bytes atr = card.Atr();
    EXPECT_EQ(std::string(atr.begin() + 9, atr.begin() + 15), "CNTRV3");
    EXPECT_EQ(Send(card, "00 A4 08 00 02 DF 42"), 0x9000);
    EXPECT_EQ(Send(card, "80 F2 00 20 00"), 0x9000);
    Bytes cardHalf;
    EXPECT_EQ(Send(card, "80 80 00 00 04 01 02 03 04 00", &cardHalf), 0x9000);
    ASSERT_EQ(cardHalf.size(), 4u);
    Host host;
    const uint8_t time[4] = {1, 2, 3, 4};
    host.ch.Start(cardHalf.data(), time);
    EXPECT_EQ(0, std::memcmp(host.ch.Counter(), card.ChannelCounter(), 8));

    Bytes fci;
    EXPECT_EQ(host.Exchange(card, H("00 A4 00 00 02 02 01 00"), false, false, &fci), 0x9000);
    EXPECT_EQ(fci[8] << 8 | fci[9], 0x8080);
    EXPECT_EQ(host.Exchange(card, H("00 D6 00 00 03 0A 0B 0C"), false, false), 0x9000) << "writes go plain";
    EXPECT_EQ(host.Exchange(card, H("00 B0 00 00 03"), false, false), 0x6982) << "plain reads are refused";
    Bytes data;
    EXPECT_EQ(host.Exchange(card, H("00 B0 00 00 03"), true, false, &data), 0x9000);
    EXPECT_EQ(data, H("0A 0B 0C")) << "the answer deciphers under the response counter";
    EXPECT_EQ(0, std::memcmp(host.ch.Counter(), card.ChannelCounter(), 8)) << "both sides counted alike";

    // A forged MAC is refused and still moves the counter.
    Bytes forged = host.ch.Wrap(H("00 B0 00 00 03"), false);
    forged[7] ^= 1;
    EXPECT_EQ(SwOf(card.Transmit(forged)), 0x6988);
    host.ch.Advance();

    const Bytes verify = H("00 20 00 05 08 31 32 33 34 35 36 37 38");
    EXPECT_EQ(host.Exchange(card, verify, true, true), 0x9000);
    EXPECT_TRUE(card.PinVerified());
    Bytes wrong = verify;
    wrong[12] = '9';
    EXPECT_EQ(host.Exchange(card, wrong, true, true), 0x63C9);
    // PUK mode: a new PIN after the PUK.
    EXPECT_EQ(host.Exchange(card, H("80 24 01 06 10 38 37 36 35 34 33 32 31 41 42 43 44 00 00 00 00"), true, true),
              0x9000);
    EXPECT_EQ(card.state().refs.at(5).value[0], 'A');
    EXPECT_EQ(card.state().refs.at(5).triesLeft, 10);
}

TEST(VCards, InjectedStatusWord) {
    auto card = Fresh(vcards::Kind::Container);
    card.InjectStatus(H("00 D6"), 0x6581);
    EXPECT_EQ(Send(card, "00 D6 00 00 01 00"), 0x6581);
    EXPECT_EQ(Send(card, "00 A4 08 00 02 DF 42"), 0x9000);
}

}  // namespace
