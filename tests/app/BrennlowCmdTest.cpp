// The real program, run as a child process in a scratch working folder, with its
// standard output read through a pipe.
#include "DeploymentSettings.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace
{

// The build passes the program's path; a path of the build host becomes one on Wine's
// drive Z:.
std::string ProgramPath()
{
    std::string path = BRENNLOW_CMD_EXE;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char &ch : path)
        if (ch == '/')
            ch = '\\';
    return path;
}

class CPipe
{
public:
    CPipe() : m_hRead(NULL), m_hWrite(NULL)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
        CreatePipe(&m_hRead, &m_hWrite, &inherit, 0);
        SetHandleInformation(m_hRead, HANDLE_FLAG_INHERIT, 0);
    }
    ~CPipe()
    {
        CloseWriteEnd();
        if (m_hRead)
            CloseHandle(m_hRead);
    }
    HANDLE WriteEnd() const { return m_hWrite; }
    void CloseWriteEnd()
    {
        if (m_hWrite)
            CloseHandle(m_hWrite);
        m_hWrite = NULL;
    }
    std::string ReadAll()
    {
        std::string text;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(m_hRead, chunk, sizeof(chunk), &got, NULL) && got > 0)
            text.append(chunk, got);
        return text;
    }

private:
    HANDLE m_hRead;
    HANDLE m_hWrite;
};

struct ChildRun
{
    std::string output;
    DWORD exitCode;
};

ChildRun RunProgram(const std::string &arguments, const std::string &workFolder)
{
    ChildRun run = {"", 0xFFFFFFFF};
    CPipe pipe;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = pipe.WriteEnd();
    startup.hStdError = pipe.WriteEnd();
    std::string commandLine = "\"" + ProgramPath() + "\" " + arguments;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, mutableLine.data(), NULL, NULL, TRUE, 0, NULL,
                        workFolder.c_str(), &startup, &process))
    {
        ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
        return run;
    }
    pipe.CloseWriteEnd();
    // The runtime writes text mode: every line feed arrives as a CR LF pair.
    run.output = std::regex_replace(pipe.ReadAll(), std::regex("\r\n"), "\n");
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

