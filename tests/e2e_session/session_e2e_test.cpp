// Sessions of the shared library on nki-vtoken daemons through a real pcscd and
// the vpcd reader (run under scripts/pcsc-stack): PIN, owner key, signatures,
// the certificate store and user file across reopening and daemon restarts,
// session keys between two tokens, a card pulled in mid-session, and the
// nki-demo example program.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "kcarlib/nki.h"
#include "../support/temp_dir.h"

namespace {

const char kSlot0[] = "Virtual PCD 00 00";
const char kSlot1[] = "Virtual PCD 00 01";
const uint8_t kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const uint8_t kWrongPin[] = {'0', '0', '0', '0', '0', '0', '0', '0'};
constexpr uint32_t kElement = 24;  // element length of the token's 191-bit curve
constexpr uint32_t kSig = 48;

using Bytes = std::vector<uint8_t>;

bool CardIn(const char *reader) {
    int32_t kind = 0;
    return nkiGetDeviceType(reader, &kind) == NKI_OK;
}

Bytes Random(std::size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(gen());
    return b;
}

using testsupport::TempDir;

// A library context, destroyed (closing its session) at the end of the scope.
class Context {
public:
    Context() { rc_ = nkiCreateContext(&c_, NKI_KIND_ACTIVE_TOKEN); }
    ~Context() {
        if (c_) nkiDestroyContext(&c_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    operator NKI_CONTEXT() const { return c_; }
    uint32_t CreateResult() const { return rc_; }

private:
    NKI_CONTEXT c_ = nullptr;
    uint32_t rc_ = 0;
};

class SessionE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
        // pcscd notices a card that left at its next poll; start from empty slots.
        ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0) && !CardIn(kSlot1); }));
    }

    // Starts a token daemon in slot 0 or 1 with its state in `state` and waits until pcscd sees it.
    std::unique_ptr<e2e::Process> StartToken(int slot, const std::string &state) {
        auto p = std::make_unique<e2e::Process>(std::vector<std::string>{
            NKI_VTOKEN_PATH, "--state", dir_.File(state), "--port", std::to_string(e2e::VpcdPort() + slot)});
        EXPECT_TRUE(p->Started());
        const char *reader = slot == 0 ? kSlot0 : kSlot1;
        EXPECT_TRUE(e2e::WaitFor([reader] { return CardIn(reader); })) << reader;
        return p;
    }

    // Stops a daemon and waits until pcscd has noticed the card leaving.
    static void StopToken(e2e::Process &p, const char *reader) {
        EXPECT_EQ(p.Stop(), 0);
        EXPECT_TRUE(e2e::WaitFor([reader] { return !CardIn(reader); }));
    }

    // Opens a session, presents the PIN and makes sure the owner key exists; answers its public key.
    static Bytes ReadyToken(NKI_CONTEXT c, const char *reader) {
        Bytes key(2 * kElement);
        EXPECT_EQ(nkiOpenSession(c, reader, nullptr), NKI_OK) << reader;
        EXPECT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
        if (nkiGetOwnerPublicKey(c, key.data(), 0) == NKI_E_KEY_ABSENT) {
            EXPECT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);
            EXPECT_EQ(nkiGetOwnerPublicKey(c, key.data(), 0), NKI_OK);
        }
        return key;
    }

    TempDir dir_;
};

