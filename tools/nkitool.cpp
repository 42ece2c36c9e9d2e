// nkitool: the command-line tool of the token, over the public nki interface.
//
//   nkitool [OPTIONS] COMMAND [ARGS]
//
// The same source builds over either library: nkitool over the token build,
// nkitool-multi over the multi-carrier build (KCARLIB_MULTI_CARRIER=1, integer
// contexts, carrier kind found from the reader).
//
// Every command opens its own context (and, where it needs the token, a session),
// reports failures on stderr as text with the library's result code, and answers
// an exit status from the table in Usage(). PINs are never taken from the command
// line: they are prompted on the terminal without echo, or read from standard
// input or an environment variable when asked for.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <winscard.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kcarlib/ecc.h"
#include "kcarlib/gost.h"
#include "kcarlib/nki.h"

#ifndef KCARLIB_VERSION
#define KCARLIB_VERSION "unknown"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Exit statuses.
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,    // the library, the token or a file refused
    kExitUsage = 2,     // bad command line
    kExitNoToken = 3,   // no reader, no token, or the named one is not there
    kExitPin = 4,       // wrong or blocked PIN
    kExitMismatch = 5,  // a signature or a hash does not match
};

#if KCARLIB_MULTI_CARRIER
constexpr uint8_t kContextKind = NKI_KIND_UNKNOWN;  // the library tells the kind from the reader
#else
constexpr uint8_t kContextKind = NKI_KIND_ACTIVE_TOKEN;
#endif
constexpr uint32_t kIoPassThrough = 0x22204C;  // raw exchange (filtered by the token layer)
constexpr size_t kChunk = 1 << 20;              // streaming unit of sign, verify and hash
constexpr size_t kMaxKey = 128;                 // largest public key or signature of tagTECParams

const char *const kUsage =
    "usage: nkitool [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  list                       readers, token present, device type, ATR, serial\n"
    "  info                       the token's serial, curve, sizes, keys and PIN tries\n"
    "  watch                      print token insertions and removals until interrupted\n"
    "  pin verify                 present the PIN\n"
    "  pin change [--second]      change the PIN (--second: the second reference datum)\n"
    "  pin set-second             set the second reference datum, authorised by the PIN\n"
    "  pin tries                  attempts left for the PIN and the second reference\n"
    "  keygen owner|future        generate the owner key pair or the future key pair\n"
    "  keygen activate            make the future key the owner key\n"
    "  pubkey [-o FILE]           export the owner public key (--future, --slot N)\n"
    "  sign FILE -o SIG           sign FILE with the owner key (detached signature)\n"
    "  params [-o FILE]           export the token's curve and hash parameters (372 bytes)\n"
    "  verify FILE SIG [--pubkey KEY [--params PARAMS]]\n"
    "                             verify SIG over FILE with KEY (default: the token's key);\n"
    "                             with PARAMS no token is needed\n"
    "  hash FILE...               GOST 34.311 hash of each FILE ('-' for standard input)\n"
    "  hash --check LIST          check the hashes listed by a previous hash\n"
    "  random N [-o FILE]         N random bytes from the token's session generator\n"
    "  cert list | get N [-o FILE] | put FILE | del N\n"
    "                             the certificates kept on the token (N from 1)\n"
    "  cacert get [-o FILE] | put FILE | del\n"
    "                             the CA certificate kept on the token\n"
    "  userfile read [-o FILE] [--offset N] [--length N]\n"
    "  userfile write FILE [--offset N]\n"
    "                             the token's user file\n"
    "  apdu HEX...                raw exchange through the I/O-control pass-through\n"
    "\n"
    "Options:\n"
    "  -r, --reader NAME          use this reader; \"#SERIAL\" picks the token by serial\n"
    "  -o, --output FILE          write the result to FILE instead of standard output\n"
    "      --hex | --binary       form of keys and signatures written (default: binary\n"
    "                             to a file, hex to standard output); reading takes both\n"
    "      --compressed           export the public key compressed\n"
    "      --future, --slot N     the future key (slot 2) or key slot N instead of slot 1\n"
    "      --pin-stdin            read the PIN (and new PIN) from standard input lines\n"
    "      --pin-env VAR          read the PIN from environment variable VAR\n"
    "                             (change: the new PIN from VAR_NEW)\n"
    "      --json                 machine-readable output (list, info, verify, hash)\n"
    "      --no-progress          no progress bar for large files\n"
    "  -h, --help                 this text\n"
    "      --version              versions of the tool and the library\n"
    "\n"
    "Without --pin-stdin or --pin-env the PIN is asked on the terminal, without echo.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage, 3 no reader or token,\n"
    "4 wrong or blocked PIN, 5 signature or hash mismatch.\n";

struct Options {
    std::string reader;
    std::string output;
    std::string pubkey;
    std::string params;
    std::string pinEnv;
    std::string check;
    bool pinStdin = false;
    bool json = false;
    bool hex = false;
    bool binary = false;
    bool compressed = false;
    bool second = false;
    bool progress = true;
    uint32_t slot = 1;
    std::optional<uint32_t> offset;
    std::optional<uint32_t> length;
    std::vector<std::string> args;
};

// ---- Output helpers ----

std::string Hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
std::string Hex(const Bytes &b) { return Hex(b.data(), b.size()); }

std::string JsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int Error(const char *format, ...) __attribute__((format(printf, 1, 2)));
int Error(const char *format, ...) {
    std::fflush(stdout);
    std::fputs("nkitool: ", stderr);
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    return kExitFailed;
}

// Exit status for a failed library call.
int ExitFor(uint32_t rc) {
    if (rc == NKI_E_NOT_CONNECTED) return kExitNoToken;
    if (rc == NKI_E_DEVICE_BLOCKED || (rc >= NKI_E_INVALID_PIN_BASE && rc < NKI_E_INVALID_PIN_BASE + 16) ||
        rc == NKI_E_PIN_REQUIRED)
        return kExitPin;
    if (rc == NKI_E_INVALID_SIGNATURE || rc == NKI_E_INVALID_MAC) return kExitMismatch;
    return kExitFailed;
}

// Reports a failed call ("what: text (result N)") and answers its exit status.
int Fail(const char *what, uint32_t rc) {
    std::fflush(stdout);
    char text[NKI_MAX_RESULT_TEXT];
    nkiResultText(rc, text);
    std::fprintf(stderr, "nkitool: %s: %s (result %u)\n", what, text, static_cast<unsigned>(rc));
    return ExitFor(rc);
}

