// The text string's storage, assignment, appending and conversions, and the shared
// automation string.
#include "base/Str.h"

#include <malloc.h>
#include <string.h>
#include <wchar.h>

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
