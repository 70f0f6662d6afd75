#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "TestSupport.h"
#include "base/Str.h"
#include "crash/HttpPost.h"

using namespace std::string_literals;

namespace
{

const std::string kLine = "-------------------------------1234567890123\r\n";
const std::string kEnd = "-------------------------------1234567890123--\r\n";

std::string FieldPart(const std::string &name, const std::string &value)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string FilePart(const std::string &name, const std::string &file)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

// Accepts one connection on a free loopback port, keeps the raw request and answers
// with reply; an empty reply closes the connection without answering.
class CLoopbackReceiver
{
public:
    explicit CLoopbackReceiver(const std::string &reply) : m_Reply(reply)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        bind(m_Listener, reinterpret_cast<sockaddr *>(&address), size);
        listen(m_Listener, 1);
        getsockname(m_Listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_Port = ntohs(address.sin_port);
        m_Thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackReceiver()
    {
        closesocket(m_Listener);
        if (m_Thread.joinable())
            m_Thread.join();
        WSACleanup();
    }
    unsigned short Port() const { return m_Port; }
    // The request as received, once the exchange is over.
    std::string Request()
    {
        m_Thread.join();
        return m_Request;
    }

private:
    void Serve()
    {
        SOCKET client = accept(m_Listener, NULL, NULL);
        if (client == INVALID_SOCKET)
            return;
        char block[4096];
        size_t expected = std::string::npos;
        while (m_Request.size() < expected)
        {
            int got = recv(client, block, sizeof(block), 0);
            if (got <= 0)
                break;
            m_Request.append(block, got);
            size_t headerEnd = m_Request.find("\r\n\r\n");
            size_t length = m_Request.find("Content-Length: ");
            if (headerEnd != std::string::npos && length < headerEnd)
                expected = headerEnd + 4 + strtoul(m_Request.c_str() + length + 16, NULL, 10);
        }
        send(client, m_Reply.data(), static_cast<int>(m_Reply.size()), 0);
        shutdown(client, SD_BOTH);
        closesocket(client);
    }

    std::string m_Reply;
    std::string m_Request;
    SOCKET m_Listener;
    unsigned short m_Port;
    std::thread m_Thread;
};

std::string Body(const std::string &request)
{
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? "" : request.substr(end + 4);
}

int PostTo(CHttpPost &post, const CLoopbackReceiver &receiver, CStr *response)
{
    CStr server, path, agent;
    server = "127.0.0.1";
    path = "/tamsel/report.php";
    return post.Post(server, path, agent, response, NULL, receiver.Port());
}

} // namespace

// The full form: text fields, a binary file, and a file that does not open, which keeps
// its field with empty content. The request is also left for an independent parser.
TEST(HttpPost, FormReachesServerByteForByte)
{
    CTempFolder folder;
    std::string binary;
    for (int i = 0; i < 600; i++)
        binary += static_cast<char>(i % 3 ? (i * 7) & 0xFF : 0);
    ASSERT_TRUE(WriteWholeFile(folder.File("app_Debug.dmp"), binary));

    CLoopbackReceiver receiver("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 12\r\n"
                               "Connection: close\r\n\r\nstored\0 tail"s);
    CHttpPost post;
    EXPECT_EQ(1, post.AddPart("a", "r", PART_FIELD));
    EXPECT_EQ(1, post.AddPart("p", "x y", PART_FIELD));
    EXPECT_EQ(0, post.AddPart("q", "z", 4));
    EXPECT_EQ(1, post.AddFile("d", folder.File("app_Debug.dmp").c_str()));
    EXPECT_EQ(0, post.AddFile("t", folder.File("missing_Debug.txt").c_str()));
    EXPECT_EQ(1, post.AddPart("e", "me@example.org", PART_FIELD));
    CStr response;
    EXPECT_EQ(1, PostTo(post, receiver, &response));
    EXPECT_STREQ("stored", response.GetText());

    std::string request = receiver.Request();
    std::string body = FieldPart("a", "r") + FieldPart("p", "x y") + FilePart("d", "app_Debug.dmp") +
                       binary + "\r\n" + FilePart("t", "missing_Debug.txt") + "\r\n" +
                       FieldPart("e", "me@example.org") + kEnd;
    EXPECT_EQ(0u, request.find("POST /tamsel/report.php HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos,
              request.find("\r\nContent-Type: multipart/form-data; "
                           "boundary=-----------------------------1234567890123\r\n"));
    EXPECT_NE(std::string::npos,
              request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"));
    EXPECT_TRUE(Body(request) == body) << Body(request).size() << " bytes, expected " << body.size();

    // Left for a multipart parser that is not ours: the request and what each field holds.
    char capture[MAX_PATH];
    if (GetEnvironmentVariableA("BRENNLOW_UPLOAD_CAPTURE", capture, sizeof(capture)))
    {
        std::string dir = capture;
        CreateDirectoryA(dir.c_str(), NULL);
        ASSERT_TRUE(WriteWholeFile(dir + "\\request.bin", request));
        std::string fields = "a\t-\tr\np\t-\tx y\nd\tapp_Debug.dmp\t@app_Debug.dmp\n"
                             "t\tmissing_Debug.txt\t\ne\t-\tme@example.org\n";
        ASSERT_TRUE(WriteWholeFile(dir + "\\fields.txt", fields));
        ASSERT_TRUE(WriteWholeFile(dir + "\\app_Debug.dmp", binary));
    }
}

TEST(HttpPost, AnswersAndFailures)
{
    struct Case
    {
        const char *reply;
        int result;
        const char *response;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", 1, "ok"},
        {"", 0, ""},
    };
    for (const Case &c : cases)
    {
        CLoopbackReceiver receiver(c.reply);
        CHttpPost post;
        CStr response;
        response = "stale";
        EXPECT_EQ(c.result, PostTo(post, receiver, &response)) << c.reply;
        EXPECT_STREQ(c.response, response.GetText()) << c.reply;
        EXPECT_TRUE(Body(receiver.Request()) == kEnd) << c.reply;
    }
}

TEST(HttpPost, SecondBindOnlyCounts)
{
    CHttpPost post;
    ASSERT_EQ(1, post.Bind());
    HMODULE wininet = GetModuleHandleA("wininet.dll");
    ASSERT_NE(nullptr, wininet);
    EXPECT_EQ(1, post.Bind());
    EXPECT_EQ(2u, post.GetBindCount());
    post.Unbind();
    EXPECT_EQ(1u, post.GetBindCount());
    EXPECT_EQ(wininet, GetModuleHandleA("wininet.dll"));
    post.Unbind();
    post.Unbind();
    EXPECT_EQ(0u, post.GetBindCount());
}
