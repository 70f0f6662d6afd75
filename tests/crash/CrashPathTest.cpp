#include "crash/CrashHandler.h"
#include "base/DynLib.h"
#include "crash/CrashReport.h"

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>

#include "ChildCommand.h"
#include "TestSupport.h"

#define PROCESS_WAIT_MS 300000

// The report's forms that depend on the word size of the program that faulted.
#define SELECTOR "0x[0-9A-F]{4}"
#if defined(_M_IX86) || defined(__i386__)
#define HEX_WORD "0x[0-9A-F]{8}"
#define STACK_WORD "0x[0-9A-F]{8}"
#define R(name) "E" name
#else
#define HEX_WORD "0x[0-9A-F]{16}"
#define STACK_WORD "0x[0-9A-F]{8,}"
#define R(name) "R" name
#endif
static const std::vector<std::string> s_RegisterBlock = {
    R("AX=") HEX_WORD ", CS=" SELECTOR ", " R("IP=") HEX_WORD ", Flags=0x[0-9A-F]{8}",
    R("BX=") HEX_WORD ", SS=" SELECTOR ", " R("SP=") HEX_WORD ", " R("BP=") HEX_WORD,
    R("CX=") HEX_WORD ", DS=" SELECTOR ", " R("SI=") HEX_WORD ", FS=" SELECTOR,
    R("DX=") HEX_WORD ", ES=" SELECTOR ", " R("DI=") HEX_WORD ", GS=" SELECTOR,
#if !defined(_M_IX86) && !defined(__i386__)
    "R8=" HEX_WORD ", R9=" HEX_WORD ", R10=" HEX_WORD ", R11=" HEX_WORD,
    "R12=" HEX_WORD ", R13=" HEX_WORD ", R14=" HEX_WORD ", R15=" HEX_WORD,
#endif
};
#undef R

static std::string PlatformLine()
{
    return sizeof(void *) == 8 ? "x64 Ansi" : IsWow64(NULL) ? "x86 WOW64 Ansi" : "x86 Ansi";
}

static std::string HexWord(ULONG64 value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llX", int(2 * sizeof(void *)),
             static_cast<unsigned long long>(value & SIZE_MAX));
    return text;
}

// A copy of a program of the build tree, run in a folder of its own.
struct CRun
{
    CTempFolder folder;
    std::string base; // path of the copy without ".exe"
    PROCESS_INFORMATION info = {};
    std::vector<HANDLE> held; // closed when the run ends
    bool ended = false;
    double seconds = 0; // from start to end
    DWORD exitCode = 0;
    std::string text = "<missing>", dump;

    // program: the path from the test program's folder, without ".exe"; prepare runs
    // before the start; name: the copy's, when not the program's own.
    CRun(const std::string &program, const std::string &arguments,
         const std::function<void(CRun &)> &prepare = nullptr, std::string name = "")
    {
        std::string tests = TestProgramPath();
        std::string source = tests.substr(0, tests.find_last_of('\\') + 1) + program + ".exe";
        if (name.empty())
            name = program.substr(program.find_last_of('\\') + 1);
        base = folder.File(name);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        bool copied = CopyFileA(source.c_str(), (base + ".exe").c_str(), FALSE);
        if (copied && prepare)
            prepare(*this);
        std::string commandLine = "\"" + base + ".exe\" " + arguments;
        if (!copied ||
            !CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                            folder.Path().c_str(), &startup, &info))
            info.hProcess = NULL;
    }
    ~CRun()
    {
        TerminateProcess(info.hProcess, 1);
        held.insert(held.end(), {info.hProcess, info.hThread});
        for (HANDLE handle : held)
            CloseHandle(handle);
    }
    // Waits for the end and reads the report files.
    bool Ended()
    {
        ended = WaitForSingleObject(info.hProcess, PROCESS_WAIT_MS) == WAIT_OBJECT_0;
        GetExitCodeProcess(info.hProcess, &exitCode);
        ULARGE_INTEGER times[4]; // creation, exit, kernel and user time
        FILETIME *t = reinterpret_cast<FILETIME *>(times);
        if (GetProcessTimes(info.hProcess, &t[0], &t[1], &t[2], &t[3]))
            seconds = (times[1].QuadPart - times[0].QuadPart) / 1e7;
        if (PathExists(base + "_Debug.txt"))
            ReadWholeFile(base + "_Debug.txt", &text);
        ReadWholeFile(base + "_Debug.dmp", &dump);
        return ended;
    }
};

