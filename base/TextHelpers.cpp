// Helpers that work on raw 8-bit text in place.
#include "base/Str.h"

#include <string.h>

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
