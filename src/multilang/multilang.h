// The language tables: the one language file in force and lookups of its texts by number
// or key, always with the caller's default as the answer when the file has none.
#pragma once

#include "inifile.h"

#include <string>

namespace ovrin {

// Language numbers the system uses.
constexpr unsigned long CodePageSimplifiedChinese = 2052;
constexpr unsigned long CodePageTraditionalChinese = 1028;
constexpr unsigned long CodePageEnglish = 1033;
// The language number before any language is chosen.
constexpr unsigned long CodePageUnset = 536870911;

class MultiLanguage
{
public:
    MultiLanguage();
    virtual ~MultiLanguage();
    MultiLanguage(const MultiLanguage&) = delete;
    MultiLanguage& operator=(const MultiLanguage&) = delete;

    void SetPath(const std::string& path);
    void SetPrefix(const std::string& prefix);
    bool SetCodePage(unsigned long codePage);
    bool Load(const std::string& fileName);
    bool Load(const std::string& name, unsigned long codePage);
    bool LoadData(const char* text);
    bool Initialize();
    bool _PostLoad();
    bool _UseSection(const std::string& name);
    std::string GetString(const std::string& key, const std::string& defaultText);
    std::string GetString(unsigned long key, const std::string& defaultText);
    unsigned long GetNumber(const std::string& key, unsigned long defaultValue);
    unsigned long GetNumber(unsigned long key, unsigned long defaultValue);

    // The file name for prefix name and language codePage in the directory set by SetPath.
    std::string FileName(const std::string& name, unsigned long codePage) const;

    // Read access for the ml_* functions and for tests.
    bool UseDefault() const { return m_bUseDefault; }
    bool Initialized() const { return m_bInitialized; }
    bool Loaded() const { return m_bLoaded; }
    unsigned long CodePage() const { return m_nCodePage; }
    const std::string& LanguageName() const { return m_strLanguageName; }
    unsigned long FontHeight() const { return m_nFontHeight; }
    const std::string& FontFace() const { return m_strFontFace; }

    // Runs Initialize once unless a file was loaded already.
    void EnsureInitialized();

private:
    void ResetForLoad();
    bool FinishLoad();

    IniFile m_iniFile;
    IniSection* m_pCurSection = nullptr;
    bool m_bUseDefault = true;
    bool m_bInitialized = false;
    bool m_bLoaded = false;
    std::string m_strPath;
    std::string m_strPrefix;
    unsigned long m_nCodePage = CodePageUnset;
    std::string m_strLanguageName = "English";
    unsigned long m_nFontHeight = 8;
    std::string m_strFontFace = "Tahoma";
};

MultiLanguage* ml_getInstance();
void ml_setPath(const std::string& path);
void ml_setPrefix(const std::string& prefix);
bool ml_setCodePage(unsigned long codePage);
bool ml_load(const std::string& fileName);
bool ml_loadData(const char* text);
unsigned long ml_getCodePage();
std::string ml_getLanguageName();
std::string ml_getFontFaceName();
unsigned long ml_getFontHeight();
std::string __(unsigned long number, const char* defaultText);
std::string ___(const std::string& key, const char* defaultText);

} // namespace ovrin