TEST_F(SessionE2E, PinOwnerKeyAndSignaturesOnTheFirstReaderWithACard) {
    Context c;
    ASSERT_EQ(c.CreateResult(), NKI_OK);
    EXPECT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_E_NOT_CONNECTED) << "no reader holds a card yet";

    auto token = StartToken(0, "t.state");
    ASSERT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_OK);
    EXPECT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_E_CONTEXT_IN_USE);
    EXPECT_EQ(nkiIsCardPresent(c), NKI_OK);

    tagTNKIinfo info{};
    uint8_t uid[8] = {};
    ASSERT_EQ(nkiGetInfo(c, &info), NKI_OK);
    ASSERT_EQ(nkiGetUID(c, uid), NKI_OK);
    EXPECT_EQ(std::memcmp(uid, info.Serial, 8), 0);
    EXPECT_EQ(info.Kind, NKI_KIND_ACTIVE_TOKEN);
    EXPECT_EQ(info.SignSize, kSig);
    EXPECT_EQ(info.PointSize, 2 * kElement);

    // A fresh token: no key, and nothing signed before the PIN.
    Bytes key(2 * kElement), sig(kSig);
    const Bytes data = Random(1000, 1);
    EXPECT_EQ(nkiGetOwnerPublicKey(c, key.data(), 0), NKI_E_KEY_ABSENT);
    EXPECT_EQ(nkiGenerateOwnerKeyPair(c), NKI_E_PIN_REQUIRED);

    // Wrong PINs count down the token's counter (10 attempts), the right one answers 0.
    EXPECT_EQ(nkiCheckPINEx(c, kWrongPin, 8), NKI_E_INVALID_PIN_BASE + 9);
    EXPECT_EQ(nkiCheckPINEx(c, kWrongPin, 8), NKI_E_INVALID_PIN_BASE + 8);
    EXPECT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);

    ASSERT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, key.data(), 0), NKI_OK);
    Bytes packed(kElement);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, packed.data(), 1), NKI_OK);

    // One-shot signature, verified in the library against both key forms.
    ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    ASSERT_EQ(nkiSignData(c, data.data(), static_cast<uint32_t>(data.size()), sig.data()), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, data.data(), static_cast<uint32_t>(data.size()), key.data(), sig.data(), 0), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, data.data(), static_cast<uint32_t>(data.size()), packed.data(), sig.data(), 1), NKI_OK);
    Bytes changed = data;
    changed[500] ^= 0x01;
    EXPECT_EQ(nkiVerifyData(c, changed.data(), static_cast<uint32_t>(changed.size()), key.data(), sig.data(), 0),
              NKI_E_INVALID_SIGNATURE);

    // A stream hashed in pieces signs the same message: the one-shot verifier accepts
    // it, and a stream verification in other pieces too.
    const Bytes stream = Random(20000, 2);
    Bytes streamSig(kSig);
    ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    for (std::size_t at = 0, n = 1; at < stream.size(); at += n, n = n * 3 + 7) {
        n = std::min(n, stream.size() - at);
        ASSERT_EQ(nkiDSLoadData(c, stream.data() + at, static_cast<uint32_t>(n)), NKI_OK);
    }
    ASSERT_EQ(nkiSignFinal(c, streamSig.data()), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, stream.data(), static_cast<uint32_t>(stream.size()), key.data(), streamSig.data(), 0),
              NKI_OK);
    ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    for (std::size_t at = 0; at < stream.size(); at += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, stream.size() - at);
        ASSERT_EQ(nkiDSLoadData(c, stream.data() + at, static_cast<uint32_t>(n)), NKI_OK);
    }
    EXPECT_EQ(nkiVerifyFinal(c, key.data(), streamSig.data(), 0), NKI_OK);
    ASSERT_EQ(nkiInitDS(c, nullptr), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(c, stream.data(), static_cast<uint32_t>(stream.size() - 1)), NKI_OK);
    EXPECT_EQ(nkiVerifyFinal(c, key.data(), streamSig.data(), 0), NKI_E_INVALID_SIGNATURE) << "one byte short";

    // Reopening: the key comes back from the token, the PIN must be presented again
    // (the card was powered down), and the old signature still verifies.
    ASSERT_EQ(nkiCloseSession(c), NKI_OK);
    EXPECT_EQ(nkiIsCardPresent(c), NKI_E_CONNECTION_ABORTED);
    ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
    Bytes again(2 * kElement);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, again.data(), 0), NKI_OK);
    EXPECT_EQ(again, key);
    EXPECT_EQ(nkiSignData(c, data.data(), static_cast<uint32_t>(data.size()), sig.data()), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(nkiCheckPINEx(c, kWrongPin, 8), NKI_E_INVALID_PIN_BASE + 9) << "the right PIN reset the counter";
    EXPECT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, data.data(), static_cast<uint32_t>(data.size()), key.data(), sig.data(), 0), NKI_OK);
    EXPECT_EQ(nkiCloseSession(c), NKI_OK);
}

