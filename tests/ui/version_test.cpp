// The version text and vendor line made from the build date and time.
#include "version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Texts
{
    std::string version;
    std::string vendor;
};

Texts format(const char* date, const char* time)
{
    char version[product::VersionSize];
    char vendor[product::VendorLineSize];
    std::memset(version, 'x', sizeof version);
    std::memset(vendor, 'x', sizeof vendor);
    EXPECT_EQ(formatMgrVersion(date, time, version, sizeof version, vendor, sizeof vendor), 0);
    return {version, vendor};
}

} // namespace

TEST(MgrVersion, aBuildOnTheSeventhOfMarch2024_reads1_0_24_03071830_withoutTheSeconds)
{
    EXPECT_EQ(format("Mar  7 2024", "18:30:12").version, "1.0.24.03071830");
}

TEST(MgrVersion, aBuildOnTheFirstOfDecember2023_reads1_0_23_12010905)
{
    EXPECT_EQ(format("Dec  1 2023", "09:05:00").version, "1.0.23.12010905");
}

TEST(MgrVersion, aMonthNameOutsideJanToDec_givesMonth13)
{
    EXPECT_EQ(format("Foo 15 2026", "10:11:12").version, "1.0.26.13151011");
    EXPECT_EQ(format("mar 15 2026", "10:11:12").version, "1.0.26.13151011");
}

TEST(MgrVersion, theVendorLine_namesVelkoraWithTheYearAs20AndTwoDigits)
{
    const Texts early = format("Jan  2 2005", "00:00:00");
    EXPECT_NE(early.vendor.find("2005"), std::string::npos) << early.vendor;
    EXPECT_NE(early.vendor.find("Velkora"), std::string::npos);
    // Only the last two digits of the year survive: 2105 shows as 2005 as well.
    EXPECT_NE(format("Jan  2 2105", "00:00:00").vendor.find("2005"), std::string::npos);
}

TEST(MgrVersion, smallCallerBuffers_getACutTextWithItsTerminator)
{
    char version[8];
    char vendor[10];
    formatMgrVersion("Mar  7 2024", "18:30:12", version, sizeof version, vendor, sizeof vendor);
    EXPECT_STREQ(version, "1.0.24.");
    EXPECT_EQ(std::strlen(vendor), sizeof vendor - 1);
}

TEST(MgrVersion, theProgramsOwnBuildStamp_hasTheVersionShape)
{
    char version[product::VersionSize] = {};
    char vendor[product::VendorLineSize] = {};
    EXPECT_EQ(getMgrVersion(version, vendor), 0);
    EXPECT_EQ(std::strlen(version), std::strlen("1.0.YY.MMDDhhmm"));
    EXPECT_EQ(std::string(version).rfind("1.0.", 0), 0u);
}