// A crash takes seconds under Wine: every faulting run starts at once, on first use.
static CRun &CrashRun(const std::string &mode)
{
    static std::map<std::string, std::unique_ptr<CRun>> runs;
    if (runs.empty())
    {
        for (const char *started :
             {"write", "raise", "many", "writer", "overflow", "quit", "divide", "verdict",
              "loader-verdict", "loader-overflowed", "heap-waiter"})
            runs[started].reset(new CRun("CrashProgram", started));
        for (auto &run : runs)
            run.second->Ended();
    }
    return *runs.at(mode);
}

static std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// The first line from start on that matches pattern, or -1.
static int FindLine(const std::vector<std::string> &lines, const std::string &pattern,
                    size_t start = 0)
{
    for (size_t i = start; i < lines.size(); i++)
        if (std::regex_match(lines[i], std::regex(pattern)))
            return static_cast<int>(i);
    return -1;
}

// Whether the lines from start on are the register block, in the exact form of this
// build's word size.
static bool RegisterBlockAt(const std::vector<std::string> &lines, size_t start)
{
    for (const std::string &pattern : s_RegisterBlock)
        if (start >= lines.size() || !std::regex_match(lines[start++], std::regex(pattern)))
            return false;
    return start < lines.size() && lines[start].empty();
}

TEST(CrashPathTest, NullWriteReportsEverySection)
{
    const CRun &run = CrashRun("write");
    // No report server: the fault goes on to the system, which ends the process with it.
    EXPECT_EQ(0xC0000005, run.exitCode);
    std::vector<std::string> lines = Lines(run.text);
    std::smatch thread;
    ASSERT_TRUE(!lines.empty() &&
                std::regex_match(lines[0], thread,
                                 std::regex("Access Violation \\[0xC0000005\\] at " HEX_WORD
                                            " in Thread (\\d+)\\.")))
        << run.text;
    EXPECT_TRUE(RegisterBlockAt(lines, 3)) << run.text;
    // Each section: a line that opens it and the lines that must follow it at once.
    const std::vector<std::string> sections[] = {
        {"Access.*", "Write to location " + HexWord(0) + "\\.", ""},
        {"\\S.* \\d+ Mhz"},
        {".+ \\[\\d+\\.\\d+\\] Build \\d+ .*", PlatformLine(), "", "Stack:",
         "FaultWithNullWrite\\(.*", "CrashCaller\\(.*", "main\\(.*"},
        {"ModuleList:", "    Size TimeStamp                      CheckSum   ImageBase  Versions"},
        {".* - .*\\\\CrashProgram\\.exe"},
        // The faulting thread heads the thread list.
        {"ThreadList:", "Id         StackBase  StackEnd   StartAddress", thread[1].str() + " .*"},
        {"\\d+ +" STACK_WORD " " STACK_WORD " " HEX_WORD " NamedThread CrashTestWorker"},
    };
    for (const auto &section : sections)
    {
        int at = FindLine(lines, section[0]);
        ASSERT_GE(at, 0) << section[0] << "\n" << run.text;
        for (size_t i = 1; i < section.size(); i++)
            EXPECT_TRUE(at + i < lines.size() &&
                        std::regex_match(lines[at + i], std::regex(section[i])))
                << section[i] << "\n"
                << run.text;
    }
    EXPECT_EQ(0u, run.dump.find("MDMP"));
    EXPECT_NE(std::string::npos,
              run.dump.find(std::string("C\0r\0a\0s\0h\0P\0r\0o\0g\0r\0a\0m\0", 24)));
}

