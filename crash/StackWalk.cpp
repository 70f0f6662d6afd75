#include "crash/StackWalk.h"

#include "base/Str.h"
#include "crash/CrashReport.h"

#include <stddef.h>
#include <string.h>

#define SEARCH_PATH_RESERVE 512
#define SEARCH_PART_BUFFER 260
#define SYMBOL_RECORD_BUFFER 500
#define SYMBOL_INFO_NAME_CAPACITY 412
#define MODULE_PATH_BUFFER 260
// The module record up to its symbol-file fields; older debug-help libraries refuse the
// larger record of newer headers, and the fallback in GetModuleName serves the oldest.
#define MODULE_RECORD_SIZE 1672
#define SHARED_USER_PAGE_FIRST 0x7FFE0000u
#define SHARED_USER_PAGE_LAST 0x7FFEFFFFu

#if defined(_M_IX86) || defined(__i386__)
#define WALK_X86 1
#endif

// The debug-help library's records share one buffer; the union keeps it aligned for both.
union CSymbolRecord
{
    SYMBOL_INFO info;
    IMAGEHLP_SYMBOL64 symbol;
    BYTE bytes[SYMBOL_RECORD_BUFFER];
};

CStackWalk::CStackWalk()
{
    ClearPointers();
}

CStackWalk::~CStackWalk()
{
    Cleanup();
}

void CStackWalk::ClearPointers()
{
    m_pMiniDumpWriteDump = NULL;
    m_pNtQueryInformationThread = NULL;
    m_Sym = CSymbolFunctions();
    m_nEngineStarted = 0;
}

int CStackWalk::BindRequired()
{
#define WALK_BIND_FUNCTION(name) &&m_Dbghelp.Bind(#name, &m_Sym.name)
    return m_Dbghelp.Bind("MiniDumpWriteDump", &m_pMiniDumpWriteDump)
        WALK_SYMBOL_FUNCTIONS(WALK_BIND_FUNCTION);
#undef WALK_BIND_FUNCTION
}

int CStackWalk::Initialize()
{
    Cleanup();
    if (!m_Dbghelp.Load("dbghelp.dll") || !BindRequired())
    {
        DWORD error = GetLastError();
        Cleanup();
        SetLastError(error ? error : ERROR_PROC_NOT_FOUND);
        return 0;
    }
    m_Dbghelp.Bind("SymCleanup", &m_Sym.SymCleanup);
    if (m_Ntdll.Load("ntdll.dll"))
        m_Ntdll.Bind("NtQueryInformationThread", &m_pNtQueryInformationThread);
    m_Sym.SymSetOptions(SYMOPT_LOAD_LINES);

    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof(program));
    CStr path(SEARCH_PATH_RESERVE);
    // A cut program path names no folder of ours.
    BuildSymbolSearchPath(path, length && length < sizeof(program) ? program : NULL);
    if (!m_Sym.SymInitialize(GetCurrentProcess(), path.GetText(), TRUE))
    {
        CLastErrorKeeper keep;
        Cleanup();
        return 0;
    }
    m_nEngineStarted = 1;
    return 1;
}

void CStackWalk::Cleanup()
{
    if (m_nEngineStarted && m_Sym.SymCleanup)
        m_Sym.SymCleanup(GetCurrentProcess());
    m_Dbghelp.Free();
    m_pNtQueryInformationThread = NULL;
    m_Ntdll.Free();
    ClearPointers();
}

int BuildSymbolSearchPath(CStr &path, const char *programPath)
{
    static const char *const variables[] = {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH",
                                            "SYSTEMROOT"};
    path.Assign("");
    if (programPath)
    {
        CStr folder;
        folder.Assign(programPath);
        int slash = folder.ReverseFind('\\');
        if (slash >= 0)
        {
            folder.Truncate(slash + 1);
            path.Append(folder);
            path.Append(";");
        }
    }
    for (size_t i = 0; i < sizeof(variables) / sizeof(variables[0]); ++i)
    {
        char value[SEARCH_PART_BUFFER];
        DWORD length = GetEnvironmentVariableA(variables[i], value, sizeof(value));
        // Longer values report the size they need; a cut path would name a wrong folder.
        if (length == 0 || length >= sizeof(value))
            continue;
        path.Append(value);
        path.Append(";");
    }
    UINT32 length = path.GetLength();
    if (length)
        path.Truncate(static_cast<int>(length - 1));
    return path.GetText() != NULL;
}

