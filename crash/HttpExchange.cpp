#include "crash/HttpExchange.h"

#include "crash/HttpPost.h"
#include "crash/ReportGate.h"

// Asks for a fresh answer that no cache keeps and that never brings up WinInet's own UI.
#define POST_REQUEST_FLAGS                                                                 \
    (INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |           \
     INTERNET_FLAG_PRAGMA_NOCACHE)
#define POST_SEND_FLAGS 0x2C
// The receiver answers with one short line; a server that sends without end must not
// keep a crashed process alive.
#define POST_ANSWER_LIMIT 65536
// Each socket operation's limit; the caller's deadline bounds the whole exchange.
#define POST_TIMEOUT_MS 15000
// Times the user is asked for the proxy's credentials before its refusal is the answer.
#define POST_PROXY_ROUNDS 3
#define POST_PROXY_DIALOG_FLAGS                                                            \
    (FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |              \
     FLAGS_ERROR_UI_FLAGS_GENERATE_DATA)
// How often the waiting caller looks whether the user is answering the proxy's dialog.
#define POST_WAIT_SLICE_MS 250
// How long the exchange's thread may take to start. A crashed thread that holds the heap's
// or the loader's lock keeps a new thread from starting at all; the caller, which owns
// that lock, then sends the form itself.
#define POST_START_LIMIT_MS 5000

CHttpExchange::CHttpExchange(const CWininetFunctions &net, INTERNET_BUFFERSA *parts, HWND owner)
    : m_Net(net), m_pParts(parts), m_hOwner(owner), m_nResult(0), m_nError(0),
      m_nReferences(1), m_nAskingUser(0), m_nGivenUp(0), m_nClaimed(0)
{
    m_Target.port = 0;
    m_Target.secure = 0;
}

CHttpExchange::~CHttpExchange()
{
    DestroyParts(m_pParts);
}

CHttpExchange *CHttpExchange::Create(const CWininetFunctions &net, INTERNET_BUFFERSA *parts,
                                     const CHttpTarget &target, const CStr &agent, HWND owner)
{
    CHttpExchange *exchange = new CHttpExchange(net, parts, owner);
    if (!exchange)
    {
        DestroyParts(parts);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    exchange->m_Target.host = target.host;
    exchange->m_Target.path = target.path;
    exchange->m_Target.port = target.port;
    exchange->m_Target.secure = target.secure;
    exchange->m_Agent = agent;
    if (!exchange->m_Target.host.GetText() || !exchange->m_Target.path.GetText() ||
        !exchange->m_Agent.GetText() || !exchange->m_Response.GetText() ||
        !exchange->m_Done.Create(EV_MANUAL_RESET, EV_UNSIGNALLED) ||
        !exchange->m_Wininet.Load("wininet.dll"))
    {
        CLastErrorKeeper keep;
        exchange->Release();
        return NULL;
    }
    return exchange;
}

void CHttpExchange::Release()
{
    if (!InterlockedDecrement(&m_nReferences))
        delete this;
}

DWORD WINAPI CHttpExchange::ThreadEntry(void *param)
{
    CHttpExchange *self = static_cast<CHttpExchange *>(param);
    if (self->Claim())
    {
        self->Exchange();
        self->m_Done.Set();
    }
    self->Release();
    return 0;
}

int CHttpExchange::Run(DWORD limit, CStr *response)
{
    InterlockedIncrement(&m_nReferences);
    CHandle thread(ThreadsStalled() ? NULL : CreateThread(NULL, 0, ThreadEntry, this, 0, NULL));
    if (!thread.IsHeld())
        InterlockedDecrement(&m_nReferences);
    if (!thread.IsHeld() || !WaitForStart())
    {
        // Without a thread of its own the exchange still runs, bounded by the limit
        // of each socket operation only.
        Exchange();
    }
    else if (!WaitWithin(limit))
    {
        InterlockedExchange(&m_nGivenUp, 1);
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    if (m_nResult && response)
        *response = m_Response.GetText();
    SetLastError(m_nError);
    return m_nResult;
}

int CHttpExchange::Claim()
{
    return InterlockedCompareExchange(&m_nClaimed, 1, 0) == 0;
}

// 1 when the thread took the exchange; 0 when it did not start in time and the caller
// took it instead (a thread that starts later finds it taken).
int CHttpExchange::WaitForStart()
{
    for (DWORD waited = 0; waited < POST_START_LIMIT_MS && !m_nClaimed; waited += 50)
        m_Done.WaitThroughQuit(50);
    return !Claim();
}

// The time the user spends in the proxy's credentials dialog is the user's, not the
// server's, and does not count.
int CHttpExchange::WaitWithin(DWORD limit)
{
    UINT64 left = limit;
    UINT64 last = GetTicks64();
    for (;;)
    {
        DWORD slice = left < POST_WAIT_SLICE_MS ? static_cast<DWORD>(left) : POST_WAIT_SLICE_MS;
        if (m_Done.WaitThroughQuit(slice))
            return 1;
        UINT64 now = GetTicks64();
        if (!m_nAskingUser)
        {
            if (now - last >= left)
                return 0;
            left -= now - last;
        }
        last = now;
    }
}

void CHttpExchange::Exchange()
{
    m_nResult = Request();
    m_nError = m_nResult ? 0 : GetLastError();
}

int CHttpExchange::Request()
{
    CInternetHandle session(
        m_Net.InternetOpenA(m_Agent.GetText(), INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0),
        CInternetTraits(m_Net.InternetCloseHandle));
    if (!session.Get())
        return 0;
    CInternetHandle connection(
        m_Net.InternetConnectA(session.Get(), m_Target.host.GetText(), m_Target.port, NULL, NULL,
                               INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this)),
        CInternetTraits(m_Net.InternetCloseHandle));
    if (!connection.Get())
        return 0;
    // The request takes its time limits from its connection.
    DWORD timeout = POST_TIMEOUT_MS;
    m_Net.InternetSetOptionA(connection.Get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout,
                             sizeof(timeout));
    m_Net.InternetSetOptionA(connection.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                             sizeof(timeout));
    const char *acceptTypes[] = {"*/*", NULL};
    DWORD flags = POST_REQUEST_FLAGS | (m_Target.secure ? INTERNET_FLAG_SECURE : 0);
    CInternetHandle request(m_Net.HttpOpenRequestA(connection.Get(), "POST",
                                                   m_Target.path.GetText(), NULL, NULL,
                                                   acceptTypes, flags,
                                                   reinterpret_cast<DWORD_PTR>(this)),
                            CInternetTraits(m_Net.InternetCloseHandle));
    if (!request.Get())
        return 0;
    DWORD securityFlags = SECURITY_FLAG_IGNORE_REVOCATION;
    if (!m_Net.InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                                  sizeof(securityFlags)))
        return 0;
    // The credentials a proxy asked for go with the whole form once more.
    CFormAnswer answer = FORM_SEND_AGAIN;
    for (int round = 0; answer == FORM_SEND_AGAIN && round < POST_PROXY_ROUNDS; round++)
    {
        if (!SendForm(request.Get()))
            return 0;
        answer = AnswerProxyChallenge(request.Get());
        if (answer == FORM_UNANSWERED)
            return 0;
    }
    return ReadAnswer(request.Get());
}

