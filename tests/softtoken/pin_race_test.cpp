// Two processes at one application's PINs at once: a correct PIN never fails and never
// ends short of its tries, whatever the other process changes meanwhile.
#include "ProbeProcess.h"
#include "TokenFixture.h"

#include <chrono>
#include <cstdlib>

using namespace softskf::test;

namespace {

struct PinLoop
{
    const char* pin;
    const char* otherPin; // empty: verify only; else change back and forth
    const char* type; // "user" or "so"
};

struct RaceCase
{
    const char* what;
    PinLoop first;
    PinLoop second;
};

const RaceCase kRaces[] = {
    {"verify user / change SO", {kUserPin, "", "user"}, {kAdminPin, "11223344", "so"}},
    {"verify SO / change user", {kAdminPin, "", "so"}, {kUserPin, "55667788", "user"}},
    {"change user / change SO", {kUserPin, "55667788", "user"}, {kAdminPin, "11223344", "so"}},
    {"verify user / verify user", {kUserPin, "", "user"}, {kUserPin, "", "user"}},
};

// An even count, so a PIN changed back and forth ends as it began.
constexpr int kRounds = 12;

std::vector<std::string> loopArguments(const std::string& device, const PinLoop& loop)
{
    return {"pinloop", device, std::to_string(kRounds), loop.pin, loop.otherPin, loop.type};
}

} // namespace

class PinRace : public SoftTokenTest
{
protected:
    // The dearest cost a test may set, here and in the probes: the longer a hash runs, the
    // more often the other process replaces the record under it.
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        const char* cost = getenv(kKnob);
        m_cost = cost ? cost : "";
        setenv(kKnob, "8192", 1);
    }
    void TearDown() override
    {
        setenv(kKnob, m_cost.c_str(), 1);
        SoftTokenTest::TearDown();
    }

private:
    static constexpr const char* kKnob = "SOFTSKF_TEST_SCRYPT_N";
    std::string m_cost;
};

TEST_F(PinRace, aCorrectPin_neverFailsNorLosesATry_whileTheOtherProcessChangesAPin)
{
    const auto started = std::chrono::steady_clock::now();
    deviceName = plugNewToken();
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    for (const auto& race : kRaces) {
        SCOPED_TRACE(race.what);
        skf->SKF_DeleteApplication(device, const_cast<char*>("APP"));
        HAPPLICATION app = createApp(device);
        ASSERT_NE(app, nullptr);
        ProbeProcess first(loopArguments(deviceName, race.first));
        ProbeProcess second(loopArguments(deviceName, race.second));
        // Failed calls, the first failing code, calls that left their PIN short of tries.
        EXPECT_EQ(first.readLine(60000), "0 0 0");
        EXPECT_EQ(second.readLine(60000), "0 0 0");
        EXPECT_EQ(first.finish(), 0);
        EXPECT_EQ(second.finish(), 0);
        for (const auto& [type, pin, max] :
             {std::tuple{USER_TYPE, kUserPin, kUserRetries}, std::tuple{ADMIN_TYPE, kAdminPin, kAdminRetries}}) {
            ULONG retries = 0;
            EXPECT_EQ(skf->SKF_VerifyPIN(app, type, const_cast<char*>(pin), &retries), SAR_OK);
            EXPECT_EQ(retries, max);
        }
    }
    const auto seconds
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu races of 2 x %d calls: %lld ms\n", std::size(kRaces), kRounds, static_cast<long long>(seconds));
}
