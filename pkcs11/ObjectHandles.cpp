// The object-handle table.
#include "ObjectHandles.h"

namespace skfp11 {

CK_OBJECT_HANDLE ObjectHandles::handleFor(CK_SLOT_ID slot, const std::string& identity)
{
    auto key = std::make_pair(slot, identity);
    auto found = m_handles.find(key);
    if (found != m_handles.end()) {
        return found->second;
    }
    while (m_next == CK_INVALID_HANDLE || m_owners.count(m_next)) {
        ++m_next;
    }
    const CK_OBJECT_HANDLE handle = m_next++;
    m_handles.emplace(key, handle);
    m_owners.emplace(handle, std::move(key));
    return handle;
}

const std::pair<CK_SLOT_ID, std::string>* ObjectHandles::owner(CK_OBJECT_HANDLE handle) const
{
    auto found = m_owners.find(handle);
    return found == m_owners.end() ? nullptr : &found->second;
}

} // namespace skfp11
