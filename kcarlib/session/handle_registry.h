// The set of live session objects. A pointer that claims to be one (a context of the
// pointer-context build, or the argument of the generator's random-bit hook) is
// looked up here before it is dereferenced, so null, foreign and destroyed pointers
// are refused without reading the memory they point to.
#pragma once

#include "session/nki_handle.h"

namespace kcar {

// Registers a newly created context.
void RegisterHandle(TNkiHandle *h);
// Removes a context from the set; answers false when it was not registered.
bool UnregisterHandle(TNkiHandle *h) noexcept;
// The live context behind an opaque pointer, or null when the pointer is not one.
TNkiHandle *FindHandle(const void *context) noexcept;

}  // namespace kcar
