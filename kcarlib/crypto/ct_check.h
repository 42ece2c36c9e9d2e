// Support for checking that secret values never steer a branch or a memory index.
//
// The check runs the secret-key operations under Valgrind's memcheck with the
// secret inputs marked undefined: any conditional jump or address computed from
// them is reported. Values that the operation publishes anyway (a signature half,
// whether a result is the point at infinity) are marked public here, at the point
// where the code decides on them. Outside Valgrind the marks cost a few
// instructions and change nothing; without Valgrind's header they compile away.
#pragma once

#include <cstddef>

#if defined(__has_include)
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define KCAR_CT_HOOKS 1
#endif
#endif

namespace kcar {

// Declares n bytes at p public: derived from secrets but revealed by the result.
inline void CtPublic(const void *p, std::size_t n) noexcept {
#ifdef KCAR_CT_HOOKS
    (void)VALGRIND_MAKE_MEM_DEFINED(p, n);
#else
    (void)p, (void)n;
#endif
}

// True when the library was built with the marks (the check needs them).
bool CtHooksPresent() noexcept;

}  // namespace kcar
