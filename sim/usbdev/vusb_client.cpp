#include "vusb_client.h"

#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
static void CloseSocket(SocketHandle s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
static void CloseSocket(SocketHandle s) { ::close(s); }
#endif

namespace vusb {

namespace {

bool SendAll(SocketHandle s, const uint8_t *p, std::size_t n) {
    while (n > 0) {
        int k = ::send(s, reinterpret_cast<const char *>(p), static_cast<int>(n), 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

bool ReceiveAll(SocketHandle s, uint8_t *p, std::size_t n) {
    while (n > 0) {
        int k = ::recv(s, reinterpret_cast<char *>(p), static_cast<int>(n), 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

}  // namespace

bool Exchange(const Bytes &request, Bytes &reply) {
    const char *portText = std::getenv(kPortVariable);
    long port = portText ? std::strtol(portText, nullptr, 10) : 0;
    if (port <= 0 || port > 65535) return false;
#ifdef _WIN32
    static bool started = false;
    if (!started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        started = true;
    }
#endif
    SocketHandle s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    Bytes framed;
    Put32(framed, static_cast<uint32_t>(request.size()));
    framed.insert(framed.end(), request.begin(), request.end());
    ok = ok && SendAll(s, framed.data(), framed.size());
    uint8_t length[4];
    ok = ok && ReceiveAll(s, length, 4);
    uint32_t n = ok ? Get32(length) : 0;
    ok = ok && n >= 4 && n <= kMaxMessage;
    if (ok) {
        reply.resize(n);
        ok = ReceiveAll(s, reply.data(), n);
    }
    CloseSocket(s);
    return ok;
}

}  // namespace vusb
