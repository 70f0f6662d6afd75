// Accepts one connection on 127.0.0.1 (port 0: a free one), keeps the raw request and
// answers with reply; an empty reply closes the connection unanswered.
#ifndef BRENNLOW_TESTS_CRASH_LOOPBACKRECEIVER_H
#define BRENNLOW_TESTS_CRASH_LOOPBACKRECEIVER_H

#include <winsock2.h>

#include <stdlib.h>

#include <string>
#include <thread>

class CLoopbackReceiver
{
public:
    explicit CLoopbackReceiver(const std::string &reply, unsigned short port = 0) : m_Reply(reply)
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
        closesocket(m_Listener);
        Join();
        WSACleanup();
    }
    void Join()
    {
        if (m_Thread.joinable())
            m_Thread.join();
    }
    bool m_Bound;
    unsigned short m_Port;
    std::string m_Request;

private:
    void Serve()
    {
        SOCKET client = accept(m_Listener, NULL, NULL);
        char block[4096];
        size_t end = std::string::npos;
        for (int got; m_Request.size() < end && (got = recv(client, block, sizeof(block), 0)) > 0;)
        {
            m_Request.append(block, got);
            size_t body = m_Request.find("\r\n\r\n"), length = m_Request.find("Content-Length: ");
            if (body != std::string::npos && length < body)
                end = body + 4 + strtoul(m_Request.c_str() + length + 16, NULL, 10);
        }
        send(client, m_Reply.data(), static_cast<int>(m_Reply.size()), 0);
        closesocket(client);
    }

    std::string m_Reply;
    SOCKET m_Listener;
    std::thread m_Thread;
};

#endif
