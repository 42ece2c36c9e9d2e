#include "vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <thread>

namespace vpcd {

Link::~Link() { Close(); }

void Link::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Link::Connect(uint16_t port, int timeoutMs) {
    Close();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
            return true;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool Link::ReadExact(uint8_t *p, std::size_t n, const std::atomic<bool> &stop) {
    std::size_t got = 0;
    while (got < n) {
        if (stop.load()) return false;
        pollfd pfd{fd_, POLLIN, 0};
        int ready = ::poll(&pfd, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) continue;
        // vpcd writes length and payload separately without TCP_NODELAY; without a
        // quick ACK each exchange can stall for the peer's delayed-ACK timer.
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        ssize_t r = ::recv(fd_, p + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool Link::Send(const Bytes &payload) {
    Bytes frame;
    frame.reserve(payload.size() + 2);
    frame.push_back(static_cast<uint8_t>(payload.size() >> 8));
    frame.push_back(static_cast<uint8_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t w = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        sent += static_cast<std::size_t>(w);
    }
    return true;
}

long Link::Serve(VirtualCard &card, const std::atomic<bool> &stop, long maxCommands) {
    long answered = 0;
    while (fd_ >= 0 && !stop.load()) {
        uint8_t header[2];
        if (!ReadExact(header, 2, stop)) break;
        std::size_t length = (std::size_t(header[0]) << 8) | header[1];
        Bytes payload(length);
        if (length > 0 && !ReadExact(payload.data(), length, stop)) break;
        if (length == 1) {
            switch (payload[0]) {
                case 0x00: card.PowerOff(); break;
                case 0x01: card.PowerOn(); break;
                case 0x02: card.Reset(); break;
                case 0x04:
                    if (!Send(card.Atr())) return answered;
                    break;
                default: break;
            }
            continue;
        }
        if (!Send(card.Transmit(payload))) break;
        ++answered;
        if (maxCommands > 0 && answered >= maxCommands) break;
    }
    Close();
    return answered;
}

bool ParseHex(const std::string &text, Bytes &out) {
    out.clear();
    int high = -1;
    for (char ch : text) {
        if (std::isspace(static_cast<unsigned char>(ch)) || ch == ':') continue;
        int v;
        if (ch >= '0' && ch <= '9') v = ch - '0';
        else if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
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

}  // namespace vpcd
