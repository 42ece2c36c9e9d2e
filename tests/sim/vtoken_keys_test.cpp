// The simulated token's key operations, checked from the outside with the
// library's curve and hash code: what the token signs verifies under the public
// key it shows, and its wrap keys are the ones the sending side derives.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "curve191.h"
#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "sim_support.h"

namespace {

using namespace simtest;

int32_t TestBit(void *ctx) { return static_cast<int32_t>((*static_cast<std::mt19937 *>(ctx))() & 1); }

// The token's curve as a host reads it from the 204-byte record.
struct RecordCurve {
    TEcc ecc;
    std::mt19937 rng{191};
    bool ok = false;
    explicit RecordCurve(const Bytes &r) {
        EccInit(&ecc, TestBit, &rng);
        uint32_t b[ECC_WORDS], n[ECC_WORDS];
        TEcPoint p;
        PointClear(&p);
        if (r.size() != 204 || r[0] != 191 || r[7] != 2 || !EccSetBaseField(&ecc, 191, 9, 0, 0)) return;
        EccBaseFromArrayMSB(&ecc, r.data() + 10, 24, b);
        BaseSquare(&ecc, b);
        EccIntFromArrayLSB(&ecc, r.data() + 34, 24, n);
        EccBaseFromArrayMSB(&ecc, r.data() + 58, 24, p.x);
        EccBaseFromArrayMSB(&ecc, r.data() + 82, 24, p.y);
        ok = EccSetCurve(&ecc, r[1] & 1, b, n) && EccSetBasePoint(&ecc, &p);
    }
    ~RecordCurve() { EccDone(&ecc); }

    TEcPoint Point(const uint8_t *xy48) {
        TEcPoint q;
        PointClear(&q);
        EccBaseFromArrayMSB(&ecc, xy48, 24, q.x);
        EccBaseFromArrayMSB(&ecc, xy48 + 24, 24, q.y);
        return q;
    }
    bool Verifies(const Bytes &pub, const uint8_t *hash, const uint8_t *sig) {
        TEcPoint q = Point(pub.data());
        return EccCheckHash(&ecc, &q, hash, sig, 0) == 1;
    }
};

void HashOf(const Bytes &record, const uint8_t *data, std::size_t n, uint8_t *out) {
    TGostHash h;
    HashInit(&h, record.data() + 138, record.data() + 106);
    HashUpdate(&h, data, static_cast<uint32_t>(n));
    HashFinal(&h, out);
}

class VTokenKeys : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Send(token, kVerifyDefault), 0x9000);
        ASSERT_EQ(Send(token, "00 A4 08 00 02 DF 42 01"), 0x9000);
    }
    Bytes Record() { return token.state().files.at(vtoken::kCurveFile); }
    Bytes PublicKey(int slot) {
        Bytes r;
        EXPECT_EQ(Send(token, "00 B2 0" + std::to_string(slot) + " 4C 00", &r), 0x9000);
        return r;
    }
    vtoken::Token token{FreshState()};
};

TEST_F(VTokenKeys, CurveRecordHoldsTheStandardCurve) {
    Bytes r = Record();
    RecordCurve c(r);
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(EccVerifyCurve(&c.ecc));
    EXPECT_TRUE(EccVerifyBasePoint(&c.ecc)) << "a base point of order n";
    uint32_t b[ECC_WORDS], n[ECC_WORDS];
    EccBaseFromString(&c.ecc, vtoken::kCurveB, b);
    EccIntFromString(&c.ecc, vtoken::kCurveN, n);
    EXPECT_TRUE(BaseIsEqual(c.ecc.B, b)) << "the stored root squares to b";
    EXPECT_TRUE(IntIsEqual(c.ecc.N, n));
    EXPECT_EQ(c.ecc.SigLen, 48);
    EXPECT_EQ(Bytes(r.begin() + 106, r.begin() + 138), Bytes(32, 0)) << "zero start vector";
    EXPECT_EQ(0, std::memcmp(r.data() + 138, UzUa01, 64)) << "DKE No. 1";
    EXPECT_EQ(r[8], 1);
}