// ---- Files ----

bool ReadWholeFile(const std::string &path, Bytes &out, size_t limit = 1u << 24) {
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        Error("cannot open %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    out.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.insert(out.end(), buf, buf + n);
        if (out.size() > limit) break;
    }
    bool bad = std::ferror(f) != 0;
    if (f != stdin) std::fclose(f);
    if (bad) return Error("cannot read %s", path.c_str()), false;
    if (out.size() > limit) return Error("%s is too large (more than %zu bytes)", path.c_str(), limit), false;
    return true;
}

// Writes data to a new file beside the target, then renames it over the target, so
// that a cut write leaves the old file or the new one.
bool WriteFileAtomic(const std::string &path, const uint8_t *data, size_t n) {
    std::string temp = path + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return Error("cannot create %s: %s", temp.c_str(), std::strerror(errno)), false;
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    bool ok = done == n && fsync(fd) == 0;
    fchmod(fd, 0644);
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    int e = errno;
    unlink(temp.c_str());
    return Error("cannot write %s: %s", path.c_str(), std::strerror(e)), false;
}

bool ParseHex(const std::string &text, Bytes &out) {
    out.clear();
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ':') continue;
        else return false;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return high < 0;
}

// Reads a key or signature file written by this tool: hex text or raw bytes.
bool ReadKeyFile(const std::string &path, Bytes &out) {
    Bytes raw;
    if (!ReadWholeFile(path, raw, 4096)) return false;
    Bytes decoded;
    if (!raw.empty() && ParseHex(std::string(raw.begin(), raw.end()), decoded) && !decoded.empty())
        out = decoded;
    else
        out = raw;
    return true;
}

// Writes a key, signature or random bytes: binary or hex to -o FILE, hex to stdout.
int Emit(const Options &o, const uint8_t *data, size_t n) {
    bool hex = o.output.empty() ? !o.binary : o.hex;
    std::string text = Hex(data, n) + "\n";
    if (o.output.empty() || o.output == "-") {
        if (hex) std::fputs(text.c_str(), stdout);
        else std::fwrite(data, 1, n, stdout);
        return std::fflush(stdout) == 0 ? kExitOk : Error("cannot write standard output");
    }
    bool ok = hex ? WriteFileAtomic(o.output, reinterpret_cast<const uint8_t *>(text.data()), text.size())
                  : WriteFileAtomic(o.output, data, n);
    return ok ? kExitOk : kExitFailed;
}

// Streams a file in chunks to fn; a progress bar on a terminal for large files.
template <typename Fn>
bool StreamFile(const Options &o, const std::string &path, Fn fn) {
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Error("cannot open %s: %s", path.c_str(), std::strerror(errno)), false;
    struct stat st{};
    uint64_t total = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    bool bar = o.progress && total >= 16 * kChunk && isatty(STDERR_FILENO);
    Bytes buf(kChunk);
    uint64_t done = 0;
    int shown = -1;
    bool ok = true;
    size_t n;
    while (ok && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        ok = fn(buf.data(), static_cast<uint32_t>(n));
        done += n;
        if (bar) {
            int pct = static_cast<int>(done * 100 / total);
            if (pct != shown) {
                shown = pct;
                int filled = pct * 40 / 100;
                std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", path.c_str(), filled,
                             "########################################", 40 - filled, "", pct);
            }
        }
    }
    if (bar) std::fputs("\n", stderr);
    if (ok && std::ferror(f)) {
        Error("cannot read %s", path.c_str());
        ok = false;
    }
    if (f != stdin) std::fclose(f);
    return ok;
}

// ---- PIN entry ----

void Wipe(std::string &s) {
    volatile char *p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
    s.clear();
}

// Reads one line from the terminal with echo off; the terminal is restored even on
// SIGINT/SIGTERM, which are held back while echo is off.
bool PromptNoEcho(const char *prompt, std::string &out) {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) return Error("no terminal to ask the PIN on: use --pin-stdin or --pin-env VAR"), false;
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        close(fd);
        return Error("cannot switch the terminal's echo off"), false;
    }
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGTSTP);
    sigprocmask(SIG_BLOCK, &block, &old);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quiet.c_lflag |= ICANON;
    bool ok = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    if (ok) {
        ssize_t w = write(fd, prompt, std::strlen(prompt));
        (void)w;
        out.clear();
        char c;
        ssize_t r;
        while ((r = read(fd, &c, 1)) == 1 && c != '\n' && c != '\r') out += c;
        ok = r == 1;
        w = write(fd, "\n", 1);
        (void)w;
    }
    tcsetattr(fd, TCSAFLUSH, &saved);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    close(fd);
    if (!ok) {
        Wipe(out);
        return Error("no PIN entered"), false;
    }
    return true;
}

bool ReadPinLine(std::string &out) {
    out.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') out += static_cast<char>(c);
    if (!out.empty() && out.back() == '\r') out.pop_back();
    if (c == EOF && out.empty()) return Error("no PIN on standard input"), false;
    return true;
}

// which: 0 the PIN, 1 the new PIN, 2 the new PIN again (prompt only).
bool GetPin(const Options &o, int which, std::string &out) {
    if (o.pinStdin) {
        if (which == 2) return true;
        return ReadPinLine(out);
    }
    if (!o.pinEnv.empty()) {
        if (which == 2) return true;
        std::string var = which == 0 ? o.pinEnv : o.pinEnv + "_NEW";
        const char *v = std::getenv(var.c_str());
        if (v == nullptr) return Error("environment variable %s is not set", var.c_str()), false;
        out = v;
        return true;
    }
    static const char *const prompts[] = {"PIN: ", "New PIN: ", "New PIN again: "};
    return PromptNoEcho(prompts[which], out);
}

bool PinLengthOk(const std::string &pin) {
    if (pin.empty() || pin.size() > 8) return Error("a PIN has 1 to 8 characters"), false;
    return true;
}

// ---- Readers and sessions ----

// Tells "no PC/SC service" apart from "no readers", which the library does not.
bool PcscServiceRunning() {
    SCARDCONTEXT c = 0;
    LONG rc = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c);
    if (rc != SCARD_S_SUCCESS) return false;
    SCardReleaseContext(c);
    return true;
}