const std::string kBanner = "BrennlowCmd [1.01] " BRENNLOW_WEB_ADDRESS "\n";

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string RegexEscape(const std::string &text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// The log's lines, each still ending in its "\r\n"; a rest without one comes last.
std::vector<std::string> LogLines(const CTempFolder &work)
{
    std::string text;
    std::vector<std::string> lines;
    if (!ReadWholeFile(work.File("BrennlowCmd.txt"), &text))
        return lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string TodayLongDate()
{
    char date[256] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, NULL, NULL, date, sizeof(date));
    return date;
}

// A line with only the time of a run that stopped early.
void ExpectTimeOnlyLine(const std::string &line)
{
    EXPECT_EQ(0u, line.rfind(TodayLongDate() + " ", 0)) << line;
    EXPECT_EQ(std::string::npos, line.find('\t')) << line;
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ("\r\n", line.substr(line.size() - 2));
}

bool FolderIsEmpty(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool empty = true;
    do
    {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            empty = false;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

const std::regex kCompleteRun(RegexEscape(kBanner) + "Performing write test\\.\n"
                                        "Performing read test\\.\n"
                                        "read: (\\d+) write: (\\d+)\n");
const std::regex kCompleteLogLine("[^\t\r\n]+ [^\t\r\n]+\tread:\t([^\t]+)\t(\\d+)"
                                  "\twrite:\t([^\t]+)\t(\\d+)\r\n");

} // namespace

TEST(BrennlowCmdTest, SmallRunPrintsBothRatesLogsThemAndCleansUp)
{
    CTempFolder work;
    CTempFolder drive;
    ChildRun run = RunProgram("-d " + Quoted(drive.Path()) + " -s 8 -b 64", work.Path());
    EXPECT_EQ(0u, run.exitCode);
    std::smatch printed;
    ASSERT_TRUE(std::regex_match(run.output, printed, kCompleteRun)) << run.output;

    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(1u, lines.size());
    std::smatch logged;
    ASSERT_TRUE(std::regex_match(lines[0], logged, kCompleteLogLine)) << lines[0];
    EXPECT_EQ(0u, lines[0].rfind(TodayLongDate() + " ", 0)) << lines[0];
    EXPECT_EQ(printed[1].str(), logged[2].str());
    EXPECT_EQ(printed[2].str(), logged[4].str());
    for (int rate : {1, 3})
        EXPECT_TRUE(std::regex_match(logged[rate].str(),
                                     std::regex("\\d+(\\.\\d)? [kMGT]?Byte/sec|\\[too fast\\]")))
            << logged[rate].str();
    EXPECT_TRUE(FolderIsEmpty(drive.Path()));
}

TEST(BrennlowCmdTest, UnknownOptionPrintsHelpWithCurrentValuesAndDoesNothing)
{
    struct Case
    {
        std::string arguments;
        std::string help;
    } cases[] = {
        {"-x",
         "   @<file> [command file]\n"
         "   -d C:\\ [Drive for testing]\n"
         "   -s 1000 [File size in MB]\n"
         "   -b 1024 [Block size in kB]\n"
         "   -l 1 [Create log file]\n"},
        {"-s 50 -x -d Q:\\ -b 8 -l 0",
         "   @<file> [command file]\n"
         "   -d Q:\\ [Drive for testing]\n"
         "   -s 50 [File size in MB]\n"
         "   -b 8 [Block size in kB]\n"
         "   -l 0 [Create log file]\n"},
    };
    for (const Case &c : cases)
    {
        CTempFolder work;
        ChildRun run = RunProgram(c.arguments, work.Path());
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(kBanner + c.help, run.output) << c.arguments;
        EXPECT_TRUE(FolderIsEmpty(work.Path())) << c.arguments;
    }
    EXPECT_FALSE(PathExists("C:\\BrennlowTest"));
}

TEST(BrennlowCmdTest, LogLineOnlyWhenLoggingIsExactlyOne)
{
    for (const char *logging : {"0", "2", "-1"})
    {
        CTempFolder work;
        CTempFolder drive;
        ChildRun run = RunProgram("-d " + Quoted(drive.Path()) + " -s 1 -b 64 -l " + logging,
                             work.Path());
        EXPECT_TRUE(std::regex_match(run.output, kCompleteRun)) << run.output;
        EXPECT_FALSE(PathExists(work.File("BrennlowCmd.txt"))) << logging;
    }
}

TEST(BrennlowCmdTest, SuccessiveRunsAppendCompleteLines)
{
    CTempFolder work;
    CTempFolder drive;
    for (int i = 0; i < 2; i++)
        RunProgram("-d " + Quoted(drive.Path()) + " -s 1 -b 64", work.Path());
    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(2u, lines.size());
    for (const std::string &line : lines)
        EXPECT_TRUE(std::regex_match(line, kCompleteLogLine)) << line;
}

// Sizes that leave nothing to transfer, and block sizes whose allocation would wrap in
// 32 bits, stop before the passes; the time of the run is logged as a line of its own,
// so that the next run's line starts on a fresh line.
TEST(BrennlowCmdTest, UnusableSizesStopBeforeThePassesAndLogATimeOnlyLine)
{
    for (const char *sizes : {"-s 0", "-b 0", "-b 4194304", "-b -1", "-b 4194303",
                              "-b 4194300"})
    {
        CTempFolder work;
        CTempFolder drive;
        ChildRun run = RunProgram("-d " + Quoted(drive.Path()) + " " + sizes, work.Path());
        EXPECT_EQ(0u, run.exitCode) << sizes;
        EXPECT_EQ(kBanner, run.output) << sizes;
        EXPECT_TRUE(FolderIsEmpty(drive.Path())) << sizes;
        std::vector<std::string> lines = LogLines(work);
        ASSERT_EQ(1u, lines.size()) << sizes;
        ExpectTimeOnlyLine(lines[0]);

        RunProgram("-d " + Quoted(drive.Path()) + " -s 1 -b 64", work.Path());
        lines = LogLines(work);
        ASSERT_EQ(2u, lines.size()) << sizes;
        EXPECT_TRUE(std::regex_match(lines[1], kCompleteLogLine)) << lines[1];
    }
}

// With or without a trailing backslash the test folder lies directly under the drive
// text, and a test file left over there is replaced and then removed with its folder.
TEST(BrennlowCmdTest, TestFolderUnderTheDriveTextIsRemovedWithALeftover)
{
    for (const char *trailing : {"", "\\"})
    {
        CTempFolder work;
        CTempFolder drive;
        ASSERT_TRUE(CreateDirectoryA(drive.File("BrennlowTest").c_str(), NULL));
        ASSERT_TRUE(WriteWholeFile(drive.File("BrennlowTest\\BrennlowTest.bin"), "leftover"));
        ChildRun run = RunProgram("-d " + drive.Path() + trailing + " -s 1 -b 64", work.Path());
        EXPECT_TRUE(std::regex_match(run.output, kCompleteRun)) << run.output;
        EXPECT_TRUE(FolderIsEmpty(drive.Path())) << trailing;
    }
}

TEST(BrennlowCmdTest, UnwritableDriveStopsAtTheWritePassAndLeavesNothing)
{
    CTempFolder work;
    CTempFolder drive;
    // A file where the test folder's parent should be: nothing can be created below it.
    std::string blocker = drive.File("blocker");
    ASSERT_TRUE(WriteWholeFile(blocker, "x"));
    ChildRun run = RunProgram("-d " + Quoted(blocker) + " -s 1 -b 64", work.Path());
    EXPECT_EQ(0u, run.exitCode);
    std::regex expected(RegexEscape(kBanner + "Performing write test.\nCan't open test file " +
                                    blocker + "\\BrennlowTest\\BrennlowTest.bin.\nError ") +
                        "\\d+ - [^\n]*\\.\n");
    EXPECT_TRUE(std::regex_match(run.output, expected)) << run.output;

    std::string content;
    ASSERT_TRUE(ReadWholeFile(blocker, &content));
    EXPECT_EQ("x", content);
    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(1u, lines.size());
    ExpectTimeOnlyLine(lines[0]);
}
