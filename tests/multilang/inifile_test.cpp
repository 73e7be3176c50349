// Tests of the INI model: line kinds, unescaping, loading from files and buffers, output,
// the string helpers and the wide/multibyte conversions.
#include "inifile.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstring>
#include <random>
#include <vector>

using ovrin::IniFile;
using ovrin::IniSection;

namespace {

struct Parsed
{
    int kind;
    std::string nameOrKey;
    std::string value;
};

Parsed parse(const std::string& line)
{
    Parsed parsed{0, "", ""};
    parsed.kind = IniFile::_ParseLine(line, parsed.nameOrKey, parsed.value);
    return parsed;
}

std::string valueOf(const std::string& written)
{
    return parse("k=" + written).value;
}

// The straightforward form of the restart rule, to compare the fast one against.
void replaceBySearchingFromTheStart(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t hit = text.find(from); !text.empty() && hit != std::string::npos; hit = text.find(from))
        text.replace(hit, from.size(), to);
}

} // namespace

// ---- line kinds ----

TEST(LineKinds, aHeaderNamesTheTextUpToTheLastClosingBracket)
{
    Parsed header = parse("[strings] ; the texts [all]");
    EXPECT_EQ(header.kind, IniFile::SectionLine);
    EXPECT_EQ(header.nameOrKey, "strings] ; the texts [all");
    EXPECT_EQ(parse("  \t[settings]").nameOrKey, "settings");
    EXPECT_EQ(parse("[ settings ]").nameOrKey, " settings ");
    EXPECT_EQ(parse("[settings]\r").nameOrKey, "settings");
}

TEST(LineKinds, commentsAndOtherLinesAreToldApart)
{
    EXPECT_EQ(parse("# a=b").kind, IniFile::CommentLine);
    EXPECT_EQ(parse("  ; a=b").kind, IniFile::CommentLine);
    EXPECT_EQ(parse("no equals sign here").kind, IniFile::OtherLine);
    EXPECT_EQ(parse(" \t\r").kind, IniFile::OtherLine);
    EXPECT_EQ(parse("\xEF\xBB\xBF[settings]").kind, IniFile::OtherLine);
}

TEST(LineKinds, theKeyIsStrippedAndTheValueKeptAsWritten)
{
    Parsed line = parse("  key \t=  a=b ; c \r");
    EXPECT_EQ(line.kind, IniFile::KeyLine);
    EXPECT_EQ(line.nameOrKey, "key");
    EXPECT_EQ(line.value, "  a=b ; c \r");
    Parsed emptyKey = parse("=value");
    EXPECT_EQ(emptyKey.kind, IniFile::KeyLine);
    EXPECT_EQ(emptyKey.nameOrKey, "");
    EXPECT_EQ(emptyKey.value, "value");
}

TEST(LineKinds, aHeaderWithoutClosingBracketOrNameFailsTheLine)
{
    IniFile ini;
    IniSection* current = nullptr;
    EXPECT_FALSE(ini._ProcessLine("[strings", &current));
    EXPECT_FALSE(ini._ProcessLine("[]", &current));
    EXPECT_EQ(current, nullptr);
    EXPECT_TRUE(ini.sections.empty());
    EXPECT_TRUE(ini._ProcessLine("", &current));
    EXPECT_FALSE(ini._ProcessLine("k=v", &current)); // no section yet
}

// ---- unescaping ----

TEST(Unescaping, controlEscapesBecomeControlCharacters)
{
    EXPECT_EQ(valueOf("a\\nb\\rc\\td"), "a\nb\rc\td");
}

TEST(Unescaping, doubledBackslashesBeforeEscapeLettersStayLiteral)
{
    EXPECT_EQ(valueOf("C:\\\\new"), "C:\\new");
    EXPECT_EQ(valueOf("\\\\r\\\\t"), "\\r\\t");
    EXPECT_EQ(valueOf("\\\\x"), "\\x");
}

TEST(Unescaping, everyOtherRunOfBackslashesBecomesOne)
{
    EXPECT_EQ(valueOf("a\\\\\\\\b"), "a\\b");
    EXPECT_EQ(valueOf("\\x"), "\\x");
    EXPECT_EQ(valueOf("end\\"), "end\\");
}

TEST(Unescaping, aPlaceholderByteAlreadyInTheValueComesOutAsBackslashR)
{
    EXPECT_EQ(valueOf("a\x01z"), "a\\rz");
}

TEST(Unescaping, replacementRestartsSoCreatedOccurrencesAreReplacedToo)
{
    std::string text = "x\\\\\\\\\\\\\\y";
    ovrin::ReplaceString(text, "\\\\", "\\");
    EXPECT_EQ(text, "x\\y");
    std::string swapped = "aaab";
    ovrin::ReplaceString(swapped, "ab", "ba");
    EXPECT_EQ(swapped, "baaa");
}

