// Wiping of secrets (keys, PINs, generator seeds) that the compiler cannot drop.
#pragma once

#include <cstddef>

namespace kcar {

// Overwrites n bytes at p with zeros. The write goes through a volatile pointer and
// is followed by a compiler barrier, so it survives dead-store elimination even
// when the memory is released right after. A null p or n = 0 does nothing.
void SecureWipe(void *p, std::size_t n) noexcept;

template <typename T>
inline void SecureWipeObject(T &object) noexcept {
    SecureWipe(&object, sizeof(T));
}

}  // namespace kcar