int CStackWalk::Symbolize(DWORD64 address, char *text, size_t size, DWORD64 *start)
{
    if (!IsBound() || !text || !size)
        return 0;
    HANDLE process = GetCurrentProcess();
    DWORD64 displacement = 0;
    CSymbolRecord record;
    memset(&record, 0, sizeof(record));
    record.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    record.info.MaxNameLen = SYMBOL_INFO_NAME_CAPACITY;
    if (m_Sym.SymFromAddr(process, address, &displacement, &record.info))
    {
        record.info.Name[SYMBOL_INFO_NAME_CAPACITY - 1] = 0;
        if (start)
#ifdef WALK_X86
            *start = static_cast<DWORD>(record.info.Address);
#else
            *start = record.info.Address;
#endif
        FormatLine(text, size, "%s", record.info.Name);
        return 1;
    }

    memset(&record, 0, sizeof(record));
    record.symbol.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    record.symbol.MaxNameLength = SYMBOL_RECORD_BUFFER - offsetof(IMAGEHLP_SYMBOL64, Name) - 1;
    if (m_Sym.SymGetSymFromAddr64(process, address, &displacement, &record.symbol))
    {
        record.bytes[SYMBOL_RECORD_BUFFER - 1] = 0;
        if (start)
            *start = record.symbol.Address;
        FormatLine(text, size, "%s", record.symbol.Name);
        return 1;
    }

    char module[WALK_MODULE_NAME];
    DWORD64 base = 0;
    if (!GetModuleName(address, module, sizeof(module), &base))
        return 0;
    if (start)
        *start = base;
    DWORD64 offset = address >= base ? address - base : address;
    if (module[0])
        FormatLine(text, size, "%s@0x%I64X", module, offset);
    else
        FormatLine(text, size, "0x%I64X@0x%I64X", offset, offset);
    return 1;
}

int CStackWalk::GetModuleName(DWORD64 address, char *name, size_t size, DWORD64 *base)
{
    if (!IsBound())
        return 0;
    HANDLE process = GetCurrentProcess();
    IMAGEHLP_MODULE64 module;
    memset(&module, 0, sizeof(module));
    module.SizeOfStruct = MODULE_RECORD_SIZE;
    if (m_Sym.SymGetModuleInfo64(process, address, &module))
    {
        if (base)
            *base = module.BaseOfImage;
        if (name)
            FormatLine(name, size, "%.*s", static_cast<int>(sizeof(module.ModuleName)),
                       module.ModuleName);
        return 1;
    }

    // Debug-help libraries too old for this record size still find the module's base.
    DWORD64 moduleBase = m_Sym.SymGetModuleBase64(process, address);
    if (!moduleBase)
        return 0;
    if (name)
    {
        char path[MODULE_PATH_BUFFER];
        HMODULE handle = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(moduleBase));
        DWORD length = GetModuleFileNameA(handle, path, sizeof(path));
        if (!length)
            return 0;
        path[sizeof(path) - 1] = 0;
        const char *file = path;
        for (const char *at = path; *at; at = CharNextA(at))
        {
            if (*at == '\\')
                file = at + 1;
        }
        FormatLine(name, size, "%s", file);
    }
    if (base)
        *base = moduleBase;
    return 1;
}

int CStackWalk::GetLine(DWORD64 address, IMAGEHLP_LINE64 *line)
{
    if (!IsBound() || !line)
        return 0;
    line->SizeOfStruct = sizeof(IMAGEHLP_LINE64);
    DWORD displacement = 0;
    return m_Sym.SymGetLineFromAddr64(GetCurrentProcess(), address, &displacement, line) ? 1 : 0;
}

