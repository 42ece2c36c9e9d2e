#include "crypto/secure_wipe.h"

namespace kcar {

void SecureWipe(void *p, std::size_t n) noexcept {
    if (p == nullptr) return;
    volatile unsigned char *q = static_cast<volatile unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i) q[i] = 0;
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

}  // namespace kcar
