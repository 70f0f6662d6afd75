#include "base/Str.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Texts of the double-byte code page 932: the second byte of 0x95 0x5C is a backslash.
static const char kDbcsBackslashChar[] = "\x95\x5C";

static bool IsDbcsRun()
{
    return GetACP() == 932;
}

TEST(StrTest, GrowthPolicy)
{
    CStr text;
    EXPECT_EQ(259u, text.GetCapacity());
    ASSERT_EQ(1, text.Assign(std::string(259, 'a').c_str()));
    EXPECT_EQ(259u, text.GetCapacity());
    EXPECT_EQ(1, text.Append(nullptr));
    ASSERT_EQ(1, text.Append("bcd"));
    EXPECT_EQ(262u, text.GetLength());
    EXPECT_EQ(282u, text.GetCapacity()); // 263 needed plus 20 of slack

    CStr exact(4);
    ASSERT_EQ(1, exact.Assign("0123456789"));
    EXPECT_EQ(10u, exact.GetCapacity()); // assignment grows to the need only
    ASSERT_EQ(1, exact.Assign("ab\0cd", 5));
    EXPECT_EQ(2u, exact.GetLength());
    ASSERT_EQ(1, exact.Append(exact.GetText())); // its own text, moved by the growth
    EXPECT_STREQ("abab", exact.GetText());
}

TEST(StrTest, FormatGrowsInSteps)
{
    CStr text;
    std::string wide(300, 'x');
    ASSERT_EQ(1, Format(text, "%s", wide.c_str()));
    EXPECT_EQ(519u, text.GetCapacity());
    EXPECT_EQ(wide, text.GetText());

    ASSERT_EQ(1, Format(text, "%s|%I64u|%I64X|%I64i", "v", 18446744073709551615ULL,
                        0xABCDEF0123ULL, -5LL));
    EXPECT_STREQ("v|18446744073709551615|ABCDEF0123|-5", text.GetText());
}

TEST(StrTest, FormatGivesUpBeyondThreeMegabytes)
{
    // Growth stops at the first step past 3 MiB: 3,276,960 bytes.
    std::string huge(3276960, 'y');
    CStr text;
    EXPECT_EQ(0, Format(text, "%s", huge.c_str()));
    EXPECT_EQ(0u, text.GetLength());
    EXPECT_EQ(259u, text.GetCapacity());

    huge.resize(3276959);
    EXPECT_EQ(1, Format(text, "%s", huge.c_str()));
    EXPECT_EQ(huge.size(), text.GetLength());
}

TEST(StrTest, ReplaceCases)
{
    struct Case
    {
        const char *text;
        const char *search;
        const char *replacement;
        int inPlace;
        const char *expected;
    } cases[] = {
        {"a\"\"\"\"b", "\"\"", "\"", 1, "a\"b"},  // runs of quotes collapse
        {"a\"\"\"\"b", "\"\"", "\"", 0, "a\"b"},
        {"one two one", "one", "three", 1, "three two three"},
        {"one two one", "one", nullptr, 0, " two "},
        {"abc", "", "x", 0, "abc"},              // empty search: nothing to do
        {"abc", nullptr, "x", 0, "abc"},
        {"aXa", "a", "aa", 0, "aaXaa"},          // replacement holds the search text
        {"%%", "%", "%%", 1, "%%%%"},
        {"none here", "zz", "y", 0, "none here"},
    };
    for (const Case &c : cases)
    {
        CStr text;
        text = c.text;
        ASSERT_NE(nullptr, text.Replace(c.search, c.replacement, c.inPlace)) << c.text;
        EXPECT_STREQ(c.expected, text.GetText()) << c.text << " / " << c.search;
        EXPECT_EQ(strlen(c.expected), text.GetLength());
    }
}

TEST(StrTest, ReplaceNoCaseIgnoresCase)
{
    CStr text;
    text = "Path=%TEMP%;%temp%";
    ASSERT_NE(nullptr, text.ReplaceNoCase("%Temp%", "C:\\T"));
    EXPECT_STREQ("Path=C:\\T;C:\\T", text.GetText());
}

