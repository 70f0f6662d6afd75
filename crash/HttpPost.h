// CHttpPost, the client that uploads a problem report: text fields and files sent to a
// web server as one multipart form in a single POST through WinInet, which is bound at
// run time so that the program runs where the library is missing.
#ifndef BRENNLOW_CRASH_HTTPPOST_H
#define BRENNLOW_CRASH_HTTPPOST_H

#include <windows.h>
#include <wininet.h>

#include "base/DynLib.h"

class CStr;

// Kinds of AddPart
#define PART_FIELD 0
#define PART_FILE 1
#define PART_END 2
#define PART_CRLF 3

// The boundary between the parts; its lines carry two more dashes in front.
#define HTTP_POST_BOUNDARY "-----------------------------1234567890123"

// The WinInet functions the client binds, each required, in the order they are bound.
// The one list declares and binds them.
#define HTTP_POST_FUNCTIONS(use)                                                            \
    use(HttpSendRequestA) use(HttpSendRequestExA) use(HttpAddRequestHeadersA)               \
        use(HttpEndRequestA) use(InternetGetCookieA) use(InternetSetCookieA)                \
            use(InternetQueryOptionA) use(InternetOpenA) use(HttpOpenRequestA)              \
                use(FtpOpenFileA) use(InternetSetOptionA) use(HttpQueryInfoA)               \
                    use(InternetConnectA) use(InternetOpenUrlA) use(InternetCrackUrlA)      \
                        use(InternetReadFile) use(InternetWriteFile) use(InternetErrorDlg)  \
                            use(InternetCloseHandle)

// A WinInet handle, closed with the function the client bound.
struct CInternetTraits
{
    typedef HINTERNET Type;
    explicit CInternetTraits(DYN_PROC(InternetCloseHandle) close = NULL) : m_pClose(close) {}
    static HINTERNET None() { return NULL; }
    static int IsNone(HINTERNET handle) { return !handle; }
    int Close(HINTERNET handle) { return m_pClose && m_pClose(handle) ? 1 : 0; }

    DYN_PROC(InternetCloseHandle) m_pClose;
};
typedef COwned<CInternetTraits> CInternetHandle;

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
    // gone afterwards.
    int Post(const CStr &server, const CStr &path, const CStr &agent, CStr *response,
             HWND owner, unsigned short port);
    void ClearParts();

private:
    int AppendPart(struct CHttpPart *part);
    int Exchange(const CStr &server, const CStr &path, const CStr &agent, CStr *response,
                 HWND owner, unsigned short port);
    int SendForm(HINTERNET request);
    int WriteFollowingParts(HINTERNET request);
    int AnswerProxyChallenge(HINTERNET request, HWND owner);
    int ReadAnswer(HINTERNET request, CStr *response);
    void ClearFunctions();

    CDynLib m_Wininet;
    INTERNET_BUFFERSA *m_pParts;
    UINT32 m_nBindCount;

#define HTTP_DECLARE_FUNCTION(name) DYN_PROC(name) name;
    // Value-initialised, every pointer is null.
    struct CWininetFunctions
    {
        HTTP_POST_FUNCTIONS(HTTP_DECLARE_FUNCTION)
    };
#undef HTTP_DECLARE_FUNCTION
    CWininetFunctions m_Net;
};

#endif
