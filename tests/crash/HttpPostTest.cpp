

#include "TestSupport.h"
#include "base/Str.h"
#include "crash/HttpPost.h"
#include "crash/LoopbackReceiver.h"
#include "crash/ui/ControlTestSupport.h"

#include <wincrypt.h>

using namespace std::string_literals;

namespace
{

const char kStored[] = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nstored";

int PostTo(const std::string &server, unsigned short port, CHttpPost &post, CStr *response,
           HWND owner = NULL)
{
    CStr serverText, path, agent;
    serverText = server.c_str();
    path = "/tamsel/report.php";
    return post.Post(serverText, path, agent, response, owner, port);
}

int Post(CLoopbackReceiver &receiver, CHttpPost &post, CStr *response, HWND owner = NULL)
{
    int result = PostTo("127.0.0.1", receiver.m_Port, post, response, owner);
    receiver.Join();
    return result;
}

// An authority's certificate, trusted in this prefix's current-user root store while
// the object lives. Others see the store as it was written out, not as this handle holds it.
struct CTrustedAuthority
{
    explicit CTrustedAuthority(const std::string &derFile)
    {
        std::string der;
        if (store && ReadWholeFile(derFile, &der) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                             reinterpret_cast<const BYTE *>(der.data()),
                                             static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, &cert))
            CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, NULL);
    }
    ~CTrustedAuthority()
    {
        if (cert && CertDeleteCertificateFromStore(cert))
            CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, NULL);
        CertCloseStore(store, 0);
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    PCCERT_CONTEXT cert = NULL;
};

// Sends this prefix's requests through a proxy while it lives, as the system's Internet
// settings say; a prefix of its own has none before or after.
struct CProxySetting
{
    explicit CProxySetting(const std::string &server)
    {
        ExpectOwnPrefix("The proxy setting");
        RegCreateKeyA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", &key);
        Set(1, server.c_str());
    }
    ~CProxySetting()
    {
        Set(0, NULL);
        RegCloseKey(key);
    }
    void Set(DWORD enable, const char *server)
    {
        RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<BYTE *>(&enable), 4);
        if (!server)
            RegDeleteValueA(key, "ProxyServer");
        else
            RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE *>(server),
                           static_cast<DWORD>(strlen(server) + 1));
    }
    HKEY key = NULL;
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

// A proxy that wants credentials gets them from the user through the system's dialog, and
// then the whole form once more (at once or on its next challenge: the system's choice).
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

