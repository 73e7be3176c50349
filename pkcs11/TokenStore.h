// One token's objects as read from its containers: the key pairs, the objects they show with
// the names clients gave them, and the containers kept open for signing. Read once and kept
// until something changes the token; used under the entry layer's lock, as the module is.
#pragma once

#include "Driver.h"
#include "Names.h"
#include "ObjectHandles.h"
#include "Objects.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skfp11 {

// The largest certificate the module reads from a container or writes to one.
constexpr ULONG kMaxCertificateSize = 64 * 1024;

class TokenStore
{
public:
    bool loaded() const { return m_loaded; }
    // Reads the application's containers (nothing when there is none). A container or pair the
    // driver cannot give shows no objects; a removed device throws.
    void load(const DriverFunctions& driver, const std::optional<FileFunctions>& files, HAPPLICATION application,
              CK_SLOT_ID slot, bool rsaOnly, ObjectHandles& handles);
    // Forgets what was read and closes the containers kept open for signing.
    void invalidate(const DriverFunctions& driver);

    const std::vector<KeyPairFacts>& pairs() const { return m_pairs; }
    const std::vector<Object>& objects() const { return m_objects; }
    const NameTable& names() const { return m_names; }
    const Object* find(CK_OBJECT_HANDLE handle) const;
    const KeyPairFacts* pair(const std::string& container, bool signPair) const;
    // The handle of an object the token should show now; CKR_DEVICE_ERROR when it does not.
    CK_OBJECT_HANDLE handleOf(const std::string& container, bool signPair, CK_OBJECT_CLASS objectClass) const;

    // A container kept open, so a signature costs one driver call; dropped after a failure,
    // since the handle may be what failed (a token pulled and put back).
    HCONTAINER signingContainer(const DriverFunctions& driver, HAPPLICATION application, const std::string& name);
    void dropSigningContainer(const DriverFunctions& driver, const std::string& name);
    void closeSigningContainers(const DriverFunctions& driver);

private:
    bool m_loaded = false;
    std::vector<KeyPairFacts> m_pairs;
    std::vector<Object> m_objects;
    NameTable m_names;
    std::map<std::string, HCONTAINER> m_signingContainers;
};

// The names file of an application: empty when there is none or it cannot be read.
NameTable readNameFile(const FileFunctions& files, HAPPLICATION application);
// Writes the table, creating the file at first; throws the driver's error, or
// CKR_DEVICE_MEMORY when the table outgrows the file.
void writeNameFile(const FileFunctions& files, HAPPLICATION application, const NameTable& table);

} // namespace skfp11
