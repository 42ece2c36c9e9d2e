// The generator behind every key and every per-signature value that the host
// makes for the carriers that keep their keys on the host (key files and
// container cards).
//
// The stored formats carry a generator seed and key, and the cipher generator
// adds the process clock. Those alone are predictable: the formatting key is a
// constant, and two processes that start at the same clock value would draw the
// same numbers from the same stored seed, so two signatures would share their
// per-signature value and give away the private key. The generator therefore
// also mixes 40 bytes from the operating system's random source into its seed
// and key each time it starts; the stored seed and key are left as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kcarlib/gost.h"

namespace kcar {

class HostRng {
public:
    HostRng() noexcept;
    ~HostRng();
    HostRng(const HostRng &) = delete;
    HostRng &operator=(const HostRng &) = delete;

    // Starts from the given seed and key (either may be null: zeros) mixed with
    // fresh system randomness. False when the system source fails; the generator
    // then stays unusable.
    bool Start(const uint8_t *seed8, const uint8_t *key32) noexcept;
    bool Ready() const noexcept { return ready_; }
    void Fill(uint8_t *out, std::size_t length) noexcept;
    // Random-bit function for TEcc; context is the HostRng.
    static int32_t EccBit(void *context) noexcept;

private:
    TMagmaRng rng_;
    bool ready_ = false;
};

// Test hooks. The system source: fills n bytes, true on success (null restores
// getrandom). The clock: fills the generator's 8-byte time block (null restores
// the process clock).
using EntropySource = bool (*)(uint8_t *out, std::size_t n);
using ClockSource = void (*)(uint8_t *time8);
void SetHostEntropySource(EntropySource source) noexcept;
void SetHostClockSource(ClockSource source) noexcept;
// The system source itself: getrandom, retried on interruption.
bool SystemRandom(uint8_t *out, std::size_t n) noexcept;

}  // namespace kcar
