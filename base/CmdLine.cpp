#include "base/CmdLine.h"

#include "base/FileIo.h"

#include <stdio.h>
#include <string.h>

// Command files may be rewritten by an editor while a run reads them.
#define CMDLINE_FILE_SHARE (FILE_SHARE_READ | FILE_SHARE_WRITE)

static int IsNumberKind(UINT32 kind)
{
    return kind == OPT_DEC || kind == OPT_HEX || kind == OPT_FLAG;
}

CCmdLine::CCmdLine() : m_nFilesLeft(CMDLINE_MAX_FILES)
{
}

CCmdLine::~CCmdLine()
{
    Clear();
}

int CCmdLine::AddNumber(const char *name, UINT32 kind, INT64 value, const char *description)
{
    // A number record taken for a text one would be read through the wrong class.
    if (!IsNumberKind(kind))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return AppendOption(new COptNumber(kind, value), name, description);
}

int CCmdLine::AddText(const char *name, UINT32 kind, const char *text, const char *description)
{
    if (kind != OPT_TEXT)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    COptText *option = new COptText(kind);
    if (option && !option->m_Text.Assign(text))
    {
        delete option;
        return 0;
    }
    return AppendOption(option, name, description);
}

// Takes over a freshly allocated record (or null when the allocation failed).
int CCmdLine::AppendOption(COptNamed *option, const char *name, const char *description)
{
    if (!option)
        return 0;
    if (!option->m_Name.Assign(name) || !option->m_Description.Assign(description))
    {
        delete option;
        return 0;
    }
    AddTail(option);
    return 1;
}

void CCmdLine::Clear()
{
    for (CListItem *item; (item = GetFirst()) != NULL;)
    {
        Remove(item);
        delete item;
    }
}

int CCmdLine::Parse()
{
    CStr text;
    if (!text.Assign(SkipFirstWord(GetCommandLineA())))
        return 0;
    return ParseText(text);
}

int CCmdLine::ParseText(CStr &text)
{
    m_nFilesLeft = CMDLINE_MAX_FILES;
    return ParseNested(text, 0);
}

// depth counts the command files that led to this text: 0 for the command line.
int CCmdLine::ParseNested(CStr &text, int depth)
{
    text.TrimLeft();
    text.TrimRight();
    const char *at = text.GetText();
    if (!at)
        return 0;
    int result = 1;
    while (*at)
    {
        switch (*at)
        {
        case ' ':
            at++;
            break;
        case '-':
        case '/':
            at = ParseOption(at + 1, result);
            break;
        case '@':
            at = ParseCommandFile(at + 1, depth, result);
            break;
        default:
            at = ParseWord(at, result);
            break;
        }
    }
    return result;
}

static void ReadNumber(COptNumber *option, const char *text)
{
    INT64 number = 0;
    int read = option->m_nKind == OPT_HEX ? sscanf(text, "%I64X", &number)
                                         : sscanf(text, "%I64i", &number);
    if (read == 1)
        option->m_Value = number;
}

// p lies just after the "-" or "/". The first record whose name begins the text wins,
// so a shorter name declared earlier shadows every later one that begins with it.
const char *CCmdLine::ParseOption(const char *p, int &result)
{
    for (CListItem *item = GetFirst(); item; item = GetNext(item))
    {
        COptNamed *option = static_cast<COptNamed *>(item);
        if (option->m_nKind == OPT_WORD)
            continue;
        UINT32 length = option->m_Name.GetLength();
        if (option->m_Name.CompareNNoCase(p, length) != 0)
            continue;
        const char *value = p + length;
        switch (option->m_nKind)
        {
        case OPT_DEC:
        case OPT_HEX:
            ReadNumber(static_cast<COptNumber *>(option), value);
            return value + SkipWord(value);
        case OPT_FLAG:
            static_cast<COptNumber *>(option)->m_Value = 1;
            return value;
        case OPT_TEXT:
        {
            const char *next = TakeWord(static_cast<COptText *>(option)->m_Text, value);
            if (next)
                return next;
            break; // nothing followed: a later record may still fit
        }
        }
    }
    // Unmatched: its characters go through the main loop again, normally as a free word.
    result = 0;
    return p;
}

const char *CCmdLine::ParseWord(const char *p, int &result)
{
    COptText *word = new COptText(OPT_WORD);
    if (!word)
    {
        result = 0;
        return CharNextA(p);
    }
    const char *next = TakeWord(word->m_Text, p);
    AddTail(word);
    return next ? next : p + strlen(p);
}

// p lies just after the "@".
const char *CCmdLine::ParseCommandFile(const char *p, int depth, int &result)
{
    CStr nameThenLine;
    const char *next = TakeWord(nameThenLine, p);
    if (!next)
    {
        result = 0;
        return p + strlen(p);
    }
    if (!ReadCommandFile(nameThenLine, depth + 1))
        result = 0;
    return next;
}

