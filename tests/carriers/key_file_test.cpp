// The key file carrier: format, open, the host key operations, password change,
// the refusals of a damaged file, the commit cut at every step of the file
// replacement, and the freshness of keys and per-signature values.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../support/temp_dir.h"
#include "carriers/atomic_file.h"
#include "carriers/host_random.h"
#include "carriers/key_file_carrier.h"
#include "kcarlib/nki_result.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Key {
    uint8_t b[32];
    explicit Key(uint8_t fill) { std::memset(b, fill, sizeof b); }
};

Bytes ReadAll(const std::string &path) {
    Bytes b;
    EXPECT_EQ(kcar::ReadWholeFile(path, 1 << 20, b), 0);
    return b;
}
void WriteAll(const std::string &path, const Bytes &b) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
}

class KeyFile : public ::testing::Test {
protected:
    testsupport::TempDir dir{"kcarlib-keyfile"};
    std::string path = dir.File("owner.nkif");
    Key a{0x11}, b{0x22};
    void SetUp() override { ASSERT_EQ(kcar::KeyFileCarrier::Format(path, a.b), NKI_OK); }
};

TEST_F(KeyFile, FormatOpenSignAndVerify) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 520) << "an empty container is the smallest file";
    kcar::KeyFileCarrier s;
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    EXPECT_EQ(s.State() & 0xE0000003, 0xE0000003u) << "open, PIN counted as accepted, owner key present";
    uint8_t hash[32] = {1, 2, 3}, sig[48];
    ASSERT_EQ(s.SignHash(hash, sig), NKI_OK);
    EXPECT_EQ(s.VerifyHash(s.OwnerPublicKey(), hash, sig), NKI_OK);
    hash[0] ^= 1;
    EXPECT_EQ(s.VerifyHash(s.OwnerPublicKey(), hash, sig), NKI_E_INVALID_SIGNATURE);
    EXPECT_EQ(s.GenerateOwnerKeyPair(), NKI_E_KEY_ALREADY_LOADED);
    EXPECT_EQ(s.ActivateFutureKey(), NKI_E_KEY_ABSENT);
    uint8_t challenge[8] = {9, 8, 7, 6, 5, 4, 3, 2}, response[64];
    ASSERT_EQ(s.AuthenticationResponse(challenge, response), NKI_OK);
    // The response is 16 random bytes and the signature of hash(random || challenge).
    uint8_t input[24], authHash[32];
    std::memcpy(input, response, 16);
    std::memcpy(input + 16, challenge, 8);
    kcar::HashWith(s.Curve(), input, sizeof input, authHash);
    EXPECT_EQ(s.VerifyHash(s.OwnerPublicKey(), authHash, response + 16), NKI_OK);
    s.ForgetPin();
    EXPECT_EQ(s.SignHash(hash, sig), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(s.AuthenticationResponse(challenge, response), NKI_E_PIN_REQUIRED);
}

int32_t SystemBit(void *) {
    uint8_t b = 0;
    kcar::SystemRandom(&b, 1);
    return b & 1;
}

TEST_F(KeyFile, WrapKeysMatchTheSendersKeys) {
    kcar::KeyFileCarrier s;
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    const kcar::CurveParams &c = s.Curve();
    TEcDHKD sender;
    ASSERT_TRUE(EcdhInitAll(&sender, c.m, c.k1, c.k2, c.k3, c.a, c.b, c.n, &c.p, c.hashSbox, c.hashIv, SystemBit,
                            nullptr));
    uint8_t k0[32], k1[32], r0[32], r1[32];
    TEcPoint ephemeral;
    ASSERT_TRUE(EcdhDeriveKeySend(&sender, &s.OwnerPublicKey(), k0, k1, &ephemeral));
    EcdhDone(&sender);
    ASSERT_EQ(s.WrapKeys(ephemeral, r0, r1), NKI_OK);
    EXPECT_EQ(std::memcmp(k0, r0, 32), 0);
    EXPECT_EQ(std::memcmp(k1, r1, 32), 0);
    ephemeral.y[0] ^= 1;
    EXPECT_EQ(s.WrapKeys(ephemeral, r0, r1), NKI_E_INVALID_TOKEN) << "a point off the curve";
}

TEST_F(KeyFile, KeysAndCertificatesSurviveReopening) {
    TEcPoint owner, future;
    {
        kcar::KeyFileCarrier s;
        ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
        owner = s.OwnerPublicKey();
        ASSERT_EQ(s.CreateFutureKey(), NKI_OK);
        future = s.FuturePublicKey();
        ASSERT_EQ(s.SetCertificateArea(Bytes{1, 2, 3, 4, 5}), NKI_OK);
    }
    kcar::KeyFileCarrier s;
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner));
    EXPECT_TRUE(PointIsEqual(&s.FuturePublicKey(), &future));
    EXPECT_EQ(s.CertificateArea(), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(ReadAll(path).size(), 464u + 64u) << "C + U = 5 gives B = 464";
    ASSERT_EQ(s.ActivateFutureKey(), NKI_OK);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &future));
    EXPECT_EQ(s.State() & 0x13, 0x03u);
    s.Close();
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &future)) << "the activated key was committed";
}

