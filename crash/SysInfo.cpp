#include "crash/SysInfo.h"

#include "base/Str.h"

#include <string.h>

#define STATUS_PROCEDURE_NOT_FOUND_CODE static_cast<LONG>(0xC00000FF)
#define NT_CLASS_BASIC_INFORMATION 0
#define NT_CLASS_PROCESSOR_POWER 43
#define PROCESSOR_INFO_BYTES 48
#define PROCESSOR_POWER_RECORD 15

#define SM_TABLETPC_METRIC 86
#define SM_MEDIACENTER_METRIC 87
#define SM_STARTER_METRIC 88
#define SM_SERVERR2_METRIC 89
#define SM_REMOTESESSION_METRIC 0x1000

#define SUITE_SMALLBUSINESS_BIT 0x1
#define SUITE_ENTERPRISE_BIT 0x2
#define SUITE_TERMINAL_BIT 0x10
#define SUITE_EMBEDDEDNT_BIT 0x40
#define SUITE_DATACENTER_BIT 0x80
#define SUITE_SINGLEUSERTS_BIT 0x100
#define SUITE_PERSONAL_BIT 0x200
#define SUITE_STORAGE_SERVER_BIT 0x2000
#define SUITE_WH_SERVER_BIT 0x8000
#define PRODUCT_DOMAIN_CONTROLLER 2

#define COUNT_OF(array) (sizeof(array) / sizeof((array)[0]))

struct CBitName
{
    UINT32 bit;
    const char *name;
};

// A fact of the system (a suite bit, a metric) and the edition bit it sets.
struct CBitMap
{
    UINT32 from;
    UINT32 to;
};

static int HasBit(UINT32 word, UINT32 bit)
{
    return (word & bit) != 0;
}

// The service-pack text of a version record, which need not be terminated.
static void GetServicePackText(const OSVERSIONINFOA &version, CStr &text)
{
    const char *csd = version.szCSDVersion;
    text.Assign(csd, static_cast<UINT32>(strnlen(csd, sizeof(version.szCSDVersion))));
}

static UINT64 Classify9x(const OSVERSIONINFOA &version)
{
    if (version.dwMajorVersion != 4)
        return OS_9X;
    char release = version.szCSDVersion[0] ? version.szCSDVersion[1] : 0;
    switch (version.dwMinorVersion)
    {
    case 0:
        return (release == 'C' || release == 'B') ? OS_9X | OS_95_OSR2 : OS_9X | OS_95;
    case 10:
        return release == 'A' ? OS_9X | OS_98_SE : OS_9X | OS_98;
    case 90:
        return OS_9X | OS_ME;
    default:
        return OS_9X;
    }
}

static UINT32 NtVersionWord(DWORD major, DWORD minor, DWORD build)
{
    static const struct
    {
        DWORD key;
        UINT32 word;
    } versions[] = {
        {0x40000, OS_NT4}, {0x50000, OS_2000}, {0x50001, OS_XP},  {0x50002, OS_2003},
        {0x60000, OS_VISTA}, {0x60001, OS_7}, {0x60002, OS_8}, {0x60003, OS_81},
        {0xA0000, OS_10},
    };
    DWORD key = ((major & 0xFFFF) << 16) | (minor & 0xFFFF);
    // Both share the version number; only the build tells them apart.
    if (key == 0xA0000 && build >= OS_11_FIRST_BUILD)
        return OS_NT | OS_11;
    for (size_t i = 0; i < COUNT_OF(versions); ++i)
    {
        if (versions[i].key == key)
            return OS_NT | versions[i].word;
    }
    return OS_NT;
}

static UINT64 ClassifyNt(const OSVERSIONINFOA &version)
{
    static const char *const packs[] = {"Service Pack 1", "Service Pack 2", "Service Pack 3"};
    static const UINT32 packBits[] = {OSE_SP1, OSE_SP2, OSE_SP3};
    CStr servicePack;
    GetServicePackText(version, servicePack);
    UINT32 edition = 0;
    for (int i = 0; i < 3; ++i)
    {
        if (servicePack.Find(packs[i]) >= 0)
            edition |= packBits[i];
    }
    return NtVersionWord(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber) |
           OS_EDITION(edition);
}

