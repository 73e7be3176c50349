// Tests of the language tables: the fresh, loaded and failed states, the settings a file
// must and may carry, lookups, and how file names are made.
#include "multilang.h"

#include "testfiles.h"

#include <gtest/gtest.h>

using ovrin::MultiLanguage;

namespace {

const char* const ChineseFile = "[settings]\n"
                                "CodePage=2052\n"
                                "Language=简体中文\n"
                                "FontFace=Noto Sans CJK SC\n"
                                "FontHeight=12\n"
                                "[strings]\n"
                                "30001=数据管理\n"
                                "30002=\n"
                                "greeting=你好\n";

void expectFailedState(MultiLanguage& language)
{
    EXPECT_FALSE(language.Loaded());
    EXPECT_TRUE(language.UseDefault());
    EXPECT_EQ(language.CodePage(), ovrin::CodePageEnglish);
    EXPECT_EQ(language.LanguageName(), "English");
    EXPECT_EQ(language.GetString(30001UL, "Data Manager"), "Data Manager");
}

} // namespace

TEST(FreshLanguage, answersWithDefaultsAndInitializesOnlyOnce)
{
    MultiLanguage language;
    EXPECT_EQ(language.GetString(30001UL, "Data Manager"), "Data Manager");
    EXPECT_EQ(language.GetNumber("CodePage", 7), 7u);
    EXPECT_EQ(language.CodePage(), ovrin::CodePageUnset);
    EXPECT_FALSE(language.Initialized());

    language.SetPath("/nowhere");
    language.SetPrefix("vqcsp");
    EXPECT_FALSE(language.Initialize()); // no language chosen yet
    EXPECT_TRUE(language.Initialized());
    EXPECT_TRUE(language.UseDefault());
    EXPECT_EQ(language.CodePage(), ovrin::CodePageUnset);
}

TEST(FreshLanguage, withoutPathOrPrefixAndAPlainWorkingDirectoryInitializeFails)
{
    MultiLanguage language;
    EXPECT_FALSE(language.Initialize());
    EXPECT_TRUE(language.Initialized());
    EXPECT_TRUE(language.UseDefault());
}

TEST(LoadedLanguage, takesItsSettingsAndAnswersFromTheStrings)
{
    MultiLanguage language;
    ASSERT_TRUE(language.LoadData(ChineseFile));
    EXPECT_TRUE(language.Loaded());
    EXPECT_FALSE(language.UseDefault());
    EXPECT_TRUE(language.Initialized());
    EXPECT_EQ(language.CodePage(), 2052u);
    EXPECT_EQ(language.LanguageName(), "简体中文");
    EXPECT_EQ(language.FontFace(), "Noto Sans CJK SC");
    EXPECT_EQ(language.FontHeight(), 12u);
    EXPECT_EQ(language.GetString(30001UL, "Data Manager"), "数据管理");
    EXPECT_EQ(language.GetString(30002UL, "DevList"), ""); // present but empty
    EXPECT_EQ(language.GetString(30003UL, "Label"), "Label");
    EXPECT_EQ(language.GetString("greeting", "hello"), "你好");
    EXPECT_EQ(language.GetNumber("greeting", 5), 0u); // no digits
    EXPECT_EQ(language.GetNumber(99999UL, 5), 5u);
}

TEST(LoadedLanguage, optionalFontSettingsFallBackToTahomaAndEight)
{
    MultiLanguage language;
    ASSERT_TRUE(language.LoadData("[settings]\nCodePage=1033\nLanguage=English\n[strings]\n"));
    EXPECT_EQ(language.FontFace(), "Tahoma");
    EXPECT_EQ(language.FontHeight(), 8u);
}

TEST(LoadedLanguage, aFontHeightWithTrailingCharactersStillReadsAsANumber)
{
    TempFolder folder;
    MultiLanguage language;
    ASSERT_TRUE(language.Load(folder.write("crlf.lng",
                                           "[settings]\r\nCodePage=1028\r\nLanguage=x\r\n"
                                           "FontHeight= 11\r\n[strings]\r\n1=a\r\n")));
    EXPECT_EQ(language.FontHeight(), 11u);
    EXPECT_EQ(language.CodePage(), 1028u);
    EXPECT_EQ(language.LanguageName(), "x\r");
}