TEST_F(KeyFile, PasswordChangeRetiresTheOldKey) {
    kcar::KeyFileCarrier s;
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    ASSERT_EQ(s.ChangePassword(b.b), NKI_OK);
    s.Close();
    EXPECT_EQ(s.OpenFile(path, a.b), NKI_E_BAD_PASSWORD);
    EXPECT_EQ(s.OpenFile(path, b.b), NKI_OK);
}

TEST_F(KeyFile, OpeningRefusals) {
    Bytes good = ReadAll(path);
    struct Case {
        const char *what;
        std::function<void(Bytes &)> damage;
        uint32_t code;
    } cases[] = {
        {"519 bytes", [](Bytes &f) { f.resize(519); }, 32},
        {"length 16385", [](Bytes &f) { f[6] = 0x01; f[7] = 0x40; }, 32},
        {"enciphered byte", [](Bytes &f) { f[40] ^= 0x01; }, 32},
        {"CRC byte", [](Bytes &f) { f[11] ^= 0x01; }, 32},
    };
    kcar::KeyFileCarrier s;
    for (const Case &t : cases) {
        Bytes f = good;
        t.damage(f);
        WriteAll(path, f);
        EXPECT_EQ(s.OpenFile(path, a.b), t.code) << t.what;
    }
    WriteAll(path, good);
    EXPECT_EQ(s.OpenFile(path, b.b), NKI_E_BAD_PASSWORD) << "wrong key";
    EXPECT_EQ(s.OpenFile(dir.File("missing"), a.b), NKI_E_IO);
    EXPECT_EQ(s.OpenFile("", a.b), NKI_E_BAD_ARGUMENTS);
    EXPECT_EQ(s.OpenFile(path, nullptr), NKI_E_BAD_ARGUMENTS);
    EXPECT_EQ(kcar::KeyFileCarrier::Format(path, nullptr), NKI_E_BAD_ARGUMENTS);
}

// A file layer that works until step `cutAt` and from then on fails every
// operation, as a crash or a pulled drive would: the cut write leaves half of
// its bytes, and no clean-up happens after the cut.
class CutFiles : public kcar::PosixFiles {
public:
    explicit CutFiles(int cutAt) : cutAt_(cutAt) {}
    int steps = 0;
    bool cut = false;
    bool Next() {
        ++steps;
        if (steps >= cutAt_ && cutAt_ > 0) cut = true;
        return !cut;
    }
    int MakeTemp(char *t) override { return Next() ? PosixFiles::MakeTemp(t) : -1; }
    ssize_t Write(int fd, const void *d, std::size_t n) override {
        if (Next()) return PosixFiles::Write(fd, d, n);
        PosixFiles::Write(fd, d, n / 2);
        return -1;
    }
    int Sync(int fd) override { return Next() ? PosixFiles::Sync(fd) : -1; }
    int Close(int fd) override {
        PosixFiles::Close(fd);  // the descriptor goes away even in a crash
        return Next() ? 0 : -1;
    }
    int Rename(const char *f, const char *t) override { return Next() ? PosixFiles::Rename(f, t) : -1; }
    int Unlink(const char *p) override { return Next() ? PosixFiles::Unlink(p) : -1; }
    int OpenFolder(const char *p) override { return Next() ? PosixFiles::OpenFolder(p) : -1; }

private:
    int cutAt_;
};

struct LayerGuard {
    explicit LayerGuard(kcar::FileLayer *l) { kcar::SetFileLayer(l); }
    ~LayerGuard() { kcar::SetFileLayer(nullptr); }
};

TEST_F(KeyFile, CommitCutAtEveryStepLeavesOldOrNew) {
    // Count the steps of one undisturbed commit first.
    int total = 0;
    {
        CutFiles count(0);
        LayerGuard g(&count);
        kcar::KeyFileCarrier s;
        ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
        ASSERT_EQ(s.ChangePassword(b.b), NKI_OK);
        total = count.steps;
        ASSERT_EQ(s.ChangePassword(a.b), NKI_OK);
    }
    ASSERT_GE(total, 5);
    for (int cutAt = 1; cutAt <= total; ++cutAt) {
        ASSERT_EQ(kcar::KeyFileCarrier::Format(path, a.b), NKI_OK);
        kcar::KeyFileCarrier s;
        ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
        uint32_t rc;
        {
            CutFiles cut(cutAt);
            LayerGuard g(&cut);
            rc = s.ChangePassword(b.b);
        }
        s.Close();
        kcar::KeyFileCarrier check;
        bool oldOpens = check.OpenFile(path, a.b) == NKI_OK;
        check.Close();
        bool newOpens = check.OpenFile(path, b.b) == NKI_OK;
        EXPECT_TRUE(oldOpens != newOpens) << "cut at step " << cutAt;
        if (rc != NKI_OK) {
            EXPECT_TRUE(oldOpens) << "a failed commit must leave the old file, step " << cutAt;
        }
        for (const auto &name : dir.Entries())
            if (name != "owner.nkif") ::unlink(dir.File(name).c_str());  // debris of the cut
    }
}

