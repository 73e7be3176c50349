// The INI model: named sections of key/value byte strings, read from a file or a buffer
// and written back out as text. Used by the language tables.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace ovrin {

// What IniSection::GetString returns for an absent key.
constexpr const char MissingValueMarker[] = "DEFAULT_3B8E6A1F0C2D4E5FA7B9C1D3E5F70819";

// Bits for RemoveSpaceChar.
constexpr unsigned long StripStart = 1;
constexpr unsigned long StripEnd = 2;

// Strips space, TAB and CR at the start (bit 1) and/or end (bit 2); a text of blanks only
// is left as it is.
void RemoveSpaceChar(std::string& text, unsigned long flags);
// Replaces every occurrence of from by to, searching again from the start after each
// replacement, so that occurrences a replacement creates are replaced too.
void ReplaceString(std::string& text, const std::string& from, const std::string& to);
// Wide to multibyte text in the current LC_CTYPE locale; empty if a character cannot be
// converted. A non-zero resetState starts each piece in the initial shift state.
std::string ToStringA(const std::wstring& text, unsigned int resetState);
// Multibyte to wide text, in the "English" LC_CTYPE locale where the system has one.
std::wstring ToStringW(const std::string& text, unsigned int resetState);

class IniSection
{
public:
    explicit IniSection(const std::string& name);

    bool AddKeyValue(const std::string& key, const std::string& value);
    bool AddKeyValue(unsigned long key, const std::string& value);
    std::string GetString(const std::string& key);
    std::string GetString(unsigned long key);
    bool SetString(const std::string& key, const std::string& value);
    // Writes "key=value\r\n" per entry (no NUL) and returns the bytes written; with a null
    // buffer only counts.
    size_t Output(char* buffer);

    std::string name;
    std::map<std::string, std::string> entries;
};

class IniFile
{
public:
    enum LineKind { SectionLine = 1, KeyLine = 2, CommentLine = 3, OtherLine = 4 };

    IniFile();
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    bool Load(const std::string& path);
    bool Load(const char* text);
    IniSection* GetSection(const std::string& name);
    IniSection* CreateSection(const std::string& name);
    // Writes every section with its entries and a closing NUL; returns the bytes written
    // including that NUL, or 0 for an empty model. With a null buffer only counts.
    size_t Output(char* buffer);
    void ClearUp();

    bool _ProcessLine(std::string line, IniSection** pCurSection);
    static int _ParseLine(const std::string& line, std::string& nameOrKey, std::string& value);

    std::map<std::string, std::unique_ptr<IniSection>> sections;

private:
    bool _LoadLines(const char* data, size_t size);
};

} // namespace ovrin
