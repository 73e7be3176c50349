// skf: URIs: what parses into which attributes, what is refused and why, and the URIs the
// store writes read back as the same object.
#include "Uri.h"

#include <gtest/gtest.h>

using namespace skfprov;

TEST(SkfUri, attributesPercentEncodingAndQuery_parseIntoTheirFields)
{
    SkfUri uri;
    std::string error;
    ASSERT_TRUE(parseUri("skf:serial=VK2026000001;app=OVRIN_APP;container=SM2Container;usage=sign;type=private"
                         "?pin-value=12345678",
                         uri, error))
        << error;
    EXPECT_EQ(*uri.serial, "VK2026000001");
    EXPECT_EQ(*uri.app, "OVRIN_APP");
    EXPECT_EQ(*uri.container, "SM2Container");
    EXPECT_TRUE(*uri.sign);
    EXPECT_EQ(*uri.type, ObjectType::PrivateKey);
    EXPECT_EQ(*uri.pinValue, "12345678");
    EXPECT_FALSE(uri.pinSource);
    EXPECT_FALSE(uri.selectsEverything());

    ASSERT_TRUE(parseUri("skf:container=My%20Keys%3B%25;usage=enc;type=cert?pin-source=file:/run/pin", uri, error));
    EXPECT_EQ(*uri.container, "My Keys;%");
    EXPECT_FALSE(*uri.sign);
    EXPECT_EQ(*uri.type, ObjectType::Certificate);
    EXPECT_FALSE(uri.serial);
    EXPECT_EQ(*uri.pinSource, "file:/run/pin");

    // Nothing named: everything, as a folder lists its files. Vendor attributes are ignored.
    for (const char* all : {"skf:", "SKF:", "skf:;", "skf:x-vendor=1", "skf:?x-hint=2"}) {
        ASSERT_TRUE(parseUri(all, uri, error)) << all << ": " << error;
        EXPECT_TRUE(uri.selectsEverything()) << all;
    }
}

TEST(SkfUri, malformedUris_areRefusedNamingTheFault)
{
    const struct
    {
        const char* uri;
        const char* says;
    } rows[] = {
        {"pkcs11:token=a", "not an skf: URI"},
        {"sk", "not an skf: URI"},
        {"skf:colour=red", "unknown attribute 'colour'"},
        {"skf:usage=both", "usage is 'sign' or 'enc'"},
        {"skf:type=secret", "type is 'private', 'public' or 'cert'"},
        {"skf:app=A;app=B", "'app' appears twice"},
        {"skf:serial", "'serial' is not name=value"},
        {"skf:=x", "'=x' is not name=value"},
        {"skf:container=a%2", "bad percent-encoding"},
        {"skf:container=a%zz", "bad percent-encoding"},
        {"skf:?pin-value=1&pin-source=/p", "pin-value and pin-source both given"},
        {"skf:?pin=1", "unknown query attribute 'pin'"},
    };
    for (const auto& row : rows) {
        SkfUri uri;
        std::string error;
        EXPECT_FALSE(parseUri(row.uri, uri, error)) << row.uri;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.uri << " said: " << error;
    }
}

TEST(SkfUri, theStoresUris_readBackAsTheSameObject)
{
    const struct
    {
        const char* serial;
        const char* app;
        const char* container;
        bool sign;
        ObjectType type;
    } rows[] = {
        {"VK2026000001", "OVRIN_APP", "SM2Container", true, ObjectType::PrivateKey},
        {"S N/1", "app;x=y", "100% ?&", false, ObjectType::Certificate},
        {"\xe4\xb8\xad", "", "c", true, ObjectType::PublicKey},
    };
    for (const auto& row : rows) {
        const std::string text = formatUri(row.serial, row.app, row.container, row.sign, row.type);
        SkfUri uri;
        std::string error;
        ASSERT_TRUE(parseUri(text, uri, error)) << text << ": " << error;
        EXPECT_EQ(*uri.serial, row.serial);
        EXPECT_EQ(*uri.app, row.app);
        EXPECT_EQ(*uri.container, row.container);
        EXPECT_EQ(*uri.sign, row.sign);
        EXPECT_EQ(*uri.type, row.type);
        EXPECT_EQ(text.find(' '), std::string::npos) << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << text;
    }
}
