// Helpers of the end-to-end tests, which run under scripts/pcsc-stack: a real
// pcscd with the vpcd reader on VPCD_PORT, and cards as separate processes.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace e2e {

inline int VpcdPort() {
    const char *p = std::getenv("VPCD_PORT");
    return p ? std::atoi(p) : 0;
}

// A child process started by the test and stopped by its PID.
class Process {
public:
    explicit Process(std::vector<std::string> argv) {
        std::vector<char *> args;
        for (auto &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
    }
    ~Process() { Stop(); }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    bool Started() const { return pid_ > 0; }
    // SIGTERM, then the exit status (-1 when it did not end cleanly within 5 s).
    int Stop() {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                pid_ = -1;
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return status_ = -1;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Polls cond until it holds or timeoutMs passes (the service notices cards by polling).
inline bool WaitFor(const std::function<bool()> &cond, int timeoutMs = 8000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return cond();
}

}  // namespace e2e
