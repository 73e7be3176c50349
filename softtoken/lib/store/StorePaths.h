// Where the soft token keeps its tokens and presence files, and the checks that keep
// every name inside that folder.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace softskf::store {

// $SOFTSKF_DIR, else ${XDG_DATA_HOME:-$HOME/.local/share}/softskf. Not created here.
std::string defaultStoreDir();

// Serials and device names: 1 to 63 printable ASCII bytes, no '/', not "." or "..".
bool isValidStoreName(const std::string& name);

// A folder of the store is trusted only when it is a real folder (not a link), owned by
// this user and closed to everyone else (no group or other bits); otherwise StoreError
// says what is wrong.
void requirePrivateDir(const std::string& path);

// Creates the folder (and its parents) when missing, 0700 for the ones made here, then
// requires it private (its parents are not judged).
void ensurePrivateDir(const std::string& path);

// Requires the store folder, tokens/ and present/ private where they exist; a missing
// one holds nothing to trust. Creates nothing.
class StorePaths;
void checkStore(const StorePaths& paths);

// Throws StoreError unless the path is absent or a regular file (not a link, a folder or
// a device).
void requireRegularOrAbsent(const std::string& path);

// Writes the whole file through a temporary name and a rename, mode 0600, so a reader
// never sees half of it.
void writeFileAtomically(const std::string& dir, const std::string& name, const std::string& content);

// A file's first line without surrounding blanks, or nullopt-like empty on failure.
bool readSmallFile(const std::string& path, std::string& content);

// Identity of one insertion of a token: a presence file written again is another one.
struct PresenceIdentity
{
    ino_t inode = 0;
    long long mtimeNs = 0;
    bool operator==(const PresenceIdentity& other) const { return inode == other.inode && mtimeNs == other.mtimeNs; }
    bool operator!=(const PresenceIdentity& other) const { return !(*this == other); }
};

// Whether the presence file at this path is still the one of that insertion: a single
// stat. Its content cannot change under the same identity, since writing it moves its
// modification time and replacing it (through a rename) brings a new inode.
bool isSamePresence(const std::string& path, const PresenceIdentity& identity);

struct Presence
{
    std::string deviceName;
    std::string serial;
    PresenceIdentity identity;
};

class StorePaths
{
public:
    explicit StorePaths(std::string root);

    const std::string& root() const { return m_root; }
    std::string tokensDir() const;
    std::string presentDir() const;
    std::string tokenDbPath(const std::string& serial) const;
    std::string presencePath(const std::string& deviceName) const;

    // Serials of every token database in the store, sorted.
    std::vector<std::string> tokenSerials() const;
    // Every well-formed presence file, sorted by device name.
    std::vector<Presence> presences() const;
    // One presence file; false when absent or malformed.
    bool presence(const std::string& deviceName, Presence& out) const;

private:
    std::string m_root;
};

} // namespace softskf::store
