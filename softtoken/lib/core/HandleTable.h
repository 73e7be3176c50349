// Every handle the library gives out is a key into this table, never a pointer, so a
// stale, foreign or null handle is simply not found. Handles form a tree (device,
// application, container; later keys and hashes): closing one closes its children.
#pragma once

#include "skf/skfapi.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace softskf::core {

enum class HandleKind { Device, Application, Container, SessionKey, Hash, Mac, Agreement };

struct HandleObject
{
    explicit HandleObject(HandleKind kind, HANDLE parent = nullptr)
        : kind(kind)
        , parent(parent)
    {
    }
    virtual ~HandleObject() = default;
    const HandleKind kind;
    const HANDLE parent;
};

class HandleTable
{
public:
    HANDLE add(std::shared_ptr<HandleObject> object);

    // The object when the handle is live, of this kind, and its parents are live.
    template <typename T> T* find(HANDLE handle, HandleKind kind) const
    {
        HandleObject* object = lookup(handle);
        return object && object->kind == kind ? static_cast<T*>(object) : nullptr;
    }

    // The handle at the top of this handle's tree (its device), or null when not live.
    HANDLE rootOf(HANDLE handle) const;

    // Removes the handle and every handle below it; false when it was not live.
    bool remove(HANDLE handle);

private:
    HandleObject* lookup(HANDLE handle) const;

    std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> m_objects;
    // Values far from heap addresses and never reused within a process.
    uintptr_t m_next = 0x5f3c000000000010u;
};

} // namespace softskf::core
