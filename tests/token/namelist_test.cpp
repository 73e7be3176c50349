// The driver's name lists: the size query and fill with their cap, the walk, and the cut
// at a character boundary, against scripted drivers that lie about their sizes.
#include "namelist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// A driver whose list is `bytes`; the size query answers `queried` and the fill writes at
// most the caller's buffer, then answers `filledAnswer` (or the bytes it wrote when -1).
struct ScriptedList
{
    ScriptedList(std::string listBytes, ULONG queriedSize, long filled = -1)
        : bytes(std::move(listBytes))
        , queried(queriedSize)
        , filledAnswer(filled)
    {
    }

    std::string bytes;
    ULONG queried = 0;
    long filledAnswer = -1;
    ULONG queryResult = SAR_OK;
    ULONG fillResult = SAR_OK;
    std::vector<ULONG> offered; // buffer sizes of the fill calls

    ULONG operator()(LPSTR buffer, ULONG* size)
    {
        if (buffer == nullptr) {
            *size = queried;
            return queryResult;
        }
        offered.push_back(*size);
        const std::size_t written = std::min<std::size_t>(*size, bytes.size());
        std::memcpy(buffer, bytes.data(), written);
        *size = filledAnswer >= 0 ? static_cast<ULONG>(filledAnswer) : static_cast<ULONG>(written);
        return fillResult;
    }
};

ULONG readFrom(ScriptedList& driver, Names& names)
{
    return namelist::read([&driver](LPSTR buffer, ULONG* size) { return driver(buffer, size); }, names);
}

} // namespace

TEST(NameListSplit, walksToTheClosingEmptyName_orToTheBuffersEndWithoutOne)
{
    const std::string closed("A\0BC\0\0D\0", 8);
    EXPECT_EQ(namelist::split(closed.data(), closed.size()), (Names{"A", "BC"}));
    const std::string open("A\0BCD", 5);
    EXPECT_EQ(namelist::split(open.data(), open.size()), (Names{"A", "BCD"}));
    EXPECT_EQ(namelist::split(open.data(), 3), (Names{"A", "B"}));
    EXPECT_TRUE(namelist::split("\0A", 2).empty());
}

TEST(NameListRead, aDriverWhoseSecondAnswerDiffers_isReadOnlyUpToTheSmallerAnswer)
{
    ScriptedList growing{std::string("DEV1\0DEV2\0\0", 11), 5, 4096};
    Names names;
    EXPECT_EQ(readFrom(growing, names), SAR_OK);
    EXPECT_EQ(growing.offered, (std::vector<ULONG>{5}));
    EXPECT_EQ(names, (Names{"DEV1"}));

    ScriptedList shrinking{std::string("DEV1\0DEV2\0\0", 11), 11, 3};
    EXPECT_EQ(readFrom(shrinking, names), SAR_OK);
    EXPECT_EQ(names, (Names{"DEV"}));
}

TEST(NameListRead, aSizeAboveTheCap_isRefusedWithoutAFill)
{
    for (ULONG lie : {namelist::MaxListSize + 1, 0xFFFFFFFFu}) {
        ScriptedList liar{std::string("DEV1\0\0", 6), lie};
        Names names{"earlier"};
        EXPECT_EQ(readFrom(liar, names), namelist::ListTooLarge);
        EXPECT_TRUE(names.empty());
        EXPECT_TRUE(liar.offered.empty());
    }
    ScriptedList atTheCap{std::string("DEV1\0\0", 6), namelist::MaxListSize};
    Names names;
    EXPECT_EQ(readFrom(atTheCap, names), SAR_OK);
    EXPECT_EQ(names, (Names{"DEV1"}));
}

TEST(NameListRead, failuresAndEmptyLists)
{
    Names names;
    ScriptedList queryFails{std::string("A\0\0", 3), 3};
    queryFails.queryResult = SAR_FAIL;
    EXPECT_EQ(readFrom(queryFails, names), SAR_FAIL);

    ScriptedList fillFails{std::string("A\0\0", 3), 3};
    fillFails.fillResult = SAR_DEVICE_REMOVED;
    EXPECT_EQ(readFrom(fillFails, names), SAR_DEVICE_REMOVED);
    EXPECT_TRUE(names.empty());

    // Drivers say "nothing" as size 0 or as a lone terminator; neither needs a fill.
    for (ULONG size : {0u, 1u}) {
        ScriptedList empty{std::string("\0", 1), size};
        EXPECT_EQ(readFrom(empty, names), SAR_OK);
        EXPECT_TRUE(names.empty());
        EXPECT_TRUE(empty.offered.empty());
    }
}

TEST(NameListCut, keepsWholeCharacters_andCutsNonUtf8AtTheBudget)
{
    const std::string chinese = "AB\xE4\xB8\xAD\xE6\x96\x87"; // "AB" and two 3-byte characters
    EXPECT_EQ(namelist::cut(chinese, 8), chinese);
    EXPECT_EQ(namelist::cut(chinese, 7), "AB\xE4\xB8\xAD");
    EXPECT_EQ(namelist::cut(chinese, 5), "AB\xE4\xB8\xAD");
    EXPECT_EQ(namelist::cut(chinese, 4), "AB");
    EXPECT_EQ(namelist::cut(chinese, 2), "AB");
    // Four continuation bytes in a row are no UTF-8 character: a plain byte cut.
    const std::string binary = "A\x80\x80\x80\x80\x80";
    EXPECT_EQ(namelist::cut(binary, 5), binary.substr(0, 5));
}
