// nki-vcarrier: a simulated container card or protected data card in the vpcd
// virtual reader of a real pcscd. It keeps its whole state in one file, which it
// creates on first use and rewrites atomically after every change.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "card_state.h"
#include "vcarrier.h"
#include "vpcd_link.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

void Usage(FILE *out) {
    std::fprintf(out,
        "usage: nki-vcarrier --kind container|protected --state FILE [--port PORT] [options]\n"
        "\n"
        "Serves a simulated container card or protected data card in the vpcd virtual\n"
        "reader slot on 127.0.0.1:PORT (default 35963; the reader's second slot is\n"
        "PORT + 1) until stopped with SIGTERM or SIGINT. The card's state lives in\n"
        "FILE; a fresh card of the given kind is made there on first use.\n"
        "\n"
        "Options for a fresh card (ignored when FILE exists):\n"
        "  --pin PIN              the PIN, 1 to 8 characters (default 12345678)\n"
        "  --puk PUK              protected card: the PUK (default 87654321)\n"
        "  --serial HEX           the 8-byte serial number (default: random)\n"
        "  --user-file N          size of the user file 0201 (default 1024)\n"
        "  --open-user-file       protected card: the user file without the channel\n"
        "  --no-channel           protected card: no secure channel\n"
        "  --no-parameters        container card: an empty parameter record\n"
        "\n"
        "Fault injection:\n"
        "  --remove-after N       leave the reader after answering N commands\n"
        "  --answer HEX=SW        answer status word SW to every command whose bytes\n"
        "                         start with HEX (e.g. --answer 00D6=6581); repeatable\n");
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
    std::string statePath, kind;
    long port = 35963, removeAfter = 0;
    vcards::CardOptions options;
    std::vector<std::pair<vpcd::Bytes, uint16_t>> answers;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (a == "--open-user-file") {
            options.userFileNeedsChannel = false;
            continue;
        }
        if (a == "--no-channel") {
            options.channel = false;
            continue;
        }
        if (a == "--no-parameters") {
            options.carryParameters = false;
            continue;
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        std::string v = argv[++i];
        bool ok = true;
        long n = 0;
        if (a == "--state") {
            statePath = v;
            ok = !v.empty();
        } else if (a == "--kind") {
            kind = v;
            ok = v == "container" || v == "protected";
            options.kind = v == "protected" ? vcards::Kind::Protected : vcards::Kind::Container;
        } else if (a == "--port") {
            ok = ParseNumber(v, 1, 65535, port);
        } else if (a == "--pin") {
            options.pin = v;
            ok = !v.empty() && v.size() <= 8;
        } else if (a == "--puk") {
            options.puk = v;
            ok = !v.empty() && v.size() <= 8;
        } else if (a == "--serial") {
            vpcd::Bytes serial;
            ok = vpcd::ParseHex(v, serial) && serial.size() == 8;
            if (ok) std::copy(serial.begin(), serial.end(), options.serial.begin());
        } else if (a == "--user-file") {
            ok = ParseNumber(v, 0, 65535, n);
            options.userFileSize = uint32_t(n);
        } else if (a == "--remove-after") {
            ok = ParseNumber(v, 1, 1L << 30, removeAfter);
        } else if (a == "--answer") {
            auto eq = v.find('=');
            vpcd::Bytes prefix, sw;
            ok = eq != std::string::npos && vpcd::ParseHex(v.substr(0, eq), prefix) && !prefix.empty() &&
                 vpcd::ParseHex(v.substr(eq + 1), sw) && sw.size() == 2;
            if (ok) answers.emplace_back(prefix, uint16_t(sw[0] << 8 | sw[1]));
        } else {
            std::fprintf(stderr, "nki-vcarrier: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "nki-vcarrier: bad value for %s: %s\n", a.c_str(), v.c_str());
            return 2;
        }
    }
    if (statePath.empty() || kind.empty()) {
        std::fprintf(stderr, "nki-vcarrier: --kind and --state are required\n");
        Usage(stderr);
        return 2;
    }

    vcards::CardState state;
    std::string error;
    int loaded = vcards::LoadStateFile(statePath, state, error);
    if (loaded < 0) {
        std::fprintf(stderr, "nki-vcarrier: %s\n", error.c_str());
        return 1;
    }
    if (loaded == 0 &&
        (!vcards::MakeState(options, state, error) || !vcards::SaveStateFile(statePath, state, error))) {
        std::fprintf(stderr, "nki-vcarrier: %s\n", error.c_str());
        return 1;
    }
    if (state.kind != options.kind) {
        std::fprintf(stderr, "nki-vcarrier: %s holds a card of another kind\n", statePath.c_str());
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    vcards::Card card(state, [&statePath](const vcards::CardState &s) {
        std::string why;
        if (vcards::SaveStateFile(statePath, s, why)) return true;
        std::fprintf(stderr, "nki-vcarrier: %s\n", why.c_str());
        return false;
    });
    for (const auto &[prefix, sw] : answers) card.InjectStatus(prefix, sw);
    std::fprintf(stderr, "nki-vcarrier: %s %s card in the reader on 127.0.0.1:%ld\n", loaded ? "serving" : "made",
                 kind.c_str(), port);

    vpcd::Link link;
    long answered = 0;
    bool waitingNoted = false;
    while (!g_stop) {
        if (!link.Connect(uint16_t(port), 500)) {
            if (!waitingNoted) std::fprintf(stderr, "nki-vcarrier: waiting for the reader on 127.0.0.1:%ld\n", port);
            waitingNoted = true;
            continue;
        }
        waitingNoted = false;
        answered += link.Serve(card, g_stop, removeAfter > 0 ? removeAfter - answered : 0);
        card.PowerOff();
        if (removeAfter > 0 && answered >= removeAfter) {
            std::fprintf(stderr, "nki-vcarrier: removed from the reader after %ld commands\n", answered);
            while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            break;
        }
        if (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}
