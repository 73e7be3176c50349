// Certificate parsing and validity against the scriptable fake driver and the tree driver,
// with certificates each case makes for itself. The time zone is pinned to one with summer
// time (also set in the test environment), so midnight arithmetic is checked where it bites.
#include "cert_parse.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"
#include "testcerts.h"
#include "treeskf_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const bool g_zonePinned = [] {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return true;
}();

constexpr long long Day = 86400;

const BYTE* bytesOf(const std::string& text)
{
    return reinterpret_cast<const BYTE*>(text.data());
}

// A certificate time as OpenSSL keeps it, with any text.
struct Time
{
    Time(const char* text, int type)
        : time(ASN1_STRING_type_new(type))
    {
        ASN1_STRING_set(time, text, -1);
    }
    ~Time() { ASN1_STRING_free(time); }
    ASN1_STRING* time;
};

struct Date
{
    int year = 0, month = 0, day = 0;
    char text[16] = "untouched";
};

Date dateOf(const char* text, int type = V_ASN1_UTCTIME)
{
    Time time(text, type);
    Date date;
    EXPECT_EQ(getUTCTime(time.time, date.text, &date.year, &date.month, &date.day), 0);
    return date;
}

// Points the device manager at a driver and gives each case a fresh token.
class WithDriver : public testing::Test
{
protected:
    void useDriver(const char* path)
    {
        manager = cDevMgr::getInst();
        manager->resetForTests();
        cDevMgr::setDriverPath(path);
        ASSERT_EQ(manager->Initialize(), 0);
    }

    // certValid's answer, checked against the expiry it should have found: local midnight
    // at the start of that date, measured from a moment during the call.
    void expectSecondsLeftUntil(long long midnight)
    {
        std::int64_t secondsLeft = 0;
        const long long before = time(nullptr);
        ASSERT_EQ(certParse().certValid("TOKEN", &secondsLeft), 0);
        const long long after = time(nullptr);
        EXPECT_GE(secondsLeft, midnight - after);
        EXPECT_LE(secondsLeft, midnight - before);
    }

    cDevMgr* manager = nullptr;
};

class CertValidity : public WithDriver
{
protected:
    void SetUp() override
    {
        FakeSkf_Reset();
        useDriver(FAKE_SCRIPTED_DRIVER);
        FakeSkf_SetApplicationList("APP\0\0", 5, -1);
        FakeSkf_SetContainerList("C1\0C2\0\0", 7, -1);
    }

    // The fake frees the container handles still open only on a reset.
    void TearDown() override { FakeSkf_Reset(); }

    void put(const char* container, BOOL sign, const CertificateRequest& request)
    {
        const std::string der = makeCertificate(request);
        FakeSkf_SetCertificate(container, sign, bytesOf(der), der.size());
    }

    int certValid()
    {
        std::int64_t ignored = 0;
        return certParse().certValid("TOKEN", &ignored);
    }
};

class CertName : public CertValidity
{
protected:
    std::string nameOf(const CertificateRequest& request, const char* preset = "")
    {
        put("C1", TRUE, request);
        EXPECT_EQ(manager->OpenContainer("C1"), SAR_OK);
        char name[cDevMgr::CertNameSize + 16];
        std::memset(name, '#', sizeof name);
        std::strcpy(name, preset);
        EXPECT_EQ(manager->getCertName(TRUE, name), 0);
        EXPECT_EQ(name[cDevMgr::CertNameSize], '#') << "wrote past the 128-byte buffer";
        return std::string(name, strnlen(name, cDevMgr::CertNameSize));
    }
};

class TreeToken : public WithDriver
{
protected:
    void SetUp() override
    {
        TreeSkf_Reset();
        useDriver(TREE_DRIVER);
    }
};

} // namespace

TEST(CertificateDate, aUtcYearOf49IsThe2040sAnd50IsThe1950s)
{
    const Date late = dateOf("491231235959Z");
    EXPECT_EQ(late.year, 2049);
    EXPECT_EQ(late.month, 12);
    EXPECT_EQ(late.day, 31);
    EXPECT_STREQ(late.text, "2049-12-31");
    EXPECT_EQ(dateOf("500101000000Z").year, 1950);
}

TEST(CertificateDate, aBadMonthAShortTimeOrNonDigits_leaveEverythingUntouched)
{
    for (const char* text : {"491301000000Z", "490001000000Z", "491231000", "4A1231000000Z"}) {
        const Date date = dateOf(text);
        EXPECT_EQ(date.year + date.month + date.day, 0) << text;
        EXPECT_STREQ(date.text, "untouched") << text;
    }
    EXPECT_STREQ(dateOf("4912310000").text, "2049-12-31") << "ten characters are enough";
}