TEST_F(SessionE2E, CertificatesAndUserFileSurviveReopeningAndADaemonRestart) {
    const Bytes ca = Random(700, 3);
    const std::vector<Bytes> certs = {Random(900, 4), Bytes(1500, 0x30), Bytes{}, Random(40, 5)};
    const Bytes userData = Random(300, 6);
    constexpr uint32_t kUserOffset = 3700;

    auto token = StartToken(0, "store.state");
    {
        Context c;
        ASSERT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_OK);
        int32_t fileSize = 0;
        ASSERT_EQ(nkiGetFileSize(c, &fileSize), NKI_OK);
        EXPECT_EQ(fileSize, 4096);
        EXPECT_EQ(nkiSetCert(c, certs[0].data(), static_cast<uint32_t>(certs[0].size())), NKI_E_PIN_REQUIRED);
        EXPECT_EQ(nkiWriteFile(c, userData.data(), kUserOffset, static_cast<uint32_t>(userData.size())),
                  NKI_E_PIN_REQUIRED);
        ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);

        // The refused writes left the cached store as it was: still empty.
        uint32_t size = 0;
        EXPECT_EQ(nkiGetCertSize(c, 1, &size), NKI_E_OUT_OF_RANGE);
        for (const auto &cert : certs)
            ASSERT_EQ(nkiSetCert(c, cert.data(), static_cast<uint32_t>(cert.size())), NKI_OK);
        // The CA certificate goes in front without shifting the certificates' indexes.
        ASSERT_EQ(nkiSetCACert(c, ca.data(), static_cast<uint32_t>(ca.size())), NKI_OK);
        ASSERT_EQ(nkiWriteFile(c, userData.data(), kUserOffset, static_cast<uint32_t>(userData.size())), NKI_OK);
        EXPECT_EQ(nkiWriteFile(c, userData.data(), 4000, static_cast<uint32_t>(userData.size())),
                  NKI_E_NO_SPACE)
            << "past the end of the user file";
    }

    auto expectStored = [&](const char *when) {
        SCOPED_TRACE(when);
        Context c;
        ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
        uint32_t length = 0;
        ASSERT_EQ(nkiGetCACert(c, nullptr, &length), NKI_OK);
        ASSERT_EQ(length, ca.size());
        Bytes got(length);
        length = 10;
        EXPECT_EQ(nkiGetCACert(c, got.data(), &length), NKI_E_BUFFER_TOO_SMALL);
        length = static_cast<uint32_t>(got.size());
        ASSERT_EQ(nkiGetCACert(c, got.data(), &length), NKI_OK);
        EXPECT_EQ(got, ca);
        for (std::size_t i = 0; i < certs.size(); ++i) {
            uint32_t size = 12345;
            ASSERT_EQ(nkiGetCertSize(c, static_cast<uint8_t>(i + 1), &size), NKI_OK) << i;
            ASSERT_EQ(size, certs[i].size()) << i;
            Bytes cert(size + 1, 0xEE);
            ASSERT_EQ(nkiGetCert(c, static_cast<uint8_t>(i + 1), cert.data()), NKI_OK);
            EXPECT_EQ(cert.back(), 0xEE) << "nothing written past the certificate";
            cert.pop_back();
            EXPECT_EQ(cert, certs[i]) << i;
        }
        uint32_t size = 0;
        EXPECT_EQ(nkiGetCertSize(c, static_cast<uint8_t>(certs.size() + 1), &size), NKI_E_OUT_OF_RANGE);
        Bytes file(userData.size() + 2);
        ASSERT_EQ(nkiReadFile(c, file.data(), kUserOffset - 1, static_cast<uint32_t>(file.size())), NKI_OK);
        EXPECT_EQ(file[0], 0) << "a fresh user file is zero";
        EXPECT_EQ(Bytes(file.begin() + 1, file.end() - 1), userData);
    };
    expectStored("after reopening");

    StopToken(*token, kSlot0);
    token = StartToken(0, "store.state");
    expectStored("after a daemon restart");

    // Removals are written back too: without the CA certificate and the second
    // certificate, index 2 is the former third one.
    {
        Context c;
        ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
        ASSERT_EQ(nkiClearCACert(c), NKI_OK);
        ASSERT_EQ(nkiDelCert(c, 2), NKI_OK);
    }
    Context c;
    ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
    uint32_t length = 0;
    EXPECT_EQ(nkiGetCACert(c, nullptr, &length), NKI_E_CERTS_NOT_LOADED);
    uint32_t size = 99;
    EXPECT_EQ(nkiGetCertSize(c, 1, &size), NKI_OK);
    EXPECT_EQ(size, certs[0].size());
    EXPECT_EQ(nkiGetCertSize(c, 2, &size), NKI_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(nkiGetCertSize(c, 3, &size), NKI_OK);
    EXPECT_EQ(size, certs[3].size());
    EXPECT_EQ(nkiGetCertSize(c, 4, &size), NKI_E_OUT_OF_RANGE);
}