// The ATR of the card in the named reader, from the library when the build offers
// it, otherwise from the PC/SC service.
Bytes ReaderAtr(const std::string &name) {
    uint8_t atr[64];
    int32_t length = sizeof atr;
    if (nkiGetDeviceAtr(name.c_str(), atr, &length) == NKI_OK && length > 0 && length <= 64)
        return Bytes(atr, atr + length);
    SCARDCONTEXT c = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c) != SCARD_S_SUCCESS) return {};
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    Bytes out;
    if (SCardGetStatusChange(c, 0, &state, 1) == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT))
        out.assign(state.rgbAtr, state.rgbAtr + std::min<DWORD>(state.cbAtr, sizeof state.rgbAtr));
    SCardReleaseContext(c);
    return out;
}

std::vector<std::string> Readers() {
    std::vector<std::string> names;
    char name[NKI_MAX_READER_NAME];
    for (int i = 1; i < 256 && nkiEnumDevices(i, 0, name) == NKI_OK && name[0] != '\0'; ++i) names.emplace_back(name);
    return names;
}

const char *KindText(int32_t kind) {
    switch (kind) {
        case 1: return "key file";
        case 2: return "container card";
        case 3: return "active token";
        case 4: return "type-4 device";
        case 19: return "protected data card";
        default: return "unknown device";
    }
}

// A context with an open session on the chosen reader; closed by the destructor.
class Session {
public:
    ~Session() {
        if (open_) nkiCloseSession(ctx_);
        if (created_) nkiDestroyContext(&ctx_);
    }
    // Answers an exit status; prints what went wrong.
    int Open(const Options &o) {
        uint32_t rc = nkiCreateContext(&ctx_, kContextKind);
        if (rc != NKI_OK) return Fail("creating a context", rc);
        created_ = true;
        if (!PcscServiceRunning()) {
            Error("the PC/SC service (pcscd) is not running");
            return kExitNoToken;
        }
        if (!o.reader.empty() && o.reader[0] == '#') return OpenBySerial(o, o.reader.substr(1));
        // Without a reader name: the first reader holding a card, named to the
        // library (the multi-carrier build wants a name).
        std::string reader = o.reader;
        if (reader.empty()) {
            char name[NKI_MAX_READER_NAME];
            if (nkiEnumDevices(1, 1, name) == NKI_OK) reader = name;
        }
        rc = reader.empty() ? NKI_E_NOT_CONNECTED : nkiOpenSession(ctx_, reader.c_str(), nullptr);
        if (rc == NKI_E_NOT_CONNECTED) {
            if (o.reader.empty()) Error("no token found in any reader");
            else Error("no token in reader \"%s\"", o.reader.c_str());
            return kExitNoToken;
        }
        if (rc != NKI_OK) return Fail("opening a session", rc);
        open_ = true;
        return AfterOpen(o);
    }
    // Presents the PIN; answers an exit status.
    int Login(const Options &o) {
        if (loggedIn_) return kExitOk;
        std::string pin;
        if (!GetPin(o, 0, pin)) return kExitUsage;
        if (!PinLengthOk(pin)) return Wipe(pin), kExitUsage;
        uint32_t rc = nkiCheckPINEx(ctx_, pin.data(), static_cast<int32_t>(pin.size()));
        Wipe(pin);
        if (rc != NKI_OK) return Fail("presenting the PIN", rc);
        loggedIn_ = true;
        return kExitOk;
    }
    NKI_CONTEXT ctx() const { return ctx_; }

private:
    // The multi-carrier build serves most session calls only after the PIN, so
    // every command but info and pin presents it at once there.
    int AfterOpen(const Options &o) {
#if KCARLIB_MULTI_CARRIER
        if (o.args[0] != "info" && o.args[0] != "pin") return Login(o);
#else
        (void)o;
#endif
        return kExitOk;
    }
    int OpenBySerial(const Options &o, const std::string &serial) {
        for (const std::string &name : Readers()) {
            int32_t kind = 0;
            if (nkiGetDeviceType(name.c_str(), &kind) != NKI_OK) continue;
            if (nkiOpenSession(ctx_, name.c_str(), nullptr) != NKI_OK) continue;
            uint8_t uid[8];
            if (nkiGetUID(ctx_, uid) == NKI_OK && strcasecmp(Hex(uid, 8).c_str(), serial.c_str()) == 0) {
                open_ = true;
                return AfterOpen(o);
            }
            nkiCloseSession(ctx_);
        }
        Error("no token with serial %s", serial.c_str());
        return kExitNoToken;
    }
    NKI_CONTEXT ctx_{};
    bool created_ = false;
    bool open_ = false;
    bool loggedIn_ = false;
};

// Element and signature sizes of the open session's curve.
bool Sizes(NKI_CONTEXT ctx, uint32_t &element, uint32_t &signature) {
    tagTNKIinfo info{};
    if (nkiGetInfo(ctx, &info) != NKI_OK) return false;
    element = info.PointSize / 2;
    signature = info.SignSize;
    return element > 0 && element <= 64 && signature > 0 && signature <= kMaxKey;
}

// ---- Commands ----

int CmdList(const Options &o) {
    if (!PcscServiceRunning()) {
        Error("the PC/SC service (pcscd) is not running");
        return kExitNoToken;
    }
    std::vector<std::string> readers = Readers();
    if (readers.empty()) {
        Error("no readers found");
        return kExitNoToken;
    }
    if (o.json) std::printf("[");
    for (size_t i = 0; i < readers.size(); ++i) {
        const std::string &name = readers[i];
        int32_t kind = 0;
        bool present = nkiGetDeviceType(name.c_str(), &kind) == NKI_OK;
        Bytes atr = present ? ReaderAtr(name) : Bytes();
        std::string serial;
        if (present) {
            NKI_CONTEXT ctx{};
            if (nkiCreateContext(&ctx, kContextKind) == NKI_OK) {
                uint8_t uid[8];
                if (nkiOpenSession(ctx, name.c_str(), nullptr) == NKI_OK) {
                    if (nkiGetUID(ctx, uid) == NKI_OK) serial = Hex(uid, 8);
                    nkiCloseSession(ctx);
                }
                nkiDestroyContext(&ctx);
            }
        }
        if (o.json) {
            std::printf("%s{\"index\":%zu,\"reader\":%s,\"present\":%s", i ? "," : "", i + 1,
                        JsonString(name).c_str(), present ? "true" : "false");
            if (present)
                std::printf(",\"kind\":%d,\"device\":%s,\"atr\":\"%s\",\"serial\":\"%s\"", kind,
                            JsonString(KindText(kind)).c_str(), Hex(atr).c_str(), serial.c_str());
            std::printf("}");
        } else {
            std::printf("%zu: %s\n", i + 1, name.c_str());
            if (!present) {
                std::printf("   no token\n");
                continue;
            }
            std::printf("   device: %s (kind %d)\n", KindText(kind), kind);
            if (!atr.empty()) std::printf("   ATR:    %s\n", Hex(atr).c_str());
            if (!serial.empty()) std::printf("   serial: %s\n", serial.c_str());
        }
    }
    if (o.json) std::printf("]\n");
    return kExitOk;
}

