#include "crash/StackWalk.h"

#include "base/Str.h"

CStackWalk::CStackWalk() { ClearPointers(); }
CStackWalk::~CStackWalk() { Cleanup(); }
void CStackWalk::ClearPointers() { m_pMiniDumpWriteDump = NULL; m_pNtQueryInformationThread = NULL; m_pSymInitialize = NULL; m_pSymSetOptions = NULL; m_pSymGetSymFromAddr64 = NULL; m_pSymFromAddr = NULL; m_pSymGetModuleInfo64 = NULL; m_pStackWalk64 = NULL; m_pSymFunctionTableAccess64 = NULL; m_pSymGetModuleBase64 = NULL; m_pSymGetLineFromAddr64 = NULL; m_pSymCleanup = NULL; m_nEngineStarted = 0; }
int CStackWalk::BindRequired() { return 0; }
int CStackWalk::Initialize() { return 0; }
void CStackWalk::Cleanup() { m_Dbghelp.Free(); m_Ntdll.Free(); ClearPointers(); }
int CStackWalk::Symbolize(DWORD64, char *, size_t, DWORD64 *) { return 0; }
int CStackWalk::GetModuleName(DWORD64, char *, size_t, DWORD64 *) { return 0; }
int CStackWalk::GetLine(DWORD64, IMAGEHLP_LINE64 *) { return 0; }
void CStackWalk::WalkToFile(CONTEXT *, HANDLE) {}
int BuildSymbolSearchPath(CStr &, const char *) { return 0; }
int FormatFrameLine(char *, size_t, const char *, const DWORD64[4], const char *, const IMAGEHLP_LINE64 *) { return 0; }
int IsSharedUserPageAddress(DWORD64) { return 0; }
