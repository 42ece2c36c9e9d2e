// Reader of the vector files: '#' lines are comments, "[name]" opens a section,
// "Field = value" sets a field. A value is hex bytes, a "quoted" ASCII string, a
// table name, or empty.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace gosttest {

using Bytes = std::vector<uint8_t>;

struct Section {
    std::string name;
    std::map<std::string, std::string> fields;

    bool has(const std::string &f) const { return fields.count(f) != 0; }
    const std::string &text(const std::string &f) const { return fields.at(f); }

    // The field as bytes: a quoted string as its ASCII bytes, otherwise hex.
    Bytes bytes(const std::string &f) const {
        const std::string &v = fields.at(f);
        if (!v.empty() && v.front() == '"') return Bytes(v.begin() + 1, v.end() - 1);
        if (v.size() % 2 != 0) throw std::runtime_error("odd hex in " + name + "/" + f);
        Bytes out;
        for (size_t i = 0; i < v.size(); i += 2) out.push_back(uint8_t(std::stoul(v.substr(i, 2), nullptr, 16)));
        return out;
    }
};

inline std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

inline std::vector<Section> ReadVectors(const std::string &file) {
    std::ifstream in(std::string(GOST_TEST_DATA) + "/" + file);
    if (!in) throw std::runtime_error("cannot open " + file);
    std::vector<Section> out;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            out.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || out.empty()) throw std::runtime_error("bad line in " + file + ": " + line);
        out.back().fields[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
    return out;
}

inline std::string Hex(const uint8_t *p, size_t n) {
    static const char *d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}
inline std::string Hex(const Bytes &b) { return Hex(b.data(), b.size()); }

// Deterministic filler for differential tests.
struct Lcg {
    uint64_t s;
    explicit Lcg(uint64_t seed) : s(seed) {}
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(s >> 33);
    }
    Bytes bytes(size_t n) {
        Bytes b(n);
        for (auto &x : b) x = uint8_t(next());
        return b;
    }
};

}  // namespace gosttest
