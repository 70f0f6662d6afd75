#include "base/CmdLine.h"

#include "TestSupport.h"

namespace
{
const struct SNumber { const char *name; UINT32 kind; long long initial; const char *description; }
    kNumbers[] = {{"s", OPT_DEC, 1000, "File size in MB"}, {"b", OPT_DEC, 1024, "Block size in kB"},
                  {"l", OPT_DEC, 1, "Create log file"}, {"m", OPT_HEX, 0x1F, "Mask"},
                  {"v", OPT_FLAG, 0, ""}};

// Declares the driver's options, a hexadecimal one, a switch, and "size", which "s"
// shadows.
void Declare(CCmdLine &options)
{
    ASSERT_EQ(1, options.AddText("d", OPT_TEXT, "C:\\", "Drive for testing"));
    for (const SNumber &n : kNumbers)
        ASSERT_EQ(1, options.AddNumber(n.name, n.kind, n.initial, n.description));
    ASSERT_EQ(1, options.AddText("size", OPT_TEXT, "", "never reached"));
}

// Parses command into fresh options. Returns the parse result, then what differs from the
// declared defaults, as in "1 s=5 w=free w=word"; help gets the help text.
std::string Parse(const std::string &command, std::string *help = nullptr)
{
    CCmdLine options;
    Declare(options);
    CStr text, shown;
    text = command.c_str();
    std::string changes = std::to_string(options.ParseText(text));
    std::string d = options.GetText("d") ? options.GetText("d") : "";
    changes += d == "C:\\" ? "" : " d=" + d;
    for (const SNumber &n : kNumbers)
        if (options.GetNumber(n.name) != n.initial)
            changes += " " + std::string(n.name) + "=" + std::to_string(options.GetNumber(n.name));
    for (CListItem *item = options.GetFirst(); item; item = options.GetNext(item))
        if (static_cast<COptNamed *>(item)->m_nKind == OPT_WORD)
            changes += " w=" + std::string(static_cast<COptText *>(item)->m_Text.GetText());
    options.GetHelp(shown);
    if (help)
        *help = shown.GetText();
    return changes;
}

std::string AtFile(const CTempFolder &folder, const std::string &name)
{
    return "@\"" + folder.File(name) + "\"";
}
} // namespace

TEST(CmdLineTest, CommandTextsGiveValuesWordsResultAndHelp)
{
    const std::string longWord(100000, 'x');
    const std::pair<std::string, std::string> cases[] = {
        // Prefix matching and case; an unmatched option is parsed again as a word
        {"", "1"}, {"-s5", "1 s=5"}, {"-S5 /B 6 -L0 -D x", "1 d=x s=5 b=6 l=0"},
        {"-size 5", "1 w=5"}, {"-s -b 5", "1 w=5"}, {"-x -s 50", "0 s=50 w=x"}, {"--s 5", "0 s=5"},
        {"-", "0"}, {"@   ", "0"},
        // Numbers in C notation, "m" in hexadecimal; unreadable ones keep the value
        {"-s 0x10 -b 010 -l -1", "1 s=16 b=8 l=-1"}, {"-s +7 -b 5x", "1 s=7 b=5"},
        {"-s 12345678901 -m ff", "1 s=12345678901 m=255"}, {"-m 0x1a -v", "1 m=26 v=1"},
        {"-vs 5", "1 v=1 w=s w=5"}, {"-s abc -b=6 -m zz -l \"5\"", "1"}, {"-l", "1"},
        // Text and quotes
        {"-d X -d", "0 d= w=d"}, {"-d \"D:\\My Disk\"", "1 d=D:\\My Disk"},
        {"-d a\"\"\"\"b", "1 d=a\"b"}, {"-d \"a\"\"b\" -s 2", "1 d=a\"b s=2"},
        {"-d a\"b c\"d -s 2", "1 d=a\"b c\"d s=2"}, {"-dE:\\", "1 d=E:\\"}, {"-d \"", "1 d="},
        {"-d \"\" -s 3", "1 d= s=3"},
        {"-d " + longWord + " " + longWord, "1 d=" + longWord + " w=" + longWord},
        // Free words, tabs and white space; repeated options, of which the last one wins
        {"foo bar -s 3 baz", "1 s=3 w=foo w=bar w=baz"}, {"\"a b\" x\"\"y", "1 w=a b w=x\"y"},
        {"-s 5\t-b 6", "1 s=5 w=6"}, {"-l 0 \t-b 6", "1 l=0 w=\t-b w=6"}, {" \t -s 7 \t ", "1 s=7"},
        {"-s 1 -s 2 /S 3 -d A -d B", "1 d=B s=3"}};
    for (const auto &c : cases)
        EXPECT_EQ(c.second, Parse(c.first)) << c.first.substr(0, 200);
    // Collapsing pair after pair took 19 s for these quotes.
    DWORD start = GetTickCount();
    EXPECT_EQ("1 d=x\"y s=3", Parse("-d x" + std::string(200000, '"') + "y -s 3"));
    EXPECT_LT(GetTickCount() - start, 5000u);
    // The help shows the values as parsed, "m" in hexadecimal.
    std::string help;
    EXPECT_EQ("1 d= s=5 m=26 v=1", Parse("-d \"\" -s 5 -m 1a -v", &help));
    EXPECT_EQ("   @<file> [command file]\n   -d [Drive for testing]\n   -s 5 [File size in MB]\n"
              "   -b 1024 [Block size in kB]\n   -l 1 [Create log file]\n   -m 0x1A [Mask]\n"
              "   -v \n   -size [never reached]\n", help);
}

