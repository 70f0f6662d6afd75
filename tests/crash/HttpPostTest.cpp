#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "base/Str.h"
#include "crash/HttpPost.h"
#include "crash/LoopbackReceiver.h"

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

int Post(CLoopbackReceiver &receiver, CHttpPost &post, CStr *response)
{
    CStr server, path, agent;
    server = "127.0.0.1";
    path = "/tamsel/report.php";
    int result = post.Post(server, path, agent, response, NULL, receiver.m_Port);
    receiver.Join();
    return result;
}

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

// An empty form carries only the closing line; a server that closes the connection
// without answering has not taken the report.
TEST(HttpPost, AnswersAndFailures)
{
    for (const char *reply : {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok", ""})
    {
        CLoopbackReceiver receiver(reply);
        CHttpPost post;
        CStr response;
        response = "stale";
        EXPECT_EQ(*reply ? 1 : 0, Post(receiver, post, &response)) << reply;
        EXPECT_STREQ(*reply ? "ok" : "", response.GetText()) << reply;
        EXPECT_EQ("\r\n\r\n" + kEnd, receiver.m_Request.substr(receiver.m_Request.find("\r\n\r\n")));
    }
}

TEST(HttpPost, SecondBindOnlyCounts)
{
    CHttpPost post;
    ASSERT_EQ(1, post.Bind());
    EXPECT_EQ(1, post.Bind());
    post.Unbind();
    EXPECT_EQ(1u, post.GetBindCount());
    EXPECT_NE(nullptr, GetModuleHandleA("wininet.dll"));
    post.Unbind();
    EXPECT_EQ(0u, post.GetBindCount());
}