int IsSharedUserPageAddress(DWORD64 pc)
{
#ifdef WALK_X86
    DWORD low = static_cast<DWORD>(pc);
    return low >= SHARED_USER_PAGE_FIRST && low <= SHARED_USER_PAGE_LAST;
#else
    // Here the page has one address; other addresses with these low bits are real code.
    return pc >= SHARED_USER_PAGE_FIRST && pc <= SHARED_USER_PAGE_LAST;
#endif
}

int FormatFrameLine(char *buffer, size_t size, const char *symbol, const DWORD64 params[4],
                    const char *module, const IMAGEHLP_LINE64 *line)
{
    static const DWORD64 noParams[4] = {0, 0, 0, 0};
    if (!params)
        params = noParams;
    if (!symbol)
        symbol = "";
    if (line)
        return FormatLine(buffer, size, "%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X) - Line %u in %s\r\n",
                          symbol, params[0], params[1], params[2], params[3],
                          static_cast<unsigned>(line->LineNumber),
                          line->FileName ? line->FileName : "");
    if (module && module[0])
        return FormatLine(buffer, size, "%s:%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", module,
                          symbol, params[0], params[1], params[2], params[3]);
    return FormatLine(buffer, size, "%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", symbol, params[0],
                      params[1], params[2], params[3]);
}

// The first frame of the walk, and the machine type the walk unwinds as.
static DWORD StartFrame(const CONTEXT &context, STACKFRAME64 *frame)
{
    memset(frame, 0, sizeof(*frame));
    frame->AddrPC.Mode = AddrModeFlat;
    frame->AddrFrame.Mode = AddrModeFlat;
#ifdef WALK_X86
    frame->AddrPC.Offset = context.Eip;
    frame->AddrFrame.Offset = context.Ebp;
    // Without the stack pointer the walker can only follow frame pointers, and a leaf
    // function that keeps none loses its caller.
    frame->AddrStack.Offset = context.Esp;
    frame->AddrStack.Mode = AddrModeFlat;
    return IMAGE_FILE_MACHINE_I386;
#else
    frame->AddrPC.Offset = context.Rip;
    frame->AddrFrame.Offset = context.Rbp;
    frame->AddrStack.Offset = context.Rsp;
    frame->AddrStack.Mode = AddrModeFlat;
    return IMAGE_FILE_MACHINE_AMD64;
#endif
}

// The bare-address text of a frame without symbol or module.
static void FormatBareAddress(STACKFRAME64 *frame, char *text, size_t size)
{
#ifdef WALK_X86
    // A sign-extended 32-bit address.
    if ((frame->AddrPC.Offset >> 32) == 0xFFFFFFFFu)
        frame->AddrPC.Offset &= 0xFFFFFFFFu;
    FormatLine(text, size, "0x%08I64X", frame->AddrPC.Offset);
#else
    FormatLine(text, size, "0x%016I64X", frame->AddrPC.Offset);
#endif
}

void CStackWalk::WriteFrame(STACKFRAME64 *frame, HANDLE file)
{
    DWORD64 pc = frame->AddrPC.Offset;
    if (IsSharedUserPageAddress(pc))
        return;
    char symbol[WALK_SYMBOL_TEXT];
    if (!Symbolize(pc, symbol, sizeof(symbol), NULL))
        FormatBareAddress(frame, symbol, sizeof(symbol));
    IMAGEHLP_LINE64 line;
    int hasLine = GetLine(pc, &line);
    char module[WALK_MODULE_NAME];
    module[0] = 0;
    if (!hasLine && !GetModuleName(pc, module, sizeof(module), NULL))
        module[0] = 0;
    DWORD64 params[4];
    for (int i = 0; i < 4; ++i)
#ifdef WALK_X86
        params[i] = static_cast<DWORD>(frame->Params[i]);
#else
        params[i] = frame->Params[i];
#endif
    char text[WALK_LINE_TEXT];
    int length =
        FormatFrameLine(text, sizeof(text), symbol, params, module, hasLine ? &line : NULL);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, NULL);
}