TEST(CertificateDate, aGeneralizedTimeIsReadWithItsFullYear)
{
    const Date date = dateOf("20551208000000Z", V_ASN1_GENERALIZEDTIME);
    EXPECT_EQ(date.year, 2055);
    EXPECT_STREQ(date.text, "2055-12-08");
    EXPECT_EQ(dateOf("19991231000000Z", V_ASN1_GENERALIZEDTIME).year, 1999);
}

TEST(Timestamps, midnightIsLocalMidnightInWinterAndInSummer)
{
    ASSERT_TRUE(g_zonePinned);
    std::int64_t winter = 0, summer = 0;
    stringToTimestamp("20261208000000", &winter);
    stringToTimestamp("20260701000000", &summer);
    EXPECT_EQ(winter, 1796684400); // 2026-12-07 23:00 UTC
    EXPECT_EQ(summer, 1782856800); // 2026-06-30 22:00 UTC
    std::int64_t now = 0;
    getCurrentTimestamp(&now);
    EXPECT_LE(std::llabs(now - static_cast<long long>(time(nullptr))), 1);
}

TEST_F(CertValidity, aUtcYear49CountsForwardTo2049)
{
    put("C1", FALSE, {KeyKind::Rsa, {"RSA"}, "491231120000Z"});
    expectSecondsLeftUntil(localMidnight(2049, 12, 31));
}

TEST_F(CertValidity, aUtcYear50IsLongExpired)
{
    put("C1", FALSE, {KeyKind::Sm2, {"SM2"}, "500615120000Z"});
    expectSecondsLeftUntil(localMidnight(1950, 6, 15));
    std::int64_t secondsLeft = 0;
    certParse().certValid("TOKEN", &secondsLeft);
    EXPECT_LT(secondsLeft, -70 * 365 * Day);
}

TEST_F(CertValidity, aCertificateEndingTodayHasAtMostZeroSecondsLeft)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const time_t now = time(nullptr);
        struct tm today = {};
        localtime_r(&now, &today);
        char notAfter[32];
        std::snprintf(notAfter, sizeof notAfter, "%02d%02d%02d235959Z", today.tm_year % 100, today.tm_mon + 1,
                      today.tm_mday);
        put("C1", FALSE, {KeyKind::Sm2, {"today"}, notAfter});
        std::int64_t secondsLeft = 1;
        ASSERT_EQ(certParse().certValid("TOKEN", &secondsLeft), 0);
        const time_t later = time(nullptr);
        struct tm afterwards = {};
        localtime_r(&later, &afterwards);
        if (afterwards.tm_mday != today.tm_mday) {
            continue; // midnight passed during the call: ask again on the new day
        }
        EXPECT_LE(secondsLeft, 0);
        EXPECT_GE(secondsLeft, -86399);
        return;
    }
}

TEST_F(CertValidity, aBadMonthCountsFromADateOfZero)
{
    put("C1", FALSE, {KeyKind::Rsa, {"bad month"}, "491301120000Z"});
    std::int64_t zeroDate = 0;
    stringToTimestamp("00000000000", &zeroDate);
    expectSecondsLeftUntil(zeroDate);
}

TEST_F(CertValidity, aGeneralizedTimeIn2055IsYearsAhead)
{
    put("C1", FALSE, {KeyKind::Rsa, {"far"}, "20551208000000Z", V_ASN1_GENERALIZEDTIME});
    expectSecondsLeftUntil(localMidnight(2055, 12, 8));
    std::int64_t secondsLeft = 0;
    certParse().certValid("TOKEN", &secondsLeft);
    EXPECT_GT(secondsLeft, 28 * 365 * Day);
}

TEST_F(CertValidity, theEncryptionCertificateComesFirstAndTheSignatureOneStandsIn)
{
    put("C1", TRUE, {KeyKind::Sm2, {"sign"}, "400101000000Z"});
    expectSecondsLeftUntil(localMidnight(2040, 1, 1));
    put("C1", FALSE, {KeyKind::Sm2, {"encrypt"}, "350101000000Z"});
    expectSecondsLeftUntil(localMidnight(2035, 1, 1));
}

