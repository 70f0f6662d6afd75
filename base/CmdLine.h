// CCmdLine, the option set: declared options, parsing of the command line and of
// "@" command files, lookups by name and the generated help text.
#ifndef BRENNLOW_BASE_CMDLINE_H
#define BRENNLOW_BASE_CMDLINE_H

#include "base/Lock.h"
#include "base/Str.h"

// Option kinds
#define OPT_DEC 0  // integer in C notation: decimal, 0x hexadecimal or 0 octal
#define OPT_HEX 1  // hexadecimal integer, "0x" optional
#define OPT_FLAG 2 // switch without a value; its presence sets the value to 1
#define OPT_TEXT 3 // one word of text, double quotes allowed
#define OPT_WORD 4 // a free word met while parsing; never declared

// Deepest nesting of command files. A file that names itself, directly or through
// others, would otherwise recurse until the stack runs out; a file named deeper than
// this is not opened and fails the parse like a missing one.
#define CMDLINE_MAX_FILE_DEPTH 16
// Most command files read for one command text. Within the depth above, a file naming
// itself twice would still be read 2^16 times and more; files beyond this fail the parse
// like a missing one.
#define CMDLINE_MAX_FILES 64

// What every option record holds. The kind tells which record class it is.
class COptNamed : public CListItem
{
public:
    explicit COptNamed(UINT32 kind) : m_nKind(kind) {}

    UINT32 m_nKind;
    CStr m_Name;        // as typed after "-" or "/"
    CStr m_Description; // one line of help, may be empty
};

// OPT_DEC, OPT_HEX and OPT_FLAG
class COptNumber : public COptNamed
{
public:
    COptNumber(UINT32 kind, INT64 value) : COptNamed(kind), m_Value(value) {}

    INT64 m_Value;
};

// OPT_TEXT and OPT_WORD
class COptText : public COptNamed
{
public:
    explicit COptText(UINT32 kind) : COptNamed(kind) {}

    CStr m_Text;
};

// Every declared option and every free word is one record of the list, in the order
// appended: the order of matching and of the help lines.
class CCmdLine : public CLockedList
{
public:
    CCmdLine();
    ~CCmdLine();

    int AddNumber(const char *name, UINT32 kind, INT64 value, const char *description);
    int AddText(const char *name, UINT32 kind, const char *text, const char *description);

    int Parse();
    int ParseText(CStr &text);
    void GetHelp(CStr &out);
    const char *GetText(const char *name);
    INT64 GetNumber(const char *name);
    void Clear();

    // Bytes from p over spaces and the following run of non-space bytes.
    static UINT32 SkipWord(const char *p);
    // One word, unquoted, into dst; the position after it, or null when none is left.
    static const char *TakeWord(CStr &dst, const char *p);

private:
    int AppendOption(COptNamed *option, const char *name, const char *description);
    COptNamed *FindOption(const char *name, int text);
    int ParseNested(CStr &text, int depth);
    const char *ParseOption(const char *p, int &result);
    const char *ParseWord(const char *p, int &result);
    const char *ParseCommandFile(const char *p, int depth, int &result);
    int ReadCommandFile(CStr &nameThenLine, int depth);

    UINT32 m_nFilesLeft; // command files the current command text may still have read
};

#endif
