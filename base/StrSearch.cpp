// Comparing, searching, cutting and replacing within a text string; every character
// walk honours double-byte code pages.
#include "base/Str.h"

#include <malloc.h>
#include <mbstring.h>
#include <string.h>

static const unsigned char *Bytes(const char *text)
{
    return reinterpret_cast<const unsigned char *>(text);
}

static char *Chars(unsigned char *text)
{
    return reinterpret_cast<char *>(text);
}

static int CompareNull(const CStr &self)
{
    return self.GetLength() == 0 ? 0 : -1;
}

int CStr::Compare(const char *text) const
{
    if (!text || !m_pData)
        return CompareNull(*this);
    return _mbscmp(Bytes(m_pData), Bytes(text));
}

int CStr::CompareN(const char *text, UINT32 count) const
{
    if (!text || !m_pData)
        return CompareNull(*this);
    return _mbsnbcmp(Bytes(m_pData), Bytes(text), count);
}

int CStr::CompareNoCase(const char *text) const
{
    if (!text || !m_pData)
        return CompareNull(*this);
    return _mbsicmp(Bytes(m_pData), Bytes(text));
}

int CStr::CompareNNoCase(const char *text, UINT32 count) const
{
    if (!text || !m_pData)
        return CompareNull(*this);
    return _mbsnbicmp(Bytes(m_pData), Bytes(text), count);
}

int CStr::Find(char ch, int start) const
{
    if (!m_pData || start < 0 || static_cast<UINT32>(start) >= m_nSize)
        return -1;
    const unsigned char *hit = _mbschr(Bytes(m_pData + start), static_cast<unsigned char>(ch));
    return hit ? static_cast<int>(hit - Bytes(m_pData)) : -1;
}

int CStr::Find(char ch) const
{
    return Find(ch, 0);
}

int CStr::ReverseFind(char ch) const
{
    if (!m_pData)
        return -1;
    const unsigned char *hit = _mbsrchr(Bytes(m_pData), static_cast<unsigned char>(ch));
    return hit ? static_cast<int>(hit - Bytes(m_pData)) : -1;
}

int CStr::Find(const char *text) const
{
    char *hit = FindPtr(text);
    return hit ? static_cast<int>(hit - m_pData) : -1;
}

char *CStr::FindPtr(const char *text) const
{
    return m_pData ? FindFrom(m_pData, text, STR_CASE) : NULL;
}

int CStr::FindNoCase(const char *text) const
{
    char *hit = FindNoCasePtr(text);
    return hit ? static_cast<int>(hit - m_pData) : -1;
}

char *CStr::FindNoCasePtr(const char *text) const
{
    return m_pData ? FindFrom(m_pData, text, STR_NO_CASE) : NULL;
}

char *CStr::FindFrom(char *start, const char *text, int noCase)
{
    if (!text)
        return NULL;
    if (!noCase)
        return Chars(_mbsstr(reinterpret_cast<unsigned char *>(start), Bytes(text)));
    size_t length = strlen(text);
    for (char *at = start; *at; at = CharNextA(at))
    {
        if (_mbsnbicmp(Bytes(at), Bytes(text), length) == 0)
            return at;
    }
    return NULL;
}

static int Clamp(int value, int low, int high)
{
    return value < low ? low : (value > high ? high : value);
}

char *CStr::Truncate(int index)
{
    if (!m_pData)
        return NULL;
    m_pData[Clamp(index, 0, GetLength())] = 0;
    UpdateLength();
    return m_pData;
}

char *CStr::Mid(int index, int count)
{
    if (!m_pData)
        return NULL;
    int length = GetLength();
    index = Clamp(index, 0, length);
    count = Clamp(count, 0, length - index);
    memmove(m_pData, m_pData + index, count);
    m_pData[count] = 0;
    UpdateLength();
    return m_pData;
}

char *CStr::Mid(int index)
{
    return Mid(index, GetLength());
}

