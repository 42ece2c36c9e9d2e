#include "carriers/host_random.h"

#include <sys/random.h>

#include <cerrno>

#include "crypto/secure_wipe.h"

namespace kcar {

namespace {
EntropySource g_entropy = nullptr;
ClockSource g_clock = nullptr;
}  // namespace

void SetHostEntropySource(EntropySource source) noexcept { g_entropy = source; }
void SetHostClockSource(ClockSource source) noexcept { g_clock = source; }

bool SystemRandom(uint8_t *out, std::size_t n) noexcept {
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::getrandom(out + done, n - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

HostRng::HostRng() noexcept { MagmaRngInit(&rng_, nullptr, nullptr, nullptr, nullptr); }

HostRng::~HostRng() { MagmaRngDone(&rng_); }

bool HostRng::Start(const uint8_t *seed8, const uint8_t *key32) noexcept {
    ready_ = false;
    uint8_t fresh[40];
    bool ok = g_entropy != nullptr ? g_entropy(fresh, sizeof fresh) : SystemRandom(fresh, sizeof fresh);
    if (!ok) {
        SecureWipe(fresh, sizeof fresh);
        return false;
    }
    uint8_t seed[8], key[32], time[8];
    for (int i = 0; i < 8; ++i) seed[i] = static_cast<uint8_t>((seed8 ? seed8[i] : 0) ^ fresh[i]);
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>((key32 ? key32[i] : 0) ^ fresh[8 + i]);
    const uint8_t *timeBlock = nullptr;
    if (g_clock != nullptr) {
        g_clock(time);
        timeBlock = time;
    }
    MagmaRngInit(&rng_, seed, nullptr, key, timeBlock);
    SecureWipe(fresh, sizeof fresh);
    SecureWipe(seed, sizeof seed);
    SecureWipe(key, sizeof key);
    ready_ = true;
    return true;
}

void HostRng::Fill(uint8_t *out, std::size_t length) noexcept {
    MagmaRngBuf(&rng_, out, static_cast<int64_t>(length));
}

int32_t HostRng::EccBit(void *context) noexcept {
    return MagmaRngNextBit(&static_cast<HostRng *>(context)->rng_);
}

}  // namespace kcar
