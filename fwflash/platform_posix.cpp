// The Linux platform of fwflash: console on standard input and output, and the
// boot-loader device as a Unix socket (device_socket.h).
#include "platform_posix.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device_socket.h"
#include "flash_records.h"

namespace fwflash {

namespace {

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

bool ReadAll(int fd, uint8_t *p, std::size_t n) {
    while (n > 0) {
        ssize_t k = ::recv(fd, p, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// One request and its reply; false when the link fails.
bool Exchange(int fd, const std::vector<uint8_t> &request, std::vector<uint8_t> &reply) {
    uint8_t length[4];
    PutLe32(length, static_cast<uint32_t>(request.size()));
    if (!WriteAll(fd, length, 4) || !WriteAll(fd, request.data(), request.size())) return false;
    if (!ReadAll(fd, length, 4)) return false;
    uint32_t n = GetLe32(length);
    if (n < 4 || n > kMaxMessage) return false;
    reply.resize(n);
    return ReadAll(fd, reply.data(), n);
}

}  // namespace

PosixPlatform::PosixPlatform(std::string devicePath) : devicePath_(std::move(devicePath)) {}

PosixPlatform::~PosixPlatform() {
    for (int fd : devices_) ::close(fd);
}

void PosixPlatform::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PosixPlatform::WaitEnter() {
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
}

void PosixPlatform::SleepMs(unsigned ms) {
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool PosixPlatform::OpenBootLoader() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (devicePath_.empty() || devicePath_.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, devicePath_.c_str(), devicePath_.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return false;
    }
    std::vector<uint8_t> request{kDeviceOpen}, reply;
    request.insert(request.end(), kBootLoaderDeviceName, kBootLoaderDeviceName + std::strlen(kBootLoaderDeviceName));
    if (!Exchange(fd, request, reply) || GetLe32(reply.data()) != 0) {
        ::close(fd);
        return false;
    }
    devices_.push_back(fd);
    return true;
}

bool PosixPlatform::BootLoaderControl(uint32_t code, uint8_t *record, std::size_t size) {
    if (devices_.empty()) return false;
    std::vector<uint8_t> request(5 + size), reply;
    request[0] = kDeviceControl;
    PutLe32(&request[1], code);
    std::memcpy(&request[5], record, size);
    if (!Exchange(devices_.back(), request, reply) || GetLe32(reply.data()) != 0) return false;
    if (reply.size() - 4 != size) return false;
    std::memcpy(record, reply.data() + 4, size);
    return true;
}

}  // namespace fwflash
