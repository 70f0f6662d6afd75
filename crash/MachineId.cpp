#include "crash/MachineId.h"

#include <wbemcli.h>

#include "crash/SysInfo.h"

#define NT_CURRENT_VERSION_KEY "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
#define WIN9X_CURRENT_VERSION_KEY "Software\\Microsoft\\Windows\\CurrentVersion"
#define DISK_ENUM_KEY "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum"
#define SCSI_UNIT_KEY                                                                      \
    "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0"
#define SCSI_LIMIT 10
#define ADDRESS_BYTES 6

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

typedef HRESULT(WINAPI *CoInitializeExProc)(void *reserved, DWORD flags);

BYTE SumBytes(const void *data, size_t count)
{
    const BYTE *bytes = static_cast<const BYTE *>(data);
    BYTE sum = 0;
    for (size_t i = 0; i < count; i++)
        sum = static_cast<BYTE>(sum + bytes[i]);
    return sum;
}

BYTE XorBytes(const void *data, size_t count)
{
    const BYTE *bytes = static_cast<const BYTE *>(data);
    BYTE result = 0;
    for (size_t i = 0; i < count; i++)
        result ^= bytes[i];
    return result;
}

BYTE MachineIdCheckByte(const BYTE record[MACHINE_ID_BYTES])
{
    BYTE check = 0;
    for (int i = 0; i < MACHINE_ID_BYTES - 1; i++)
        check ^= static_cast<BYTE>(~record[i]);
    return check;
}

int VersionByteFromText(const char *text, BYTE *value)
{
    unsigned major = 0;
    unsigned minor = 0;
    if (!text || sscanf(text, "%u.%u", &major, &minor) != 2)
        return 0;
    *value = static_cast<BYTE>((minor << 4) | (major & 0xF));
    return 1;
}

int FormatMachineId(CStr &text, const BYTE record[MACHINE_ID_BYTES])
{
    return Format(text, MACHINE_ID_TEXT, record[0] + 256 * record[1], record[2] + 256 * record[3],
                  record[4] + 256 * record[5], record[6] + 256 * record[7]);
}

CComInit::CComInit() : m_bInitialised(0)
{
}

CComInit::~CComInit()
{
    Uninit();
}

int CComInit::Init(int multithreaded)
{
    if (m_bInitialised)
        return 0;
    DWORD flags = (multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED) |
                  COINIT_DISABLE_OLE1DDE;
    HRESULT result = E_NOTIMPL;
    CDynLib ole;
    CoInitializeExProc initializeEx =
        ole.Load("ole32.dll") ? reinterpret_cast<CoInitializeExProc>(ole.GetProc("CoInitializeEx"))
                              : NULL;
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
    m_bInitialised = 1;
    return 1;
}

