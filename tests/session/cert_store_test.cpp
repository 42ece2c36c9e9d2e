// The user file and the certificate store on the token's certificate container.
#include <cstring>
#include <string>

#include "session_fixture.h"

using namespace sessiontest;

namespace {

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

}  // namespace

class CertStore : public Sessions {
protected:
    void SetUp() override {
        Sessions::SetUp();
        Ready(a, kReaderA);
    }
    Bytes Container() { return tokenA->state().files.at(0x0202); }
    Bytes Cert(uint8_t index) {
        uint32_t size = 0;
        EXPECT_EQ(nkiGetCertSize(a, index, &size), NKI_OK);
        Bytes out(size);
        EXPECT_EQ(nkiGetCert(a, index, out.data()), NKI_OK);
        return out;
    }
};

TEST_F(CertStore, CertificatesAndCaCertificate) {
    uint32_t length = 0, size = 0;
    EXPECT_EQ(nkiGetCACert(a, nullptr, &length), NKI_E_CERTS_NOT_LOADED);
    EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_OUT_OF_RANGE);

    const Bytes first = Text("first certificate"), second(3000, 0x42), ca = Text("the CA");
    ASSERT_EQ(nkiSetCert(a, first.data(), first.size()), NKI_OK);
    ASSERT_EQ(nkiSetCert(a, second.data(), second.size()), NKI_OK);
    ASSERT_EQ(nkiSetCert(a, nullptr, 0), NKI_OK);  // an empty certificate still counts
    EXPECT_EQ(Cert(1), first);
    EXPECT_EQ(Cert(2), second);
    ASSERT_EQ(nkiGetCertSize(a, 3, &size), NKI_OK);
    EXPECT_EQ(size, 0u);

    ASSERT_EQ(nkiSetCACert(a, ca.data(), ca.size()), NKI_OK);
    EXPECT_EQ(Cert(1), first);  // the CA record is not counted
    ASSERT_EQ(nkiGetCACert(a, nullptr, &length), NKI_OK);
    EXPECT_EQ(length, ca.size());
    Bytes small(3);
    length = 3;
    EXPECT_EQ(nkiGetCACert(a, small.data(), &length), NKI_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, ca.size());
    Bytes got(64);
    length = 64;
    ASSERT_EQ(nkiGetCACert(a, got.data(), &length), NKI_OK);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + length), ca);
    EXPECT_EQ(nkiSetCACert(a, ca.data(), 0), NKI_E_BAD_ARGUMENTS);

    // Kept on the token: a new session reads them back.
    ASSERT_EQ(nkiCloseSession(a), NKI_OK);
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    EXPECT_EQ(Cert(2), second);
    length = 64;
    ASSERT_EQ(nkiGetCACert(a, got.data(), &length), NKI_OK);
    EXPECT_EQ(length, ca.size());

    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    ASSERT_EQ(nkiDelCert(a, 1), NKI_OK);
    EXPECT_EQ(Cert(1), second);
    EXPECT_EQ(nkiDelCert(a, 3), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(nkiDelCert(a, 0), NKI_E_OUT_OF_RANGE);
    ASSERT_EQ(nkiClearCACert(a), NKI_OK);
    EXPECT_EQ(nkiClearCACert(a), NKI_E_CERTS_NOT_LOADED);
    EXPECT_EQ(Cert(1), second);
    ASSERT_EQ(nkiDelCert(a, 2), NKI_OK);
    ASSERT_EQ(nkiDelCert(a, 1), NKI_OK);
    // No certificates left: the packed empty store.
    Bytes c = Container();
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 6), (Bytes{0x02, 0x00, 0x00, 0xB0, 0xF9, 0x7F}));
}

