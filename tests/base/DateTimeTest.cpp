#include "base/DateTime.h"
#include "base/Str.h"

#include <gtest/gtest.h>

TEST(DateTimeTest, ConvertsAndFormatsOrLeavesEmptyText)
{
    for (UINT32 seconds : {0u, 0xFFFFFFFFu})
    {
        FILETIME time;
        UnixTimeToFileTime(seconds, &time);
        ULARGE_INTEGER ticks = {{time.dwLowDateTime, time.dwHighDateTime}};
        EXPECT_EQ((seconds + 11644473600ULL) * 10000000ULL, ticks.QuadPart) << seconds;
    }
    SYSTEMTIME local = {2013, 3, 0, 5, 9, 4, 7, 0};
    FILETIME localTime, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
    char date[FILE_TIME_TEXT_BUFFER], clock[FILE_TIME_TEXT_BUFFER];
    FormatFileDate(&utc, date);
    FormatFileTime(&utc, clock);
    EXPECT_STREQ(" 5.03.2013", date);
    EXPECT_STREQ(" 9:04:07", clock);

    SYSTEMTIME valid = {2013, 3, 2, 5, 9, 4, 7, 0}, invalid = {2013, 13, 0, 5, 25, 4, 7, 0};
    CStr longDate(260), small(4);
    FormatDate(longDate, DATE_LONGDATE, &valid, 0);
    // A failed call leaves neither a partial text nor the old one behind.
    small = "old";
    FormatDate(small, DATE_LONGDATE, &valid, 0);
    FormatDate(longDate, DATE_LONGDATE, &invalid, 0);
    EXPECT_STREQ("", small.GetText());
    EXPECT_STREQ("", longDate.GetText());
    EXPECT_EQ(0u, longDate.GetLength());
}
