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

// The native thread query, declared for its binding only: the program never imports it.
extern "C" LONG WINAPI NtQueryInformationThread(HANDLE thread, ULONG infoClass, PVOID info,
                                                ULONG length, PULONG returned);
typedef DYN_PROC(NtQueryInformationThread) NtQueryInformationThreadProc;
typedef DYN_PROC(MiniDumpWriteDump) MiniDumpWriteDumpProc;

// The symbol functions the walk needs beside the minidump writer, each required, in the
// order they are bound. The one list declares and binds them.
#define WALK_SYMBOL_FUNCTIONS(use)                                                          \
    use(SymInitialize) use(SymSetOptions) use(SymGetSymFromAddr64) use(SymFromAddr)         \
        use(SymGetModuleInfo64) use(StackWalk64) use(SymFunctionTableAccess64)              \
            use(SymGetModuleBase64) use(SymGetLineFromAddr64)

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

#define WALK_DECLARE_FUNCTION(name) DYN_PROC(name) name;
    // Value-initialised, every pointer is null.
    struct CSymbolFunctions
    {
        WALK_SYMBOL_FUNCTIONS(WALK_DECLARE_FUNCTION)
        // Optional: ends the symbol engine so that a later Initialize can start it again
        // even where another load keeps the library in the process.
        DYN_PROC(SymCleanup) SymCleanup;
    };
#undef WALK_DECLARE_FUNCTION

    CDynLib m_Dbghelp;
    CDynLib m_Ntdll;
    CSymbolFunctions m_Sym;
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

#if defined(_M_IX86) || defined(__i386__)
// The return address on top of the stack when the faulting function keeps no frame of its
// own (its caller's frame pointer is still in place); 0 when it has one.
DWORD FramelessReturnAddress(const CONTEXT &context);
#endif

#endif
