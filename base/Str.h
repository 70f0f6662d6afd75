// CStr, the one text type of the program, and helpers that work on raw 8-bit text.
//
// Text is 8-bit in the system ANSI code page. Every character walk steps with
// CharNextA so that double-byte code pages are honoured; UTF-16 appears only where
// a system interface demands it.
#ifndef BRENNLOW_BASE_STR_H
#define BRENNLOW_BASE_STR_H

#include <windows.h>
#include <oleauto.h>
#include <stdarg.h>

#define STR_DEFAULT_CAPACITY 260

// Bytes that always hold the text of FormatSize.
#define FORMAT_SIZE_BUFFER 32

// Length of the shared error-text buffer that ErrorText fills when given none.
#define ERROR_TEXT_BUFFER 512

// Most characters FormatMessageA may write into an ErrorText buffer.
#define ERROR_TEXT_MAX 260

class CBstr;

class CStr
{
public:
    CStr();
    explicit CStr(UINT32 capacity);
    ~CStr();

    CStr(const CStr &) = delete;

    // Capacity and access
    int SetCapacity(UINT32 bytes);
    void Reset(UINT32 bytes);
    char *GetBuffer(char *copyTarget = NULL);
    const char *GetText() const { return m_pData; }
    void UpdateLength();
    UINT32 GetLength() const;
    UINT32 GetCapacity() const;
    int SetSize(UINT32 size);
    char GetAt(int index) const;

    // Assignment and appending
    int Assign(const char *text);
    int Assign(const char *text, UINT32 count);
    CStr &operator=(const char *text);
    CStr &operator=(const wchar_t *text);
    CStr &operator=(const CStr &other);
    int AssignWide(const wchar_t *text);
    int AssignWide(const wchar_t *text, UINT32 count, int lowByteOnly);
    int Append(const char *text);
    int Append(const CStr &other);
    CStr &operator+=(const char *text);
    int AppendWide(const wchar_t *text);
    int AppendChar(wchar_t unit);

    // Comparison (multibyte-aware); a null text equals only the empty string
    int Compare(const char *text) const;
    int CompareN(const char *text, UINT32 count) const;
    int CompareNoCase(const char *text) const;
    int CompareNNoCase(const char *text, UINT32 count) const;

    // Search; indexes are byte offsets, -1 means not found
    int Find(char ch, int start) const;
    int Find(char ch) const;
    int ReverseFind(char ch) const;
    int Find(const char *text) const;
    char *FindPtr(const char *text) const;
    int FindNoCase(const char *text) const;
    char *FindNoCasePtr(const char *text) const;

    // Editing in place; each returns the buffer
    char *Truncate(int index);
    char *Mid(int index, int count);
    char *Mid(int index);
    char *TrimLeft();
    char *TrimRight();
    char *Replace(const char *search, const char *replacement, int inPlace);
    char *ReplaceNoCase(const char *search, const char *replacement);
    int CutAtLast(char separator);
    char *Tokenize(int first, const char *delimiters);

    // Formatting and conversion
    int FormatV(const char *format, va_list args);
    wchar_t *ToWide(wchar_t *target);
    CBstr ToBstr() const;

private:
    // The case rule of FindFrom and ReplaceAll, and where ReplaceAll leaves its result.
    enum { STR_CASE = 0, STR_NO_CASE = 1 };
    enum { STR_COPY = 0, STR_IN_PLACE = 1 };
    static char *FindFrom(char *start, const char *text, int noCase);
    char *ReplaceAll(const char *search, const char *replacement, int inPlace, int noCase);
    int GrowForFormat();
    int AppendConverted(const wchar_t *text, int units);

    char *m_pData;
    wchar_t *m_pWide;
    UINT32 m_nCapacity;
    UINT32 m_nSize;
};

int Format(CStr &target, const char *format, ...) __attribute__((format(ms_printf, 2, 3)));

// Formats one line into a fixed buffer of size bytes and returns its length. A text too
// long for the buffer is cut at a character boundary, never overrun; when the format ends
// in "\r\n", a cut line still ends in it. Report lines are written through these.
int FormatLine(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(ms_printf, 3, 4)));
int FormatLineV(char *buffer, size_t size, const char *format, va_list args);

// Reference-counted owner of a BSTR; copies share one string.
class CBstr
{
public:
    explicit CBstr(BSTR owned);
    CBstr(const CBstr &other);
    ~CBstr();
    CBstr &operator=(const CBstr &other);

    BSTR Get() const;
    UINT32 GetLength() const;

private:
    struct Shared
    {
        LONG refs;
        BSTR text;
    };
    void Release();

    Shared *m_pShared;
};

// Raw 8-bit text
int IsSpace(char ch);
void TrimTrailingBlanks(char *text);
void LineBreaksToBlanks(char *text);
void Unquote(char *text);
int ToWideBuffer(const char *text, wchar_t *target, int units);
const char *SkipFirstWord(const char *text);
const char *GetFileNamePart(const char *path);
// FormatSize's unit forms: "MByte" or "MB".
#define FSZ_LONG_UNIT 0
#define FSZ_SHORT_UNIT 1
void FormatSize(UINT64 value, char *buffer, int shortUnit);
char *ErrorText(DWORD code, char *buffer);

// The buffer ErrorText fills when the caller passes none; overwritten by every such call.
char *GetSharedErrorText();

// Makes buffer (ERROR_TEXT_BUFFER bytes) the shared error-text buffer and returns the one
// used before; null goes back to the library's own. The crash handler lends its buffer
// here, so the library needs to know nothing of it.
char *UseSharedErrorText(char *buffer);

#endif
