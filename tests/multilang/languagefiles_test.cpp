// Guards the shipped language files: each loads with the manager's own loader, holds a
// text for every catalogue number and nothing else, keeps the printf conversions, and
// keeps the texts within the buffers the window puts them in.
#include "multilang.h"
#include "stringcatalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace {

const std::string LanguageDir = MULTILANG_TEST_LANG_DIR;

class ShippedLanguageFile : public ::testing::TestWithParam<unsigned long>
{
protected:
    void SetUp() override
    {
        m_language.SetPath(LanguageDir);
        m_language.SetPrefix("vqcsp");
        ASSERT_TRUE(m_language.SetCodePage(GetParam())) << m_language.FileName("vqcsp", GetParam());
    }

    std::string textOf(const CatalogueText& entry)
    {
        return m_language.GetString(entry.number, ovrin::MissingValueMarker);
    }

    // The text formatted as the window does, with a value of the widest kind it shows.
    std::string formatted(const CatalogueText& entry)
    {
        std::string format = textOf(entry);
        char buffer[4096];
        if (format.find("%ld") != std::string::npos)
            std::snprintf(buffer, sizeof buffer, format.c_str(), -2147483648L * 4);
        else
            std::snprintf(buffer, sizeof buffer, format.c_str(), -2147483647 - 1);
        return buffer;
    }

    ovrin::MultiLanguage m_language;
};

} // namespace

TEST_P(ShippedLanguageFile, namesItsOwnLanguageNumber)
{
    EXPECT_EQ(m_language.CodePage(), GetParam());
    EXPECT_NE(m_language.LanguageName(), "");
}

TEST_P(ShippedLanguageFile, hasATextForEveryCatalogueNumberAndNoOthers)
{
    std::set<std::string> numbers;
    for (const CatalogueText& entry : catalogue::allTexts) {
        EXPECT_NE(textOf(entry), ovrin::MissingValueMarker) << entry.number;
        EXPECT_NE(textOf(entry), "") << entry.number;
        numbers.insert(std::to_string(entry.number));
    }
    ovrin::IniFile file;
    ASSERT_TRUE(file.Load(m_language.FileName("vqcsp", GetParam())));
    for (const auto& entry : file.GetSection("strings")->entries)
        EXPECT_EQ(numbers.count(entry.first), 1u) << "unknown number " << entry.first;
    EXPECT_EQ(numbers.size(), 97u);
}

TEST_P(ShippedLanguageFile, keepsEveryFormatConversion)
{
    for (const CatalogueText& entry : catalogue::formatTexts) {
        std::string text = textOf(entry);
        EXPECT_TRUE(catalogue::hasSameConversions(text, entry.defaultText)) << entry.number;
        // hasSameConversions also allows none; a shipped file must keep them.
        EXPECT_FALSE(catalogue::hasSameConversions(text, "")) << entry.number << " lost its conversion";
    }
}

TEST_P(ShippedLanguageFile, textsFitTheBuffersTheyAreFormattedInto)
{
    EXPECT_LT(formatted(catalogue::CharactersEntered).size(), 128u);
    EXPECT_LT(formatted(catalogue::CertExpiresInDays).size(), 512u);
    EXPECT_LT(formatted(catalogue::CertExpiredDaysAgo).size(), 512u);
    EXPECT_LT(formatted(catalogue::MsgPinIncorrect).size(), 2048u);
    EXPECT_LT(textOf(catalogue::CertificateFallbackName).size(), 128u);
    EXPECT_NE(textOf(catalogue::CertExpiresInDays).find('\n'), std::string::npos);
}

TEST_P(ShippedLanguageFile, keyTextsThatAreMappedBackAreDistinct)
{
    const CatalogueText keyTexts[] = {catalogue::KeyPairEncryptRsa1024,
                                      catalogue::KeyPairSignRsa1024,
                                      catalogue::PublicKey,
                                      catalogue::PrivateKey,
                                      catalogue::KeyPairEncryptRsa2048,
                                      catalogue::KeyPairSignRsa2048,
                                      catalogue::KeyPairEncryptEcc128,
                                      catalogue::KeyPairSignEcc128,
                                      catalogue::KeyPairEncryptEcc256,
                                      catalogue::KeyPairSignEcc256};
    std::set<std::string> seen;
    for (const CatalogueText& entry : keyTexts)
        EXPECT_TRUE(seen.insert(textOf(entry)).second) << entry.number;
}

TEST_P(ShippedLanguageFile, keepsTheProductWords)
{
    EXPECT_EQ(textOf(catalogue::MsgDefaultTitle), "Z Idi");
    EXPECT_NE(textOf(catalogue::TrayTokenInserted).find("DIV-Uvavoz"), std::string::npos);
    EXPECT_NE(textOf(catalogue::MsgLabelTooLong).find("Z Ovaduv"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguageFile, ::testing::Values(2052UL, 1028UL, 1033UL));

TEST(EnglishLanguageFile, holdsOnlyEnglishTexts)
{
    ovrin::MultiLanguage english;
    ASSERT_TRUE(english.Load(LanguageDir + "/vqcsp_1033.lng"));
    for (const CatalogueText& entry : catalogue::allTexts) {
        std::string text = english.GetString(entry.number, "");
        for (unsigned char c : text)
            EXPECT_LT(c, 0x80) << entry.number << ": " << text;
    }
    EXPECT_EQ(english.GetString(catalogue::TrayShowWindow.number, ""), "Show main window");
    EXPECT_EQ(english.GetString(catalogue::TrayExit.number, ""), "Exit");
}
