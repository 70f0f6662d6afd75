#include "crash/ui/ReportDialog.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "crash/CrashHandler.h"

namespace
{

// Works the first dialog that the calling thread shows from a second thread, through
// messages only, as a user would. A dialog still open after the action is cancelled, so
// that a failed check cannot leave the test waiting.
class CDialogDriver
{
public:
    explicit CDialogDriver(std::function<void(HWND)> action)
        : m_Thread(GetCurrentThreadId()), m_Stop(false), m_Seen(false)
    {
        m_Worker = std::thread([this, action] { Drive(action); });
    }
    ~CDialogDriver() { Finish(); }

    // Called once the code under test has returned; true when a dialog was shown.
    bool Finish()
    {
        m_Stop = true;
        if (m_Worker.joinable())
            m_Worker.join();
        return m_Seen;
    }

private:
    static BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM found)
    {
        char name[16] = "";
        GetClassNameA(window, name, sizeof(name));
        if (strcmp(name, "#32770") || !IsWindowVisible(window))
            return TRUE;
        *reinterpret_cast<HWND *>(found) = window;
        return FALSE;
    }

    void Drive(const std::function<void(HWND)> &action)
    {
        HWND dialog = NULL;
        for (int wait = 0; !dialog && !m_Stop && wait < 1000; wait++)
        {
            EnumThreadWindows(m_Thread, FindVisibleDialog, reinterpret_cast<LPARAM>(&dialog));
            if (!dialog)
                Sleep(10);
        }
        if (!dialog)
            return;
        m_Seen = true;
        action(dialog);
        for (int wait = 0; IsWindow(dialog) && wait < 500; wait++)
            Sleep(10);
        if (IsWindow(dialog))
        {
            ADD_FAILURE() << "the dialog stayed open";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    }

    DWORD m_Thread;
    std::atomic<bool> m_Stop;
    std::atomic<bool> m_Seen;
    std::thread m_Worker;
};

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring wide(length + 1, L'\0');
    GetWindowTextW(window, &wide[0], length + 1);
    char text[4096] = "";
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof(text), NULL, NULL);
    return text;
}

HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info);
    return info.hwndFocus;
}

void PressKey(HWND dialog, WPARAM key)
{
    PostMessageA(FocusOf(dialog), WM_KEYDOWN, key, 0);
}

