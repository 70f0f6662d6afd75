#include "base/Str.h"

#include <malloc.h>
#include <mbstring.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

// A format that needs this much room is given up rather than grown further.
#define FORMAT_CAPACITY_LIMIT 3145728u

static const unsigned char *Bytes(const char *text)
{
    return reinterpret_cast<const unsigned char *>(text);
}

static char *Chars(unsigned char *text)
{
    return reinterpret_cast<char *>(text);
}

CStr::CStr() : m_pData(NULL), m_pWide(NULL), m_nCapacity(0), m_nSize(0)
{
    Reset(STR_DEFAULT_CAPACITY);
}

CStr::CStr(UINT32 capacity) : m_pData(NULL), m_pWide(NULL), m_nCapacity(0), m_nSize(0)
{
    Reset(capacity);
}

CStr::~CStr()
{
    free(m_pData);
    free(m_pWide);
}

int CStr::SetCapacity(UINT32 bytes)
{
    if (bytes == 0)
        bytes = 1;
    char *grown = static_cast<char *>(realloc(m_pData, bytes));
    if (!grown)
    {
        free(m_pData);
        m_pData = NULL;
        m_nCapacity = 0;
        m_nSize = 0;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!m_pData)
    {
        grown[0] = 0;
        m_nSize = 1;
    }
    m_pData = grown;
    m_nCapacity = bytes;
    if (m_nSize > bytes)
    {
        m_pData[bytes - 1] = 0;
        m_nSize = bytes;
    }
    return 1;
}

void CStr::Reset(UINT32 bytes)
{
    if (SetCapacity(bytes))
    {
        m_pData[0] = 0;
        m_nSize = 1;
    }
}

char *CStr::GetBuffer(char *copyTarget)
{
    if (copyTarget && m_pData)
        memcpy(copyTarget, m_pData, m_nSize);
    return m_pData;
}

void CStr::UpdateLength()
{
    if (m_pData)
        m_nSize = static_cast<UINT32>(strlen(m_pData)) + 1;
}

UINT32 CStr::GetLength() const
{
    return m_nSize ? m_nSize - 1 : 0;
}

UINT32 CStr::GetCapacity() const
{
    return m_nCapacity ? m_nCapacity - 1 : 0;
}

int CStr::SetSize(UINT32 size)
{
    if (size < 1 || size >= m_nCapacity)
        return 0;
    m_nSize = size;
    m_pData[size - 1] = 0;
    return 1;
}

char CStr::GetAt(int index) const
{
    if (!m_pData || index < 0 || static_cast<UINT32>(index) > GetLength())
        return 0;
    return m_pData[index];
}

int CStr::Assign(const char *text)
{
    if (!text)
        text = "";
    return Assign(text, static_cast<UINT32>(strlen(text)));
}

int CStr::Assign(const char *text, UINT32 count)
{
    if (count + 1 > m_nCapacity && !SetCapacity(count + 1))
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    // The source may lie inside our own buffer.
    memmove(m_pData, text, count);
    m_pData[count] = 0;
    UpdateLength();
    return 1;
}

CStr &CStr::operator=(const char *text)
{
    Assign(text);
    return *this;
}

CStr &CStr::operator=(const wchar_t *text)
{
    AssignWide(text);
    return *this;
}

CStr &CStr::operator=(const CStr &other)
{
    if (!other.m_pData)
        Reset(STR_DEFAULT_CAPACITY);
    else if (&other != this)
        Assign(other.m_pData);
    return *this;
}

int CStr::AssignWide(const wchar_t *text)
{
    return AssignWide(text, text ? static_cast<UINT32>(wcslen(text)) : 0, 0);
}

