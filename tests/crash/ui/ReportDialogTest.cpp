#include "crash/ui/ReportDialog.h"

#include <regex>

#include "TestSupport.h"
#include "crash/ui/ControlTestSupport.h"
#include "crash/LoopbackReceiver.h"

namespace
{

std::string WindowText(HWND window)
{
    char text[4096] = "";
    if (window) // a link window that was never created
        GetWindowTextA(window, text, sizeof(text));
    return text;
}

// The focused control; a dialog just shown may take a moment to set it.
HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    for (int wait = 0; !info.hwndFocus && wait < 500; wait++, Sleep(10))
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info);
    return info.hwndFocus;
}

enum CChoice { SEND_BY_ENTER, DONT_SEND, ESCAPE, CLOSE_BOX };

const char TEXT_FILE[] = "C:\\Reports\\app_Debug.txt";

// Types into both fields (within their limits, as the keyboard would), then chooses.
void FillAndChoose(HWND dialog, const std::string &description, const std::string &email,
                   CChoice choice)
{
    SendDlgItemMessageA(dialog, IDC_REPORT_DESCRIPTION, EM_REPLACESEL, TRUE,
                        reinterpret_cast<LPARAM>(description.c_str()));
    SendDlgItemMessageA(dialog, IDC_REPORT_EMAIL, EM_REPLACESEL, TRUE,
                        reinterpret_cast<LPARAM>(email.c_str()));
    if (choice == DONT_SEND)
        PostMessageA(GetDlgItem(dialog, IDC_REPORT_DONT_SEND), BM_CLICK, 0, 0);
    else if (choice == CLOSE_BOX)
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        PostMessageA(FocusOf(dialog), WM_KEYDOWN, choice == ESCAPE ? VK_ESCAPE : VK_RETURN, 0);
}

// Makes the creation of link windows on this thread fail while it lives, as on systems
// whose common controls have none.
LRESULT CALLBACK RefuseLinkWindows(int code, WPARAM wParam, LPARAM lParam)
{
    wchar_t name[32] = L"";
    if (code == HCBT_CREATEWND)
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, 32);
    return wcscmp(name, WC_LINK) ? CallNextHookEx(NULL, code, wParam, lParam) : 1;
}

} // namespace

