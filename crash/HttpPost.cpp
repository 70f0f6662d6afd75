#include "crash/HttpPost.h"

#include <stddef.h>

#include "base/FileIo.h"
#include "base/Str.h"

#define PART_LINE "--" HTTP_POST_BOUNDARY "\r\n"
#define FORM_HEADER "Content-Type: multipart/form-data; boundary=" HTTP_POST_BOUNDARY

// Asks for a fresh answer that no cache keeps and that never brings up WinInet's own UI.
#define POST_REQUEST_FLAGS                                                                 \
    (INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |           \
     INTERNET_FLAG_PRAGMA_NOCACHE)
#define POST_SEND_FLAGS 0x2C
// The receiver answers with one short line; a server that sends without end, or stops
// sending without closing, must not keep a crashed process alive.
#define POST_ANSWER_LIMIT 65536
#define POST_TIMEOUT_MS 15000
// Times the user is asked for the proxy's credentials before its refusal is the answer.
#define POST_PROXY_ROUNDS 3
#define POST_SEND_AGAIN 2
#define POST_PROXY_DIALOG_FLAGS                                                            \
    (FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |              \
     FLAGS_ERROR_UI_FLAGS_GENERATE_DATA)

// One piece of the body. The descriptors chain the parts for WinInet; a part is found
// again from its descriptor, which is why the descriptor sits at a fixed place in it.
struct CHttpPart
{
    INTERNET_BUFFERSA desc;
    CFileIo file;
    CStr text;

    CHttpPart() { ZeroMemory(&desc, sizeof(desc)); desc.dwStructSize = sizeof(desc); }

    // A failed allocation gives null instead of throwing.
    static void *operator new(size_t size) noexcept { return malloc(size); }
    static void operator delete(void *block) { free(block); }

    static CHttpPart *Of(INTERNET_BUFFERSA *desc)
    {
        return reinterpret_cast<CHttpPart *>(reinterpret_cast<char *>(desc) -
                                             offsetof(CHttpPart, desc));
    }
};

static const char *const g_PartFormats[] = {
    PART_LINE "Content-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n",
    PART_LINE "Content-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n",
    "--" HTTP_POST_BOUNDARY "--\r\n",
    "\r\n",
};

CHttpPost::CHttpPost() : m_pParts(NULL), m_nBindCount(0)
{
    ClearFunctions();
}

CHttpPost::~CHttpPost()
{
    ClearParts();
}

int CHttpPost::Bind()
{
    if (m_nBindCount > 0)
    {
        m_nBindCount++;
        return 1;
    }
    if (!m_Wininet.Load("wininet.dll"))
        return 0;
#define HTTP_BIND_FUNCTION(name) &&m_Wininet.Bind(#name, &m_Net.name)
    int bound = 1 HTTP_POST_FUNCTIONS(HTTP_BIND_FUNCTION);
#undef HTTP_BIND_FUNCTION
    if (!bound)
    {
        CLastErrorKeeper keep;
        Unbind();
        return 0;
    }
    m_nBindCount = 1;
    return 1;
}

void CHttpPost::Unbind()
{
    ClearParts();
    if (m_nBindCount <= 1)
    {
        ClearFunctions();
        m_Wininet.Free();
    }
    if (m_nBindCount > 0)
        m_nBindCount--;
}

void CHttpPost::ClearFunctions()
{
    m_Net = CWininetFunctions();
}

int CHttpPost::AppendPart(CHttpPart *part)
{
    INTERNET_BUFFERSA **link = &m_pParts;
    while (*link)
        link = &(*link)->Next;
    *link = &part->desc;
    return 1;
}

