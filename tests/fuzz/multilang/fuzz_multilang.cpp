// Feeds arbitrary bytes to the INI parser and, as a language file, to the language table,
// then looks up every catalogue text and formats the printf texts the way the window does.
#include "inifile.h"
#include "multilang.h"
#include "stringcatalogue.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void checkIniModel(const std::string& text)
{
    ovrin::IniFile ini;
    ini.Load(text.c_str());
    size_t size = ini.Output(nullptr);
    std::vector<char> buffer(size);
    if (ini.Output(size ? buffer.data() : nullptr) != size)
        std::abort();
    if (size && buffer[size - 1] != '\0')
        std::abort();
}

void checkLookups(const std::string& text)
{
    ovrin::ml_loadData(text.c_str());
    for (const CatalogueText& entry : catalogue::allTexts)
        catalogue::text(entry);
    char buffer[512];
    for (const CatalogueText& entry : catalogue::formatTexts) {
        std::string format = catalogue::formatText(entry);
        if (entry.number == catalogue::CertExpiredDaysAgo.number)
            std::snprintf(buffer, sizeof buffer, format.c_str(), 12L);
        else
            std::snprintf(buffer, sizeof buffer, format.c_str(), 12);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    checkIniModel(text);
    checkLookups(text);
    return 0;
}