// Parses every line of the named file; the first failing line ends the reading. The
// name's string serves as the line buffer.
int CCmdLine::ReadCommandFile(CStr &nameThenLine, int depth)
{
    if (depth > CMDLINE_MAX_FILE_DEPTH || m_nFilesLeft == 0)
    {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return 0;
    }
    CFileIo file;
    if (!nameThenLine.GetText() ||
        !file.Open(nameThenLine.GetText(), FIO_READ, 0, CMDLINE_FILE_SHARE))
        return 0;
    m_nFilesLeft--;
    while (file.ReadLine(nameThenLine, FIO_LINE_ANSI, FIO_QUOTES_PLAIN))
    {
        if (!ParseNested(nameThenLine, depth))
            return 0;
    }
    return 1;
}

UINT32 CCmdLine::SkipWord(const char *p)
{
    const char *at = p;
    while (*at == ' ')
        at++;
    while (*at && *at != ' ')
        at = CharNextA(at);
    return static_cast<UINT32>(at - p);
}

// A space ends the word outside quotes; a pair of quotes stays in the word without
// toggling anything.
static const char *FindWordEnd(const char *at)
{
    int quoted = 0;
    while (*at && (*at != ' ' || quoted))
    {
        if (at[0] == '"' && at[1] == '"')
        {
            at += 2;
            continue;
        }
        if (*at == '"')
            quoted = !quoted;
        at = CharNextA(at);
    }
    return at;
}

// Every run of double quotes becomes one, in a single pass. Replacing pair after pair
// moves the rest of the word each time, which made a long run take minutes.
static void CollapseQuoteRuns(CStr &word)
{
    char *out = word.GetBuffer();
    int afterQuote = 0;
    for (const char *at = out; *at;)
    {
        const char *next = CharNextA(at);
        int quote = *at == '"';
        if (!(quote && afterQuote))
        {
            memmove(out, at, next - at);
            out += next - at;
        }
        afterQuote = quote;
        at = next;
    }
    *out = 0;
    word.UpdateLength();
}

const char *CCmdLine::TakeWord(CStr &dst, const char *p)
{
    while (*p == ' ')
        p++;
    if (!*p)
    {
        dst = "";
        return NULL;
    }
    const char *end = FindWordEnd(p);
    dst.Assign(p, static_cast<UINT32>(end - p));
    if (dst.GetText())
    {
        Unquote(dst.GetBuffer());
        CollapseQuoteRuns(dst);
    }
    return end;
}

COptNamed *CCmdLine::FindOption(const char *name, int text)
{
    for (CListItem *item = GetFirst(); item; item = GetNext(item))
    {
        COptNamed *option = static_cast<COptNamed *>(item);
        int fits = text ? option->m_nKind == OPT_TEXT : IsNumberKind(option->m_nKind);
        if (fits && option->m_Name.CompareNoCase(name) == 0)
            return option;
    }
    return NULL;
}

const char *CCmdLine::GetText(const char *name)
{
    COptText *option = static_cast<COptText *>(FindOption(name, 1));
    if (!option || option->m_Text.GetLength() == 0)
        return NULL;
    return option->m_Text.GetText();
}

INT64 CCmdLine::GetNumber(const char *name)
{
    COptNumber *option = static_cast<COptNumber *>(FindOption(name, 0));
    return option ? option->m_Value : 0;
}

// The help line of one record into line; 0 for a record that has none (a free word)
// or whose line could not be formatted.
static int FormatHelpLine(COptNamed *option, CStr &line, CStr &bracketed)
{
    bracketed = "";
    if (option->m_Description.GetLength() != 0 &&
        !Format(bracketed, "[%s]", option->m_Description.GetText()))
        return 0;
    const char *name = option->m_Name.GetText();
    switch (option->m_nKind)
    {
    case OPT_DEC:
        return Format(line, "   -%s %I64i %s\n", name, static_cast<COptNumber *>(option)->m_Value,
                      bracketed.GetText());
    case OPT_HEX:
        return Format(line, "   -%s 0x%I64X %s\n", name,
                      static_cast<COptNumber *>(option)->m_Value, bracketed.GetText());
    case OPT_FLAG:
        return Format(line, "   -%s %s\n", name, bracketed.GetText());
    case OPT_TEXT:
    {
        const CStr &text = static_cast<COptText *>(option)->m_Text;
        if (text.GetLength() == 0)
            return Format(line, "   -%s %s\n", name, bracketed.GetText());
        return Format(line, "   -%s %s %s\n", name, text.GetText(), bracketed.GetText());
    }
    default:
        return 0;
    }
}

void CCmdLine::GetHelp(CStr &out)
{
    out = "   @<file> [command file]\n";
    CStr line;
    CStr bracketed;
    for (CListItem *item = GetFirst(); item; item = GetNext(item))
    {
        if (FormatHelpLine(static_cast<COptNamed *>(item), line, bracketed))
            out += line.GetText();
    }
}