UINT64 ClassifyOsVersion(const OSVERSIONINFOA &version)
{
    switch (version.dwPlatformId)
    {
    case VER_PLATFORM_WIN32s:
        return OS_WIN32S;
    case VER_PLATFORM_WIN32_WINDOWS:
        return Classify9x(version);
    case VER_PLATFORM_WIN32_NT:
        return ClassifyNt(version);
    default:
        return 0;
    }
}

UINT32 ClassifySuite(WORD suiteMask, BYTE productType)
{
    static const CBitMap suites[] = {
        {SUITE_DATACENTER_BIT, OSE_DATACENTER},         {SUITE_ENTERPRISE_BIT, OSE_ENTERPRISE},
        {SUITE_EMBEDDEDNT_BIT, OSE_EMBEDDED},           {SUITE_PERSONAL_BIT, OSE_HOME},
        {SUITE_STORAGE_SERVER_BIT, OSE_STORAGE_SERVER}, {SUITE_WH_SERVER_BIT, OSE_HOME_SERVER},
    };
    UINT32 edition = 0;
    for (size_t i = 0; i < COUNT_OF(suites); ++i)
    {
        if (HasBit(suiteMask, suites[i].from))
            edition |= suites[i].to;
    }
    if (HasBit(suiteMask, SUITE_TERMINAL_BIT) && !HasBit(suiteMask, SUITE_SINGLEUSERTS_BIT))
        edition |= OSE_TERMINAL_SERVICES;
    if (productType == PRODUCT_DOMAIN_CONTROLLER)
        edition |= OSE_DOMAIN_CONTROLLER;
    if (HasBit(suiteMask, SUITE_SMALLBUSINESS_BIT | SUITE_ENTERPRISE_BIT))
        edition |= OSE_SERVER;
    return edition;
}

UINT32 ClassifyProductType(const char *productType)
{
    if (!productType || !lstrcmpiA(productType, "WinNT"))
        return 0;
    if (!lstrcmpiA(productType, "ServerNT"))
        return OSE_SERVER;
    if (!lstrcmpiA(productType, "LanmanNT"))
        return OSE_ADVANCED_SERVER;
    return 0;
}

UINT32 ClassifyMediaCenterIdent(const char *ident)
{
    unsigned major = 0, minor = 0;
    if (!ident || sscanf(ident, "%u.%u", &major, &minor) < 1)
        return 0;
    switch (major)
    {
    case 2:
        return OSE_MCE_2004;
    case 3:
        return OSE_MCE_2005;
    case 4:
        return OSE_MCE_2005_EX;
    case 5:
        return OSE_MCE_VISTA;
    default:
        return 0;
    }
}

UINT64 GetOsCode()
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return 0;
    return ClassifyOsVersion(version);
}

static int KeyExists(const char *path)
{
    CRegKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path, 0);
}

// Classifies a string value of the local machine; a missing value classifies as nothing.
static UINT32 ClassifyRegistryText(const char *path, const char *name,
                                   UINT32 (*classify)(const char *text))
{
    CStr text;
    if (!CRegKey::ReadStringValue(HKEY_LOCAL_MACHINE, path, name, text, NULL, 0))
        return 0;
    return classify(text.GetText());
}

static UINT32 ReadLegacyFundamentals()
{
    CRegKey key;
    DWORD installed = 0;
    if (!key.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\WPA\\Fundamentals", 0) ||
        !key.ReadDword("Installed", &installed))
        return 0;
    return installed == 1 ? OSE_FLP : 0;
}

static UINT32 ReadSystemMetrics()
{
    static const CBitMap metrics[] = {
        {SM_TABLETPC_METRIC, OSE_TABLET},         {SM_MEDIACENTER_METRIC, OSE_MEDIA_CENTER},
        {SM_REMOTESESSION_METRIC, OSE_REMOTE_SESSION}, {SM_STARTER_METRIC, OSE_STARTER},
        {SM_SERVERR2_METRIC, OSE_SERVER_R2},
    };
    UINT32 edition = 0;
    for (size_t i = 0; i < COUNT_OF(metrics); ++i)
    {
        if (GetSystemMetrics(static_cast<int>(metrics[i].from)))
            edition |= metrics[i].to;
    }
    return edition;
}

