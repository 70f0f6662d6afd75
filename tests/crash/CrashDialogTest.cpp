#include "crash/CrashHandler.h"
#include "crash/ReportGate.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <memory>

#include "CrashRun.h"
#include "crash/ui/ControlTestSupport.h"

// The receiver's upload folder (BRENNLOW_UPLOAD_DIR of RunWithReceiver.sh) as this
// program sees it; "" outside that run, which the dialog tests then skip.
static std::string UploadFolder()
{
    const char *unixPath = getenv("BRENNLOW_UPLOAD_DIR");
    std::string path = unixPath && *unixPath ? std::string("Z:") + unixPath : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The run's problem-report dialog once it is up; null when the run ends without one.
static HWND FindDialog(const CRun &run)
{
    HWND dialog = NULL;
    for (int tries = 0; !dialog && tries < PROCESS_WAIT_MS / 100; tries++)
        if (!(dialog = FindShownDialog(run.info.dwProcessId)) &&
            WaitForSingleObject(run.info.hProcess, 100) == WAIT_OBJECT_0)
            break;
    return dialog;
}

// Presses a button (1000 send, 1001 don't send) of the run's problem-report dialog.
static bool Press(const CRun &run, int button, const char *description = "")
{
    HWND dialog = FindDialog(run);
    if (!dialog)
        return false;
    SetDlgItemTextA(dialog, 1004, description);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

// Started as "crash_tests --press-send <arguments> <description>" by the end-to-end test:
// types the description into the fault program's problem-report dialog and presses Send,
// as a user who reports a crash does, then ends before any test runs.
static struct CPressSend
{
    CPressSend()
    {
        if (__argc != 4 || strcmp(__argv[1], "--press-send"))
            return;
        int status = 1;
        {
            CRun run("CrashProgram", __argv[2]);
            if (Press(run, 1000, __argv[3]) && run.Ended())
                status = 0;
            else
                printf("no problem-report dialog, or no end after Send\n");
        }
        ExitProcess(status);
    }
} s_PressSend;

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

// With a report server the filter ends the process after the dialog; don't send sends nothing.
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
        // While the dialog offers the files, no other process can replace or remove them.
        for (const char *suffix : {"_Debug.txt", "_Debug.dmp"})
        {
            std::string path = run->base + suffix;
            ASSERT_TRUE(run == &stale || FindDialog(*run));
            HANDLE replaced = CreateFileA(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            EXPECT_TRUE(run == &stale || replaced == INVALID_HANDLE_VALUE) << suffix;
            EXPECT_TRUE(run == &stale || !DeleteFileA(path.c_str())) << suffix;
            if (replaced != INVALID_HANDLE_VALUE)
                CloseHandle(replaced);
        }
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

// What comes at crash time does not cost the user's report: a quit request pending at the
// fault; a fault of another thread while the dialog is up, Send pressed after the files'
// write limit; a fault holding the heap's lock, whose incomplete minidump is not sent.
TEST_F(CrashDialogTest, ReportIsSentWhateverComesAtCrashTime)
{
    const char *const modes[] = {"quit", "heap-held", "dialog"};
    std::vector<std::string> before = FolderEntries(uploads);
    std::vector<std::unique_ptr<CRun>> runs;
    for (const char *mode : modes)
        runs.emplace_back(new CRun("CrashProgram", mode + std::string(" 127.0.0.1")));
    for (size_t i = 0; i < runs.size(); i++)
    {
        CRun &run = *runs[i];
        if (!strcmp(modes[i], "dialog"))
        {
            // The second thread faults as soon as it sees the dialog.
            ASSERT_TRUE(FindDialog(run));
            for (int tries = 0; tries < 100 && !PathExists(run.folder.File("second.txt")); tries++)
                Sleep(100);
            Sleep(REPORT_WRITE_LIMIT + 1000);
        }
        EXPECT_TRUE(Press(run, 1000, modes[i]) && run.Ended()) << modes[i];
    }
    std::map<std::string, std::string> sent; // description: upload folder
    for (const std::string &entry : NewUploads(before))
    {
        std::string description;
        ReadWholeFile(uploads + "\\" + entry + "\\x.field", &description);
        sent[description] = uploads + "\\" + entry + "\\";
    }
    for (size_t i = 0; i < runs.size(); i++)
    {
        SCOPED_TRACE(modes[i]);
        ASSERT_EQ(1u, sent.count(modes[i]));
        std::string text, dump = "<none>", &folder = sent[modes[i]];
        ReadWholeFile(folder + "t-CrashProgram_Debug.txt", &text);
        if (PathExists(folder + "d-CrashProgram_Debug.dmp"))
            ReadWholeFile(folder + "d-CrashProgram_Debug.dmp", &dump);
        EXPECT_EQ(runs[i]->text, text);
        bool complete = strcmp(modes[i], "heap-held") != 0;
        EXPECT_EQ(complete ? runs[i]->dump : "<none>", dump);
        EXPECT_EQ(complete, text.find("\r\nThe minidump is incomplete.\r\n") == std::string::npos);
    }
}
