#include "token_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "curve191.h"

namespace vtoken {

namespace {

const char *kMagic = "nki-vtoken-state 1";
const char *kEndLine = "end";
// mkstemp's six characters after "PATH.": the temporary file of a save.
constexpr std::size_t kTempSuffix = 6;
constexpr std::size_t kStatusFileSize = 32;
constexpr std::size_t kInfoFileSize = 36;
constexpr uint32_t kMaxFileSize = 0xFFFF;  // the size field of the file information has two bytes

std::string Hex(const uint8_t *p, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

bool FromHex(const std::string &s, Bytes &out) {
    out.clear();
    if (s.size() % 2) return false;
    out.reserve(s.size() / 2);
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = s[i + k];
            int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

template <std::size_t N>
bool FromHexFixed(const std::string &s, std::array<uint8_t, N> &out) {
    Bytes b;
    if (!FromHex(s, b) || b.size() != N) return false;
    std::memcpy(out.data(), b.data(), N);
    return true;
}

bool ParseUint(const std::string &s, unsigned long max, unsigned long &out) {
    if (s.empty() || s.size() > 10) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    out = std::stoul(s);
    return out <= max;
}

std::vector<std::string> Words(const std::string &s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string t; in >> t;) w.push_back(t);
    return w;
}

bool ParseRef(const std::string &value, RefData &ref) {
    auto w = Words(value);
    unsigned long left, max;
    if (w.size() != 3 || !FromHexFixed(w[0], ref.value) || !ParseUint(w[1], 15, left) || !ParseUint(w[2], 15, max) ||
        max == 0 || left > max)
        return false;
    ref.triesLeft = static_cast<uint8_t>(left);
    ref.triesMax = static_cast<uint8_t>(max);
    return true;
}

bool ParseKey(const std::string &value, KeySlot &slot) {
    auto w = Words(value);
    slot = KeySlot{};
    if (w.size() == 1 && w[0] == "empty") return true;
    if (w.size() != 4 || (w[0] != "ready" && w[0] != "pending")) return false;
    slot.state = w[0] == "ready" ? KeyState::Ready : KeyState::Pending;
    std::array<uint8_t, 24> x{}, y{};
    if (!FromHexFixed(w[1], slot.d) || !FromHexFixed(w[2], x) || !FromHexFixed(w[3], y)) return false;
    std::memcpy(slot.pub.data(), x.data(), 24);
    std::memcpy(slot.pub.data() + 24, y.data(), 24);
    return true;
}

std::string Dir(const std::string &path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace

void RandomBytes(uint8_t *out, std::size_t n) {
    while (n > 0) {
        ssize_t r = ::getrandom(out, n, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::perror("getrandom");
            std::abort();
        }
        out += r;
        n -= static_cast<std::size_t>(r);
    }
}

bool PinBlock(const std::string &pin, std::array<uint8_t, 8> &block) {
    if (pin.empty() || pin.size() > 8) return false;
    block.fill(0);
    std::memcpy(block.data(), pin.data(), pin.size());
    return true;
}

bool MakeState(const TokenOptions &options, State &state, std::string &error) {
    State s;
    if (!PinBlock(options.pin, s.ref5.value) || !PinBlock(options.ref6, s.ref6.value)) {
        error = "a PIN must have 1 to 8 characters";
        return false;
    }
    if (options.keySlots < 1 || options.keySlots > 255) {
        error = "the number of key slots must be 1 to 255";
        return false;
    }
    if (options.containerSizes.empty() || options.containerSizes.size() > 255) {
        error = "there must be 1 to 255 containers";
        return false;
    }
    if (options.version.size() + 1 > kStatusFileSize - 8) {
        error = "the version text is too long";
        return false;
    }
    s.serial = options.serial;
    bool zero = true;
    for (uint8_t b : s.serial) zero = zero && b == 0;
    if (zero) RandomBytes(s.serial.data() + 2, 6);
    s.keys.resize(static_cast<std::size_t>(options.keySlots));

    // Status: bytes 0 and 1 the token's version (01 09: no key agreement for key
    // number 0), byte 2 bit 3 clear (the token signs documents), version text at 8.
    Bytes status(kStatusFileSize, 0);
    status[0] = 0x01;
    status[1] = 0x09;
    std::memcpy(status.data() + 8, options.version.data(), options.version.size());
    s.files[kStatusFile] = status;
    s.files[kCurveFile] = CurveRecord();
    s.files[kInfoFile] = Bytes(kInfoFileSize, 0);
    for (std::size_t i = 0; i < options.containerSizes.size(); ++i) {
        uint32_t size = options.containerSizes[i];
        if (size > kMaxFileSize) {
            error = "a container may hold at most 65535 bytes";
            return false;
        }
        if (size > 0) s.files[static_cast<uint16_t>(kFirstContainer + i)] = Bytes(size, 0);
    }
    state = std::move(s);
    return true;
}

std::string Serialize(const State &s) {
    std::ostringstream out;
    out << kMagic << "\n";
    out << "serial = " << Hex(s.serial.data(), 8) << "\n";
    out << "ref5 = " << Hex(s.ref5.value.data(), 8) << " " << int(s.ref5.triesLeft) << " " << int(s.ref5.triesMax)
        << "\n";
    out << "ref6 = " << Hex(s.ref6.value.data(), 8) << " " << int(s.ref6.triesLeft) << " " << int(s.ref6.triesMax)
        << "\n";
    out << "stamps = " << s.stamps << "\n";
    for (std::size_t i = 0; i < s.keys.size(); ++i) {
        const KeySlot &k = s.keys[i];
        out << "key" << i + 1 << " = ";
        if (k.state == KeyState::Empty) {
            out << "empty\n";
            continue;
        }
        out << (k.state == KeyState::Ready ? "ready " : "pending ") << Hex(k.d.data(), 24) << " "
            << Hex(k.pub.data(), 24) << " " << Hex(k.pub.data() + 24, 24) << "\n";
    }
    for (const auto &[fid, content] : s.files) {
        uint8_t id[2] = {static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid)};
        out << "file " << Hex(id, 2) << " = " << Hex(content.data(), content.size()) << "\n";
    }
    out << kEndLine << "\n";
    return out.str();
}

bool Parse(const std::string &text, State &state, std::string &error) {
    State s;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool haveSerial = false, have5 = false, have6 = false, haveStamps = false, haveEnd = false;
    std::map<unsigned long, KeySlot> keys;
    auto fail = [&](const std::string &why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    if (!std::getline(in, line) || line != kMagic) {
        error = "not a token state file";
        return false;
    }
    lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty()) continue;
        if (haveEnd) return fail("text after the end line");
        if (line == kEndLine) {
            haveEnd = true;
            continue;
        }
        auto eq = line.find(" = ");
        if (eq == std::string::npos) return fail("expected NAME = VALUE");
        std::string name = line.substr(0, eq), value = line.substr(eq + 3);
        if (name == "serial") {
            if (!FromHexFixed(value, s.serial)) return fail("bad serial");
            haveSerial = true;
        } else if (name == "ref5") {
            if (!ParseRef(value, s.ref5)) return fail("bad reference data");
            have5 = true;
        } else if (name == "ref6") {
            if (!ParseRef(value, s.ref6)) return fail("bad reference data");
            have6 = true;
        } else if (name == "stamps") {
            unsigned long v;
            if (!ParseUint(value, 0xFFFFFFFFul, v)) return fail("bad stamp counter");
            s.stamps = static_cast<uint32_t>(v);
            haveStamps = true;
        } else if (name.rfind("key", 0) == 0) {
            unsigned long n;
            KeySlot slot;
            if (!ParseUint(name.substr(3), 255, n) || n == 0 || keys.count(n)) return fail("bad key slot number");
            if (!ParseKey(value, slot)) return fail("bad key slot");
            keys[n] = slot;
        } else if (name.rfind("file ", 0) == 0) {
            Bytes id, content;
            if (!FromHex(name.substr(5), id) || id.size() != 2) return fail("bad file identifier");
            uint16_t fid = static_cast<uint16_t>(id[0] << 8 | id[1]);
            if (fid == kKeyFile || s.files.count(fid)) return fail("file given twice or not a transparent file");
            if (!FromHex(value, content) || content.size() > kMaxFileSize) return fail("bad file content");
            s.files[fid] = std::move(content);
        } else {
            return fail("unknown name " + name);
        }
    }
    // A file cut while it was written ends before its end line; without the check
    // it would load with key slots or files silently missing.
    if (!haveEnd) {
        error = "the file ends before its end line (cut while being written?)";
        return false;
    }
    if (!haveSerial || !have5 || !have6 || !haveStamps || keys.empty() || !s.files.count(kStatusFile) ||
        !s.files.count(kCurveFile)) {
        error = "serial, reference data, stamp counter, key slots, status or curve file missing";
        return false;
    }
    if (keys.rbegin()->first != keys.size()) {
        error = "key slots must be numbered 1 to n without gaps";
        return false;
    }
    for (auto &[n, slot] : keys) s.keys.push_back(slot);
    state = std::move(s);
    return true;
}

void RemoveStaleTemporaries(const std::string &path) {
    const std::string dir = Dir(path);
    const auto slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + kTempSuffix || name.compare(0, prefix.size(), prefix) != 0) continue;
        bool temp = true;
        for (std::size_t i = prefix.size(); i < name.size(); ++i)
            temp = temp && std::isalnum(static_cast<unsigned char>(name[i]));
        if (temp) ::unlink((dir + "/" + name).c_str());
    }
    ::closedir(d);
}

int LoadStateFile(const std::string &path, State &state, std::string &error) {
    RemoveStaleTemporaries(path);
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return 0;
        error = path + ": " + std::strerror(errno);
        return -1;
    }
    std::string text;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool readError = std::ferror(f);
    std::fclose(f);
    if (readError) {
        error = path + ": read error";
        return -1;
    }
    if (!Parse(text, state, error)) {
        error = path + ": " + error;
        return -1;
    }
    return 1;
}

bool SaveStateFile(const std::string &path, const State &state, std::string &error) {
    std::string text = Serialize(state);
    std::string tmp = path + "." + std::string(kTempSuffix, 'X');
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file: " + std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    int savedErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        savedErrno = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        error = path + ": cannot write the state: " + std::strerror(savedErrno);
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(Dir(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vtoken
