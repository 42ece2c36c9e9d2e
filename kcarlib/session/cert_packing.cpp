#include "session/cert_packing.h"

#include <algorithm>

namespace kcar {
namespace {

constexpr std::size_t kMaxMatch = 20;
constexpr std::size_t kWindow = 2175;
constexpr std::size_t kEndDistance = 2176;
// A candidate's equal-byte count stops once it exceeds this.
constexpr std::size_t kCountCap = 64;

class BitWriter {
public:
    void Put(uint32_t value, int n) {
        for (int i = 0; i < n; ++i, ++bit_) {
            if ((bit_ & 7) == 0) out_.push_back(0);
            if ((value >> i) & 1) out_.back() |= static_cast<uint8_t>(1u << (bit_ & 7));
        }
    }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
    std::size_t bit_ = 0;
};

class BitReader {
public:
    BitReader(const uint8_t *p, std::size_t bytes) : p_(p), bits_(bytes * 8) {}
    // False when fewer than n bits are left.
    bool Get(int n, uint32_t &value) {
        if (static_cast<std::size_t>(n) > bits_ - pos_) return false;
        value = 0;
        for (int i = 0; i < n; ++i, ++pos_) value |= uint32_t((p_[pos_ >> 3] >> (pos_ & 7)) & 1) << i;
        return true;
    }

private:
    const uint8_t *p_;
    std::size_t bits_;
    std::size_t pos_ = 0;
};

void PutMatch(BitWriter &w, std::size_t length, std::size_t distance) {
    w.Put(1, 1);
    if (length <= 4) {
        w.Put(static_cast<uint32_t>(length - 2), 2);
    } else {
        w.Put(3, 2);
        w.Put(static_cast<uint32_t>(length - 5), 4);
    }
    if (distance <= 128) {
        w.Put(0, 1);
        w.Put(static_cast<uint32_t>(distance - 1), 7);
    } else {
        w.Put(1, 1);
        w.Put(static_cast<uint32_t>(distance - 129), 11);
    }
}

}  // namespace

std::vector<uint8_t> Pack(const uint8_t *input, std::size_t n) {
    BitWriter w;
    if (n > 0) {
        w.Put(0, 1);
        w.Put(input[0], 8);
    }
    std::size_t pos = 1;
    while (pos < n) {
        std::size_t best = 0, bestDistance = 0;
        for (std::size_t j = pos > kWindow ? pos - kWindow : 0; j < pos; ++j) {
            std::size_t count = 0;
            while (pos + count < n && input[pos + count] == input[j + count] && count <= kCountCap) ++count;
            if (count >= best) {  // on a tie the later, nearer candidate wins
                best = count;
                bestDistance = pos - j;
            }
        }
        std::size_t length = std::min({best, kMaxMatch, n - pos});
        if (length >= 2) {
            PutMatch(w, length, bestDistance);
            pos += length;
        } else {
            w.Put(0, 1);
            w.Put(input[pos], 8);
            pos += 1;
        }
    }
    // The end item: match bit, length field 0, long distance flag, then 0x7FF.
    w.Put(9, 4);
    w.Put(0x7FF, 11);
    return w.Take();
}

bool Unpack(const uint8_t *input, std::size_t L, std::vector<uint8_t> &output, std::size_t limit) {
    output.clear();
    if (L == 0) return true;
    BitReader r(input, L);
    while (output.size() < limit) {
        uint32_t flag, v;
        if (!r.Get(1, flag)) return false;
        if (flag == 0) {
            if (!r.Get(8, v)) return false;
            output.push_back(static_cast<uint8_t>(v));
            continue;
        }
        uint32_t lengthField;
        if (!r.Get(2, lengthField)) return false;
        std::size_t length = lengthField + 2;
        if (lengthField == 3) {
            if (!r.Get(4, v)) return false;
            length = 5 + v;
        }
        uint32_t longDistance;
        if (!r.Get(1, longDistance)) return false;
        std::size_t distance;
        if (longDistance) {
            if (!r.Get(11, v)) return false;
            distance = v + 129;
        } else {
            if (!r.Get(7, v)) return false;
            distance = v + 1;
        }
        if (distance == kEndDistance) return true;
        if (output.empty()) return false;  // nothing to refer back to
        length = std::min(length, limit - output.size());
        distance = std::min(distance, output.size());
        for (std::size_t i = 0; i < length; ++i) output.push_back(output[output.size() - distance]);
    }
    return false;
}

}  // namespace kcar
