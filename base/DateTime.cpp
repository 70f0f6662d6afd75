#include "base/DateTime.h"

#include "base/Str.h"

#include <string.h>

// Seconds from 1 January 1601, where FILETIME counts from, to 1 January 1970.
#define SECONDS_1601_TO_1970 11644473600ULL
#define FILETIME_TICKS_PER_SECOND 10000000ULL

CDateTime::CDateTime()
{
    memset(&m_Time, 0, sizeof(m_Time));
}

static void ReadClock(SYSTEMTIME *time, int utc)
{
    if (utc)
        GetSystemTime(time);
    else
        GetLocalTime(time);
}

void CDateTime::SetNow(const SYSTEMTIME *source, int utc)
{
    if (source)
        m_Time = *source;
    else
        ReadClock(&m_Time, utc);
}

typedef int(WINAPI *FormatFunction)(LCID, DWORD, const SYSTEMTIME *, LPCSTR, LPSTR, int);

static void FormatWith(FormatFunction format, CStr &out, DWORD flags, const SYSTEMTIME *time,
                       int utc)
{
    SYSTEMTIME now;
    if (!time)
    {
        ReadClock(&now, utc);
        time = &now;
    }
    char *buffer = out.GetBuffer();
    int capacity = static_cast<int>(out.GetCapacity());
    if (!buffer || capacity <= 0)
        return;
    // A failed call may leave a partial, unterminated text behind; an empty result keeps
    // the caller from mistaking it, or the string's former content, for the date.
    if (!format(LOCALE_USER_DEFAULT, flags, time, NULL, buffer, capacity))
        buffer[0] = 0;
    out.UpdateLength();
}

void FormatDate(CStr &out, DWORD flags, const SYSTEMTIME *time, int utc)
{
    FormatWith(GetDateFormatA, out, flags, time, utc);
}

void FormatTime(CStr &out, DWORD flags, const SYSTEMTIME *time, int utc)
{
    FormatWith(GetTimeFormatA, out, flags, time, utc);
}

void UnixTimeToFileTime(UINT32 seconds, FILETIME *out)
{
    UINT64 ticks = (seconds + SECONDS_1601_TO_1970) * FILETIME_TICKS_PER_SECOND;
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

static int ToLocalSystemTime(const FILETIME *utc, SYSTEMTIME *local)
{
    FILETIME localFileTime;
    return FileTimeToLocalFileTime(utc, &localFileTime) &&
           FileTimeToSystemTime(&localFileTime, local);
}

static void FormatFields(char *buffer, const char *format, WORD first, WORD second, WORD third)
{
    _snprintf(buffer, FILE_TIME_TEXT_BUFFER - 1, format, first, second, third);
    buffer[FILE_TIME_TEXT_BUFFER - 1] = 0;
}

void FormatFileDate(const FILETIME *utc, char *buffer)
{
    SYSTEMTIME local;
    if (ToLocalSystemTime(utc, &local))
        FormatFields(buffer, "%2u.%02u.%04u", local.wDay, local.wMonth, local.wYear);
}

void FormatFileTime(const FILETIME *utc, char *buffer)
{
    SYSTEMTIME local;
    if (ToLocalSystemTime(utc, &local))
        FormatFields(buffer, "%2u:%02u:%02u", local.wHour, local.wMinute, local.wSecond);
}
