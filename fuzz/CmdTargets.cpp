// Targets 1 and 2: command texts, and command files named on them, through the option set
// exactly as the benchmark's driver declares it.
#include "fuzz/CmdModel.h"
#include "fuzz/Fuzz.h"

#include "base/CmdLine.h"
#include "base/FileIo.h"
#include "base/Str.h"

#include <stdio.h>

#include <algorithm>

namespace
{
void DeclareDriverOptions(CCmdLine &options)
{
    options.AddText("d", OPT_TEXT, "C:\\", "Drive for testing");
    options.AddNumber("s", OPT_DEC, 1000, "File size in MB");
    options.AddNumber("b", OPT_DEC, 1024, "Block size in kB");
    options.AddNumber("l", OPT_DEC, 1, "Create log file");
}

const char *const kDescriptions[CMD_NUMBERS] = {"File size in MB", "Block size in kB",
                                                "Create log file"};

std::string Decimal(INT64 value)
{
    char text[32];
    snprintf(text, sizeof(text), "%I64i", value);
    return text;
}

// Random bytes for a word: never NUL (a text ends there) and never "@", which would
// open whatever file the following bytes happen to name.
char WordByte(CFuzzRandom &random)
{
    for (;;)
    {
        char byte = static_cast<char>(1 + random.Below(255));
        if (byte != '@')
            return byte;
    }
}

std::string RandomBytes(CFuzzRandom &random, UINT32 count)
{
    std::string bytes(count, ' ');
    for (char &byte : bytes)
        byte = WordByte(random);
    return bytes;
}

// A double-byte character, or a lead byte alone in front of whatever comes next.
std::string DoubleByte(CFuzzRandom &random)
{
    static const BYTE leads[] = {0x81, 0x88, 0x9F, 0xE0, 0xEA, 0xFC, 0xA1, 0xB0, 0xC8, 0xFE};
    static const BYTE trails[] = {0x40, 0x5C, 0x7E, 0x80, 0xA0, 0xFC, 0x20, 0x22, 0x2D, 0x01};
    std::string pair(1, static_cast<char>(random.Pick(leads)));
    if (!random.OneIn(6))
        pair += static_cast<char>(random.Pick(trails));
    return pair;
}

std::string Digits(CFuzzRandom &random, const char *alphabet, UINT32 count)
{
    std::string digits;
    size_t size = strlen(alphabet);
    for (UINT32 i = 0; i < count; i++)
        digits += alphabet[random.Below(static_cast<UINT32>(size))];
    return digits;
}

// Numbers in every base and of every size, with a sign now and then and sometimes
// something glued behind.
std::string Number(CFuzzRandom &random)
{
    static const char *const edges[] = {
        "0", "-0", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
        "-9223372036854775809", "18446744073709551615", "18446744073709551616", "4294967295",
        "4294967296", "-2147483649", "0x7FFFFFFFFFFFFFFF", "0x8000000000000000",
        "0xFFFFFFFFFFFFFFFF", "0x10000000000000000", "0777777777777777777777",
        "01000000000000000000000", "0x", "0X", "+", "-", "08", "0x0g", "00000000000000000000001"};
    std::string number;
    switch (random.Below(5))
    {
    case 0:
        number = random.Pick(edges);
        break;
    case 1:
        number = Digits(random, "123456789", 1) + Digits(random, "0123456789", random.Length(24));
        break;
    case 2:
        number = std::string(random.OneIn(2) ? "0x" : "0X") +
                 Digits(random, "0123456789abcdefABCDEF", 1 + random.Length(18));
        break;
    case 3:
        number = "0" + Digits(random, "01234567", random.Length(23));
        break;
    default:
        number = Digits(random, "0123456789", 1 + random.Below(6));
        break;
    }
    if (random.OneIn(4))
        number = (random.OneIn(2) ? "-" : "+") + number;
    if (random.OneIn(6))
        number += random.OneIn(2) ? std::string(1, WordByte(random)) : DoubleByte(random);
    return number;
}

std::string Quoted(CFuzzRandom &random)
{
    switch (random.Below(4))
    {
    case 0:
        return std::string(1 + random.Length(random.OneIn(50) ? 20000 : 8), '"');
    case 1:
        return "\"" + RandomBytes(random, random.Length(12)) + " " +
               RandomBytes(random, random.Length(12)) + "\"";
    case 2:
        return "a\"\"\"\"b";
    default:
        return "\"D:\\My Disk\"";
    }
}

std::string Word(CFuzzRandom &random);

std::string OptionName(CFuzzRandom &random)
{
    static const char *const names[] = {"s", "S", "b", "B", "l", "L", "d", "D",
                                        "size", "x", "q", "", "-", "dd", "l0", "Bx"};
    return random.Pick(names);
}

std::string Separator(CFuzzRandom &random)
{
    static const char *const separators[] = {" ", " ", " ", "  ", "", "\t", " \t ", "   "};
    return random.Pick(separators);
}

std::string Piece(CFuzzRandom &random)
{
    std::string prefix = random.OneIn(4) ? "/" : "-";
    switch (random.Below(10))
    {
    case 0:
    case 1:
    case 2:
        return prefix + OptionName(random) + Separator(random) + Number(random);
    case 3:
        return prefix + OptionName(random) + Separator(random) + Word(random);
    case 4:
        return prefix + OptionName(random);
    default:
        return Word(random);
    }
}

std::string Word(CFuzzRandom &random)
{
    switch (random.Below(12))
    {
    case 0:
        return RandomBytes(random, 1 + random.Length(40));
    case 1: // very long words now and then; they cost a thousand short ones
        return std::string(random.OneIn(20) ? 1000 + random.Below(64 * 1024) : 20 + random.Below(300),
                           "aZ9\\"[random.Below(4)]);
    case 2:
    case 3:
        return Quoted(random);
    case 4:
        return DoubleByte(random) + DoubleByte(random);
    case 5:
        return "\t" + Word(random);
    case 6:
        return Number(random);
    default:
        return Digits(random, "abcdefghijklmnopqrstuvwxyz:\\.ABCXYZ_", 1 + random.Length(12));
    }
}

std::string CommandText(CFuzzRandom &random)
{
    std::string text = random.OneIn(8) ? Separator(random) : "";
    for (UINT32 count = random.Length(14); count > 0; count--)
        text += Piece(random) + (count > 1 ? Separator(random) : "");
    if (random.OneIn(10))
        text += "@" + std::string(random.Below(3), ' '); // "@" with no name after it
    return text;
}

// The help text the lookups say the option set must produce.
std::string ExpectedHelp(CCmdLine &options)
{
    const char *d = options.GetText("d");
    std::string help = "   @<file> [command file]\n   -d ";
    help += d ? std::string(d) + " " : "";
    help += "[Drive for testing]\n";
    for (int i = 0; i < CMD_NUMBERS; i++)
        help += "   -" + std::string(g_NumberNames[i]) + " " +
                Decimal(options.GetNumber(g_NumberNames[i])) + " [" + kDescriptions[i] + "]\n";
    return help;
}

std::string Shown(const std::string &text)
{
    return text.size() > 80 ? ShowBytes(text.substr(0, 80)) + "..." : ShowBytes(text);
}

// Compares what the option set holds after a parse with the model; "" when all holds.
std::string CheckParse(CCmdLine &options, int result, const SCmdModel &model)
{
    CStr help;
    options.GetHelp(help);
    std::string expected = ExpectedHelp(options);
    if (!help.GetText() || expected != help.GetText())
        return "help " + Shown(help.GetText() ? help.GetText() : "(none)") + " instead of " +
               Shown(expected);
    const char *d = options.GetText("D");
    if (d != options.GetText("d"))
        return "lookups of \"d\" and \"D\" differ";
    if (!d || !strchr(d, '\n'))
    {
        size_t lines = 0;
        for (char c : expected)
            lines += c == '\n';
        if (lines != 5)
            return "help of " + std::to_string(lines) + " lines";
    }
    if (result != model.result)
        return "parse result " + std::to_string(result) + ", expected " +
               std::to_string(model.result);
    if (model.dKnown && model.d != (d ? d : ""))
        return "d is " + Shown(d ? d : "") + ", expected " + Shown(model.d);
    for (int i = 0; i < CMD_NUMBERS; i++)
    {
        INT64 value = options.GetNumber(g_NumberNames[i]);
        if (model.numberKnown[i] && value != model.numbers[i])
            return std::string(g_NumberNames[i]) + " is " + Decimal(value) + ", expected " +
                   Decimal(model.numbers[i]);
    }
    std::vector<std::string> words;
    for (CListItem *item = options.GetFirst(); item; item = options.GetNext(item))
        if (static_cast<COptNamed *>(item)->m_nKind == OPT_WORD)
            words.push_back(static_cast<COptText *>(item)->m_Text.GetText());
    if (!model.wordsKnown || words == model.words)
        return "";
    size_t i = 0;
    while (i < words.size() && i < model.words.size() && words[i] == model.words[i])
        i++;
    return std::to_string(words.size()) + " free words, expected " +
           std::to_string(model.words.size()) + "; word " + std::to_string(i) + " is " +
           (i < words.size() ? Shown(words[i]) : "missing") + ", expected " +
           (i < model.words.size() ? Shown(model.words[i]) : "none");
    return "";
}

int RunParse(const std::string &text, SCmdModel &model, SFuzzCase &fuzzCase)
{
    CCmdLine options;
    DeclareDriverOptions(options);
    CStr command;
    if (!command.Assign(text.c_str()))
    {
        fuzzCase.failure = "no memory for the text";
        return 0;
    }
    int result = options.ParseText(command);
    ModelParseText(model, text);
    fuzzCase.failure = CheckParse(options, result, model);
    return fuzzCase.failure.empty();
}

class CCmdTextTarget : public CFuzzTarget
{
public:
    const char *Name() const override { return "cmdtext"; }