// Faults on other threads during the report wait for it; a fault inside the writer ends
// the process before any text.
TEST(CrashPathTest, OneReportPerProcess)
{
    // The start of the report; null for none.
    const struct { const char *mode, *start; } cases[] = {
        {"many", "Access Violation [0xC0000005] .*\r\nWrite to "},
        {"raise", "Exception [0xE0000001] .*\r\n\r\n"},
        {"overflow", "Stack Overflow [0xC00000FD] .*\r\n\r\n"},
        // A quit request waiting in the queue neither ends the minidump nor cuts it short;
        // the first fault is a read, the second thread's a write.
        {"quit", "Access Violation [0xC0000005] at 0x\\S+ in Thread \\d+\\.\r\nRead from "},
        {"writer", NULL},
    };
    for (const auto &c : cases)
    {
        const CRun &run = CrashRun(c.mode);
        EXPECT_TRUE(PathExists(run.base + "_Debug.dmp")) << c.mode;
        if (!c.start)
        {
            EXPECT_EQ("<missing>", run.text);
            EXPECT_EQ(0xC0000005, run.exitCode);
            continue;
        }
        std::string start = std::regex_replace(c.start, std::regex("[\\[\\]]"), "\\$&");
        EXPECT_TRUE(std::regex_search(run.text, std::regex("^" + start))) << c.mode << "\n"
                                                                          << run.text;
        std::regex exceptionLine(" in Thread ");
        EXPECT_EQ(1, std::distance(std::sregex_iterator(run.text.begin(), run.text.end(),
                                                        exceptionLine), std::sregex_iterator()))
            << c.mode;
        // Written to its end: thread lines close the report.
        std::vector<std::string> lines = Lines(run.text);
        int registers = FindLine(lines, s_RegisterBlock[0]);
        EXPECT_TRUE(registers > 0 && RegisterBlockAt(lines, registers)) << c.mode << "\n"
                                                                        << run.text;
        int list = FindLine(lines, "ThreadList:");
        EXPECT_TRUE(list > 0 && FindLine(lines, "\\d+ .*", list) > list) << c.mode;
    }
}

// The filter's verdict as the child program wrote it to file ("" when it did not).
static std::string Verdict(const CRun &run, const char *file = "verdict.txt")
{
    std::string text;
    ReadWholeFile(run.folder.File(file), &text);
    return text;
}

// A held loader or heap lock stops a thread that the report needs (the minidump's worker,
// an overflowed stack's helper, the writer): the report goes on without it, or gives up,
// within the limit. Without a report server nothing is offered: the search goes on, and
// the filter's thread is no writer afterwards.
TEST(CrashPathTest, FaultsHoldingALockEndWithinTheLimit)
{
    // The start of the text report (null: not checked) and what the second call returned.
    const struct { const char *mode, *text, *second; } cases[] = {
        {"loader-verdict", "Exception [0xE0000001] ", NULL},
        {"loader-overflowed", NULL, NULL},
        {"heap-waiter", "Exception [0xE0000001] ", "verdict 0, writer 0"},
        {"verdict", NULL, NULL},
    };
    for (const auto &c : cases)
    {
        const CRun &run = CrashRun(c.mode);
        EXPECT_TRUE(run.ended && run.seconds < 90) << c.mode << " " << run.seconds;
        EXPECT_EQ("verdict 0, writer 0", Verdict(run)) << c.mode;
        EXPECT_EQ(c.second ? c.second : "", Verdict(run, "second.txt")) << c.mode;
        // The minidump's lists are missing when its worker never ran.
        EXPECT_TRUE(!c.text || (run.text.find(c.text) == 0 &&
                                (c.second || run.text.find("ModuleList:") == std::string::npos)))
            << c.mode << "\n"
            << run.text;
    }
}

TEST(CrashPathTest, NamesEveryException)
{
    const std::pair<DWORD, const char *> names[] = {
        {0x40010005, "Control-C"}, {0x40010008, "Control-Break"},
        {0x80000002, "Datatype Misalignment"}, {0x80000003, "Breakpoint"},
        {0xC0000005, "Access Violation"}, {0xC0000006, "In Page Error"},
        {0xC0000017, "No Memory"}, {0xC000001D, "Illegal Instruction"},
        {0xC0000025, "Noncontinuable Exception"}, {0xC0000026, "Invalid Disposition"},
        {0xC000008C, "Array Bounds Exceeded"}, {0xC000008D, "Float Denormal Operand"},
        {0xC000008E, "Float Divide by Zero"}, {0xC000008F, "Float Inexact Result"},
        {0xC0000090, "Float Invalid Operation"}, {0xC0000091, "Float Overflow"},
        {0xC0000092, "Float Stack Check"}, {0xC0000093, "Float Underflow"},
        {0xC0000094, "Integer Divide by Zero"}, {0xC0000095, "Integer Overflow"},
        {0xC0000096, "Privileged Instruction"}, {0xC00000FD, "Stack Overflow"},
        {0xC0000142, "DLL Initialization Failed"}, {0xE06D7363, "Microsoft C++ Exception"},
        {0xE0000001, "Exception"},
    };
    for (const auto &name : names)
        EXPECT_STREQ(name.second, GetExceptionName(name.first)) << std::hex << name.first;
    const CRun &run = CrashRun("divide");
    EXPECT_EQ(0xC0000094, run.exitCode);
    EXPECT_EQ(0u, run.text.find("Integer Divide by Zero [0xC0000094] at 0x")) << run.text;
}

