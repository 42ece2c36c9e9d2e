// Random numbers, curve parameters, key records and the private-key commands.
#include "token_fixture.h"

#include <algorithm>
#include <cstring>

namespace tokentest {
namespace {

using Keys = BothBuilds;

Bytes Reversed(Bytes b) {
    std::reverse(b.begin(), b.end());
    return b;
}

TEST_P(Keys, RandomComesInPiecesOfEight) {
    TNkiAbs &t = Connected(GetParam());
    const Bytes challenge = {0x00, 0x84, 0x00, 0x00, static_cast<uint8_t>(Multi() ? 0x00 : 0x08)};
    answers[challenge] = Cat({Seq(1, 8), kOk});
    uint8_t buf[21];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(t.GetRandom(buf, 20), NKI_OK);
    EXPECT_EQ(Sent(), std::vector<Bytes>(3, challenge));
    EXPECT_EQ(Bytes(buf, buf + 21), Cat({Seq(1, 8), Seq(1, 8), Seq(1, 4), {0xEE}}));

    testpcsc::ClearSent(kReader);
    EXPECT_EQ(t.GetRandom(buf, 0), NKI_OK);
    EXPECT_EQ(t.GetRandom(buf, -5), NKI_OK);
    EXPECT_TRUE(Sent().empty());

    answers[challenge] = Cat({Seq(1, 4), kOk});  // fewer bytes than asked for
    EXPECT_EQ(t.GetRandom(buf, 8), NKI_E_DEVICE_CORRUPTED);
    answers[challenge] = {0x98, 0x01};
    EXPECT_EQ(t.GetRandom(buf, 8), NKI_E_NOT_INITIALIZED);
}

TEST_P(Keys, CurveParameters) {
    TNkiAbs &t = Connected(GetParam());
    const Bytes stored = StoredCurve();
    Bytes b(24, 0);
    b[0] = 0x02;
    b[1] = 0x04;
    const Bytes expected[] = {
        {191, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {1, 0, 0, 0},
        b,
        Slice(stored, 34, 24),
        Reversed(Slice(stored, 58, 24)),
        Reversed(Slice(stored, 82, 24)),
        Slice(stored, 106, 32),
        Slice(stored, 138, 64),
    };
    for (int index = 0; index < 8; ++index) {
        uint8_t out[65];
        std::memset(out, 0xEE, sizeof out);
        ASSERT_EQ(t.GetDsaParams(index, out), NKI_OK);
        const Bytes &e = expected[index];
        EXPECT_EQ(Bytes(out, out + e.size() + 1), Cat({e, {0xEE}})) << index;
    }
    uint8_t out[64];
    EXPECT_EQ(t.GetDsaParams(8, out), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(t.GetDsaParams(-1, out), NKI_E_OUT_OF_RANGE);
    EXPECT_TRUE(Sent().empty());
    TNkiAbs idle(GetParam());
    EXPECT_EQ(idle.GetDsaParams(0, out), NKI_E_INVALID_CONTEXT);
}

TEST_P(Keys, PublicKeyRecords) {
    TNkiAbs &t = Connected(GetParam());  // 3 key slots
    Bytes x(24, 0), y = Seq(0x20, 24);
    x[0] = 0x80;  // bit 7 of the first byte is not part of x
    x[23] = 0x01;
    answers[{0x00, 0xB2, 0x01, 0x4C, 0x00}] = Cat({x, y, Bytes(80, 0x33), kOk});
    answers[{0x00, 0xB2, 0x02, 0x4C, 0x00}] = Cat({Bytes(128, 0xFF), kOk});  // erased slot
    Bytes xFF = x;
    xFF[0] = 0xFF;
    answers[{0x00, 0xB2, 0x03, 0x4C, 0x00}] = Cat({xFF, y, kOk});  // x starts FF, y does not
    auto pointOf = [](const Bytes &x, const Bytes &y) {
        Bytes p(128, 0);
        std::copy(x.rbegin(), x.rend(), p.begin());
        std::copy(y.rbegin(), y.rend(), p.begin() + 64);
        return p;
    };

    uint8_t out[129];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(t.GetOwnerPublicKey(1, out), NKI_OK);
    Bytes one(24, 0);
    one[23] = 0x01;
    EXPECT_EQ(Bytes(out, out + 129), Cat({pointOf(one, y), {0xEE}}));  // x = 1
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x00, 0xB2, 0x01, 0x4C, 0x00}}));