// The whole form: WinInet sends the first part with the request, the rest follow one
// write each.
int CHttpExchange::SendForm(HINTERNET request)
{
    if (!m_Net.HttpSendRequestExA(request, m_pParts, NULL, POST_SEND_FLAGS, 0))
    {
        if (GetLastError() != ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)
            return 0;
        DWORD noCertificate = 0;
        m_Net.InternetSetOptionA(request, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT,
                                 &noCertificate, sizeof(noCertificate));
        if (!m_Net.HttpSendRequestExA(request, m_pParts, NULL, POST_SEND_FLAGS, 0))
            return 0;
    }
    return WriteFollowingParts(request) && m_Net.HttpEndRequestA(request, NULL, HSR_INITIATE, 0);
}

int CHttpExchange::WriteFollowingParts(HINTERNET request)
{
    for (INTERNET_BUFFERSA *desc = m_pParts->Next; desc; desc = desc->Next)
    {
        if (!desc->lpvBuffer || !desc->dwBufferLength)
            continue;
        DWORD written = 0;
        if (m_nGivenUp)
        {
            SetLastError(ERROR_TIMEOUT);
            return 0;
        }
        if (!m_Net.InternetWriteFile(request, desc->lpvBuffer, desc->dwBufferLength, &written))
            return 0;
        if (written != desc->dwBufferLength)
        {
            SetLastError(ERROR_WRITE_FAULT);
            return 0;
        }
    }
    return 1;
}

// Every answer has a status line; without one the server closed the connection
// unanswered, which some WinInet versions let through as an empty success (status 0). A
// proxy that wants credentials gets them through the system's dialog.
CFormAnswer CHttpExchange::AnswerProxyChallenge(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!m_Net.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                              &size, NULL) ||
        status < HTTP_STATUS_FIRST)
    {
        SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return FORM_UNANSWERED;
    }
    if (status != HTTP_STATUS_PROXY_AUTH_REQ)
        return FORM_ANSWERED;
    HWND owner = m_hOwner ? m_hOwner : GetForegroundWindow();
    InterlockedExchange(&m_nAskingUser, 1);
    DWORD choice = m_Net.InternetErrorDlg(owner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                                          POST_PROXY_DIALOG_FLAGS, NULL);
    InterlockedExchange(&m_nAskingUser, 0);
    return choice == ERROR_INTERNET_FORCE_RETRY ? FORM_SEND_AGAIN : FORM_ANSWERED;
}

// Reads up to POST_ANSWER_LIMIT bytes of the answer's body; 1 once any read succeeded.
int CHttpExchange::ReadAnswer(HINTERNET request)
{
    CStr block(POST_ANSWER_LIMIT + 1);
    BYTE *buffer = static_cast<BYTE *>(malloc(POST_ANSWER_LIMIT));
    if (!buffer || !block.GetText())
    {
        free(buffer);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    int result = 0;
    DWORD read = 0;
    for (DWORD total = 0; total < POST_ANSWER_LIMIT && !m_nGivenUp &&
                          m_Net.InternetReadFile(request, buffer, POST_ANSWER_LIMIT - total, &read);
         total += read)
    {
        result = 1;
        if (!read)
            break;
        block.Assign(reinterpret_cast<const char *>(buffer), read);
        m_Response.Append(block);
    }
    free(buffer);
    return result;
}