int CStr::AssignWide(const wchar_t *text, UINT32 count, int lowByteOnly)
{
    if (!text || count == 0)
        return Assign("");
    UINT32 needed = count + 1;
    if (!lowByteOnly)
    {
        // A double-byte code page may need two bytes for one unit.
        int bytes = WideCharToMultiByte(CP_ACP, 0, text, count, NULL, 0, NULL, NULL);
        if (bytes <= 0)
        {
            Reset(STR_DEFAULT_CAPACITY);
            return 0;
        }
        needed = static_cast<UINT32>(bytes) + 1;
    }
    if (needed > m_nCapacity && !SetCapacity(needed))
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    if (lowByteOnly)
    {
        for (UINT32 i = 0; i < count; i++)
            m_pData[i] = static_cast<char>(text[i] & 0xFF);
        m_pData[count] = 0;
    }
    else
    {
        int written = WideCharToMultiByte(CP_ACP, 0, text, count, m_pData, m_nCapacity - 1,
                                          NULL, NULL);
        if (written <= 0)
        {
            Reset(STR_DEFAULT_CAPACITY);
            return 0;
        }
        m_pData[written] = 0;
    }
    UpdateLength();
    return 1;
}

int CStr::Append(const char *text)
{
    if (!text)
        return 1;
    if (!m_pData)
        Reset(STR_DEFAULT_CAPACITY);
    if (!m_pData)
        return 0;
    UINT32 length = static_cast<UINT32>(strlen(text));
    UINT32 need = length + m_nSize;
    if (need > m_nCapacity)
    {
        // The text may lie inside our own buffer, which the growth can move.
        INT_PTR offset = text - m_pData;
        int inside = offset >= 0 && static_cast<UINT32>(offset) < m_nCapacity;
        if (!SetCapacity(need + 20))
        {
            Reset(STR_DEFAULT_CAPACITY);
            return 0;
        }
        if (inside)
            text = m_pData + offset;
    }
    memmove(m_pData + m_nSize - 1, text, length + 1);
    m_nSize = need;
    return 1;
}

int CStr::Append(const CStr &other)
{
    return Append(other.m_pData);
}

CStr &CStr::operator+=(const char *text)
{
    Append(text);
    return *this;
}

int CStr::AppendWide(const wchar_t *text)
{
    if (!text)
        return 1;
    return AppendConverted(text, -1);
}

int CStr::AppendChar(wchar_t unit)
{
    wchar_t text[2] = {unit, 0};
    return AppendConverted(text, unit ? 1 : 0);
}

// Converts units of UTF-16 (-1: up to the terminator) behind the current text.
int CStr::AppendConverted(const wchar_t *text, int units)
{
    if (!m_pData)
        Reset(STR_DEFAULT_CAPACITY);
    int bytes = units == 0 ? 0 : WideCharToMultiByte(CP_ACP, 0, text, units, NULL, 0, NULL, NULL);
    if (units < 0 && bytes > 0)
        bytes--; // the terminator is counted when converting to it
    if (!m_pData || bytes < 0 || (units != 0 && bytes == 0 && text[0]))
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    UINT32 need = static_cast<UINT32>(bytes) + m_nSize;
    if (need > m_nCapacity && !SetCapacity(need + 20))
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    if (bytes > 0 &&
        WideCharToMultiByte(CP_ACP, 0, text, units < 0 ? -1 : units, m_pData + m_nSize - 1,
                            m_nCapacity - m_nSize + 1, NULL, NULL) <= 0)
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    m_nSize = need;
    m_pData[m_nSize - 1] = 0;
    return 1;
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
    return m_pData ? FindFrom(m_pData, text, 0) : NULL;
}

int CStr::FindNoCase(const char *text) const
{
    char *hit = FindNoCasePtr(text);
    return hit ? static_cast<int>(hit - m_pData) : -1;
}

char *CStr::FindNoCasePtr(const char *text) const
{
    return m_pData ? FindFrom(m_pData, text, 1) : NULL;
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
    return ReplaceAll(search, replacement, inPlace, 0);
}

