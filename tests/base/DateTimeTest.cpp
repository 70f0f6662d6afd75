#include "base/DateTime.h"
#include "base/Str.h"

#include <gtest/gtest.h>

TEST(DateTimeTest, UnixTimeCountsFrom1601)
{
    for (UINT32 seconds : {0u, 0xFFFFFFFFu})
    {
        FILETIME time;
        UnixTimeToFileTime(seconds, &time);
        UINT64 ticks = (static_cast<UINT64>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        EXPECT_EQ((seconds + 11644473600ULL) * 10000000ULL, ticks) << seconds;
    }
}

static FILETIME UtcOfLocal(WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME local = {year, month, 0, day, hour, minute, 7, 0};
    FILETIME localTime, utc;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &utc);
    return utc;
}

TEST(DateTimeTest, FileDateAndTimePadDayAndHourWithBlanks)
{
    const struct
    {
        FILETIME time;
        const char *date;
        const char *clock;
    } cases[] = {
        {UtcOfLocal(2013, 3, 5, 9, 4), " 5.03.2013", " 9:04:07"},
        {UtcOfLocal(1999, 12, 31, 23, 59), "31.12.1999", "23:59:07"},
        {{0xFFFFFFFFu, 0xFFFFFFFFu}, "unchanged", "unchanged"}, // beyond any calendar
    };
    for (const auto &c : cases)
    {
        char date[FILE_TIME_TEXT_BUFFER] = "unchanged", clock[FILE_TIME_TEXT_BUFFER] = "unchanged";
        FormatFileDate(&c.time, date);
        FormatFileTime(&c.time, clock);
        EXPECT_STREQ(c.date, date);
        EXPECT_STREQ(c.clock, clock);
    }
}

TEST(DateTimeTest, FormatsInTheUserLocaleOrLeavesEmptyText)
{
    SYSTEMTIME valid = {2013, 3, 2, 5, 9, 4, 7, 0};
    SYSTEMTIME invalid = {2013, 13, 0, 5, 25, 4, 7, 0};
    const struct
    {
        const SYSTEMTIME *time;
        UINT32 capacity;
        const char *dateHas; // null: the text is empty
        const char *timeHas;
    } cases[] = {{&valid, 260, "2013", "04"}, {&invalid, 260, NULL, NULL}, {&valid, 4, NULL, NULL}};
    for (const auto &c : cases)
    {
        CStr date(c.capacity), clock(c.capacity);
        date = "old";
        clock = "old";
        FormatDate(date, DATE_LONGDATE, c.time, 0);
        FormatTime(clock, 0, c.time, 0);
        EXPECT_EQ(strlen(date.GetText()), date.GetLength());
        if (c.dateHas)
        {
            EXPECT_NE(nullptr, strstr(date.GetText(), c.dateHas)) << date.GetText();
            EXPECT_NE(nullptr, strstr(clock.GetText(), c.timeHas)) << clock.GetText();
        }
        else
        {
            EXPECT_STREQ("", date.GetText()) << c.capacity;
            EXPECT_STREQ("", clock.GetText()) << c.capacity;
        }
    }
}
