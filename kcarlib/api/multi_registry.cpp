#include "api/multi_registry.h"

#include "session/handle_registry.h"

#include <mutex>
#include <new>

namespace kcar {
namespace {

struct TRegistry {
    std::recursive_mutex Lock;
    TNode *Head = nullptr;

    TNode *FindLocked(int32_t handle) const noexcept {
        TNode *n = Head;
        while (n != nullptr && n->Handle < handle) n = n->Next;
        return n != nullptr && n->Handle == handle ? n : nullptr;
    }

    // Library unload: every remaining context is destroyed.
    ~TRegistry() {
        while (Head != nullptr) RegistryRemove(Head->Handle);
    }
};

TRegistry &Registry() {
    static TRegistry registry;
    return registry;
}

}  // namespace

int32_t RegistryInsert(uint8_t deviceType) noexcept {
    auto *node = new (std::nothrow) TNode;
    if (node == nullptr) return 0;
    node->Data = new (std::nothrow) TNkiHandle;
    if (node->Data == nullptr) {
        delete node;
        return 0;
    }
    node->Data->Build = CarrierBuild::MultiCarrier;
    node->Data->DeviceType = deviceType;
    node->Data->State = TNkiHandle::Created;
    // The generator's random-bit hook finds live sessions in the session layer's set.
    RegisterHandle(node->Data);

    TRegistry &r = Registry();
    std::lock_guard<std::recursive_mutex> guard(r.Lock);
    if (r.Head == nullptr) {
        node->Handle = 1;
        r.Head = node;
    } else {
        TNode *last = r.Head;
        while (last->Next != nullptr) last = last->Next;
        node->Handle = last->Handle + 1;
        node->Prev = last;
        last->Next = node;
    }
    return node->Handle;
}

TNkiHandle *RegistryFind(int32_t handle) noexcept {
    TRegistry &r = Registry();
    std::lock_guard<std::recursive_mutex> guard(r.Lock);
    TNode *n = r.FindLocked(handle);
    return n != nullptr ? n->Data : nullptr;
}

bool RegistryRemove(int32_t handle) noexcept {
    TRegistry &r = Registry();
    TNode *n = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(r.Lock);
        n = r.FindLocked(handle);
        if (n == nullptr) return false;
        if (n->Prev != nullptr)
            n->Prev->Next = n->Next;
        else
            r.Head = n->Next;
        if (n->Next != nullptr) n->Next->Prev = n->Prev;
    }
    // Unlinked: no other thread can find it any more; release it outside the lock,
    // since closing may wait on the PC/SC service.
    UnregisterHandle(n->Data);
    delete n->Data;
    delete n;
    return true;
}

}  // namespace kcar
