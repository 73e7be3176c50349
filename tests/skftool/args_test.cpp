// skftool's command-line parsing, driver name lists and result-code texts.
#include "args.h"
#include "commands.h"
#include "errors.h"
#include "sarcodes.h"
#include "session.h"

#include "skf/skfapi.h"

#include <gtest/gtest.h>

using namespace skftool;

namespace {

const std::vector<OptionSpec> kOptions = {{"--pin", "PIN", ""}, {"--sign", "", ""}, {"-o", "FILE", ""}};

std::vector<char> bytes(const std::string& text)
{
    return std::vector<char>(text.begin(), text.end());
}

} // namespace

TEST(ParseArgs, acceptsValuesInBothFormsAndFlagsAmongPositionals)
{
    const ParsedArgs args = parseArgs({"DEV", "--pin", "123456", "APP", "--sign", "-o=out.der"}, kOptions, 2, 2);
    EXPECT_EQ(args.positionals(), (std::vector<std::string>{"DEV", "APP"}));
    EXPECT_EQ(args.value("--pin"), "123456");
    EXPECT_TRUE(args.has("--sign"));
    EXPECT_EQ(args.value("-o"), "out.der");
    EXPECT_FALSE(args.has("--enc"));
}

TEST(ParseArgs, treatsEverythingAfterDoubleDashAsPositional)
{
    const ParsedArgs args = parseArgs({"--", "--pin", "-x"}, kOptions, 2, 2);
    EXPECT_EQ(args.positionals(), (std::vector<std::string>{"--pin", "-x"}));
    EXPECT_FALSE(args.has("--pin"));
}

TEST(ParseArgs, refusesUnknownOptionsMissingValuesFlagValuesAndWrongCounts)
{
    EXPECT_THROW(parseArgs({"--so"}, kOptions, 0, 0), UsageError);
    EXPECT_THROW(parseArgs({"--pin"}, kOptions, 0, 0), UsageError);
    EXPECT_THROW(parseArgs({"--sign=yes"}, kOptions, 0, 0), UsageError);
    EXPECT_THROW(parseArgs({"A"}, kOptions, 2, 2), UsageError);
    EXPECT_THROW(parseArgs({"A", "B", "C"}, kOptions, 2, 2), UsageError);
}

TEST(TakeGlobalOption, removesTheLibraryOptionWhereverItStands)
{
    std::vector<std::string> words = {"show", "--lib", "/x/lib.so", "DEV"};
    EXPECT_EQ(takeGlobalOption(words, "--lib"), "/x/lib.so");
    EXPECT_EQ(words, (std::vector<std::string>{"show", "DEV"}));
    words = {"--lib=/y.so", "devices"};
    EXPECT_EQ(takeGlobalOption(words, "--lib"), "/y.so");
    EXPECT_EQ(words, (std::vector<std::string>{"devices"}));
    words = {"devices", "--lib"};
    EXPECT_THROW(takeGlobalOption(words, "--lib"), UsageError);
}

TEST(ParseNumber, acceptsDecimalsAndRefusesSignsTextAndOverflow)
{
    EXPECT_EQ(parseNumber("262144", "--capacity"), 262144ul);
    EXPECT_THROW(parseNumber("-1", "--capacity"), UsageError);
    EXPECT_THROW(parseNumber("12k", "--capacity"), UsageError);
    EXPECT_THROW(parseNumber("", "--capacity"), UsageError);
    EXPECT_THROW(parseNumber("4294967296", "--capacity"), UsageError);
}

TEST(SplitNameList, readsAMultiStringAndEveryFormOfTheEmptyList)
{
    EXPECT_EQ(splitNameList(bytes(std::string("a\0bb\0\0", 6)), 6), (std::vector<std::string>{"a", "bb"}));
    EXPECT_TRUE(splitNameList(bytes(std::string("\0\0", 2)), 2).empty());
    EXPECT_TRUE(splitNameList(bytes(std::string("\0", 1)), 1).empty());
    EXPECT_TRUE(splitNameList({}, 0).empty());
}

TEST(SplitNameList, stopsAtTheBufferEndWhenTheTerminatorIsMissing)
{
    EXPECT_EQ(splitNameList(bytes("abc"), 3), (std::vector<std::string>{"abc"}));
    // A size larger than the buffer never reads past it.
    EXPECT_EQ(splitNameList(bytes(std::string("ab\0cd", 5)), 100), (std::vector<std::string>{"ab", "cd"}));
}

TEST(SarCodes, nameTheCodeInHexAndExplainItInAPlainSentence)
{
    EXPECT_EQ(sarLabel(SAR_PIN_INCORRECT), "SAR_PIN_INCORRECT (0x0A000024)");
    EXPECT_EQ(sarLabel(SAR_REACH_MAX_CONTAINER_COUNT), "SAR_REACH_MAX_CONTAINER_COUNT (0x0A000032)");
    EXPECT_EQ(sarLabel(0x12345678u), "unknown code (0x12345678)");
    EXPECT_FALSE(sarSentence(SAR_PIN_LOCKED).empty());
    const std::string text = describe(SarError(SAR_NO_ROOM, "SKF_ImportCertificate", "container C"));
    EXPECT_EQ(text.rfind("SKF_ImportCertificate failed: SAR_NO_ROOM (0x0A000030): ", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 14), " (container C)");
}

TEST(SarCodes, haveANameForEveryCodeFromFailToTheLastContainer)
{
    for (uint32_t code = SAR_FAIL; code <= SAR_REACH_MAX_CONTAINER_COUNT; ++code) {
        EXPECT_EQ(sarName(code).rfind("SAR_", 0), 0u) << std::hex << code;
    }
}

TEST(CommandTable, givesEveryCommandAHandlerASummaryAndDetails)
{
    for (const Command& command : commandTable()) {
        EXPECT_NE(command.handler, nullptr) << command.name;
        EXPECT_FALSE(command.summary.empty()) << command.name;
        EXPECT_FALSE(command.details.empty()) << command.name;
        EXPECT_LE(command.minPositionals, command.maxPositionals) << command.name;
        for (const OptionSpec& option : command.options) {
            EXPECT_FALSE(option.help.empty()) << command.name << " " << option.name;
        }
    }
}

TEST(AuthKey, defaultsToTheSoftTokensKeyAndTakesThirtyTwoHexDigits)
{
    const std::vector<uint8_t> fallback = parseAuthKey("");
    EXPECT_EQ(std::string(fallback.begin(), fallback.end()), "1234567812345678");
    EXPECT_EQ(parseAuthKey("00112233445566778899aabbccddeeff").at(15), 0xFF);
    EXPECT_THROW(parseAuthKey("0011"), UsageError);
    EXPECT_THROW(parseAuthKey("zz112233445566778899aabbccddeeff"), UsageError);
}
