// Takes one connection on 127.0.0.1 (port 0: a free one) for each reply, keeps its request
// and answers (an empty reply: none). The last connection closes, stays silent (HOLD) or
// goes on sending (STREAM) until the client closes it, at most a minute or 64 MB, or
// sends one byte a second (TRICKLE) until Stop.
#ifndef BRENNLOW_TESTS_CRASH_LOOPBACKRECEIVER_H
#define BRENNLOW_TESTS_CRASH_LOOPBACKRECEIVER_H

#include <winsock2.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

enum CLoopbackEnd { LOOPBACK_CLOSE, LOOPBACK_HOLD, LOOPBACK_STREAM, LOOPBACK_TRICKLE };

// The parts of a form as the uploads send them.
const std::string kLine = "-------------------------------1234567890123\r\n";
const std::string kEnd = "-------------------------------1234567890123--\r\n";
inline std::string Field(const std::string &name, const std::string &value)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}
inline std::string FileHeader(const std::string &name, const std::string &file)
{
    return kLine + "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

class CLoopbackReceiver
{
public:
    explicit CLoopbackReceiver(const std::string &reply, unsigned short port = 0)
        : CLoopbackReceiver(std::vector<std::string>{reply}, LOOPBACK_CLOSE, port)
    {
    }
    CLoopbackReceiver(const std::vector<std::string> &replies, CLoopbackEnd end,
                      unsigned short port = 0)
        : m_Replies(replies), m_End(end)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        m_Bound = !bind(m_Listener, reinterpret_cast<sockaddr *>(&address), size) &&
                  !listen(m_Listener, 1);
        getsockname(m_Listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_Port = ntohs(address.sin_port);
        if (m_Bound)
            m_Thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackReceiver()
    {
        Stop();
        WSACleanup();
    }
    // Takes no more connections and ends a trickle.
    void Stop()
    {
        m_Stopped = true;
        closesocket(m_Listener);
        m_Listener = INVALID_SOCKET;
        Join();
    }
    void Join() { if (m_Thread.joinable()) m_Thread.join(); }
    bool m_Bound;
    unsigned short m_Port;
    std::string m_Request; // the last one
    std::vector<std::string> m_Requests;

private:
    void Serve()
    {
        for (const std::string &reply : m_Replies)
        {
            SOCKET client = accept(m_Listener, NULL, NULL);
            if (client == INVALID_SOCKET)
                return;
            // A client that announces more than it sends is answered all the same.
            SetReceiveTimeout(client, 30000);
            m_Request = Receive(client);
            m_Requests.push_back(m_Request);
            send(client, reply.data(), static_cast<int>(reply.size()), 0);
            if (&reply == &m_Replies.back())
                Finish(client);
            closesocket(client);
        }
    }
    static std::string Receive(SOCKET client)
    {
        std::string request;
        char block[4096];
        size_t end = std::string::npos;
        for (int got; request.size() < end && (got = recv(client, block, sizeof(block), 0)) > 0;)
        {
            request.append(block, got);
            size_t body = request.find("\r\n\r\n"), length = request.find("Content-Length: ");
            if (body != std::string::npos && length < body)
                end = body + 4 + strtoul(request.c_str() + length + 16, NULL, 10);
        }
        return request;
    }
    static void SetReceiveTimeout(SOCKET client, DWORD timeout)
    {
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
                   sizeof(timeout));
    }
    void Finish(SOCKET client)
    {
        SetReceiveTimeout(client, 60000);
        std::string block(65536, 'x');
        for (int sent = 0; m_End == LOOPBACK_STREAM && sent < 1024 &&
                           send(client, block.data(), static_cast<int>(block.size()), 0) > 0;)
            sent++;
        while (m_End == LOOPBACK_HOLD && recv(client, &block[0], 256, 0) > 0)
            ;
        for (int sent = 0; m_End == LOOPBACK_TRICKLE && !m_Stopped && sent < 120 &&
                           send(client, "x", 1, 0) == 1;
             sent++)
            Sleep(1000);
    }

    std::vector<std::string> m_Replies;
    CLoopbackEnd m_End;
    SOCKET m_Listener;
    std::atomic<bool> m_Stopped{false};
    std::thread m_Thread;
};

#endif
