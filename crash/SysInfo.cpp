#include "crash/SysInfo.h"

#include "base/Str.h"

UINT64 GetOsCode() { return 0; }
UINT64 GetOsEditionCode() { return 0; }
const char *GetOsName(UINT64, char *buffer, size_t) { return buffer; }
UINT64 ClassifyOsVersion(const OSVERSIONINFOA &) { return 0; }
UINT32 ClassifySuite(WORD, BYTE) { return 0; }
UINT32 ClassifyProductType(const char *) { return 0; }
UINT32 ClassifyMediaCenterIdent(const char *) { return 0; }
CNtSysQuery::CNtSysQuery() : m_pQuery(NULL), m_nLookedUp(0) {}
LONG CNtSysQuery::Query(ULONG, void *, ULONG, ULONG *) { return static_cast<LONG>(0xC00000FF); }
CSysInfo::CSysInfo() : m_nIsNt(0), m_BasicInfo(), m_Statistics(), m_pProcessorInfo(NULL) {}
CSysInfo::~CSysInfo() {}
int CSysInfo::DescribeCpu(CStr *, CStr *, CStr *, UINT32 *, UINT32) { return 0; }
UINT32 CSysInfo::ReadClockMhz(CRegKey &) { return 0; }
