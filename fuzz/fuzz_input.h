// Reading a fuzzer's input as a sequence of small values. Running out of input
// gives zeros, so every input, however short, is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fuzz {

class Input {
public:
    Input(const uint8_t *data, std::size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    std::size_t left() const { return n_; }
    uint8_t Byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    uint32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    // Up to count bytes (fewer when the input ends).
    std::vector<uint8_t> Bytes(std::size_t count) {
        if (count > n_) count = n_;
        std::vector<uint8_t> b(p_, p_ + count);
        p_ += count;
        n_ -= count;
        return b;
    }
    // Exactly count bytes, zero-filled past the end of the input.
    std::vector<uint8_t> Fixed(std::size_t count) {
        std::vector<uint8_t> b = Bytes(count);
        b.resize(count, 0);
        return b;
    }
    std::vector<uint8_t> Rest() { return Bytes(n_); }

private:
    const uint8_t *p_;
    std::size_t n_;
};

// A fault found: abort, so that the fuzzer and the replay both report it.
inline void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace fuzz