TEST_F(SessionE2E, TwoTokensAgreeOnSessionKeysInBothFormsAndExchangeCiphertext) {
    auto tokenA = StartToken(0, "a.state");
    auto tokenB = StartToken(1, "b.state");
    Context a, b;
    const Bytes keyA = ReadyToken(a, kSlot0);
    const Bytes keyB = ReadyToken(b, kSlot1);
    ASSERT_FALSE(HasFailure());
    uint8_t uidA[8], uidB[8];
    ASSERT_EQ(nkiGetUID(a, uidA), NKI_OK);
    ASSERT_EQ(nkiGetUID(b, uidB), NKI_OK);
    EXPECT_NE(std::memcmp(uidA, uidB, 8), 0) << "two distinct tokens";

    tagTECParams paramsA{}, paramsB{};
    uint32_t length = 0;
    ASSERT_EQ(nkiGetCryptoParams(a, 255, &paramsA, &length), NKI_OK);
    ASSERT_EQ(length, sizeof paramsA);
    ASSERT_EQ(nkiGetCryptoParams(b, 255, &paramsB, &length), NKI_OK);

    // Signed SK token, A to B.
    uint32_t tokenSize = 0;
    ASSERT_EQ(nkiGetSKTokenSize(a, &tokenSize), NKI_OK);
    ASSERT_EQ(tokenSize, 4 + kElement + kSig);
    Bytes sk(tokenSize);
    std::array<uint8_t, 32> sentSigned{}, receivedSigned{};
    ASSERT_EQ(nkiGetSessionKeyEx(a, sentSigned.data(), 1, keyB.data(), 0, &paramsB, sk.data()), NKI_OK);
    EXPECT_EQ(Bytes(sk.begin(), sk.begin() + 4), (Bytes{kElement, 0, kSig, 0}));
    ASSERT_EQ(nkiSetSessionKeyEx(b, receivedSigned.data(), 1, keyA.data(), 0, &paramsA, sk.data()), NKI_OK);
    EXPECT_EQ(sentSigned, receivedSigned);
    Bytes forged = sk;
    forged[4 + 5] ^= 0x10;
    std::array<uint8_t, 32> scratch{};
    EXPECT_EQ(nkiSetSessionKeyEx(b, scratch.data(), 1, keyA.data(), 0, &paramsA, forged.data()),
              NKI_E_INVALID_TOKEN);
    EXPECT_EQ(nkiSetSessionKeyEx(b, scratch.data(), 1, keyB.data(), 0, &paramsA, sk.data()), NKI_E_INVALID_TOKEN)
        << "signed by A, checked against B's key";

    // MAC-protected SK token, B to A, with A's key compressed.
    Bytes keyACompressed(kElement);
    ASSERT_EQ(nkiGetOwnerPublicKey(a, keyACompressed.data(), 1), NKI_OK);
    ASSERT_EQ(nkiGetSKTokenSizeEx(b, paramsA, 1, &tokenSize), NKI_OK);
    ASSERT_EQ(tokenSize, 4 + kElement + 4);
    Bytes skMac(tokenSize);
    std::array<uint8_t, 32> sentMac{}, receivedMac{};
    ASSERT_EQ(nkiGetSessionKeyMac(b, sentMac.data(), 1, keyACompressed.data(), 1, &paramsA, skMac.data()), NKI_OK);
    EXPECT_EQ(Bytes(skMac.begin(), skMac.begin() + 4), (Bytes{kElement, 0, 4, 1}));
    ASSERT_EQ(nkiSetSessionKeyMac(a, receivedMac.data(), 1, skMac.data()), NKI_OK);
    EXPECT_EQ(sentMac, receivedMac);
    EXPECT_NE(sentMac, sentSigned) << "each agreement has a fresh ephemeral key";
    forged = skMac;
    forged[4 + kElement] ^= 0x01;
    EXPECT_EQ(nkiSetSessionKeyMac(a, scratch.data(), 1, forged.data()), NKI_E_INVALID_TOKEN);

    // Each agreed key works across the two contexts: A encrypts, B decrypts, and back.
    const uint8_t sync[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes plain = Random(1001, 7);
    for (const auto *key : {&sentSigned, &sentMac}) {
        ASSERT_EQ(nkiInitCipher(a, key->data(), sync, nullptr), NKI_OK);
        ASSERT_EQ(nkiInitCipher(b, key == &sentSigned ? receivedSigned.data() : receivedMac.data(), sync, nullptr),
                  NKI_OK);
        Bytes text = plain;
        ASSERT_EQ(nkiEncrypt(a, text.data(), 500, 3), NKI_OK);
        ASSERT_EQ(nkiEncrypt(a, text.data() + 500, 501, 3), NKI_OK);
        EXPECT_NE(text, plain);
        ASSERT_EQ(nkiDecrypt(b, text.data(), static_cast<uint32_t>(text.size()), 3), NKI_OK);
        EXPECT_EQ(text, plain);

        uint8_t mac[8];
        ASSERT_EQ(nkiGetMAC(b, plain.data(), static_cast<uint32_t>(plain.size()), mac), NKI_OK);
        EXPECT_EQ(nkiCheckMAC(a, plain.data(), static_cast<uint32_t>(plain.size()), mac), NKI_OK);
        mac[7] ^= 0x80;
        EXPECT_EQ(nkiCheckMAC(a, plain.data(), static_cast<uint32_t>(plain.size()), mac), NKI_E_INVALID_MAC);
    }
}

TEST_F(SessionE2E, APulledCardAnswers35AndTheContextRecovers) {
    auto token = StartToken(0, "pull.state");
    Context c;
    const Bytes key = ReadyToken(c, kSlot0);
    ASSERT_FALSE(HasFailure());
    const Bytes data = {'p', 'u', 'l', 'l'};
    Bytes sig(kSig), file(16);
    ASSERT_EQ(nkiReadFile(c, file.data(), 0, 16), NKI_OK);

    ASSERT_EQ(token->Stop(), 0);  // pulled, with no warning to the library
    EXPECT_EQ(nkiSignData(c, data.data(), static_cast<uint32_t>(data.size()), sig.data()),
              NKI_E_CONNECTION_ABORTED);
    ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(kSlot0); }));
    EXPECT_EQ(nkiReadFile(c, file.data(), 0, 16), NKI_E_CONNECTION_ABORTED);
    EXPECT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_E_CONNECTION_ABORTED);
    uint32_t size = 0;
    EXPECT_EQ(nkiGetCertSize(c, 1, &size), NKI_E_CONNECTION_ABORTED);
    // Work done in the library still answers, and the session closes cleanly.
    EXPECT_EQ(nkiIsCardPresent(c), NKI_OK) << "reports the session, not the card";
    EXPECT_EQ(nkiCloseSession(c), NKI_OK);
    EXPECT_EQ(nkiOpenSession(c, nullptr, nullptr), NKI_E_NOT_CONNECTED);

    // The card comes back: the same context opens a new session on it.
    token = StartToken(0, "pull.state");
    ASSERT_EQ(nkiOpenSession(c, kSlot0, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
    ASSERT_EQ(nkiSignData(c, data.data(), static_cast<uint32_t>(data.size()), sig.data()), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, data.data(), static_cast<uint32_t>(data.size()), key.data(), sig.data(), 0), NKI_OK);
}

