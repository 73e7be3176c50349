// The handle table.
#include "HandleTable.h"

#include <vector>

namespace softskf::core {

namespace {
constexpr uintptr_t kHandleStep = 0x10;
}

HANDLE HandleTable::add(std::shared_ptr<HandleObject> object)
{
    const uintptr_t value = m_next;
    m_next += kHandleStep;
    m_objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

HandleObject* HandleTable::lookup(HANDLE handle) const
{
    const auto found = m_objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_objects.end()) {
        return nullptr;
    }
    HandleObject* object = found->second.get();
    if (object->parent && !lookup(object->parent)) {
        return nullptr;
    }
    return object;
}

HANDLE HandleTable::rootOf(HANDLE handle) const
{
    const HandleObject* object = lookup(handle);
    while (object && object->parent) {
        handle = object->parent;
        object = lookup(handle);
    }
    return object ? handle : nullptr;
}

bool HandleTable::remove(HANDLE handle)
{
    const auto found = m_objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_objects.end()) {
        return false;
    }
    m_objects.erase(found);
    std::vector<HANDLE> children;
    for (const auto& [value, object] : m_objects) {
        if (object->parent == handle) {
            children.push_back(reinterpret_cast<HANDLE>(value));
        }
    }
    for (HANDLE child : children) {
        remove(child);
    }
    return true;
}

} // namespace softskf::core
