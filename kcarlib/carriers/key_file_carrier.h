// The key file carrier: the key container kept in an "NKIF" file on disk,
// opened with a 32-byte file key that stands in for the PIN.
//
// Every change is committed by rewriting the whole file through ReplaceFile, so
// the file on disk is always either the old container or the new one.
#pragma once

#include <cstdint>
#include <string>

#include "carriers/host_key_session.h"

namespace kcar {

class KeyFileCarrier : public HostKeySession {
public:
    // Opens the file at path with the file key: 0, or 251 (empty path or no key),
    // 253 (missing or unreadable), 32 (outer layer), 33 (wrong key or damaged
    // content), 48 / 49 / 50 (identifiers), 254.
    uint32_t OpenFile(const std::string &path, const uint8_t *key32);
    // Creates a new key file at path under the file key with a fresh owner key
    // on the standard curve of degree 191; leaves no session open.
    static uint32_t Format(const std::string &path, const uint8_t *key32);
    // Replaces the file key and rewrites the file; the old key is kept when the
    // rewrite fails.
    uint32_t ChangePassword(const uint8_t *key32);
    uint32_t Commit() override;
    void Close() { Reset(); }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace kcar
