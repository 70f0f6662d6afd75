#include "crash/Wmi.h"

#include <wbemcli.h>

#include "base/DynLib.h"
#include "crash/ReportGate.h"

#define COM_CHANGED_MODE ((HRESULT)0x80010106L)
#define COM_SECURITY_TOO_LATE ((HRESULT)0x80010119L)
#define COM_EVERY_SERVER_CONTEXT 0x17
#define WMI_FORWARD_ONLY_IMMEDIATE 0x30
#define RPC_AUTHN_WINNT 10
#define RPC_LEVEL_CALL 3
#define RPC_IMPERSONATE 3

static const GUID g_WbemLocatorClass = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
static const GUID g_WbemLocatorInterface = {
    0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

CComInit::CComInit() : m_nInitialised(0)
{
}

CComInit::~CComInit()
{
    Uninit();
}

int CComInit::Init(int multithreaded)
{
    if (m_nInitialised)
        return 0;
    DWORD flags = (multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED) |
                  COINIT_DISABLE_OLE1DDE;
    HRESULT result = E_NOTIMPL;
    CDynLib ole;
    DYN_PROC(CoInitializeEx) initializeEx = NULL;
    if (ole.Load("ole32.dll"))
        ole.Bind("CoInitializeEx", &initializeEx);
    if (initializeEx)
        result = initializeEx(NULL, flags);
    ole.Free();
    if (!initializeEx || (FAILED(result) && result != COM_CHANGED_MODE))
        result = CoInitialize(NULL);
    if (FAILED(result))
    {
        SetLastError(static_cast<DWORD>(result));
        return 0;
    }
    m_nInitialised = 1;
    return 1;
}

void CComInit::Uninit()
{
    if (!m_nInitialised)
        return;
    CoUninitialize();
    m_nInitialised = 0;
}

CWmiObject::CWmiObject(IWbemClassObject *object, IWbemServices *services)
    : m_pObject(object), m_pServices(services)
{
    if (m_pServices)
        m_pServices->AddRef();
}

CWmiObject::~CWmiObject()
{
    if (m_pObject)
        m_pObject->Release();
    if (m_pServices)
        m_pServices->Release();
}

static int TakeVariant(const VARIANT &variant, CStr *text, INT32 *value, UINT32 index)
{
    switch (V_VT(&variant))
    {
    case VT_BSTR:
        return text ? text->AssignWide(V_BSTR(&variant)) : 1;
    case VT_I4:
        if (value)
            *value = V_I4(&variant);
        return text ? Format(*text, "%d", static_cast<int>(V_I4(&variant))) : 1;
    case VT_BOOL:
        if (value)
            *value = V_BOOL(&variant) != VARIANT_FALSE;
        return text ? text->Assign(V_BOOL(&variant) != VARIANT_FALSE ? "TRUE" : "FALSE") : 1;
    case VT_ARRAY | VT_BSTR:
    {
        LONG element = static_cast<LONG>(index);
        BSTR item = NULL;
        if (FAILED(SafeArrayGetElement(V_ARRAY(&variant), &element, &item)))
            return 0;
        int result = text ? text->AssignWide(item ? item : L"") : 1;
        SysFreeString(item);
        return result;
    }
    default:
        SetLastError(ERROR_INVALID_DATATYPE);
        return 0;
    }
}

int CWmiObject::Get(const wchar_t *name, CStr *text, INT32 *value, UINT32 index)
{
    VARIANT variant;
    VariantInit(&variant);
    HRESULT status = m_pObject->Get(name, 0, &variant, NULL, NULL);
    int result = SUCCEEDED(status) ? TakeVariant(variant, text, value, index) : 0;
    VariantClear(&variant);
    if (FAILED(status))
        SetLastError(static_cast<DWORD>(status));
    return result;
}

CWmiQuery::CWmiQuery() : m_pServices(NULL), m_pSink(NULL)
{
}

CWmiQuery::~CWmiQuery()
{
    Close();
}

int CWmiQuery::Connect(const wchar_t *nameSpace)
{
    if (!m_Com.Init(COM_MULTITHREADED_MODEL))
        return 0;
    HRESULT status = CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_IMPERSONATE, NULL, EOAC_NONE, NULL);
    if (FAILED(status) && status != COM_SECURITY_TOO_LATE)
    {
        SetLastError(static_cast<DWORD>(status));
        return 0;
    }
    IWbemLocator *locator = NULL;
    status = CoCreateInstance(g_WbemLocatorClass, NULL, COM_EVERY_SERVER_CONTEXT,
                              g_WbemLocatorInterface, reinterpret_cast<void **>(&locator));
    if (SUCCEEDED(status))
    {
        BSTR path = SysAllocString(nameSpace);
        // The service itself gives up on a connection after two minutes at most.
        status = path ? locator->ConnectServer(path, NULL, NULL, NULL,
                                               WBEM_FLAG_CONNECT_USE_MAX_WAIT, NULL, NULL,
                                               &m_pServices)
                      : E_OUTOFMEMORY;
        SysFreeString(path);
        locator->Release();
    }
    if (SUCCEEDED(status))
        status = CoSetProxyBlanket(m_pServices, RPC_AUTHN_WINNT, RPC_C_AUTHZ_NONE, NULL,
                                   RPC_LEVEL_CALL, RPC_IMPERSONATE, NULL, EOAC_NONE);
    if (FAILED(status))
    {
        SetLastError(static_cast<DWORD>(status));
        return 0;
    }
    return 1;
}

