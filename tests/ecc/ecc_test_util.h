// Helpers of the elliptic-curve tests: deterministic random sources, hex input,
// the data files and curve set-up.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/ecc/ecc_internal.h"
#include "kcarlib/ecc.h"

namespace ecctest {

struct Elem {
    uint32_t w[16] = {};
    uint32_t *operator*() { return w; }
    bool operator==(const Elem &o) const { return std::memcmp(w, o.w, sizeof w) == 0; }
};

inline Elem Hex(const std::string &s) {
    Elem e;
    kcar::ecc::S2B(e.w, s.c_str());
    return e;
}

inline std::string ToHex(const uint32_t *a) {
    std::string s;
    static const char *d = "0123456789ABCDEF";
    for (int i = 127; i >= 0; --i) s += d[(a[i / 8] >> (4 * (i % 8))) & 15];
    size_t p = s.find_first_not_of('0');
    return p == std::string::npos ? "0" : s.substr(p);
}

// xorshift64*: a reproducible bit source for RandFunc.
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed = 0x9E3779B97F4A7C15ull) : state(seed | 1) {}
    uint64_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    static int32_t Bit(void *ctx) { return static_cast<int32_t>(static_cast<Rng *>(ctx)->Next() >> 63); }
};

// Hands out the bits of a fixed number, lowest first, then zeros.
struct FixedBits {
    Elem value;
    int pos = 0;
    static int32_t Bit(void *ctx) {
        auto *f = static_cast<FixedBits *>(ctx);
        const int i = f->pos++;
        return i < 512 ? static_cast<int32_t>((f->value.w[i / 32] >> (i % 32)) & 1) : 0;
    }
};

inline Elem RandomElement(const TEcc *ecc, Rng &rng) {
    Elem e;
    for (int i = 0; i < 16; ++i) e.w[i] = static_cast<uint32_t>(rng.Next());
    const int m = static_cast<int>(ecc->M);
    for (int i = m; i < 512; ++i) e.w[i / 32] &= ~(1u << (i % 32));
    return e;
}

inline std::string DataPath(const std::string &name) { return std::string(ECC_TEST_DATA) + "/" + name; }

// Non-comment lines of a data file.
inline std::vector<std::string> DataLines(const std::string &name) {
    std::ifstream in(DataPath(name));
    EXPECT_TRUE(in.good()) << name;
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// "key = value" pairs of a [section] of dstu4145.txt.
inline std::map<std::string, std::string> Section(const std::string &name) {
    std::map<std::string, std::string> kv;
    bool in = false;
    for (const std::string &line : DataLines("dstu4145.txt")) {
        if (line[0] == '[') {
            in = line == "[" + name + "]";
            continue;
        }
        if (!in) continue;
        const auto eq = line.find('=');
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        k.erase(k.find_last_not_of(' ') + 1);
        v.erase(0, v.find_first_not_of(' '));
        kv[k] = v;
    }
    return kv;
}

// Prime degrees of the polynomial-basis standard curves.
inline const std::vector<int> &StdCurveDegrees() {
    static const std::vector<int> d = {163, 167, 173, 179, 191, 233, 257, 307, 367, 431, 509};
    return d;
}

// Degrees of the optimal-normal-basis standard curves.
inline const std::vector<int> &OnbCurveDegrees() {
    static const std::vector<int> d = {173, 179, 191, 233, 431, 509};
    return d;
}

// A standard curve with a base point generated from rng.
inline bool SetUpStdCurve(TEcc *ecc, int m, Rng *rng, int onb = 0) {
    EccInit(ecc, &Rng::Bit, rng);
    if (!EccSetStdCurve(ecc, m, onb)) return false;
    TEcPoint p;
    return EccGenerateBasePoint(ecc, &p) && EccSetBasePoint(ecc, &p);
}

}  // namespace ecctest
