// The container card carrier against the simulated container card in the
// in-process PC/SC layer: formatting, the PIN check and its copy choice, key
// operations with the card's signature count, the PIN change and its recovery,
// files, the lost card and the container rewrite cut at every command.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "carriers/container_card_carrier.h"
#include "carriers/container_copy.h"
#include "kcarlib/nki_result.h"
#include "test_pcsc.h"
#include "vcarrier.h"
#include "vcarrier_testpcsc.h"

namespace {

const char kReader[] = "Virtual PCD 00 00";
const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const uint8_t kNewPin[8] = {'4', '3', '2', '1', 0, 0, 0, 0};

class ContainerCard : public ::testing::Test {
protected:
    std::unique_ptr<vcards::Card> card;
    kcar::ContainerCardCarrier s;
    int exchanges = 0;
    int cutAt = 0;  // the card leaves the reader at this exchange (0: never)

    void Insert(vcards::CardOptions o = {}) {
        vcards::CardState st;
        std::string error;
        ASSERT_TRUE(vcards::MakeState(o, st, error)) << error;
        card = std::make_unique<vcards::Card>(st);
        testpcsc::Reset();
        testpcsc::AddReader(kReader);
        Reinsert();
    }
    // Puts the same card back, with a handler that can cut it off.
    void Reinsert() {
        testpcsc::RemoveCard(kReader);
        testpcsc::Card c = vcards::TestCard(*card);
        c.handler = [this](const testpcsc::Bytes &cmd) -> testpcsc::Bytes {
            if (cutAt > 0 && ++exchanges >= cutAt) return {};
            return card->Transmit(cmd);
        };
        testpcsc::InsertCard(kReader, c);
    }
    void TearDown() override {
        s.Close();
        testpcsc::Reset();
    }
    const uint8_t *Copy(int n) { return card->state().files.at(8).data.data() + kcar::container::kCopyOffset[n]; }
    uint32_t Header() {
        const auto &d = card->state().files.at(8).data;
        return uint32_t(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24);
    }
    void FormatAndOpen() {
        ASSERT_EQ(kcar::ContainerCardCarrier::Format(kReader, kPin), NKI_OK);
        ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
        ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    }
};

TEST_F(ContainerCard, FormatThenKeysSignaturesAndReopening) {
    Insert();
    ASSERT_EQ(kcar::ContainerCardCarrier::Format(kReader, kPin), NKI_OK);
    const uint8_t zero[308] = {};
    EXPECT_EQ(std::memcmp(Copy(1), zero, 308), 0) << "copy 1 is cleared";
    EXPECT_EQ(kcar::container::CopyCounter(Copy(2)), 1u);

    ASSERT_EQ(s.OpenCard(""), NKI_OK) << "found by its ATR";
    EXPECT_EQ(s.State(), 0xC0000000u);
    EXPECT_EQ(std::memcmp(s.Serial(), card->state().serial.data(), 8), 0);
    EXPECT_EQ(s.SignatureSize(), 48u);
    uint8_t hash[32] = {7}, sig[48];
    EXPECT_EQ(s.SignHash(hash, sig), NKI_E_PIN_REQUIRED);
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    EXPECT_EQ(s.CurrentCopy(), 2);
    EXPECT_EQ(s.SignHash(hash, sig), NKI_E_PRIVATE_KEY_ABSENT);
    ASSERT_EQ(s.GenerateOwnerKeyPair(), NKI_OK);
    EXPECT_EQ(s.CurrentCopy(), 1);
    EXPECT_EQ(kcar::container::CopyCounter(Copy(1)), 2u);
    const TEcPoint owner = s.OwnerPublicKey();
    ASSERT_EQ(s.SignHash(hash, sig), NKI_OK);
    EXPECT_EQ(s.VerifyHash(owner, hash, sig), NKI_OK);
    EXPECT_EQ(card->state().signatures, 1u) << "each host signature is counted on the card";
    uint8_t audit[4];
    ASSERT_EQ(s.AuditRecord(0, audit), NKI_OK);
    EXPECT_EQ(audit[3], 1);
    EXPECT_EQ(s.AuditRecord(1, audit), NKI_E_OUT_OF_RANGE);
    std::string text;
    ASSERT_EQ(s.InfoText(text), NKI_OK);
    EXPECT_EQ(text, "nki-vcarrier 1.0");
    ASSERT_EQ(s.SetCertificateArea({9, 8, 7}), NKI_OK);
    s.Close();

    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));
    EXPECT_EQ(kcar::ContainerCardCarrier::Bytes(s.CertificateArea().begin(), s.CertificateArea().begin() + 3),
              (kcar::ContainerCardCarrier::Bytes{9, 8, 7}));
    EXPECT_EQ(s.State() & 0x03, 0x03u);
}

