// The context registry of the multi-carrier build: contexts are small integers
// found in a doubly linked list in increasing order. A new context gets the last
// entry's number + 1 (1 when the list is empty), so the number of a destroyed last
// context is issued again while a gap in the middle is not.
//
// One recursive mutex guards the list for insertion, removal and search alike: a
// search never walks entries that another thread is unlinking. The session behind
// an entry is not locked: one context is used by one thread at a time, and a
// context must not be destroyed while another thread uses it.
#pragma once

#include <cstdint>

#include "session/nki_handle.h"

namespace kcar {

struct TNode {
    int32_t Handle = 0;
    TNkiHandle *Data = nullptr;  // the session state of this context
    TNode *Prev = nullptr;
    TNode *Next = nullptr;
};

// Appends a new context of the given device type; 0 when memory ran out.
int32_t RegistryInsert(uint8_t deviceType) noexcept;
// The session of a context, or null for an unknown handle.
TNkiHandle *RegistryFind(int32_t handle) noexcept;
// Closes the context's session, releases it and unlinks it; false for an unknown handle.
bool RegistryRemove(int32_t handle) noexcept;

}  // namespace kcar