    int Run(CFuzzRandom &random, SFuzzCase &fuzzCase) override
    {
        fuzzCase.input = CommandText(random);
        SCmdModel model;
        return RunParse(fuzzCase.input, model, fuzzCase);
    }
};

// Line ends as editors and hostile writers leave them.
std::string LineEnd(CFuzzRandom &random)
{
    static const char *const ends[] = {"\n", "\n", "\r\n", "\r\n", "\r", "\n\r", "\r\r\n", ""};
    return random.Pick(ends);
}

class CCmdFileTarget : public CFuzzTarget
{
public:
    const char *Name() const override { return "cmdfile"; }

    ~CCmdFileTarget() override
    {
        for (const std::string &path : m_Written)
            DeleteFileA(path.c_str());
        if (!m_Folder.empty())
            RemoveDirectoryA(m_Folder.c_str());
    }

    int Prepare(std::string &failure) override
    {
        char temp[MAX_PATH];
        DWORD length = GetTempPathA(sizeof(temp), temp);
        if (length == 0 || length >= sizeof(temp))
        {
            failure = "no temporary folder";
            return 0;
        }
        m_Folder = temp + std::string("brennlow-fuzz-") + std::to_string(GetCurrentProcessId());
        if (!CreateDirectoryA(m_Folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        {
            failure = "cannot create " + m_Folder;
            return 0;
        }
        return 1;
    }

    int Run(CFuzzRandom &random, SFuzzCase &fuzzCase) override
    {
        SCmdModel model;
        UINT32 count = 1 + (random.OneIn(3) ? random.Below(4) : 0);
        std::vector<std::string> contents;
        for (UINT32 i = 0; i < count; i++)
            contents.push_back(FileContent(random, count));
        fuzzCase.input = Reference(random, count) + " " + CommandText(random);
        if (random.OneIn(3))
            fuzzCase.input = CommandText(random) + " " + fuzzCase.input;
        for (UINT32 i = 0; i < count; i++)
        {
            fuzzCase.detail += "file " + std::to_string(i) + ": " + ShowBytes(contents[i]) + "\n  ";
            std::string path = FilePath(i);
            if (!WriteFileBytes(path, contents[i]))
            {
                fuzzCase.failure = "cannot write " + path;
                return 0;
            }
            model.files[path] = contents[i];
        }
        return RunParse(fuzzCase.input, model, fuzzCase);
    }

private:
    std::string FilePath(UINT32 index) const { return m_Folder + "\\f" + std::to_string(index); }

    int WriteFileBytes(const std::string &path, const std::string &bytes)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return 0;
        DWORD written = 0;
        BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
        CloseHandle(file);
        if (m_Written.size() < 8 && std::find(m_Written.begin(), m_Written.end(), path) ==
                                        m_Written.end())
            m_Written.push_back(path);
        return ok && written == bytes.size();
    }

    // "@" and a name: one of this case's files (so also the file itself, from inside it),
    // a missing one, the folder, or nothing.
    std::string Reference(CFuzzRandom &random, UINT32 count)
    {
        std::string name;
        switch (random.Below(8))
        {
        case 0:
            name = m_Folder + "\\missing";
            break;
        case 1:
            name = m_Folder;
            break;
        default:
            name = FilePath(random.Below(count));
            break;
        }
        bool plain = name.find(' ') == std::string::npos && !random.OneIn(3);
        // The caller puts a space behind: "." or "\" glued on would still open the file.
        return "@" + (plain ? name : "\"" + name + "\"");
    }

    // Lines of command text, random bytes with NUL and CR, lines far longer than the
    // reader's buffer, and names of this case's files, so also of the file itself. The
    // costly kinds are rare enough to keep a case near a millisecond.
    std::string FileContent(CFuzzRandom &random, UINT32 count)
    {
        std::string content;
        for (UINT32 lines = random.Length(8); lines > 0; lines--)
        {
            switch (random.Below(16))
            {
            case 0:
            case 1:
                content += RandomBytes(random, random.Length(200));
                break;
            case 2:
            case 3:
                content += std::string(1 + random.Below(3), '\0') + CommandText(random);
                break;
            case 4:
                content += RandomBytes(random, FIO_LINE_BUFFER - 2 + random.Below(8));
                break;
            case 5:
                content += RandomBytes(random, random.OneIn(32) ? 100000 : 5000 + random.Below(9000));
                break;
            case 6:
                for (UINT32 n = random.OneIn(3) ? 2 + random.Below(2) : 1; n > 0; n--)
                    content += Reference(random, count) + " " + Separator(random);
                break;
            default:
                content += CommandText(random);
                break;
            }
            content += LineEnd(random);
        }
        return content;
    }

    std::string m_Folder;
    std::vector<std::string> m_Written;
};
} // namespace

std::unique_ptr<CFuzzTarget> NewCmdTextTarget()
{
    return std::unique_ptr<CFuzzTarget>(new CCmdTextTarget());
}

std::unique_ptr<CFuzzTarget> NewCmdFileTarget()
{
    return std::unique_ptr<CFuzzTarget>(new CCmdFileTarget());
}
