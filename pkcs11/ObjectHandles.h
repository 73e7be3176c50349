// The handles of the module's objects. An object is known by its slot and its identity (its
// container, its pair and its class), and keeps one handle for the module's life: a handle a
// client holds names the same object after the token's objects are read again (a certificate
// written, a rename, the token pulled and plugged back) and never names another. Used under
// the entry layer's lock, as the module is.
#pragma once

#include <p11-kit/pkcs11.h>

#include <map>
#include <string>
#include <utility>

namespace skfp11 {

class ObjectHandles
{
public:
    // The object's handle, given now if it has none yet; never 0.
    CK_OBJECT_HANDLE handleFor(CK_SLOT_ID slot, const std::string& identity);
    // The slot and identity a handle was given for, or nullptr for a handle never given.
    const std::pair<CK_SLOT_ID, std::string>* owner(CK_OBJECT_HANDLE handle) const;

private:
    std::map<std::pair<CK_SLOT_ID, std::string>, CK_OBJECT_HANDLE> m_handles;
    std::map<CK_OBJECT_HANDLE, std::pair<CK_SLOT_ID, std::string>> m_owners;
    CK_OBJECT_HANDLE m_next = 1;
};

} // namespace skfp11
