#include "crash/HttpPost.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "base/FileIo.h"
#include "base/Str.h"

#define PART_LINE "--" HTTP_POST_BOUNDARY "\r\n"
#define FORM_HEADER "Content-Type: multipart/form-data; boundary=" HTTP_POST_BOUNDARY

#define HTTPS_PREFIX "https://"
#define HTTP_PREFIX "http://"

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

CHttpPost::CHttpPost() : m_pParts(NULL), m_nBindCount(0), m_nDeadlineMs(POST_DEADLINE_MS)
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

void DestroyParts(INTERNET_BUFFERSA *first)
{
    while (first)
    {
        INTERNET_BUFFERSA *desc = first;
        first = desc->Next;
        delete CHttpPart::Of(desc);
    }
}

void CHttpPost::ClearParts()
{
    DestroyParts(m_pParts);
    m_pParts = NULL;
}

// A bare host name keeps the caller's port; a scheme names port and security, and may
// be followed by ":port". Anything after a slash is not part of the address.
static int ParseServer(const char *server, unsigned short port, CHttpTarget &target)
{
    if (!server)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    target.port = port;
    target.secure = port == INTERNET_DEFAULT_HTTPS_PORT;
    const char *host = server;
    if (!_strnicmp(server, HTTPS_PREFIX, sizeof(HTTPS_PREFIX) - 1))
    {
        host += sizeof(HTTPS_PREFIX) - 1;
        target.port = INTERNET_DEFAULT_HTTPS_PORT;
        target.secure = 1;
    }
    else if (!_strnicmp(server, HTTP_PREFIX, sizeof(HTTP_PREFIX) - 1))
    {
        host += sizeof(HTTP_PREFIX) - 1;
        target.port = INTERNET_DEFAULT_HTTP_PORT;
        target.secure = 0;
    }
    if (host == server)
        return target.host.Assign(server);
    size_t length = strcspn(host, ":/");
    if (host[length] == ':')
    {
        char *end = NULL;
        unsigned long number = strtoul(host + length + 1, &end, 10);
        if (end == host + length + 1 || (*end && *end != '/') || !number || number > 0xFFFF)
            length = 0;
        target.port = static_cast<unsigned short>(number);
    }
    if (!length)
    {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return 0;
    }
    return target.host.Assign(host, static_cast<UINT32>(length));
}

int CHttpPost::Post(const CStr &server, const CStr &path, const CStr &agent, CStr *response,
                    HWND owner, unsigned short port)
{
    if (response)
        *response = "";
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

    CHttpTarget target;
    int result = 0;
    if (ParseServer(server.GetText(), port, target) && target.path.Assign(path.GetText()) &&
        Bind())
    {
        // The exchange takes the parts: when it is given up, it still uses them.
        CHttpExchange *exchange = CHttpExchange::Create(m_Net, m_pParts, target, agent, owner);
        m_pParts = NULL;
        if (exchange)
        {
            result = exchange->Run(m_nDeadlineMs, response);
            CLastErrorKeeper keep;
            exchange->Release();
        }
        CLastErrorKeeper keep;
        Unbind();
    }
    CLastErrorKeeper keep;
    ClearParts();
    return result;
}