// Types text at the caret as the keyboard would, within the field's limit.
void Type(HWND dialog, int id, const std::string &text)
{
    SendDlgItemMessageA(dialog, id, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

enum CChoice
{
    CHOOSE_SEND,
    CHOOSE_DONT_SEND,
    CHOOSE_ESCAPE,
    CHOOSE_CLOSE_BOX,
};

void Choose(HWND dialog, CChoice choice)
{
    switch (choice)
    {
    case CHOOSE_SEND:
        PressKey(dialog, VK_RETURN);
        break;
    case CHOOSE_DONT_SEND:
        PostMessageA(GetDlgItem(dialog, IDC_REPORT_DONT_SEND), BM_CLICK, 0, 0);
        break;
    case CHOOSE_ESCAPE:
        PressKey(dialog, VK_ESCAPE);
        break;
    case CHOOSE_CLOSE_BOX:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

std::string BesideTestProgram(const char *name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof(path));
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

// With refuse, makes the creation of every link window on this thread fail, as on systems
// whose common controls have none.
class CWithoutLinkWindows
{
public:
    explicit CWithoutLinkWindows(bool refuse)
        : m_hHook(refuse ? SetWindowsHookExA(WH_CBT, RefuseLinks, NULL, GetCurrentThreadId())
                         : NULL)
    {
    }
    ~CWithoutLinkWindows()
    {
        if (m_hHook)
            UnhookWindowsHookEx(m_hHook);
    }
    bool Refusing() const { return m_hHook != NULL; }

private:
    static LRESULT CALLBACK RefuseLinks(int code, WPARAM wParam, LPARAM lParam)
    {
        wchar_t name[32] = L"";
        if (code == HCBT_CREATEWND)
            GetClassNameW(reinterpret_cast<HWND>(wParam), name, 32);
        return wcscmp(name, WC_LINK) ? CallNextHookEx(NULL, code, wParam, lParam) : 1;
    }

    HHOOK m_hHook;
};

} // namespace

TEST(ReportDialogTest, ShowsTheStatedTextsAndReturnsWhatWasTyped)
{
    struct Case
    {
        const char *versionModule;
        const char *dumpFile;
        CChoice choice;
        const char *title;
        const char *contactLink;
        const char *filesLink;
        bool withoutLinks; // the two texts are then the plain forms in the static controls
    } cases[] = {
        {"ReportSite.dll", "C:\\Reports\\app_Debug.dmp", CHOOSE_SEND, "Brennlow Test Product",
         "Please tell Brennlow Testers about this problem.\n\nYou can check the website <a "
         "href=\"HTTP://www.brennlow.example/nightly\">www.brennlow.example/nightly</a> for a "
         "newer version.",
         "The files <a href=\"C:\\Reports\\app_Debug.txt\">app_Debug.txt</a> and <a "
         "href=\"C:\\Reports\\app_Debug.dmp\">app_Debug.dmp</a> will be send. They do not "
         "contain any personal information.",
         false},
        {"ReportBare.dll", "", CHOOSE_DONT_SEND, "Bare Product",
         "Please tell us about this problem.",
         "The file <a href=\"C:\\Reports\\app_Debug.txt\">app_Debug.txt</a> will be send. It "
         "does not contain any personal information.",
         false},
        {"ReportSite.dll", "C:\\Reports\\app_Debug.dmp", CHOOSE_SEND, "Brennlow Test Product",
         "Please tell Brennlow Testers about this problem.\n\nYou can check the website "
         "'www.brennlow.example/nightly' for a newer version.",
         "The files app_Debug.txt and app_Debug.dmp will be send. They do not contain any "
         "personal information.",
         true},
        {"ReportBare.dll", "", CHOOSE_DONT_SEND, "Bare Product",
         "Please tell us about this problem.",
         "The file app_Debug.txt will be send. It does not contain any personal information.",
         true},
    };
    const std::string longDescription(2100, 'd'), longEmail(300, 'e');
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.versionModule);
        CStr dump, text, email, description;
        dump = c.dumpFile;
        text = "C:\\Reports\\app_Debug.txt";
        description.Reset(REPORT_DESCRIPTION_CAPACITY);
        CWithoutLinkWindows noLinks(c.withoutLinks);
        ASSERT_EQ(c.withoutLinks, noLinks.Refusing());
        CDialogDriver driver([&](HWND dialog) {
            EXPECT_EQ(c.title, WindowText(dialog));
            const CReportDialog *data = CReportDialog::FromWindow(dialog);
            ASSERT_NE(nullptr, data);
            EXPECT_EQ(std::string(c.title) + " has stopped working.",
                      data->GetTitleLabel().GetText());
            EXPECT_STREQ("Can you please describe what you were doing when the problem occurred?",
                         data->GetDescriptionCaption().GetText());
            EXPECT_STREQ("Your E-mail address:", data->GetEmailCaption().GetText());
            HWND contact = GetDlgItem(dialog, IDC_REPORT_CONTACT);
            HWND files = GetDlgItem(dialog, IDC_REPORT_FILES);
            EXPECT_EQ(c.contactLink,
                      WindowText(c.withoutLinks ? contact : data->GetWebsiteLink()));
            EXPECT_EQ(c.filesLink, WindowText(c.withoutLinks ? files : data->GetFilesLink()));
            EXPECT_EQ(c.withoutLinks, IsWindowVisible(contact) && IsWindowVisible(files));
            EXPECT_EQ(GetDlgItem(dialog, IDC_REPORT_SEND), FocusOf(dialog));
            Type(dialog, IDC_REPORT_DESCRIPTION, longDescription);
            Type(dialog, IDC_REPORT_EMAIL, longEmail);
            EXPECT_EQ(2046, GetWindowTextLengthA(GetDlgItem(dialog, IDC_REPORT_DESCRIPTION)));
            EXPECT_EQ(258, GetWindowTextLengthA(GetDlgItem(dialog, IDC_REPORT_EMAIL)));
            Choose(dialog, c.choice);
        });
        int result = CReportDialog::Run(dump, text, email, description,
                                        BesideTestProgram(c.versionModule).c_str());
        EXPECT_TRUE(driver.Finish());
        if (c.choice == CHOOSE_SEND)
        {
            EXPECT_EQ(1, result);
            EXPECT_EQ(longDescription.substr(0, 2046), description.GetText());
            EXPECT_EQ(longEmail.substr(0, 258), email.GetText());
        }
        else
        {
            EXPECT_EQ(0, result);
            EXPECT_STREQ("", description.GetText());
            EXPECT_STREQ("", email.GetText());
        }
    }
}

TEST(ReportDialogTest, BigIconSizesAreThoseOfIconFiles)
{
    const int cases[][2] = {{16, 16}, {17, 32}, {32, 32}, {40, 48}, {48, 48}, {64, 256}};
    for (const auto &c : cases)
        EXPECT_EQ(c[1], GetBigIconSize(c[0])) << c[0];
}

namespace
{

// An HTTP receiver on 127.0.0.1 port 80 that answers every request with 200 and keeps
// each request's head and body.
class CUploadReceiver
{
public:
    CUploadReceiver() : m_Listener(INVALID_SOCKET), m_Stop(false)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CUploadReceiver()
    {
        m_Stop = true;
        if (m_Worker.joinable())
            m_Worker.join();
        if (m_Listener != INVALID_SOCKET)
            closesocket(m_Listener);
        WSACleanup();
    }

    bool Start()
    {
        m_Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(80);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_Listener == INVALID_SOCKET ||
            bind(m_Listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) ||
            listen(m_Listener, 4))
            return false;
        m_Worker = std::thread([this] { Serve(); });
        return true;
    }

    std::vector<std::string> TakeRequests()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return std::move(m_Requests);
    }

private:
    void Serve()
    {
        while (!m_Stop)
        {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_Listener, &readable);
            timeval wait = {0, 50000};
            if (select(0, &readable, NULL, NULL, &wait) != 1)
                continue;
            SOCKET client = accept(m_Listener, NULL, NULL);
            if (client == INVALID_SOCKET)
                continue;
            std::string request = ReadRequest(client);
            const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK";
            send(client, answer, sizeof(answer) - 1, 0);
            closesocket(client);
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Requests.push_back(request);
        }
    }

    static std::string ReadRequest(SOCKET client)
    {
        std::string request;
        size_t expected = std::string::npos;
        char block[4096];
        while (request.size() < expected)
        {
            int got = recv(client, block, sizeof(block), 0);
            if (got <= 0)
                break;
            request.append(block, got);
            size_t head = request.find("\r\n\r\n");
            if (expected == std::string::npos && head != std::string::npos)
            {
                size_t length = request.find("Content-Length: ");
                expected = head + 4 +
                           (length < head ? strtoul(request.c_str() + length + 16, NULL, 10) : 0);
            }
        }
        return request;
    }

    SOCKET m_Listener;
    std::atomic<bool> m_Stop;
    std::thread m_Worker;
    std::mutex m_Mutex;
    std::vector<std::string> m_Requests;
};