TEST(StrTest, CutAtLastDropsLastComponent)
{
    struct Case
    {
        const char *path;
        int result;
        const char *expected;
    } cases[] = {
        {"C:\\a\\b.bin", 1, "C:\\a"},
        {"C:\\a", 1, "C:\\"},
        {"C:\\a\\", 1, "C:\\"},
        {"C:\\", 0, "C:\\"},
        {"\\", 0, "\\"},
        {"\\x", 1, "\\"},
        {"name.bin", 1, ""},
        {"\\\\server\\share\\f.bin", 1, "\\\\server\\share"},
        {"D:\\BrennlowTest\\BrennlowTest.bin", 1, "D:\\BrennlowTest"},
    };
    for (const Case &c : cases)
    {
        CStr text;
        text = c.path;
        EXPECT_EQ(c.result, text.CutAtLast('\\')) << c.path;
        EXPECT_STREQ(c.expected, text.GetText()) << c.path;
    }
}

TEST(StrTest, MidAndTruncateClamp)
{
    struct Case
    {
        int index;
        int count; // -1: Truncate instead of Mid
        const char *expected;
    } cases[] = {
        {2, 100, "cdef"}, {0, 3, "abc"}, {-4, 2, "ab"}, {6, 5, ""}, {9, 1, ""},
        {3, -2, ""},      {-5, -1, ""},  {4, -1, "abcd"}, {99, -1, "abcdef"},
    };
    for (const Case &c : cases)
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
    EXPECT_EQ(0, text.SetSize(0));
    EXPECT_EQ(0, text.SetSize(8));
    EXPECT_EQ(1, text.SetSize(3));
    EXPECT_STREQ("ab", text.GetText());
    EXPECT_EQ(1, text.SetSize(1));
    EXPECT_STREQ("", text.GetText());
    EXPECT_EQ(0, text.Compare(nullptr)); // null equals only the empty text

    text = "abc";
    EXPECT_EQ(-1, text.Compare(nullptr));
    EXPECT_EQ(-1, text.CompareNNoCase(nullptr, 1));
    EXPECT_EQ(0, text.CompareNoCase("ABC"));
    EXPECT_EQ(0, text.GetAt(3));
    EXPECT_EQ(0, text.GetAt(-1));
    EXPECT_EQ(-1, text.Find('a', 4));
    EXPECT_EQ(1, text.Find('b', 1));
    EXPECT_EQ(1, text.SetCapacity(2));
    EXPECT_STREQ("a", text.GetText());
}

TEST(StrTest, WideConversionsRoundTrip)
{
    CStr text;
    text = L"wide";
    ASSERT_EQ(1, text.AppendWide(L" text"));
    ASSERT_EQ(1, text.AppendChar(L'!'));
    EXPECT_STREQ("wide text!", text.GetText());
    EXPECT_STREQ(L"wide text!", text.ToWide(nullptr));
    ASSERT_EQ(1, text.AssignWide(L"\x0141x", 2, 1)); // low bytes only
    EXPECT_STREQ("Ax", text.GetText());
    CBstr bstr = text.ToBstr();
    CBstr shared = bstr;
    EXPECT_STREQ(L"Ax", shared.Get());
}

TEST(StrTest, TrimsAndRawTextHelpers)
{
    CStr text;
    text = " \t a b \r\n ";
    text.TrimRight();
    EXPECT_STREQ(" \t a b", text.GetText());
    text.TrimLeft();
    EXPECT_STREQ("a b", text.GetText());

    char quoted[] = "\"C:\\Program Files\\x\"";
    Unquote(quoted);
    EXPECT_STREQ("C:\\Program Files\\x", quoted);
    char lone[] = "\"";
    Unquote(lone);
    EXPECT_STREQ("", lone);

    char lines[] = "one\r\ntwo\n  ";
    LineBreaksToBlanks(lines);
    TrimTrailingBlanks(lines);
    EXPECT_STREQ("one  two", lines);

    EXPECT_STREQ("-s 5", SkipFirstWord("\"C:\\My Tools\\b.exe\" -s 5"));
    EXPECT_STREQ("", SkipFirstWord("b.exe"));

    EXPECT_STREQ("dir\\", GetFileNamePart("C:\\dir\\"));
    EXPECT_STREQ("f.bin", GetFileNamePart("C:/a\\f.bin"));
    EXPECT_STREQ("plain", GetFileNamePart("plain"));
}

