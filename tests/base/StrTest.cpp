#include "base/Str.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestSupport.h"

// In the double-byte code page 932 the second byte of this character is a backslash.
static const std::string kDbcsBackslashChar = "\x95\x5C";

TEST(StrTest, GrowthPolicy)
{
    CStr text;
    ASSERT_EQ(1, text.Assign(std::string(259, 'a').c_str()));
    EXPECT_EQ(1, text.Append(nullptr));
    ASSERT_EQ(1, text.Append("bcd"));
    EXPECT_EQ(262u, text.GetLength());
    EXPECT_EQ(282u, text.GetCapacity()); // 263 needed plus 20 of slack

    CStr exact(4);
    ASSERT_EQ(1, exact.Assign("ab\0cd", 5));
    EXPECT_EQ(2u, exact.GetLength());
    ASSERT_EQ(1, exact.Append(exact.GetText())); // its own text, moved by the growth
    EXPECT_STREQ("abab", exact.GetText());
}

// The first step past 3 MiB, 3,276,960 bytes, is one too many.
TEST(StrTest, FormatGrowsInStepsAndGivesUpBeyondThreeMegabytes)
{
    CStr text;
    std::string wide(300, 'x');
    ASSERT_EQ(1, Format(text, "%s", wide.c_str()));
    EXPECT_EQ(wide, text.GetText());

    std::string huge(3276960, 'y');
    EXPECT_EQ(0, Format(text, "%s", huge.c_str()));
    EXPECT_EQ(0u, text.GetLength());
    EXPECT_EQ(259u, text.GetCapacity());
    huge.pop_back();
    EXPECT_EQ(1, Format(text, "%s", huge.c_str()));
    EXPECT_EQ(huge.size(), text.GetLength());
}

TEST(StrTest, ReplaceCases)
{
    // inPlace -1 stands for ReplaceNoCase.
    const struct { const char *text, *search, *with; int inPlace; const char *result; } cases[] = {
        {"a\"\"\"\"b", "\"\"", "\"", 1, "a\"b"}, // runs of quotes collapse
        {"one two one", "one", "three", 1, "three two three"},
        {"one two one", "one", nullptr, 0, " two "},
        {"abc", "", "x", 0, "abc"}, {"abc", nullptr, "x", 0, "abc"}, // nothing to do
        {"aXa", "a", "aa", 0, "aaXaa"}, // replacement holds the search text
        {"%%", "%", "%%", 1, "%%%%"},
        {"Path=%TEMP%;%temp%", "%Temp%", "C:\\T", -1, "Path=C:\\T;C:\\T"},
    };
    for (const auto &c : cases)
    {
        CStr text;
        text = c.text;
        ASSERT_NE(nullptr, c.inPlace < 0 ? text.ReplaceNoCase(c.search, c.with)
                                         : text.Replace(c.search, c.with, c.inPlace));
        EXPECT_STREQ(c.result, text.GetText()) << c.text << " / " << c.search;
        EXPECT_EQ(strlen(c.result), text.GetLength());
    }
}

TEST(StrTest, CutAtLastDropsLastComponent)
{
    const struct { const char *path; int result; const char *expected; } cases[] = {
        {"C:\\a\\b.bin", 1, "C:\\a"}, {"C:\\a", 1, "C:\\"}, {"C:\\a\\", 1, "C:\\"},
        {"C:\\", 0, "C:\\"}, {"\\", 0, "\\"}, {"\\x", 1, "\\"}, {"name.bin", 1, ""},
        {"\\\\server\\share\\f.bin", 1, "\\\\server\\share"},
    };
    for (const auto &c : cases)
    {
        CStr text;
        text = c.path;
        EXPECT_EQ(c.result, text.CutAtLast('\\')) << c.path;
        EXPECT_STREQ(c.expected, text.GetText()) << c.path;
    }
}

TEST(StrTest, MidAndTruncateClamp)
{
    // count -1 stands for Truncate instead of Mid.
    const struct { int index, count; const char *expected; } cases[] = {
        {2, 100, "cdef"}, {0, 3, "abc"}, {-4, 2, "ab"}, {6, 5, ""}, {9, 1, ""},
        {3, -2, ""}, {-5, -1, ""}, {4, -1, "abcd"}, {99, -1, "abcdef"},
    };
    for (const auto &c : cases)
    {
        CStr text;
        text = "abcdef";
        if (c.count == -1)
            text.Truncate(c.index);
        else
            text.Mid(c.index, c.count);
        EXPECT_STREQ(c.expected, text.GetText()) << c.index << "," << c.count;
        EXPECT_EQ(strlen(c.expected), text.GetLength());
    }
}

TEST(StrTest, SizeAccessAndComparisonBounds)
{
    CStr text(8);
    text = "abc";
    EXPECT_EQ(0, text.SetSize(0) + text.SetSize(8));
    EXPECT_EQ(1, text.SetSize(3));
    EXPECT_STREQ("ab", text.GetText());
    EXPECT_EQ(1, text.SetSize(1));
    EXPECT_STREQ("", text.GetText());
    EXPECT_EQ(0, text.Compare(nullptr)); // null equals only the empty text
    text = "abc";
    EXPECT_EQ(-1, text.Compare(nullptr));
    EXPECT_EQ(-1, text.CompareNNoCase(nullptr, 1));
    EXPECT_EQ(0, text.GetAt(3) | text.GetAt(-1));
    EXPECT_EQ(-1, text.Find('a', 4));
    EXPECT_EQ(1, text.SetCapacity(2));
    EXPECT_STREQ("a", text.GetText());
}

