#include "crash/ui/ShellHelper.h"

#include "crash/ChildCommand.h"
#include "crash/ui/ControlTestSupport.h"
#include "TestSupport.h"

// A program runs; a file that does not open brings up the system's own prompt, which the
// test dismisses.
TEST(ShellHelperTest, FilesThatDoNotOpenGetTheSystemsPrompt)
{
    CTempFolder folder;
    std::string marker = folder.File("marker.txt"), unknown = folder.File("x.brennlow-unknown");
    ASSERT_TRUE(WriteWholeFile(unknown, "report"));
    const struct { std::string file, parameters; int result; } cases[] = {
        {TestProgramPath(), OsCodeChildParameters(marker), 1},
        {folder.File("missing.exe"), "", 0}, {unknown, "", 0}};
    for (const auto &c : cases)
    {
        CShellHelper shell;
        int result = -1;
        EXPECT_EQ(c.result == 0, DriveDialog(
            [&] { result = shell.ShellRun(c.file.c_str(), c.parameters.empty() ? NULL :
                                          c.parameters.c_str(), folder.Path().c_str(), SW_HIDE,
                                          "open"); },
            [](HWND prompt) { PostMessageA(prompt, WM_COMMAND, IDCANCEL, 0); }))
            << c.file;
        EXPECT_EQ(c.result, result) << c.file;
    }
    for (int wait = 0; wait < 300 && !PathExists(marker); ++wait)
        Sleep(100);
    EXPECT_TRUE(PathExists(marker));
    Sleep(200); // the child ends before its folder goes
}
