#include "DeploymentSettings.h"
#include "base/Str.h"

#include "TestSupport.h"

#include <algorithm>
#include <regex>

namespace
{

// Everything the program printed, with the runtime's CR LF line ends as plain LF.
std::string RunProgram(const std::string &arguments, const std::string &workFolder)
{
    // The build passes the program's path on the build host, which Wine shows as drive Z:.
    std::string commandLine = "\"Z:" BRENNLOW_CMD_EXE "\" " + arguments;
    std::replace(commandLine.begin(), commandLine.begin() + commandLine.find('"', 1), '/', '\\');
    CTempFolder outputFolder;
    std::string outputPath = outputFolder.File("stdout.txt");
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     &inherit, CREATE_ALWAYS, 0, NULL);
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 1;
    if (CreateProcessA(NULL, &commandLine[0], NULL, NULL, TRUE, 0, NULL, workFolder.c_str(),
                       &startup, &process))
        WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &exitCode);
    for (HANDLE handle : {process.hThread, process.hProcess, startup.hStdOutput})
        CloseHandle(handle);
    EXPECT_EQ(0u, exitCode) << commandLine;
    std::string output;
    ReadWholeFile(outputPath, &output);
    return std::regex_replace(output, std::regex("\r\n"), "\n");
}

const std::string kBanner = "BrennlowCmd [1.01] " BRENNLOW_WEB_ADDRESS "\n";
const std::regex kCompleteRun("Performing write test\\.\nPerforming read test\\.\n"
                              "read: (\\d+) write: (\\d+)\n");
const std::regex kCompleteLogLine("[^\t\r\n]+ [^\t\r\n]+\tread:\t([^\t]+)\t(\\d+)"
                                  "\twrite:\t([^\t]+)\t(\\d+)\r\n");
const std::regex kTimeOnlyLogLine("[^\t\r\n]+ [^\t\r\n]+\r\n");

// The lines of the log in the working folder, each with its own "\r\n" if it has one.
std::vector<std::string> LogLines(const CTempFolder &work)
{
    std::string text;
    ReadWholeFile(work.File("BrennlowCmd.txt"), &text);
    const std::regex line("[^\n]*\n|[^\n]+$");
    return {std::sregex_token_iterator(text.begin(), text.end(), line), {}};
}

} // namespace

// One log for a sequence of runs: a run that parsed its options adds one line when logging
// is 1, complete or (stopped early) the date and time alone; help adds none. No run leaves
// a test folder behind.
TEST(BrennlowCmdTest, RunsPrintTheirStepsLogOneLineEachAndCleanUp)
{
    CTempFolder work, drive;
    // A file where the test folder's parent should be: nothing can be created below it.
    const std::string blocker = drive.File("blocker");
    ASSERT_TRUE(WriteWholeFile(blocker, "x"));
    const std::string d = "-d \"" + drive.Path() + "\" ";
    enum Kind { Prints, Completes };
    const struct { std::string arguments; Kind kind; bool logged; std::string printed; } cases[] = {
        {"-x", Prints, false,
         "   @<file> [command file]\n   -d C:\\ [Drive for testing]\n   -s 1000 [File size in MB]\n"
         "   -b 1024 [Block size in kB]\n   -l 1 [Create log file]\n"},
        // Nothing to transfer, and block sizes that do not fit the 32-bit allocation
        // size once aligned, however the kB value wraps.
        {d + "-s 0", Prints, true, ""}, {d + "-b 0", Prints, true, ""},
        {d + "-s 1 -b 8388609", Prints, true, ""}, {d + "-s 1 -b -4194303", Prints, true, ""},
        {d + "-b -1", Prints, true, ""}, {d + "-b 4194300", Prints, true, ""},
        {"-d " + blocker + " -s 1 -b 64", Prints, true,
         "Performing write test.\nCan't open test file " + blocker +
             "\\BrennlowTest\\BrennlowTest.bin.\nError 3 - " + ErrorText(3, nullptr) + ".\n"},
        {d + "-s 1 -b 64 -l 2", Completes, false, ""},
        {d + "-s 1 -b 64 -l -1", Completes, false, ""},
        // The test folder lies under the drive text, with or without a trailing backslash; a
        // test file left over there is replaced and then removed.
        {"-d " + drive.Path() + " -s 1 -b 64", Completes, true, ""},
        {"-d " + drive.Path() + "\\ -s 8 -b 64", Completes, true, ""},
    };
    std::vector<Kind> logged;
    std::string results; // of the last complete run, as printed
    for (const auto &c : cases)
    {
        if (c.kind == Completes)
        {
            CreateDirectoryA(drive.File("BrennlowTest").c_str(), NULL);
            ASSERT_TRUE(WriteWholeFile(drive.File("BrennlowTest\\BrennlowTest.bin"), "left"));
        }
        std::string output = RunProgram(c.arguments, work.Path());
        ASSERT_EQ(0u, output.find(kBanner)) << output;
        std::string rest = output.substr(kBanner.size());
        std::smatch printed;
        bool complete = c.kind == Completes && std::regex_match(rest, printed, kCompleteRun);
        EXPECT_EQ(c.kind == Completes, complete) << rest;
        EXPECT_EQ(c.kind == Prints ? c.printed : rest, rest) << c.arguments;
        if (complete)
            results = printed[1].str() + " " + printed[2].str();
        EXPECT_EQ(1u, FolderEntries(drive.Path()).size()) << c.arguments;
        if (c.logged)
            logged.push_back(c.kind);
    }
    std::string content;
    ASSERT_TRUE(ReadWholeFile(blocker, &content));
    EXPECT_EQ("x", content);
    EXPECT_FALSE(PathExists("C:\\BrennlowTest"));

    std::vector<std::string> lines = LogLines(work);
    ASSERT_EQ(logged.size(), lines.size());
    char today[256] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, NULL, NULL, today, sizeof(today));
    std::smatch line;
    for (size_t i = 0; i < lines.size(); i++)
    {
        EXPECT_EQ(0u, lines[i].rfind(std::string(today) + " ", 0)) << lines[i];
        const std::regex &form = logged[i] == Completes ? kCompleteLogLine : kTimeOnlyLogLine;
        EXPECT_TRUE(std::regex_match(lines[i], line, form)) << lines[i];
    }
    // The last run's results as printed and as logged.
    ASSERT_EQ(5u, line.size());
    EXPECT_EQ(results, line[2].str() + " " + line[4].str());
}
