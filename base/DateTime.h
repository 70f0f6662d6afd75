// Date and time as display text: a SYSTEMTIME in the user's regional format, and the
// local date and time of a FILETIME in a fixed day-first form.
#ifndef BRENNLOW_BASE_DATETIME_H
#define BRENNLOW_BASE_DATETIME_H

#include <windows.h>

class CStr;

// Bytes that always hold the text of FormatFileDate or FormatFileTime, whatever the
// fields of the time hold.
#define FILE_TIME_TEXT_BUFFER 20

class CDateTime
{
public:
    CDateTime();

    void SetNow(const SYSTEMTIME *source, int utc);

    const SYSTEMTIME *GetTime() const { return &m_Time; }

private:
    SYSTEMTIME m_Time;
};

// Without a time these read the clock: UTC when utc is non-zero, else local time.
void FormatDate(CStr &out, DWORD flags, const SYSTEMTIME *time, int utc);
void FormatTime(CStr &out, DWORD flags, const SYSTEMTIME *time, int utc);

void UnixTimeToFileTime(UINT32 seconds, FILETIME *out);

// The buffers hold at least FILE_TIME_TEXT_BUFFER bytes; they are left untouched when
// the time cannot be converted.
void FormatFileDate(const FILETIME *utc, char *buffer);
void FormatFileTime(const FILETIME *utc, char *buffer);

#endif
