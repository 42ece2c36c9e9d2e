// Replacing a file so that a crash, a full disk or a pulled drive at any moment
// leaves either the old content or the new, never a mix or nothing: the new
// content goes to a fresh file beside the old one (same folder, mode 0600), is
// flushed to the disk, renamed over the old name, and the folder is flushed so
// that the rename itself is durable.
//
// The file operations go through FileLayer so that tests can fail each step in
// turn; production uses PosixFiles.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kcar {

class FileLayer {
public:
    virtual ~FileLayer() = default;
    // mkstemp: creates a unique file (mode 0600) from a template ending in XXXXXX.
    virtual int MakeTemp(char *pathTemplate) = 0;
    virtual ssize_t Write(int fd, const void *data, std::size_t length) = 0;
    virtual int Sync(int fd) = 0;
    virtual int Close(int fd) = 0;
    virtual int Rename(const char *from, const char *to) = 0;
    virtual int Unlink(const char *path) = 0;
    // Opens a folder for flushing (O_RDONLY | O_DIRECTORY).
    virtual int OpenFolder(const char *path) = 0;
};

class PosixFiles : public FileLayer {
public:
    int MakeTemp(char *pathTemplate) override;
    ssize_t Write(int fd, const void *data, std::size_t length) override;
    int Sync(int fd) override;
    int Close(int fd) override;
    int Rename(const char *from, const char *to) override;
    int Unlink(const char *path) override;
    int OpenFolder(const char *path) override;
};

// The process-wide layer: PosixFiles unless a test has put another in place.
FileLayer &CurrentFileLayer() noexcept;
// Test hook: nullptr restores PosixFiles.
void SetFileLayer(FileLayer *layer) noexcept;

// Replaces path by data as described above. False when any step before the
// rename failed: the old file is then untouched and the temporary file removed.
// A failure to flush the folder after the rename still answers true: the new
// content is in place under the name and only its durability against a power
// cut is in doubt; the old content is gone either way.
bool ReplaceFile(const std::string &path, const uint8_t *data, std::size_t length);

// Reads a whole file of at most maxLength bytes (one more is read to tell a longer
// file). 0 when read; -1 when it does not exist; -2 on a read error.
int ReadWholeFile(const std::string &path, std::size_t maxLength, std::vector<uint8_t> &out);

}  // namespace kcar