int PinTries(NKI_CONTEXT ctx, uint8_t reference, int &tries) {
    const uint8_t query[5] = {0x80, 0xF2, 0x00, reference, 0x01};
    uint8_t out[256];
    uint32_t got = 0;
    uint32_t rc = nkiIOControl(ctx, kIoPassThrough, query, sizeof query, out, sizeof out, &got);
    if (rc != NKI_OK || got < 1) return static_cast<int>(rc == NKI_OK ? NKI_E_FAIL : rc);
    tries = out[0];
    return 0;
}

int CmdInfo(const Options &o) {
    Session s;
    if (int e = s.Open(o)) return e;
    NKI_CONTEXT ctx = s.ctx();
    tagTNKIinfo info{};
    uint32_t rc = nkiGetInfo(ctx, &info);
    if (rc != NKI_OK) return Fail("reading the token's information", rc);
    uint32_t field[4] = {};
    uint32_t got = 0;
    rc = nkiGetCryptoParams(ctx, 0, field, &got);
    if (rc != NKI_OK) return Fail("reading the token's curve", rc);
    int32_t fileSize = 0;
    rc = nkiGetFileSize(ctx, &fileSize);
    if (rc != NKI_OK) return Fail("reading the user file size", rc);
    uint8_t key[kMaxKey];
    bool owner = nkiGetOwnerPublicKey(ctx, key, 1) == NKI_OK;
    bool future = nkiGetFutureKey(ctx, key, 1) == NKI_OK;
    int tries5 = -1, tries6 = -1;
    PinTries(ctx, 5, tries5);
    PinTries(ctx, 6, tries6);
    std::string serial = Hex(info.Serial, 8);
    if (o.json) {
        std::printf("{\"serial\":\"%s\",\"kind\":%u,\"field_degree\":%u,\"public_key_size\":%u,"
                    "\"signature_size\":%u,\"user_file_size\":%d,\"owner_key\":%s,\"future_key\":%s,"
                    "\"pin_tries\":%d,\"second_tries\":%d}\n",
                    serial.c_str(), info.Kind, field[0], info.PointSize, info.SignSize, fileSize,
                    owner ? "true" : "false", future ? "true" : "false", tries5, tries6);
        return kExitOk;
    }
    std::printf("serial:           %s\n", serial.c_str());
    std::printf("device:           %s (kind %u)\n", KindText(info.Kind), info.Kind);
    std::printf("curve:            GF(2^%u), x^%u + x^%u + 1%s\n", field[0], field[0], field[1],
                field[2] ? " (pentanomial)" : "");
    std::printf("public key:       %u bytes (%u compressed)\n", info.PointSize, info.PointSize / 2);
    std::printf("signature:        %u bytes\n", info.SignSize);
    std::printf("user file:        %d bytes\n", fileSize);
    std::printf("owner key:        %s\n", owner ? "present" : "absent");
    std::printf("future key:       %s\n", future ? "present" : "absent");
    if (tries5 >= 0) std::printf("PIN tries left:   %d\n", tries5);
    if (tries6 >= 0) std::printf("second tries:     %d\n", tries6);
    return kExitOk;
}

volatile sig_atomic_t gStop = 0;
void OnStop(int) { gStop = 1; }

int CmdWatch(const Options &o) {
    struct sigaction sa{};
    sa.sa_handler = OnStop;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::map<std::string, bool> known;
    bool first = true;
    bool serviceShown = true;
    while (!gStop) {
        bool up = PcscServiceRunning();
        if (up != serviceShown) {
            std::printf(up ? "PC/SC service available\n" : "PC/SC service not running\n");
            serviceShown = up;
        }
        std::map<std::string, bool> now;
        if (up)
            for (const std::string &name : Readers()) {
                int32_t kind = 0;
                now[name] = nkiGetDeviceType(name.c_str(), &kind) == NKI_OK;
            }
        for (const auto &[name, present] : now) {
            auto it = known.find(name);
            if (it == known.end()) {
                if (o.json) std::printf("{\"event\":\"reader\",\"reader\":%s,\"present\":%s}\n",
                                        JsonString(name).c_str(), present ? "true" : "false");
                else std::printf("%s: %s%s\n", name.c_str(), first ? "" : "reader added, ",
                                 present ? "token present" : "no token");
            } else if (it->second != present) {
                if (o.json) std::printf("{\"event\":\"%s\",\"reader\":%s}\n", present ? "inserted" : "removed",
                                        JsonString(name).c_str());
                else std::printf("%s: token %s\n", name.c_str(), present ? "inserted" : "removed");
            }
        }
        for (const auto &[name, present] : known)
            if (now.find(name) == now.end()) {
                if (o.json) std::printf("{\"event\":\"reader_removed\",\"reader\":%s}\n", JsonString(name).c_str());
                else std::printf("%s: reader removed\n", name.c_str());
            }
        std::fflush(stdout);
        known = std::move(now);
        first = false;
        poll(nullptr, 0, 300);
    }
    return kExitOk;
}