TEST_F(ContainerCard, PinCheckRefusals) {
    Insert();
    FormatAndOpen();
    s.Close();
    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    EXPECT_EQ(s.CheckPin(kNewPin), NKI_E_INVALID_PIN_BASE + 9);
    // A copy damaged with the flag down is reported, not repaired.
    card->MutableState().files.at(8).data[kcar::container::kCopyOffset[2] + 100] ^= 1;
    EXPECT_EQ(s.CheckPin(kPin), NKI_E_BAD_PASSWORD);
    s.Close();

    vcards::CardOptions bare;
    bare.carryParameters = false;
    Insert(bare);
    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    EXPECT_EQ(s.CheckPin(kPin), NKI_E_NOT_INITIALIZED);
}

TEST_F(ContainerCard, EqualCountersTakeCopyTwo) {
    Insert();
    FormatAndOpen();
    ASSERT_EQ(s.GenerateOwnerKeyPair(), NKI_OK);  // copy 1, counter 2
    ASSERT_EQ(s.CreateFutureKey(), NKI_OK);       // copy 2, counter 3
    const TEcPoint future = s.FuturePublicKey();
    s.Close();
    // Give copy 1 the counter of copy 2: copy 2 (with the future key) must win.
    auto &data = card->MutableState().files.at(8).data;
    const auto *c2 = data.data() + kcar::container::kCopyOffset[2];
    auto *c1 = data.data() + kcar::container::kCopyOffset[1];
    ASSERT_EQ(kcar::container::CopyCounter(c2), 3u);
    // Re-seal copy 1 with counter 3 under the same key so that it stays valid.
    uint8_t key[32], record[366];
    kcar::container::ContainerKey(kPin, key);
    std::memcpy(record, card->state().files.at(5).data.data(), 366);
    kcar::container::CopyContent k;
    ASSERT_EQ(kcar::container::OpenCopy(c1, record, key, k), 0u);
    k.counter = 3;
    kcar::container::SealCopy(k, record, key, c1);
    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
    EXPECT_EQ(s.CurrentCopy(), 2);
    EXPECT_EQ(s.State() & 0x10, 0x10u);
    EXPECT_TRUE(PointIsEqual(&s.FuturePublicKey(), &future));
}

TEST_F(ContainerCard, PinChangeAndItsRecovery) {
    Insert();
    FormatAndOpen();
    ASSERT_EQ(s.GenerateOwnerKeyPair(), NKI_OK);
    const TEcPoint owner = s.OwnerPublicKey();
    EXPECT_EQ(s.ChangePin(kPin, kNewPin, 1), NKI_E_UNSUPPORTED_FUNCTION);
    ASSERT_EQ(s.ChangePin(kPin, kNewPin, 0), NKI_OK);
    EXPECT_EQ(Header(), 0u);
    s.Close();
    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    EXPECT_EQ(s.CheckPin(kPin), NKI_E_INVALID_PIN_BASE + 9);
    ASSERT_EQ(s.CheckPin(kNewPin), NKI_OK);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));

    // Cut between the container rewrite and the card's change of reference.
    card->InjectStatus({0x80, 0x24}, 0x6581);
    EXPECT_EQ(s.ChangePin(kNewPin, kPin, 0), NKI_E_DEVICE_CORRUPTED);
    card->ClearInjections();
    EXPECT_EQ(Header(), kcar::container::kPinChangeFlag) << "the flag stays up";
    const int newest = kcar::container::CopyCounter(Copy(1)) > kcar::container::CopyCounter(Copy(2)) ? 1 : 2;
    s.Close();
    ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
    ASSERT_EQ(s.CheckPin(kNewPin), NKI_OK) << "the card still has the old PIN; the older copy is used";
    EXPECT_EQ(s.CurrentCopy(), 3 - newest);
    const uint8_t zero[308] = {};
    EXPECT_EQ(std::memcmp(Copy(newest), zero, 308), 0) << "the copy under the never-set PIN is cleared";
    EXPECT_EQ(Header(), 0u);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));
}

