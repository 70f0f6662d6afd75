#include "crash/MachineId.h"

#include "crash/SysInfo.h"

#define NT_CURRENT_VERSION_KEY "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
#define WIN9X_CURRENT_VERSION_KEY "Software\\Microsoft\\Windows\\CurrentVersion"
#define DISK_ENUM_KEY "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum"
#define SCSI_UNIT_KEY                                                                      \
    "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0"
#define SCSI_LIMIT 10
#define ADDRESS_BYTES 6

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
    int read = ReadWmiText(L"ROOT\\CIMV2",
                           "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true",
                           L"MACAddress", text, WMI_TIME_LIMIT_MS);
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