// The form of a multipart request as (name, content) pairs in body order.
std::vector<std::pair<std::string, std::string>> ReadForm(const std::string &request)
{
    std::vector<std::pair<std::string, std::string>> form;
    size_t boundaryAt = request.find("boundary=");
    if (boundaryAt == std::string::npos)
        return form;
    boundaryAt += 9;
    std::string delimiter =
        "--" + request.substr(boundaryAt, request.find("\r\n", boundaryAt) - boundaryAt);
    size_t at = request.find(delimiter, request.find("\r\n\r\n"));
    while (at != std::string::npos && request.compare(at + delimiter.size(), 2, "--"))
    {
        size_t head = at + delimiter.size() + 2;
        size_t content = request.find("\r\n\r\n", head) + 4;
        size_t next = request.find(delimiter, content);
        size_t nameAt = request.find("name=\"", head) + 6;
        form.emplace_back(request.substr(nameAt, request.find('"', nameAt) - nameAt),
                          request.substr(content, next - content - 2));
        at = next;
    }
    return form;
}

// Configures the global crash handler for the test and empties it again afterwards.
class CReportServerScope
{
public:
    CReportServerScope(const char *server)
    {
        g_CrashHandler.Configure(101, server, "/tamsel/report.php", "Test Product", "extra");
    }
    ~CReportServerScope() { g_CrashHandler.Configure(0, "", "", "", ""); }
};

} // namespace

