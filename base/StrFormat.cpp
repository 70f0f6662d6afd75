// printf-style formatting into a text string or a bounded buffer, and byte counts with
// power-of-two units.
#include "base/Str.h"

#include <stdio.h>
#include <string.h>

// A format that needs this much room is given up rather than grown further.
#define FORMAT_CAPACITY_LIMIT 3145728u

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
