// CHttpExchange, one request of the upload client: the form sent and the answer read over
// WinInet on a thread of its own, so that the caller can give up at a deadline whatever
// the server does. An exchange that was given up finishes on its own and frees what it
// holds.
#ifndef BRENNLOW_CRASH_HTTPEXCHANGE_H
#define BRENNLOW_CRASH_HTTPEXCHANGE_H

#include <windows.h>
#include <wininet.h>

#include "base/DynLib.h"
#include "base/Str.h"
#include "base/Thread.h"

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

#define HTTP_DECLARE_FUNCTION(name) DYN_PROC(name) name;
// Value-initialised, every pointer is null.
struct CWininetFunctions
{
    HTTP_POST_FUNCTIONS(HTTP_DECLARE_FUNCTION)
};
#undef HTTP_DECLARE_FUNCTION

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

// Where the form goes.
struct CHttpTarget
{
    CStr host;
    CStr path;
    unsigned short port;
    int secure; // over TLS, with the server's certificate checked by the system
};

// How a sent form was answered.
enum CFormAnswer
{
    FORM_UNANSWERED,
    FORM_ANSWERED,
    // A proxy asked for credentials, the user gave them: the form goes out once more.
    FORM_SEND_AGAIN,
};

class CHttpExchange
{
public:
    // Takes the parts, whose first descriptor carries the request's header; null when
    // no memory was left (the parts are then freed).
    static CHttpExchange *Create(const CWininetFunctions &net, INTERNET_BUFFERSA *parts,
                                 const CHttpTarget &target, const CStr &agent, HWND owner);
    // Runs the exchange and waits for it, at most limit milliseconds besides the time
    // the user spends in the proxy's credentials dialog. 1 when an answer was read into
    // response (may be null); 0 with the reason in the last-error value, ERROR_TIMEOUT
    // when the exchange was given up.
    int Run(DWORD limit, CStr *response);
    // The caller's end of the exchange; the object goes once its thread is done too.
    void Release();

    static void *operator new(size_t size) noexcept { return malloc(size); }
    static void operator delete(void *block) { free(block); }

private:
    CHttpExchange(const CWininetFunctions &net, INTERNET_BUFFERSA *parts, HWND owner);
    ~CHttpExchange();
    CHttpExchange(const CHttpExchange &) = delete;
    CHttpExchange &operator=(const CHttpExchange &) = delete;

    static DWORD WINAPI ThreadEntry(void *param);
    int Claim();
    int WaitForStart();
    int WaitWithin(DWORD limit);
    void Exchange();
    int Request();
    int SendForm(HINTERNET request);
    int WriteFollowingParts(HINTERNET request);
    CFormAnswer AnswerProxyChallenge(HINTERNET request);
    int ReadAnswer(HINTERNET request);

    CDynLib m_Wininet; // a load of its own: the caller may free its load first
    CWininetFunctions m_Net;
    INTERNET_BUFFERSA *m_pParts;
    CHttpTarget m_Target;
    CStr m_Agent;
    CStr m_Response;
    HWND m_hOwner;
    CEvent m_Done;
    int m_nResult;
    DWORD m_nError;
    volatile LONG m_nReferences;
    volatile LONG m_nAskingUser;
    volatile LONG m_nGivenUp;
    volatile LONG m_nClaimed; // 1 once the thread or the caller took the exchange
};

#endif