TEST_F(VTokenKeys, SignatureVerifiesUnderTheSlotsPublicKey) {
    ASSERT_EQ(Send(token, "40 4A 01 00"), 0x9000);
    Bytes pub = PublicKey(1);
    ASSERT_EQ(pub.size(), 48u);
    EXPECT_EQ(pub[0] & 0x80, 0);
    RecordCurve c(Record());
    TEcPoint q = c.Point(pub.data());
    EXPECT_TRUE(EccVerifyPublicKey(&c.ecc, &q));

    Bytes hash = H("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    Bytes sig;
    ASSERT_EQ(Send(token, "40 52 00 00 20 000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F 00", &sig),
              0x9000);
    ASSERT_EQ(sig.size(), 48u);
    EXPECT_TRUE(c.Verifies(pub, hash.data(), sig.data()));
    hash[0] ^= 1;
    EXPECT_FALSE(c.Verifies(pub, hash.data(), sig.data()));
}

TEST_F(VTokenKeys, AuthenticationAnswerVerifiesOverRandomAndChallenge) {
    ASSERT_EQ(Send(token, "40 4A 01 00"), 0x9000);
    Bytes answer;
    ASSERT_EQ(Send(token, "40 58 00 00 08 A1A2A3A4A5A6A7A8 00", &answer), 0x9000);
    ASSERT_EQ(answer.size(), 64u);
    Bytes input(answer.begin() + 48, answer.end());
    Bytes challenge = H("A1A2A3A4A5A6A7A8");
    input.insert(input.end(), challenge.begin(), challenge.end());
    uint8_t hash[32];
    HashOf(Record(), input.data(), input.size(), hash);
    RecordCurve c(Record());
    EXPECT_TRUE(c.Verifies(PublicKey(1), hash, answer.data()));
}

TEST_F(VTokenKeys, WrapKeysEqualTheSendersDerivation) {
    ASSERT_EQ(Send(token, "40 4A 01 00"), 0x9000);
    Bytes record = Record();
    RecordCurve c(record);
    TEcPoint q = c.Point(PublicKey(1).data());
    // The sender: ephemeral e, U = e·P goes to the token, Z = e·Q stays.
    uint32_t e[ECC_WORDS];
    ASSERT_TRUE(EccGeneratePrivateKey(&c.ecc, e));
    TEcPoint u, z;
    EccScalarMul(&c.ecc, e, &c.ecc.P, &u);
    EccScalarMul(&c.ecc, e, &q, &z);
    uint8_t expected[64];
    for (int tag = 0; tag < 2; ++tag) {
        uint8_t block[32] = {};
        EccBaseToArrayLSB(&c.ecc, z.x, block, 24);
        block[31] = static_cast<uint8_t>(tag);
        TGostHash h;
        HashInit(&h, record.data() + 138, nullptr);
        HashUpdate(&h, block, 32);
        HashFinal(&h, expected + 32 * tag);
    }
    Bytes command = H("40 56 00 00 30");
    uint8_t xy[48];
    EccBaseToArrayMSB(&c.ecc, u.x, xy, 24);
    EccBaseToArrayMSB(&c.ecc, u.y, xy + 24, 24);
    command.insert(command.end(), xy, xy + 48);
    command.push_back(0x00);
    Bytes reply = token.Transmit(command);
    ASSERT_EQ(SwOf(reply), 0x9000);
    EXPECT_EQ(DataOf(reply), Bytes(expected, expected + 64));
    EXPECT_NE(Bytes(expected, expected + 32), Bytes(expected + 32, expected + 64));

    command[5 + 47] ^= 1;  // off the curve
    EXPECT_EQ(SwOf(token.Transmit(command)), 0x6A80);
}

// The host hashes the document and zero bytes up to a block boundary and hands
// over the state; a verifier hashes document, zeros and stamp in one run.
TEST_F(VTokenKeys, DocumentSignatureCoversDocumentPaddingAndStamp) {
    ASSERT_EQ(Send(token, "40 4A 01 00"), 0x9000);
    Bytes record = Record();
    Bytes doc(40);
    for (std::size_t i = 0; i < doc.size(); ++i) doc[i] = static_cast<uint8_t>(3 * i + 1);
    const Bytes zeros(24, 0);
    TGostHash h;
    HashInit(&h, record.data() + 138, record.data() + 106);
    HashUpdate(&h, doc.data(), 40);
    HashUpdate(&h, zeros.data(), 24);
    ASSERT_EQ(h.BlockPos, 0u);
    Bytes command = H("40 54 00 00 46 18 00 40 00 00 00");
    command.insert(command.end(), h.H, h.H + 32);
    command.insert(command.end(), h.Sum, h.Sum + 32);
    command.push_back(0x00);

    Bytes first = token.Transmit(command), second = token.Transmit(command);
    ASSERT_EQ(SwOf(first), 0x9000);
    ASSERT_EQ(first.size(), 48u + 14 + 2);
    Bytes stamp(first.begin() + 48, first.begin() + 62);
    EXPECT_EQ(Bytes(stamp.begin(), stamp.begin() + 6), Bytes(token.state().serial.begin() + 2, token.state().serial.end()));
    EXPECT_NE(Bytes(second.begin() + 48, second.begin() + 62), stamp) << "every stamp differs";

    Bytes signedInput = doc;
    signedInput.insert(signedInput.end(), zeros.begin(), zeros.end());
    signedInput.insert(signedInput.end(), stamp.begin(), stamp.end());
    uint8_t hash[32];
    HashOf(record, signedInput.data(), signedInput.size(), hash);
    RecordCurve c(record);
    EXPECT_TRUE(c.Verifies(PublicKey(1), hash, first.data()));
    stamp[13] ^= 1;
    signedInput.back() ^= 1;
    HashOf(record, signedInput.data(), signedInput.size(), hash);
    EXPECT_FALSE(c.Verifies(PublicKey(1), hash, first.data()));

    // A state that cannot come from block-wise hashing.
    Bytes bad = command;
    bad[5] = 0;  // pad count 0
    EXPECT_EQ(SwOf(token.Transmit(bad)), 0x6A80);
    bad = command;
    bad[7] = 0x41;  // byte count not a multiple of 32
    EXPECT_EQ(SwOf(token.Transmit(bad)), 0x6A80);
}

TEST_F(VTokenKeys, ShiftAndActivateMakeTheFutureKeyCurrent) {
    EXPECT_EQ(Send(token, "40 4C 00 00"), 0x980D) << "nothing prepared in slot 2";
    EXPECT_EQ(Send(token, "40 4A 02 01"), 0x980D) << "an empty slot cannot be activated";
    ASSERT_EQ(Send(token, "40 4A 01 00"), 0x9000);
    ASSERT_EQ(Send(token, "40 4A 02 00"), 0x9000);
    Bytes future = PublicKey(2);
    EXPECT_NE(future, PublicKey(1));

    // The prepared key signs its own request.
    Bytes request;
    ASSERT_EQ(Send(token, "40 50 02 00 20 " + std::string(64, '5') + " 00", &request), 0x9000);
    ASSERT_EQ(request.size(), 64u);
    RecordCurve c(Record());
    Bytes hash(32, 0x55);
    EXPECT_TRUE(c.Verifies(future, hash.data(), request.data()));
    Bytes tail = Bytes(token.state().serial.begin(), token.state().serial.end());
    tail.push_back(0x02);
    tail.resize(16, 0);
    EXPECT_EQ(Bytes(request.begin() + 48, request.end()), tail);

    ASSERT_EQ(Send(token, "40 4C 00 00"), 0x9000);
    EXPECT_EQ(PublicKey(1), future);
    EXPECT_EQ(PublicKey(2), Bytes(48, 0xFF));
    const std::string sign = "40 52 00 00 20 " + std::string(64, '5') + " 00";
    EXPECT_EQ(Send(token, sign), 0x980D) << "the shifted key waits for activation";
    ASSERT_EQ(Send(token, "40 4A 01 01"), 0x9000);
    Bytes sig;
    ASSERT_EQ(Send(token, sign, &sig), 0x9000);
    EXPECT_TRUE(c.Verifies(future, hash.data(), sig.data()));
}

}  // namespace
