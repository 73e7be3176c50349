// The SKF client layer the module and skftool share: one size cap for every list, lists that
// grow between the two calls, and the driver's empty forms.
#include "skf/client.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A driver's list call answering with these bytes, claiming claimedSize on the size query.
auto listCall(std::string bytes, ULONG claimedSize)
{
    return [bytes, claimedSize](char* out, ULONG* size) -> ULONG {
        if (!out) {
            *size = claimedSize;
            return SAR_OK;
        }
        if (*size < bytes.size()) {
            *size = ULONG(bytes.size());
            return SAR_BUFFER_TOO_SMALL;
        }
        std::memcpy(out, bytes.data(), bytes.size());
        *size = ULONG(bytes.size());
        return SAR_OK;
    };
}

} // namespace

TEST(SkfClient, listsAreReadInFull_whateverTheDriverClaimsWithinTheCap)
{
    struct Case
    {
        std::string bytes;
        ULONG claimed;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {std::string("A\0BB\0\0", 6), 6, {"A", "BB"}},
        {std::string("A\0BB\0\0", 6), 2, {"A", "BB"}}, // grew between the calls
        {std::string("\0\0", 2), 2, {}},
        {std::string("\0", 1), 1, {}},
        {std::string(), 0, {}},
        {std::string("AB", 2), 2, {"AB"}}, // no terminator: cut at the end
    };
    for (const Case& c : cases) {
        EXPECT_EQ(skfclient::readNameList(listCall(c.bytes, c.claimed), "SKF_EnumDev"), c.names) << c.claimed;
    }
}

TEST(SkfClient, aSizeBeyondTheCap_isAnErrorNamingTheFunction_notAnAllocation)
{
    try {
        skfclient::readNameList(listCall("A", 0xFFFFFFF0u), "SKF_EnumApplication");
        FAIL() << "no error";
    } catch (const skfclient::SarError& error) {
        EXPECT_STREQ(error.function(), "SKF_EnumApplication");
        EXPECT_NE(error.sar(), ULONG(SAR_OK));
    }
}

namespace {

// A driver that answers SAR_OK to every open, with a handle only when it has one to give,
// and counts the closes.
struct CountingDriver
{
    static inline void* handleToGive = nullptr;
    static inline int closes = 0;
    static ULONG give(void** handle)
    {
        *handle = handleToGive;
        return SAR_OK;
    }
    static ULONG close(void*)
    {
        ++closes;
        return SAR_OK;
    }
    ULONG (*ConnectDev)(LPSTR, DEVHANDLE*) = [](LPSTR, DEVHANDLE* h) { return give(h); };
    ULONG (*DisConnectDev)(DEVHANDLE) = close;
    ULONG(*OpenApplication)
    (DEVHANDLE, LPSTR, HAPPLICATION*) = [](DEVHANDLE, LPSTR, HAPPLICATION* h) { return give(h); };
    ULONG (*CloseApplication)(HAPPLICATION) = close;
    ULONG(*OpenContainer)
    (HAPPLICATION, LPSTR, HCONTAINER*) = [](HAPPLICATION, LPSTR, HCONTAINER* h) { return give(h); };
    ULONG (*CreateContainer)(HAPPLICATION, LPSTR, HCONTAINER*) = OpenContainer;
    ULONG (*CloseContainer)(HCONTAINER) = close;
};

} // namespace

TEST(SkfClient, handlesCloseOnceEach_andSarOkWithoutAHandleIsAFailure)
{
    const CountingDriver driver;
    int token = 0;
    CountingDriver::handleToGive = &token;
    CountingDriver::closes = 0;
    {
        skfclient::DeviceHandle<CountingDriver> device(driver, "D");
        skfclient::ApplicationHandle<CountingDriver> application(device, "A");
        skfclient::ContainerHandle<CountingDriver> container(application, "C");
        EXPECT_EQ(container.handle(), &token);
    }
    EXPECT_EQ(CountingDriver::closes, 3);

    CountingDriver::handleToGive = nullptr;
    try {
        skfclient::DeviceHandle<CountingDriver> device(driver, "D");
        FAIL() << "a device without a handle was accepted";
    } catch (const skfclient::SarError& error) {
        EXPECT_EQ(error.sar(), ULONG(SAR_FAIL));
        EXPECT_STREQ(error.function(), "SKF_ConnectDev");
    }
    EXPECT_EQ(CountingDriver::closes, 3);
}