int CmdPin(const Options &o) {
    if (o.args.size() != 2) return Error("usage: nkitool pin verify|change [--second]|set-second|tries"), kExitUsage;
    const std::string &what = o.args[1];
    if (what != "verify" && what != "change" && what != "set-second" && what != "tries")
        return Error("unknown pin command \"%s\"", what.c_str()), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    if (what == "tries") {
        int t5 = -1, t6 = -1;
        int rc = PinTries(s.ctx(), 5, t5);
        if (rc != 0) return Fail("reading the PIN's tries", static_cast<uint32_t>(rc));
        PinTries(s.ctx(), 6, t6);
        std::printf("PIN: %d tries left\n", t5);
        if (t6 >= 0) std::printf("second reference: %d tries left\n", t6);
        return kExitOk;
    }
    if (what == "verify") {
        int e = s.Login(o);
        if (e == kExitOk) std::printf("PIN accepted\n");
        return e;
    }
    // change: mode 0 the PIN, 1 the second reference by itself, 2 the second
    // reference authorised by the PIN.
    int32_t mode = what == "set-second" ? 2 : (o.second ? 1 : 0);
    std::string oldPin, newPin, again;
    bool ok = GetPin(o, 0, oldPin) && PinLengthOk(oldPin) && GetPin(o, 1, newPin) && PinLengthOk(newPin) &&
              GetPin(o, 2, again);
    if (ok && !o.pinStdin && o.pinEnv.empty() && again != newPin) {
        Error("the new PINs differ");
        ok = false;
    }
    uint32_t rc = NKI_OK;
    if (ok)
        rc = nkiChangePINEx(s.ctx(), oldPin.data(), static_cast<int32_t>(oldPin.size()), newPin.data(),
                            static_cast<int32_t>(newPin.size()), mode);
    Wipe(oldPin);
    Wipe(newPin);
    Wipe(again);
    if (!ok) return kExitUsage;
    if (rc != NKI_OK) return Fail("changing the PIN", rc);
    std::printf("%s changed\n", mode == 0 ? "PIN" : "second reference");
    return kExitOk;
}

int CmdKeygen(const Options &o) {
    if (o.args.size() != 2) return Error("usage: nkitool keygen owner|future|activate"), kExitUsage;
    const std::string &what = o.args[1];
    if (what != "owner" && what != "future" && what != "activate")
        return Error("unknown keygen command \"%s\"", what.c_str()), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    if (int e = s.Login(o)) return e;
    uint32_t rc = what == "owner"    ? nkiGenerateOwnerKeyPair(s.ctx())
                  : what == "future" ? nkiCreateFutureKey(s.ctx())
                                     : nkiActivateFutureKey(s.ctx());
    if (rc != NKI_OK) return Fail(what == "activate" ? "activating the future key" : "generating the key pair", rc);
    std::printf(what == "activate" ? "future key activated\n" : "%s key pair generated\n", what.c_str());
    return kExitOk;
}

int CmdPubkey(const Options &o) {
    if (o.args.size() != 1) return Error("usage: nkitool pubkey [--future|--slot N] [--compressed] [-o FILE]"), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    uint32_t element = 0, sig = 0;
    if (!Sizes(s.ctx(), element, sig)) return Error("the token reports sizes this tool cannot handle");
    uint8_t key[kMaxKey];
    uint32_t rc = nkiGetKeyEx(s.ctx(), o.slot, key, o.compressed ? 1 : 0);
    if (rc != NKI_OK) return Fail("reading the public key", rc);
    return Emit(o, key, o.compressed ? element : 2 * element);
}

int CmdSign(const Options &o) {
    if (o.args.size() != 2 || o.output.empty()) return Error("usage: nkitool sign FILE -o SIG"), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    uint32_t element = 0, sigSize = 0;
    if (!Sizes(s.ctx(), element, sigSize)) return Error("the token reports sizes this tool cannot handle");
    if (int e = s.Login(o)) return e;
    uint32_t rc = nkiInitDS(s.ctx(), nullptr);
    if (rc != NKI_OK) return Fail("preparing the signature", rc);
    bool streamed = StreamFile(o, o.args[1], [&](const uint8_t *p, uint32_t n) {
        rc = nkiDSLoadData(s.ctx(), p, n);
        return rc == NKI_OK;
    });
    if (rc != NKI_OK) return Fail("hashing the file", rc);
    if (!streamed) return kExitFailed;
    uint8_t signature[kMaxKey];
    rc = nkiSignFinal(s.ctx(), signature);
    if (rc != NKI_OK) return Fail("signing", rc);
    return Emit(o, signature, sigSize);
}

int ReportVerdict(const Options &o, bool good) {
    if (o.json) std::printf("{\"file\":%s,\"valid\":%s}\n", JsonString(o.args[1]).c_str(), good ? "true" : "false");
    else if (good) std::printf("%s: signature valid\n", o.args[1].c_str());
    else std::fprintf(stderr, "nkitool: %s: signature NOT valid\n", o.args[1].c_str());
    return good ? kExitOk : kExitMismatch;
}

// Verification in the library's own arithmetic, without a token: the curve and
// hash parameters come from a file written by "nkitool params".
int VerifyWithParams(const Options &o, const Bytes &key, const Bytes &signature) {
    Bytes raw;
    if (!ReadKeyFile(o.params, raw)) return kExitFailed;
    if (raw.size() != sizeof(tagTECParams))
        return Error("%s is not a parameter file (%zu bytes, not %zu)", o.params.c_str(), raw.size(),
                     sizeof(tagTECParams));
    tagTECParams p;
    std::memcpy(&p, raw.data(), sizeof p);
    if (p.m < 2 || p.m > 509) return Error("%s: bad field degree %u", o.params.c_str(), p.m);
    const uint32_t L = (p.m + 7) / 8;
    TEcc curve;
    EccInit(&curve, nullptr, nullptr);
    uint32_t b[ECC_WORDS], n[ECC_WORDS];
    TEcPoint base, q;
    bool ok = EccSetBaseField(&curve, static_cast<int32_t>(p.m), static_cast<int32_t>(p.k1),
                              static_cast<int32_t>(p.k2), static_cast<int32_t>(p.k3)) != 0;
    if (ok) {
        EccBaseFromArrayLSB(&curve, p.B, L, b);
        EccIntFromArrayLSB(&curve, p.N, L, n);
        ok = EccSetCurve(&curve, static_cast<int32_t>(p.A), b, n) != 0;
    }
    if (ok) {
        EccBaseFromArrayLSB(&curve, p.Px, L, base.x);
        EccBaseFromArrayLSB(&curve, p.Py, L, base.y);
        ok = EccSetBasePoint(&curve, &base) != 0 && EccVerifyBasePoint(&curve) != 0;
    }
    if (!ok) {
        EccDone(&curve);
        return Error("%s does not describe a usable curve", o.params.c_str());
    }
    bool keyOk = true;
    if (key.size() == L) {
        uint32_t x[ECC_WORDS];
        EccBaseFromArrayLSB(&curve, key.data(), L, x);
        EccExpandPoint(&curve, x, &q);
    } else if (key.size() == 2 * L) {
        EccBaseFromArrayLSB(&curve, key.data(), L, q.x);
        EccBaseFromArrayLSB(&curve, key.data() + L, L, q.y);
    } else {
        keyOk = false;
    }
    if (!keyOk) {
        EccDone(&curve);
        return Error("%s holds %zu bytes; a public key here has %u (or %u compressed)", o.pubkey.c_str(), key.size(),
                     2 * L, L);
    }
    TGostHash h;
    HashInit(&h, p.Sbox, p.IV);
    bool streamed = StreamFile(o, o.args[1], [&](const uint8_t *d, uint32_t len) {
        ::HashUpdate(&h, d, len);
        return true;
    });
    uint8_t hash[32];
    HashFinal(&h, hash);
    HashDone(&h);
    bool good = streamed && EccVerifyPublicKey(&curve, &q) != 0 &&
                EccCheckHash(&curve, &q, hash, signature.data(), static_cast<uint32_t>(signature.size())) != 0;
    EccDone(&curve);
    if (!streamed) return kExitFailed;
    return ReportVerdict(o, good);
}