void CComInit::Uninit()
{
    if (!m_bInitialised)
        return;
    CoUninitialize();
    m_bInitialised = 0;
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
    if (!m_Com.Init(1))
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
        status = path ? locator->ConnectServer(path, NULL, NULL, NULL, 0, NULL, NULL, &m_pServices)
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
    while (SUCCEEDED(enumerator->Next(WBEM_INFINITE, 1, &object, &returned)) && returned == 1)
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

CMachineId::CMachineId() : m_nOsCode(0)
{
}

CMachineId::~CMachineId()
{
    m_Key.Close();
}

int CMachineId::GetText(CStr &text, BYTE value)
{
    BYTE record[MACHINE_ID_BYTES];
    Build(record, value);
    return FormatMachineId(text, record);
}

BYTE CMachineId::Build(BYTE record[MACHINE_ID_BYTES], BYTE value)
{
    m_nOsCode = GetOsCode();
    record[0] = 0x10;
    record[2] = GetVersionByte();
    record[3] = GetVolumeByte();
    record[1] = GetProductIdByte();
    record[4] = GetNetworkByte();
    record[5] = GetDiskByte();
    record[6] = value;
    record[7] = MachineIdCheckByte(record);
    return record[7];
}

// Reads one string value through the object's key, which is closed again afterwards.
int CMachineId::ReadText(const char *path, const char *name, CStr &text, REGSAM view)
{
    int read = m_Key.Open(HKEY_LOCAL_MACHINE, path, view) && m_Key.ReadString(name, text);
    m_Key.Close();
    if (!read)
        text = "";
    return read;
}

int CMachineId::ReadAddressBytes(const char *path, const char *name, BYTE address[ADDRESS_BYTES])
{
    DWORD size = ADDRESS_BYTES;
    int read = m_Key.Open(HKEY_LOCAL_MACHINE, path, 0) && m_Key.ReadBinary(name, address, &size);
    m_Key.Close();
    if (!read)
        ZeroMemory(address, ADDRESS_BYTES);
    return read;
}

BYTE CMachineId::GetVersionByte()
{
    CStr text;
    BYTE value = 0;
    if (ReadText(NT_CURRENT_VERSION_KEY, "CurrentVersion", text, 0) &&
        VersionByteFromText(text.GetText(), &value))
        return value;
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return 0;
    return static_cast<BYTE>((version.dwMinorVersion << 4) | (version.dwMajorVersion & 0xF));
}

BYTE CMachineId::GetVolumeByte()
{
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char root[MAX_PATH] = "";
    UINT length = GetWindowsDirectoryA(root, sizeof(root));
    if (length >= sizeof(root))
        root[0] = 0;
    if (length >= 3)
        root[3] = 0;
    DWORD serial = 0;
    BOOL read = GetVolumeInformationA(root, NULL, 0, &serial, NULL, NULL, NULL, 0);
    SetErrorMode(previousMode);
    return read ? XorBytes(&serial, sizeof(serial)) : 0;
}

BYTE CMachineId::GetProductIdByte()
{
    CStr text;
    if (IsNt())
        ReadText(NT_CURRENT_VERSION_KEY, "ProductId", text, KEY_WOW64_64KEY);
    else
        ReadText(WIN9X_CURRENT_VERSION_KEY, "ProductId", text, 0);
    return SumBytes(text.GetText(), text.GetLength());
}

int CMachineId::ReadWmiAddress(CStr &text)
{
    CWmiQuery query;
    CWmiObject *adapter = NULL;
    int read = query.Connect(L"ROOT\\CIMV2") &&
               query.Query("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true") &&
               (adapter = query.First()) != NULL && adapter->Get(L"MACAddress", &text, NULL, 0);
    query.Close();
    if (!read)
        text = "";
    return read;
}

// A source that reads ends the search, even when its text is empty: the byte must not
// change with sources further down that an installation may or may not have.
BYTE CMachineId::GetNetworkByte()
{
    BYTE address[ADDRESS_BYTES] = {0};
    CStr text;
    if (IsNt())
    {
        if (!ReadText("SOFTWARE\\Microsoft\\Windows Genuine Advantage", "MAC", text, 0) &&
            !ReadAddressBytes("SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData",
                              "NetworkAddress", address) &&
            !ReadWmiAddress(text))
            ReadText(NT_CURRENT_VERSION_KEY, "ProductId", text, KEY_WOW64_64KEY);
    }
    else if (!ReadAddressBytes("System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00",
                               "HardwareAddress", address))
        ReadText(WIN9X_CURRENT_VERSION_KEY, "ProductId", text, 0);
    if (text.GetLength())
        return XorBytes(text.GetText(), text.GetLength());
    return XorBytes(address, ADDRESS_BYTES);
}

int CMachineId::SumDiskEnum(BYTE *sum)
{
    DWORD count = 0;
    int read = 0;
    if (m_Key.Open(HKEY_LOCAL_MACHINE, DISK_ENUM_KEY, 0) && m_Key.ReadDword("Count", &count))
    {
        CStr text;
        char name[16];
        for (DWORD i = 0; i < count; i++)
        {
            FormatLine(name, sizeof(name), "%u", static_cast<unsigned>(i));
            if (!m_Key.ReadString(name, text))
                continue;
            *sum = static_cast<BYTE>(*sum + SumBytes(text.GetText(), text.GetLength()));
            read = 1;
        }
    }
    m_Key.Close();
    return read;
}

int CMachineId::SumScsiIdentifiers(BYTE *sum)
{
    int opened = 0;
    CStr text;
    char path[MAX_PATH];
    for (unsigned port = 0; port < SCSI_LIMIT; port++)
        for (unsigned bus = 0; bus < SCSI_LIMIT; bus++)
            for (unsigned target = 0; target < SCSI_LIMIT; target++)
            {
                FormatLine(path, sizeof(path), SCSI_UNIT_KEY, port, bus, target);
                if (!m_Key.Open(HKEY_LOCAL_MACHINE, path, 0))
                    break;
                opened = 1;
                if (!m_Key.ReadString("Identifier", text))
                    text = "";
                m_Key.Close();
                *sum = static_cast<BYTE>(*sum + SumBytes(text.GetText(), text.GetLength()));
            }
    return opened;
}

BYTE CMachineId::GetDiskByte()
{
    if (!IsNt())
        return 0;
    BYTE sum = 0;
    if (SumDiskEnum(&sum) || SumScsiIdentifiers(&sum))
        return sum;
    return 0;
}