char *CStr::ReplaceNoCase(const char *search, const char *replacement)
{
    return ReplaceAll(search, replacement, 0, 1);
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

// Chooses the next capacity for a format that did not fit; 0 when it is given up.
int CStr::GrowForFormat()
{
    if (m_nCapacity >= FORMAT_CAPACITY_LIMIT)
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    UINT32 step = 260;
    if (m_nCapacity > 409600)
        step = 409600;
    else if (m_nCapacity > 102400)
        step = 102400;
    else if (m_nCapacity > 10240)
        step = 10240;
    if (!SetCapacity(m_nCapacity + step))
    {
        Reset(STR_DEFAULT_CAPACITY);
        return 0;
    }
    memset(m_pData, 0, m_nCapacity);
    return 1;
}

int CStr::FormatV(const char *format, va_list args)
{
    if (!m_pData)
        Reset(STR_DEFAULT_CAPACITY);
    while (m_pData)
    {
        va_list attempt;
        va_copy(attempt, args);
        int written = _vsnprintf(m_pData, m_nCapacity - 1, format, attempt);
        va_end(attempt);
        if (written >= 0)
        {
            m_pData[written] = 0;
            UpdateLength();
            return 1;
        }
        if (!GrowForFormat())
            return 0;
    }
    return 0;
}

int Format(CStr &target, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = target.FormatV(format, args);
    va_end(args);
    return result;
}

// The end of the last whole character that fits in the first limit bytes of text.
static size_t CharacterBoundary(const char *text, size_t limit)
{
    const char *end = text;
    while (*end)
    {
        const char *next = CharNextA(end);
        // A lead byte right in front of the terminator lost its trail byte to the cut.
        if (next == end || static_cast<size_t>(next - text) > limit ||
            (IsDBCSLeadByte(static_cast<BYTE>(*end)) && !end[1]))
            break;
        end = next;
    }
    return end - text;
}

int FormatLineV(char *buffer, size_t size, const char *format, va_list args)
{
    if (!buffer || !size)
        return 0;
    int written = _vsnprintf(buffer, size - 1, format, args);
    if (written >= 0)
    {
        buffer[written] = 0;
        return written;
    }
    // Did not fit: _vsnprintf filled size - 1 bytes and left them unterminated.
    buffer[size - 1] = 0;
    size_t formatLength = strlen(format);
    int keepBreak = size >= 3 && formatLength >= 2 && !strcmp(format + formatLength - 2, "\r\n");
    size_t cut = CharacterBoundary(buffer, size - 1 - (keepBreak ? 2 : 0));
    if (keepBreak)
    {
        buffer[cut++] = '\r';
        buffer[cut++] = '\n';
    }
    buffer[cut] = 0;
    return static_cast<int>(cut);
}

int FormatLine(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int written = FormatLineV(buffer, size, format, args);
    va_end(args);
    return written;
}

wchar_t *CStr::ToWide(wchar_t *target)
{
    if (!m_pData)
        return NULL;
    if (target)
        return MultiByteToWideChar(CP_ACP, 0, m_pData, -1, target, m_nSize) ? target : NULL;
    free(m_pWide);
    m_pWide = static_cast<wchar_t *>(malloc(m_nSize * sizeof(wchar_t)));
    if (m_pWide && !MultiByteToWideChar(CP_ACP, 0, m_pData, -1, m_pWide, m_nSize))
    {
        free(m_pWide);
        m_pWide = NULL;
    }
    return m_pWide;
}

CBstr CStr::ToBstr() const
{
    BSTR text = NULL;
    int units = m_pData ? MultiByteToWideChar(CP_ACP, 0, m_pData, -1, NULL, 0) : 0;
    if (units > 0)
    {
        text = SysAllocStringLen(NULL, units - 1);
        if (text && !MultiByteToWideChar(CP_ACP, 0, m_pData, -1, text, units))
            text[0] = 0;
    }
    if (!text)
        text = SysAllocString(L"");
    return CBstr(text);
}

CBstr::CBstr(BSTR owned) : m_pShared(static_cast<Shared *>(malloc(sizeof(Shared))))
{
    if (m_pShared)
    {
        m_pShared->refs = 1;
        m_pShared->text = owned;
    }
    else
        SysFreeString(owned);
}

CBstr::CBstr(const CBstr &other) : m_pShared(other.m_pShared)
{
    if (m_pShared)
        InterlockedIncrement(&m_pShared->refs);
}

CBstr::~CBstr()
{
    Release();
}

CBstr &CBstr::operator=(const CBstr &other)
{
    if (other.m_pShared)
        InterlockedIncrement(&other.m_pShared->refs);
    Release();
    m_pShared = other.m_pShared;
    return *this;
}

void CBstr::Release()
{
    if (m_pShared && InterlockedDecrement(&m_pShared->refs) == 0)
    {
        SysFreeString(m_pShared->text);
        free(m_pShared);
    }
    m_pShared = NULL;
}

BSTR CBstr::Get() const
{
    return m_pShared ? m_pShared->text : NULL;
}

UINT32 CBstr::GetLength() const
{
    return SysStringLen(Get());
}

int IsSpace(char ch)
{
    WORD type = 0;
    if (!GetStringTypeExA(GetThreadLocale(), CT_CTYPE1, &ch, 1, &type))
        return 0;
    return (type & C1_SPACE) != 0;
}

void TrimTrailingBlanks(char *text)
{
    size_t length = strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        text[--length] = 0;
}

void LineBreaksToBlanks(char *text)
{
    for (; *text; text = CharNextA(text))
    {
        if (*text == '\r' || *text == '\n')
            *text = ' ';
    }
}

void Unquote(char *text)
{
    if (text[0] != '"')
        return;
    memmove(text, text + 1, strlen(text));
    char *last = NULL;
    for (char *at = text; *at; at = CharNextA(at))
        last = at;
    if (last)
        *last = 0;
}

int ToWideBuffer(const char *text, wchar_t *target, int units)
{
    return MultiByteToWideChar(CP_ACP, 0, text, -1, target, units) != 0;
}

const char *SkipFirstWord(const char *text)
{
    int quoted = 0;
    for (; *text; text = CharNextA(text))
    {
        if (*text == '"')
            quoted = !quoted;
        else if (*text == ' ' && !quoted)
            return text + 1;
    }
    return text;
}

const char *GetFileNamePart(const char *path)
{
    const char *part = path;
    for (const char *at = path; *at; at = CharNextA(at))
    {
        if ((*at == '\\' || *at == '/') && at[1])
            part = at + 1;
    }
    return part;
}

void FormatSize(UINT64 value, char *buffer, int shortUnit)
{
    static const struct
    {
        int shift;
        double factor;
        char letter;
    } units[] = {
        {40, 1.0 / 1125899906842624.0, 'P'},
        {30, 1.0 / 1099511627776.0, 'T'},
        {20, 1.0 / 1073741824.0, 'G'},
        {10, 1.0 / 1048576.0, 'M'},
        {0, 1.0 / 1024.0, 'k'},
    };
    const char *word = shortUnit == 1 ? "B" : "Byte";
    for (size_t i = 0; i < sizeof(units) / sizeof(units[0]); i++)
    {
        if ((value >> units[i].shift) > 2048)
        {
            _snprintf(buffer, FORMAT_SIZE_BUFFER - 1, "%.1f %c%s",
                      static_cast<double>(value) * units[i].factor, units[i].letter, word);
            buffer[FORMAT_SIZE_BUFFER - 1] = 0;
            return;
        }
    }
    _snprintf(buffer, FORMAT_SIZE_BUFFER - 1, "%I64u Byte", value);
    buffer[FORMAT_SIZE_BUFFER - 1] = 0;
}

// Serves until a buffer is lent with UseSharedErrorText, and again after it is returned.
static char g_FallbackErrorText[ERROR_TEXT_BUFFER];
// Constant-initialised, so it is valid before any constructor of static initialisation runs.
static char *g_pSharedErrorText = g_FallbackErrorText;

char *GetSharedErrorText()
{
    return g_pSharedErrorText;
}

char *UseSharedErrorText(char *buffer)
{
    char *previous = g_pSharedErrorText;
    g_pSharedErrorText = buffer ? buffer : g_FallbackErrorText;
    return previous;
}

static DWORD MessageFrom(DWORD source, HMODULE module, DWORD code, char *buffer)
{
    return FormatMessageA(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, 0x0400, buffer,
                          ERROR_TEXT_MAX, NULL);
}

char *ErrorText(DWORD code, char *buffer)
{
    if (!buffer)
        buffer = GetSharedErrorText();
    DWORD length = MessageFrom(FORMAT_MESSAGE_FROM_SYSTEM, NULL, code, buffer);
    if (length == 0)
    {
        // Only when the upload has loaded it; never loaded just for its messages.
        HMODULE wininet = GetModuleHandleA("wininet.dll");
        if (wininet)
            length = MessageFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, code, buffer);
    }
    if (length == 0)
        return NULL;
    LineBreaksToBlanks(buffer);
    TrimTrailingBlanks(buffer);
    return buffer;
}
