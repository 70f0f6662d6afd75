

#include "TestSupport.h"
#include "base/Str.h"
#include "crash/HttpPost.h"
#include "crash/LoopbackReceiver.h"
#include "crash/ui/ControlTestSupport.h"

using namespace std::string_literals;

namespace
{

const std::string kLine = "-------------------------------1234567890123\r\n";
const std::string kEnd = "-------------------------------1234567890123--\r\n";

std::string Field(const std::string &name, const std::string &value)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string FileHeader(const std::string &name, const std::string &file)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

int Post(CLoopbackReceiver &receiver, CHttpPost &post, CStr *response, HWND owner = NULL)
{
    CStr server, path, agent;
    server = "127.0.0.1";
    path = "/tamsel/report.php";
    int result = post.Post(server, path, agent, response, owner, receiver.m_Port);
    receiver.Join();
    return result;
}

// Sends this prefix's requests through a proxy while it lives, as the system's Internet
// settings say; the settings it found come back afterwards.
class CProxySetting
{
public:
    explicit CProxySetting(const std::string &server)
    {
        ExpectOwnPrefix("The proxy setting");
        RegCreateKeyA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", &m_Key);
        for (Saved &value : m_Saved)
            value.had = RegQueryValueExA(m_Key, value.name, NULL, &value.type, value.data,
                                         &(value.size = sizeof(value.data))) == ERROR_SUCCESS;
        DWORD enable = 1;
        RegSetValueExA(m_Key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<BYTE *>(&enable),
                       sizeof(enable));
        RegSetValueExA(m_Key, "ProxyServer", 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(server.c_str()),
                       static_cast<DWORD>(server.size() + 1));
    }
    ~CProxySetting()
    {
        for (const Saved &value : m_Saved)
            if (value.had)
                RegSetValueExA(m_Key, value.name, 0, value.type, value.data, value.size);
            else
                RegDeleteValueA(m_Key, value.name);
        RegCloseKey(m_Key);
    }

private:
    struct Saved { const char *name; bool had; DWORD type, size; BYTE data[512]; } m_Saved[2] = {
        {"ProxyEnable", false, 0, 0, {}}, {"ProxyServer", false, 0, 0, {}}};
    HKEY m_Key = NULL;
};

} // namespace

