// Tests of the global lookups through the one process-wide language table, the desktop
// language, and the catalogue's guard for translated printf formats. The first test needs
// the table untouched, so it stays first in this file.
#include "multilang.h"
#include "stringcatalogue.h"
#include "wxmultilang.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string languageFile(unsigned long codePage, const std::string& strings)
{
    return "[settings]\nCodePage=" + std::to_string(codePage) + "\nLanguage=test\n[strings]\n" + strings;
}

// Loads a language with the given "strings" lines through the global layer.
bool useStrings(const TempFolder& folder, const std::string& strings)
{
    folder.write("vqcsp_2052.lng", languageFile(2052, strings));
    wx_ml_setPath(folder.path());
    wx_ml_setPrefix("vqcsp");
    return wx_ml_setCodePage(2052);
}

int languageFor(const char* lang)
{
    if (lang)
        setenv("LANG", lang, 1);
    else
        unsetenv("LANG");
    return wx_getSysLanguage();
}

} // namespace

TEST(GlobalLookup, beforeAnyLanguageIsChosenEveryTextIsItsDefault)
{
    ASSERT_FALSE(ovrin::ml_getInstance()->Initialized());
    EXPECT_EQ(catalogue::text(catalogue::DataManagerTitle), "Data Manager");
    EXPECT_EQ(catalogue::text(catalogue::DataManagerNode), "Data Manger");
    EXPECT_EQ(__(32047, "显示主界面"), "显示主界面");
    EXPECT_TRUE(ovrin::ml_getInstance()->Initialized()); // the first lookup ran it
    EXPECT_EQ(ovrin::ml_getCodePage(), ovrin::CodePageUnset);
}

TEST(GlobalLookup, aChosenLanguageAnswersAndAMissingOneFallsBack)
{
    TempFolder folder;
    ASSERT_TRUE(useStrings(folder, "30001=数据管理\nname=值\n"));
    EXPECT_EQ(catalogue::text(catalogue::DataManagerNode), "数据管理");
    EXPECT_EQ(catalogue::text(catalogue::DataManagerTitle), "数据管理");
    EXPECT_EQ(catalogue::text(catalogue::DeviceList), "DevList");
    EXPECT_EQ(___("name", "value"), "值");
    EXPECT_EQ(ovrin::ml_getLanguageName(), "test");

    EXPECT_FALSE(wx_ml_setCodePage(1028));
    EXPECT_EQ(catalogue::text(catalogue::DataManagerNode), "Data Manger");
    EXPECT_EQ(ovrin::ml_getCodePage(), ovrin::CodePageEnglish);
}

TEST(GlobalLookup, aTextIsCutAtItsFirstNul)
{
    TempFolder folder;
    ASSERT_TRUE(useStrings(folder, std::string("30003=abc\0def\n", 14)));
    EXPECT_EQ(__(30003, "Label"), "abc");
}

TEST(FormatTexts, aTranslationWithTheSameConversionsIsUsed)
{
    TempFolder folder;
    ASSERT_TRUE(useStrings(folder, "30028=已输入 %d 个字符 (100%%)\n32055=已过期 %ld 天\n"));
    EXPECT_EQ(catalogue::formatText(catalogue::CharactersEntered), "已输入 %d 个字符 (100%%)");
    EXPECT_EQ(catalogue::formatText(catalogue::CertExpiredDaysAgo), "已过期 %ld 天");
}

TEST(FormatTexts, aTranslationWithoutTheConversionIsShownUnchanged)
{
    TempFolder folder;
    ASSERT_TRUE(useStrings(folder, "30040=验证失败\n"));
    EXPECT_EQ(catalogue::formatText(catalogue::MsgPinIncorrect), "验证失败");
}

TEST(FormatTexts, aTranslationWithOtherConversionsNeverReachesPrintf)
{
    const char* const unsafe[] = {"%s", "%n", "%d %d", "%ld", "%5d", "%1$d", "%d%", "100%", "%*d", "%d %s"};
    TempFolder folder;
    for (const char* format : unsafe) {
        ASSERT_TRUE(useStrings(folder, std::string("30028=") + format + "\n"));
        EXPECT_EQ(catalogue::formatText(catalogue::CharactersEntered), catalogue::CharactersEntered.defaultText)
            << format;
    }
    ASSERT_TRUE(useStrings(folder, "32055=%d days\n"));
    EXPECT_STREQ(catalogue::formatText(catalogue::CertExpiredDaysAgo).c_str(),
                 catalogue::CertExpiredDaysAgo.defaultText);
}

TEST(SystemLanguage, followsTheLocaleNamedByLang)
{
    EXPECT_EQ(languageFor("zh_CN.UTF-8"), 2052);
    EXPECT_EQ(languageFor("zh_cn.gb18030"), 2052);
    EXPECT_EQ(languageFor("zh_TW.Big5"), 1028);
    EXPECT_EQ(languageFor("zh_tw.UTF-8"), 1028);
    EXPECT_EQ(languageFor("zh_CN"), 1033);
    EXPECT_EQ(languageFor("zh_Cn.UTF-8"), 1033);
    EXPECT_EQ(languageFor("zh_HK.UTF-8"), 1033);
    EXPECT_EQ(languageFor("en_US.UTF-8"), 1033);
    EXPECT_EQ(languageFor(""), 1033);
    EXPECT_EQ(languageFor(nullptr), 1033);
}
