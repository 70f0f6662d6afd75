#include "crash/ui/ShellHelper.h"

#include "crash/ChildCommand.h"
#include "crash/ui/ControlTestSupport.h"
#include "TestSupport.h"

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
    Sleep(200); // the child ends before its folder goes
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
