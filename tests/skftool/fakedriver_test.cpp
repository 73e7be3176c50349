// skftool against a driver that misbehaves the way real ones do: lists that grow or lack
// their terminator, fixed fields without NUL, a missing function, unsupported calls.
#include "cli_runner.h"

#include <gtest/gtest.h>

using skftooltest::RunResult;

namespace {

RunResult runOnFake(std::vector<std::string> args, const char* driver = SKFTOOL_FAKE_DRIVER)
{
    args.insert(args.begin(), {"--lib", driver});
    return skftooltest::runSkftool(args, {{"SKFTOOL_LIB", ""}});
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(FakeDriver, aDeviceListThatGrowsBetweenTheTwoCalls_isReadAgainInFull)
{
    const RunResult result = runOnFake({"devices"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "A\tpresent\nBB\tunknown\n");
}

TEST(FakeDriver, fieldsAndListsWithoutTerminators_areCutAtTheirEnds)
{
    const RunResult result = runOnFake({"show", "A"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "Label:            " + std::string(32, 'L') + "\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "Serial number:    " + std::string(32, 'S') + "\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "Manufacturer:     " + std::string(64, 'L') + "\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "Application APP\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "User PIN: 0 of 5 tries left, locked\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "No containers")) << result.out;
}

TEST(FakeDriver, anUnsupportedCall_isReportedWithItsSarCode)
{
    const RunResult result = runOnFake({"label", "A", "New"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "SKF_SetLabel failed: SAR_NOTSUPPORTYETERR (0x0A000003)")) << result.err;
}

TEST(FakeDriver, aDriverWithoutAFunctionSkftoolNeeds_isRefusedByName)
{
    const RunResult result = runOnFake({"devices"}, SKFTOOL_FAKE_DRIVER_INCOMPLETE);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err, "does not export SKF_ExportCertificate")) << result.err;
}