char *CStr::TrimLeft()
{
    if (!m_pData)
        return NULL;
    char *at = m_pData;
    while (*at && IsSpace(*at))
        at = CharNextA(at);
    memmove(m_pData, at, strlen(at) + 1);
    UpdateLength();
    return m_pData;
}

char *CStr::TrimRight()
{
    if (!m_pData)
        return NULL;
    char *runStart = NULL;
    for (char *at = m_pData; *at; at = CharNextA(at))
    {
        if (!IsSpace(*at))
            runStart = NULL;
        else if (!runStart)
            runStart = at;
    }
    if (runStart)
        *runStart = 0;
    UpdateLength();
    return m_pData;
}

char *CStr::Replace(const char *search, const char *replacement, int inPlace)
{
    return ReplaceAll(search, replacement, inPlace, STR_CASE);
}

char *CStr::ReplaceNoCase(const char *search, const char *replacement)
{
    return ReplaceAll(search, replacement, STR_COPY, STR_NO_CASE);
}

// Every search starts again at the beginning, so a replacement that forms a new
// occurrence with its surroundings is replaced too: two quotes by one collapses a
// whole run of quotes. A replacement that holds the search text would never run
// out of occurrences that way; it is searched for only behind what was inserted.
char *CStr::ReplaceAll(const char *search, const char *replacement, int inPlace, int noCase)
{
    if (!m_pData)
        return NULL;
    if (!search || !*search)
    {
        UpdateLength();
        return m_pData;
    }
    UINT32 s = static_cast<UINT32>(strlen(search));
    UINT32 r = replacement ? static_cast<UINT32>(strlen(replacement)) : 0;
    if (r > s)
        inPlace = 0;
    int restart = !replacement || !FindFrom(const_cast<char *>(replacement), search, noCase);
    UINT32 from = 0;

    for (char *hit; (hit = FindFrom(m_pData + from, search, noCase)) != NULL;)
    {
        UINT32 at = static_cast<UINT32>(hit - m_pData);
        UINT32 tail = static_cast<UINT32>(strlen(hit + s)) + 1;
        if (inPlace)
        {
            memcpy(hit, replacement, r);
            memmove(hit + r, hit + s, tail);
        }
        else
        {
            UINT32 capacity = m_nCapacity + r - s;
            char *fresh = static_cast<char *>(malloc(capacity));
            if (!fresh)
            {
                free(m_pData);
                m_pData = NULL;
                m_nCapacity = 0;
                m_nSize = 0;
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return NULL;
            }
            memcpy(fresh, m_pData, at);
            memcpy(fresh + at, replacement, r);
            memcpy(fresh + at + r, hit + s, tail);
            free(m_pData);
            m_pData = fresh;
            m_nCapacity = capacity;
        }
        m_nSize = at + r + tail;
        from = restart ? 0 : at + r;
    }
    UpdateLength();
    return m_pData;
}

int CStr::CutAtLast(char separator)
{
    if (!m_pData)
        return 0;
    for (;;)
    {
        int at = ReverseFind(separator);
        if (at < 0)
        {
            Truncate(0);
            return 1;
        }
        int nothingFollows = m_pData[at + 1] == 0;
        if (at == 0)
        {
            if (nothingFollows)
                return 0;
            Truncate(1);
            return 1;
        }
        int driveRoot = at == 2 && m_pData[1] == ':';
        if (nothingFollows)
        {
            if (driveRoot)
                return 0;
            Truncate(at);
            continue;
        }
        Truncate(driveRoot ? at + 1 : at);
        return 1;
    }
}

char *CStr::Tokenize(int first, const char *delimiters)
{
    if (!m_pData)
        return NULL;
    unsigned char *token = _mbstok(first == 1 ? reinterpret_cast<unsigned char *>(m_pData) : NULL,
                                   Bytes(delimiters));
    UpdateLength();
    return Chars(token);
}