    ASSERT_EQ(t.GetOwnerPublicKey(3, out), NKI_OK);
    Bytes x7F = xFF;
    x7F[0] = 0x7F;
    EXPECT_EQ(Bytes(out, out + 128), pointOf(x7F, y));

    std::memset(out, 0xEE, sizeof out);
    if (Multi()) {  // reported as a key state, the record still handed out
        EXPECT_EQ(t.GetOwnerPublicKey(2, out), NKI_E_INVALID_KEY_STATE);
        Bytes x = Bytes(24, 0xFF);
        x[0] = 0x7F;
        EXPECT_EQ(Bytes(out, out + 128), pointOf(x, Bytes(24, 0xFF)));
    } else {
        EXPECT_EQ(t.GetOwnerPublicKey(2, out), NKI_E_KEY_ABSENT);
        EXPECT_EQ(Bytes(out, out + 129), Bytes(129, 0xEE));
    }

    testpcsc::ClearSent(kReader);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(t.GetOwnerPublicKey(0, out), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(t.GetOwnerPublicKey(4, out), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(t.GenerateOwnerKeyPair(4, out), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(t.ActivateKey(0), NKI_E_OUT_OF_RANGE);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(out[0], 0xEE);

    answers[{0x00, 0xB2, 0x01, 0x4C, 0x00}] = Cat({Slice(x, 0, 24), Seq(0, 20), kOk});  // y cut short
    EXPECT_EQ(t.GetOwnerPublicKey(1, out), NKI_E_DEVICE_CORRUPTED);
    answers.erase({0x00, 0xB2, 0x01, 0x4C, 0x00});  // no key file record: 6D 00
    EXPECT_EQ(t.GetOwnerPublicKey(1, out), NKI_E_DEVICE_CORRUPTED);
}

TEST_P(Keys, GenerateActivateShift) {
    TNkiAbs &t = Connected(GetParam());
    answers[{0x40, 0x4A, 0x02, 0x00}] = kOk;
    answers[{0x40, 0x4A, 0x01, 0x01}] = kOk;
    answers[{0x40, 0x4C, 0x00, 0x00}] = kOk;
    answers[{0x00, 0xB2, 0x02, 0x4C, 0x00}] = Cat({Seq(0x01, 48), kOk});
    uint8_t point[128];
    ASSERT_EQ(t.GenerateOwnerKeyPair(2, point), NKI_OK);
    EXPECT_EQ(point[0], 0x18);  // the new key is read back
    ASSERT_EQ(t.ActivateKey(1), NKI_OK);
    ASSERT_EQ(t.ShiftKey(), NKI_OK);
    EXPECT_EQ(Sent(), (std::vector<Bytes>{{0x40, 0x4A, 0x02, 0x00},
                                          {0x00, 0xB2, 0x02, 0x4C, 0x00},
                                          {0x40, 0x4A, 0x01, 0x01},
                                          {0x40, 0x4C, 0x00, 0x00}}));
    answers[{0x40, 0x4A, 0x02, 0x00}] = {0x69, 0x82};
    EXPECT_EQ(t.GenerateOwnerKeyPair(2, point), Multi() ? 37u : 39u);
    TNkiAbs idle(GetParam());
    EXPECT_EQ(idle.ShiftKey(), NKI_E_INVALID_CONTEXT);
}

TEST_P(Keys, Signatures) {
    TNkiAbs &t = Connected(GetParam());
    const Bytes hash = Seq(0x10, 32);
    const Bytes signCommand = Cat({{0x40, 0x52, 0x00, 0x00, 0x20}, hash, {0x00}});
    answers[signCommand] = Cat({Seq(0x80, 48), kOk});
    uint8_t sig[49];
    std::memset(sig, 0xEE, sizeof sig);
    ASSERT_EQ(t.SignHash(hash.data(), sig), NKI_OK);
    EXPECT_EQ(Bytes(sig, sig + 49), Cat({Seq(0x80, 48), {0xEE}}));

    const Bytes reqCommand = Cat({{0x40, 0x50, 0x02, 0x00, 0x20}, hash, {0x00}});
    answers[reqCommand] = Cat({Seq(0x40, 64), kOk});
    uint8_t extra[17];
    std::memset(extra, 0xEE, sizeof extra);
    ASSERT_EQ(t.SignCaRequest(2, hash.data(), sig, extra), NKI_OK);
    EXPECT_EQ(Bytes(sig, sig + 48), Seq(0x40, 48));
    EXPECT_EQ(Bytes(extra, extra + 17), Cat({Seq(0x70, 16), {0xEE}}));
    EXPECT_EQ(t.SignCaRequest(4, hash.data(), sig, extra), NKI_E_OUT_OF_RANGE);

    const Bytes record = Seq(0x01, 70);
    const Bytes docCommand = Cat({{0x40, 0x54, 0x00, 0x00, 0x46}, record, {0x00}});
    answers[docCommand] = Cat({Seq(0x90, 48), Seq(0x30, 14), kOk});
    uint8_t stamp[14];
    ASSERT_EQ(t.SignDocument(record.data(), sig, stamp), NKI_OK);
    EXPECT_EQ(Bytes(stamp, stamp + 14), Seq(0x30, 14));
    EXPECT_EQ(Sent(), (std::vector<Bytes>{signCommand, reqCommand, docCommand}));

    answers[signCommand] = {0x69, 0x82};  // PIN not verified
    std::memset(sig, 0xEE, sizeof sig);
    EXPECT_EQ(t.SignHash(hash.data(), sig), Multi() ? 37u : 39u);
    answers[signCommand] = Cat({Seq(0x80, 47), kOk});  // one byte short
    EXPECT_EQ(t.SignHash(hash.data(), sig), NKI_E_DEVICE_CORRUPTED);
    EXPECT_EQ(sig[0], 0xEE);
}

TEST_P(Keys, WrapKeys) {
    TokenImage agreeZero;
    agreeZero.status = {0x01, 0x08, 0x00, 0x00};
    for (bool zeroAllowed : {false, true}) {
        answers.clear();
        TNkiAbs &t = Connected(GetParam(), zeroAllowed ? agreeZero : TokenImage{});
        uint8_t point[128] = {};
        for (int i = 0; i < 24; ++i) point[i] = static_cast<uint8_t>(0x01 + i), point[64 + i] = uint8_t(0x41 + i);
        const Bytes xy = Cat({Reversed(Seq(0x01, 24)), Reversed(Seq(0x41, 24))});
        byHeader[{0x40, 0x56, 0x00, 0x00}] = Cat({Seq(0x00, 64), kOk});
        byHeader[{0x40, 0x56, 0xFF, 0x00}] = Cat({Seq(0x80, 64), kOk});
        uint8_t k0[32], k1[33];
        std::memset(k1, 0xEE, sizeof k1);
        ASSERT_EQ(t.CreateWrapKeysEx(1, point, k0, k1), NKI_OK);
        EXPECT_EQ(Bytes(k0, k0 + 32), Seq(0x00, 32));
        EXPECT_EQ(Bytes(k1, k1 + 33), Cat({Seq(0x20, 32), {0xEE}}));
        EXPECT_EQ(t.CreateWrapKeysEx(0, point, k0, k1), zeroAllowed ? NKI_OK : NKI_E_KEY_ABSENT);
        EXPECT_EQ(t.CreateWrapKeysEx(2, point, k0, k1), NKI_E_KEY_ABSENT);
        EXPECT_EQ(t.CreateWrapKeysEx(-1, point, k0, k1), NKI_E_KEY_ABSENT);
        std::vector<Bytes> expected = {Cat({{0x40, 0x56, 0x00, 0x00, 0x30}, xy, {0x00}})};
        if (zeroAllowed) expected.push_back(Cat({{0x40, 0x56, 0xFF, 0x00, 0x30}, xy, {0x00}}));
        EXPECT_EQ(Sent(), expected);
        t.disconnect();
        tok.reset();
    }
}

TOKEN_BOTH_BUILDS(Keys);

}  // namespace
}  // namespace tokentest
