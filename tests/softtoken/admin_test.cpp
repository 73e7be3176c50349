// The store commands skftool uses: creating, listing, plugging and deleting tokens, and
// names that could escape the store folder.
#include "tokenadmin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace softskf::admin;

namespace {

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

bool exists(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0;
}

} // namespace

class StoreCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/softskf-admin-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_store = m_root + "/store";
        setenv("SOFTSKF_DIR", m_store.c_str(), 1);
    }
    void TearDown() override { nftw(m_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

    void create(const std::string& serial)
    {
        TokenOptions options;
        options.serial = serial;
        createToken(options);
    }

    std::string m_root;
    std::string m_store;
};

TEST_F(StoreCommands, aCreatedToken_isListedEmpty_andUnplugged)
{
    EXPECT_EQ(storeDir(), m_store);
    create("A1");
    TokenOptions options;
    options.serial = "B2";
    options.label = "Second";
    options.capacityBytes = 64 * 1024;
    createToken(options);

    const auto tokens = listTokens();
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].serial, "A1");
    EXPECT_EQ(tokens[0].label, "Velkora Z Idi");
    EXPECT_EQ(tokens[0].deviceName, "");
    EXPECT_EQ(tokens[0].capacityBytes, 256u * 1024);
    EXPECT_EQ(tokens[0].freeBytes, 256u * 1024);
    EXPECT_EQ(tokens[1].label, "Second");
    EXPECT_EQ(tokens[1].capacityBytes, 64u * 1024);
    EXPECT_THROW(create("A1"), std::runtime_error);
}

TEST_F(StoreCommands, insertAndRemove_writeAndDeleteThePresenceFile)
{
    create("C3");
    insertToken("C3", defaultDeviceName("C3"));
    EXPECT_EQ(listTokens()[0].deviceName, "VK-C3");
    EXPECT_TRUE(exists(m_store + "/present/VK-C3"));
    EXPECT_THROW(insertToken("C3", "Other"), std::runtime_error) << "already plugged in";
    create("D4");
    EXPECT_THROW(insertToken("D4", "VK-C3"), std::runtime_error) << "the name is taken";
    EXPECT_THROW(insertToken("E5", "VK-E5"), std::runtime_error) << "no such token";

    removeToken("C3"); // by serial
    EXPECT_FALSE(exists(m_store + "/present/VK-C3"));
    insertToken("C3", "Named");
    removeToken("Named"); // by device name
    EXPECT_EQ(listTokens()[0].deviceName, "");
    EXPECT_THROW(removeToken("C3"), std::runtime_error);
}

TEST_F(StoreCommands, deleteToken_removesItsDatabaseAndPresence)
{
    create("F6");
    insertToken("F6", "VK-F6");
    deleteToken("F6");
    EXPECT_TRUE(listTokens().empty());
    EXPECT_FALSE(exists(m_store + "/present/VK-F6"));
    EXPECT_FALSE(exists(m_store + "/tokens/F6.db"));
    EXPECT_THROW(deleteToken("F6"), std::runtime_error);
}

TEST_F(StoreCommands, namesThatCouldEscapeTheStore_areRefused)
{
    const std::vector<std::string> serials{"", ".", "..", "a/b", "../x", std::string(64, 's'), "tab\there"};
    for (const std::string& serial : serials) {
        TokenOptions options;
        options.serial = serial;
        EXPECT_THROW(createToken(options), std::runtime_error) << serial;
    }
    create("G7");
    EXPECT_THROW(insertToken("G7", "../escape"), std::runtime_error);
    EXPECT_THROW(insertToken("G7", ".."), std::runtime_error);
    EXPECT_THROW(deleteToken("../G7"), std::runtime_error);
    EXPECT_FALSE(exists(m_root + "/escape"));
}

TEST_F(StoreCommands, badOptions_areRefusedWithASentence)
{
    TokenOptions options;
    options.serial = "H8";
    options.label = std::string(33, 'l');
    EXPECT_THROW(createToken(options), std::runtime_error);
    options.label = "ok";
    options.devAuthKey = {1, 2, 3};
    EXPECT_THROW(createToken(options), std::runtime_error);
    options.devAuthKey.clear();
    options.capacityBytes = 100;
    EXPECT_THROW(createToken(options), std::runtime_error);
    EXPECT_TRUE(listTokens().empty());
}