TEST_F(CertValidity, containersWithoutCertificateAreSkippedButABrokenOneEndsTheSearch)
{
    put("C2", TRUE, {KeyKind::Rsa, {"second"}, "400101000000Z"});
    expectSecondsLeftUntil(localMidnight(2040, 1, 1));

    const std::string truncated = makeCertificate({}).substr(0, 200);
    FakeSkf_SetCertificate("C1", FALSE, bytesOf(truncated), truncated.size());
    EXPECT_EQ(certValid(), -1);
    FakeSkf_SetCertificate("C1", FALSE, bytesOf("garbage"), 7);
    EXPECT_EQ(certValid(), -1);
}

TEST_F(CertValidity, aContainerThatDoesNotOpenIsPassedOver)
{
    put("C2", TRUE, {KeyKind::Rsa, {"second"}, "400101000000Z"});
    put("C1", TRUE, {KeyKind::Rsa, {"first"}, "350101000000Z"});
    FakeSkf_FailAfter("SKF_OpenContainer", 0, SAR_FAIL);
    EXPECT_EQ(certValid(), -1);
    FakeSkf_SetResult("SKF_OpenContainer", SAR_OK);
    expectSecondsLeftUntil(localMidnight(2035, 1, 1));
}

TEST_F(CertValidity, everyFailureOnTheWayGivesMinusOne)
{
    put("C1", FALSE, {});
    ASSERT_EQ(certValid(), 0);
    for (const char* function : {"SKF_ConnectDev", "SKF_EnumApplication", "SKF_OpenApplication", "SKF_EnumContainer",
                                 "SKF_ExportCertificate"}) {
        FakeSkf_SetResult(function, SAR_FAIL);
        EXPECT_EQ(certValid(), -1) << function;
        FakeSkf_SetResult(function, SAR_OK);
    }
    FakeSkf_SetApplicationList("\0\0", 2, -1);
    EXPECT_EQ(certValid(), -1);
    FakeSkf_SetApplicationList("APP\0\0", 5, -1);
    FakeSkf_SetContainerList("\0\0", 2, -1);
    EXPECT_EQ(certValid(), -1);
    std::int64_t secondsLeft = 0;
    EXPECT_EQ(certParse().certValid(nullptr, &secondsLeft), -1);
    manager->resetForTests();
    EXPECT_EQ(certValid(), -1) << "no driver loaded";
}

TEST_F(CertValidity, closesEveryHandleItOpensAndLeavesTheManagersOwn)
{
    ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
    ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    const DEVHANDLE device = manager->currentDevice();
    const HAPPLICATION application = manager->currentApplication();
    const HCONTAINER container = manager->currentContainer();
    const unsigned managersHandles = FakeSkf_OpenHandleCount();

    auto checkAfter = [&](const char* situation) {
        certValid();
        EXPECT_EQ(FakeSkf_OpenHandleCount(), managersHandles) << situation;
        EXPECT_EQ(manager->currentDevice(), device);
        EXPECT_EQ(manager->currentApplication(), application);
        EXPECT_EQ(manager->currentContainer(), container);
    };
    checkAfter("no certificate in any container");
    FakeSkf_SetResult("SKF_EnumContainer", SAR_FAIL);
    checkAfter("containers not listed");
    FakeSkf_SetResult("SKF_EnumContainer", SAR_OK);
    FakeSkf_SetResult("SKF_EnumApplication", SAR_FAIL);
    checkAfter("applications not listed");
    FakeSkf_SetResult("SKF_EnumApplication", SAR_OK);
    FakeSkf_SetCertificate("C1", FALSE, bytesOf("garbage"), 7);
    checkAfter("a certificate that does not parse");
    put("C1", FALSE, {});
    checkAfter("a certificate found");
    EXPECT_GT(FakeSkf_CallCount("SKF_CloseContainer"), 0u);
}

// Lists are read through a size query, so long names arrive whole rather than cut to a
// fixed buffer (a cut name could address another application or container).
TEST_F(CertValidity, listsWithoutTheirTerminatorEndAtTheEndOfTheData_withTheirNamesWhole)
{
    const std::string application(300, 'A');
    FakeSkf_SetApplicationList(application.data(), application.size(), 300);
    const std::string containers = std::string(1500, 'B');
    FakeSkf_SetContainerList(containers.data(), containers.size(), 1500);
    put(containers.c_str(), FALSE, {});
    EXPECT_EQ(certValid(), 0);
    EXPECT_EQ(FakeSkf_LastArgument("SKF_OpenApplication"), application);
}

