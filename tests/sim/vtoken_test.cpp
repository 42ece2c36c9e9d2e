// The simulated token's command set, file system, reference data and robustness,
// driven by raw APDUs.
#include <gtest/gtest.h>

#include <random>

#include "sim_support.h"

namespace {

using namespace simtest;

std::string Zeros(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "00 ";
    return s;
}

TEST(VToken, AtrCarriesKindAndSerialAndOffersOnlyT1) {
    vtoken::TokenOptions o;
    o.serial = {0x11, 0x22, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
    vtoken::Token t(FreshState(o));
    Bytes atr = t.Atr();
    ASSERT_EQ(atr.size(), 16u);
    EXPECT_EQ(Bytes(atr.begin(), atr.begin() + 9), H("3B B7 94 00 81 31 FE 65 20"));
    EXPECT_EQ(Bytes(atr.begin() + 9, atr.begin() + 15), H("A1 B2 C3 D4 E5 F6"));
    uint8_t x = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) x ^= atr[i];
    EXPECT_EQ(x, 0) << "TCK";
    Bytes serial;
    Send(t, "80 F6 00 00 08", &serial);
    EXPECT_EQ(serial, H("11 22 A1 B2 C3 D4 E5 F6"));
}

// Both host parsers: size at bytes 4-5 (and after the first 80 02), access
// conditions at bytes 8-9 after 86 at byte 6; the key file reports slots x 256.
TEST(VToken, FileInformationFitsBothParsers) {
    vtoken::TokenOptions o;
    o.containerSizes = {300, 0x1234, 0};
    o.keySlots = 3;
    vtoken::Token t(FreshState(o));
    EXPECT_EQ(Send(t, "00 A4 08 00 02 DF 42 01"), 0x9000);
    struct Case {
        const char *fid;
        uint16_t size, ac;
    } cases[] = {{"02 01", 300, 0x0005}, {"02 02", 0x1234, 0x0005}, {"00 09", 0x0300, 0x00FF},
                 {"00 05", 204, 0x00FF}, {"00 04", 32, 0x00FF}};
    for (const Case &c : cases) {
        Bytes info;
        ASSERT_EQ(Send(t, std::string("00 A4 00 00 02 ") + c.fid + " 00", &info), 0x9000) << c.fid;
        ASSERT_GE(info.size(), 10u);
        EXPECT_EQ(info[4] << 8 | info[5], c.size) << c.fid;
        EXPECT_EQ(info[6], 0x86);
        EXPECT_EQ(info[8] << 8 | info[9], c.ac) << c.fid;
        std::size_t at = 0;
        while (at + 1 < info.size() && !(info[at] == 0x80 && info[at + 1] == 0x02)) ++at;
        ASSERT_LT(at + 3, info.size());
        EXPECT_EQ(info[at + 2] << 8 | info[at + 3], c.size) << c.fid;
    }
    EXPECT_EQ(Send(t, "00 A4 00 00 02 02 03 00"), 0x6A82) << "container of size 0 is absent";
    Bytes none;
    EXPECT_EQ(Send(t, "00 A4 00 00 02 02 01 01", &none), 0x9000);
    EXPECT_TRUE(none.empty()) << "Le 01 selects without file information";
}

TEST(VToken, ReadsStatusAndCurveRecordAsTheHostDoes) {
    vtoken::Token t(FreshState());
    Bytes status, a, b, c, text;
    EXPECT_EQ(Send(t, "00 A4 08 00 02 DF 42 01"), 0x9000);
    EXPECT_EQ(Send(t, "00 B0 84 00 04", &status), 0x9000);
    EXPECT_EQ(status, H("01 09 00 00"));
    EXPECT_EQ(Send(t, "00 B0 84 08 00", &text), 0x9000) << "Le 00 reads to the end";
    EXPECT_EQ(std::string(text.begin(), text.end()).c_str(), std::string("nki-vtoken 1.0"));
    EXPECT_EQ(Send(t, "00 B0 85 00 60", &a), 0x9000);
    EXPECT_EQ(Send(t, "00 B0 00 60 60", &b), 0x9000);
    EXPECT_EQ(Send(t, "00 B0 00 C0 0C", &c), 0x9000);
    Bytes record = a;
    record.insert(record.end(), b.begin(), b.end());
    record.insert(record.end(), c.begin(), c.end());
    EXPECT_EQ(record, t.state().files.at(vtoken::kCurveFile));
    // The other build's two pieces.
    EXPECT_EQ(Send(t, "00 B0 85 00 6A", &a), 0x9000);
    EXPECT_EQ(Send(t, "00 B0 85 6A 62", &b), 0x9000);
    EXPECT_EQ(a.size() + b.size(), 204u);
}

// Malformed and misaddressed commands: a status word, never a crash or data.
TEST(VToken, MalformedCommandsGetIsoStatusWords) {
    struct Case {
        std::string apdu;
        uint16_t sw;
    } cases[] = {
        {"00 A4 08", 0x6700},                          // shorter than a header
        {"00 A4 00 00 03 02 01", 0x6700},              // Lc above the data
        {"00 A4 00 00 01 02 01", 0x6700},              // one identifier byte (and Le)
        {"00 A4 00 00 00", 0x6700},                    // Le only: no file named
        {"00 A4 00 00 00 02 01", 0x6700},              // Lc 0 (extended length)
        {"00 A4 00 00 03 02 01 00", 0x6700},           // odd identifier length
        {"00 A4 05 00 02 02 01", 0x6A86},              // unknown selection mode
        {"00 A4 00 00 02 12 34", 0x6A82},              // no such file
        {"00 FF 00 00", 0x6D00},                       // unknown instruction
        {"80 A4 00 00 02 02 01", 0x6E00},              // known instruction, wrong class
        {"00 B0 00 00 04", 0x6986},                    // no current file
        {"00 B0 84 00", 0x6700},                       // READ BINARY without Le
        {"00 B0 E4 00 04", 0x6A86},                    // P1 bits 6-5 set with a short identifier
        {"00 B0 84 20 04", 0x6B00},                    // offset at the end of the status file
        {"00 B0 84 1E 04", 0x6282},                    // fewer bytes left than Le
        {"00 B0 84 00 FD", 0x6700},                    // Le above what one answer carries
        {"00 B0 89 00 04", 0x6981},                    // the key file is a record file
        {"00 B0 9E 00 04", 0x6A82},                    // no file with that short identifier
        {"00 D6 84 00 01 00", 0x6985},                 // the status file is read-only
        {"00 D6 84 00", 0x6700},                       // UPDATE BINARY without data
        {"00 B2 00 4C 00", 0x6A83},                    // record 0
        {"00 B2 03 4C 00", 0x6A83},                    // beyond the key slots
        {"00 B2 01 4D 00", 0x6A86},                    // P2 not a record-number reference
        {"00 B2 01 2C 00", 0x6981},                    // READ RECORD of a transparent file
        {"00 B2 01 4C 10", 0x6C30},                    // Le shorter than the record
        {"00 20 00 05 07 31 32 33 34 35 36 37", 0x6700},  // PIN block of 7 bytes
        {"00 20 00 07 08 31 32 33 34 35 36 37 38", 0x6A88},  // unknown reference
        {"00 20 01 05 08 31 32 33 34 35 36 37 38", 0x6A86},
        {"80 24 02 05 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 0x6A86},
        {"80 24 00 05 08 31 32 33 34 35 36 37 38", 0x6700},
        {"80 E0 00 00", 0x6A86},
        {"80 F2 00 07 01", 0x6A88},
        {"80 F6 00 00 04", 0x6C08},
        {"00 84 00 00 21", 0x6700},
        {"40 4A 03 00", 0x6A86},                       // key number beyond the slots
        {"40 4A 01 02", 0x6A86},
        {"40 52 00 00 10 " + Zeros(16) + "00", 0x6700},
        {"40 56 FF 00 30 " + Zeros(48) + "00", 0x6A86},  // no key number 0 on this token
        {"40 54 00 00 08 00 00 00 00 00 00 00 00 00", 0x6700},
    };
    vtoken::Token t(FreshState());
    for (const Case &c : cases) {
        t.PowerOn();
        if (c.apdu.rfind("00 B0 00", 0) != 0) Send(t, "00 A4 08 00 02 DF 42 01");
        Bytes r = t.Transmit(H(c.apdu));
        EXPECT_EQ(SwOf(r), c.sw) << c.apdu;
        if (c.sw != 0x6282) {
            EXPECT_EQ(r.size(), 2u) << c.apdu;
        }
    }
}

TEST(VToken, RandomCommandsNeverBreakTheToken) {
    vtoken::Token t(FreshState());
    std::mt19937 rng(4145);
    const uint8_t classes[] = {0x00, 0x40, 0x80, 0xFF};
    const uint8_t ins[] = {0xA4, 0xB0, 0xD6, 0xB2, 0x20, 0x84, 0x24, 0xE0, 0xF2, 0xF6, 0x4A, 0x4C, 0x52, 0x50, 0x58,
                           0x56, 0x54, 0x00};
    Send(t, kVerifyDefault);
    for (int i = 0; i < 20000; ++i) {
        Bytes apdu(rng() % 80);
        for (auto &b : apdu) b = static_cast<uint8_t>(rng());
        if (apdu.size() >= 2) {
            apdu[0] = classes[rng() % 4];
            apdu[1] = ins[rng() % sizeof ins];
        }
        if (apdu.size() > 5 && rng() % 2) apdu[4] = static_cast<uint8_t>(apdu.size() - 5 - rng() % 2);
        Bytes r = t.Transmit(apdu);
        ASSERT_GE(r.size(), 2u);
        ASSERT_LE(r.size(), 254u);
        if (i % 500 == 0) t.PowerOn();
    }
    EXPECT_EQ(Send(t, "00 A4 08 00 02 DF 42 01"), 0x9000);
}

TEST(VToken, PinRetryCounterBlocksAndResets) {
    vtoken::Token t(FreshState());
    const char *wrong = "00 20 00 05 08 31 31 31 31 00 00 00 00";
    EXPECT_EQ(Send(t, wrong), 0x63C9);
    EXPECT_EQ(Send(t, "00 20 00 05"), 0x63C9) << "VERIFY without data reports the counter";
    Bytes tries;
    EXPECT_EQ(Send(t, "80 F2 00 05 01", &tries), 0x9000);
    EXPECT_EQ(tries, H("09"));
    EXPECT_EQ(Send(t, kVerifyDefault), 0x9000);
    EXPECT_EQ(Send(t, "00 20 00 05"), 0x9000);
    EXPECT_EQ(t.state().ref5.triesLeft, 10) << "a match restores the counter";

    for (int left = 9; left >= 0; --left) EXPECT_EQ(Send(t, wrong), 0x63C0 + left);
    EXPECT_FALSE(t.PinVerified()) << "a failed VERIFY drops the verified state";
    EXPECT_EQ(Send(t, wrong), 0x6983);
    EXPECT_EQ(Send(t, kVerifyDefault), 0x6983) << "blocked: even the right PIN is refused";
    EXPECT_EQ(Send(t, "00 20 00 05"), 0x6983);
    EXPECT_EQ(Send(t, "40 4A 01 00"), 0x6982);
}

TEST(VToken, KeyCommandsAndWritesNeedTheVerifiedPin) {
    vtoken::Token t(FreshState());
    const char *protectedCommands[] = {
        "40 4A 01 00", "40 4A 01 01", "40 4C 00 00",
        "40 52 00 00 20 0000000000000000000000000000000000000000000000000000000000000000 00",
        "40 50 01 00 20 0000000000000000000000000000000000000000000000000000000000000000 00",
        "40 58 00 00 08 0102030405060708 00",
        "40 54 00 00 46 2000 00000000 "
        "0000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000 00",
    };
    Send(t, "00 A4 08 00 02 DF 42 01");
    for (const char *c : protectedCommands) EXPECT_EQ(Send(t, c), 0x6982) << c;
    EXPECT_EQ(Send(t, "00 A4 00 00 02 02 01 01"), 0x9000);
    EXPECT_EQ(Send(t, "00 D6 00 00 02 AB CD"), 0x6982);

    EXPECT_EQ(Send(t, kVerifyDefault), 0x9000);
    EXPECT_EQ(Send(t, "00 D6 01 2B 02 AB CD"), 0x9000);
    EXPECT_EQ(Send(t, "00 D6 0F FF 02 AB CD"), 0x6A84) << "past the end of the container";
    EXPECT_EQ(t.state().files.at(0x0201)[299], 0xAB);
    EXPECT_EQ(t.state().files.at(0x0201)[300], 0xCD);
    EXPECT_EQ(Send(t, "40 52 00 00 20 0000000000000000000000000000000000000000000000000000000000000000 00"), 0x980D)
        << "no key in slot 1 yet";

    EXPECT_EQ(Send(t, "80 E0 02 00"), 0x9000);
    EXPECT_EQ(Send(t, "00 D6 00 00 01 00"), 0x6982) << "forgotten";
    Send(t, kVerifyDefault);
    t.PowerOff();
    EXPECT_EQ(Send(t, "40 4A 01 00"), 0x6982) << "power off ends the verified state";
}

TEST(VToken, ChangeReferenceData) {
    vtoken::Token t(FreshState());
    // Reference 5: old 12345678, new 1111.
    EXPECT_EQ(Send(t, "80 24 00 05 10 3132333435363738 3131313100000000"), 0x9000);
    EXPECT_EQ(Send(t, kVerifyDefault), 0x63C9);
    EXPECT_EQ(Send(t, "00 20 00 05 08 3131313100000000"), 0x9000);
    // Reference 6 with its own old value, then with reference 5 as the authority.
    EXPECT_EQ(Send(t, "80 24 00 06 10 0000000000000000 4141414100000000"), 0x63C9);
    EXPECT_EQ(Send(t, "80 24 00 06 10 3837363534333231 4141414100000000"), 0x9000);
    EXPECT_EQ(Send(t, "80 24 01 06 10 3131313100000000 4242424200000000"), 0x9000);
    EXPECT_EQ(t.state().ref6.value, (std::array<uint8_t, 8>{0x42, 0x42, 0x42, 0x42, 0, 0, 0, 0}));
    EXPECT_EQ(Send(t, "80 24 01 06 10 0000000000000000 4343434300000000"), 0x63C9)
        << "a wrong reference 5 counts against reference 5";
    EXPECT_EQ(t.state().ref5.triesLeft, 9);
    EXPECT_EQ(t.state().ref6.triesLeft, 10);
}

TEST(VToken, KeyFileRecordsShowEmptySlots) {
    vtoken::Token t(FreshState());
    Bytes record;
    Send(t, "00 A4 08 00 02 DF 42 01");
    EXPECT_EQ(Send(t, "00 B2 02 4C 00", &record), 0x9000);
    EXPECT_EQ(record, Bytes(48, 0xFF));
    // Record 1 of the file selected just before (the other build's form).
    EXPECT_EQ(Send(t, "00 A4 00 00 02 00 09 00"), 0x9000);
    EXPECT_EQ(Send(t, "00 B2 01 04 00", &record), 0x9000);
    EXPECT_EQ(record, Bytes(48, 0xFF));
}

TEST(VToken, EveryChangeIsSavedBeforeItIsAnswered) {
    std::vector<vtoken::State> saved;
    bool failSaves = false;
    vtoken::Token t(FreshState(), [&](const vtoken::State &s) {
        if (failSaves) return false;
        saved.push_back(s);
        return true;
    });
    // A wrong PIN: the decreased counter is saved before the comparison.
    Send(t, "00 20 00 05 08 0000000000000000");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved.back().ref5.triesLeft, 9);
    // A right one: counted first, then restored.
    Send(t, kVerifyDefault);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[1].ref5.triesLeft, 8);
    EXPECT_EQ(saved[2].ref5.triesLeft, 10);

