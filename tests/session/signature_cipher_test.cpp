// Hashing and signatures, encryption and MAC through a session.
#include <cstring>
#include <string>

#include "kcarlib/gost.h"
#include "session_fixture.h"

using namespace sessiontest;

namespace {

Bytes GostHash(const std::string &message, const uint8_t *iv, const uint8_t *sbox) {
    TGostHash h;
    HashInit(&h, sbox, iv);
    HashUpdate(&h, message.data(), static_cast<uint32_t>(message.size()));
    Bytes out(32);
    HashFinal(&h, out.data());
    HashDone(&h);
    return out;
}

}  // namespace

TEST_F(Sessions, HashStreams) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    Bytes h(32);
    // Before any nkiInitHash: the default parameters.
    ASSERT_EQ(nkiGetHash(a, "abc", 3, h.data()), NKI_OK);
    EXPECT_EQ(h, GostHash("abc", nullptr, nullptr));
    ASSERT_EQ(nkiInitHash(a, nullptr, nullptr), NKI_OK);
    ASSERT_EQ(nkiGetHash(a, nullptr, 0, h.data()), NKI_OK);
    EXPECT_EQ(h, GostHash("", nullptr, Uz34311));
    // The stream continues after a final.
    ASSERT_EQ(nkiInitHash(a, nullptr, UzUa01), NKI_OK);
    ASSERT_EQ(nkiHashUpdate(a, "ab", 2), NKI_OK);
    ASSERT_EQ(nkiHashFinal(a, h.data()), NKI_OK);
    EXPECT_EQ(h, GostHash("ab", nullptr, UzUa01));
    ASSERT_EQ(nkiHashUpdate(a, "c", 1), NKI_OK);
    ASSERT_EQ(nkiHashFinal(a, h.data()), NKI_OK);
    EXPECT_EQ(h, GostHash("abc", nullptr, UzUa01));
}

TEST_F(Sessions, SignOnTheTokenVerifyInTheLibrary) {
    Ready(a, kReaderA);
    const std::string message = "document to be signed";
    Bytes sig(48);
    // No nkiInitDS yet: the token's own parameters.
    ASSERT_EQ(nkiSignData(a, message.data(), message.size(), sig.data()), NKI_OK);
    for (bool compressed : {false, true}) {
        Bytes key = OwnerKey(a, compressed);
        EXPECT_EQ(nkiVerifyData(a, message.data(), message.size(), key.data(), sig.data(), compressed), NKI_OK);
        std::string changed = message;
        changed[3] ^= 1;
        EXPECT_EQ(nkiVerifyData(a, changed.data(), changed.size(), key.data(), sig.data(), compressed),
                  NKI_E_INVALID_SIGNATURE);
    }
    Bytes key = OwnerKey(a, false);

    // The general hash with the token's parameters gives the hash that was signed.
    uint8_t iv[32], sbox[64];
    uint32_t length;
    ASSERT_EQ(nkiGetCryptoParams(a, 6, iv, &length), NKI_OK);
    ASSERT_EQ(nkiGetCryptoParams(a, 7, sbox, &length), NKI_OK);
    ASSERT_EQ(nkiInitHash(a, iv, sbox), NKI_OK);
    Bytes h(32);
    ASSERT_EQ(nkiGetHash(a, message.data(), message.size(), h.data()), NKI_OK);
    ASSERT_EQ(nkiInitDS(a, nullptr), NKI_OK);
    EXPECT_EQ(nkiVerifyHash(a, h.data(), key.data(), sig.data(), 0), NKI_OK);
    EXPECT_EQ(nkiVerifyHashEx(a, h.data(), key.data(), 0, sig.data(), 0), NKI_OK);
    EXPECT_EQ(nkiVerifyHashEx(a, h.data(), key.data(), 0, sig.data(), 47), NKI_E_INVALID_SIGNATURE);

    // A stream signs and verifies like the whole message.
    ASSERT_EQ(nkiInitDS(a, nullptr), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(a, message.data(), 5), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(a, message.data() + 5, message.size() - 5), NKI_OK);
    Bytes streamSig(48);
    ASSERT_EQ(nkiSignFinal(a, streamSig.data()), NKI_OK);
    ASSERT_EQ(nkiInitDS(a, nullptr), NKI_OK);
    ASSERT_EQ(nkiDSLoadData(a, message.data(), message.size()), NKI_OK);
    EXPECT_EQ(nkiVerifyFinal(a, key.data(), streamSig.data(), 0), NKI_OK);

    // Another party verifies with the signer's parameters on its own session.
    ASSERT_EQ(nkiOpenSession(b, kReaderB, nullptr), NKI_OK);
    tagTECParams p = Params(a);
    ASSERT_EQ(nkiInitDS(b, &p), NKI_OK);
    EXPECT_EQ(nkiVerifyData(b, message.data(), message.size(), key.data(), sig.data(), 0), NKI_OK);

    p.Px[0] ^= 1;  // base point off the curve
    EXPECT_EQ(nkiInitDS(b, &p), NKI_E_BAD_ARGUMENTS);

    uint8_t out16[16];
    EXPECT_EQ(nkiSignCAReq(a, h.data(), 0, sig.data(), out16), NKI_E_OUT_OF_RANGE);
    EXPECT_EQ(nkiSignCAReq(a, h.data(), 1, sig.data(), out16), NKI_OK);
    EXPECT_EQ(nkiVerifyHash(a, h.data(), key.data(), sig.data(), 0), NKI_OK);
}