// Points the temporary folder meanwhile to a folder of its own, or to sub inside it.
struct CTempOverride
{
    CTempFolder folder;
    char saved[MAX_PATH] = "";
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof(saved));
    std::string path;
    explicit CTempOverride(const std::string &sub = "")
        : path(sub.empty() ? folder.Path() : folder.File(sub))
    {
        CreateDirectoryA(path.c_str(), NULL);
        SetEnvironmentVariableA("TMP", path.c_str());
    }
    ~CTempOverride() { SetEnvironmentVariableA("TMP", had ? saved : NULL); }
};

// The text report that another process holds open for writing is left to it: this crash
// falls back to the temporary folder, where a dot in the folder's name (a user called
// "jo.doe") stays.
TEST(CrashPathTest, ReportFilesAreNotWrittenTogether)
{
    CTempOverride temp("jo.doe");
    CRun run("CrashProgram", "read", [](CRun &started) {
        started.held.push_back(CreateFileA((started.base + "_Debug.txt").c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, NULL));
    });
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ("", run.text);
    std::string fallback;
    ReadWholeFile(temp.path + "\\CrashProgram_Debug.txt", &fallback);
    EXPECT_EQ(0u, fallback.find("Access Violation [0xC0000005]")) << fallback;
}

// A copy of the fault program, named name, that finds the stand-in debug-help library of
// folder beside it (Wine prefers its own library unless told otherwise for that name).
static std::unique_ptr<CRun> StandInRun(const char *folder, const std::string &name)
{
    std::string tests = TestProgramPath();
    std::string standIn =
        tests.substr(0, tests.find_last_of('\\') + 1) + folder + "\\dbghelp.dll";
    SetAppDefault(name + ".exe\\DllOverrides", "dbghelp", "native");
    std::unique_ptr<CRun> run(new CRun("CrashProgram", "read", [&](CRun &started) {
        std::string renamed = started.folder.File(name);
        CopyFileA((started.base + ".exe").c_str(), (renamed + ".exe").c_str(), FALSE);
        CopyFileA(standIn.c_str(), started.folder.File("dbghelp.dll").c_str(), FALSE);
        started.base = renamed;
    }));
    run->Ended();
    SetAppDefault(name + ".exe\\DllOverrides", NULL, NULL);
    return run;
}

// With a debug-help library beside the program whose walk never ends: a walk that repeats
// its frame stops after it, one that never repeats stops at the frame cap.
TEST(CrashPathTest, WalkStopsOnARepeatedFrameAndAtTheCap)
{
    // The faulting function keeps no frame on x86: the walk writes it before asking the library.
    const int own = sizeof(void *) == 4;
    for (const auto &c : {std::make_pair("0", own + 1), std::make_pair("1", own + WALK_MAX_FRAMES)})
    {
        SetEnvironmentVariableA("BRENNLOW_WALK_STEP", c.first);
        std::unique_ptr<CRun> run = StandInRun("standin", "WalkProgram");
        SetEnvironmentVariableA("BRENNLOW_WALK_STEP", NULL);
        ASSERT_TRUE(run->ended);
        std::vector<std::string> lines = Lines(run->text);
        int stack = FindLine(lines, "Stack:");
        ASSERT_GE(stack, 0) << run->text;
        EXPECT_EQ(c.second, static_cast<int>(lines.size()) - stack - 1) << c.first;
    }
}

