// Hot-plug events and concurrency, each run in a probe process with a fresh library
// state and a store folder of its own.
#include "ProbeProcess.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace softskf;
using namespace softskf::test;

namespace {

std::string plug(const std::string& serial)
{
    admin::TokenOptions options;
    options.serial = serial;
    admin::createToken(options);
    admin::insertToken(serial, "VK-" + serial);
    return "VK-" + serial;
}

std::string eventLine(ULONG event, const std::string& name)
{
    return "0 " + std::to_string(event) + " " + name + " " + std::to_string(name.size() + 1);
}

} // namespace

class Events : public SoftTokenTest
{
};

TEST_F(Events, tokensPresentAtStart_comeFirst_thenEachInsertAndRemoveOnce)
{
    ScopedStore store;
    const std::string first = plug("EA");
    const std::string second = plug("EB");
    ProbeProcess probe({"events", "5"});
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, first));
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, second));

    const std::string third = plug("EC");
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, third));
    admin::removeToken(first);
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_REMOVED, first));
    // A presence file written in place, as a person or a script would, counts too.
    std::ofstream(store.path() + "/present/Renamed token") << "EA\n";
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, "Renamed token"));
    EXPECT_EQ(probe.finish(), 0);
}

TEST_F(Events, aPresenceFolderReplacedUnderAWait_isWatchedAgain_atOnce)
{
    // The wait never wakes by itself; a folder moved away and made anew must still wake it.
    ScopedStore store;
    const std::string name = plug("RF");
    ProbeProcess probe({"events", "3"});
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, name));
    const std::string present = store.path() + "/present";
    ASSERT_EQ(::rename(present.c_str(), (present + ".old").c_str()), 0);
    EXPECT_EQ(probe.readLine(1000), eventLine(DEV_EVENT_REMOVED, name));
    ASSERT_EQ(::mkdir(present.c_str(), 0700), 0);
    std::ofstream(present + "/" + name) << "RF\n";
    EXPECT_EQ(probe.readLine(1000), eventLine(DEV_EVENT_INSERTED, name));
    EXPECT_EQ(probe.finish(), 0);
}

TEST_F(Events, noTokenPluggedIn_givesADeviceListOfSizeZero)
{
    // The manager hides its tray icon when the list's size is 0.
    ScopedStore store;
    ProbeProcess empty({"enumdev"});
    EXPECT_EQ(empty.readLine(), "0 0");
    EXPECT_EQ(empty.finish(), 0);
    const std::string name = plug("ONE");
    ProbeProcess one({"enumdev"});
    EXPECT_EQ(one.readLine(), "0 " + std::to_string(name.size() + 2));
    EXPECT_EQ(one.finish(), 0);
}

TEST_F(Events, aShortNameBuffer_getsTheNeededLength_andTheEventWaits)
{
    ScopedStore store;
    const std::string name = plug("SHORTBUF");
    ProbeProcess probe({"small"});
    EXPECT_EQ(probe.readLine(), std::to_string(SAR_BUFFER_TOO_SMALL) + " " + std::to_string(name.size() + 1));
    EXPECT_EQ(probe.readLine(), eventLine(DEV_EVENT_INSERTED, name));
    EXPECT_EQ(probe.finish(), 0);
}

TEST_F(Events, cancel_wakesABlockedWaitAtOnce)
{
    ScopedStore store;
    ProbeProcess probe({"cancel"});
    const std::string line = probe.readLine();
    const auto space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << line;
    EXPECT_NE(std::stoul(line.substr(0, space)), SAR_OK);
    EXPECT_LT(std::stol(line.substr(space + 1)), 200) << "milliseconds from cancel to return";
    EXPECT_EQ(probe.finish(), 0);
}

TEST_F(Events, callsOnOneThread_goOnWhileAnotherWaits)
{
    ScopedStore store;
    const std::string name = plug("BUSY");
    ProbeProcess probe({"busy", name});
    EXPECT_EQ(probe.readLine(20000), "0 1 " + std::to_string(SAR_NOT_EVENTERR));
    EXPECT_EQ(probe.finish(), 0);
}

TEST_F(Events, twoProcessesChangingOneToken_atOnce_bothSucceed)
{
    HAPPLICATION app = readyApp();
    constexpr int kEach = 12;
    ProbeProcess left({"churn", deviceName, "L", std::to_string(kEach)});
    ProbeProcess right({"churn", deviceName, "R", std::to_string(kEach)});
    EXPECT_EQ(left.readLine(30000), "OK");
    EXPECT_EQ(right.readLine(30000), "OK");
    EXPECT_EQ(left.finish(), 0);
    EXPECT_EQ(right.finish(), 0);

    const auto names = containers(app);
    EXPECT_EQ(names.size(), 2u * kEach);
    ULONG size = 0;
    ASSERT_EQ(skf->SKF_EnumFiles(app, nullptr, &size), SAR_OK);
    std::vector<char> list(size);
    ASSERT_EQ(skf->SKF_EnumFiles(app, list.data(), &size), SAR_OK);
    EXPECT_EQ(splitList(list.data(), size).size(), 2u * kEach);
    // This process sees the other processes' certificates too.
    HCONTAINER container = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("R3"), &container), SAR_OK);
    ASSERT_EQ(skf->SKF_ExportCertificate(container, TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 300u);
}
