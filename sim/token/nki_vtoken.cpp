// nki-vtoken: a simulated token in the vpcd virtual reader of a real pcscd.
// It keeps its whole state (PINs and counters, keys, files) in one file, which it
// creates on first use and rewrites atomically after every change.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "token_state.h"
#include "vpcd_link.h"
#include "vtoken.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

void Usage(FILE *out) {
    std::fprintf(out,
        "usage: nki-vtoken --state FILE [--port PORT] [--pin PIN] [options]\n"
        "\n"
        "Serves a simulated token in the vpcd virtual reader slot on 127.0.0.1:PORT\n"
        "(default 35963; the reader's second slot is PORT + 1) until stopped with\n"
        "SIGTERM or SIGINT. The token's state lives in FILE; a fresh token is made\n"
        "there on first use. Run one nki-vtoken per slot for several tokens.\n"
        "\n"
        "Options for a fresh token (ignored when FILE exists):\n"
        "  --pin PIN              the PIN, 1 to 8 characters (default 12345678)\n"
        "  --serial HEX           the 8-byte serial number (default: random)\n"
        "  --containers N,N,...   sizes of containers 1, 2, ... (files 0201, 0202, ...;\n"
        "                         default 4096,8192,1024; 0 leaves a container out)\n"
        "  --key-slots N          number of key slots (default 2)\n"
        "\n"
        "Fault injection:\n"
        "  --remove-after N       leave the reader after answering N commands\n"
        "  --answer HEX=SW        answer status word SW to every command whose bytes\n"
        "                         start with HEX (e.g. --answer 4052=6982); repeatable\n");
}

bool ParseNumber(const std::string &text, long min, long max, long &out) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::string statePath;
    long port = 35963;
    long removeAfter = 0;
    bool pinGiven = false;
    vtoken::TokenOptions options;
    std::vector<std::pair<vpcd::Bytes, uint16_t>> answers;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        std::string v = argv[++i];
        bool ok = true;
        if (a == "--state") {
            statePath = v;
            ok = !v.empty();
        } else if (a == "--port") {
            ok = ParseNumber(v, 1, 65535, port);
        } else if (a == "--pin") {
            std::array<uint8_t, 8> block;
            ok = vtoken::PinBlock(v, block);
            options.pin = v;
            pinGiven = true;
        } else if (a == "--serial") {
            vpcd::Bytes serial;
            ok = vpcd::ParseHex(v, serial) && serial.size() == 8;
            if (ok) std::copy(serial.begin(), serial.end(), options.serial.begin());
        } else if (a == "--containers") {
            options.containerSizes.clear();
            std::istringstream in(v);
            for (std::string item; ok && std::getline(in, item, ',');) {
                long size = 0;
                ok = ParseNumber(item, 0, 65535, size);
                if (ok) options.containerSizes.push_back(static_cast<uint32_t>(size));
            }
            ok = ok && !options.containerSizes.empty() && options.containerSizes.size() <= 255;
        } else if (a == "--key-slots") {
            long n = 0;
            ok = ParseNumber(v, 1, 255, n);
            if (ok) options.keySlots = static_cast<int>(n);
        } else if (a == "--remove-after") {
            ok = ParseNumber(v, 1, 1L << 30, removeAfter);
        } else if (a == "--answer") {
            auto eq = v.find('=');
            vpcd::Bytes prefix, sw;
            ok = eq != std::string::npos && vpcd::ParseHex(v.substr(0, eq), prefix) && !prefix.empty() &&
                 vpcd::ParseHex(v.substr(eq + 1), sw) && sw.size() == 2;
            if (ok) answers.emplace_back(prefix, static_cast<uint16_t>(sw[0] << 8 | sw[1]));
        } else {
            std::fprintf(stderr, "nki-vtoken: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "nki-vtoken: bad value for %s: %s\n", a.c_str(), v.c_str());
            return 2;
        }
    }
    if (statePath.empty()) {
        std::fprintf(stderr, "nki-vtoken: --state FILE is required\n");
        Usage(stderr);
        return 2;
    }

    vtoken::State state;
    std::string error;
    int loaded = vtoken::LoadStateFile(statePath, state, error);
    if (loaded < 0) {
        std::fprintf(stderr, "nki-vtoken: %s\n", error.c_str());
        return 1;
    }
    if (loaded == 0) {
        if (!vtoken::MakeState(options, state, error) || !vtoken::SaveStateFile(statePath, state, error)) {
            std::fprintf(stderr, "nki-vtoken: %s\n", error.c_str());
            return 1;
        }
    } else if (pinGiven) {
        std::fprintf(stderr, "nki-vtoken: %s exists; its own PIN stays\n", statePath.c_str());
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    vtoken::Token token(state, [&statePath](const vtoken::State &s) {
        std::string why;
        if (vtoken::SaveStateFile(statePath, s, why)) return true;
        std::fprintf(stderr, "nki-vtoken: %s\n", why.c_str());
        return false;
    });
    for (const auto &[prefix, sw] : answers) token.InjectStatus(prefix, sw);

    std::string serial;
    for (uint8_t b : state.serial) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        serial += hex;
    }
    std::fprintf(stderr, "nki-vtoken: %s token %s in the reader on 127.0.0.1:%ld\n", loaded ? "serving" : "made",
                 serial.c_str(), port);

    vpcd::Link link;
    long answered = 0;
    bool waitingNoted = false;
    while (!g_stop) {
        if (!link.Connect(static_cast<uint16_t>(port), 500)) {
            if (!waitingNoted) std::fprintf(stderr, "nki-vtoken: waiting for the reader on 127.0.0.1:%ld\n", port);
            waitingNoted = true;
            continue;
        }
        waitingNoted = false;
        answered += link.Serve(token, g_stop, removeAfter > 0 ? removeAfter - answered : 0);
        token.PowerOff();  // out of the reader: the card session ends
        if (removeAfter > 0 && answered >= removeAfter) {
            std::fprintf(stderr, "nki-vtoken: removed from the reader after %ld commands\n", answered);
            while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            break;
        }
        if (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}