// A debug-help library that lacks a function the walk requires is not used: the report is
// complete without a stack.
TEST(CrashPathTest, LibraryLackingAFunctionLeavesNoStack)
{
    std::unique_ptr<CRun> run = StandInRun("standin-lacking", "LackingProgram");
    ASSERT_TRUE(run->ended);
    EXPECT_EQ(0xC0000005, run->exitCode);
    std::vector<std::string> lines = Lines(run->text);
    EXPECT_TRUE(RegisterBlockAt(lines, 3)) << run->text;
    EXPECT_GE(FindLine(lines, PlatformLine()), 0) << run->text;
    EXPECT_EQ(-1, FindLine(lines, "Stack:")) << run->text;
}

TEST(CrashPathTest, ThreadNameCopyNeverFaults)
{
    // A name that runs into an inaccessible page keeps what lies before it.
    char *pages = static_cast<char *>(VirtualAlloc(NULL, 0x2000, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    ASSERT_TRUE(pages && VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old));
    memcpy(pages + 0x1000 - 4, "Edge", 4);
    std::string longName(150, 'L');
    const struct { const char *source; std::string expected; } cases[] = {
        {NULL, ""}, {"Worker", "Worker"}, {longName.c_str(), std::string(99, 'L')},
        {pages + 0x1000 - 4, "Edge"}, {pages + 0x1000, ""}, {reinterpret_cast<char *>(0x10), ""},
    };
    for (const auto &c : cases)
    {
        char name[THREAD_NAME_BUFFER];
        CopyThreadName(name, c.source);
        EXPECT_EQ(c.expected, name);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// The global object of the test program, like the one of the benchmark, exists before
// main and has lent its buffer to the text library.
TEST(CrashHandlerTest, GlobalLendsItsErrorTextBuffer)
{
    char *text = ErrorText(ERROR_FILE_NOT_FOUND, NULL);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(g_CrashHandler.GetErrorTextBuffer(), text);
    EXPECT_EQ(g_CrashHandler.GetErrorTextBuffer(), GetSharedErrorText());
}

// A null product is read from this program's version resource, a null extra text is empty.
// The given texts themselves reach the upload form in the report dialog tests.
TEST(CrashHandlerTest, ConfigureFillsInNullTexts)
{
    CCrashHandler handler;
    handler.Configure(101, "reports.test.example", "/tamsel/report.php", NULL, NULL);
    EXPECT_STREQ("CrashTestsUs", handler.GetProductText().GetText());
    EXPECT_STREQ("", handler.GetExtraText().GetText());
}

// The receiver's upload folder (BRENNLOW_UPLOAD_DIR of RunWithReceiver.sh) as this
// program sees it; "" outside that run, which the dialog tests then skip.
static std::string UploadFolder()
{
    const char *unixPath = getenv("BRENNLOW_UPLOAD_DIR");
    std::string path = unixPath && *unixPath ? std::string("Z:") + unixPath : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<std::pair<DWORD, HWND> *>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    bool match = processId == search->first && IsWindowVisible(window) && GetDlgItem(window, 1000);
    search->second = match ? window : NULL;
    return !match;
}

// Presses a button (1000 send, 1001 don't send) of the run's problem-report dialog.
static bool Press(const CRun &run, int button, const char *description = "")
{
    for (int tries = 0; tries < PROCESS_WAIT_MS / 100; tries++)
    {
        std::pair<DWORD, HWND> search(run.info.dwProcessId, NULL);
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.second)
        {
            SetDlgItemTextA(search.second, 1004, description);
            return PostMessageA(search.second, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        if (WaitForSingleObject(run.info.hProcess, 100) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

// The dialog tests need the display and the receiver of RunWithReceiver.sh's run.
class CrashDialogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (uploads.empty())
            GTEST_SKIP() << "needs the receiver of RunWithReceiver.sh";
    }
    std::string uploads = UploadFolder();
    // The uploads stored since before was read.
    std::vector<std::string> NewUploads(const std::vector<std::string> &before)
    {
        std::vector<std::string> stored = FolderEntries(uploads);
        for (const std::string &entry : before)
            stored.erase(std::remove(stored.begin(), stored.end(), entry), stored.end());
        return stored;
    }
};

// A thread that another program starts in the running benchmark faults like any other.
TEST_F(CrashDialogTest, FaultInjectedIntoTheBenchmark)
{
    // The benchmark reads its options from this pipe, which stays silent.
    std::string pipeName = "\\\\.\\pipe\\brennlow-inject-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe =
        CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_NOWAIT, 1, 0, 0, 0, NULL);
    CRun benchmark("..\\BrennlowCmd", "@" + pipeName);
    bool connected = false;
    for (int tries = 0; tries < 600 && !connected; tries++, Sleep(100))
        connected = ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED;
    ASSERT_TRUE(connected);
    // Nothing is mapped at 0x10: the thread faults at its first instruction.
    CloseHandle(CreateRemoteThread(benchmark.info.hProcess, NULL, 0,
                                   reinterpret_cast<LPTHREAD_START_ROUTINE>(0x10), NULL, 0, NULL));
    EXPECT_TRUE(Press(benchmark, 1001) && benchmark.Ended());
    CloseHandle(pipe);
    EXPECT_FALSE(benchmark.dump.empty());
    EXPECT_EQ(
        0u, benchmark.text.find("Access Violation [0xC0000005] at " + HexWord(0x10) + " in Thread "));
}

// With a report server the filter ends the process after the dialog; don't send sends
// nothing.
TEST_F(CrashDialogTest, FilterEndsTheProcessOnceTheDialogWasShown)
{
    std::vector<std::string> before = FolderEntries(uploads);
    CRun run("CrashProgram", "verdict 127.0.0.1");
    ASSERT_TRUE(Press(run, 1001) && run.Ended());
    EXPECT_EQ("verdict 1, writer 0", Verdict(run));
    EXPECT_TRUE(NewUploads(before).empty());
}

// Send delivers the form and both files; text reports that a crash could not create,
// held open after an earlier one, are not uploaded as its own.
TEST_F(CrashDialogTest, ReportFilesOfAnEarlierCrashStayOut)
{
    CTempOverride temp;
    CRun send("CrashProgram", "write 127.0.0.1");
    CRun stale("CrashProgram", "write 127.0.0.1", [&](CRun &started) {
        for (const std::string &path :
             {started.base + "_Debug.txt", temp.folder.File("CrashProgram_Debug.txt")})
        {
            WriteWholeFile(path, "stale");
            started.held.push_back(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
        }
    });
    for (CRun *run : {&send, &stale})
    {
        std::vector<std::string> before = FolderEntries(uploads);
        ASSERT_TRUE(Press(*run, 1000, "Pressed send in the test") && run->Ended());
        std::vector<std::string> stored = NewUploads(before);
        ASSERT_EQ(1u, stored.size());
        const std::pair<const char *, std::string> parts[] = {
            {"a.field", "r"}, {"p.field", "CrashProgram"}, {"x.field", "Pressed send in the test"},
            {"d-CrashProgram_Debug.dmp", run->dump},
            {"t-CrashProgram_Debug.txt", run == &send ? run->text : "<none>"},
        };
        for (const auto &part : parts)
        {
            std::string path = uploads + "\\" + stored[0] + "\\" + part.first, received = "<none>";
            if (PathExists(path))
                ReadWholeFile(path, &received);
            EXPECT_TRUE(received == part.second) << part.first;
        }
    }
}

// The program's manifest names the systems up to 10 and 11, so each reports its own
// version. Wine takes a program's version from its AppDefaults key when it starts.
TEST(CrashPathTest, ReportNamesTheSystemThatRuns)
{
    const struct { const char *version, *line; } cases[] = {
        {"winxp", "Windows XP \\[5\\.1\\] Build 2600 Service Pack 3"},
        {"win81", "Windows 8\\.1 \\[6\\.3\\] Build 9600 "},
        {"win10", "Windows 10 \\[10\\.0\\] Build 18362 "},
    };
    std::vector<std::unique_ptr<CRun>> runs;
    for (const auto &c : cases)
    {
        SetAppDefault(c.version + std::string(".exe"), "Version", c.version);
        runs.emplace_back(new CRun("CrashProgramShipped", "write", nullptr, c.version));
    }
    for (size_t i = 0; i < runs.size(); i++)
    {
        runs[i]->Ended();
        SetAppDefault(cases[i].version + std::string(".exe"), NULL, NULL);
        EXPECT_GE(FindLine(Lines(runs[i]->text), std::string(cases[i].line) + ".*"), 0)
            << runs[i]->text;
    }
}
