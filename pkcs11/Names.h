// The IDs and labels clients gave a token's objects, kept in a small file the module owns in
// the application: anyone may read it, only a logged-in user write it. A pair without an
// entry keeps the ID derived from its public key and the label the module makes.
#pragma once

#include "Crypto.h"
#include "Objects.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skfp11 {

// The application file's name and size: fixed at creation, so big enough for many pairs.
constexpr char kNamesFile[] = "SKFP11_NAMES";
constexpr size_t kNamesFileSize = 4096;

struct PairNames
{
    std::optional<Bytes> keyId, certificateId;
    std::optional<std::string> keyLabel, certificateLabel;
};

// By container name and pair ("SM2Container/sign").
using NameTable = std::map<std::string, PairNames>;

std::string pairKey(const std::string& container, bool signPair);

// The file's text, one line per field given: "<pair key hex> <field> <value hex>". Lines this
// version does not know are skipped, so a newer module's additions do not break an older one.
NameTable parseNames(const std::string& text);
std::string formatNames(const NameTable& table);

// Puts the names a client gave on the objects of one pair.
void applyNames(const PairNames& names, std::vector<Object>& objects);

} // namespace skfp11