// The other conversions are tried under code page 932 below and by the line reader;
// trimming, unquoting and line breaks through the option parser and ErrorText.
TEST(StrTest, LowByteConversionSharedBstrAndWordHelpers)
{
    CStr text;
    ASSERT_EQ(1, text.AssignWide(L"\x0141x", 2, 1));
    EXPECT_STREQ("Ax", text.GetText());
    CBstr bstr = text.ToBstr(), shared = bstr;
    EXPECT_STREQ(L"Ax", shared.Get());
    EXPECT_STREQ("-s 5", SkipFirstWord("\"C:\\My Tools\\b.exe\" -s 5"));
    EXPECT_STREQ("", SkipFirstWord("b.exe"));
    EXPECT_STREQ("dir\\", GetFileNamePart("C:\\dir\\"));
    EXPECT_STREQ("f.bin", GetFileNamePart("C:/a\\f.bin"));
}

TEST(StrTest, FormatSizeBoundaries)
{
    const struct { UINT64 value; int shortUnit; const char *expected; } cases[] = {
        {0, 0, "0 Byte"}, {2048, 0, "2048 Byte"}, {2049, 0, "2.0 kByte"},
        {2097152, 0, "2048.0 kByte"}, {2098176, 0, "2.0 MByte"}, {5ULL << 40, 0, "5.0 TByte"},
        {3ULL << 20, 1, "3.0 MB"}, {100, 1, "100 Byte"}, {3ULL << 51, 0, "6.0 PByte"},
        {0xFFFFFFFFFFFFFFFFULL, 0, "16384.0 PByte"},
    };
    for (const auto &c : cases)
    {
        char buffer[FORMAT_SIZE_BUFFER];
        FormatSize(c.value, buffer, c.shortUnit);
        EXPECT_STREQ(c.expected, buffer) << c.value;
    }
}

TEST(StrTest, ErrorTextOnOneLine)
{
    char *text = ErrorText(ERROR_FILE_NOT_FOUND, nullptr);
    ASSERT_EQ(GetSharedErrorText(), text);
    ASSERT_GT(strlen(text), 0u);
    EXPECT_EQ(nullptr, strpbrk(text, "\r\n"));
    EXPECT_NE(' ', text[strlen(text) - 1]);

    char own[ERROR_TEXT_MAX] = "untouched";
    EXPECT_EQ(nullptr, ErrorText(0x2000ABCD, own));
    EXPECT_STREQ("untouched", own);
}

TEST(StrTest, FormatLineCutsButKeepsTheLineBreak)
{
    const struct { size_t size; const char *format, *argument, *expected; } cases[] = {
        {16, "%s\r\n", "short", "short\r\n"}, {8, "%s\r\n", "abcdefgh", "abcde\r\n"},
        {8, "%s", "abcdefgh", "abcdefg"}, {8, "%s\r\n", "abcd", "abcd\r\n"},
        {2, "%s\r\n", "abc", "a"},
    };
    for (const auto &c : cases)
    {
        char buffer[32];
        memset(buffer, '#', sizeof(buffer));
        int length = FormatLine(buffer, c.size, c.format, c.argument);
        EXPECT_STREQ(c.expected, buffer) << c.size << " " << c.argument;
        EXPECT_EQ(static_cast<int>(strlen(c.expected)), length);
        EXPECT_EQ('#', buffer[c.size]) << "wrote past the buffer";
    }
}

// Run again under the ANSI code page 932, where a walk byte by byte would take the trail
// byte 0x5C for a backslash.
TEST(StrDbcsTest, WalksSkipTrailBytes)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932";
    ExpectOwnPrefix("Its locale");
    CStr text;
    text = ("C:\\" + kDbcsBackslashChar + "\\f.bin").c_str();
    EXPECT_EQ(2, text.Find('\\'));
    EXPECT_EQ(5, text.ReverseFind('\\'));
    EXPECT_EQ(5, text.Find('\\', 3));
    EXPECT_EQ(1, text.CutAtLast('\\'));
    EXPECT_EQ("C:\\" + kDbcsBackslashChar, text.GetText());
    EXPECT_STREQ(kDbcsBackslashChar.c_str(), GetFileNamePart(text.GetText()));

    // A match never starts on a trail byte.
    text = (kDbcsBackslashChar + "ABC").c_str();
    EXPECT_EQ(2, text.FindNoCase("abc"));
    EXPECT_EQ(-1, text.FindNoCase("\\abc"));

    // A cut line never ends in half a character, whose lead byte would swallow the break.
    char line[6];
    EXPECT_EQ(4, FormatLine(line, sizeof(line), "%s", "ab\x81\x40\x81\x40"));
    EXPECT_STREQ("ab\x81\x40", line);
    EXPECT_EQ(5, FormatLine(line, sizeof(line), "a%s\r\n", kDbcsBackslashChar.c_str()));
    EXPECT_EQ(4, FormatLine(line, sizeof(line), "ab%s\r\n", kDbcsBackslashChar.c_str()));
    EXPECT_STREQ("ab\r\n", line);

    // Conversions may need two bytes per unit.
    const wchar_t kanji[] = L"\x8868\x8868\x8868";
    CStr small(2);
    ASSERT_EQ(1, small.AssignWide(kanji, 3, 0));
    ASSERT_EQ(1, small.AppendWide(kanji));
    ASSERT_EQ(1, small.AppendChar(kanji[0]));
    EXPECT_EQ(14u, small.GetLength());
    EXPECT_STREQ(L"\x8868\x8868\x8868\x8868\x8868\x8868\x8868", small.ToWide(nullptr));
}
