#include "session/handle_registry.h"

#include <mutex>
#include <unordered_set>

namespace kcar {
namespace {

// Never destroyed: contexts still alive when the library unloads are destroyed by
// the export frame's own clean-up, which may run after this file's statics would be.
std::mutex &RegistryLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::unordered_set<const void *> &Registry() {
    static auto *live = new std::unordered_set<const void *>;
    return *live;
}

}  // namespace

void RegisterHandle(TNkiHandle *h) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().insert(h);
}

bool UnregisterHandle(TNkiHandle *h) noexcept {
    std::lock_guard<std::mutex> guard(RegistryLock());
    return Registry().erase(h) == 1;
}

TNkiHandle *FindHandle(const void *context) noexcept {
    if (context == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (Registry().count(context) == 0) return nullptr;
    auto *h = static_cast<TNkiHandle *>(const_cast<void *>(context));
    return TNkiHandle::validate(h) ? h : nullptr;
}

}  // namespace kcar