// Product, company and web address come from a version resource: one with all three (the
// address behind "http://" in any case, up to a ']'), one with the product alone. Only
// sending returns 1 and what was typed.
TEST(ReportDialogTest, ShowsTheStatedTextsAndReturnsWhatWasTyped)
{
    // Without link windows the notices take their plain forms in the static controls.
    struct Case
    {
        CChoice choice; const char *versionModule, *dumpFile, *textFile; bool linkWindows;
        const char *title, *contact, *files;
    } cases[] = {
        {SEND_BY_ENTER, "ReportSite.dll", "C:\\Reports\\app_Debug.dmp", TEXT_FILE, true,
         "Brennlow Test Product",
         "Please tell Brennlow Testers about this problem.\n\nYou can check the website <a "
         "href=\"HTTP://www.brennlow.example/nightly\">www.brennlow.example/nightly</a> for a "
         "newer version.",
         "The files <a href=\"C:\\Reports\\app_Debug.txt\">app_Debug.txt</a> and <a "
         "href=\"C:\\Reports\\app_Debug.dmp\">app_Debug.dmp</a> will be send. They do not "
         "contain any personal information."},
        {ESCAPE, "ReportSite.dll", "C:\\Reports\\app_Debug.dmp", TEXT_FILE, false,
         "Brennlow Test Product",
         "Please tell Brennlow Testers about this problem.\n\nYou can check the website "
         "'www.brennlow.example/nightly' for a newer version.",
         "The files app_Debug.txt and app_Debug.dmp will be send. They do not contain any "
         "personal information."},
        {CLOSE_BOX, "ReportBare.dll", "", TEXT_FILE, false, "Bare Product",
         "Please tell us about this problem.",
         "The file app_Debug.txt will be send. It does not contain any personal information."},
        // Only the files that were written are named; with neither, there is no notice.
        {DONT_SEND, "ReportBare.dll", "C:\\Reports\\app_Debug.dmp", "", false, "Bare Product",
         "Please tell us about this problem.",
         "The file app_Debug.dmp will be send. It does not contain any personal information."},
        {CLOSE_BOX, "ReportBare.dll", "", "", true, "Bare Product",
         "Please tell us about this problem.", ""},
    };
    const std::string description(2100, 'd'), email(300, 'e');
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.title + std::string(c.linkWindows ? " with links" : " plain"));
        CStr dump, text, typedEmail, typedDescription;
        dump = c.dumpFile;
        text = c.textFile;
        typedDescription.Reset(REPORT_DESCRIPTION_CAPACITY);
        std::string versionFile = BesideTestProgram(c.versionModule);
        HHOOK refuse = c.linkWindows ? NULL : SetWindowsHookExA(WH_CBT, RefuseLinkWindows,
                                                                 NULL, GetCurrentThreadId());
        int result = -1;
        EXPECT_TRUE(DriveDialog(
            [&] { result = CReportDialog::Run(101, dump, text, typedEmail, typedDescription,
                                              versionFile.c_str()); },
            [&](HWND dialog) {
                const CReportDialog *data = CReportDialog::FromWindow(dialog);
                HWND contact = GetDlgItem(dialog, IDC_REPORT_CONTACT);
                HWND files = GetDlgItem(dialog, IDC_REPORT_FILES);
                EXPECT_EQ(c.title, WindowText(dialog));
                EXPECT_EQ(c.title + std::string(" has stopped working."),
                          data->GetTitleLabel().GetText());
                EXPECT_EQ(c.contact, WindowText(c.linkWindows ? data->GetWebsiteLink() : contact));
                EXPECT_EQ(c.files, WindowText(c.linkWindows ? data->GetFilesLink() : files));
                EXPECT_EQ(!c.linkWindows, IsWindowVisible(contact) != 0);
                EXPECT_EQ(!c.linkWindows, IsWindowVisible(files) != 0);
                EXPECT_EQ(GetDlgItem(dialog, IDC_REPORT_SEND), FocusOf(dialog));
                FillAndChoose(dialog, description, email, c.choice);
            }));
        if (refuse)
            UnhookWindowsHookEx(refuse);
        const bool sent = c.choice == SEND_BY_ENTER;
        EXPECT_EQ(sent, result);
        // Each field takes one character less than its text's capacity, for the terminator.
        EXPECT_EQ(sent ? description.substr(0, 2046) : "", typedDescription.GetText());
        EXPECT_EQ(sent ? email.substr(0, 258) : "", typedEmail.GetText());
    }
}

// The choices that send nothing, with or without a server, are tried by the crash dialog
// tests.
TEST(ReportDialogTest, SendReportUploadsOnlyWhenTheUserSends)
{
    CStr dump, text;
    CReportSettings settings = {"127.0.0.1", "/tamsel/report.php", "Test Product", "extra", 101};
    CLoopbackReceiver receiver("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK", 80);
    ASSERT_TRUE(receiver.m_Bound) << "127.0.0.1 port 80 is taken";
    CTempFolder folder;
    const std::string dumpBytes("MDMP\0\xFF\r\n--\x01", 11), textBytes = "Exception\r\n";
    WriteWholeFile(folder.File("app_Debug.dmp"), dumpBytes);
    WriteWholeFile(folder.File("app_Debug.txt"), textBytes);
    dump = folder.File("app_Debug.dmp").c_str();
    text = folder.File("app_Debug.txt").c_str();
    EXPECT_TRUE(DriveDialog([&] { EXPECT_EQ(0, SendReport(settings, dump, text)); },
                            [](HWND dialog) {
                                FillAndChoose(dialog, "It fell over", "u@test.example",
                                              SEND_BY_ENTER);
                            }));
    receiver.Stop(); // a form that never came fails the checks below
    const std::string &request = receiver.m_Request;
    EXPECT_EQ(0u, request.find("POST /tamsel/report.php HTTP/1.1\r\n"));
    size_t id = request.find("name=\"g\"\r\n\r\n") + 12;
    EXPECT_TRUE(std::regex_match(request.substr(id, 19), std::regex("[0-9A-F]{4}(-[0-9A-F]{4}){3}")));
    const std::string body = Field("a", "r") + Field("p", "Test Product") + Field("s", "extra") +
                             Field("v", "1.01") + Field("g", request.substr(id, 19)) +
                             Field("e", "u@test.example") + Field("x", "It fell over") +
                             FileHeader("d", "app_Debug.dmp") + dumpBytes + "\r\n" +
                             FileHeader("t", "app_Debug.txt") + textBytes + "\r\n" + kEnd;
    EXPECT_EQ("\r\n\r\n" + body, request.substr(request.find("\r\n\r\n")));
}
