// Files: the round trip of their bytes and the read, write and create rights.
#include "TokenFixture.h"

#include <cstring>

using namespace softskf;
using namespace softskf::test;

class Files : public SoftTokenTest
{
protected:
    ULONG create(HAPPLICATION app, const char* name, ULONG size, ULONG readRights, ULONG writeRights)
    {
        return skf->SKF_CreateFile(app, const_cast<char*>(name), size, readRights, writeRights);
    }
    ULONG write(HAPPLICATION app, const char* name, ULONG offset, std::vector<uint8_t> data)
    {
        return skf->SKF_WriteFile(app, const_cast<char*>(name), offset, data.data(), static_cast<ULONG>(data.size()));
    }
    ULONG read(HAPPLICATION app, const char* name, ULONG offset, ULONG size, std::vector<uint8_t>& out)
    {
        out.assign(size, 0);
        ULONG length = size;
        const ULONG rc = skf->SKF_ReadFile(app, const_cast<char*>(name), offset, size, out.data(), &length);
        out.resize(rc == SAR_OK ? length : 0);
        return rc;
    }
};

TEST_F(Files, writtenBytes_readBack_withInfoAndListing)
{
    HAPPLICATION app = readyApp();
    ASSERT_EQ(create(app, "notes", 10, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT), SAR_OK);
    ASSERT_EQ(create(app, "other", 4, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT), SAR_OK);
    EXPECT_EQ(create(app, "notes", 4, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT), SAR_FILE_ALREADY_EXIST);
    ASSERT_EQ(write(app, "notes", 2, {'a', 0, 'b'}), SAR_OK);
    EXPECT_NE(write(app, "notes", 8, {1, 2, 3}), SAR_OK) << "a file keeps its size";

    std::vector<uint8_t> data;
    ASSERT_EQ(read(app, "notes", 0, 10, data), SAR_OK);
    EXPECT_EQ(data, (std::vector<uint8_t>{0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0}));
    ULONG needed = 0;
    ASSERT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("notes"), 2, 3, nullptr, &needed), SAR_OK);
    EXPECT_EQ(needed, 3u);
    uint8_t small[2];
    ULONG length = sizeof small;
    EXPECT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("notes"), 2, 3, small, &length), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 3u);

    FILEATTRIBUTE info{};
    ASSERT_EQ(skf->SKF_GetFileInfo(app, const_cast<char*>("notes"), &info), SAR_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(info.FileName), "notes");
    EXPECT_EQ(ULONG(info.FileSize), 10u);
    EXPECT_EQ(ULONG(info.ReadRights), SECURE_ANYONE_ACCOUNT);

    ULONG size = 0;
    ASSERT_EQ(skf->SKF_EnumFiles(app, nullptr, &size), SAR_OK);
    std::vector<char> list(size);
    ASSERT_EQ(skf->SKF_EnumFiles(app, list.data(), &size), SAR_OK);
    EXPECT_EQ(splitList(list.data(), size), (std::vector<std::string>{"notes", "other"}));

    ASSERT_EQ(skf->SKF_DeleteFile(app, const_cast<char*>("notes")), SAR_OK);
    EXPECT_EQ(skf->SKF_GetFileInfo(app, const_cast<char*>("notes"), &info), SAR_FILE_NOT_EXIST);
    EXPECT_EQ(create(app, std::string(33, 'n').c_str(), 4, 0xFF, 0xFF), SAR_NAMELENERR);
}

TEST_F(Files, readAndWriteRights_followTheVerifiedPins)
{
    HAPPLICATION app = readyApp();
    ASSERT_EQ(create(app, "user-read", 4, SECURE_USER_ACCOUNT, SECURE_ADM_ACCOUNT), SAR_OK);
    ASSERT_EQ(create(app, "sealed", 4, SECURE_ANYONE_ACCOUNT, SECURE_NEVER_ACCOUNT), SAR_OK);
    std::vector<uint8_t> data;

    // The user may read but not write a file whose writes belong to the SO.
    EXPECT_EQ(read(app, "user-read", 0, 4, data), SAR_OK);
    EXPECT_NE(write(app, "user-read", 0, {1}), SAR_OK);

    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(read(app, "user-read", 0, 4, data), SAR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(read(app, "sealed", 0, 4, data), SAR_OK);

    ULONG retries = 0;
    ASSERT_EQ(skf->SKF_VerifyPIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), &retries), SAR_OK);
    EXPECT_EQ(write(app, "user-read", 0, {1}), SAR_OK);
    EXPECT_NE(write(app, "sealed", 0, {1}), SAR_OK) << "nobody writes a never-writable file";
}

TEST_F(Files, createFileRights_ofTheApplication_decideWhoCreatesFiles)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device, "USERFILES", SECURE_USER_ACCOUNT);
    EXPECT_EQ(create(app, "f", 4, 0xFF, 0xFF), SAR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(create(app, "f", 4, 0xFF, 0xFF), SAR_OK);
}
