#include "base/CmdLine.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{

// The driver's options, a hexadecimal one, a switch, and a name that "s" shadows.
void DeclareOptions(CCmdLine &options, bool driverOnly = false)
{
    ASSERT_EQ(1, options.AddText("d", OPT_TEXT, "C:\\", "Drive for testing"));
    ASSERT_EQ(1, options.AddNumber("s", OPT_DEC, 1000, "File size in MB"));
    ASSERT_EQ(1, options.AddNumber("b", OPT_DEC, 1024, "Block size in kB"));
    ASSERT_EQ(1, options.AddNumber("l", OPT_DEC, 1, "Create log file"));
    if (driverOnly)
        return;
    ASSERT_EQ(1, options.AddNumber("m", OPT_HEX, 0x1F, "Mask"));
    ASSERT_EQ(1, options.AddNumber("v", OPT_FLAG, 0, ""));
    ASSERT_EQ(1, options.AddText("size", OPT_TEXT, "", "never reached"));
}

int Parse(CCmdLine &options, const std::string &command)
{
    CStr text;
    text = command.c_str();
    return options.ParseText(text);
}

std::string Help(CCmdLine &options)
{
    CStr help;
    options.GetHelp(help);
    return help.GetText();
}

std::string Text(CCmdLine &options, const char *name)
{
    const char *text = options.GetText(name);
    return text ? text : "";
}

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

// The free words met so far, joined by "|".
std::string Words(CCmdLine &options)
{
    std::string words;
    for (CListItem *item = options.GetFirst(); item; item = options.GetNext(item))
    {
        COptNamed *option = static_cast<COptNamed *>(item);
        if (option->m_Kind != OPT_WORD)
            continue;
        words += words.empty() ? "" : "|";
        words += static_cast<COptText *>(option)->m_Text.GetText();
    }
    return words;
}

// What differs from the defaults of DeclareOptions, as "s=5 words=a|b".
std::string Changes(CCmdLine &options)
{
    std::ostringstream changes;
    if (Text(options, "d") != "C:\\")
        changes << "d=" << Text(options, "d") << " ";
    const struct
    {
        const char *name;
        long long initial;
    } numbers[] = {{"s", 1000}, {"b", 1024}, {"l", 1}, {"m", 0x1F}, {"v", 0}};
    for (const auto &number : numbers)
        if (options.GetNumber(number.name) != number.initial)
            changes << number.name << "=" << options.GetNumber(number.name) << " ";
    if (!Words(options).empty())
        changes << "words=" << Words(options) << " ";
    std::string text = changes.str();
    return text.substr(0, text.empty() ? 0 : text.size() - 1);
}

// The help text that DeclareOptions gives for the values the lookups return, built
// independently of GetHelp.
std::string ExpectedHelp(CCmdLine &options)
{
    char hex[32];
    snprintf(hex, sizeof(hex), "%llX", static_cast<unsigned long long>(options.GetNumber("m")));
    std::string d = Text(options, "d");
    std::ostringstream help;
    help << "   @<file> [command file]\n"
         << "   -d " << (d.empty() ? "" : d + " ") << "[Drive for testing]\n"
         << "   -s " << options.GetNumber("s") << " [File size in MB]\n"
         << "   -b " << options.GetNumber("b") << " [Block size in kB]\n"
         << "   -l " << options.GetNumber("l") << " [Create log file]\n"
         << "   -m 0x" << hex << " [Mask]\n"
         << "   -v \n"
         << "   -size [never reached]\n";
    return help.str();
}

struct SCase
{
    std::string command;
    int result;
    std::string changes;
};

void ExpectCase(const SCase &c)
{
    SCOPED_TRACE(c.command);
    CCmdLine options;
    DeclareOptions(options);
    EXPECT_EQ(c.result, Parse(options, c.command));
    EXPECT_EQ(c.changes, Changes(options));
    EXPECT_EQ(ExpectedHelp(options), Help(options));
}

} // namespace

