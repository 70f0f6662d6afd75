#include "crash/CrashHandler.h"
#include "base/DynLib.h"
#include "crash/CrashReport.h"

#include <map>
#include <memory>

#include "CrashRun.h"

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

// Every faulting run starts at once, on first use: a crash takes seconds under Wine.
static CRun &CrashRun(const std::string &mode)
{
    static std::map<std::string, std::unique_ptr<CRun>> runs;
    if (runs.empty())
    {
        for (const char *started :
             {"write", "raise", "many", "writer", "overflow", "quit", "divide", "verdict",
              "loader-verdict", "loader-overflowed", "heap-waiter", "heap-held", "loader-held"})
            runs[started].reset(new CRun("CrashProgram", started));
        for (auto &run : runs)
            run.second->Ended();
    }
    return *runs.at(mode);
}

// Whether the lines from start on are the register block of this build's word size.
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
    EXPECT_EQ(0xC0000005, run.exitCode); // no report server: the system ends the process
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
        EXPECT_EQ(run.text.find(" in Thread "), run.text.rfind(" in Thread ")) << c.mode;
        // Written to its end: thread lines close the report.
        std::vector<std::string> lines = Lines(run.text);
        int registers = FindLine(lines, s_RegisterBlock[0]);
        EXPECT_TRUE(registers > 0 && RegisterBlockAt(lines, registers)) << c.mode << "\n"
                                                                        << run.text;
        int list = FindLine(lines, "ThreadList:");
        EXPECT_TRUE(list > 0 && FindLine(lines, "\\d+ .*", list) > list) << c.mode;
    }
}

// A held loader or heap lock stops a thread that the report needs (the minidump's worker,
// an overflowed stack's helper, the writer): the report goes on without it, or gives up,
// within the limit. Without a report server the search goes on.
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
        // The minidump's lists are missing when its worker never ran; the report says so.
        EXPECT_TRUE(!c.text ||
                    (run.text.find(c.text) == 0 &&
                     (c.second || (run.text.find("ThreadList:") == std::string::npos &&
                                   run.text.find("\r\nThe minidump is incomplete.\r\n") !=
                                       std::string::npos))))
            << c.mode << "\n"
            << run.text;
    }
}

// The faulting thread itself holds the heap's or the loader's lock. The minidump's worker
// waits for it in vain; the text report is complete within the limit all the same: its
// stack walked along the frame pointers, its modules with the link time stamps that the
// symbolizer needs.
TEST(CrashPathTest, FaultHoldingALockStillReportsOurFrames)
{
    const std::regex ownFrame("(FaultWithNullWrite|CrashCaller|main)\\(.*|"
                              "crashprogram:crashprogram@0x[0-9A-F]+\\(.*",
                              std::regex::icase);
    for (const char *mode : {"heap-held", "loader-held"})
    {
        const CRun &run = CrashRun(mode);
        EXPECT_TRUE(run.ended && run.seconds < 90) << mode << " " << run.seconds;
        std::vector<std::string> lines = Lines(run.text);
        EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] at ")) << mode << run.text;
        EXPECT_TRUE(RegisterBlockAt(lines, 3)) << mode << "\n" << run.text;
        int stack = FindLine(lines, "Stack:"), own = 0;
        for (size_t i = stack + 1; stack > 0 && i < lines.size() && !lines[i].empty(); i++)
            own += std::regex_match(lines[i], ownFrame);
        EXPECT_GE(own, 3) << mode << "\n" << run.text;
        int program = FindLine(lines, " *\\d+ 0x[0-9A-F]{8} .* - .*\\\\CrashProgram\\.exe");
        EXPECT_TRUE(program > 0 && lines[program].find(" 0x00000000 ") == std::string::npos)
            << mode << "\n" << run.text;
    }
    // A fault of another kind is named by its code.
    const CRun &run = CrashRun("divide");
    EXPECT_EQ(0xC0000094, run.exitCode);
    EXPECT_EQ(0u, run.text.find("Integer Divide by Zero [0xC0000094] at 0x")) << run.text;
}

// A text report that another process holds open is left to it: this crash falls back to
// the temporary folder, whose name keeps its dot.
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

// A copy of the fault program, named name, with the stand-in debug-help library of folder
// beside it, which Wine prefers to its own for that name only when told.
static std::unique_ptr<CRun> StandInRun(const char *folder, const std::string &name)
{
    std::string standIn = BesideTestProgram(folder + std::string("\\dbghelp.dll"));
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

// With a debug-help library whose walk never ends, a walk that repeats its frame stops
// after it, one that never repeats at the frame cap.
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

// The global object exists before main and has lent its buffer to the text library. A null
// product is read from this program's version resource, a null extra text is empty.
TEST(CrashHandlerTest, ConfigureFillsInNullTexts)
{
    EXPECT_EQ(g_CrashHandler.GetErrorTextBuffer(), ErrorText(ERROR_FILE_NOT_FOUND, NULL));
    CCrashHandler handler;
    handler.Configure(101, "reports.test.example", "/tamsel/report.php", NULL, NULL);
    EXPECT_STREQ("CrashTestsUs", handler.GetProductText().GetText());
    EXPECT_STREQ("", handler.GetExtraText().GetText());
}

// The program's manifest names the systems up to 11, so each reports its own version,
// which Wine takes from the program's AppDefaults key.
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
