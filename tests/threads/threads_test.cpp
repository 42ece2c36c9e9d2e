// Threads that each use contexts of their own: one context must be used by one
// thread at a time, but different contexts may be used from different threads.
// Each worker opens sessions on its own simulated token and signs, hashes,
// enciphers, agrees session keys and writes certificates; another makes and
// destroys contexts as fast as it can. Under ThreadSanitizer any shared state the
// library touches without care shows up as a race.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kcarlib/gost.h"
#include "kcarlib/nki.h"
#include "test_pcsc.h"
#include "vtoken.h"
#include "vtoken_testpcsc.h"

namespace {

using Bytes = std::vector<uint8_t>;
const uint8_t kPin[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
constexpr int kWorkers = 4;
constexpr int kRounds = 2;

std::unique_ptr<vtoken::Token> MakeToken(uint8_t serial) {
    vtoken::TokenOptions o;
    o.serial = {0, 0, serial, 2, 3, 4, 5, 6};
    vtoken::State s;
    std::string error;
    EXPECT_TRUE(vtoken::MakeState(o, s, error)) << error;
    return std::make_unique<vtoken::Token>(s);
}

// One worker's rounds on its own reader; answers the number of failed checks.
int Work(const std::string &reader, int id) {
    int failures = 0;
    auto check = [&](bool ok) { failures += ok ? 0 : 1; };
    for (int round = 0; round < kRounds; ++round) {
        NKI_CONTEXT c = nullptr;
        check(nkiCreateContext(&c, 3) == NKI_OK);
        check(nkiOpenSession(c, reader.c_str(), nullptr) == NKI_OK);
        check(nkiCheckPIN(c, kPin) == NKI_OK);
        check(nkiGenerateOwnerKeyPair(c) == NKI_OK);
        Bytes key(48), sig(48), hash(32);
        check(nkiGetOwnerPublicKey(c, key.data(), 0) == NKI_OK);
        const std::string message = "thread " + std::to_string(id) + " round " + std::to_string(round);
        const auto n = static_cast<uint32_t>(message.size());
        check(nkiSignData(c, message.data(), n, sig.data()) == NKI_OK);
        check(nkiVerifyData(c, message.data(), n, key.data(), sig.data(), 0) == NKI_OK);
        check(nkiGetHash(c, message.data(), n, hash.data()) == NKI_OK);

        uint8_t cipherKey[32] = {static_cast<uint8_t>(id)}, mac[8];
        Bytes data(message.begin(), message.end());
        check(nkiInitCipher(c, cipherKey, nullptr, nullptr) == NKI_OK);
        check(nkiEncrypt(c, data.data(), n, 2) == NKI_OK);
        check(nkiGetMAC(c, data.data(), n, mac) == NKI_OK);
        check(nkiCheckMAC(c, data.data(), n, mac) == NKI_OK);

        // A session key sent to the token's own key: the sending side runs in the
        // library and draws on the context's generator.
        tagTECParams params{};
        uint32_t length = 0;
        uint8_t sessionKey[32], received[32];
        Bytes token(32);
        check(nkiGetCryptoParams(c, 255, &params, &length) == NKI_OK);
        check(nkiGetSessionKeyMac(c, sessionKey, 1, key.data(), 0, &params, token.data()) == NKI_OK);
        check(nkiSetSessionKeyMac(c, received, 1, token.data()) == NKI_OK);
        check(std::memcmp(sessionKey, received, 32) == 0);

        const Bytes cert(200 + id, static_cast<uint8_t>(id));
        check(nkiSetCert(c, cert.data(), static_cast<uint32_t>(cert.size())) == NKI_OK);
        uint32_t size = 0;
        check(nkiGetCertSize(c, static_cast<uint8_t>(round + 1), &size) == NKI_OK && size == cert.size());
        check(nkiCloseSession(c) == NKI_OK);
        check(nkiDestroyContext(&c) == NKI_OK);
    }
    return failures;
}

}  // namespace

TEST(Threads, EachThreadWithItsOwnContexts) {
    testpcsc::Reset();
    std::vector<std::unique_ptr<vtoken::Token>> tokens;
    std::vector<std::string> readers;
    for (int i = 0; i < kWorkers; ++i) {
        readers.push_back("Virtual PCD 00 0" + std::to_string(i));
        testpcsc::AddReader(readers.back());
        tokens.push_back(MakeToken(static_cast<uint8_t>(0x10 + i)));
        testpcsc::InsertCard(readers.back(), vtoken::TestCard(*tokens.back()));
    }
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kWorkers; ++i)
        threads.emplace_back([&, i] { failures += Work(readers[i], i); });
    // Contexts made and destroyed, and software hashing, while the workers run.
    threads.emplace_back([&] {
        int made = 0;
        while (!done || made < 50) {
            NKI_CONTEXT c = nullptr;
            if (nkiCreateContext(&c, 3) != NKI_OK) ++failures;
            uint32_t size = 0;
            if (nkiGetSKTokenSize(c, &size) != NKI_E_NOT_CONNECTED) ++failures;
            if (nkiDestroyContext(&c) != NKI_OK) ++failures;
            TGostHash h;
            uint8_t out[32];
            HashInit(&h, nullptr, nullptr);
            HashUpdate(&h, "abc", 3);
            HashFinal(&h, out);
            HashDone(&h);
            ++made;
        }
    });
    for (int i = 0; i < kWorkers; ++i) threads[i].join();
    done = true;
    threads.back().join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(testpcsc::OpenContexts(), 0);
    testpcsc::Reset();
}