// An empty form carries only the closing line; a server that closes without answering has
// not taken the report. An endless answer is read up to its limit; one that stops coming
// ends with the receive time limit (15 s), one that trickles with the exchange's deadline.
TEST(HttpPost, AnswersAreReadWithinBounds)
{
    // The result (-1: not checked) and the answer kept (null: only its length checked).
    const struct { CLoopbackEnd end; const char *reply; DWORD deadline; int result; const char *text; size_t kept; } cases[] = {
        {LOOPBACK_CLOSE, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", 0, 1, "ok", 2},
        {LOOPBACK_CLOSE, "", 0, 0, "", 0},
        {LOOPBACK_STREAM, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 0, -1, NULL, 65536},
        {LOOPBACK_HOLD, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", 0, -1, "", 0},
        {LOOPBACK_TRICKLE, "HTTP/1.1 200 OK\r\nX-Slow: ", 3000, 0, "", 0},
        {LOOPBACK_TRICKLE, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", 3000, 0, "", 0},
    };
    for (const auto &c : cases)
    {
        CLoopbackReceiver receiver({c.reply}, c.end);
        CHttpPost post;
        if (c.deadline)
            post.SetDeadline(c.deadline);
        CStr response;
        response = "stale";
        DWORD start = GetTickCount();
        int result = PostTo("127.0.0.1", receiver.m_Port, post, &response);
        DWORD error = GetLastError(), took = GetTickCount() - start;
        // The exchange that was given up ends with the connection and frees what it held.
        receiver.Stop();
        EXPECT_LT(took, c.deadline ? 6000u : 40000u) << c.reply;
        EXPECT_TRUE(!c.deadline || (took >= 2900 && error == ERROR_TIMEOUT)) << c.reply << took << " " << error;
        EXPECT_TRUE(c.result < 0 || c.result == result) << c.reply;
        EXPECT_EQ(c.kept, response.GetLength()) << c.reply;
        EXPECT_TRUE(!c.text || response.GetText() == std::string(c.text)) << c.reply;
        EXPECT_EQ("\r\n\r\n" + kEnd, receiver.m_Request.substr(receiver.m_Request.find("\r\n\r\n")));
    }
}

// A bare host name goes to the caller's port; a scheme names the port itself: 80 for
// "http://", or the one after the host.
TEST(HttpPost, ServerSettingChoosesThePort)
{
    // Whether the second receiver's port follows the server text or is the caller's port;
    // arrives: 80, 1 (the second receiver) or 0 (neither).
    const struct { const char *server; bool portInText, portGiven; int arrives; } cases[] = {
        {"127.0.0.1", false, false, 80},      {"127.0.0.1", false, true, 1},
        {"http://127.0.0.1", false, true, 80}, {"HTTP://127.0.0.1:", true, false, 1},
        {"http://127.0.0.1:", false, true, 0}, {"https://", false, true, 0},
    };
    for (const auto &c : cases)
    {
        CLoopbackReceiver port80(kStored, 80), second(kStored);
        ASSERT_TRUE(port80.m_Bound);
        CHttpPost post;
        CStr response;
        std::string server = c.server + (c.portInText ? std::to_string(second.m_Port) + "/" : "");
        EXPECT_EQ(c.arrives != 0, PostTo(server, c.portGiven ? second.m_Port : 80, post, &response))
            << server;
        port80.Stop();
        second.Stop();
        EXPECT_EQ(c.arrives == 80, port80.m_Requests.size() == 1) << server;
        EXPECT_EQ(c.arrives == 1, second.m_Requests.size() == 1) << server;
    }
}

// Over TLS the form reaches the server whole; a server that the system does not trust for
// the name it was asked by gets nothing. The TLS server of RunWithTls.sh stands in front of
// this test's receiver, on port 443 trusted, on two further ports not.
TEST(HttpPostTls, OnlyATrustedServerGetsTheForm)
{
    const char *authorityFile = getenv("BRENNLOW_TLS_CA");
    unsigned backend = 0, stranger = 0, otherName = 0;
    const char *ports = getenv("BRENNLOW_TLS_PORTS");
    if (!authorityFile || !ports || sscanf(ports, "%u %u %u", &backend, &stranger, &otherName) != 3)
        GTEST_SKIP() << "needs the TLS server of RunWithTls.sh";
    CTrustedAuthority authority(std::string("Z:") + authorityFile);
    ASSERT_TRUE(authority.cert);
    CTempFolder folder;
    std::string binary;
    for (int i = 0; i < 70000; i++)
        binary += static_cast<char>(i * 13);
    ASSERT_TRUE(WriteWholeFile(folder.File("app_Debug.dmp"), binary));

    const struct { std::string server; bool arrives; } cases[] = {
        {"https://localhost:" + std::to_string(stranger), false},
        {"https://localhost:" + std::to_string(otherName), false},
        {"https://localhost", true},
    };
    const std::string body = FileHeader("d", "app_Debug.dmp") + binary + "\r\n" + kEnd;
    for (const auto &c : cases)
    {
        CLoopbackReceiver receiver(kStored, static_cast<unsigned short>(backend));
        ASSERT_TRUE(receiver.m_Bound);
        CHttpPost post;
        EXPECT_EQ(1, post.AddFile("d", folder.File("app_Debug.dmp").c_str()));
        CStr response;
        EXPECT_EQ(c.arrives ? 1 : 0, PostTo(c.server, 80, post, &response)) << c.server << GetLastError();
        receiver.Stop();
        // The TLS server reaches the receiver once the handshake is done on its side, also
        // when the client refuses the certificate afterwards; nothing may follow.
        size_t header = receiver.m_Request.find("\r\n\r\n");
        std::string arrived =
            header == std::string::npos ? receiver.m_Request : receiver.m_Request.substr(header + 4);
        EXPECT_TRUE(arrived == (c.arrives ? body : "")) << c.server << ": " << arrived.size();
        EXPECT_STREQ(c.arrives ? "stored" : "", response.GetText()) << c.server << GetLastError();
    }
}
