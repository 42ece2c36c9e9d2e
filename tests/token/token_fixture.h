// A scripted token for the token layer's tests: a table of exact command -> response,
// then a table by command header (CLA INS P1 P2), else 6D 00. Every APDU is recorded
// by the test PC/SC layer, so tests assert the exact bytes sent.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kcarlib/nki_result.h"
#include "test_pcsc.h"
#include "token/nki_abs.h"

namespace tokentest {

using testpcsc::Bytes;
using kcar::TNkiAbs;
using kcar::TokenBuild;

inline const char kReader[] = "Token Reader 00 00";
inline const Bytes kOk = {0x90, 0x00};
inline const Bytes kAtr = {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x20,
                           0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x17};

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline Bytes Seq(uint8_t first, std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}
inline Bytes Slice(const Bytes &b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + from, b.begin() + from + n);
}
inline Bytes Select(uint16_t fid, uint8_t le) {
    return {0x00, 0xA4, 0x00, 0x00, 0x02, static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid), le};
}
// File information that both builds' parsers read: size at bytes 4..5 and after 80 02,
// access conditions at 8..9 after 86.
inline Bytes FileInfo(uint16_t size, uint16_t access = 0x1234) {
    return {0x62, 0x08, 0x80, 0x02, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size), 0x86, 0x02,
            static_cast<uint8_t>(access >> 8), static_cast<uint8_t>(access), 0x90, 0x00};
}

// A curve record as the token stores it: degree 191, A = 1, B-root, Px and Py most
// significant byte first, recognisable bytes everywhere.
inline Bytes StoredCurve() {
    Bytes r(TNkiAbs::kCurveRecordSize, 0);
    r[0] = 0xBF;
    r[1] = 0x01;
    r[7] = 0x02;
    r[8] = 0x01;
    r[10 + 23 - 12] = 0x01;  // B-root = x^96, so B = x^192 mod f = x^10 + x
    for (int i = 0; i < 24; ++i) {
        r[34 + i] = static_cast<uint8_t>(0x40 + i);  // N, kept as stored
        r[58 + i] = static_cast<uint8_t>(0x60 + i);  // Px
        r[82 + i] = static_cast<uint8_t>(0x80 + i);  // Py
    }
    for (int i = 0; i < 96; ++i) r[106 + i] = static_cast<uint8_t>(0xA0 + i);  // IV and S-box
    return r;
}

struct TokenImage {
    Bytes status = {0x01, 0x09, 0x00, 0x00};
    Bytes serial = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    std::map<uint16_t, uint16_t> files = {{0x0201, 1000}, {0x0202, 2000}, {0x0203, 300}, {0x000A, 0x0104},
                                          {0x0009, 0x0330}};  // 3 key slots
    Bytes curve = StoredCurve();
};

class TokenFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testpcsc::Reset();
        testpcsc::AddReader(kReader);
    }
    void TearDown() override {
        if (tok) tok->disconnect();
        EXPECT_EQ(testpcsc::OpenContexts(), 0) << "a PC/SC context was left open";
        EXPECT_EQ(testpcsc::OpenCards(), 0) << "a card handle was left open";
    }

    // Scripts the start sequence of both builds for the image and inserts the token.
    void Insert(const TokenImage &image) {
        answers[{0x00, 0xA4, 0x08, 0x00, 0x02, 0xDF, 0x42, 0x01}] = kOk;
        answers[{0x00, 0xB0, 0x84, 0x00, 0x04}] = Cat({image.status, kOk});
        answers[{0x80, 0xF6, 0x00, 0x00, 0x08}] = Cat({image.serial, kOk});
        for (auto [fid, size] : image.files) answers[Select(fid, 0x00)] = FileInfo(size);
        const Bytes &c = image.curve;
        answers[{0x00, 0xB0, 0x85, 0x00, 0x60}] = Cat({Slice(c, 0, 96), kOk});
        answers[{0x00, 0xB0, 0x00, 0x60, 0x60}] = Cat({Slice(c, 96, 96), kOk});
        answers[{0x00, 0xB0, 0x00, 0xC0, 0x0C}] = Cat({Slice(c, 192, 12), kOk});
        answers[{0x00, 0xB0, 0x85, 0x00, 0x6A}] = Cat({Slice(c, 0, 106), kOk});
        answers[{0x00, 0xB0, 0x85, 0x6A, 0x62}] = Cat({Slice(c, 106, 98), kOk});
        testpcsc::Card card;
        card.atr = kAtr;
        card.handler = [this](const Bytes &cmd) {
            if (auto it = answers.find(cmd); it != answers.end()) return it->second;
            if (cmd.size() >= 4)
                if (auto it = byHeader.find(Bytes(cmd.begin(), cmd.begin() + 4)); it != byHeader.end())
                    return it->second;
            return Bytes{0x6D, 0x00};
        };
        testpcsc::InsertCard(kReader, std::move(card));
    }

    // A connected token of the given build; the start sequence is not recorded.
    TNkiAbs &Connected(TokenBuild build = TokenBuild::Token, const TokenImage &image = TokenImage{}) {
        Insert(image);
        tok = std::make_unique<TNkiAbs>(build);
        EXPECT_EQ(tok->connect(kReader), NKI_OK);
        testpcsc::ClearSent(kReader);
        return *tok;
    }
    std::vector<Bytes> Sent() const { return testpcsc::Sent(kReader); }

    // Ordered by length, then content: std::less on byte vectors trips a false
    // -Wstringop-overread in GCC 12's optimised builds.
    struct BytesOrder {
        bool operator()(const Bytes &a, const Bytes &b) const {
            if (a.size() != b.size()) return a.size() < b.size();
            return !a.empty() && std::memcmp(a.data(), b.data(), a.size()) < 0;
        }
    };
    std::map<Bytes, Bytes, BytesOrder> answers;
    std::map<Bytes, Bytes, BytesOrder> byHeader;
    std::unique_ptr<TNkiAbs> tok;
};

// The same fixture run once per build.
class BothBuilds : public TokenFixture, public ::testing::WithParamInterface<TokenBuild> {
protected:
    bool Multi() const { return GetParam() == TokenBuild::MultiCarrier; }
};

inline std::string BuildName(const ::testing::TestParamInfo<TokenBuild> &info) {
    return info.param == TokenBuild::Token ? "Token" : "MultiCarrier";
}

}  // namespace tokentest

#define TOKEN_BOTH_BUILDS(suite)                                                                        \
    INSTANTIATE_TEST_SUITE_P(Builds, suite,                                                             \
                             ::testing::Values(kcar::TokenBuild::Token, kcar::TokenBuild::MultiCarrier), \
                             tokentest::BuildName)
