// The INI model and its line parser.
#include "inifile.h"

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

namespace ovrin {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Replacement without rescanning: characters are moved to the output one by one, and as
// soon as the output ends with `from` it is cut off and `to` is fed back in front of the
// rest. The output never holds an occurrence, so the one found is always the leftmost of
// the whole text, as a search from the start would find it, in linear time.
void replaceRestarting(std::string& text, const std::string& from, const std::string& to)
{
    std::string out;
    out.reserve(text.size());
    std::string pending; // fed-back characters, last one first
    size_t next = 0;
    while (!pending.empty() || next < text.size()) {
        if (!pending.empty()) {
            out.push_back(pending.back());
            pending.pop_back();
        } else {
            out.push_back(text[next++]);
        }
        if (out.back() == from.back() && out.size() >= from.size()
            && out.compare(out.size() - from.size(), from.size(), from) == 0) {
            out.resize(out.size() - from.size());
            pending.append(to.rbegin(), to.rend());
        }
    }
    text.swap(out);
}

// One left-to-right pass; used when `to` contains `from`, where restarting never ends.
void replaceOnce(std::string& text, const std::string& from, const std::string& to)
{
    std::string out;
    size_t start = 0;
    for (size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
        out.append(text, start, hit - start).append(to);
        start = hit + from.size();
    }
    out.append(text, start, std::string::npos);
    text.swap(out);
}

void unescapeValue(std::string& value)
{
    // Every step needs a backslash or the placeholder byte; most texts have neither.
    if (value.find_first_of("\\\x01") == std::string::npos)
        return;
    const std::string placeholder(1, '\x01');
    ReplaceString(value, "\\\\r", placeholder);
    ReplaceString(value, "\\r", "\r");
    ReplaceString(value, placeholder, "\\\\r");
    ReplaceString(value, "\\\\n", placeholder);
    ReplaceString(value, "\\n", "\n");
    ReplaceString(value, placeholder, "\\\\n");
    ReplaceString(value, "\\\\t", placeholder);
    ReplaceString(value, "\\t", "\t");
    ReplaceString(value, placeholder, "\\\\t");
    ReplaceString(value, "\\\\", "\\");
}

// Selects an LC_CTYPE locale for one scope and restores the previous one.
class CtypeLocaleScope
{
public:
    explicit CtypeLocaleScope(const char* name)
    {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        if (current)
            m_previous = current;
        std::setlocale(LC_CTYPE, name);
    }
    ~CtypeLocaleScope()
    {
        if (!m_previous.empty())
            std::setlocale(LC_CTYPE, m_previous.c_str());
    }
    CtypeLocaleScope(const CtypeLocaleScope&) = delete;
    CtypeLocaleScope& operator=(const CtypeLocaleScope&) = delete;

private:
    std::string m_previous;
};

constexpr size_t ConversionBufferSize = 2048;

} // namespace

void RemoveSpaceChar(std::string& text, unsigned long flags)
{
    size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    if (first == text.size())
        return; // blanks only: nothing to strip against
    if (flags & StripEnd) {
        size_t last = text.size();
        while (isBlank(text[last - 1]))
            --last;
        text.erase(last);
    }
    if (flags & StripStart)
        text.erase(0, first);
}

void ReplaceString(std::string& text, const std::string& from, const std::string& to)
{
    if (text.empty() || from.empty() || text.find(from) == std::string::npos)
        return;
    if (to.find(from) != std::string::npos)
        replaceOnce(text, from, to);
    else
        replaceRestarting(text, from, to);
}

std::string ToStringA(const std::wstring& text, unsigned int resetState)
{
    static std::mbstate_t state{};
    std::string result;
    char buffer[ConversionBufferSize];
    size_t used = 0;
    if (resetState)
        state = std::mbstate_t{};
    for (wchar_t c : text) {
        if (used + MB_LEN_MAX > sizeof buffer) {
            result.append(buffer, used);
            used = 0;
            if (resetState)
                state = std::mbstate_t{};
        }
        size_t n = std::wcrtomb(buffer + used, c, &state);
        if (n == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            return std::string();
        }
        used += n;
    }
    result.append(buffer, used);
    return result;
}

std::wstring ToStringW(const std::string& text, unsigned int resetState)
{
    static std::mbstate_t state{};
    CtypeLocaleScope locale("English");
    std::wstring result;
    wchar_t buffer[ConversionBufferSize];
    size_t used = 0;
    if (resetState)
        state = std::mbstate_t{};
    size_t pos = 0;
    while (pos < text.size()) {
        if (used == ConversionBufferSize) {
            result.append(buffer, used);
            used = 0;
            if (resetState)
                state = std::mbstate_t{};
        }
        size_t n = std::mbrtowc(buffer + used, text.data() + pos, text.size() - pos, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            state = std::mbstate_t{};
            return std::wstring(); // invalid, or cut in the middle of a character
        }
        pos += n == 0 ? 1 : n; // 0: an embedded NUL, one byte
        ++used;
    }
    result.append(buffer, used);
    return result;
}