UINT64 GetOsEditionCode()
{
    UINT64 code = GetOsCode();
    if (!(code & OS_NT))
        return code;
    UINT32 edition = 0;
    OSVERSIONINFOEXA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&version)))
        edition |= ClassifySuite(version.wSuiteMask, version.wProductType);
    edition |= ClassifyRegistryText("SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                                    "ProductType", ClassifyProductType);
    if (KeyExists("SYSTEM\\CurrentControlSet\\Control\\MiniNT"))
        edition |= OSE_MININT;
    if (KeyExists("SYSTEM\\CurrentControlSet\\Control\\PE Builder"))
        edition |= OSE_PE_BUILDER;
    edition |= ReadLegacyFundamentals();
    edition |= ReadSystemMetrics();
    edition |= ClassifyRegistryText("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center",
                                    "Ident", ClassifyMediaCenterIdent);
    return code | OS_EDITION(edition);
}

// The first name in names whose bit word has, or null.
static const char *FirstName(UINT32 word, const CBitName *names, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (HasBit(word, names[i].bit))
            return names[i].name;
    }
    return NULL;
}

static const char *Get9xFamilyName(UINT32 word, char *buffer, size_t size)
{
    static const CBitName dos[] = {{OS_95, "Windows 95"}, {OS_95_OSR2, "Windows 95 OSR2"},
                                   {OS_98, "Windows 98"}, {OS_98_SE, "Windows 98 SE"},
                                   {OS_ME, "Windows ME"}};
    static const CBitName ce[] = {{OS_CE50, "Windows CE 5.0"}, {OS_CE52, "Windows CE 5.2"}};
    const char *name = NULL;
    const char *unknown = "unknown 0x%X";
    if (HasBit(word, OS_9X))
    {
        name = FirstName(word, dos, COUNT_OF(dos));
        unknown = "unknown dos kernel 0x%X";
    }
    else if (HasBit(word, OS_WIN32S))
        name = "Windows 3.1";
    else if (HasBit(word, OS_CE))
    {
        name = FirstName(word, ce, COUNT_OF(ce));
        unknown = "unknown ce kernel 0x%X";
    }
    if (name)
        return name;
    FormatLine(buffer, size, unknown, word);
    return buffer;
}

static void AppendText(char *buffer, size_t size, const char *text)
{
    size_t length = strlen(buffer);
    FormatLine(buffer + length, size - length, "%s", text);
}

static void AppendRemarks(UINT32 edition, char *buffer, size_t size)
{
    static const CBitName servers[] = {{OSE_SERVER, " [Server]"},
                                       {OSE_ADVANCED_SERVER, " [Advanced Server]"}};
    static const CBitName preinstall[] = {{OSE_PE_BUILDER, " [PE Builder]"},
                                          {OSE_MININT, " [MiniNT]"}};
    static const CBitName tablet[] = {{OSE_TABLET, " [TabletPC]"}};
    static const CBitName mediaCenter[] = {
        {OSE_MCE_2004, " [MediaCenter 2004]"},    {OSE_MCE_2005, " [MediaCenter 2005]"},
        {OSE_MCE_2005_EX, " [MediaCenter 2005 Ex]"}, {OSE_MCE_VISTA, " [MediaCenter Vista]"},
        {OSE_MEDIA_CENTER, " [MediaCenter]"}};
    static const CBitName suites[] = {
        {OSE_DATACENTER, " [Datacenter]"},        {OSE_ENTERPRISE, " [Enterprise]"},
        {OSE_EMBEDDED, " [Embedded]"},            {OSE_HOME, " [Home Edition]"},
        {OSE_STORAGE_SERVER, " [Storage Server]"}, {OSE_TERMINAL_SERVICES, " [Terminal Services]"},
        {OSE_HOME_SERVER, " [Home Server]"},      {OSE_DOMAIN_CONTROLLER, " [Domain Controller]"},
        {OSE_FLP, " [Fundamentals for Legacy PCs]"}};
    static const CBitName session[] = {{OSE_REMOTE_SESSION, " [TerminalSession]"}};
    // Each group adds at most its first remark that applies, except the suites, which add all.
    const struct
    {
        const CBitName *names;
        size_t count;
        int all;
    } groups[] = {{servers, COUNT_OF(servers), 0},         {preinstall, COUNT_OF(preinstall), 0},
                  {tablet, COUNT_OF(tablet), 0},           {mediaCenter, COUNT_OF(mediaCenter), 0},
                  {suites, COUNT_OF(suites), 1},           {session, COUNT_OF(session), 0}};
    for (size_t g = 0; g < COUNT_OF(groups); ++g)
    {
        for (size_t i = 0; i < groups[g].count; ++i)
        {
            if (!HasBit(edition, groups[g].names[i].bit))
                continue;
            AppendText(buffer, size, groups[g].names[i].name);
            if (!groups[g].all)
                break;
        }
    }
}