TEST(CmdLineTest, CommandTextsGiveValuesWordsResultAndHelp)
{
    const SCase cases[] = {
        {"", 1, ""},
        // Prefix matching and case; a failed option is dispatched again as a word
        {"-s5", 1, "s=5"},
        {"-s 5", 1, "s=5"},
        {"/s 5", 1, "s=5"},
        {"-S5 /B6 -L0 -D x", 1, "d=x s=5 b=6 l=0"},
        {"-size 5", 1, "words=5"},
        {"-s -b 5", 1, "words=5"},
        {"-x", 0, "words=x"},
        {"-x -s 50", 0, "s=50 words=x"},
        {"--s 5", 0, "s=5"},
        {"-", 0, ""},
        {"@", 0, ""},
        {"@   ", 0, ""},
        // Numbers
        {"-s 0x10", 1, "s=16"},
        {"-s 010", 1, "s=8"},
        {"-s -1", 1, "s=-1"},
        {"-s +7 -b 5x", 1, "s=7 b=5"},
        {"-s 12345678901", 1, "s=12345678901"},
        {"-m ff", 1, "m=255"},
        {"-m 0x1a", 1, "m=26"},
        {"-v", 1, "v=1"},
        {"-vs 5", 1, "v=1 words=s|5"},
        // Unreadable numbers leave the value and swallow the word
        {"-s abc -b=6 -m zz", 1, ""},
        {"-s \"5\"", 1, ""},
        {"-l", 1, ""},
        // Text and quotes
        {"-d", 0, "d= words=d"},
        {"-d X -d", 0, "d= words=d"},
        {"-d \"D:\\My Disk\"", 1, "d=D:\\My Disk"},
        {"-d a\"\"\"\"b", 1, "d=a\"b"},
        {"-d \"a\"\"b\" -s 2", 1, "d=a\"b s=2"},
        {"-d a\"b c\"d -s 2", 1, "d=a\"b c\"d s=2"},
        {"-dE:\\", 1, "d=E:\\"},
        {"-d \"", 1, "d="},
        {"-d \"\" -s 3", 1, "d= s=3"},
        // Free words, tabs and white space
        {"foo bar -s 3 baz", 1, "s=3 words=foo|bar|baz"},
        {"\"two words\" x\"\"y", 1, "words=two words|x\"y"},
        {"-s 5\t-b 6", 1, "s=5 words=6"},
        {"-l 0 \t-b 6", 1, "l=0 words=\t-b|6"},
        {" \t -s 7 \t ", 1, "s=7"},
        // Repeated options: the last one wins
        {"-s 1 -s 2 /S 3 -d A -d B", 1, "d=B s=3"},
    };
    for (const SCase &c : cases)
        ExpectCase(c);
}

TEST(CmdLineTest, HelpLinesFollowTheirKindsFormats)
{
    CCmdLine options;
    DeclareOptions(options, true);
    EXPECT_EQ("   @<file> [command file]\n"
              "   -d C:\\ [Drive for testing]\n"
              "   -s 1000 [File size in MB]\n"
              "   -b 1024 [Block size in kB]\n"
              "   -l 1 [Create log file]\n",
              Help(options));

    CCmdLine kinds;
    ASSERT_EQ(1, kinds.AddNumber("m", OPT_HEX, -1, "Mask"));
    ASSERT_EQ(1, kinds.AddNumber("n", OPT_DEC, -5, ""));
    ASSERT_EQ(1, kinds.AddNumber("v", OPT_FLAG, 0, "Verbose"));
    ASSERT_EQ(1, kinds.AddText("t", OPT_TEXT, "", ""));
    ASSERT_EQ(1, kinds.AddText("u", OPT_TEXT, "x y", "Text"));
    ASSERT_EQ(1, kinds.AddNumber("s", OPT_DEC, 7, "First"));
    ASSERT_EQ(1, kinds.AddNumber("s", OPT_DEC, 8, "Shadowed"));
    EXPECT_EQ(1, Parse(kinds, "free -v -s 9"));
    EXPECT_EQ("   @<file> [command file]\n"
              "   -m 0xFFFFFFFFFFFFFFFF [Mask]\n"
              "   -n -5 \n"
              "   -v [Verbose]\n"
              "   -t \n"
              "   -u x y [Text]\n"
              "   -s 9 [First]\n"
              "   -s 8 [Shadowed]\n",
              Help(kinds));
}

TEST(CmdLineTest, LookupsMatchWholeNamesOfTheirKindsOnly)
{
    CCmdLine options;
    DeclareOptions(options);
    // A kind that does not suit the record class would be read through the wrong one.
    EXPECT_EQ(0, options.AddNumber("t", OPT_TEXT, 0, ""));
    EXPECT_EQ(0, options.AddText("u", OPT_DEC, "", ""));
    EXPECT_EQ(0, options.AddText("w", OPT_WORD, "", ""));
    EXPECT_EQ(1, Parse(options, "-s 9 word"));
    EXPECT_STREQ("C:\\", options.GetText("D"));
    EXPECT_EQ(nullptr, options.GetText("s"));
    EXPECT_EQ(nullptr, options.GetText("word"));
    EXPECT_EQ(nullptr, options.GetText("size")); // declared, but its text is empty
    EXPECT_EQ(9, options.GetNumber("S"));
    EXPECT_EQ(0, options.GetNumber("d"));
    EXPECT_EQ(0, options.GetNumber("si"));
    EXPECT_EQ(0, options.GetNumber("t"));
    EXPECT_EQ(ExpectedHelp(options), Help(options));
    options.Clear();
    EXPECT_EQ(nullptr, options.GetFirst());
}