struct DemoRun {
    int status = -1;
    std::string output;
};

DemoRun Demo(const std::string &args) {
    DemoRun run;
    FILE *p = ::popen((std::string(NKI_DEMO_PATH) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return run;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) run.output += buf;
    const int st = ::pclose(p);
    run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return run;
}

TEST_F(SessionE2E, DemoSignsAFileWithANewKeyThenWithTheSameKeyAndFailsCleanly) {
    EXPECT_EQ(Demo("").status, 1) << "no token";
    auto token = StartToken(0, "demo.state");
    const std::string file = dir_.File("letter.txt");
    {
        FILE *f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("a letter to be signed\n", f);
        std::fclose(f);
    }

    DemoRun first = Demo(file);
    EXPECT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("generating one"), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("signature verified"), std::string::npos) << first.output;
    DemoRun second = Demo("--pin 12345678 " + file);
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(second.output.find("generating one"), std::string::npos) << "the key is kept on the token";
    auto key = [](const std::string &out) { return out.substr(out.find("owner public key"), 120); };
    ASSERT_NE(first.output.find("owner public key"), std::string::npos);
    ASSERT_NE(second.output.find("owner public key"), std::string::npos);
    EXPECT_EQ(key(first.output), key(second.output));

    DemoRun wrong = Demo("--pin 1111 " + file);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.output.find("result 233"), std::string::npos) << wrong.output;
    EXPECT_EQ(Demo(dir_.File("missing")).status, 1);
    EXPECT_EQ(Demo("--bogus").status, 2);
}

}  // namespace
