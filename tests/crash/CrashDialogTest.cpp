#include <gtest/gtest.h>

#include <stdlib.h>

#include "ChildCommand.h"
#include "TestSupport.h"

// These run under RunWithReceiver.sh, which names the receiver's upload folder, and need
// an X display for the dialog.
#define DIALOG_WAIT_MS 180000
#define PROCESS_WAIT_MS 60000
#define ID_SEND 1000
#define ID_DONT_SEND 1001
#define ID_DESCRIPTION 1004
#define ID_EMAIL 1005

// The receiver's upload folder as this program sees it; "" outside the receiver's run.
static std::string UploadFolder()
{
    const char *unixPath = getenv("BRENNLOW_UPLOAD_DIR");
    if (!unixPath || !*unixPath)
        return "";
    std::string path = std::string("Z:") + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

static std::string FolderOf(const std::string &path)
{
    return path.substr(0, path.find_last_of('\\') + 1);
}

// A running copy of a program of the build tree in a folder of its own.
struct CRunningCopy
{
    CTempFolder folder;
    std::string name;
    PROCESS_INFORMATION info = {};

    bool Start(const std::string &program, const std::string &arguments)
    {
        name = program.substr(program.find_last_of('\\') + 1);
        std::string copy = folder.File(name);
        if (!CopyFileA(program.c_str(), copy.c_str(), FALSE))
            return false;
        std::string commandLine = "\"" + copy + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                            folder.Path().c_str(), &startup, &info))
            return false;
        CloseHandle(info.hThread);
        return true;
    }
    ~CRunningCopy()
    {
        if (info.hProcess)
        {
            TerminateProcess(info.hProcess, 1);
            CloseHandle(info.hProcess);
        }
    }
    bool Ended() { return WaitForSingleObject(info.hProcess, PROCESS_WAIT_MS) == WAIT_OBJECT_0; }
    std::string Report(const char *suffix) const
    {
        return folder.File(name.substr(0, name.rfind('.'))) + suffix;
    }
};

struct CDialogSearch
{
    DWORD processId;
    HWND dialog;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    CDialogSearch *search = reinterpret_cast<CDialogSearch *>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if (processId != search->processId || !IsWindowVisible(window) ||
        strcmp(className, "#32770") || !GetDlgItem(window, ID_SEND))
        return TRUE;
    search->dialog = window;
    return FALSE;
}

// The problem-report dialog of the process, once it shows; null when it never does.
static HWND WaitForDialog(const CRunningCopy &run)
{
    for (DWORD waited = 0; waited < DIALOG_WAIT_MS; waited += 100)
    {
        CDialogSearch search = {run.info.dwProcessId, NULL};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.dialog)
            return search.dialog;
        if (WaitForSingleObject(run.info.hProcess, 100) == WAIT_OBJECT_0)
            return NULL;
    }
    return NULL;
}

static std::string ReadText(const std::string &path)
{
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

// Both runs at once: one user sends with a description and an address, the other declines.
TEST(CrashDialogTest, SendDeliversTheFormAndBothFilesDontSendNothing)
{
    std::string uploads = UploadFolder();
    if (uploads.empty())
        GTEST_SKIP() << "needs the receiver of RunWithReceiver.sh";
    std::string program = FolderOf(TestProgramPath()) + "CrashProgram.exe";
    CRunningCopy send;
    CRunningCopy decline;
    ASSERT_TRUE(send.Start(program, "write 127.0.0.1"));
    ASSERT_TRUE(decline.Start(program, "read 127.0.0.1"));
    HWND sendDialog = WaitForDialog(send);
    HWND declineDialog = WaitForDialog(decline);
    ASSERT_TRUE(sendDialog && declineDialog);
    SetDlgItemTextA(sendDialog, ID_DESCRIPTION, "Pressed send in the test");
    SetDlgItemTextA(sendDialog, ID_EMAIL, "tester@example.com");
    PostMessageA(declineDialog, WM_COMMAND, MAKEWPARAM(ID_DONT_SEND, BN_CLICKED), 0);
    ASSERT_TRUE(decline.Ended());
    EXPECT_TRUE(FolderEntries(uploads).empty());
    PostMessageA(sendDialog, WM_COMMAND, MAKEWPARAM(ID_SEND, BN_CLICKED), 0);
    ASSERT_TRUE(send.Ended());

    std::vector<WIN32_FIND_DATAA> stored = FolderEntries(uploads);
    ASSERT_EQ(1u, stored.size());
    std::string upload = uploads + "\\" + stored[0].cFileName + "\\";
    const struct
    {
        const char *file;
        std::string expected;
    } parts[] = {
        {"a.field", "r"},
        {"p.field", "CrashProgram"},
        {"x.field", "Pressed send in the test"},
        {"e.field", "tester@example.com"},
        {"d-CrashProgram_Debug.dmp", ReadText(send.Report("_Debug.dmp"))},
        {"t-CrashProgram_Debug.txt", ReadText(send.Report("_Debug.txt"))},
    };
    for (const auto &part : parts)
        EXPECT_TRUE(ReadText(upload + part.file) == part.expected) << part.file;
}

// A thread that another program starts in the running benchmark faults like any other.
TEST(CrashDialogTest, FaultInjectedIntoTheBenchmark)
{
    if (UploadFolder().empty())
        GTEST_SKIP() << "needs the display of RunWithReceiver.sh's run";
    // The benchmark reads its options from this pipe, which says nothing until the test ends.
    std::string pipeName = "\\\\.\\pipe\\brennlow-inject-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 0, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    CRunningCopy benchmark;
    ASSERT_TRUE(benchmark.Start(FolderOf(TestProgramPath()) + "..\\BrennlowCmd.exe",
                                "@" + pipeName));
    bool connected = false;
    for (int i = 0; i < 600 && !connected; i++)
    {
        connected = ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (!connected)
            Sleep(100);
    }
    ASSERT_TRUE(connected);
    CRunningCopy injector;
    ASSERT_TRUE(injector.Start(FolderOf(TestProgramPath()) + "CrashProgram.exe",
                               "inject " + std::to_string(benchmark.info.dwProcessId)));
    EXPECT_TRUE(injector.Ended());
    HWND dialog = WaitForDialog(benchmark);
    ASSERT_NE(nullptr, dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(ID_DONT_SEND, BN_CLICKED), 0);
    EXPECT_TRUE(benchmark.Ended());
    CloseHandle(pipe);
    EXPECT_TRUE(PathExists(benchmark.Report("_Debug.dmp")));
    EXPECT_EQ(0u, ReadText(benchmark.Report("_Debug.txt"))
                      .find("Access Violation [0xC0000005] at 0x0000000000000010 in Thread "));
}
