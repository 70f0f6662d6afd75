#include "fuzz/CmdModel.h"
#include "fuzz/Fuzz.h"

#include "base/CmdLine.h"
#include "base/Str.h"

const char *const g_NumberNames[CMD_NUMBERS] = {"s", "b", "l"};
const INT64 g_NumberDefaults[CMD_NUMBERS] = {1000, 1024, 1};

namespace
{
const size_t kNone = std::string::npos;

char At(const std::string &t, size_t i)
{
    return i < t.size() ? t[i] : 0;
}

std::string Trimmed(const std::string &t)
{
    size_t start = 0;
    while (start < t.size() && IsSpace(t[start]))
        start = NextCharIndex(t, start);
    std::string rest = t.substr(start);
    size_t runStart = kNone;
    for (size_t i = 0; i < rest.size(); i = NextCharIndex(rest, i))
    {
        if (!IsSpace(rest[i]))
            runStart = kNone;
        else if (runStart == kNone)
            runStart = i;
    }
    return runStart == kNone ? rest : rest.substr(0, runStart);
}

// A quote behind a lead byte is a trail byte to the character walk but may be a quote to
// the search that collapses runs of quotes; such words are not checked.
bool QuoteAfterLeadByte(const std::string &t)
{
    for (size_t i = 0; i + 1 < t.size(); i = NextCharIndex(t, i))
        if (IsDBCSLeadByte(static_cast<BYTE>(t[i])) && t[i + 1] == '"')
            return true;
    return false;
}

// The word from p on, unquoted; the position after it, or kNone when none is left.
size_t TakeWord(const std::string &t, size_t p, std::string &word, bool &sure)
{
    while (At(t, p) == ' ')
        p++;
    word.clear();
    if (p >= t.size())
        return kNone;
    size_t at = p;
    bool quoted = false;
    while (at < t.size() && (t[at] != ' ' || quoted))
    {
        if (t[at] == '"' && At(t, at + 1) == '"')
        {
            at += 2;
            continue;
        }
        if (t[at] == '"')
            quoted = !quoted;
        at = NextCharIndex(t, at);
    }
    word = t.substr(p, at - p);
    sure = !QuoteAfterLeadByte(word);
    if (!word.empty() && word[0] == '"')
    {
        word.erase(0, 1);
        size_t last = kNone;
        for (size_t i = 0; i < word.size(); i = NextCharIndex(word, i))
            last = i;
        if (last != kNone)
            word.resize(last);
    }
    std::string collapsed;
    for (char c : word)
        if (c != '"' || collapsed.empty() || collapsed.back() != '"')
            collapsed += c;
    word = collapsed;
    return at;
}

bool IsCSpace(char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// An integer in C notation from p on: 1 when read into value, 0 when there is none,
// -1 when the text is one whose reading the rules leave open (beyond 64 bits, an octal
// number running into 8 or 9, a sign or "0x" without digits).
int ReadNumber(const std::string &t, size_t p, INT64 &value)
{
    while (IsCSpace(At(t, p)))
        p++;
    bool negative = At(t, p) == '-';
    bool sign = negative || At(t, p) == '+';
    if (sign)
        p++;
    if (DigitValue(At(t, p)) > 9)
        return sign ? -1 : 0;
    int base = 10;
    if (At(t, p) == '0' && (At(t, p + 1) == 'x' || At(t, p + 1) == 'X'))
    {
        base = 16;
        p += 2;
        if (DigitValue(At(t, p)) >= 16)
            return -1;
    }
    else if (At(t, p) == '0')
        base = 8;
    UINT64 magnitude = 0;
    for (; DigitValue(At(t, p)) < base; p++)
    {
        UINT64 digit = static_cast<UINT64>(DigitValue(At(t, p)));
        if (magnitude > (0x8000000000000000ULL - digit) / base)
            return -1;
        magnitude = magnitude * base + digit;
    }
    if (base == 8 && DigitValue(At(t, p)) <= 9)
        return -1;
    if (!negative && magnitude == 0x8000000000000000ULL)
        return -1;
    value = negative ? static_cast<INT64>(0 - magnitude) : static_cast<INT64>(magnitude);
    return 1;
}

size_t SkipWord(const std::string &t, size_t p)
{
    while (At(t, p) == ' ')
        p++;
    while (p < t.size() && t[p] != ' ')
        p = NextCharIndex(t, p);
    return p;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int ParseNested(SCmdModel &model, const std::string &text, int depth);

size_t ParseOption(SCmdModel &model, const std::string &t, size_t p)
{
    char name = Lower(At(t, p));
    if (name == 'd')
    {
        std::string word;
        bool sure = true;
        size_t next = TakeWord(t, p + 1, word, sure);
        model.d = word;
        if (next != kNone)
        {
            model.dKnown = sure;
            return next;
        }
        model.dKnown = true; // nothing followed: empty, and no later option fits "d"
    }
    for (int i = 0; i < CMD_NUMBERS; i++)
    {
        if (name != g_NumberNames[i][0])
            continue;
        INT64 value = 0;
        int read = ReadNumber(t, p + 1, value);
        if (read == 1)
            model.numbers[i] = value;
        if (read != 0)
            model.numberKnown[i] = read == 1;
        return SkipWord(t, p + 1);
    }
    model.result = 0;
    return p;
}

int ReadCommandFile(SCmdModel &model, const std::string &name, int depth)
{
    if (depth > CMDLINE_MAX_FILE_DEPTH || model.filesOpened >= CMDLINE_MAX_FILES)
        return 0;
    auto file = model.files.find(name);
    if (file == model.files.end())
        return 0;
    model.filesOpened++;
    for (const std::string &line : ModelCommandFileLines(file->second))
        if (!ParseNested(model, line, depth))
            return 0;
    return 1;
}

int ParseNested(SCmdModel &model, const std::string &text, int depth)
{
    std::string t = Trimmed(text);
    int outer = model.result;
    model.result = 1;
    for (size_t at = 0; at < t.size();)
    {
        std::string word;
        bool sure = true;
        size_t next;
        switch (t[at])
        {
        case ' ':
            at++;
            break;
        case '-':
        case '/':
            at = ParseOption(model, t, at + 1);
            break;
        case '@':
            next = TakeWord(t, at + 1, word, sure);
            if (next == kNone)
            {
                model.result = 0;
                at = t.size();
            }
            else
            {
                if (!ReadCommandFile(model, word, depth + 1))
                    model.result = 0;
                at = next;
            }
            break;
        default:
            at = TakeWord(t, at, word, sure);
            model.words.push_back(word);
            model.wordsKnown = model.wordsKnown && sure;
            break;
        }
    }
    int result = model.result;
    model.result = outer; // a failing file fails the text that named it through the result
    return result;
}
} // namespace

void ModelParseText(SCmdModel &model, const std::string &text)
{
    model.filesOpened = 0;
    model.result = ParseNested(model, text, 0);
}

std::vector<std::string> ModelCommandFileLines(const std::string &bytes)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes)
    {
        if (c == '\n')
        {
            lines.push_back(line);
            line.clear();
        }
        else if (c != '\r' && c != 0)
            line += c;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}