TEST(FailedLanguage, aFileWithoutLanguageIsRejected)
{
    MultiLanguage language;
    EXPECT_FALSE(language.LoadData("[settings]\nCodePage=2052\n[strings]\n30001=数据管理\n"));
    expectFailedState(language);
    EXPECT_FALSE(language.Initialized()); // only a successful buffer load sets it
}

TEST(FailedLanguage, aFileWithoutStringsIsRejectedButItsFontStays)
{
    MultiLanguage language;
    EXPECT_FALSE(language.LoadData("[settings]\nCodePage=2052\nLanguage=中文\nFontFace=Song\nFontHeight=10\n"));
    expectFailedState(language);
    EXPECT_EQ(language.FontFace(), "Song");
    EXPECT_EQ(language.FontHeight(), 10u);
}

TEST(FailedLanguage, missingSettingsOrCodePageOrBadSyntaxAreRejected)
{
    const char* const broken[] = {
        "[strings]\n30001=x\n",
        "[settings]\nLanguage=x\n[strings]\n",
        "[settings]\nCodePage=4294967295\nLanguage=x\n[strings]\n",
        "[settings]\nCodePage=2052\nLanguage=x\n[strings]\n1=a\n1=b\n",
        "CodePage=2052\n[settings]\nLanguage=x\n[strings]\n",
        "[settings]\nCodePage=2052\nLanguage=x\n[strings\n1=a\n",
        "",
    };
    for (const char* text : broken) {
        MultiLanguage language;
        EXPECT_FALSE(language.LoadData(text)) << text;
        expectFailedState(language);
    }
}

TEST(FailedLanguage, aFailedLoadAfterAGoodOneReturnsToTheDefaults)
{
    TempFolder folder;
    folder.write("vqcsp_2052.lng", ChineseFile);
    MultiLanguage language;
    language.SetPath(folder.path());
    language.SetPrefix("vqcsp");
    ASSERT_TRUE(language.SetCodePage(2052));
    EXPECT_EQ(language.GetString(30001UL, "Data Manager"), "数据管理");
    EXPECT_FALSE(language.SetCodePage(1028)); // no such file
    expectFailedState(language);
    EXPECT_FALSE(language.LoadData("[settings]\n"));
    expectFailedState(language);
}

TEST(FileNames, areMadeFromPathPrefixAndLanguageNumber)
{
    MultiLanguage language;
    language.SetPath("/opt/lang");
    EXPECT_EQ(language.FileName("vqcsp", 1033), "/opt/lang/vqcsp_1033.lng");
    language.SetPath("/opt/lang/");
    EXPECT_EQ(language.FileName("vqcsp", 1033), "/opt/lang//vqcsp_1033.lng");
    language.SetPath("C:\\lang\\");
    EXPECT_EQ(language.FileName("vqcsp", 1033), "C:\\lang\\vqcsp_1033.lng");
}

TEST(FileNames, aTrailingSlashLoadsAndATrailingBackslashJoinsDirectly)
{
    TempFolder folder;
    folder.write("vqcsp_2052.lng", ChineseFile);
    folder.write("lang\\vqcsp_2052.lng", ChineseFile);
    MultiLanguage language;
    language.SetPrefix("vqcsp");
    language.SetPath(folder.path() + "/");
    EXPECT_TRUE(language.SetCodePage(2052));
    language.SetPath(folder.path() + "/lang\\");
    EXPECT_TRUE(language.SetCodePage(2052));
    language.SetPath("");
    EXPECT_FALSE(language.SetCodePage(2052));
    expectFailedState(language);
}

TEST(FileNames, theFileCodePageWinsOverTheNumberAskedFor)
{
    TempFolder folder;
    folder.write("vqcsp_1028.lng", ChineseFile); // says 2052 inside
    MultiLanguage language;
    language.SetPath(folder.path());
    language.SetPrefix("vqcsp");
    ASSERT_TRUE(language.SetCodePage(1028));
    EXPECT_EQ(language.CodePage(), 2052u);
}
