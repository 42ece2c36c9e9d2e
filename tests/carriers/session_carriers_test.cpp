// The session services of the multi-carrier build over the three carriers: the
// key file, and the simulated container and protected data cards in the
// in-process PC/SC layer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "../support/temp_dir.h"
#include "carriers/carrier_modules.h"
#include "carriers/key_file_carrier.h"
#include "kcarlib/nki_result.h"
#include "session/nki_handle.h"
#include "test_pcsc.h"
#include "vcarrier.h"
#include "vcarrier_testpcsc.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char kReader[] = "Virtual PCD 00 00";
const uint8_t kKey[32] = {0x42, 1, 2, 3};
const char kPin[] = "12345678";

struct MultiSession : kcar::TNkiHandle {
    MultiSession() { Build = kcar::CarrierBuild::MultiCarrier; }
};

TEST(MultiCarrierFactory, ServesTheHostCarriersInTheMultiBuildOnly) {
    struct Case {
        uint8_t type;
        kcar::CarrierBuild build;
        bool made;
    } cases[] = {
        {kcar::kDeviceKeyFile, kcar::CarrierBuild::MultiCarrier, true},
        {kcar::kDeviceContainerCard, kcar::CarrierBuild::MultiCarrier, true},
        {kcar::kDeviceProtectedCard, kcar::CarrierBuild::MultiCarrier, true},
        {kcar::kDeviceKeyFile, kcar::CarrierBuild::Token, false},
        {kcar::kDeviceContainerCard, kcar::CarrierBuild::Token, false},
        {kcar::kDeviceProtectedCard, kcar::CarrierBuild::Token, false},
    };
    for (const Case &t : cases) {
        std::unique_ptr<kcar::TCarrier> c(kcar::MakeCarrier(t.type, t.build));
        EXPECT_EQ(c != nullptr, t.made) << int(t.type);
        if (c) {
            EXPECT_EQ(c->DeviceType(), t.type);
        }
    }
}

TEST(KeyFileSession, SignCertificatesPasswordAndReopen) {
    testsupport::TempDir dir("kcarlib-keyfile-session");
    const std::string path = dir.File("k.nkif");
    ASSERT_EQ(kcar::KeyFileCarrier::Format(path, kKey), NKI_OK);
    Bytes owner(48);
    {
        MultiSession h;
        ASSERT_EQ(h.OpenSession(path.c_str(), kKey, kcar::kDeviceKeyFile), NKI_OK);
        ASSERT_EQ(h.GetPublicKey(1, owner.data(), false), NKI_OK);
        const char doc[] = "a document";
        uint8_t sig[48];
        ASSERT_EQ(h.InitDS(nullptr), NKI_OK);
        ASSERT_EQ(h.SignData(doc, sizeof doc, sig), NKI_OK);
        EXPECT_EQ(h.VerifyData(doc, sizeof doc, owner.data(), sig, false), NKI_OK);
        const Bytes cert = {0x30, 0x82, 0x01, 0x00, 0xAA, 0xBB};
        ASSERT_EQ(h.SetCert(cert.data(), uint32_t(cert.size())), NKI_OK);
        ASSERT_EQ(h.CloseSession(), NKI_OK);
    }
    {
        MultiSession h;
        ASSERT_EQ(h.OpenSession(path.c_str(), kKey, kcar::kDeviceKeyFile), NKI_OK);
        Bytes again(48);
        ASSERT_EQ(h.GetPublicKey(1, again.data(), false), NKI_OK);
        EXPECT_EQ(again, owner);
        uint32_t size = 0;
        ASSERT_EQ(h.GetCertSize(1, &size), NKI_OK);
        EXPECT_EQ(size, 6u);
        const uint8_t newKey[32] = {7, 7, 7};
        ASSERT_EQ(h.Carrier->ChangePassword(newKey), NKI_OK);
        ASSERT_EQ(h.CloseSession(), NKI_OK);
    }
    MultiSession h;
    EXPECT_EQ(h.OpenSession(path.c_str(), kKey, kcar::kDeviceKeyFile), NKI_E_BAD_PASSWORD);
    const uint8_t newKey[32] = {7, 7, 7};
    EXPECT_EQ(h.OpenSession(path.c_str(), newKey, kcar::kDeviceKeyFile), NKI_OK);
}

