// Pin and wipe: the bytes a PIN hands the driver, the driver's length limit, and that
// clearing, moving and wiping leave no PIN characters behind.
#include "pin.h"

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <string>
#include <utility>

namespace {

std::string bytesOf(const Pin& pin)
{
    return std::string(pin.data(), pin.size() + 1);
}

bool allZero(const void* bytes, std::size_t size)
{
    const auto* begin = static_cast<const char*>(bytes);
    return std::all_of(begin, begin + size, [](char byte) { return byte == '\0'; });
}

const QString kThreeByteChar = QString::fromUtf8("\xE4\xB8\xAD"); // 中

} // namespace

TEST(Pin, holdsTheTextsLatin1OrUtf8Bytes_zeroTerminated_andWithinTheDriversLimitUpTo31)
{
    const QString text = QString::fromUtf8("p\xC3\xA4") + kThreeByteChar;
    EXPECT_EQ(bytesOf(Pin::fromLatin1(text)), std::string("p\xE4?", 4));
    EXPECT_EQ(bytesOf(Pin::fromUtf8(text)), std::string("p\xC3\xA4\xE4\xB8\xAD", 7));
    EXPECT_STREQ(Pin().data(), "");

    EXPECT_TRUE(Pin::fromLatin1(QString(31, QLatin1Char('x'))).fitsDriver());
    EXPECT_FALSE(Pin::fromLatin1(QString(32, QLatin1Char('x'))).fitsDriver());
    // Eleven characters, but 33 bytes once in UTF-8.
    EXPECT_FALSE(Pin::fromUtf8(kThreeByteChar.repeated(11)).fitsDriver());
}

TEST(Pin, comparesLengthAndEveryByte_notAsCStrings)
{
    EXPECT_EQ(Pin("abcdefgh", 8), Pin("abcdefgh", 8));
    EXPECT_NE(Pin("abcdefgh", 8), Pin("abcdefgi", 8));
    EXPECT_NE(Pin("abcdefgh", 8), Pin("abcdefghi", 9));
    EXPECT_NE(Pin("ab\0c", 4), Pin("ab\0d", 4));
}

TEST(Pin, moving_leavesTheSourceEmptyAndZeroed_andWipesWhatTheTargetHeld)
{
    // A short PIN lives inside the object, so moving copies it out of the source, which is
    // then cleared in place.
    Pin source = Pin::fromLatin1(QStringLiteral("12345678"));
    const char* sourceBytes = source.data();
    Pin moved(std::move(source));
    EXPECT_STREQ(moved.data(), "12345678");
    ASSERT_EQ(source.data(), sourceBytes); // NOLINT(bugprone-use-after-move): the moved-from state is the subject
    EXPECT_TRUE(source.empty());
    EXPECT_TRUE(allZero(sourceBytes, 9));

    // The target's longer PIN must not show past the end of the shorter one moved in.
    Pin assigned = Pin::fromLatin1(QStringLiteral("abcdefghijklmn"));
    const char* targetBytes = assigned.data();
    assigned = std::move(moved);
    ASSERT_EQ(assigned.data(), targetBytes);
    EXPECT_EQ(std::string(targetBytes, 15), std::string("12345678\0\0\0\0\0\0\0", 15));
    EXPECT_TRUE(moved.empty()); // NOLINT(bugprone-use-after-move)

    Pin& same = assigned;
    assigned = std::move(same);
    EXPECT_STREQ(assigned.data(), "12345678");
}

TEST(WipeText, overwritesTheWholeBuffer_includingWhatEditingLeftPastTheEnd)
{
    QString text = QStringLiteral("12345678secret");
    text.detach();
    text.chop(6); // "secret" stays in the buffer past the end
    const QChar* characters = text.constData();
    const int capacity = text.capacity();
    ASSERT_GE(capacity, 14);

    wipe(text);
    EXPECT_TRUE(text.isEmpty());
    ASSERT_EQ(text.constData(), characters);
    EXPECT_TRUE(allZero(characters, static_cast<std::size_t>(capacity) * sizeof(QChar)));
}

TEST(WipeText, leavesSharedCharactersToTheirOtherHolder)
{
    const QString field = QString::fromLatin1("12345678");
    QString read = field;
    wipe(read);
    EXPECT_TRUE(read.isEmpty());
    EXPECT_EQ(field, QStringLiteral("12345678"));

    // A literal lives in read-only memory: a write there would crash.
    QString literal = QStringLiteral("12345678");
    wipe(literal);
    EXPECT_TRUE(literal.isEmpty());
}
