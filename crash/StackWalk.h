// CStackWalk binds the debug-help library at run time, turns code addresses into text
// and writes the call stack of an exception context into the crash report. It also hands
// the report writer two further bound functions: the minidump writer and the thread query.
#ifndef BRENNLOW_CRASH_STACKWALK_H
#define BRENNLOW_CRASH_STACKWALK_H

#include <windows.h>
#include <dbghelp.h>

#include "base/DynLib.h"

class CStr;

// A walk never writes more frames than this: a corrupt stack whose frames cycle would
// otherwise be walked without end.
#define WALK_MAX_FRAMES 256

// Buffer sizes of one frame of the walk.
#define WALK_SYMBOL_TEXT 260
#define WALK_MODULE_NAME 260
#define WALK_LINE_TEXT 500

typedef BOOL(WINAPI *MiniDumpWriteDumpProc)(HANDLE process, DWORD processId, HANDLE file,
                                            MINIDUMP_TYPE type,
                                            PMINIDUMP_EXCEPTION_INFORMATION exception,
                                            PMINIDUMP_USER_STREAM_INFORMATION userStreams,
                                            PMINIDUMP_CALLBACK_INFORMATION callback);
typedef LONG(WINAPI *NtQueryInformationThreadProc)(HANDLE thread, ULONG infoClass, PVOID info,
                                                   ULONG length, PULONG returned);

typedef BOOL(WINAPI *SymInitializeProc)(HANDLE process, PCSTR searchPath, BOOL invade);
typedef DWORD(WINAPI *SymSetOptionsProc)(DWORD options);
typedef BOOL(WINAPI *SymGetSymFromAddr64Proc)(HANDLE process, DWORD64 address,
                                              PDWORD64 displacement, PIMAGEHLP_SYMBOL64 symbol);
typedef BOOL(WINAPI *SymFromAddrProc)(HANDLE process, DWORD64 address, PDWORD64 displacement,
                                      PSYMBOL_INFO symbol);
typedef BOOL(WINAPI *SymGetModuleInfo64Proc)(HANDLE process, DWORD64 address,
                                             PIMAGEHLP_MODULE64 module);
typedef BOOL(WINAPI *StackWalk64Proc)(DWORD machine, HANDLE process, HANDLE thread,
                                      LPSTACKFRAME64 frame, PVOID context,
                                      PREAD_PROCESS_MEMORY_ROUTINE64 readMemory,
                                      PFUNCTION_TABLE_ACCESS_ROUTINE64 functionTable,
                                      PGET_MODULE_BASE_ROUTINE64 moduleBase,
                                      PTRANSLATE_ADDRESS_ROUTINE64 translateAddress);
typedef BOOL(WINAPI *SymGetLineFromAddr64Proc)(HANDLE process, DWORD64 address,
                                               PDWORD displacement, PIMAGEHLP_LINE64 line);
typedef BOOL(WINAPI *SymCleanupProc)(HANDLE process);

class CStackWalk
{
public:
    CStackWalk();
    ~CStackWalk();
    CStackWalk(const CStackWalk &) = delete;
    CStackWalk &operator=(const CStackWalk &) = delete;

    // 1 when the library and all its required functions are bound and the symbol engine
    // runs; otherwise nothing stays loaded.
    int Initialize();
    void Cleanup();
    int IsBound() const { return m_Dbghelp.GetModule() != NULL; }

    // Text for a code address into text (size bytes, always terminated, cut when too
    // long); start, when given, receives the symbol's start or the module's base.
    int Symbolize(DWORD64 address, char *text, size_t size, DWORD64 *start);
    // Name (optional, size bytes) and base (optional) of the module holding address.
    int GetModuleName(DWORD64 address, char *name, size_t size, DWORD64 *base);
    int GetLine(DWORD64 address, IMAGEHLP_LINE64 *line);
    // Writes one line per frame of the stack that context describes.
    void WalkToFile(CONTEXT *context, HANDLE file);

    // Read by the report writer; null while unbound.
    MiniDumpWriteDumpProc m_pMiniDumpWriteDump;
    NtQueryInformationThreadProc m_pNtQueryInformationThread;

private:
    int BindRequired();
    void ClearPointers();
    void WriteFrame(STACKFRAME64 *frame, HANDLE file);
#if defined(_M_IX86) || defined(__i386__)
    DWORD64 WriteFramelessFrame(CONTEXT *context, HANDLE file);
#endif

    CDynLib m_Dbghelp;
    CDynLib m_Ntdll;
    SymInitializeProc m_pSymInitialize;
    SymSetOptionsProc m_pSymSetOptions;
    SymGetSymFromAddr64Proc m_pSymGetSymFromAddr64;
    SymFromAddrProc m_pSymFromAddr;
    SymGetModuleInfo64Proc m_pSymGetModuleInfo64;
    StackWalk64Proc m_pStackWalk64;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 m_pSymFunctionTableAccess64;
    PGET_MODULE_BASE_ROUTINE64 m_pSymGetModuleBase64;
    SymGetLineFromAddr64Proc m_pSymGetLineFromAddr64;
    // Optional: ends the symbol engine so that a later Initialize can start it again
    // even where another load keeps the library in the process.
    SymCleanupProc m_pSymCleanup;
    int m_nEngineStarted;
};

// The symbol search path: the folder of programPath (null when unavailable), then the
// variables "_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH" and "SYSTEMROOT", separated by
// ";". A variable too long for its 260-byte buffer is left out rather than cut.
int BuildSymbolSearchPath(CStr &path, const char *programPath);

// One stack line, bounded to size bytes and always ending in "\r\n"; returns its length.
// module and line may be null; symbol null counts as empty.
int FormatFrameLine(char *buffer, size_t size, const char *symbol, const DWORD64 params[4],
                    const char *module, const IMAGEHLP_LINE64 *line);

// 1 when pc lies in the system's shared user page, where no frame is reported.
int IsSharedUserPageAddress(DWORD64 pc);

#endif