int CmdVerify(const Options &o) {
    if (o.args.size() != 3) return Error("usage: nkitool verify FILE SIG [--pubkey KEY [--params PARAMS]]"), kExitUsage;
    if (!o.params.empty() && o.pubkey.empty()) return Error("--params needs --pubkey KEY"), kExitUsage;
    Bytes signature, key;
    if (!ReadKeyFile(o.args[2], signature)) return kExitFailed;
    if (!o.pubkey.empty() && !ReadKeyFile(o.pubkey, key)) return kExitFailed;
    if (signature.empty() || signature.size() > kMaxKey)
        return Error("%s does not hold a signature", o.args[2].c_str());
    if (!o.params.empty()) return VerifyWithParams(o, key, signature);
    Session s;
    if (int e = s.Open(o)) return e;
    uint32_t element = 0, sigSize = 0;
    if (!Sizes(s.ctx(), element, sigSize)) return Error("the token reports sizes this tool cannot handle");
    bool compressed = false;
    if (o.pubkey.empty()) {
        key.resize(2 * element);
        uint32_t rc = nkiGetKeyEx(s.ctx(), o.slot, key.data(), 0);
        if (rc != NKI_OK) return Fail("reading the token's public key", rc);
    } else if (key.size() == element) {
        compressed = true;
    } else if (key.size() != 2 * element) {
        return Error("%s holds %zu bytes; a public key here has %u (or %u compressed)", o.pubkey.c_str(), key.size(),
                     2 * element, element);
    }
    uint32_t rc = nkiInitDS(s.ctx(), nullptr);
    if (rc != NKI_OK) return Fail("preparing the verification", rc);
    bool streamed = StreamFile(o, o.args[1], [&](const uint8_t *p, uint32_t n) {
        rc = nkiDSLoadData(s.ctx(), p, n);
        return rc == NKI_OK;
    });
    if (rc != NKI_OK) return Fail("hashing the file", rc);
    if (!streamed) return kExitFailed;
    rc = nkiVerifyFinalEx(s.ctx(), key.data(), compressed ? 1 : 0, signature.data(),
                          static_cast<uint32_t>(signature.size()));
    if (rc != NKI_OK && rc != NKI_E_INVALID_SIGNATURE) return Fail("verifying", rc);
    return ReportVerdict(o, rc == NKI_OK);
}

int CmdParams(const Options &o) {
    if (o.args.size() != 1) return Error("usage: nkitool params [-o FILE]"), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    tagTECParams p;
    uint32_t got = 0;
    uint32_t rc = nkiGetCryptoParams(s.ctx(), 255, &p, &got);
    if (rc != NKI_OK) return Fail("reading the curve and hash parameters", rc);
    return Emit(o, reinterpret_cast<const uint8_t *>(&p), sizeof p);
}

// GOST 34.311 with the library's default parameters (table Uz34311, zero start
// vector), computed in the library without a token.
bool HashFile(const Options &o, const std::string &path, std::string &hex) {
    TGostHash h;
    HashInit(&h, nullptr, nullptr);
    bool ok = StreamFile(o, path, [&](const uint8_t *p, uint32_t n) {
        ::HashUpdate(&h, p, n);
        return true;
    });
    uint8_t out[32];
    HashFinal(&h, out);
    HashDone(&h);
    hex = Hex(out, 32);
    return ok;
}

int CmdHash(const Options &o) {
    if (!o.check.empty()) {
        if (o.args.size() != 1) return Error("usage: nkitool hash --check LIST"), kExitUsage;
        Bytes list;
        if (!ReadWholeFile(o.check, list)) return kExitFailed;
        std::string text(list.begin(), list.end());
        int bad = 0, unreadable = 0, lines = 0;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            if (line.empty()) continue;
            if (line.size() < 67 || line.compare(64, 2, "  ") != 0) {
                Error("%s: malformed line: %s", o.check.c_str(), line.c_str());
                ++bad;
                continue;
            }
            ++lines;
            std::string want = line.substr(0, 64), path = line.substr(66), got;
            if (!HashFile(o, path, got)) {
                std::printf("%s: FAILED open or read\n", path.c_str());
                ++unreadable;
            } else if (strcasecmp(got.c_str(), want.c_str()) != 0) {
                std::printf("%s: FAILED\n", path.c_str());
                ++bad;
            } else {
                std::printf("%s: OK\n", path.c_str());
            }
        }
        if (bad) Error("WARNING: %d computed hash%s did NOT match", bad, bad == 1 ? "" : "es");
        if (unreadable) Error("WARNING: %d listed file%s could not be read", unreadable, unreadable == 1 ? "" : "s");
        if (lines == 0 && bad == 0) return Error("%s: no hash lines found", o.check.c_str()), kExitFailed;
        return bad || unreadable ? kExitMismatch : kExitOk;
    }
    if (o.args.size() < 2) return Error("usage: nkitool hash FILE... | hash --check LIST"), kExitUsage;
    int status = kExitOk;
    if (o.json) std::printf("[");
    for (size_t i = 1; i < o.args.size(); ++i) {
        std::string hex;
        if (!HashFile(o, o.args[i], hex)) {
            status = kExitFailed;
            continue;
        }
        if (o.json) std::printf("%s{\"file\":%s,\"gost34311\":\"%s\"}", i > 1 ? "," : "",
                                JsonString(o.args[i]).c_str(), hex.c_str());
        else std::printf("%s  %s\n", hex.c_str(), o.args[i].c_str());
    }
    if (o.json) std::printf("]\n");
    return status;
}