int CHttpPost::AddPart(const char *name, const char *text, int kind)
{
    if (kind < PART_FIELD || kind > PART_CRLF)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    CHttpPart *part = new CHttpPart;
    if (!part || !part->text.GetText())
    {
        delete part;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    name = name ? name : "";
    text = text ? text : "";
    if (kind == PART_FILE)
        text = GetFileNamePart(text);
    if (!Format(part->text, g_PartFormats[kind], name, text))
    {
        delete part;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    part->desc.lpvBuffer = part->text.GetBuffer();
    part->desc.dwBufferLength = part->text.GetLength();
    return AppendPart(part);
}

int CHttpPost::AddFile(const char *name, const char *path)
{
    if (!AddPart(name, path, PART_FILE))
        return 0;
    CHttpPart *part = new CHttpPart;
    if (!part || !part->file.Open(path, FIO_READ, 0, FILE_SHARE_READ | FILE_SHARE_WRITE))
    {
        DWORD error = part ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        delete part;
        // The line end still closes the empty file part: without it the next boundary
        // line would not start a new part for the server and the following field
        // would be read as the file's content.
        AddPart(NULL, NULL, PART_CRLF);
        SetLastError(error);
        return 0;
    }
    // An empty file cannot be mapped and contributes no bytes.
    part->desc.lpvBuffer = part->file.MapView(0, 0, 0, 0);
    part->desc.dwBufferLength = part->desc.lpvBuffer ? static_cast<DWORD>(part->file.GetSize()) : 0;
    AppendPart(part);
    return AddPart(NULL, NULL, PART_CRLF);
}

void CHttpPost::ClearParts()
{
    while (m_pParts)
    {
        INTERNET_BUFFERSA *desc = m_pParts;
        m_pParts = desc->Next;
        delete CHttpPart::Of(desc);
    }
}

int CHttpPost::Post(const CStr &server, const CStr &path, const CStr &agent, CStr *response,
                    HWND owner, unsigned short port)
{
    if (!AddPart(NULL, NULL, PART_END))
    {
        CLastErrorKeeper keep;
        ClearParts();
        return 0;
    }
    DWORD total = 0;
    for (INTERNET_BUFFERSA *desc = m_pParts; desc; desc = desc->Next)
        total += desc->dwBufferLength;
    for (INTERNET_BUFFERSA *desc = m_pParts; desc; desc = desc->Next)
        desc->dwBufferTotal = total;
    m_pParts->lpcszHeader = FORM_HEADER;
    m_pParts->dwHeadersLength = sizeof(FORM_HEADER) - 1;
    m_pParts->dwHeadersTotal = sizeof(FORM_HEADER) - 1;

    int result = 0;
    if (Bind())
    {
        result = Exchange(server, path, agent, response, owner, port);
        CLastErrorKeeper keep;
        Unbind();
    }
    CLastErrorKeeper keep;
    ClearParts();
    return result;
}

// The whole form: WinInet sends the first part with the request, the rest follow one
// write each.
int CHttpPost::SendForm(HINTERNET request)
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

int CHttpPost::WriteFollowingParts(HINTERNET request)
{
    for (INTERNET_BUFFERSA *desc = m_pParts->Next; desc; desc = desc->Next)
    {
        if (!desc->lpvBuffer || !desc->dwBufferLength)
            continue;
        DWORD written = 0;
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
// unanswered, which some WinInet versions let through as an empty success (status 0). A proxy that wants
// credentials gets them through the system's dialog. 0 without an answer, POST_SEND_AGAIN
// when the user gave the credentials and the form must go out once more, else 1.
int CHttpPost::AnswerProxyChallenge(HINTERNET request, HWND owner)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!m_Net.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                              &size, NULL) ||
        status < HTTP_STATUS_FIRST)
    {
        SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return 0;
    }
    if (status != HTTP_STATUS_PROXY_AUTH_REQ)
        return 1;
    if (!owner)
        owner = GetForegroundWindow();
    if (m_Net.InternetErrorDlg(owner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                               POST_PROXY_DIALOG_FLAGS, NULL) != ERROR_INTERNET_FORCE_RETRY)
        return 1;
    return POST_SEND_AGAIN;
}

// Reads up to POST_ANSWER_LIMIT bytes of the answer's body into response; 1 once any
// read succeeded.
int CHttpPost::ReadAnswer(HINTERNET request, CStr *response)
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
    for (DWORD total = 0; total < POST_ANSWER_LIMIT &&
                          m_Net.InternetReadFile(request, buffer, POST_ANSWER_LIMIT - total, &read);
         total += read)
    {
        result = 1;
        if (!read)
            break;
        block.Assign(reinterpret_cast<const char *>(buffer), read);
        if (response)
            response->Append(block);
    }
    free(buffer);
    return result;
}

int CHttpPost::Exchange(const CStr &server, const CStr &path, const CStr &agent,
                        CStr *response, HWND owner, unsigned short port)
{
    if (response)
        *response = "";
    CInternetHandle session(
        m_Net.InternetOpenA(agent.GetText(), INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0),
        CInternetTraits(m_Net.InternetCloseHandle));
    if (!session.Get())
        return 0;
    CInternetHandle connection(m_Net.InternetConnectA(session.Get(), server.GetText(), port, NULL,
                                                      NULL, INTERNET_SERVICE_HTTP, 0,
                                                      reinterpret_cast<DWORD_PTR>(this)),
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
    DWORD flags = POST_REQUEST_FLAGS;
    if (port == INTERNET_DEFAULT_HTTPS_PORT)
        flags |= INTERNET_FLAG_SECURE;
    CInternetHandle request(m_Net.HttpOpenRequestA(connection.Get(), "POST", path.GetText(), NULL,
                                                   NULL, acceptTypes, flags,
                                                   reinterpret_cast<DWORD_PTR>(this)),
                            CInternetTraits(m_Net.InternetCloseHandle));
    if (!request.Get())
        return 0;
    DWORD securityFlags = SECURITY_FLAG_IGNORE_REVOCATION;
    if (!m_Net.InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                                  sizeof(securityFlags)))
        return 0;
    // The credentials a proxy asked for go with the whole form once more.
    int answer = POST_SEND_AGAIN;
    for (int round = 0; answer == POST_SEND_AGAIN && round < POST_PROXY_ROUNDS; round++)
        if (!SendForm(request.Get()) || !(answer = AnswerProxyChallenge(request.Get(), owner)))
            return 0;
    return ReadAnswer(request.Get(), response);
}