TEST_F(Sessions, RefusedInitDSKeepsTheStream) {
    // A refused nkiInitDS between two pieces of a stream neither drops the first
    // piece nor changes the curve: the signer signs, and the verifier on the
    // signer's parameters verifies, the whole message.
    Ready(a, kReaderA);
    ASSERT_EQ(nkiOpenSession(b, kReaderB, nullptr), NKI_OK);
    tagTECParams bad = Params(a);
    bad.Px[0] ^= 1;  // base point off the curve
    tagTECParams signer = Params(a);
    ASSERT_EQ(nkiInitDS(a, nullptr), NKI_OK);
    ASSERT_EQ(nkiInitDS(b, &signer), NKI_OK);
    for (NKI_CONTEXT c : {a, b}) {
        ASSERT_EQ(nkiDSLoadData(c, "part1", 5), NKI_OK);
        EXPECT_EQ(nkiInitDS(c, &bad), NKI_E_BAD_ARGUMENTS);
        ASSERT_EQ(nkiDSLoadData(c, "part2", 5), NKI_OK);
    }
    Bytes sig(48);
    ASSERT_EQ(nkiSignFinal(a, sig.data()), NKI_OK);
    Bytes key = OwnerKey(a, false);
    EXPECT_EQ(nkiVerifyData(a, "part1part2", 10, key.data(), sig.data(), 0), NKI_OK);
    EXPECT_EQ(nkiVerifyFinal(b, key.data(), sig.data(), 0), NKI_OK);
}

TEST_F(Sessions, SigningNeedsThePin) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    Bytes sig(48, 0xEE), untouched(48, 0xEE);
    EXPECT_EQ(nkiSignData(a, "x", 1, sig.data()), NKI_E_PIN_REQUIRED);
    EXPECT_EQ(sig, untouched);
}

TEST_F(Sessions, CipherAndMac) {
    ASSERT_EQ(nkiOpenSession(a, kReaderA, nullptr), NKI_OK);
    uint8_t key[32], sync[8];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
    for (int i = 0; i < 8; ++i) sync[i] = static_cast<uint8_t>(0xA0 + i);
    Bytes data(16, 0x5A), original = data;
    EXPECT_EQ(nkiEncrypt(a, data.data(), 16, 1), NKI_E_NOT_INITIALIZED_OP);  // no key yet
    ASSERT_EQ(nkiInitCipher(a, key, sync, nullptr), NKI_OK);
    for (uint8_t mode : {0, 4}) {
        EXPECT_EQ(nkiEncrypt(a, data.data(), 16, mode), NKI_E_OUT_OF_RANGE);
        EXPECT_EQ(data, original);
    }
    // Mode 1 leaves a partial block alone.
    Bytes twelve(12, 0x33);
    ASSERT_EQ(nkiEncrypt(a, twelve.data(), 12, 1), NKI_OK);
    EXPECT_NE(Bytes(twelve.begin(), twelve.begin() + 8), Bytes(8, 0x33));
    EXPECT_EQ(Bytes(twelve.begin() + 8, twelve.end()), Bytes(4, 0x33));

    // Modes 2 and 3 continue across calls; the update exports are the same operation.
    for (uint8_t mode : {2, 3}) {
        Bytes whole = original, split = original;
        ASSERT_EQ(nkiResetCipher(a, nullptr), NKI_OK);
        ASSERT_EQ(nkiEncrypt(a, whole.data(), 16, mode), NKI_OK);
        ASSERT_EQ(nkiResetCipher(a, nullptr), NKI_OK);
        ASSERT_EQ(nkiEncryptUpdate(a, split.data(), 5, mode), NKI_OK);
        ASSERT_EQ(nkiEncrypt(a, split.data() + 5, 11, mode), NKI_OK);
        EXPECT_EQ(whole, split);
        ASSERT_EQ(nkiResetCipher(a, nullptr), NKI_OK);
        ASSERT_EQ(nkiDecryptUpdate(a, whole.data(), 16, mode), NKI_OK);
        EXPECT_EQ(whole, original);
    }

    // MAC: whole and streamed agree; a changed byte is caught.
    uint8_t mac[8], streamed[8];
    ASSERT_EQ(nkiGetMAC(a, original.data(), 16, mac), NKI_OK);
    EXPECT_EQ(nkiCheckMAC(a, original.data(), 16, mac), NKI_OK);
    mac[7] ^= 1;
    EXPECT_EQ(nkiCheckMAC(a, original.data(), 16, mac), NKI_E_INVALID_MAC);
    mac[7] ^= 1;
    ASSERT_EQ(nkiResetCipher(a, nullptr), NKI_OK);
    ASSERT_EQ(nkiMACUpdate(a, original.data(), 7), NKI_OK);
    ASSERT_EQ(nkiMACUpdate(a, original.data() + 7, 9), NKI_OK);
    ASSERT_EQ(nkiGetMACFinal(a, streamed), NKI_OK);
    EXPECT_EQ(0, std::memcmp(mac, streamed, 8));
    ASSERT_EQ(nkiResetCipher(a, sync), NKI_OK);
    ASSERT_EQ(nkiMACUpdate(a, original.data(), 16), NKI_OK);
    EXPECT_EQ(nkiCheckMACFinal(a, mac), NKI_OK);

    // The default table is Uz34311.
    Bytes withDefault = original, withExplicit = original;
    ASSERT_EQ(nkiInitCipher(a, key, sync, nullptr), NKI_OK);
    ASSERT_EQ(nkiEncrypt(a, withDefault.data(), 16, 2), NKI_OK);
    ASSERT_EQ(nkiInitCipher(a, key, sync, Uz34311), NKI_OK);
    ASSERT_EQ(nkiEncrypt(a, withExplicit.data(), 16, 2), NKI_OK);
    EXPECT_EQ(withDefault, withExplicit);
}
