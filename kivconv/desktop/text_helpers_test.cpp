#include "desktop_test.h"
#include <climits>
#include <vector>

namespace {

std::string Cut(const std::string& text, int length, int fill)
{
    return TakeBytes(Desktop().cutstr(text.c_str(), length, fill));
}

// The text split into whole characters (one or two bytes each).
std::vector<std::string> Characters(const std::string& text)
{
    std::vector<std::string> chars;
    for (size_t i = 0; i < text.size();) {
        size_t n = IsDBCSLeadByteEx(932, static_cast<BYTE>(text[i])) ? 2 : 1;
        chars.push_back(text.substr(i, n));
        i += n;
    }
    return chars;
}

// What a cut to length bytes must give: the whole characters that fit, then
// the fill byte up to length (none when the fill is 0).
std::string Expected(const std::string& text, int length, char fill)
{
    std::string out;
    for (const std::string& c : Characters(text)) {
        if (out.size() + c.size() > static_cast<size_t>(length))
            break;
        out += c;
    }
    if (fill != 0)
        out.append(length - out.size(), fill);
    return out;
}

class CutStr : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, Desktop().cutstr); }
};

TEST_F(CutStr, ExamplesOfTheApplication)
{
    EXPECT_EQ("abcd", Cut("abcdef", 4, '*'));
    EXPECT_EQ("ab**", Cut("ab", 4, '*'));
    EXPECT_EQ(Sjis(L"日本") + "*", Cut(Sjis(L"日本語"), 5, '*'));
    EXPECT_EQ("", Cut("abc", 0, '*'));
}

TEST_F(CutStr, EveryCutPositionOfSingleDoubleAndMixedTexts)
{
    // Half-width katakana are single bytes in the lead-byte gap; ソ and 表
    // have a backslash as their second byte.
    const std::string texts[] = {
        "abcdef", Sjis(L"日本語"), Sjis(L"aｱ漢b字ｶ"), Sjis(L"ソ表x能"), "",
    };
    for (const std::string& text : texts) {
        for (int length = 0; length <= static_cast<int>(text.size()) + 3; length++) {
            for (char fill : {'*', ' ', '\0'})
                EXPECT_EQ(Expected(text, length, fill), Cut(text, length, fill))
                    << "text " << ::testing::PrintToString(text) << " length " << length << " fill "
                    << int(fill);
        }
    }
}

TEST_F(CutStr, OnlyTheLowByteOfTheFillCounts)
{
    EXPECT_EQ("ab--", Cut("ab", 4, 0x12D));
    EXPECT_EQ("ab", Cut("ab", 4, 0x100));
}

TEST_F(CutStr, NegativeLengthOrNoRoomGivesAnEmptyResult)
{
    EXPECT_EQ("", Cut("abc", -1, '*'));
    EXPECT_EQ("", Cut("abc", INT_MIN, '*'));
#ifndef _WIN64
    // No 32-bit process has two gigabytes in one piece to spare.
    EXPECT_EQ("", Cut("abc", INT_MAX, '*'));
#else
    // A 64-bit one has, but no BSTR holds that many bytes: the result is
    // still a string, an empty one.
    BSTR result = Desktop().cutstr("abc", INT_MAX, '*');
    EXPECT_NE(nullptr, result);
    EXPECT_EQ("", TakeBytes(result));
#endif
}

class FileRename : public ::testing::Test {
protected:
    TempFolder dir;
    void SetUp() override { ASSERT_NE(nullptr, Desktop().filerename); }
};

TEST_F(FileRename, MovesAFileIntoAnotherFolderUnderItsNewName)
{
    CreateDirectoryA(dir.File("a").c_str(), nullptr);
    CreateDirectoryA(dir.File("b").c_str(), nullptr);
    std::string from = dir.File("a\\old.csv"), to = dir.File("b\\new.csv");
    WriteFileBytes(from, "1,2,3\r\n");
    EXPECT_EQ(0, Desktop().filerename(from.c_str(), to.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(from.c_str()));
    EXPECT_EQ("1,2,3\r\n", ReadFileBytes(to));
}

TEST_F(FileRename, RenamesWithinAFolderWithJapaneseNames)
{
    std::string from = dir.File(Sjis(L"住所録.csv").c_str());
    std::string to = dir.File(Sjis(L"住所録ソ.csv").c_str());
    WriteFileBytes(from, "x");
    EXPECT_EQ(0, Desktop().filerename(from.c_str(), to.c_str()));
    EXPECT_EQ("x", ReadFileBytes(to));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(from.c_str()));
}

TEST_F(FileRename, RefusesAnExistingNewNameAndLeavesBothFiles)
{
    std::string from = dir.File("old.csv"), to = dir.File("new.csv");
    WriteFileBytes(from, "old");
    WriteFileBytes(to, "new");
    EXPECT_EQ(-1, Desktop().filerename(from.c_str(), to.c_str()));
    EXPECT_EQ("old", ReadFileBytes(from));
    EXPECT_EQ("new", ReadFileBytes(to));
}

TEST_F(FileRename, MissingFileOrFolderFails)
{
    std::string to = dir.File("new.csv");
    EXPECT_EQ(-1, Desktop().filerename(dir.File("none.csv").c_str(), to.c_str()));
    std::string from = dir.File("old.csv");
    WriteFileBytes(from, "old");
    EXPECT_EQ(-1, Desktop().filerename(from.c_str(), dir.File("nofolder\\new.csv").c_str()));
    EXPECT_EQ("old", ReadFileBytes(from));
}

}
