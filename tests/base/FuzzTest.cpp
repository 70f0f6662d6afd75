#include "base/CmdLine.h"

#include "fuzz/Fuzz.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

int ParseWithDriverOptions(CCmdLine &options, const std::string &command)
{
    options.AddText("d", OPT_TEXT, "C:\\", "Drive for testing");
    options.AddNumber("s", OPT_DEC, 1000, "File size in MB");
    options.AddNumber("l", OPT_DEC, 1, "Create log file");
    CStr text;
    text = command.c_str();
    return options.ParseText(text);
}

int CountWords(CCmdLine &options)
{
    int words = 0;
    for (CListItem *item = options.GetFirst(); item; item = options.GetNext(item))
        words += static_cast<COptNamed *>(item)->m_nKind == OPT_WORD;
    return words;
}
} // namespace

// The named suites also run under a double-byte code page (CmdLine*).
TEST(CmdLineFuzzSlice, CommandTexts)
{
    EXPECT_EQ("", RunFuzzSlice(*NewCmdTextTarget(), 20261207, 400));
}

TEST(CmdLineFuzzSlice, CommandFiles)
{
    EXPECT_EQ("", RunFuzzSlice(*NewCmdFileTarget(), 20261207, 200));
}

TEST(CmdLineFuzzFinding, CommandFileBytesReachTheOptionsUnchanged)
{
    // A NUL byte used to toggle quoting and so join the lines behind it, and bytes with
    // no Latin-1 meaning in the ANSI code page used to turn into "?".
    CTempFolder folder;
    const std::string drive = "C:\\\x80\x9F\xE9x";
    ASSERT_TRUE(WriteWholeFile(folder.File("opts"), std::string("\0-s 5\n-l 6\n-d ", 13) +
                                                         drive + "\r\n"));
    CCmdLine options;
    EXPECT_EQ(1, ParseWithDriverOptions(options, "@" + Quoted(folder.File("opts"))));
    EXPECT_EQ(5, options.GetNumber("s"));
    EXPECT_EQ(6, options.GetNumber("l"));
    EXPECT_STREQ(drive.c_str(), options.GetText("d"));
}

TEST(CmdLineFuzzFinding, AFileNamingItselfTwiceIsReadABoundedNumberOfTimes)
{
    // The nesting depth alone let it be read 2^17 times; each reading adds one free word.
    CTempFolder folder;
    std::string self = "@" + Quoted(folder.File("self"));
    ASSERT_TRUE(WriteWholeFile(folder.File("self"), "w " + self + " " + self + "\n"));
    CCmdLine options;
    EXPECT_EQ(0, ParseWithDriverOptions(options, self + " -s 7"));
    EXPECT_EQ(CMDLINE_MAX_FILES, CountWords(options));
    EXPECT_EQ(7, options.GetNumber("s"));
}

TEST(CmdLineFuzzFinding, ALongRunOfQuotesCollapsesQuickly)
{
    // Collapsing pair after pair took 19 s for these 200,000 quotes.
    CCmdLine options;
    DWORD start = GetTickCount();
    EXPECT_EQ(1, ParseWithDriverOptions(options, "-d x" + std::string(200000, '"') + "y -s 3"));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_STREQ("x\"y", options.GetText("d"));
    EXPECT_EQ(3, options.GetNumber("s"));
}

TEST(StrFuzzFinding, ACutLineEndsOnACharacterBoundary)
{
    // The cut kept the lead byte of a double-byte character whose trail byte it dropped;
    // in a thread line that byte then swallowed the line break.
    char line[6];
    int length = FormatLine(line, sizeof(line), "%s", "ab\x81\x40\x81\x40");
    std::string expected = IsDBCSLeadByte(0x81) ? "ab\x81\x40" : "ab\x81\x40\x81";
    EXPECT_EQ(expected, line);
    EXPECT_EQ(static_cast<int>(expected.size()), length);
}