TEST(Unescaping, fastReplacementMatchesSearchingFromTheStartOnRandomTexts)
{
    const std::string alphabet = "\\rna\x01";
    const std::pair<std::string, std::string> rules[]
        = {{"\\\\", "\\"}, {"\\r", "\r"}, {"\\\\r", "\x01"}, {"\x01", "\\\\r"}, {"ab", "ba"}, {"aa", ""}};
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = random() % 24; i > 0; --i)
            text += alphabet[random() % alphabet.size()];
        for (const auto& [from, to] : rules) {
            std::string fast = text;
            std::string slow = text;
            ovrin::ReplaceString(fast, from, to);
            replaceBySearchingFromTheStart(slow, from, to);
            ASSERT_EQ(fast, slow) << "text " << text << " from " << from;
        }
    }
}

TEST(Unescaping, aReplacementContainingItsPatternEnds)
{
    std::string text = "a-b";
    ovrin::ReplaceString(text, "-", "--");
    EXPECT_EQ(text, "a--b");
}

TEST(Unescaping, aMillionBackslashesLoadQuickly)
{
    std::string text = "[s]\nk=" + std::string(1000000, '\\') + "\n";
    IniFile ini;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ini.Load(text.c_str()));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ini.GetSection("s")->GetString("k"), "\\");
    EXPECT_LT(elapsed, std::chrono::seconds(5)); // quadratic work would take many minutes
}

TEST(BlankStripping, stripsOnlySpaceTabAndCarriageReturn)
{
    std::string both = " \t\r a b \r\n\t ";
    ovrin::RemoveSpaceChar(both, 3);
    EXPECT_EQ(both, "a b \r\n");
    std::string start = "  x  ";
    ovrin::RemoveSpaceChar(start, 1);
    EXPECT_EQ(start, "x  ");
    std::string end = "  x  ";
    ovrin::RemoveSpaceChar(end, 2);
    EXPECT_EQ(end, "  x");
    std::string blanks = " \t ";
    ovrin::RemoveSpaceChar(blanks, 3);
    EXPECT_EQ(blanks, " \t ");
}

// ---- loading ----

TEST(LoadingFromMemory, readsSectionsAndKeysInAnyOrder)
{
    IniFile ini;
    ASSERT_TRUE(ini.Load("; head\n[b]\n2=two\n1=one\n\n[a]\nx = y\nlast=no newline"));
    ASSERT_NE(ini.GetSection("a"), nullptr);
    EXPECT_EQ(ini.GetSection("a")->GetString("x"), " y");
    EXPECT_EQ(ini.GetSection("a")->GetString("last"), "no newline");
    EXPECT_EQ(ini.GetSection("b")->GetString(1UL), "one");
    EXPECT_EQ(ini.GetSection("b")->GetString("3"), ovrin::MissingValueMarker);
    EXPECT_EQ(ini.GetSection("c"), nullptr);
}

TEST(LoadingFromMemory, repeatedSectionsMergeButARepeatedKeyFails)
{
    IniFile merged;
    ASSERT_TRUE(merged.Load("[s]\na=1\n[t]\n[s]\nb=2\n"));
    EXPECT_EQ(merged.GetSection("s")->entries.size(), 2u);

    IniFile repeated;
    EXPECT_FALSE(repeated.Load("[s]\na=first\n[s]\na=second\nb=never\n"));
    EXPECT_EQ(repeated.GetSection("s")->GetString("a"), "first");
    EXPECT_EQ(repeated.GetSection("s")->GetString("b"), ovrin::MissingValueMarker);
}

TEST(LoadingFromMemory, aFailedLoadKeepsWhatCameBeforeTheBadLine)
{
    IniFile ini;
    EXPECT_FALSE(ini.Load("[s]\na=1\n[broken\nb=2\n"));
    EXPECT_EQ(ini.GetSection("s")->GetString("a"), "1");
    EXPECT_EQ(ini.GetSection("s")->GetString("b"), ovrin::MissingValueMarker);
    EXPECT_FALSE(ini.Load("key=before any section\n"));
    EXPECT_TRUE(ini.sections.empty());
}

TEST(LoadingFromMemory, anEmptyBufferFailsAndKeepsTheContent)
{
    IniFile ini;
    ASSERT_TRUE(ini.Load("[s]\na=1"));
    EXPECT_FALSE(ini.Load(""));
    EXPECT_FALSE(ini.Load(static_cast<const char*>(nullptr)));
    EXPECT_EQ(ini.GetSection("s")->GetString("a"), "1");
    ASSERT_TRUE(ini.Load("\n\n"));
    EXPECT_TRUE(ini.sections.empty());
}

TEST(LoadingFromFile, crlfLinesKeepTheirCarriageReturnInValuesOnly)
{
    TempFolder folder;
    IniFile ini;
    ASSERT_TRUE(ini.Load(folder.write("crlf.ini", "[s]\r\nkey \r\n=\r\nk=v\r\n")));
    ASSERT_NE(ini.GetSection("s"), nullptr);
    EXPECT_EQ(ini.GetSection("s")->GetString("k"), "v\r");
    EXPECT_EQ(ini.GetSection("s")->entries.size(), 2u); // "key \r" has no "="; "=\r" is the empty key
    EXPECT_EQ(ini.GetSection("s")->GetString(""), "\r");
}

