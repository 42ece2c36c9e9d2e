// nki-vusb: the simulated token as the host sees its USB device, for the firmware
// update tool. While the token is a reader it is the PC/SC reader
// "Kelmar Morvane 0" with vendor control requests; after the restart request it
// is the boot-loader device "ClsReaderB07r00" served by the simulated boot
// loader, which stores a complete image in the image file and hands back to the
// token. It is reached through the project's stand-ins for the host's drivers
// (vusb_protocol.h): TCP on 127.0.0.1 and the boot-loader device's Unix socket.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <PCSC/winscard.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "boot_loader.h"
#include "token_state.h"
#include "usb_token.h"
#include "vpcd_link.h"
#include "vusb_protocol.h"
#include "vtoken.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

void Usage(FILE *out) {
    std::fprintf(out,
        "usage: nki-vusb --state FILE --image FILE [--port PORT] [--port-file FILE]\n"
        "                [--device PATH] [options]\n"
        "\n"
        "Serves the simulated token's USB device until SIGTERM or SIGINT: the reader\n"
        "\"Kelmar Morvane 0\" with its vendor control requests, and after the restart\n"
        "request the boot-loader device, which stores a complete firmware image in\n"
        "the --image FILE (replaced atomically) and restarts the token as a reader.\n"
        "Stand-ins for PC/SC and the boot-loader driver reach it on 127.0.0.1:PORT\n"
        "(default: a free port, written to --port-file) with NKI_VUSB_PORT set; the\n"
        "Linux fwflash reaches the boot-loader device at the Unix socket --device PATH.\n"
        "The token's state lives in the --state FILE (as for nki-vtoken).\n"
        "\n"
        "Options:\n"
        "  --boot-loader          start in boot-loader mode\n"
        "  --refuse-control HEX   refuse vendor requests with this input (e.g. 14A0317A)\n"
        "  --resend N[:TIMES]     answer 2 (send again) to block N, TIMES times (1)\n"
        "  --refuse N[:RESULT]    answer RESULT (hex, default 6F) to block N\n"
        "  --garble N             the first record of block N arrives damaged\n"
        "  --fail N               the device I/O control carrying block N fails\n");
}

bool Number(const std::string &text, long min, long max, long &out, int base = 10) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max) return false;
    out = v;
    return true;
}

// "N" or "N:M"
bool Pair(const std::string &text, long &n, long &m, int base) {
    auto colon = text.find(':');
    if (!Number(text.substr(0, colon), 0, 255, n)) return false;
    return colon == std::string::npos || Number(text.substr(colon + 1), 0, 0x7FFFFFFF, m, base);
}