TEST(ReportDialogTest, SendReportWithoutServerShowsNothing)
{
    CReportServerScope configuration("");
    CStr dump, text;
    CDialogDriver driver([](HWND dialog) { Choose(dialog, CHOOSE_DONT_SEND); });
    EXPECT_EQ(1, SendReport(dump, text));
    EXPECT_FALSE(driver.Finish());
}

TEST(ReportDialogTest, SendReportUploadsFieldsAndFilesOnlyWhenTheUserSends)
{
    CUploadReceiver receiver;
    ASSERT_TRUE(receiver.Start()) << "127.0.0.1 port 80 is taken";
    CReportServerScope configuration("127.0.0.1");
    CTempFolder folder;
    const std::string dumpBytes("MDMP\0\xFF\r\n--\x01", 11), textBytes = "Exception: test\r\n";
    ASSERT_TRUE(WriteWholeFile(folder.File("app_Debug.dmp"), dumpBytes));
    ASSERT_TRUE(WriteWholeFile(folder.File("app_Debug.txt"), textBytes));
    CStr dump, text;
    dump = folder.File("app_Debug.dmp").c_str();
    text = folder.File("app_Debug.txt").c_str();
    for (CChoice choice : {CHOOSE_SEND, CHOOSE_DONT_SEND, CHOOSE_ESCAPE, CHOOSE_CLOSE_BOX})
    {
        SCOPED_TRACE(choice);
        CDialogDriver driver([choice](HWND dialog) {
            Type(dialog, IDC_REPORT_DESCRIPTION, "It fell over");
            Type(dialog, IDC_REPORT_EMAIL, "user@test.example");
            Choose(dialog, choice);
        });
        EXPECT_EQ(0, SendReport(dump, text));
        EXPECT_TRUE(driver.Finish());
        std::vector<std::string> requests = receiver.TakeRequests();
        if (choice != CHOOSE_SEND)
        {
            EXPECT_EQ(0u, requests.size());
            continue;
        }
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ(0u, requests[0].find("POST /tamsel/report.php HTTP/1.1\r\n"));
        std::vector<std::pair<std::string, std::string>> form = ReadForm(requests[0]);
        const char *names[] = {"a", "p", "s", "v", "g", "e", "x", "d", "t"};
        ASSERT_EQ(9u, form.size());
        for (size_t i = 0; i < form.size(); i++)
            EXPECT_EQ(names[i], form[i].first);
        EXPECT_EQ("r", form[0].second);
        EXPECT_EQ("Test Product", form[1].second);
        EXPECT_EQ("extra", form[2].second);
        EXPECT_EQ("1.01", form[3].second);
        EXPECT_EQ(19u, form[4].second.size()) << form[4].second;
        EXPECT_EQ("user@test.example", form[5].second);
        EXPECT_EQ("It fell over", form[6].second);
        EXPECT_EQ(dumpBytes, form[7].second);
        EXPECT_EQ(textBytes, form[8].second);
    }
}