// Text fields, a binary file, and a file that does not open, which keeps its field with
// empty content. The request is also left for a multipart parser that is not ours.
TEST(HttpPost, FormReachesServerByteForByte)
{
    CTempFolder folder;
    std::string binary;
    for (int i = 0; i < 600; i++)
        binary += static_cast<char>(i % 3 ? i * 7 : 0);
    ASSERT_TRUE(WriteWholeFile(folder.File("app_Debug.dmp"), binary));

    CLoopbackReceiver receiver("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 12\r\n"
                               "Connection: close\r\n\r\nstored\0 tail"s);
    CHttpPost post;
    EXPECT_EQ(1, post.AddPart("a", "r", PART_FIELD));
    EXPECT_EQ(1, post.AddFile("d", folder.File("app_Debug.dmp").c_str()));
    EXPECT_EQ(0, post.AddFile("t", folder.File("missing_Debug.txt").c_str()));
    EXPECT_EQ(1, post.AddPart("e", "me@example.org", PART_FIELD));
    CStr response;
    EXPECT_EQ(1, Post(receiver, post, &response));
    EXPECT_STREQ("stored", response.GetText());

    const std::string &request = receiver.m_Request;
    std::string body = Field("a", "r") + FileHeader("d", "app_Debug.dmp") + binary + "\r\n" +
                       FileHeader("t", "missing_Debug.txt") + "\r\n" +
                       Field("e", "me@example.org") + kEnd;
    EXPECT_EQ(0u, request.find("POST /tamsel/report.php HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Type: multipart/form-data; "
                                              "boundary=-----------------------------1234567890123\r\n"));
    EXPECT_NE(std::string::npos,
              request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"));
    EXPECT_TRUE(request.size() > body.size() && request.substr(request.size() - body.size()) == body);

    char capture[MAX_PATH];
    if (GetEnvironmentVariableA("BRENNLOW_UPLOAD_CAPTURE", capture, sizeof(capture)))
    {
        std::string dir = capture;
        CreateDirectoryA(dir.c_str(), NULL);
        EXPECT_TRUE(WriteWholeFile(dir + "\\request.bin", request));
        EXPECT_TRUE(WriteWholeFile(dir + "\\app_Debug.dmp", binary));
        EXPECT_TRUE(WriteWholeFile(dir + "\\fields.txt", "a\t-\tr\nd\tapp_Debug.dmp\t@app_Debug.dmp\n"
                                                         "t\tmissing_Debug.txt\t\ne\t-\tme@example.org\n"));
    }
}

// A proxy that wants credentials gets them from the user through the system's dialog,
// and then the whole form once more. When the credentials go along (at once or on the
// proxy's next challenge) is WinInet's choice.
TEST(HttpPost, ProxyCredentialsSendTheWholeFormAgain)
{
    CLoopbackReceiver proxy({"HTTP/1.1 407 Proxy Authentication Required\r\n"
                             "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n"
                             "Connection: close\r\n\r\n",
                             "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\n"
                             "stored"},
                            LOOPBACK_CLOSE);
    CProxySetting setting("127.0.0.1:" + std::to_string(proxy.m_Port));
    CTestParent owner;
    CHttpPost post;
    EXPECT_EQ(1, post.AddPart("a", "r", PART_FIELD));
    CStr response;
    int result = -1;
    EXPECT_TRUE(DriveDialog([&] { result = Post(proxy, post, &response, owner.Get()); },
                            [](HWND dialog) {
                                HWND edit = NULL;
                                for (const char *text : {"tester", "secret"})
                                    if ((edit = FindWindowExA(dialog, edit, "Edit", NULL)))
                                        SetWindowTextA(edit, text);
                                PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                            }));
    EXPECT_EQ(1, result);
    EXPECT_STREQ("stored", response.GetText());
    ASSERT_EQ(2u, proxy.m_Requests.size());
    const std::string body = "\r\n\r\n" + Field("a", "r") + kEnd;
    for (const std::string &request : proxy.m_Requests)
    {
        EXPECT_EQ(0u, request.find("POST http://127.0.0.1:")) << request;
        EXPECT_EQ(body, request.substr(request.find("\r\n\r\n"))) << request;
    }
}

// An empty form carries only the closing line; a server that closes the connection
// without answering has not taken the report. An answer that never ends is read up to its
// limit; one that stops coming ends with the receive time limit (15 s) instead of the
// server's minute.
TEST(HttpPost, AnswersAreReadWithinBounds)
{
    // The result (-1: not checked) and the answer kept (null: only its length checked).
    const struct { CLoopbackEnd end; const char *reply; int result; const char *text; size_t kept; } cases[] = {
        {LOOPBACK_CLOSE, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", 1, "ok", 2},
        {LOOPBACK_CLOSE, "", 0, "", 0},
        {LOOPBACK_STREAM, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", -1, NULL, 65536},
        {LOOPBACK_HOLD, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", -1, "", 0},
    };
    for (const auto &c : cases)
    {
        CLoopbackReceiver receiver({c.reply}, c.end);
        CHttpPost post;
        CStr response;
        response = "stale";
        DWORD start = GetTickCount();
        int result = Post(receiver, post, &response);
        EXPECT_LT(GetTickCount() - start, 40000u) << c.reply;
        EXPECT_TRUE(c.result < 0 || c.result == result) << c.reply;
        EXPECT_EQ(c.kept, response.GetLength()) << c.reply;
        EXPECT_TRUE(!c.text || response.GetText() == std::string(c.text)) << c.reply;
        EXPECT_EQ("\r\n\r\n" + kEnd, receiver.m_Request.substr(receiver.m_Request.find("\r\n\r\n")));
    }
}
