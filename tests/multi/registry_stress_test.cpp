// Several threads create, use and destroy contexts of the multi-carrier registry
// at once. Each thread's own contexts must stay valid however the others insert
// and remove theirs; run under ThreadSanitizer (KCARLIB_MULTI_TSAN) it also shows
// that the registry is never walked while another thread relinks it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kcarlib/nki.h"

namespace {

TEST(RegistryStress, ThreadsCreateUseAndDestroyContextsAtOnce) {
    constexpr int kThreads = 6, kRounds = 300;
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &faults] {
            std::vector<NKI_CONTEXT> held;
            for (int round = 0; round < kRounds; ++round) {
                NKI_CONTEXT c = 0;
                if (nkiCreateContext(&c, (round + t) % 2 ? 3 : 0) != NKI_OK || c <= 0) {
                    ++faults;
                    continue;
                }
                held.push_back(c);
                uint8_t uid[8];
                int32_t keySize = 0, signatureSize = 0;
                // Known contexts answer for their own state, never 1.
                for (NKI_CONTEXT mine : held) {
                    const uint32_t rc = nkiGetUID(mine, uid);
                    if (rc != NKI_E_NOT_CONNECTED && rc != NKI_E_UNSUPPORTED_NKI) ++faults;
                    if (nkiGetCurrentDsSizes(mine, &keySize, &signatureSize) == NKI_E_INVALID_CONTEXT) ++faults;
                }
                // Destroy the oldest, or every other round the newest (the last handle).
                if (held.size() > 3) {
                    auto it = round % 2 ? held.begin() : held.end() - 1;
                    NKI_CONTEXT gone = *it;
                    if (nkiDestroyContext(&gone) != NKI_OK || gone != 0) ++faults;
                    held.erase(it);
                }
            }
            for (NKI_CONTEXT c : held)
                if (nkiDestroyContext(&c) != NKI_OK) ++faults;
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(faults.load(), 0);
}

}  // namespace