#ifdef WALK_X86
static int ReadStackWord(DWORD address, DWORD *word)
{
    return ReadOwnMemory(reinterpret_cast<const void *>(address), word, sizeof(*word));
}

// Whether the instruction in front of address is a call, so that address is a return
// address: a direct call, or an indirect one through a register or memory.
static int FollowsCall(DWORD address)
{
    BYTE code[7];
    if (address < sizeof(code) ||
        !ReadOwnMemory(reinterpret_cast<const void *>(address - sizeof(code)), code, sizeof(code)))
        return 0;
    // code[6] is the byte right in front of address.
    if (code[2] == 0xE8) // call rel32
        return 1;
    if (code[5] == 0xFF && ((code[6] & 0xF8) == 0xD0 || // call reg
                            ((code[6] & 0xF8) == 0x10 && code[6] != 0x14 && code[6] != 0x15)))
        return 1; // call [reg]
    if (code[4] == 0xFF && (code[5] & 0xF8) == 0x50 && code[5] != 0x54) // call [reg+disp8]
        return 1;
    return code[1] == 0xFF && // call [disp32], call [reg+disp32]
           (code[2] == 0x15 || ((code[2] & 0xF8) == 0x90 && code[2] != 0x94));
}

// A function that needs no stack keeps no frame of its own, even where frame pointers are
// kept, and its caller's frame pointer is still in place when it faults: a walk along frame
// pointers would go from it straight to its caller's caller. Its return address is then
// the top word of the stack; 0 when the faulting function has a frame.
DWORD FramelessReturnAddress(const CONTEXT &context)
{
    DWORD top = 0;
    DWORD chained = 0;
    if (!ReadStackWord(context.Esp, &top) || !FollowsCall(top))
        return 0;
    if (ReadStackWord(context.Ebp + 4, &chained) && chained == top)
        return 0;
    return top;
}

// Writes the frame of a faulting function that keeps no frame, and moves the context to
// its caller, as its return would. Returns the faulting program counter.
DWORD64 CStackWalk::WriteFramelessFrame(CONTEXT *context, HANDLE file)
{
    DWORD caller = FramelessReturnAddress(*context);
    if (!caller)
        return 0;
    STACKFRAME64 frame;
    memset(&frame, 0, sizeof(frame));
    frame.AddrPC.Offset = context->Eip;
    frame.AddrPC.Mode = AddrModeFlat;
    for (int i = 0; i < 4; ++i)
    {
        DWORD value = 0;
        ReadStackWord(context->Esp + 4 * (i + 1), &value);
        frame.Params[i] = value;
    }
    WriteFrame(&frame, file);
    context->Eip = caller;
    context->Esp += 4;
    return frame.AddrPC.Offset;
}
#endif

void CStackWalk::WalkToFile(CONTEXT *context, HANDLE file)
{
    if (!IsBound() || !context)
        return;
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    // The walk unwinds the record it is given; the caller's record may still be read
    // meanwhile, by the minidump among others.
    CONTEXT walked = *context;
    DWORD64 previousPc = 0;
#ifdef WALK_X86
    previousPc = WriteFramelessFrame(&walked, file);
#endif
    STACKFRAME64 frame;
    DWORD machine = StartFrame(walked, &frame);
    for (int count = 0; count < WALK_MAX_FRAMES; ++count)
    {
        if (!m_Sym.StackWalk64(machine, GetCurrentProcess(), NULL, &frame, &walked, NULL,
                               m_Sym.SymFunctionTableAccess64, m_Sym.SymGetModuleBase64, NULL))
            break;
        if (frame.AddrPC.Offset == previousPc)
            break;
        previousPc = frame.AddrPC.Offset;
        WriteFrame(&frame, file);
        if (frame.AddrReturn.Offset == 0)
            break;
    }
    SetErrorMode(previousMode);
}