int CWmiQuery::Query(const char *query)
{
    DropResults();
    if (!m_pServices)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    CStr text;
    text = query;
    BSTR language = SysAllocString(L"WQL");
    CBstr queryText = text.ToBstr();
    IEnumWbemClassObject *enumerator = NULL;
    HRESULT status = language && queryText.Get()
                         ? m_pServices->ExecQuery(language, queryText.Get(),
                                                  WMI_FORWARD_ONLY_IMMEDIATE, NULL, &enumerator)
                         : E_OUTOFMEMORY;
    SysFreeString(language);
    if (FAILED(status) || !enumerator)
    {
        SetLastError(static_cast<DWORD>(FAILED(status) ? status : E_POINTER));
        return 0;
    }
    IWbemClassObject *object = NULL;
    ULONG returned = 0;
    // A result that takes longer than the time limit ends the list.
    while (SUCCEEDED(enumerator->Next(WMI_TIME_LIMIT_MS, 1, &object, &returned)) && returned == 1)
    {
        CWmiObject *item = new CWmiObject(object, m_pServices);
        if (!item)
        {
            object->Release();
            break;
        }
        m_Results.AddTail(item);
    }
    enumerator->Release();
    return 1;
}

CWmiObject *CWmiQuery::First() const
{
    return static_cast<CWmiObject *>(m_Results.GetFirst());
}

void CWmiQuery::DropResults()
{
    while (CListItem *item = m_Results.GetFirst())
    {
        m_Results.Remove(item);
        delete item;
    }
}

void CWmiQuery::Close()
{
    if (m_pSink)
    {
        if (m_pServices)
            m_pServices->CancelAsyncCall(m_pSink);
        m_pSink->Release();
        m_pSink = NULL;
    }
    DropResults();
    if (m_pServices)
    {
        m_pServices->Release();
        m_pServices = NULL;
    }
    m_Com.Uninit();
}

// Shared by the caller and the thread that asks the service; whoever lets go last frees it,
// so that a caller that stopped waiting leaves nothing behind that the thread still uses.
struct CWmiTextRequest
{
    volatile LONG references;
    const wchar_t *nameSpace;
    const char *query;
    const wchar_t *property;
    int read;
    CStr text;
};

static void ReleaseRequest(CWmiTextRequest *request)
{
    if (InterlockedDecrement(&request->references) == 0)
        delete request;
}

static DWORD WINAPI AskService(void *param)
{
    CWmiTextRequest *request = static_cast<CWmiTextRequest *>(param);
    CWmiQuery query;
    CWmiObject *first = NULL;
    request->read = query.Connect(request->nameSpace) && query.Query(request->query) &&
                    (first = query.First()) != NULL &&
                    first->Get(request->property, &request->text, NULL, 0);
    query.Close();
    ReleaseRequest(request);
    return 0;
}

int ReadWmiText(const wchar_t *nameSpace, const char *query, const wchar_t *property, CStr &text,
                DWORD limit)
{
    // Its thread could not start, and would hold the loader lock that the upload needs.
    if (ThreadsStalled())
    {
        SetLastError(ERROR_BUSY);
        return 0;
    }
    CWmiTextRequest *request = new CWmiTextRequest;
    if (!request)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    request->references = 2;
    request->nameSpace = nameSpace;
    request->query = query;
    request->property = property;
    request->read = 0;
    CHandle thread(CreateThread(NULL, 0, AskService, request, 0, NULL));
    if (!thread.IsHeld())
    {
        CLastErrorKeeper keep;
        request->references = 1;
        ReleaseRequest(request);
        return 0;
    }
    // A service that does not answer within the limit is left to itself.
    int answered = WaitForSingleObject(thread.Get(), limit) == WAIT_OBJECT_0;
    int read = answered && request->read && text.Assign(request->text.GetText());
    ReleaseRequest(request);
    if (!answered)
        SetLastError(ERROR_TIMEOUT);
    return read;
}