const char *GetOsName(UINT64 code, char *buffer, size_t size)
{
    static const CBitName nt[] = {
        {OS_NT4, "Windows NT4"},        {OS_2000, "Windows 2000"},
        {OS_XP, "Windows XP"},          {OS_2003, "Windows Server 2003"},
        {OS_VISTA, "Windows Vista"},    {OS_7, "Windows 7"},
        {OS_8, "Windows 8"},            {OS_81, "Windows 8.1"},
        {OS_10, "Windows 10"},          {OS_11, "Windows 11"}};
    if (!buffer || !size)
        return "";
    UINT32 word = static_cast<UINT32>(code);
    if (!HasBit(word, OS_NT))
        return Get9xFamilyName(word, buffer, size);
    const char *name = FirstName(word, nt, COUNT_OF(nt));
    if (!name)
    {
        FormatLine(buffer, size, "unknown nt kernel 0x%X", word);
        return buffer;
    }
    FormatLine(buffer, size, "%s", name);
    AppendRemarks(static_cast<UINT32>(code >> 32), buffer, size);
    return buffer;
}

CNtSysQuery::CNtSysQuery() : m_Query("ntdll.dll", "NtQuerySystemInformation")
{
}

LONG CNtSysQuery::Query(ULONG infoClass, void *buffer, ULONG length, ULONG *returned)
{
    DYN_PROC(NtQuerySystemInformation) query = m_Query.Get();
    if (!query)
        return STATUS_PROCEDURE_NOT_FOUND_CODE;
    return query(infoClass, buffer, length, returned);
}

CSysInfo::CSysInfo() : m_nIsNt(0), m_pProcessorInfo(NULL)
{
    memset(&m_BasicInfo, 0, sizeof(m_BasicInfo));
    memset(m_nStatistics, 0, sizeof(m_nStatistics));
    if (!(GetOsCode() & OS_NT))
        return;
    m_nIsNt = 1;
    m_Query.Query(NT_CLASS_BASIC_INFORMATION, &m_BasicInfo, sizeof(m_BasicInfo), NULL);
    // The count is a signed byte: a machine with more than 127 processors reads negative.
    if (m_BasicInfo.processorCount > 0)
        m_pProcessorInfo = static_cast<BYTE *>(
            malloc(static_cast<size_t>(m_BasicInfo.processorCount) * PROCESSOR_INFO_BYTES));
}

CSysInfo::~CSysInfo()
{
    if (m_nIsNt)
    {
        free(m_pProcessorInfo);
        return;
    }
    // Reading the value ends the processor-usage statistics of the 95/98/ME family.
    CRegKey key;
    DWORD usage = 0;
    if (key.Open(HKEY_DYN_DATA, "PerfStats\\StopStat", 0))
        key.ReadDword("KERNEL\\CPUUsage", &usage);
}

// Copies a registry string into text only when it could be read.
static void ReadTextValue(CRegKey &key, const char *name, CStr *text)
{
    CStr value;
    if (key.ReadString(name, value))
        *text = value;
}

UINT32 CSysInfo::ReadClockMhz(CRegKey &key)
{
    DWORD mhz = 0;
    if (!key.ReadDword("~MHz", &mhz))
        mhz = 0;
    BYTE power[PROCESSOR_POWER_RECORD];
    memset(power, 0, sizeof(power));
    if (m_Query.Query(NT_CLASS_PROCESSOR_POWER, power, sizeof(power), NULL) == 0)
    {
        UINT32 hertz = 0;
        memcpy(&hertz, power + sizeof(UINT32), sizeof(hertz));
        if (hertz)
            mhz = hertz / 1000 / 1000;
    }
    return mhz;
}

int CSysInfo::DescribeCpu(CStr *name, CStr *vendor, CStr *identifier, UINT32 *mhz, UINT32 index)
{
    char path[64];
    FormatLine(path, sizeof(path), "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u", index);
    CRegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, path, 0))
        return 0;
    ReadTextValue(key, m_nIsNt ? "ProcessorNameString" : "Identifier", name);
    if (vendor)
        ReadTextValue(key, "VendorIdentifier", vendor);
    if (identifier && m_nIsNt)
        ReadTextValue(key, "Identifier", identifier);
    if (mhz)
        *mhz = ReadClockMhz(key);
    return 1;
}