TEST_F(ContainerCard, FilesAndControl) {
    vcards::CardOptions o;
    o.userFileSize = 105;
    Insert(o);
    FormatAndOpen();
    EXPECT_EQ(s.UserFileSize(), 105u);
    uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, back[10];
    EXPECT_EQ(s.WriteUserFile(100, ten, 10), NKI_E_NO_SPACE);
    ASSERT_EQ(s.WriteUserFile(95, ten, 10), NKI_OK);
    ASSERT_EQ(s.ReadUserFile(95, back, 10), NKI_OK);
    EXPECT_EQ(std::memcmp(ten, back, 10), 0);
    uint8_t out[260];
    uint32_t n = 0;
    ASSERT_EQ(s.IoControl(0x22203C, nullptr, 0, out, sizeof out, &n), NKI_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(out[0] | out[1] << 8, 257);
    const uint8_t serial[] = {0x80, 0xF6, 0x00, 0x00, 0x08};
    ASSERT_EQ(s.IoControl(0x22204C, serial, 5, out, sizeof out, &n), NKI_OK);
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(out[8] << 8 | out[9], 0x9000);
    EXPECT_EQ(s.IoControl(0x222050, nullptr, 0, out, sizeof out, &n), NKI_E_UNSUPPORTED_FUNCTION);
}

TEST_F(ContainerCard, PulledCardEndsTheSession) {
    Insert();
    FormatAndOpen();
    testpcsc::RemoveCard(kReader);
    uint8_t hash[32] = {}, sig[48];
    EXPECT_EQ(s.SignHash(hash, sig), NKI_E_CONNECTION_ABORTED);
    EXPECT_FALSE(s.Open());
}

TEST_F(ContainerCard, RewriteCutAtEveryCommandKeepsAUsableContainer) {
    Insert();
    FormatAndOpen();
    ASSERT_EQ(s.GenerateOwnerKeyPair(), NKI_OK);
    const TEcPoint before = s.OwnerPublicKey();
    s.Close();
    const vcards::CardState saved = card->state();
    for (int at = 1;; ++at) {
        card->MutableState() = saved;
        cutAt = 0;
        Reinsert();
        ASSERT_EQ(s.OpenCard(kReader), NKI_OK);
        ASSERT_EQ(s.CheckPin(kPin), NKI_OK);
        exchanges = 0;
        cutAt = at;
        uint32_t rc = s.ActivateFutureKey() == NKI_E_KEY_ABSENT ? s.CreateFutureKey() : 0;
        s.Close();
        cutAt = 0;
        Reinsert();
        ASSERT_EQ(s.OpenCard(kReader), NKI_OK) << "cut at " << at;
        ASSERT_EQ(s.CheckPin(kPin), NKI_OK) << "cut at " << at;
        EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &before)) << "cut at " << at;
        const bool future = (s.State() & 0x10) != 0;
        if (rc == NKI_OK) {
            EXPECT_TRUE(future) << "the rewrite went through at " << at;
            break;
        }
        s.Close();
        ASSERT_LT(at, 40) << "the rewrite never completed";
    }
}

}  // namespace