class CardSession : public ::testing::Test {
protected:
    std::unique_ptr<vcards::Card> card;
    void Insert(vcards::Kind kind) {
        vcards::CardOptions o;
        o.kind = kind;
        vcards::CardState st;
        std::string error;
        ASSERT_TRUE(vcards::MakeState(o, st, error)) << error;
        card = std::make_unique<vcards::Card>(st);
        testpcsc::Reset();
        testpcsc::AddReader(kReader);
        testpcsc::InsertCard(kReader, vcards::TestCard(*card));
    }
    void TearDown() override { testpcsc::Reset(); }
};

TEST_F(CardSession, ContainerCardKeysAndSignature) {
    Insert(vcards::Kind::Container);
    const uint8_t pin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    ASSERT_EQ(kcar::ContainerCardCarrier::Format(kReader, pin), NKI_OK);
    MultiSession h;
    ASSERT_EQ(h.OpenSession(kReader, nullptr, kcar::kDeviceContainerCard), NKI_OK);
    EXPECT_EQ(h.CheckPinEx("1234", 4), NKI_E_INVALID_PIN_BASE + 9);
    ASSERT_EQ(h.CheckPinEx(kPin, 8), NKI_OK);
    ASSERT_EQ(h.GenerateKeyPair(1), NKI_OK);
    Bytes owner(48);
    ASSERT_EQ(h.GetPublicKey(1, owner.data(), false), NKI_OK);
    const char doc[] = "signed on the host";
    uint8_t sig[48];
    ASSERT_EQ(h.InitDS(nullptr), NKI_OK);
    ASSERT_EQ(h.SignData(doc, sizeof doc, sig), NKI_OK);
    EXPECT_EQ(h.VerifyData(doc, sizeof doc, owner.data(), sig, false), NKI_OK);
    EXPECT_EQ(card->state().signatures, 1u);
    const uint8_t user[4] = {1, 2, 3, 4};
    ASSERT_EQ(h.WriteFile(user, 10, 4), NKI_OK);
    uint8_t back[4];
    ASSERT_EQ(h.ReadFile(back, 10, 4), NKI_OK);
    EXPECT_EQ(std::memcmp(back, user, 4), 0);
    ASSERT_EQ(h.CloseSession(), NKI_OK);

    // The keys are unlocked by the PIN in the next session.
    ASSERT_EQ(h.OpenSession(kReader, nullptr, kcar::kDeviceContainerCard), NKI_OK);
    Bytes again(48);
    EXPECT_EQ(h.GetPublicKey(1, again.data(), false), NKI_E_KEY_ABSENT);
    ASSERT_EQ(h.CheckPinEx(kPin, 8), NKI_OK);
    ASSERT_EQ(h.GetPublicKey(1, again.data(), false), NKI_OK);
    EXPECT_EQ(again, owner);
    ASSERT_EQ(h.CloseSession(), NKI_OK);
}

TEST_F(CardSession, ProtectedCardUserFileAndControl) {
    Insert(vcards::Kind::Protected);
    MultiSession h;
    ASSERT_EQ(h.OpenSession(kReader, nullptr, kcar::kDeviceProtectedCard), NKI_OK);
    int32_t size = 0;
    ASSERT_EQ(h.GetFileSize(&size), NKI_OK);
    EXPECT_EQ(size, 1024);
    const uint8_t data[100] = {9, 8, 7};
    ASSERT_EQ(h.WriteFile(data, 0, sizeof data), NKI_OK);
    uint8_t back[100];
    ASSERT_EQ(h.ReadFile(back, 0, sizeof back), NKI_OK);
    EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
    uint32_t n = 0;
    ASSERT_EQ(h.IoControl(0x227004, nullptr, 0, nullptr, 0, &n), NKI_OK);
    ASSERT_EQ(h.CheckPinEx(kPin, 8), NKI_OK);
    EXPECT_TRUE(card->PinVerified());
    ASSERT_EQ(h.CloseSession(), NKI_OK);
}

}  // namespace
