// The language tables and the process-wide instance behind the ml_* functions.
#include "multilang.h"

#include <cstdlib>
#include <unistd.h>

namespace ovrin {

namespace {

constexpr unsigned long NumberAbsent = 4294967295UL;
constexpr size_t WorkingDirectoryLimit = 270;

} // namespace

MultiLanguage::MultiLanguage() = default;

MultiLanguage::~MultiLanguage() = default;

void MultiLanguage::SetPath(const std::string& path)
{
    m_strPath = path;
}

void MultiLanguage::SetPrefix(const std::string& prefix)
{
    m_strPrefix = prefix;
}

bool MultiLanguage::SetCodePage(unsigned long codePage)
{
    m_nCodePage = codePage;
    return Load(m_strPrefix, codePage);
}

void MultiLanguage::ResetForLoad()
{
    m_bLoaded = false;
    m_pCurSection = nullptr;
    m_nCodePage = CodePageEnglish;
    m_strLanguageName = "English";
    m_bUseDefault = true;
}

// After the INI model was read: take the settings, or fall back to the defaults.
bool MultiLanguage::FinishLoad()
{
    if (_PostLoad()) {
        m_bUseDefault = false;
        m_bLoaded = true;
        return true;
    }
    m_bLoaded = false;
    m_pCurSection = nullptr;
    m_nCodePage = CodePageEnglish;
    m_strLanguageName = "English";
    m_bUseDefault = true;
    return false;
}

bool MultiLanguage::Load(const std::string& fileName)
{
    ResetForLoad();
    if (!m_iniFile.Load(fileName))
        return false;
    return FinishLoad();
}

std::string MultiLanguage::FileName(const std::string& name, unsigned long codePage) const
{
    std::string fileName = m_strPath;
    if (fileName.empty() || fileName.back() != '\\')
        fileName += '/';
    return fileName + name + "_" + std::to_string(codePage) + ".lng";
}

bool MultiLanguage::Load(const std::string& name, unsigned long codePage)
{
    ResetForLoad();
    if (m_strPath.empty())
        return false;
    return Load(FileName(name, codePage));
}

bool MultiLanguage::LoadData(const char* text)
{
    ResetForLoad();
    if (!m_iniFile.Load(text))
        return false;
    if (!FinishLoad())
        return false;
    m_bInitialized = true;
    return true;
}

bool MultiLanguage::Initialize()
{
    m_pCurSection = nullptr;
    m_bUseDefault = true;
    m_bInitialized = true;
    if (m_strPath.empty() || m_strPrefix.empty()) {
        // Without a path or prefix, take them from a working directory written with
        // backslashes: the part before the last one, and the name after it.
        char buffer[WorkingDirectoryLimit] = {};
        std::string cwd = getcwd(buffer, sizeof buffer) ? buffer : "";
        size_t slash = cwd.rfind('\\');
        if (slash == std::string::npos)
            return false;
        if (m_strPath.empty())
            m_strPath = cwd.substr(0, slash);
        if (m_strPrefix.empty()) {
            std::string base = cwd.substr(slash + 1);
            size_t dot = base.rfind('.');
            m_strPrefix = dot == std::string::npos ? base : base.substr(0, dot);
        }
        if (m_strPath.empty() || m_strPrefix.empty())
            return false;
    }
    if (m_nCodePage == CodePageUnset)
        return false;
    return Load(m_strPrefix, m_nCodePage);
}

bool MultiLanguage::_PostLoad()
{
    m_bLoaded = true;
    bool ok = _UseSection("settings");
    if (ok) {
        m_nCodePage = GetNumber("CodePage", NumberAbsent);
        ok = m_nCodePage != NumberAbsent;
    }
    if (ok) {
        m_strLanguageName = GetString("Language", MissingValueMarker);
        ok = m_strLanguageName != MissingValueMarker;
    }
    if (ok) {
        m_strFontFace = GetString("FontFace", MissingValueMarker);
        if (m_strFontFace == MissingValueMarker)
            m_strFontFace = "Tahoma";
        m_nFontHeight = GetNumber("FontHeight", NumberAbsent);
        if (m_nFontHeight == NumberAbsent)
            m_nFontHeight = 8;
        ok = _UseSection("strings");
    }
    if (!ok)
        m_bLoaded = false;
    return ok;
}

bool MultiLanguage::_UseSection(const std::string& name)
{
    if (!m_bLoaded)
        return false;
    IniSection* section = m_iniFile.GetSection(name);
    if (!section)
        return false;
    m_pCurSection = section;
    return true;
}

std::string MultiLanguage::GetString(const std::string& key, const std::string& defaultText)
{
    if (!m_bLoaded || !m_pCurSection)
        return defaultText;
    std::string text = m_pCurSection->GetString(key);
    return text == MissingValueMarker ? defaultText : text;
}

std::string MultiLanguage::GetString(unsigned long key, const std::string& defaultText)
{
    return GetString(std::to_string(key), defaultText);
}

unsigned long MultiLanguage::GetNumber(const std::string& key, unsigned long defaultValue)
{
    if (!m_bLoaded)
        return defaultValue;
    std::string text = GetString(key, MissingValueMarker);
    if (text == MissingValueMarker)
        return defaultValue;
    return static_cast<unsigned long>(std::strtol(text.c_str(), nullptr, 10));
}

unsigned long MultiLanguage::GetNumber(unsigned long key, unsigned long defaultValue)
{
    return GetNumber(std::to_string(key), defaultValue);
}

void MultiLanguage::EnsureInitialized()
{
    if (!m_bInitialized && !m_bLoaded)
        Initialize();
}

MultiLanguage* ml_getInstance()
{
    static MultiLanguage instance;
    return &instance;
}

void ml_setPath(const std::string& path)
{
    ml_getInstance()->SetPath(path);
}

void ml_setPrefix(const std::string& prefix)
{
    ml_getInstance()->SetPrefix(prefix);
}

bool ml_setCodePage(unsigned long codePage)
{
    return ml_getInstance()->SetCodePage(codePage);
}

bool ml_load(const std::string& fileName)
{
    return ml_getInstance()->Load(fileName);
}

bool ml_loadData(const char* text)
{
    return ml_getInstance()->LoadData(text);
}

unsigned long ml_getCodePage()
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    return instance->CodePage();
}

std::string ml_getLanguageName()
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    return instance->LanguageName();
}

std::string ml_getFontFaceName()
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    return instance->FontFace();
}

unsigned long ml_getFontHeight()
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    return instance->FontHeight();
}

std::string __(unsigned long number, const char* defaultText)
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    if (instance->UseDefault())
        return defaultText;
    return instance->GetString(number, defaultText);
}

std::string ___(const std::string& key, const char* defaultText)
{
    MultiLanguage* instance = ml_getInstance();
    instance->EnsureInitialized();
    if (instance->UseDefault())
        return defaultText;
    return instance->GetString(key, defaultText);
}

} // namespace ovrin
