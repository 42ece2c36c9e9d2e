// A program that defines functions named like the library's crypto families
// (HashInit, IntAdd, MagmaInit) must not change what the library computes: the
// library's own calls stay bound to its own definitions. The decoys only count
// their calls and do nothing; the expected values come from the library's real
// functions, found past the decoys with dlsym(RTLD_NEXT).
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "kcarlib/nki.h"
#include "../support/temp_dir.h"

namespace {
int g_decoyCalls = 0;
}  // namespace

extern "C" {
void HashInit(TGostHash *, const void *, const void *) { ++g_decoyCalls; }
uint32_t IntAdd(uint32_t *, const uint32_t *) {
    ++g_decoyCalls;
    return 0;
}
void MagmaInit(TGostCipher *, const void *, const void *) { ++g_decoyCalls; }
}

namespace {

const char kReader[] = "Virtual PCD 00 00";
const uint8_t kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
using Bytes = std::vector<uint8_t>;

template <typename F>
F Real(const char *name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool CardIn() {
    int32_t kind = 0;
    return nkiGetDeviceType(kReader, &kind) == NKI_OK;
}

TEST(Interposition, LibraryKeepsItsOwnHashSignatureCheckAndCipher) {
    if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
    auto realHashInit = Real<void (*)(TGostHash *, const void *, const void *)>("HashInit");
    auto realMagmaInit = Real<void (*)(TGostCipher *, const void *, const void *)>("MagmaInit");
    ASSERT_NE(realHashInit, nullptr);
    ASSERT_NE(realMagmaInit, nullptr);
    ASSERT_NE(reinterpret_cast<void *>(realHashInit), reinterpret_cast<void *>(&HashInit));

    testsupport::TempDir dir;
    e2e::Process token({NKI_VTOKEN_PATH, "--state", dir.File("t.state"), "--port", std::to_string(e2e::VpcdPort())});
    ASSERT_TRUE(token.Started());
    ASSERT_TRUE(e2e::WaitFor(CardIn));

    NKI_CONTEXT c = nullptr;
    ASSERT_EQ(nkiCreateContext(&c, NKI_KIND_ACTIVE_TOKEN), NKI_OK);
    ASSERT_EQ(nkiOpenSession(c, kReader, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
    ASSERT_EQ(nkiGenerateOwnerKeyPair(c), NKI_OK);

    // Hash with the default parameters.
    const std::string message = "message hashed, signed and enciphered";
    Bytes got(32), want(32);
    ASSERT_EQ(nkiInitHash(c, nullptr, nullptr), NKI_OK);
    ASSERT_EQ(nkiGetHash(c, message.data(), static_cast<uint32_t>(message.size()), got.data()), NKI_OK);
    TGostHash h;
    realHashInit(&h, nullptr, nullptr);
    HashUpdate(&h, message.data(), static_cast<uint32_t>(message.size()));
    HashFinal(&h, want.data());
    HashDone(&h);
    EXPECT_EQ(got, want) << "hash";

    // A signature made by the token verifies in the library; a changed message does not.
    Bytes key(48), sig(48);
    ASSERT_EQ(nkiGetOwnerPublicKey(c, key.data(), 0), NKI_OK);
    ASSERT_EQ(nkiSignData(c, message.data(), static_cast<uint32_t>(message.size()), sig.data()), NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, message.data(), static_cast<uint32_t>(message.size()), key.data(), sig.data(), 0),
              NKI_OK);
    EXPECT_EQ(nkiVerifyData(c, message.data(), 5, key.data(), sig.data(), 0), NKI_E_INVALID_SIGNATURE);

    // Simple replacement with the default table.
    uint8_t cipherKey[32];
    for (int i = 0; i < 32; ++i) cipherKey[i] = static_cast<uint8_t>(3 * i + 1);
    Bytes data(16, 0xA5), expected = data;
    ASSERT_EQ(nkiInitCipher(c, cipherKey, nullptr, nullptr), NKI_OK);
    ASSERT_EQ(nkiEncrypt(c, data.data(), 16, 1), NKI_OK);
    TGostCipher cipher;
    realMagmaInit(&cipher, Uz34311, cipherKey);
    MagmaM1Encrypt(&cipher, expected.data(), 16);
    MagmaDone(&cipher);
    EXPECT_EQ(data, expected) << "cipher";

    EXPECT_EQ(g_decoyCalls, 0) << "the library called the program's functions";
    EXPECT_EQ(nkiDestroyContext(&c), NKI_OK);
}

}  // namespace