TEST(CmdLineTest, DeclarationsOfAWrongKindFailAndLookupsMatchTheirKind)
{
    CCmdLine options;
    Declare(options);
    // A record of the wrong class for its kind would later be read through the other one.
    EXPECT_EQ(0, options.AddNumber("t", OPT_TEXT, 0, ""));
    EXPECT_EQ(0, options.AddText("u", OPT_DEC, "", ""));
    EXPECT_EQ(0, options.AddText("w", OPT_WORD, "", ""));
    EXPECT_EQ(nullptr, options.GetText("s"));
    EXPECT_EQ(nullptr, options.GetText("size")); // declared, but its text is empty
    EXPECT_EQ(0, options.GetNumber("d"));
}

TEST(CmdLineTest, CommandFilesActLikeTheirTextAndFailSafely)
{
    CTempFolder folder;
    // A NUL byte once toggled quoting, and bytes without a Latin-1 meaning became "?".
    const std::string drive = "C:\\\x80\x9F\xE9x", twice = AtFile(folder, "twice");
    std::vector<std::pair<std::string, std::string>> files = {
        {"bytes", std::string("\0-s 5\n-l 6\n-d ", 13) + drive + "\r\n"},
        {"twice", "w " + twice + " " + twice + "\n"},
        {"lf", "-s 100\n-b 64\n"}, {"crlf", "\n\r\n-s 100\r\n   \n\t\r\n-b 64"},
        {"outer", "-s 100\n" + AtFile(folder, "inner") + "\n-l 4\n"},
        {"inner", "-b 64 -d \"Z:\\x y\"\r\n"}, {"failing", "-s 1\n-x\n-b 2\n"},
        {"self", "-s 5\n" + AtFile(folder, "self") + "\n-b 7\n"}};
    // A chain of files, each naming the next: 16 deep are read, 17 are not.
    for (int n = 1; n <= CMDLINE_MAX_FILE_DEPTH; n++)
        files.push_back({std::to_string(n), "-l " + std::to_string(n) + "\n" +
                                                AtFile(folder, std::to_string(n + 1))});
    files.push_back({std::to_string(CMDLINE_MAX_FILE_DEPTH + 1), "-b 64\n"});
    std::string words; // one for each reading of "twice"
    for (int n = 0; n < CMDLINE_MAX_FILES; n++)
        words += " w=w";
    for (const auto &file : files)
        ASSERT_TRUE(WriteWholeFile(folder.File(file.first), file.second));
    const std::pair<std::string, std::string> cases[] = {
        {"-l 0 " + AtFile(folder, "lf") + " -m 7", "1 s=100 b=64 l=0 m=7"},
        {"-l 0 " + AtFile(folder, "crlf") + " -m 7", "1 s=100 b=64 l=0 m=7"},
        {AtFile(folder, "outer") + " -m 3", "1 d=Z:\\x y s=100 b=64 l=4 m=3"},
        {"-s 5 " + AtFile(folder, "missing") + " -b 6", "0 s=5 b=6"},
        {AtFile(folder, "failing") + " -l 0", "0 s=1 l=0 w=x"},
        // Must end in a failure instead of recursing until the stack is gone.
        {"-l 3 " + AtFile(folder, "self") + " -d Z", "0 d=Z s=5 l=3"},
        {AtFile(folder, "2") + " -s 9", "1 s=9 b=64 l=16"},
        {AtFile(folder, "1") + " -s 9", "0 s=9 l=16"},
        {AtFile(folder, "bytes"), "1 d=" + drive + " s=5 l=6"},
        // The depth alone let a file naming itself twice be read 2^17 times.
        {twice + " -s 7", "0 s=7" + words}};
    for (const auto &c : cases)
        EXPECT_EQ(c.second, Parse(c.first)) << c.first;
}