TEST_F(TreeToken, onlyTheFirstApplicationIsExamined)
{
    const std::string der = makeCertificate({});
    TreeSkf_SetCertificate("A-first", "C0", FALSE, nullptr, 0);
    TreeSkf_SetCertificate("B-later", "C1", FALSE, bytesOf(der), der.size());
    std::int64_t secondsLeft = 0;
    EXPECT_EQ(certParse().certValid("TOKEN", &secondsLeft), -1);
    TreeSkf_SetCertificate("A-first", "C0", TRUE, bytesOf(der), der.size());
    EXPECT_EQ(certParse().certValid("TOKEN", &secondsLeft), 0);
    EXPECT_EQ(TreeSkf_OpenHandleCount(), 0u);
}

TEST_F(TreeToken, aLengthReportedBeyondTheBufferIsNeverReadPast)
{
    const std::string der = makeCertificate({KeyKind::Rsa, {"lying driver"}, "400101000000Z"});
    TreeSkf_SetCertificate("APP", "C1", FALSE, bytesOf(der), der.size());
    TreeSkf_SetReportedLengths(0, 0xFFFFFFF0u);
    expectSecondsLeftUntil(localMidnight(2040, 1, 1));

    char name[cDevMgr::CertNameSize] = "untouched";
    ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
    ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    EXPECT_EQ(manager->getCertName(FALSE, name), 0);
    EXPECT_STREQ(name, "lying driver");
    TreeSkf_SetReportedLengths(0xFFFFFFFFu, 0);
    EXPECT_EQ(manager->getCertName(FALSE, name), -1) << "an absurd size is refused, not allocated";
    // A size query that claims less than the fill then reports: only what was allocated is parsed.
    TreeSkf_SetReportedLengths(100, 0);
    EXPECT_EQ(manager->getCertName(FALSE, name), -1);
}

// Both readers share one limit: a certificate of 12,000 bytes is evaluated by the expiry
// check as by the container view, one above the limit by neither, even when the driver
// claims to have exported it.
TEST_F(TreeToken, oneSizeLimitForTheExpiryCheckAndTheNames)
{
    const struct
    {
        std::size_t nameLength;
        bool read;
    } rows[] = {{12000, true}, {certificate::MaxSize, false}};
    for (const auto& row : rows) {
        const std::string der = makeCertificate({KeyKind::Rsa, {std::string(row.nameLength, 'L')}, "400101000000Z"});
        TreeSkf_SetCertificate("APP", "C1", FALSE, bytesOf(der), der.size());
        TreeSkf_SetReportedLengths(0, 0xFFFFFFF0u);
        std::int64_t secondsLeft = 0;
        EXPECT_EQ(certParse().certValid("TOKEN", &secondsLeft), row.read ? 0 : -1) << row.nameLength;

        char name[cDevMgr::CertNameSize] = "";
        ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
        ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
        ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
        EXPECT_EQ(manager->getCertName(FALSE, name), row.read ? 0 : -1) << row.nameLength;
        std::vector<BYTE> read;
        EXPECT_EQ(certificate::readCurrent(*manager, FALSE, read), row.read) << row.nameLength;
        EXPECT_EQ(read.size(), row.read ? der.size() : 0u) << row.nameLength;
    }
}

TEST_F(CertName, twoCommonNamesYieldTheSecond)
{
    EXPECT_EQ(nameOf({KeyKind::Sm2, {"First", "Second"}}), "Second");
}

TEST_F(CertName, aSubjectWithoutCommonNameLeavesTheBufferAsItWas)
{
    EXPECT_EQ(nameOf({KeyKind::Rsa, {}}, "preset"), "preset");
}

TEST_F(CertName, aLongCommonNameIsCutToFitAtACharacterBoundary)
{
    EXPECT_EQ(nameOf({KeyKind::Rsa, {std::string(300, 'x')}}), std::string(127, 'x'));
    std::string accented;
    for (int i = 0; i < 150; ++i) {
        accented += "\xC3\xA9"; // é, two bytes
    }
    EXPECT_EQ(nameOf({KeyKind::Rsa, {accented}}), accented.substr(0, 126));
}

TEST_F(CertName, aMissingOrUnparseableCertificateGivesMinusOne)
{
    char name[cDevMgr::CertNameSize] = "";
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    EXPECT_EQ(manager->getCertName(TRUE, name), -1);
    const std::string truncated = makeCertificate({}).substr(0, 100);
    FakeSkf_SetCertificate("C1", TRUE, bytesOf(truncated), truncated.size());
    EXPECT_EQ(manager->getCertName(TRUE, name), -1);
    EXPECT_EQ(manager->getCertName(TRUE, nullptr), -1);
    EXPECT_EQ(getX509Name(nullptr, name), 0);
}
