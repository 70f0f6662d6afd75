#include "crash/ui/ShellHelper.h"

#include "crash/ChildCommand.h"
#include "crash/ui/ControlTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(ShellHelperTest, RunsProgramsAndFailsOnMissingOnes)
{
    CTempFolder folder;
    std::string marker = folder.File("marker.txt");
    std::string parameters = OsCodeChildParameters(marker);
    CShellHelper shell;
    EXPECT_EQ(1, shell.ShellRun(TestProgramPath().c_str(), parameters.c_str(),
                                folder.Path().c_str(), SW_HIDE, "open"));
    for (int wait = 0; wait < 300 && !PathExists(marker); ++wait)
        Sleep(100);
    EXPECT_TRUE(PathExists(marker));
    // Let the child end before its folder goes.
    Sleep(200);

}

// A file that does not open brings up the system's own prompt, which the test dismisses.
TEST(ShellHelperTest, FilesThatDoNotOpenGetTheSystemsPrompt)
{
    CTempFolder folder;
    std::string unknown = folder.File("report.brennlow-unknown");
    ASSERT_TRUE(WriteWholeFile(unknown, "report"));
    for (const std::string &file : {folder.File("missing.exe"), unknown})
    {
        CShellHelper shell;
        int result = -1;
        EXPECT_TRUE(DriveDialog(
            [&] { result = shell.ShellRun(file.c_str(), NULL, NULL, SW_HIDE, "open"); },
            [](HWND prompt) { PostMessageA(prompt, WM_COMMAND, IDCANCEL, 0); }))
            << file;
        EXPECT_EQ(0, result) << file;
    }
}

TEST(ShellHelperTest, RegistersFilesWhereTheSystemCan)
{
    CTempFolder folder;
    std::string path = folder.File("report.txt");
    ASSERT_TRUE(WriteWholeFile(path, "report"));
    std::wstring widePath(path.begin(), path.end());

    CDynLib kernel;
    DYN_PROC(WerRegisterFile) registerFile = NULL;
    if (kernel.Load("kernel32.dll"))
        kernel.Bind("WerRegisterFile", &registerFile);
    CWerRegistration registration;
    int registered = registration.RegisterFile(widePath.c_str());
    if (!registerFile)
    {
        EXPECT_EQ(0, registered);
        EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    }
    else
        EXPECT_EQ(SUCCEEDED(registerFile(widePath.c_str(), 2, 2)) ? 1 : 0, registered);
}
