#include "card_state.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "card_params.h"

namespace vcards {

namespace {

const char *kMagic = "nki-vcarrier-state 1";

std::string Hex(const uint8_t *p, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

bool FromHex(const std::string &s, Bytes &out) {
    out.clear();
    if (s.size() % 2) return false;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = s[i + k];
            int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                             : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool ParseUint(const std::string &s, unsigned long max, unsigned long &out) {
    if (s.empty() || s.size() > 10) return false;
    unsigned long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}

std::vector<std::string> Words(const std::string &s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string x; in >> x;) w.push_back(x);
    return w;
}

bool PinBlock(const std::string &pin, std::array<uint8_t, 8> &block) {
    if (pin.empty() || pin.size() > 8) return false;
    block.fill(0);
    std::memcpy(block.data(), pin.data(), pin.size());
    return true;
}

std::string FolderOf(const std::string &path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void RandomBytes(uint8_t *out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::getrandom(out + done, n - done, 0);
        if (got > 0) done += static_cast<std::size_t>(got);
    }
}

bool MakeState(const CardOptions &o, CardState &s, std::string &error) {
    s = CardState{};
    s.kind = o.kind;
    std::array<uint8_t, 8> pin, puk;
    if (!PinBlock(o.pin, pin) || !PinBlock(o.puk, puk)) {
        error = "the PIN and PUK must have 1 to 8 characters";
        return false;
    }
    if (o.userFileSize > 0xFFFF || o.certFileSize > 0xFFFF) {
        error = "file sizes are at most 65535";
        return false;
    }
    s.serial = o.serial;
    if (s.serial == std::array<uint8_t, 8>{}) RandomBytes(s.serial.data(), 8);
    // Status file: version bytes, then a NUL-terminated version text from offset 8.
    Bytes status(32, 0);
    status[0] = 0x01;
    status[1] = 0x09;
    std::memcpy(status.data() + 8, o.version.data(), std::min<std::size_t>(o.version.size(), 23));
    s.files[0x0004] = {kAcAlways, kAcNever, status};
    if (o.kind == Kind::Container) {
        Ref r;
        CardValueOf(pin.data(), r.value.data());
        s.refs[5] = r;
        s.files[0x0005] = {kAcAlways, kAcNever, o.carryParameters ? ParameterRecord() : Bytes(366, 0)};
        s.files[0x0008] = {kAcAlways, kAcPin, Bytes(4 + 2 * 308, 0)};
        s.files[0x000A] = {kAcAlways, kAcNever, Bytes(36, 0)};
        if (o.userFileSize) s.files[0x0201] = {kAcAlways, kAcPin, Bytes(o.userFileSize, 0)};
        if (o.certFileSize) s.files[0x0202] = {kAcAlways, kAcPin, Bytes(o.certFileSize, 0)};
    } else {
        Ref r5, r6;
        r5.value = pin;
        r6.value = puk;
        s.refs[5] = r5;
        s.refs[6] = r6;
        uint8_t ac = o.userFileNeedsChannel ? kAcChannel : kAcAlways;
        uint8_t wac = o.userFileNeedsChannel ? kAcChannel : kAcPin;
        if (o.userFileSize) s.files[0x0201] = {ac, wac, Bytes(o.userFileSize, 0)};
        s.files[0x0203] = {kAcAlways, kAcPin, Bytes(64, 0)};
        if (!o.channel) s.files[0x0004].data[2] = 0x01;  // no secure channel
    }
    return true;
}

std::string Serialize(const CardState &s) {
    std::ostringstream out;
    out << kMagic << "\n";
    out << "kind = " << (s.kind == Kind::Container ? "container" : "protected") << "\n";
    out << "serial = " << Hex(s.serial.data(), 8) << "\n";
    for (const auto &[n, r] : s.refs)
        out << "ref" << int(n) << " = " << Hex(r.value.data(), 8) << " " << int(r.triesLeft) << " " << int(r.triesMax)
            << "\n";
    out << "signatures = " << s.signatures << "\n";
    for (const auto &[fid, f] : s.files) {
        uint8_t id[2] = {uint8_t(fid >> 8), uint8_t(fid)};
        out << "file " << Hex(id, 2) << " " << Hex(&f.readAc, 1) << " " << Hex(&f.writeAc, 1) << " = "
            << Hex(f.data.data(), f.data.size()) << "\n";
    }
    return out.str();
}

bool Parse(const std::string &text, CardState &state, std::string &error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        error = "not a simulated card state file";
        return false;
    }
    CardState s;
    bool haveKind = false, haveSerial = false;
    int lineNo = 1;
    auto fail = [&](const char *why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty()) continue;
        auto eq = line.find(" = ");
        if (eq == std::string::npos) {
            // An empty file content leaves "file 0201 00 05 =".
            if (line.size() > 2 && line.compare(line.size() - 2, 2, " =") == 0) eq = line.size() - 2;
            else return fail("expected name = value");
        }
        std::string name = line.substr(0, eq);
        std::string value = eq + 3 <= line.size() ? line.substr(eq + 3) : "";
        Bytes b;
        unsigned long v;
        if (name == "kind") {
            if (value == "container") s.kind = Kind::Container;
            else if (value == "protected") s.kind = Kind::Protected;
            else return fail("unknown kind");
            haveKind = true;
        } else if (name == "serial") {
            if (!FromHex(value, b) || b.size() != 8) return fail("bad serial");
            std::memcpy(s.serial.data(), b.data(), 8);
            haveSerial = true;
        } else if (name.rfind("ref", 0) == 0) {
            unsigned long n, left, max;
            auto w = Words(value);
            if (!ParseUint(name.substr(3), 255, n) || w.size() != 3 || !FromHex(w[0], b) || b.size() != 8 ||
                !ParseUint(w[1], 15, left) || !ParseUint(w[2], 15, max) || left > max)
                return fail("bad reference data");
            Ref r;
            std::memcpy(r.value.data(), b.data(), 8);
            r.triesLeft = uint8_t(left);
            r.triesMax = uint8_t(max);
            s.refs[uint8_t(n)] = r;
        } else if (name == "signatures") {
            if (!ParseUint(value, 0xFFFFFFFFul, v)) return fail("bad signature counter");
            s.signatures = uint32_t(v);
        } else if (name.rfind("file ", 0) == 0) {
            auto w = Words(name.substr(5));
            Bytes id, rac, wac;
            if (w.size() != 3 || !FromHex(w[0], id) || id.size() != 2 || !FromHex(w[1], rac) || rac.size() != 1 ||
                !FromHex(w[2], wac) || wac.size() != 1 || !FromHex(value, b) || b.size() > 0xFFFF)
                return fail("bad file");
            uint16_t fid = uint16_t(id[0] << 8 | id[1]);
            if (s.files.count(fid)) return fail("file given twice");
            s.files[fid] = {rac[0], wac[0], b};
        } else {
            return fail("unknown name");
        }
    }
    if (!haveKind || !haveSerial || !s.refs.count(5)) {
        error = "kind, serial or reference 5 missing";
        return false;
    }
    state = std::move(s);
    return true;
}

int LoadStateFile(const std::string &path, CardState &state, std::string &error) {
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

bool SaveStateFile(const std::string &path, const CardState &state, std::string &error) {
    std::string text = Serialize(state);
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file: " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ok = false;
        else done += static_cast<std::size_t>(w);
    }
    ok = ok && ::fsync(fd) == 0;
    int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        saved = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        error = path + ": cannot write the state: " + std::strerror(saved);
        return false;
    }
    int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vcards
