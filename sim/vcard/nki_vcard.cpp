// nki-vcard: a minimal virtual card for the vpcd reader. It serves a fixed ATR and
// answers every APDU with one fixed response; enough to see a card in a reader
// through the real PC/SC service.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vpcd_link.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

class FixedCard : public vpcd::VirtualCard {
public:
    FixedCard(vpcd::Bytes atr, vpcd::Bytes answer) : atr_(std::move(atr)), answer_(std::move(answer)) {}
    vpcd::Bytes Atr() override { return atr_; }
    vpcd::Bytes Transmit(const vpcd::Bytes &) override { return answer_; }

private:
    vpcd::Bytes atr_, answer_;
};

void Usage(FILE *out) {
    std::fprintf(out,
                 "usage: nki-vcard [--port PORT] [--atr HEX] [--answer HEX]\n"
                 "Connects a virtual card to the vpcd reader slot on 127.0.0.1:PORT (default 35963),\n"
                 "serves the ATR and answers every APDU with the fixed response (default 90 00)\n"
                 "until stopped with SIGTERM or SIGINT.\n");
}

}  // namespace

int main(int argc, char **argv) {
    long port = 35963;
    std::string atrText = "3B B7 94 00 81 31 FE 65 20 00 00 00 00 00 01 00";
    std::string answerText = "90 00";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--port" || a == "--atr" || a == "--answer") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--port") {
                char *end = nullptr;
                port = std::strtol(v.c_str(), &end, 10);
                if (*end != '\0' || port <= 0 || port > 65535) {
                    std::fprintf(stderr, "nki-vcard: bad port %s\n", v.c_str());
                    return 2;
                }
            } else if (a == "--atr") {
                atrText = v;
            } else {
                answerText = v;
            }
        } else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    vpcd::Bytes atr, answer;
    if (!vpcd::ParseHex(atrText, atr) || atr.empty() || atr.size() > 33 || !vpcd::ParseHex(answerText, answer) ||
        answer.size() < 2) {
        std::fprintf(stderr, "nki-vcard: malformed --atr or --answer\n");
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    FixedCard card(atr, answer);
    vpcd::Link link;
    if (!link.Connect(static_cast<uint16_t>(port), 10000)) {
        std::fprintf(stderr, "nki-vcard: cannot connect to the reader on 127.0.0.1:%ld\n", port);
        return 1;
    }
    link.Serve(card, g_stop);
    return 0;
}
