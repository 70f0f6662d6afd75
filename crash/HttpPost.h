// CHttpPost, the client that uploads a problem report: text fields and files sent to a
// web server as one multipart form in a single POST through WinInet, which is bound at
// run time so that the program runs where the library is missing.
#ifndef BRENNLOW_CRASH_HTTPPOST_H
#define BRENNLOW_CRASH_HTTPPOST_H

#include <windows.h>
#include <wininet.h>

#include "base/DynLib.h"
#include "crash/HttpExchange.h"

class CStr;

// Kinds of AddPart
#define PART_FIELD 0
#define PART_FILE 1
#define PART_END 2
#define PART_CRLF 3

// The boundary between the parts; its lines carry two more dashes in front.
#define HTTP_POST_BOUNDARY "-----------------------------1234567890123"

// Frees a list of parts as CHttpPost built it.
void DestroyParts(INTERNET_BUFFERSA *first);

// How long the whole exchange may take, sending and answer together: the limit of each
// socket operation alone lets a server that sends a byte now and then hold a crashed
// process for hours.
#define POST_DEADLINE_MS 60000

class CHttpPost
{
public:
    CHttpPost();
    ~CHttpPost();
    CHttpPost(const CHttpPost &) = delete;
    CHttpPost &operator=(const CHttpPost &) = delete;

    // Counted binding of WinInet; Post binds for the length of its request.
    int Bind();
    void Unbind();
    UINT32 GetBindCount() const { return m_nBindCount; }

    // name and text are ignored by PART_END and PART_CRLF. For PART_FILE, text is the
    // file's path; the form names only its last component.
    int AddPart(const char *name, const char *text, int kind);
    // The header part, the file's bytes (mapped, read-only) and a line end. A file that
    // does not open leaves its header part in the form and gives 0.
    int AddFile(const char *name, const char *path);
    // Closes the form, sends it and reads the answer into response (may be null), at most
    // 64 kB of it; 1 when any answer could be read, whatever its status. The parts are
    // gone afterwards. server is a host name, sent to port, or names the scheme:
    // "https://host" goes to port 443 over TLS, "http://host" to port 80, each with an
    // optional ":port" after the host. The exchange is given up at the deadline.
    int Post(const CStr &server, const CStr &path, const CStr &agent, CStr *response,
             HWND owner, unsigned short port);
    void ClearParts();
    void SetDeadline(DWORD milliseconds) { m_nDeadlineMs = milliseconds; }

private:
    int AppendPart(struct CHttpPart *part);
    void ClearFunctions();

    CDynLib m_Wininet;
    INTERNET_BUFFERSA *m_pParts;
    UINT32 m_nBindCount;
    DWORD m_nDeadlineMs;
    CWininetFunctions m_Net;
};

#endif
