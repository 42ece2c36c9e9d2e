#include "carriers/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace kcar {

int PosixFiles::MakeTemp(char *pathTemplate) { return ::mkstemp(pathTemplate); }
ssize_t PosixFiles::Write(int fd, const void *data, std::size_t length) { return ::write(fd, data, length); }
int PosixFiles::Sync(int fd) { return ::fsync(fd); }
int PosixFiles::Close(int fd) { return ::close(fd); }
int PosixFiles::Rename(const char *from, const char *to) { return ::rename(from, to); }
int PosixFiles::Unlink(const char *path) { return ::unlink(path); }
int PosixFiles::OpenFolder(const char *path) { return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

namespace {

PosixFiles g_posix;
FileLayer *g_layer = &g_posix;

std::string FolderOf(const std::string &path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

FileLayer &CurrentFileLayer() noexcept { return *g_layer; }
void SetFileLayer(FileLayer *layer) noexcept { g_layer = layer != nullptr ? layer : &g_posix; }

bool ReplaceFile(const std::string &path, const uint8_t *data, std::size_t length) {
    FileLayer &fs = CurrentFileLayer();
    std::string temp = path + ".new-XXXXXX";
    int fd = fs.MakeTemp(temp.data());
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < length) {
        ssize_t n = fs.Write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    ok = ok && fs.Sync(fd) == 0;
    ok = (fs.Close(fd) == 0) && ok;
    ok = ok && fs.Rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        fs.Unlink(temp.c_str());
        return false;
    }
    int dir = fs.OpenFolder(FolderOf(path).c_str());
    if (dir >= 0) {
        fs.Sync(dir);
        fs.Close(dir);
    }
    return true;
}

int ReadWholeFile(const std::string &path, std::size_t maxLength, std::vector<uint8_t> &out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? -1 : -2;
    std::vector<uint8_t> buffer(maxLength + 1);
    std::size_t have = 0;
    int rc = 0;
    while (have < buffer.size()) {
        ssize_t n = ::read(fd, buffer.data() + have, buffer.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            rc = -2;
            break;
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (rc == 0) {
        buffer.resize(have);
        out.swap(buffer);
    }
    return rc;
}

}  // namespace kcar
