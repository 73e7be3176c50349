// The global lookup functions the rest of the manager calls.
#include "wxmultilang.h"

#include "multilang.h"

#include <cstdlib>
#include <cstring>

void wx_ml_setPath(const std::string& directory)
{
    ovrin::ml_setPath(directory.c_str());
}

void wx_ml_setPrefix(const std::string& prefix)
{
    ovrin::ml_setPrefix(prefix.c_str());
}

bool wx_ml_setCodePage(unsigned long codePage)
{
    return ovrin::ml_setCodePage(codePage);
}

std::string __(unsigned long number, const char* defaultText)
{
    return ovrin::__(number, defaultText).c_str();
}

std::string ___(const std::string& key, const char* defaultText)
{
    return ovrin::___(key, defaultText).c_str();
}

int wx_getSysLanguage()
{
    const char* lang = std::getenv("LANG");
    if (!lang)
        return static_cast<int>(ovrin::CodePageEnglish);
    if (std::strncmp(lang, "zh_CN.", 6) == 0 || std::strncmp(lang, "zh_cn.", 6) == 0)
        return static_cast<int>(ovrin::CodePageSimplifiedChinese);
    if (std::strncmp(lang, "zh_TW.", 6) == 0 || std::strncmp(lang, "zh_tw.", 6) == 0)
        return static_cast<int>(ovrin::CodePageTraditionalChinese);
    return static_cast<int>(ovrin::CodePageEnglish);
}
