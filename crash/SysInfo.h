// The running system as text for the crash report: the system code with its version and
// edition facts, a name made from it, and one description per processor.
#ifndef BRENNLOW_CRASH_SYSINFO_H
#define BRENNLOW_CRASH_SYSINFO_H

#include <windows.h>

#include "base/DynLib.h"

class CStr;

// Version word (low 32 bits of the system code).
#define OS_NT 0x1
#define OS_9X 0x2
#define OS_WIN32S 0x4
#define OS_CE 0x8
#define OS_95 0x10
#define OS_98 0x20
#define OS_ME 0x40
#define OS_NT4 0x80
#define OS_2000 0x100
#define OS_XP 0x200
#define OS_95_OSR2 0x400
#define OS_98_SE 0x800
#define OS_2003 0x1000
#define OS_VISTA 0x2000
#define OS_7 0x4000
#define OS_CE50 0x8000
#define OS_CE52 0x10000
#define OS_8 0x40000
#define OS_81 0x80000
#define OS_10 0x100000
#define OS_11 0x200000
// NT 10.0 is Windows 11 from this build on.
#define OS_11_FIRST_BUILD 22000

// Edition word (high 32 bits), shifted into place by OS_EDITION.
#define OS_EDITION(bits) (static_cast<UINT64>(bits) << 32)
#define OSE_FLP 0x1
#define OSE_SP1 0x2
#define OSE_SP2 0x4
#define OSE_SP3 0x8
#define OSE_STARTER 0x10
#define OSE_SERVER_R2 0x20
#define OSE_TABLET 0x40
#define OSE_MEDIA_CENTER 0x80
#define OSE_MCE_2004 0x100
#define OSE_MCE_2005 0x200
#define OSE_MCE_2005_EX 0x400
#define OSE_MCE_VISTA 0x800
#define OSE_REMOTE_SESSION 0x1000
#define OSE_PE_BUILDER 0x2000
#define OSE_MININT 0x4000
#define OSE_SERVER 0x8000
#define OSE_ADVANCED_SERVER 0x10000
#define OSE_DATACENTER 0x80000
#define OSE_ENTERPRISE 0x100000
#define OSE_EMBEDDED 0x200000
#define OSE_HOME 0x400000
#define OSE_STORAGE_SERVER 0x800000
#define OSE_TERMINAL_SERVICES 0x1000000
#define OSE_HOME_SERVER 0x2000000
#define OSE_DOMAIN_CONTROLLER 0x4000000

// Holds the longest name GetOsName can make, with its terminator.
#define OS_NAME_BUFFER 256

// The system code of the running system: version word and service-pack bits.
UINT64 GetOsCode();
// The full system code: GetOsCode with every edition fact.
UINT64 GetOsEditionCode();
// The name for code: a constant text or buffer (size bytes; cut when smaller than
// OS_NAME_BUFFER).
const char *GetOsName(UINT64 code, char *buffer, size_t size);

// The classifications behind GetOsCode and GetOsEditionCode, free of system calls.
UINT64 ClassifyOsVersion(const OSVERSIONINFOA &version);
UINT32 ClassifySuite(WORD suiteMask, BYTE productType);
UINT32 ClassifyProductType(const char *productType);
UINT32 ClassifyMediaCenterIdent(const char *ident);

// The native system query, declared for its binding only: the program never imports it.
extern "C" LONG WINAPI NtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length,
                                                PULONG returned);

// The native system query of "ntdll.dll", bound on first use.
class CNtSysQuery
{
public:
    CNtSysQuery();
    CNtSysQuery(const CNtSysQuery &) = delete;
    CNtSysQuery &operator=(const CNtSysQuery &) = delete;

    // The native status; 0xC00000FF when the entry point is missing.
    LONG Query(ULONG infoClass, void *buffer, ULONG length, ULONG *returned);

private:
    CDynProc<DYN_PROC(NtQuerySystemInformation)> m_Query;
};

// The system's basic information (native class 0), laid out as the system fills it for
// the process's own word size.
struct CBasicInformation
{
    ULONG reserved;
    ULONG timerResolution;
    ULONG pageSize;
    ULONG physicalPages;
    ULONG lowestPhysicalPage;
    ULONG highestPhysicalPage;
    ULONG allocationGranularity;
    ULONG_PTR lowestUserAddress;
    ULONG_PTR highestUserAddress;
    ULONG_PTR activeProcessors;
    signed char processorCount;
};

class CSysInfo
{
public:
    CSysInfo();
    ~CSysInfo();
    CSysInfo(const CSysInfo &) = delete;
    CSysInfo &operator=(const CSysInfo &) = delete;

    // Describes processor index: name required; vendor, identifier and mhz may be null.
    // 0 when there is no such processor; a value that cannot be read leaves its text.
    int DescribeCpu(CStr *name, CStr *vendor, CStr *identifier, UINT32 *mhz, UINT32 index);

private:
    UINT32 ReadClockMhz(CRegKey &key);

    UINT32 m_nIsNt;
    CBasicInformation m_BasicInfo;
    UINT32 m_nStatistics[4];
    BYTE *m_pProcessorInfo;
    CNtSysQuery m_Query;
};

#endif