TEST_F(KeyFile, FailedCommitRestoresKeysAndState) {
    kcar::KeyFileCarrier s;
    ASSERT_EQ(s.OpenFile(path, a.b), NKI_OK);
    const TEcPoint owner = s.OwnerPublicKey();
    const uint32_t state = s.State() | kcar::kStSignatureReady;  // the first key operation sets up the signer
    CutFiles cut(1);
    {
        LayerGuard g(&cut);
        EXPECT_EQ(s.CreateFutureKey(), NKI_E_IO);
        EXPECT_EQ(s.ChangePassword(b.b), NKI_E_IO);
    }
    EXPECT_EQ(s.State(), state);
    EXPECT_EQ(s.ActivateFutureKey(), NKI_E_KEY_ABSENT);
    ASSERT_EQ(s.CreateFutureKey(), NKI_OK);
    {
        LayerGuard g(&cut);
        EXPECT_EQ(s.ActivateFutureKey(), NKI_E_IO);
    }
    EXPECT_TRUE(PointIsEqual(&s.OwnerPublicKey(), &owner)) << "activation undone";
    EXPECT_EQ(s.State() & 0x10, 0x10u);
    s.Close();
    EXPECT_EQ(s.OpenFile(path, a.b), NKI_OK) << "the password change did not take effect";
}

// The generator's clock held at one value, and the system source switched off
// to show what the tests below would see without it.
void FixedClock(uint8_t *t) { std::memset(t, 0x5A, 8); }
bool NoEntropy(uint8_t *out, std::size_t n) {
    std::memset(out, 0, n);
    return true;
}

struct Sources {
    explicit Sources(bool systemRandom) {
        kcar::SetHostClockSource(FixedClock);
        kcar::SetHostEntropySource(systemRandom ? nullptr : NoEntropy);
    }
    ~Sources() {
        kcar::SetHostClockSource(nullptr);
        kcar::SetHostEntropySource(nullptr);
    }
};

// x(s·P + r·Q) is x(e·P) for the per-signature value e: equal values mean a
// shared e.
std::vector<uint32_t> CommitmentOf(const kcar::KeyFileCarrier &s, const uint8_t *sig) {
    TEcc ecc;
    EXPECT_EQ(kcar::SetUpCurve(ecc, s.Curve(), nullptr), 0u);
    uint32_t r[ECC_WORDS], sv[ECC_WORDS];
    kcar::WordsFromBytes(sig, 24, r);
    kcar::WordsFromBytes(sig + 24, 24, sv);
    TEcPoint a, b;
    EccScalarMul(&ecc, sv, &ecc.P, &a);
    EccScalarMul(&ecc, r, &s.OwnerPublicKey(), &b);
    AfSum(&ecc, &a, &b);
    EccDone(&ecc);
    return std::vector<uint32_t>(a.x, a.x + ECC_WORDS);
}

TEST_F(KeyFile, KeysAndSignatureValuesAreFreshWithAFixedClock) {
    for (bool systemRandom : {true, false}) {
        Sources sources(systemRandom);
        ASSERT_EQ(kcar::KeyFileCarrier::Format(dir.File("one"), a.b), NKI_OK);
        ASSERT_EQ(kcar::KeyFileCarrier::Format(dir.File("two"), a.b), NKI_OK);
        kcar::KeyFileCarrier one, two;
        ASSERT_EQ(one.OpenFile(dir.File("one"), a.b), NKI_OK);
        ASSERT_EQ(two.OpenFile(dir.File("two"), a.b), NKI_OK);
        EXPECT_EQ(PointIsEqual(&one.OwnerPublicKey(), &two.OwnerPublicKey()) != 0, !systemRandom)
            << (systemRandom ? "two formattings made the same owner key" : "the check cannot see the fault");
        two.Close();

        // Two sessions on one file sign different hashes.
        ASSERT_EQ(two.OpenFile(dir.File("one"), a.b), NKI_OK);
        uint8_t h1[32] = {1}, h2[32] = {2}, s1[48], s2[48];
        ASSERT_EQ(one.SignHash(h1, s1), NKI_OK);
        ASSERT_EQ(two.SignHash(h2, s2), NKI_OK);
        EXPECT_EQ(CommitmentOf(one, s1) == CommitmentOf(two, s2), !systemRandom)
            << (systemRandom ? "two sessions shared a per-signature value" : "the check cannot see the fault");
    }
}

}  // namespace