bool ParseCount(const std::string &text, uint32_t max, uint32_t &out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

int CmdRandom(const Options &o) {
    uint32_t n = 0;
    if (o.args.size() != 2 || !ParseCount(o.args[1], 1u << 20, n))
        return Error("usage: nkitool random N (1 to 1048576) [-o FILE]"), kExitUsage;
    Session s;
    if (int e = s.Open(o)) return e;
    Bytes out(n);
    uint32_t rc = nkiGetRandomBlock(s.ctx(), out.data(), n);
    if (rc != NKI_OK) return Fail("drawing random bytes", rc);
    return Emit(o, out.data(), out.size());
}

// Writes raw data (certificates, user file) to -o FILE or standard output.
int EmitRaw(const Options &o, const Bytes &data) {
    if (o.output.empty() || o.output == "-") {
        std::fwrite(data.data(), 1, data.size(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : Error("cannot write standard output");
    }
    return WriteFileAtomic(o.output, data.data(), data.size()) ? kExitOk : kExitFailed;
}

int CmdCert(const Options &o) {
    const std::string what = o.args.size() > 1 ? o.args[1] : "";
    uint32_t index = 0;
    bool ok = (what == "list" && o.args.size() == 2) || (what == "put" && o.args.size() == 3) ||
              ((what == "get" || what == "del") && o.args.size() == 3 && ParseCount(o.args[2], 255, index) &&
               index > 0);
    if (!ok) return Error("usage: nkitool cert list | get N [-o FILE] | put FILE | del N (N from 1 to 255)"), kExitUsage;
    Bytes data;
    if (what == "put" && !ReadWholeFile(o.args[2], data, 65535)) return kExitFailed;
    Session s;
    if (int e = s.Open(o)) return e;
    NKI_CONTEXT ctx = s.ctx();
    if (what == "list") {
        for (uint32_t i = 1; i <= 255; ++i) {
            uint32_t size = 0;
            uint32_t rc = nkiGetCertSize(ctx, static_cast<uint8_t>(i), &size);
            if (rc == NKI_E_OUT_OF_RANGE || rc == NKI_E_CERTS_NOT_LOADED) break;
            if (rc != NKI_OK) return Fail("reading the certificate list", rc);
            Bytes cert(size);
            rc = nkiGetCert(ctx, static_cast<uint8_t>(i), cert.data());
            if (rc != NKI_OK) return Fail("reading a certificate", rc);
            TGostHash h;
            HashInit(&h, nullptr, nullptr);
            ::HashUpdate(&h, cert.data(), static_cast<uint32_t>(cert.size()));
            uint8_t digest[32];
            HashFinal(&h, digest);
            HashDone(&h);
            std::printf("%u: %u bytes, GOST 34.311 %s\n", i, size, Hex(digest, 32).c_str());
        }
        return kExitOk;
    }
    if (int e = s.Login(o)) return e;  // changes need the PIN; reading does not hurt with it
    if (what == "get") {
        uint32_t size = 0;
        uint32_t rc = nkiGetCertSize(ctx, static_cast<uint8_t>(index), &size);
        if (rc != NKI_OK) return Fail("reading the certificate's size", rc);
        Bytes cert(size);
        rc = nkiGetCert(ctx, static_cast<uint8_t>(index), cert.data());
        if (rc != NKI_OK) return Fail("reading the certificate", rc);
        return EmitRaw(o, cert);
    }
    uint32_t rc = what == "put" ? nkiSetCert(ctx, data.data(), static_cast<uint32_t>(data.size()))
                                : nkiDelCert(ctx, static_cast<uint8_t>(index));
    if (rc != NKI_OK) return Fail(what == "put" ? "storing the certificate" : "deleting the certificate", rc);
    return kExitOk;
}

int CmdCacert(const Options &o) {
    const std::string what = o.args.size() > 1 ? o.args[1] : "";
    bool ok = ((what == "get" || what == "del") && o.args.size() == 2) || (what == "put" && o.args.size() == 3);
    if (!ok) return Error("usage: nkitool cacert get [-o FILE] | put FILE | del"), kExitUsage;
    Bytes data;
    if (what == "put" && !ReadWholeFile(o.args[2], data, 65535)) return kExitFailed;
    Session s;
    if (int e = s.Open(o)) return e;
    NKI_CONTEXT ctx = s.ctx();
    if (what == "get") {
        uint32_t size = 0;
        uint32_t rc = nkiGetCACert(ctx, nullptr, &size);
        if (rc != NKI_OK && rc != NKI_E_BUFFER_TOO_SMALL) return Fail("reading the CA certificate", rc);
        Bytes cert(size);
        rc = nkiGetCACert(ctx, cert.data(), &size);
        if (rc != NKI_OK) return Fail("reading the CA certificate", rc);
        cert.resize(size);
        return EmitRaw(o, cert);
    }
    if (int e = s.Login(o)) return e;
    uint32_t rc = what == "put" ? nkiSetCACert(ctx, data.data(), static_cast<uint32_t>(data.size()))
                                : nkiClearCACert(ctx);
    if (rc != NKI_OK) return Fail(what == "put" ? "storing the CA certificate" : "deleting the CA certificate", rc);
    return kExitOk;
}

int CmdUserfile(const Options &o) {
    const std::string what = o.args.size() > 1 ? o.args[1] : "";
    bool ok = (what == "read" && o.args.size() == 2) || (what == "write" && o.args.size() == 3);
    if (!ok)
        return Error("usage: nkitool userfile read [-o FILE] [--offset N] [--length N] | write FILE [--offset N]"),
               kExitUsage;
    Bytes data;
    if (what == "write" && !ReadWholeFile(o.args[2], data, 1u << 24)) return kExitFailed;
    Session s;
    if (int e = s.Open(o)) return e;
    NKI_CONTEXT ctx = s.ctx();
    int32_t size = 0;
    uint32_t rc = nkiGetFileSize(ctx, &size);
    if (rc != NKI_OK) return Fail("reading the user file size", rc);
    uint32_t offset = o.offset.value_or(0);
    if (size < 0 || offset > static_cast<uint32_t>(size))
        return Error("offset %u is beyond the user file (%d bytes)", offset, size), kExitUsage;
    if (int e = s.Login(o)) return e;
    if (what == "read") {
        uint32_t length = o.length.value_or(static_cast<uint32_t>(size) - offset);
        if (length > static_cast<uint32_t>(size) - offset)
            return Error("the user file has %d bytes", size), kExitUsage;
        Bytes out(length);
        if (length > 0) {
            rc = nkiReadFile(ctx, out.data(), offset, length);
            if (rc != NKI_OK) return Fail("reading the user file", rc);
        }
        return EmitRaw(o, out);
    }
    if (data.size() > static_cast<uint32_t>(size) - offset)
        return Error("%zu bytes do not fit the user file (%d bytes) at offset %u", data.size(), size, offset),
               kExitFailed;
    if (!data.empty()) {
        rc = nkiWriteFile(ctx, data.data(), offset, static_cast<uint32_t>(data.size()));
        if (rc != NKI_OK) return Fail("writing the user file", rc);
    }
    return kExitOk;
}

int CmdApdu(const Options &o) {
    if (o.args.size() < 2) return Error("usage: nkitool apdu HEX..."), kExitUsage;
    std::vector<Bytes> commands;
    for (size_t i = 1; i < o.args.size(); ++i) {
        Bytes c;
        if (!ParseHex(o.args[i], c) || c.size() < 4 || c.size() > 255)
            return Error("not a command APDU (4 to 255 bytes in hex): %s", o.args[i].c_str()), kExitUsage;
        commands.push_back(std::move(c));
    }
    Session s;
    if (int e = s.Open(o)) return e;
    for (const Bytes &c : commands) {
        uint8_t out[258];
        uint32_t got = 0;
        std::printf("> %s\n", Hex(c).c_str());
        uint32_t rc = nkiIOControl(s.ctx(), kIoPassThrough, c.data(), static_cast<uint32_t>(c.size()), out,
                                   sizeof out, &got);
        uint16_t sw = 0;
        uint32_t swGot = 0;
        nkiIOControl(s.ctx(), 0x222070, nullptr, 0, &sw, sizeof sw, &swGot);
        if (rc != NKI_OK) {
            if (rc == NKI_E_UNSUPPORTED_FUNCTION)
                std::fprintf(stderr, "nkitool: this build passes only the retry-counter queries through\n");
            return Fail("exchanging the command", rc);
        }
        std::printf("< %s%s%04x\n", Hex(out, std::min<uint32_t>(got, sizeof out)).c_str(), got ? " " : "", sw);
    }
    return kExitOk;
}

// ---- Command line ----

bool TakeValue(int argc, char **argv, int &i, std::string &out) {
    std::string a = argv[i];
    auto eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
        out = a.substr(eq + 1);
        return true;
    }
    if (i + 1 >= argc) return Error("option %s needs a value", a.c_str()), false;
    out = argv[++i];
    return true;
}

// Answers -1 when the command line is good, else the exit status to end with.
int ParseArgs(int argc, char **argv, Options &o) {
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (endOfOptions || a == "-" || a.empty() || a[0] != '-') {
            o.args.push_back(a);
            continue;
        }
        std::string name = a.substr(0, a.find('='));
        std::string v;
        if (a == "--") {
            endOfOptions = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a == "--version") {
            std::printf("nkitool %s\n%s (interface version 0x%08x)\n", KCARLIB_VERSION, nkiGetDllDescription(),
                        static_cast<unsigned>(nkiGetDllVersion()));
            return kExitOk;
        } else if (name == "-r" || name == "--reader") {
            if (!TakeValue(argc, argv, i, o.reader)) return kExitUsage;
        } else if (name == "-o" || name == "--output") {
            if (!TakeValue(argc, argv, i, o.output)) return kExitUsage;
        } else if (name == "--pubkey") {
            if (!TakeValue(argc, argv, i, o.pubkey)) return kExitUsage;
        } else if (name == "--params") {
            if (!TakeValue(argc, argv, i, o.params)) return kExitUsage;
        } else if (name == "--check" || name == "-c") {
            if (!TakeValue(argc, argv, i, o.check)) return kExitUsage;
        } else if (name == "--pin-env") {
            if (!TakeValue(argc, argv, i, o.pinEnv) || o.pinEnv.empty()) return kExitUsage;
        } else if (name == "--slot" || name == "--offset" || name == "--length") {
            uint32_t n = 0;
            if (!TakeValue(argc, argv, i, v)) return kExitUsage;
            if (!ParseCount(v, name == "--slot" ? 255 : 0x7FFFFFFF, n) || (name == "--slot" && n == 0))
                return Error("bad value for %s: %s", name.c_str(), v.c_str()), kExitUsage;
            if (name == "--slot") o.slot = n;
            else if (name == "--offset") o.offset = n;
            else o.length = n;
        } else if (a == "--future") {
            o.slot = 2;
        } else if (a == "--pin-stdin") {
            o.pinStdin = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--hex") {
            o.hex = true;
        } else if (a == "--binary") {
            o.binary = true;
        } else if (a == "--compressed") {
            o.compressed = true;
        } else if (a == "--second") {
            o.second = true;
        } else if (a == "--no-progress") {
            o.progress = false;
        } else {
            Error("unknown option %s (see nkitool --help)", a.c_str());
            return kExitUsage;
        }
    }
    if (o.hex && o.binary) return Error("--hex and --binary exclude each other"), kExitUsage;
    if (o.pinStdin && !o.pinEnv.empty()) return Error("--pin-stdin and --pin-env exclude each other"), kExitUsage;
    if (o.args.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    int early = ParseArgs(argc, argv, o);
    if (early >= 0) return early;
    static const std::map<std::string, int (*)(const Options &)> commands = {
        {"list", CmdList},     {"info", CmdInfo},   {"watch", CmdWatch},   {"pin", CmdPin},
        {"keygen", CmdKeygen}, {"pubkey", CmdPubkey}, {"sign", CmdSign},   {"verify", CmdVerify}, {"params", CmdParams},
        {"hash", CmdHash},     {"random", CmdRandom}, {"cert", CmdCert},   {"cacert", CmdCacert},
        {"userfile", CmdUserfile}, {"apdu", CmdApdu},
    };
    auto it = commands.find(o.args[0]);
    if (it == commands.end()) {
        Error("unknown command \"%s\" (see nkitool --help)", o.args[0].c_str());
        return kExitUsage;
    }
    return it->second(o);
}
