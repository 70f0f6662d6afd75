#include "crash/CrashHandler.h"
#include "crash/CrashReport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>

#include "ChildCommand.h"
#include "TestSupport.h"

// A crash takes seconds under Wine, so every faulting program starts at once, each in a
// folder of its own, and the tests read what they left behind.
#define CRASH_WAIT_MS 300000

struct CCrashRun
{
    CTempFolder folder;
    HANDLE process = NULL;
    DWORD exitCode = 0;
    bool textWritten = false;
    std::string text;
    std::string dump;

    std::string File(const char *suffix) const { return folder.File("CrashProgram") + suffix; }
};

static std::string CrashProgramPath()
{
    std::string tests = TestProgramPath();
    return tests.substr(0, tests.find_last_of('\\') + 1) + "CrashProgram.exe";
}

// Starts program (copied into the run's folder) with the arguments; null when it cannot start.
static HANDLE StartCopy(const std::string &program, const CTempFolder &folder,
                        const std::string &arguments, DWORD *processId)
{
    std::string copy = folder.File(program.substr(program.find_last_of('\\') + 1));
    if (!CopyFileA(program.c_str(), copy.c_str(), FALSE))
        return NULL;
    std::string commandLine = "\"" + copy + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, folder.Path().c_str(),
                        &startup, &info))
        return NULL;
    CloseHandle(info.hThread);
    if (processId)
        *processId = info.dwProcessId;
    return info.hProcess;
}

static void Finish(CCrashRun &run)
{
    if (WaitForSingleObject(run.process, CRASH_WAIT_MS) != WAIT_OBJECT_0)
        TerminateProcess(run.process, 0xDEAD);
    GetExitCodeProcess(run.process, &run.exitCode);
    CloseHandle(run.process);
    run.process = NULL;
    run.textWritten = ReadWholeFile(run.File("_Debug.txt"), &run.text);
    ReadWholeFile(run.File("_Debug.dmp"), &run.dump);
}

static const CCrashRun &CrashRun(const std::string &mode)
{
    static const char *modes[] = {"write", "raise", "second", "many", "writer", "overflow"};
    static std::map<std::string, std::unique_ptr<CCrashRun>> runs;
    if (runs.empty())
    {
        for (const char *started : modes)
        {
            std::unique_ptr<CCrashRun> run(new CCrashRun);
            run->process = StartCopy(CrashProgramPath(), run->folder, started, NULL);
            runs[started] = std::move(run);
        }
        for (auto &run : runs)
            if (run.second->process)
                Finish(*run.second);
    }
    return *runs.at(mode);
}

