// The shared SKF loader against the built soft token and a fake driver that lacks
// SKF_ExportCertificate.
#include "skf/loader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#define LOADER_TEST_FUNCTIONS(X)                                                                                       \
    X(EnumDev)                                                                                                         \
    X(ConnectDev)                                                                                                      \
    X(GetDevInfo)                                                                                                      \
    X(ExportCertificate)                                                                                               \
    X(ECCSignData)

SKFLOADER_TABLE(TestFunctions, LOADER_TEST_FUNCTIONS)

#define LOADER_TEST_EXTRA(X) X(DigestInit)

SKFLOADER_TABLE(ExtraFunctions, LOADER_TEST_EXTRA)

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(SkfLoader, aLibraryThatIsNotThere_isRefusedWithThePathAndTheLoadersMessage)
{
    const std::string path = "/nonexistent/libnosuchdriver.so";
    try {
        skfloader::Driver<TestFunctions> driver(path);
        FAIL() << "loaded " << path;
    } catch (const skfloader::MissingFunction& error) {
        FAIL() << error.what();
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(contains(error.what(), "cannot load the SKF driver " + path + ": ")) << error.what();
        EXPECT_TRUE(contains(error.what(), "libnosuchdriver.so")) << error.what();
    }
}

TEST(SkfLoader, aLibraryWithoutAFunction_namesIt_andFindLeavesTheSlotEmpty)
{
    try {
        skfloader::Driver<TestFunctions> driver(SKFLOADER_TEST_INCOMPLETE_DRIVER);
        FAIL() << "bound a table the driver cannot fill";
    } catch (const skfloader::MissingFunction& error) {
        EXPECT_EQ(error.name(), "SKF_ExportCertificate");
        EXPECT_STREQ(error.what(), "the SKF driver does not export SKF_ExportCertificate");
    }

    const skfloader::Library library(SKFLOADER_TEST_INCOMPLETE_DRIVER);
    decltype(&::SKF_ExportCertificate) missing = nullptr;
    EXPECT_FALSE(library.find("SKF_ExportCertificate", missing));
    EXPECT_EQ(missing, nullptr);
    decltype(&::SKF_EnumDev) present = nullptr;
    EXPECT_TRUE(library.find("SKF_EnumDev", present));
    EXPECT_NE(present, nullptr);
}

TEST(SkfLoader, aGoodLoad_fillsEverySlot_andBindsAnotherTableOnRequest)
{
    const skfloader::Driver<TestFunctions> driver(SKFLOADER_TEST_DRIVER);
    EXPECT_EQ(driver.path(), SKFLOADER_TEST_DRIVER);
#define LOADER_TEST_EXPECT_BOUND(name) EXPECT_NE(driver.fn().name, nullptr) << "SKF_" #name;
    LOADER_TEST_FUNCTIONS(LOADER_TEST_EXPECT_BOUND)
#undef LOADER_TEST_EXPECT_BOUND
    // The slot holds the driver's own function, the one dlsym names.
    const skfloader::Library again(SKFLOADER_TEST_DRIVER);
    decltype(&::SKF_EnumDev) enumDev = nullptr;
    ASSERT_TRUE(again.find("SKF_EnumDev", enumDev));
    EXPECT_EQ(driver.fn().EnumDev, enumDev);

    const ExtraFunctions extra = driver.bind<ExtraFunctions>();
    EXPECT_NE(extra.DigestInit, nullptr);
}

} // namespace
