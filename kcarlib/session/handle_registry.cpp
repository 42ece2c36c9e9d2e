#include "session/handle_registry.h"

#include <mutex>
#include <unordered_set>

namespace kcar {
namespace {

std::mutex &RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<const void *> &Registry() {
    static std::unordered_set<const void *> live;
    return live;
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