TEST(StrTest, FormatSizeBoundaries)
{
    struct Case
    {
        UINT64 value;
        int shortUnit;
        const char *expected;
    } cases[] = {
        {0, 0, "0 Byte"},
        {2048, 0, "2048 Byte"},
        {2049, 0, "2.0 kByte"},
        {2097152, 0, "2048.0 kByte"},
        {2098176, 0, "2.0 MByte"},
        {123456789, 0, "117.7 MByte"},
        {5ULL << 40, 0, "5.0 TByte"},
        {3ULL << 20, 1, "3.0 MB"},
        {100, 1, "100 Byte"},
        {3ULL << 51, 0, "6.0 PByte"},
        {0xFFFFFFFFFFFFFFFFULL, 0, "16384.0 PByte"},
    };
    for (const Case &c : cases)
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
    struct Case
    {
        size_t size;
        const char *format;
        const char *argument;
        const char *expected;
    } cases[] = {
        {16, "%s\r\n", "short", "short\r\n"},
        {8, "%s\r\n", "abcdefgh", "abcde\r\n"},
        {8, "%s", "abcdefgh", "abcdefg"},
        {8, "%s\r\n", "abcd", "abcd\r\n"},
        {2, "%s\r\n", "abc", "a"},
    };
    for (const Case &c : cases)
    {
        char buffer[32];
        memset(buffer, '#', sizeof(buffer));
        int length = FormatLine(buffer, c.size, c.format, c.argument);
        EXPECT_STREQ(c.expected, buffer) << c.size << " " << c.argument;
        EXPECT_EQ(static_cast<int>(strlen(c.expected)), length);
        EXPECT_EQ('#', buffer[c.size]) << "wrote past the buffer";
    }
}

// The remaining tests matter in a double-byte code page; tools/test.sh runs them
// again with the ANSI code page 932.
TEST(StrDbcsTest, SearchesSkipTrailBytes)
{
    if (!IsDbcsRun())
        GTEST_SKIP() << "needs code page 932";
    std::string path = std::string("C:\\") + kDbcsBackslashChar + "\\f.bin";
    CStr text;
    text = path.c_str();
    EXPECT_EQ(2, text.Find('\\'));
    EXPECT_EQ(5, text.ReverseFind('\\'));
    EXPECT_EQ(5, text.Find('\\', 3));
    EXPECT_EQ(1, text.CutAtLast('\\'));
    EXPECT_EQ(std::string("C:\\") + kDbcsBackslashChar, text.GetText());
    EXPECT_EQ(1, text.CutAtLast('\\'));
    EXPECT_STREQ("C:\\", text.GetText());

    std::string name = std::string("C:\\") + kDbcsBackslashChar;
    EXPECT_STREQ(kDbcsBackslashChar, GetFileNamePart(name.c_str()));

    text = (std::string(kDbcsBackslashChar) + "ABC").c_str();
    EXPECT_EQ(2, text.FindNoCase("abc"));

    // A cut line never ends in half a character.
    char line[6];
    EXPECT_EQ(5, FormatLine(line, sizeof(line), "a%s\r\n", kDbcsBackslashChar));
    EXPECT_EQ(4, FormatLine(line, sizeof(line), "ab%s\r\n", kDbcsBackslashChar));
    EXPECT_STREQ("ab\r\n", line);
}

TEST(StrDbcsTest, WideConversionMayNeedTwoBytesPerUnit)
{
    if (!IsDbcsRun())
        GTEST_SKIP() << "needs code page 932";
    const wchar_t kanji[] = L"\x8868\x8868\x8868"; // three double-byte characters
    CStr text(2);
    ASSERT_EQ(1, text.AssignWide(kanji, 3, 0));
    EXPECT_EQ(6u, text.GetLength());
    ASSERT_EQ(1, text.AppendWide(kanji));
    EXPECT_EQ(12u, text.GetLength());
    ASSERT_EQ(1, text.AppendChar(kanji[0]));
    EXPECT_EQ(14u, text.GetLength());
    EXPECT_STREQ(L"\x8868\x8868\x8868\x8868\x8868\x8868\x8868", text.ToWide(nullptr));
}