TEST(CmdLineTest, LongWordsAndNamesAreFormattedWhole)
{
    const std::string name(5000, 'n');
    const std::string text(300000, 'x');
    CCmdLine options;
    ASSERT_EQ(1, options.AddText(name.c_str(), OPT_TEXT, "", name.c_str()));
    ASSERT_EQ(1, options.AddNumber("s", OPT_DEC, 1, ""));
    EXPECT_EQ(1, Parse(options, "-" + name + " \"" + text + "\" " + text + " -s 2"));
    EXPECT_EQ(text, Text(options, name.c_str()));
    EXPECT_EQ(text, Words(options));
    EXPECT_EQ("   @<file> [command file]\n   -" + name + " " + text + " [" + name + "]\n" +
                  "   -s 2 \n",
              Help(options));
}

TEST(CmdLineTest, CommandFilesWithAnyLineEndsActLikeTheirText)
{
    const char *contents[] = {
        "-s 100\n-b 64\n",
        "-s 100\r\n-b 64\r\n",
        "-s 100\n-b 64",
        "\n\r\n-s 100\n   \n\t\r\n-b 64\r\n\n",
        "-s 100 -d \"Z:\\a b\"\n-b 64 -d C:\\",
    };
    CTempFolder folder;
    for (const char *content : contents)
    {
        ASSERT_TRUE(WriteWholeFile(folder.File("opts.txt"), content));
        ExpectCase({"-l 0 @" + Quoted(folder.File("opts.txt")) + " -m 7", 1, "s=100 b=64 l=0 m=7"});
    }
}

TEST(CmdLineTest, CommandFilesNestAndFailuresKeepTheRest)
{
    CTempFolder folder;
    const std::string outer = folder.File("my opts.txt");
    const std::string inner = folder.File("inner.txt");
    const std::string failing = folder.File("failing.txt");
    const std::string self = folder.File("self.txt");
    ASSERT_TRUE(WriteWholeFile(outer, "-s 100\n@" + Quoted(inner) + "\n-l 4\n"));
    ASSERT_TRUE(WriteWholeFile(inner, "-b 64 -d \"Z:\\x y\"\n"));
    ASSERT_TRUE(WriteWholeFile(failing, "-s 1\n-x\n-b 2\n"));
    // Names itself: must end in a failure instead of recursing until the stack is gone.
    ASSERT_TRUE(WriteWholeFile(self, "-s 5\n@" + Quoted(self) + "\n-b 7\n"));
    // Unquoted, a name ends at its first space and the rest become free words.
    std::string outerRest = outer.substr(outer.find(' ') + 1);
    std::replace(outerRest.begin(), outerRest.end(), ' ', '|');

    const SCase cases[] = {
        {"@" + Quoted(outer) + " -m 3", 1, "d=Z:\\x y s=100 b=64 l=4 m=3"},
        {"-s 5 @" + Quoted(folder.File("missing.txt")) + " -b 6", 0, "s=5 b=6"},
        {"@" + outer + " -b 6", 0, "b=6 words=" + outerRest},
        {"@" + Quoted(failing) + " -l 0", 0, "s=1 l=0 words=x"},
        {"-l 3 @" + Quoted(self) + " -d Z", 0, "d=Z s=5 l=3"},
    };
    for (const SCase &c : cases)
        ExpectCase(c);
}

TEST(CmdLineTest, CommandFilesNestSixteenDeep)
{
    for (int depth : {CMDLINE_MAX_FILE_DEPTH, CMDLINE_MAX_FILE_DEPTH + 1})
    {
        CTempFolder folder;
        auto level = [&](int n) { return folder.File("level" + std::to_string(n) + ".txt"); };
        for (int n = 1; n < depth; n++)
            ASSERT_TRUE(WriteWholeFile(level(n), "-l " + std::to_string(n) + "\n@" +
                                                     Quoted(level(n + 1))));
        ASSERT_TRUE(WriteWholeFile(level(depth), "-b 64\n"));
        bool fits = depth <= CMDLINE_MAX_FILE_DEPTH;
        std::string changes = fits ? "s=9 b=64 l=" : "s=9 l=";
        ExpectCase({"@" + Quoted(level(1)) + " -s 9", fits, changes + std::to_string(depth - 1)});
    }
}

