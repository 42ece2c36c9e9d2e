// A certificate write cut by killing the token daemon through a real pcscd: the
// daemon is killed right after it saved its state for a chosen piece of the write.
// When it is started again on the same state file, a new session reads the old
// store or the new one, or a damaged container (114) that the next whole-store
// write replaces; and the daemon left no temporary state file behind.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "kcarlib/nki.h"
#include "../support/temp_dir.h"

extern char **environ;

namespace {

const char kReader[] = "Virtual PCD 00 00";
const uint8_t kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
using Bytes = std::vector<uint8_t>;

bool CardIn() {
    int32_t kind = 0;
    return nkiGetDeviceType(kReader, &kind) == NKI_OK;
}

// The token daemon, which this test may also kill outright.
class Daemon {
public:
    explicit Daemon(const std::string &state) {
        std::vector<std::string> argv = {NKI_VTOKEN_PATH, "--state", state, "--port",
                                         std::to_string(e2e::VpcdPort())};
        std::vector<char *> args;
        for (auto &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
    }
    ~Daemon() { Kill(SIGTERM); }
    bool Started() const { return pid_ > 0; }
    void Kill(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

Bytes Cert(int i, std::size_t n) {
    std::string text;
    while (text.size() < n) text += "certificate " + std::to_string(i) + " issued to the owner of the token; ";
    return Bytes(text.begin(), text.begin() + n);
}

struct Store {
    uint32_t rc = 0;
    std::vector<Bytes> certs;
    Bytes ca;
    bool operator==(const Store &o) const { return rc == o.rc && certs == o.certs && ca == o.ca; }
};

Store Read(NKI_CONTEXT c) {
    Store s;
    uint32_t length = 0;
    uint32_t rc = nkiGetCACert(c, nullptr, &length);
    if (rc == NKI_OK) {
        s.ca.resize(length);
        rc = nkiGetCACert(c, s.ca.data(), &length);
    }
    if (rc != NKI_OK && rc != NKI_E_CERTS_NOT_LOADED) {
        s.rc = rc;
        return s;
    }
    for (int i = 1;; ++i) {
        uint32_t size = 0;
        rc = nkiGetCertSize(c, static_cast<uint8_t>(i), &size);
        if (rc == NKI_E_OUT_OF_RANGE) break;
        if (rc != NKI_OK) {
            s.rc = rc;
            break;
        }
        Bytes cert(size);
        EXPECT_EQ(nkiGetCert(c, static_cast<uint8_t>(i), cert.data()), NKI_OK);
        s.certs.push_back(cert);
    }
    return s;
}

TEST(CertCutE2E, TokenKilledInTheMiddleOfACertificateWrite) {
    if (e2e::VpcdPort() == 0) GTEST_SKIP() << "run under scripts/pcsc-stack";
    testsupport::TempDir dir;
    const std::string state = dir.File("t.state");
    NKI_CONTEXT c = nullptr;
    ASSERT_EQ(nkiCreateContext(&c, NKI_KIND_ACTIVE_TOKEN), NKI_OK);

    auto daemon = std::make_unique<Daemon>(state);
    ASSERT_TRUE(daemon->Started());
    ASSERT_TRUE(e2e::WaitFor(CardIn));
    ASSERT_EQ(nkiOpenSession(c, kReader, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
    for (int i = 1; i <= 3; ++i) {
        const Bytes cert = Cert(i, 600 + 100 * i);
        ASSERT_EQ(nkiSetCert(c, cert.data(), static_cast<uint32_t>(cert.size())), NKI_OK);
    }
    const Store before = Read(c);
    ASSERT_EQ(before.certs.size(), 3u);

    // Kill the daemon right after its second save during the write: a CA
    // certificate put in front moves every record, so every piece changes.
    const int inotify = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify, 0);
    ASSERT_GE(::inotify_add_watch(inotify, dir.path().c_str(), IN_MOVED_TO), 0);
    const pid_t victim = daemon->pid();
    std::atomic<bool> killed{false};
    std::thread killer([&] {
        int saves = 0;
        alignas(inotify_event) char buffer[4096];
        pollfd p{inotify, POLLIN, 0};
        while (!killed && ::poll(&p, 1, 10000) > 0) {
            const ssize_t n = ::read(inotify, buffer, sizeof buffer);
            for (ssize_t off = 0; off < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buffer + off);
                if (e->len > 0 && std::strcmp(e->name, "t.state") == 0 && ++saves == 2) {
                    ::kill(victim, SIGKILL);
                    killed = true;
                }
                off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    });
    const Bytes ca = Cert(9, 400);
    EXPECT_NE(nkiSetCACert(c, ca.data(), static_cast<uint32_t>(ca.size())), NKI_OK);
    killer.join();
    ::close(inotify);
    ASSERT_TRUE(killed);
    daemon->Kill(SIGKILL);  // reaps it once it has ended
    // The session ends once the service has seen the card go.
    ASSERT_TRUE(e2e::WaitFor([] { return !CardIn(); }));
    uint32_t size = 0;
    EXPECT_EQ(nkiGetCertSize(c, 1, &size), NKI_OK) << "the cached store still answers";
    EXPECT_EQ(nkiCloseSession(c), NKI_OK);

    daemon = std::make_unique<Daemon>(state);
    ASSERT_TRUE(daemon->Started());
    ASSERT_TRUE(e2e::WaitFor(CardIn, 30000));
    ASSERT_EQ(nkiOpenSession(c, kReader, nullptr), NKI_OK);
    ASSERT_EQ(nkiCheckPINEx(c, kPin, 8), NKI_OK);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.state"}) << "temporary state files left behind";
    Store after = before;
    after.ca = ca;
    const Store now = Read(c);
    if (!(now == before) && !(now == after)) {
        ASSERT_EQ(now.rc, NKI_E_CERTS_UNKNOWN_PACKING) << "neither the old nor the new store";
        const Bytes fresh = Cert(5, 300);
        ASSERT_EQ(nkiSetCert(c, fresh.data(), static_cast<uint32_t>(fresh.size())), NKI_OK);
        ASSERT_EQ(nkiCloseSession(c), NKI_OK);
        ASSERT_EQ(nkiOpenSession(c, kReader, nullptr), NKI_OK);
        const Store repaired = Read(c);
        EXPECT_EQ(repaired.rc, NKI_OK);
        EXPECT_EQ(repaired.certs, std::vector<Bytes>{fresh});
    }
    EXPECT_EQ(nkiDestroyContext(&c), NKI_OK);
}

}  // namespace