    Send(t, "00 A4 08 00 02 DF 42 01");
    Send(t, "00 A4 00 00 02 02 02 01");
    EXPECT_EQ(Send(t, "00 D6 00 05 03 01 02 03"), 0x9000);
    EXPECT_EQ(saved.back().files.at(0x0202)[5], 0x01);

    // A failed save changes nothing and says so.
    failSaves = true;
    EXPECT_EQ(Send(t, "00 D6 00 05 01 FF"), 0x6581);
    EXPECT_EQ(t.state().files.at(0x0202)[5], 0x01);
    EXPECT_EQ(Send(t, "00 20 00 05 08 0000000000000000"), 0x6581) << "no comparison without a saved attempt";
    EXPECT_EQ(t.state().ref5.triesLeft, 10);
    EXPECT_TRUE(t.PinVerified() == false);
}

TEST(VToken, InjectedStatusWordsAnswerMatchingCommands) {
    vtoken::Token t(FreshState());
    t.InjectStatus(H("40 52"), 0x6982);
    t.InjectStatus(H("00 B0 85"), 0x6A82);
    Send(t, kVerifyDefault);
    EXPECT_EQ(Send(t, "40 52 00 00 20 0000000000000000000000000000000000000000000000000000000000000000 00"), 0x6982);
    Send(t, "00 A4 08 00 02 DF 42 01");
    EXPECT_EQ(Send(t, "00 B0 85 00 60"), 0x6A82);
    EXPECT_EQ(Send(t, "00 B0 84 00 04"), 0x9000);
    t.ClearInjections();
    EXPECT_EQ(Send(t, "00 B0 85 00 60"), 0x9000);
}

}  // namespace