namespace
{

// Builds command texts from pieces that stress the parser, and mutates earlier ones.
// "@" appears only in front of a known file name and a space, so that no random word
// is ever opened as a file (a device name such as CON would wait for input).
class CCommandFuzzer
{
public:
    explicit CCommandFuzzer(const CTempFolder &folder) : m_Random(20240611)
    {
        m_Pieces = {"-", "/", "s", "S", "size", "d", "b", "l", "m", "v", "x", "0x", "-1", "010",
                    "ff", "99999999999999999999999", " ", "  ", "\t", "\"", "\"\"", "\"a b\"",
                    "\x81", "\xE0\x40", "\xFE", "\x81\"", "\x82 ", "-d", "-s", "/size"};
        for (const char *file : {"opts.txt", "self.txt", "bad.txt", "missing.txt"})
            m_Pieces.push_back("@" + Quoted(folder.File(file)) + " ");
    }

    std::string Next()
    {
        std::vector<std::string> pieces;
        if (!m_Corpus.empty() && Below(3) != 0)
            pieces = Mutate(m_Corpus[Below(m_Corpus.size())]);
        for (size_t count = pieces.empty() ? 1 + Below(12) : 0; count > 0; count--)
            pieces.push_back(Piece());
        m_Corpus.resize(std::min<size_t>(m_Corpus.size() + 1, 64));
        m_Corpus[Below(m_Corpus.size())] = pieces;
        std::string text;
        for (const std::string &piece : pieces)
            text += piece;
        return Below(8) == 0 ? text + "@" : text; // "@" with nothing after it
    }

private:
    size_t Below(size_t bound)
    {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(m_Random);
    }

    std::string RandomBytes(size_t count)
    {
        std::string bytes;
        while (bytes.size() < count)
        {
            char byte = static_cast<char>(1 + Below(255));
            if (byte != '@' && byte != '\r' && byte != '\n')
                bytes += byte;
        }
        return bytes;
    }

    std::string Piece()
    {
        size_t choice = Below(40);
        if (choice < 3)
            return RandomBytes(1 + Below(8));
        if (choice == 3)
            return RandomBytes(50 + Below(500));
        if (choice == 4)
            return std::string(1000 + Below(40000), "aZ9"[Below(3)]);
        if (choice == 5) // quote runs collapse in quadratic time: keep them short
            return std::string(100 + Below(2000), '"');
        return m_Pieces[Below(m_Pieces.size())];
    }

    // Inserts, drops, doubles or garbles one piece; file pieces are never garbled.
    std::vector<std::string> Mutate(std::vector<std::string> pieces)
    {
        size_t at = Below(pieces.size() + 1);
        size_t how = pieces.size() > 16 ? 1 : Below(4); // keep texts from growing forever
        if (how == 0 || at == pieces.size())
            pieces.insert(pieces.begin() + at, Piece());
        else if (how == 1)
            pieces.erase(pieces.begin() + at);
        else if (how == 2)
            pieces.insert(pieces.begin() + at, pieces[at]);
        else if (pieces[at].find('@') == std::string::npos)
            pieces[at][Below(pieces[at].size())] = RandomBytes(1)[0];
        return pieces;
    }

    std::mt19937 m_Random;
    std::vector<std::string> m_Pieces;
    std::vector<std::vector<std::string>> m_Corpus;
};

} // namespace

TEST(CmdLineTest, RandomCommandTextsParseAndLeaveWellFormedHelp)
{
    CTempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder.File("opts.txt"), "-s 100\r\n-d \"Z:\\a b\"\n-v\n"));
    const std::string self = folder.File("self.txt");
    ASSERT_TRUE(WriteWholeFile(self, "-b 3\n@" + Quoted(self)));
    ASSERT_TRUE(WriteWholeFile(folder.File("bad.txt"), "\"\"\" -x -m\n-d \xE0\"\n\x81 -s\n"));
    CCommandFuzzer fuzzer(folder);
    for (int iteration = 0; iteration < 1500; iteration++)
    {
        std::string command = fuzzer.Next();
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        CCmdLine options;
        DeclareOptions(options);
        int result = Parse(options, command);
        ASSERT_TRUE(result == 0 || result == 1);
        // One line per declared option, each ending in a line feed, showing the values
        // that the lookups give.
        ASSERT_EQ(ExpectedHelp(options), Help(options));
    }
}