TEST(LoadingFromFile, aByteOrderMarkHidesTheFirstHeader)
{
    TempFolder folder;
    IniFile ini;
    EXPECT_FALSE(ini.Load(folder.write("bom.ini", "\xEF\xBB\xBF[s]\nk=v\n")));
}

TEST(LoadingFromFile, emptyFilesLoadAndMissingOnesKeepTheContent)
{
    TempFolder folder;
    IniFile ini;
    ASSERT_TRUE(ini.Load(folder.write("good.ini", "[s]\nk=v")));
    EXPECT_EQ(ini.GetSection("s")->GetString("k"), "v");
    EXPECT_FALSE(ini.Load(folder.path() + "/missing.ini"));
    EXPECT_FALSE(ini.Load(folder.path())); // a folder is not a file
    EXPECT_NE(ini.GetSection("s"), nullptr);
    EXPECT_TRUE(ini.Load(folder.write("empty.ini", "")));
    EXPECT_TRUE(ini.sections.empty());
    EXPECT_EQ(ini.Output(nullptr), 0u);
}

TEST(LoadingFromFile, bytesAfterANulStayInTheValue)
{
    TempFolder folder;
    IniFile ini;
    ASSERT_TRUE(ini.Load(folder.write("nul.ini", std::string("[s]\nk=a\0b\n", 10))));
    EXPECT_EQ(ini.GetSection("s")->GetString("k"), std::string("a\0b", 3));
}

// ---- the model and output ----

TEST(Model, addKeepsTheFirstValueAndSetReplacesIt)
{
    IniSection section("s");
    EXPECT_TRUE(section.AddKeyValue(30001UL, "first"));
    EXPECT_FALSE(section.AddKeyValue("30001", "second"));
    EXPECT_EQ(section.GetString(30001UL), "first");
    EXPECT_TRUE(section.SetString("30001", "third"));
    EXPECT_EQ(section.GetString("30001"), "third");

    IniFile ini;
    EXPECT_EQ(ini.CreateSection(""), nullptr);
    IniSection* created = ini.CreateSection("x");
    EXPECT_EQ(ini.CreateSection("x"), created);
    EXPECT_EQ(ini.GetSection("x"), created);
}

TEST(Output, aOneLetterModelWritesTenCharactersAndCountsTheNul)
{
    IniFile ini;
    ini.CreateSection("s")->AddKeyValue("k", "v");
    ASSERT_EQ(ini.Output(nullptr), 11u);
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ini.Output(buffer), 11u);
    EXPECT_EQ(std::string(buffer, 11), std::string("[s]\r\nk=v\r\n\0", 11));
    EXPECT_EQ(buffer[11], '#');
}

TEST(Output, sectionsAndKeysComeOutInByteOrderAsStored)
{
    IniFile ini;
    ASSERT_TRUE(ini.Load("[b]\nz=1\n[a]\nkk=x\\ny\nk=\n"));
    std::vector<char> buffer(ini.Output(nullptr));
    ASSERT_EQ(ini.Output(buffer.data()), buffer.size());
    EXPECT_STREQ(buffer.data(), "[a]\r\nk=\r\nkk=x\ny\r\n[b]\r\nz=1\r\n");
    IniSection* a = ini.GetSection("a");
    char exact[12];
    EXPECT_EQ(a->Output(nullptr), sizeof exact);
    EXPECT_EQ(a->Output(exact), sizeof exact); // writes no NUL past its count
}

// ---- conversions ----

class Conversions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        m_saved = current ? current : "C";
        if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
            GTEST_SKIP() << "no C.UTF-8 locale";
    }
    void TearDown() override { std::setlocale(LC_CTYPE, m_saved.c_str()); }

private:
    std::string m_saved;
};

TEST_F(Conversions, chineseTextConvertsBothWays)
{
    EXPECT_EQ(ovrin::ToStringW("证书 ok", 1), L"证书 ok");
    EXPECT_EQ(ovrin::ToStringA(L"证书 ok", 1), "证书 ok");
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
}

TEST_F(Conversions, textsLongerThanTheBufferConvertCompletely)
{
    std::wstring wide;
    for (int i = 0; i < 5000; ++i)
        wide += i % 2 ? L'憑' : L'a';
    std::string narrow = ovrin::ToStringA(wide, 1);
    EXPECT_EQ(narrow.size(), 2500u + 2500u * 3);
    EXPECT_EQ(ovrin::ToStringW(narrow, 1), wide);
}

TEST_F(Conversions, anUnconvertibleCharacterGivesAnEmptyText)
{
    EXPECT_EQ(ovrin::ToStringW("ok\xFF", 1), L"");
    EXPECT_EQ(ovrin::ToStringW("cut \xE8\xAF", 1), L"");
    EXPECT_EQ(ovrin::ToStringA(std::wstring(1, static_cast<wchar_t>(0xD800)), 1), "");
    EXPECT_EQ(ovrin::ToStringW("fine", 1), L"fine");
}
