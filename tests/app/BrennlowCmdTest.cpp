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

// The build passes the program's path; one of the build host lies on Wine's drive Z:.
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

// Everything the program printed, with the runtime's CR LF line ends as plain LF.
std::string RunProgram(const std::string &arguments, const std::string &workFolder)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd = NULL;
    HANDLE writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return "(no pipe)";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    std::string commandLine = "\"" + ProgramPath() + "\" " + arguments;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(NULL, &commandLine[0], NULL, NULL, TRUE, 0, NULL,
                                  workFolder.c_str(), &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (started && ReadFile(readEnd, chunk, sizeof(chunk), &got, NULL) && got > 0)
        output.append(chunk, got);
    CloseHandle(readEnd);
    if (!started)
        return "(cannot start " + commandLine + ")";
    DWORD exitCode = 1;
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, exitCode) << arguments;
    return std::regex_replace(output, std::regex("\r\n"), "\n");
}

const std::string kBanner = "BrennlowCmd [1.01] " BRENNLOW_WEB_ADDRESS "\n";
const std::regex kCompleteRun("Performing write test\\.\nPerforming read test\\.\n"
                              "read: (\\d+) write: (\\d+)\n");
const std::regex kCompleteLogLine("[^\t\r\n]+ [^\t\r\n]+\tread:\t([^\t]+)\t(\\d+)"
                                  "\twrite:\t([^\t]+)\t(\\d+)\r\n");

// The lines of the log in the working folder, each with its own "\r\n" if it has one.
std::vector<std::string> LogLines(const CTempFolder &work)
{
    std::string text;
    std::vector<std::string> lines;
    ReadWholeFile(work.File("BrennlowCmd.txt"), &text);
    for (size_t start = 0, end; start < text.size(); start = end)
    {
        end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string TodayLongDate()
{
    char date[256] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, NULL, NULL, date, sizeof(date));
    return date;
}

// The line of a run that stopped early: today's date and the time, ended like any other.
void ExpectTimeOnlyLine(const std::string &line)
{
    EXPECT_TRUE(std::regex_match(line, std::regex("[^\t\r\n]+ [^\t\r\n]+\r\n"))) << line;
    EXPECT_EQ(0u, line.rfind(TodayLongDate() + " ", 0)) << line;
}

bool FolderIsEmpty(const std::string &folder)
{
    return FolderEntries(folder).empty();
}

std::string DriveOption(const CTempFolder &drive, const std::string &sizes)
{
    return "-d \"" + drive.Path() + "\" " + sizes;
}

} // namespace

TEST(BrennlowCmdTest, SmallRunPrintsBothRatesLogsThemAndCleansUp)
{
    CTempFolder work;
    CTempFolder drive;
    std::string output = RunProgram(DriveOption(drive, "-s 8 -b 64"), work.Path());
    ASSERT_EQ(0u, output.find(kBanner)) << output;
    std::smatch printed;
    std::string rest = output.substr(kBanner.size());
    ASSERT_TRUE(std::regex_match(rest, printed, kCompleteRun)) << output;

    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(1u, lines.size());
    std::smatch logged;
    ASSERT_TRUE(std::regex_match(lines[0], logged, kCompleteLogLine)) << lines[0];
    EXPECT_EQ(0u, lines[0].rfind(TodayLongDate() + " ", 0)) << lines[0];
    EXPECT_EQ(printed[1].str(), logged[2].str());
    EXPECT_EQ(printed[2].str(), logged[4].str());
    const std::regex rateText("\\d+(\\.\\d)? [kMGT]?Byte/sec|\\[too fast\\]");
    EXPECT_TRUE(std::regex_match(logged[1].str(), rateText)) << logged[1];
    EXPECT_TRUE(std::regex_match(logged[3].str(), rateText)) << logged[3];
    EXPECT_TRUE(FolderIsEmpty(drive.Path()));
}

TEST(BrennlowCmdTest, UnknownOptionPrintsHelpWithCurrentValuesAndDoesNothing)
{
    struct Case
    {
        const char *arguments;
        const char *help;
    } cases[] = {
        {"-x", "   @<file> [command file]\n   -d C:\\ [Drive for testing]\n"
               "   -s 1000 [File size in MB]\n   -b 1024 [Block size in kB]\n"
               "   -l 1 [Create log file]\n"},
        {"-s 50 -x -d Q:\\ -b 8 -l 0",
         "   @<file> [command file]\n   -d Q:\\ [Drive for testing]\n"
         "   -s 50 [File size in MB]\n   -b 8 [Block size in kB]\n"
         "   -l 0 [Create log file]\n"},
    };
    for (const Case &c : cases)
    {
        CTempFolder work;
        EXPECT_EQ(kBanner + c.help, RunProgram(c.arguments, work.Path())) << c.arguments;
        EXPECT_TRUE(FolderIsEmpty(work.Path())) << c.arguments;
    }
    EXPECT_FALSE(PathExists("C:\\BrennlowTest"));
}

// Only a logging value of exactly 1 writes, and each such run adds a complete line.
TEST(BrennlowCmdTest, LogLinesOnlyWhenLoggingIsExactlyOne)
{
    CTempFolder work;
    CTempFolder drive;
    for (const char *logging : {"0", "1", "2", "-1", "1"})
    {
        std::string output = RunProgram(DriveOption(drive, "-s 1 -b 64 -l ") + logging,
                                        work.Path());
        EXPECT_TRUE(std::regex_search(output, kCompleteRun)) << output;
    }
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
    for (const char *sizes : {"-s 0", "-b 0", "-b 4194304", "-b -1", "-b 4194303", "-b 4194300"})
    {
        CTempFolder work;
        CTempFolder drive;
        EXPECT_EQ(kBanner, RunProgram(DriveOption(drive, sizes), work.Path())) << sizes;
        EXPECT_TRUE(FolderIsEmpty(drive.Path())) << sizes;

        RunProgram(DriveOption(drive, "-s 1 -b 64"), work.Path());
        std::vector<std::string> lines = LogLines(work);
        ASSERT_EQ(2u, lines.size()) << sizes;
        ExpectTimeOnlyLine(lines[0]);
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
        std::string output =
            RunProgram("-d " + drive.Path() + trailing + " -s 1 -b 64", work.Path());
        EXPECT_TRUE(std::regex_search(output, kCompleteRun)) << output;
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
    std::string output = RunProgram("-d " + blocker + " -s 1 -b 64", work.Path());
    std::string expected = kBanner + "Performing write test.\nCan't open test file " +
                           blocker + "\\BrennlowTest\\BrennlowTest.bin.\nError ";
    EXPECT_EQ(0u, output.find(expected)) << output;
    EXPECT_EQ(std::string::npos, output.find("Performing read")) << output;

    std::string content;
    ASSERT_TRUE(ReadWholeFile(blocker, &content));
    EXPECT_EQ("x", content);
    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(1u, lines.size());
    ExpectTimeOnlyLine(lines[0]);
}