bool ReadExact(int fd, uint8_t *p, std::size_t n) {
    while (n > 0) {
        ssize_t k = ::recv(fd, p, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t *p, std::size_t n) {
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

class Server {
public:
    explicit Server(bootsim::UsbToken &device) : device_(device) {}

    vusb::Bytes Handle(const vusb::Bytes &m) {
        vusb::Bytes r;
        if (m.empty()) return Status(r, SCARD_E_INVALID_PARAMETER);
        const uint8_t *p = m.data() + 1;
        std::size_t n = m.size() - 1;
        switch (m[0]) {
        case vusb::kOpen:
            return Status(r, device_.OpenDevice(std::string(p, p + n)) ? 0 : 2);
        case vusb::kDeviceControl: {
            if (n < 4) return Status(r, 1);
            vusb::Bytes record(p + 4, p + n);
            if (!device_.DeviceControl(vusb::Get32(p), record.data(), record.size())) return Status(r, 1);
            Status(r, 0);
            r.insert(r.end(), record.begin(), record.end());
            return r;
        }
        case vusb::kConnect: {
            if (n < 8) return Status(r, SCARD_E_INVALID_PARAMETER);
            std::string name(p + 8, p + n);
            if (name.empty() || name != device_.ReaderName()) return Status(r, SCARD_E_UNKNOWN_READER);
            if (!(vusb::Get32(p + 4) & SCARD_PROTOCOL_T1)) return Status(r, SCARD_E_PROTO_MISMATCH);
            bool exclusive = vusb::Get32(p) == SCARD_SHARE_EXCLUSIVE;
            for (const auto &[h, generation] : handles_)
                if (generation == device_.Generation() && (exclusive || exclusive_[h]))
                    return Status(r, SCARD_E_SHARING_VIOLATION);
            uint32_t handle = nextHandle_++;
            handles_[handle] = device_.Generation();
            exclusive_[handle] = exclusive;
            Status(r, SCARD_S_SUCCESS);
            vusb::Put32(r, handle);
            vusb::Put32(r, SCARD_PROTOCOL_T1);
            return r;
        }
        case vusb::kStatus:
        case vusb::kControl: {
            if (n < (m[0] == vusb::kStatus ? 4u : 12u)) return Status(r, SCARD_E_INVALID_PARAMETER);
            auto it = handles_.find(vusb::Get32(p));
            if (it == handles_.end()) return Status(r, SCARD_E_INVALID_HANDLE);
            if (it->second != device_.Generation()) return Status(r, SCARD_W_REMOVED_CARD);
            if (m[0] == vusb::kStatus) {
                Status(r, SCARD_S_SUCCESS);
                vusb::Put32(r, SCARD_PROTOCOL_T1);
                vusb::Bytes atr = device_.token().Atr();
                r.insert(r.end(), atr.begin(), atr.end());
                return r;
            }
            vusb::Bytes out;
            if (!device_.VendorControl(vusb::Get32(p + 4), vusb::Bytes(p + 12, p + n), out))
                return Status(r, SCARD_E_NOT_TRANSACTED);
            if (out.size() > vusb::Get32(p + 8)) return Status(r, SCARD_E_INSUFFICIENT_BUFFER);
            Status(r, SCARD_S_SUCCESS);
            r.insert(r.end(), out.begin(), out.end());
            return r;
        }
        case vusb::kDisconnect:
            if (n < 4) return Status(r, SCARD_E_INVALID_PARAMETER);
            exclusive_.erase(vusb::Get32(p));
            return Status(r, handles_.erase(vusb::Get32(p)) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE);
        default:
            return Status(r, SCARD_E_INVALID_PARAMETER);
        }
    }

private:
    static vusb::Bytes &Status(vusb::Bytes &r, LONG rc) {
        vusb::Put32(r, static_cast<uint32_t>(rc));
        return r;
    }

    bootsim::UsbToken &device_;
    std::map<uint32_t, uint32_t> handles_;  // handle -> device generation at connect
    std::map<uint32_t, bool> exclusive_;
    uint32_t nextHandle_ = 0x100;
};

int Listen(int family, const std::string &path, long &port) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    if (family == AF_INET) {
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        if (rc == 0 && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0) port = ntohs(a.sin_port);
    } else {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        if (path.size() >= sizeof a.sun_path) {
            ::close(fd);
            return -1;
        }
        std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
        ::unlink(path.c_str());
        rc = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char **argv) {
    std::string statePath, imagePath, portFile, devicePath;
    long port = 0;
    bool startInBootLoader = false;
    std::vector<vusb::Bytes> refused;
    bootsim::Faults faults;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (a == "--boot-loader") {
            startInBootLoader = true;
            continue;
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        std::string v = argv[++i];
        long n = -1, m = 1;
        bool ok = true;
        if (a == "--state") statePath = v, ok = !v.empty();
        else if (a == "--image") imagePath = v, ok = !v.empty();
        else if (a == "--port-file") portFile = v;
        else if (a == "--device") devicePath = v;
        else if (a == "--port") ok = Number(v, 1, 65535, port);
        else if (a == "--refuse-control") {
            vusb::Bytes input;
            ok = vpcd::ParseHex(v, input) && !input.empty();
            refused.push_back(input);
        } else if (a == "--resend") {
            ok = Pair(v, n, m, 10);
            faults.resendBlock = static_cast<int>(n), faults.resendTimes = static_cast<int>(m);
        } else if (a == "--refuse") {
            m = 0x6F;
            ok = Pair(v, n, m, 16);
            faults.refuseBlock = static_cast<int>(n), faults.refuseResult = static_cast<uint32_t>(m);
        } else if (a == "--garble") {
            ok = Number(v, 0, 255, n);
            faults.garbleBlock = static_cast<int>(n);
        } else if (a == "--fail") {
            ok = Number(v, 0, 255, n);
            faults.failBlock = static_cast<int>(n);
        } else {
            std::fprintf(stderr, "nki-vusb: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "nki-vusb: bad value for %s: %s\n", a.c_str(), v.c_str());
            return 2;
        }
    }
    if (statePath.empty() || imagePath.empty()) {
        std::fprintf(stderr, "nki-vusb: --state FILE and --image FILE are required\n");
        return 2;
    }

    vtoken::State state;
    std::string error;
    int loaded = vtoken::LoadStateFile(statePath, state, error);
    if (loaded < 0 || (loaded == 0 && (!vtoken::MakeState({}, state, error) ||
                                       !vtoken::SaveStateFile(statePath, state, error)))) {
        std::fprintf(stderr, "nki-vusb: %s\n", error.c_str());
        return 1;
    }
    vtoken::Token token(state, [&statePath](const vtoken::State &s) {
        std::string why;
        if (vtoken::SaveStateFile(statePath, s, why)) return true;
        std::fprintf(stderr, "nki-vusb: %s\n", why.c_str());
        return false;
    });
    for (const auto &input : refused) token.RefuseControl(input);
    bootsim::BootLoader loader(imagePath);
    loader.SetFaults(faults);
    bootsim::UsbToken device(token, loader);
    if (startInBootLoader) {
        vusb::Bytes out;
        device.VendorControl(vtoken::Token::kVendorControlCode, {0x14, 0xA0, 0x31, 0x7A}, out);
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<int> listeners;
    int tcp = Listen(AF_INET, "", port);
    if (tcp < 0) {
        std::fprintf(stderr, "nki-vusb: cannot listen on 127.0.0.1:%ld: %s\n", port, std::strerror(errno));
        return 1;
    }
    listeners.push_back(tcp);
    if (!devicePath.empty()) {
        long unused = 0;
        int unix = Listen(AF_UNIX, devicePath, unused);
        if (unix < 0) {
            std::fprintf(stderr, "nki-vusb: cannot listen on %s: %s\n", devicePath.c_str(), std::strerror(errno));
            return 1;
        }
        listeners.push_back(unix);
    }
    if (!portFile.empty()) {
        // Written whole under a temporary name, so a reader never sees half a number.
        std::string temp = portFile + ".new";
        std::ofstream(temp) << port << "\n";
        std::rename(temp.c_str(), portFile.c_str());
    }
    std::fprintf(stderr, "nki-vusb: token %s on 127.0.0.1:%ld\n", device.InBootLoader() ? "in its boot loader" : "ready",
                 port);

    Server server(device);
    std::vector<int> clients;
    while (!g_stop) {
        std::vector<pollfd> fds;
        for (int fd : listeners) fds.push_back({fd, POLLIN, 0});
        for (int fd : clients) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 200) <= 0) continue;
        std::vector<int> keep;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                if (i >= listeners.size()) keep.push_back(fds[i].fd);
                continue;
            }
            if (i < listeners.size()) {
                int c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) keep.push_back(c);
                continue;
            }
            int fd = fds[i].fd;
            uint8_t length[4];
            bool ok = ReadExact(fd, length, 4);
            uint32_t n = ok ? vusb::Get32(length) : 0;
            vusb::Bytes message(n);
            ok = ok && n <= vusb::kMaxMessage && ReadExact(fd, message.data(), n);
            if (ok) {
                vusb::Bytes reply = server.Handle(message), framed;
                vusb::Put32(framed, static_cast<uint32_t>(reply.size()));
                framed.insert(framed.end(), reply.begin(), reply.end());
                ok = WriteAll(fd, framed.data(), framed.size());
            }
            if (ok) keep.push_back(fd);
            else ::close(fd);
        }
        clients = keep;
    }
    for (int fd : clients) ::close(fd);
    for (int fd : listeners) ::close(fd);
    if (!devicePath.empty()) ::unlink(devicePath.c_str());
    return 0;
}