IniSection::IniSection(const std::string& name)
    : name(name)
{
}

bool IniSection::AddKeyValue(const std::string& key, const std::string& value)
{
    return entries.emplace(key, value).second;
}

bool IniSection::AddKeyValue(unsigned long key, const std::string& value)
{
    return AddKeyValue(std::to_string(key), value);
}

std::string IniSection::GetString(const std::string& key)
{
    auto found = entries.find(key);
    return found == entries.end() ? std::string(MissingValueMarker) : found->second;
}

std::string IniSection::GetString(unsigned long key)
{
    return GetString(std::to_string(key));
}

bool IniSection::SetString(const std::string& key, const std::string& value)
{
    entries.erase(key);
    return AddKeyValue(key, value);
}

size_t IniSection::Output(char* buffer)
{
    size_t total = 0;
    for (const auto& [key, value] : entries) {
        if (buffer) {
            char* out = buffer + total;
            std::memcpy(out, key.data(), key.size());
            out += key.size();
            *out++ = '=';
            std::memcpy(out, value.data(), value.size());
            out += value.size();
            *out++ = '\r';
            *out++ = '\n';
        }
        total += key.size() + value.size() + 3;
    }
    return total;
}

IniFile::IniFile() = default;

IniFile::~IniFile()
{
    ClearUp();
}

bool IniFile::Load(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    std::string content;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        content.append(chunk, got);
    if (std::ferror(file.get()))
        return false; // a directory or an unreadable file: nothing to load
    return _LoadLines(content.data(), content.size());
}

bool IniFile::Load(const char* text)
{
    if (!text || !*text)
        return false;
    return _LoadLines(text, std::strlen(text));
}

bool IniFile::_LoadLines(const char* data, size_t size)
{
    ClearUp();
    IniSection* current = nullptr;
    const char* end = data + size;
    for (const char* line = data; line < end;) {
        const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (!lineEnd)
            lineEnd = end;
        if (lineEnd != line && !_ProcessLine(std::string(line, lineEnd), &current))
            return false;
        line = lineEnd + 1;
    }
    return true;
}

IniSection* IniFile::GetSection(const std::string& name)
{
    auto found = sections.find(name);
    return found == sections.end() ? nullptr : found->second.get();
}

IniSection* IniFile::CreateSection(const std::string& name)
{
    if (name.empty())
        return nullptr;
    if (IniSection* existing = GetSection(name))
        return existing;
    return sections.emplace(name, std::make_unique<IniSection>(name)).first->second.get();
}

size_t IniFile::Output(char* buffer)
{
    if (sections.empty())
        return 0;
    size_t total = 0;
    for (const auto& [name, section] : sections) {
        if (buffer) {
            char* out = buffer + total;
            *out++ = '[';
            std::memcpy(out, name.data(), name.size());
            out += name.size();
            std::memcpy(out, "]\r\n", 3);
        }
        total += name.size() + 4;
        total += section->Output(buffer ? buffer + total : nullptr);
    }
    if (buffer)
        buffer[total] = '\0';
    return total + 1;
}

void IniFile::ClearUp()
{
    sections.clear();
}

bool IniFile::_ProcessLine(std::string line, IniSection** pCurSection)
{
    if (line.empty())
        return true;
    std::string nameOrKey;
    std::string value;
    switch (_ParseLine(line, nameOrKey, value)) {
    case SectionLine: {
        IniSection* section = CreateSection(nameOrKey);
        if (!section)
            return false;
        *pCurSection = section;
        return true;
    }
    case KeyLine:
        return *pCurSection && (*pCurSection)->AddKeyValue(nameOrKey, value);
    default:
        return true;
    }
}

int IniFile::_ParseLine(const std::string& line, std::string& nameOrKey, std::string& value)
{
    std::string text = line;
    RemoveSpaceChar(text, StripStart);
    if (!text.empty() && (text[0] == '#' || text[0] == ';'))
        return CommentLine;
    if (!text.empty() && text[0] == '[') {
        // A header without a closing bracket gets an empty name, which fails the load.
        size_t close = text.rfind(']');
        nameOrKey = close == std::string::npos ? std::string() : text.substr(1, close - 1);
        return SectionLine;
    }
    size_t equals = text.find('=');
    if (equals == std::string::npos)
        return OtherLine;
    nameOrKey = text.substr(0, equals);
    RemoveSpaceChar(nameOrKey, StripStart | StripEnd);
    value = text.substr(equals + 1);
    unescapeValue(value);
    return KeyLine;
}

} // namespace ovrin