TEST_F(CertStore, StoreIsNotCarriedToAnotherToken) {
    const Bytes mine = Text("belongs to token A");
    ASSERT_EQ(nkiSetCert(a, mine.data(), mine.size()), NKI_OK);
    ASSERT_EQ(nkiCloseSession(a), NKI_OK);
    Bytes before = tokenB->state().files.at(0x0202);
    ASSERT_EQ(nkiOpenSession(a, kReaderB, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    uint32_t size;
    EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_OUT_OF_RANGE);
    const Bytes theirs = Text("token B");
    ASSERT_EQ(nkiSetCert(a, theirs.data(), theirs.size()), NKI_OK);
    EXPECT_EQ(Cert(1), theirs);
    EXPECT_NE(tokenB->state().files.at(0x0202), before);
}

TEST_F(CertStore, DamagedContainersAreReadAs114AndReplacedByAFreshStore) {
    // Reads of a damaged container answer 114 and write nothing; a call that
    // writes a whole store starts a fresh one in its place.
    enum Repair { SetCert, SetCa, ClearCa };
    struct Case {
        Bytes head;
        Repair repair;
    } cases[] = {
        {{0x02, 0x00, 0x00, 0xB1, 0xF9, 0x7F}, SetCert},               // unknown packing
        {{0xFF, 0xFF, 0x00, 0xB0}, SetCa},                             // longer than the container
        {{0x03, 0x00, 0x00, 0xB0, 0x01, 0x00, 0x00}, ClearCa},         // no end item
        {{0xF0, 0xFF, 0x00, 0x00}, SetCert},                           // plain records run past the end
    };
    const Bytes cert = Text("fresh certificate"), ca = Text("fresh CA");
    for (const auto &c : cases) {
        ASSERT_EQ(nkiCloseSession(a), NKI_OK);
        Bytes &file = tokenA->MutableState().files.at(0x0202);
        std::fill(file.begin(), file.end(), 0);
        std::copy(c.head.begin(), c.head.end(), file.begin());
        const Bytes stored = file;
        ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
        ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
        uint32_t size, length = 0;
        uint8_t buffer[8];
        EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_CERTS_UNKNOWN_PACKING);
        EXPECT_EQ(nkiGetCert(a, 1, buffer), NKI_E_CERTS_UNKNOWN_PACKING);
        EXPECT_EQ(nkiGetCACert(a, nullptr, &length), NKI_E_CERTS_UNKNOWN_PACKING);
        EXPECT_EQ(nkiDelCert(a, 1), NKI_E_CERTS_UNKNOWN_PACKING);
        EXPECT_EQ(Container(), stored);  // nothing written

        switch (c.repair) {
            case SetCert: ASSERT_EQ(nkiSetCert(a, cert.data(), cert.size()), NKI_OK); break;
            case SetCa: ASSERT_EQ(nkiSetCACert(a, ca.data(), ca.size()), NKI_OK); break;
            case ClearCa: ASSERT_EQ(nkiClearCACert(a), NKI_OK); break;
        }
        // The fresh store is on the token: a new session reads it back.
        ASSERT_EQ(nkiCloseSession(a), NKI_OK);
        ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
        if (c.repair == SetCert) {
            EXPECT_EQ(Cert(1), cert);
            EXPECT_EQ(nkiGetCertSize(a, 2, &size), NKI_E_OUT_OF_RANGE);
        } else {
            EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_OUT_OF_RANGE);
        }
        EXPECT_EQ(nkiGetCACert(a, nullptr, &length), c.repair == SetCa ? NKI_OK : NKI_E_CERTS_NOT_LOADED);
        if (c.repair == SetCa) {
            EXPECT_EQ(length, ca.size());
        }
        ASSERT_EQ(nkiCheckPIN(a, kPin), NKI_OK);
    }
}

TEST_F(CertStore, EmptyPlainContainerIsAnEmptyStore) {
    ASSERT_EQ(nkiCloseSession(a), NKI_OK);
    Bytes &file = tokenA->MutableState().files.at(0x0202);
    std::fill(file.begin(), file.end(), 0);
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    uint32_t size;
    EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_OUT_OF_RANGE);
}

TEST_F(CertStore, StoreThatDoesNotFitIsNotWritten) {
    // Random bytes do not pack; a certificate too large for the container in
    // either form is refused and the cached store stays as it was.
    Bytes noise(8190);  // the container holds 8192 bytes
    uint32_t x = 12345;
    for (auto &v : noise) v = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    const Bytes stored = Container();
    EXPECT_EQ(nkiSetCert(a, noise.data(), noise.size()), NKI_E_NO_SPACE);
    EXPECT_EQ(Container(), stored);
    uint32_t size;
    EXPECT_EQ(nkiGetCertSize(a, 1, &size), NKI_E_OUT_OF_RANGE);
    // Fits only in the plain form.
    Bytes plainOnly(8192 - 12);
    for (auto &v : plainOnly) v = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    ASSERT_EQ(nkiSetCert(a, plainOnly.data(), plainOnly.size()), NKI_OK);
    EXPECT_NE(Container()[3], 0xB0);
    EXPECT_EQ(Cert(1), plainOnly);
}

TEST_F(CertStore, UserFile) {
    int32_t size = 0;
    ASSERT_EQ(nkiGetFileSize(a, &size), NKI_OK);
    EXPECT_EQ(size, 4096);
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(nkiWriteFile(a, data.data(), 4096 - 300, 300), NKI_OK);
    Bytes back(300);
    ASSERT_EQ(nkiReadFile(a, back.data(), 4096 - 300, 300), NKI_OK);
    EXPECT_EQ(back, data);
    EXPECT_EQ(nkiReadFile(a, back.data(), 4096 - 299, 300), NKI_E_NO_SPACE);
    EXPECT_EQ(nkiWriteFile(a, data.data(), 0xFFFFFFFFu, 2), NKI_E_NO_SPACE);
}