static size_t CountOf(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

static std::string Wide(const char *text)
{
    std::string wide;
    for (; *text; text++)
        wide += std::string(1, *text) + '\0';
    return wide;
}

static std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// The index of the first line from start on that matches pattern, or -1.
static int FindLine(const std::vector<std::string> &lines, const char *pattern, size_t start = 0)
{
    std::regex expression(pattern);
    for (size_t i = start; i < lines.size(); i++)
        if (std::regex_match(lines[i], expression))
            return static_cast<int>(i);
    return -1;
}

TEST(CrashPathTest, NullWriteReportsEverySection)
{
    const CCrashRun &run = CrashRun("write");
    // No report server: the fault goes on to the system, which ends the process with it.
    EXPECT_EQ(0xC0000005, run.exitCode);
    ASSERT_TRUE(run.textWritten);
    std::vector<std::string> lines = Lines(run.text);
    ASSERT_GT(lines.size(), 20u) << run.text;
    std::smatch thread;
    ASSERT_TRUE(std::regex_match(lines[0], thread,
                                 std::regex("Access Violation \\[0xC0000005\\] at 0x[0-9A-F]{16} "
                                            "in Thread (\\d+)\\.")))
        << lines[0];
    EXPECT_EQ("Write to location 0x0000000000000000.", lines[1]);
    // Each section: a line that opens it, then lines that must follow at once.
    const struct
    {
        const char *opening;
        std::vector<std::string> following;
    } sections[] = {
        {"RAX=0x[0-9A-F]{16}, CS=0x[0-9A-F]{4}, RIP=0x[0-9A-F]{16}, Flags=0x[0-9A-F]{8}",
         {"RBX=.*", "RCX=.*", "RDX=.*", "R8=.*", "R12=.*", ""}},
        {"\\S.* \\d+ Mhz", {}},
        {".+ \\[\\d+\\.\\d+\\] Build \\d+ .*", {"x64 Ansi", "", "Stack:", "FaultWithNullWrite\\(.*",
                                               "CrashCaller\\(.*"}},
        {"ModuleList:", {"    Size TimeStamp                      CheckSum   ImageBase  Versions"}},
        {".* - .*\\\\CrashProgram\\.exe", {}},
        // The faulting thread heads the thread list.
        {"ThreadList:", {"Id         StackBase  StackEnd   StartAddress", thread[1].str() + " .*"}},
        {"\\d+ +0x[0-9A-F]{8,} 0x[0-9A-F]{8,} 0x[0-9A-F]{16} NamedThread CrashTestWorker", {}},
    };
    for (const auto &section : sections)
    {
        int at = FindLine(lines, section.opening);
        ASSERT_GE(at, 0) << section.opening << "\n" << run.text;
        for (const std::string &pattern : section.following)
        {
            at++;
            ASSERT_LT(static_cast<size_t>(at), lines.size());
            EXPECT_TRUE(std::regex_match(lines[at], std::regex(pattern)))
                << pattern << " / " << lines[at];
        }
    }
    EXPECT_EQ(0u, run.dump.compare(0, 4, "MDMP"));
    EXPECT_NE(std::string::npos, run.dump.find(Wide("CrashProgram.exe")));
}

// A second thread's fault during the report, and eight threads faulting together, wait
// for the one report; a fault inside the writer ends the process before any text.
TEST(CrashPathTest, OneReportPerProcess)
{
    const struct
    {
        const char *mode;
        const char *exception;
        bool text;
    } cases[] = {
        {"second", "Access Violation [0xC0000005]", true},
        {"many", "Access Violation [0xC0000005]", true},
        {"raise", "Exception [0xE0000001]", true},
        {"overflow", "Stack Overflow [0xC00000FD]", true},
        {"writer", "", false},
    };
    for (const auto &c : cases)
    {
        const CCrashRun &run = CrashRun(c.mode);
        EXPECT_EQ(c.text, run.textWritten) << c.mode;
        EXPECT_TRUE(PathExists(run.File("_Debug.dmp"))) << c.mode;
        if (!c.text)
            continue;
        EXPECT_EQ(0u, run.text.find(c.exception)) << c.mode << "\n" << run.text;
        EXPECT_EQ(1u, CountOf(run.text, " in Thread ")) << c.mode;
        // Written to its end: the thread list closes the report.
        std::vector<std::string> lines = Lines(run.text);
        int list = FindLine(lines, "ThreadList:");
        EXPECT_TRUE(list > 0 && FindLine(lines, "\\d+ .*", list) > list) << c.mode << "\n" << run.text;
    }
    EXPECT_EQ(0xC0000005, CrashRun("writer").exitCode);
    EXPECT_EQ(0xE0000001, CrashRun("raise").exitCode);
    EXPECT_EQ(std::string::npos, CrashRun("raise").text.find(" location "));
    // The first fault of "second" is a read, the second thread's a write.
    EXPECT_NE(std::string::npos, CrashRun("second").text.find("\r\nRead from location 0x0000000000000000.\r\n"));
}

// Restores the process's filter, which the handlers below replace.
struct CFilterRestore
{
    LPTOP_LEVEL_EXCEPTION_FILTER saved = SetUnhandledExceptionFilter(NULL);
    ~CFilterRestore() { SetUnhandledExceptionFilter(saved); }
};

TEST(CrashPathTest, SetOptionsBuildsTheWordAndArmsTheFilter)
{
    CFilterRestore restore;
    const struct
    {
        UINT32 options;
        UINT32 word;
        bool armed;
    } cases[] = {
        {CHO_DEFAULT, 1, true},
        {CHO_WORD_TWO | CHO_FLAG_4, 6, true},
        {CHO_NO_FILTER, 9, false},
        {CHO_WORD_TWO | CHO_FLAG_10 | 0x1, 0x12, true},
    };
    CCrashHandler handler;
    for (const auto &c : cases)
    {
        handler.SetOptions(c.options);
        EXPECT_EQ(c.word, handler.GetOptions()) << c.options;
        EXPECT_EQ(c.armed, SetUnhandledExceptionFilter(NULL) == CCrashHandler::TopLevelFilter)
            << c.options;
    }
}

TEST(CrashPathTest, ThreadNameCopyNeverFaults)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    // A readable page followed by an inaccessible one: a name that runs to the page's end
    // keeps what lies before it.
    char *pages = static_cast<char *>(
        VirtualAlloc(NULL, 2 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old;
    VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old);
    memcpy(pages + system.dwPageSize - 4, "Edge", 4);
    std::string longName(150, 'L');
    const struct
    {
        const char *source;
        std::string expected;
    } cases[] = {
        {NULL, ""},
        {"Worker", "Worker"},
        {longName.c_str(), std::string(99, 'L')},
        {pages + system.dwPageSize - 4, "Edge"},
        {pages + system.dwPageSize, ""},
        {reinterpret_cast<const char *>(0x10), ""},
    };
    for (const auto &c : cases)
    {
        char name[THREAD_NAME_BUFFER];
        memset(name, 'x', sizeof(name));
        CopyThreadName(name, c.source);
        EXPECT_EQ(c.expected, name);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// Lines with a long path or a long symbol and name are cut to the work buffer.
TEST(CrashPathTest, ReportLinesStayInTheirBuffer)
{
    std::wstring path = L"C:\\" + std::wstring(600, L'p') + L".dll";
    CModuleRecord module = {};
    module.path = &path[0];
    CThreadRecord thread = {};
    memset(thread.name, 'n', THREAD_NAME_BUFFER - 1);
    std::string symbol(600, 's');
    char buffer[REPORT_LINE_BUFFER + 8];
    memset(buffer, '#', sizeof(buffer));
    int lengths[] = {
        FormatModuleLine(buffer, REPORT_LINE_BUFFER, module),
        FormatThreadLine(buffer, REPORT_LINE_BUFFER, thread, symbol.c_str(), 1),
    };
    for (int length : lengths)
    {
        EXPECT_EQ(REPORT_LINE_BUFFER - 1, length);
        EXPECT_EQ("\r\n", std::string(buffer + length - 2, 2));
        EXPECT_EQ('#', buffer[REPORT_LINE_BUFFER]);
    }
    // A thread without name and symbol ends in two spaces.
    thread.name[0] = 0;
    int length = FormatThreadLine(buffer, sizeof(buffer), thread, "", 1);
    EXPECT_EQ("0x0000000000000000  \r\n", std::string(buffer + length - 22, 22));
}

// A dot in the temporary folder's name (a user called "jo.doe") stays in the fallback.
TEST(CrashPathTest, ReportBasesDropOnlyTheFileExtension)
{
    char saved[MAX_PATH] = "";
    DWORD hadTmp = GetEnvironmentVariableA("TMP", saved, sizeof(saved));
    SetEnvironmentVariableA("TMP", "C:\\users\\jo.doe\\temp");
    CStr primary;
    CStr fallback;
    GetReportBases(primary, fallback);
    SetEnvironmentVariableA("TMP", hadTmp ? saved : NULL);
    std::string program = TestProgramPath();
    std::string base = program.substr(0, program.rfind('.'));
    EXPECT_EQ(base, primary.GetText());
    EXPECT_EQ("C:\\users\\jo.doe\\temp\\" + base.substr(base.find_last_of('\\') + 1),
              fallback.GetText());
}
