#include "crash/CrashReport.h"

#include "crash/ReportGate.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "base/DateTime.h"
#include "base/Str.h"

// Native thread-information classes
#define THREAD_BASIC_INFORMATION_CLASS 0
#define THREAD_START_ADDRESS_CLASS 9

// Reads never cross one of these boundaries, so that one piece lies in one page.
#define READ_PIECE_ALIGNMENT 4096
// A name is read a little beyond its 99 characters, so that a cut can fall on a
// character boundary of a double-byte code page.
#define THREAD_NAME_READ 120
// Where an x86 thread information block keeps its thread's identifier (ClientId.UniqueThread)
#define TEB_THREAD_ID_OFFSET 0x24

struct CThreadBasicInformation
{
    LONG exitStatus;
    void *tebBaseAddress;
    void *clientProcess;
    void *clientThread;
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};

struct CExceptionName
{
    DWORD code;
    const char *name;
};

static const CExceptionName s_ExceptionNames[] = {
    {0x40010005, "Control-C"},
    {0x40010008, "Control-Break"},
    {0x80000002, "Datatype Misalignment"},
    {0x80000003, "Breakpoint"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "In Page Error"},
    {0xC0000017, "No Memory"},
    {0xC000001D, "Illegal Instruction"},
    {0xC0000025, "Noncontinuable Exception"},
    {0xC0000026, "Invalid Disposition"},
    {0xC000008C, "Array Bounds Exceeded"},
    {0xC000008D, "Float Denormal Operand"},
    {0xC000008E, "Float Divide by Zero"},
    {0xC000008F, "Float Inexact Result"},
    {0xC0000090, "Float Invalid Operation"},
    {0xC0000091, "Float Overflow"},
    {0xC0000092, "Float Stack Check"},
    {0xC0000093, "Float Underflow"},
    {0xC0000094, "Integer Divide by Zero"},
    {0xC0000095, "Integer Overflow"},
    {0xC0000096, "Privileged Instruction"},
    {0xC00000FD, "Stack Overflow"},
    {0xC0000142, "DLL Initialization Failed"},
    {0xE06D7363, "Microsoft C++ Exception"},
};

const char *GetExceptionName(DWORD code)
{
    for (const CExceptionName &entry : s_ExceptionNames)
        if (entry.code == code)
            return entry.name;
    return "Exception";
}

// Only committed pages that may be read without a fault or a guard-page trip qualify.
static int IsReadablePiece(const void *address)
{
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof(info)) != sizeof(info) || info.State != MEM_COMMIT)
        return 0;
    DWORD protect = info.Protect;
    return protect && !(protect & (PAGE_NOACCESS | PAGE_GUARD)) ? 1 : 0;
}

int ReadOwnMemory(const void *address, void *target, size_t size)
{
    const char *from = static_cast<const char *>(address);
    char *to = static_cast<char *>(target);
    while (size)
    {
        size_t toBoundary =
            READ_PIECE_ALIGNMENT - reinterpret_cast<ULONG_PTR>(from) % READ_PIECE_ALIGNMENT;
        size_t piece = size < toBoundary ? size : toBoundary;
        SIZE_T read = 0;
        if (!IsReadablePiece(from) ||
            !ReadProcessMemory(GetCurrentProcess(), from, to, piece, &read) || read != piece)
            return 0;
        from += piece;
        to += piece;
        size -= piece;
    }
    return 1;
}

void CopyThreadName(char name[THREAD_NAME_BUFFER], const char *source)
{
    char text[THREAD_NAME_READ + 1];
    size_t length = 0;
    // Piece by piece up to each page end: a name that runs into an unreadable page
    // keeps what lies before it.
    while (source && length < THREAD_NAME_READ)
    {
        const char *from = source + length;
        size_t toBoundary =
            READ_PIECE_ALIGNMENT - reinterpret_cast<ULONG_PTR>(from) % READ_PIECE_ALIGNMENT;
        size_t piece = THREAD_NAME_READ - length;
        if (piece > toBoundary)
            piece = toBoundary;
        if (!ReadOwnMemory(from, text + length, piece))
            break;
        const void *end = memchr(text + length, 0, piece);
        length += piece;
        if (end)
            break;
    }
    text[length] = 0;
    FormatLine(name, THREAD_NAME_BUFFER, "%s", text);
}

// Everything from the last "." of the file name on; a dot in a folder name stays.
static void CutExtension(CStr &path)
{
    int dot = path.ReverseFind('.');
    if (dot >= 0 && dot > path.ReverseFind('\\'))
        path.Truncate(dot);
}

void GetReportBases(CStr &primary, CStr &fallback)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    // A cut path would name some other file, and one without a terminator none at all.
    if (length == 0 || length >= MAX_PATH)
        primary = "MiniDump";
    else
    {
        primary = path;
        CutExtension(primary);
    }
    char temp[2 * MAX_PATH];
    DWORD tempLength = GetTempPathA(sizeof(temp), temp);
    fallback = tempLength && tempLength < sizeof(temp) ? temp : "";
    int slash = primary.ReverseFind('\\');
    fallback += slash >= 0 ? primary.GetText() + slash + 1 : "MiniDump";
    CutExtension(fallback);
}

CReportText::CReportText(HANDLE file) : m_hFile(file)
{
    m_Buffer[0] = 0;
}

void CReportText::Write(int length)
{
    DWORD written = 0;
    if (length > 0)
        WriteFile(m_hFile, m_Buffer, static_cast<DWORD>(length), &written, NULL);
}

void CReportText::Line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Write(FormatLineV(m_Buffer, sizeof(m_Buffer), format, args));
    va_end(args);
}

int FormatExceptionLine(char *buffer, size_t size, const EXCEPTION_RECORD &record, DWORD threadId,
                        int isNt)
{
    ReportAddress address =
        static_cast<ReportAddress>(reinterpret_cast<ULONG_PTR>(record.ExceptionAddress));
    const char *name = GetExceptionName(record.ExceptionCode);
    if (isNt)
        return FormatLine(buffer, size, "%s [0x%08X] at " REPORT_ADDRESS " in Thread %u.\r\n", name,
                          static_cast<unsigned>(record.ExceptionCode), address,
                          static_cast<unsigned>(threadId));
    return FormatLine(buffer, size, "%s [0x%08X] at " REPORT_ADDRESS " in Thread 0x%08X.\r\n", name,
                      static_cast<unsigned>(record.ExceptionCode), address,
                      static_cast<unsigned>(threadId));
}

int FormatLocationLine(char *buffer, size_t size, const EXCEPTION_RECORD &record)
{
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
    {
        if (size)
            buffer[0] = 0;
        return 0;
    }
    return FormatLine(buffer, size, "%s location " REPORT_ADDRESS ".\r\n",
                      record.ExceptionInformation[0] ? "Write to" : "Read from",
                      static_cast<ReportAddress>(record.ExceptionInformation[1]));
}

// Report lines take a module path of up to this many bytes without the heap: the list may
// be written while another thread holds the heap's lock. Three bytes a character cover
// every ANSI code page.
#define MODULE_PATH_STACK_BUFFER (3 * REPORT_LINE_BUFFER)

// The module path in the ANSI code page, as far as a line of lineSize bytes can show it,
// in onStack when it fits, else on the heap; null when there is no memory. The C
// runtime's "%S" is no help here: it drops the whole text at the first character beyond
// Latin-1.
static char *ModulePathToAnsi(const wchar_t *path, size_t lineSize,
                              char (&onStack)[MODULE_PATH_STACK_BUFFER])
{
    int units = path ? static_cast<int>(wcsnlen(path, lineSize)) : 0;
    int bytes = units ? WideCharToMultiByte(CP_ACP, 0, path, units, NULL, 0, NULL, NULL) : 0;
    char *text = bytes < MODULE_PATH_STACK_BUFFER ? onStack
                                                  : static_cast<char *>(malloc(bytes + 1));
    if (text)
        text[units ? WideCharToMultiByte(CP_ACP, 0, path, units, text, bytes, NULL, NULL) : 0] = 0;
    return text;
}

int FormatModuleLine(char *buffer, size_t size, const CModuleRecord &module)
{
    // Left as they are when the time cannot be converted.
    char date[FILE_TIME_TEXT_BUFFER] = "";
    char time[FILE_TIME_TEXT_BUFFER] = "";
    FILETIME linked;
    UnixTimeToFileTime(module.timeStamp, &linked);
    FormatFileDate(&linked, date);
    FormatFileTime(&linked, time);
    const VS_FIXEDFILEINFO &version = module.version;
    char onStack[MODULE_PATH_STACK_BUFFER];
    char *path = ModulePathToAnsi(module.path, size, onStack);
    int length = FormatLine(
        buffer, size,
        "%8u 0x%08X %10.10s %8.8s 0x%08X 0x%08I64X %4d.%04d.%05d.%06d %4d.%04d.%05d.%06d - %s\r\n",
        static_cast<unsigned>(module.size), static_cast<unsigned>(module.timeStamp), date, time,
        static_cast<unsigned>(module.checksum), static_cast<unsigned long long>(module.base),
        HIWORD(version.dwFileVersionMS), LOWORD(version.dwFileVersionMS),
        HIWORD(version.dwFileVersionLS), LOWORD(version.dwFileVersionLS),
        HIWORD(version.dwProductVersionMS), LOWORD(version.dwProductVersionMS),
        HIWORD(version.dwProductVersionLS), LOWORD(version.dwProductVersionLS),
        path ? path : "");
    if (path != onStack)
        free(path);
    return length;
}

int FormatThreadLine(char *buffer, size_t size, const CThreadRecord &thread, const char *symbol,
                     int isNt)
{
    const char *format = isNt ? "%-8u   0x%08I64X 0x%08I64X " REPORT_ADDRESS " %hs %s\r\n"
                              : "0x%08X 0x%08I64X 0x%08I64X " REPORT_ADDRESS " %hs %s\r\n";
    return FormatLine(buffer, size, format, static_cast<unsigned>(thread.id),
                      static_cast<unsigned long long>(thread.stackBase),
                      static_cast<unsigned long long>(thread.stackEnd),
                      static_cast<ReportAddress>(thread.startAddress), symbol ? symbol : "",
                      thread.name);
}

CDumpCollector::CDumpCollector(NtQueryInformationThreadProc queryThread)
    : m_pQueryThread(queryThread)
{
    m_Threads.Init();
    m_Modules.Init();
}

CDumpCollector::~CDumpCollector()
{
    while (CModuleRecord *module = TakeFirstModule())
        Free(module);
    while (CThreadRecord *thread = TakeFirstThread())
        Free(thread);
    m_Threads.Term();
    m_Modules.Term();
}

void CDumpCollector::AddModule(const MINIDUMP_MODULE_CALLBACK &module)
{
    CModuleRecord *record = static_cast<CModuleRecord *>(calloc(1, sizeof(CModuleRecord)));
    if (!record)
        return;
    if (module.FullPath)
    {
        size_t length = wcslen(module.FullPath);
        record->path = static_cast<wchar_t *>(malloc((length + 1) * sizeof(wchar_t)));
        if (record->path)
            memcpy(record->path, module.FullPath, (length + 1) * sizeof(wchar_t));
    }
    // A sign-extended 32-bit address
    record->base = (module.BaseOfImage >> 32) == 0xFFFFFFFF ? module.BaseOfImage & 0xFFFFFFFF
                                                            : module.BaseOfImage;
    record->size = module.SizeOfImage;
    record->checksum = module.CheckSum;
    record->timeStamp = module.TimeDateStamp;
    record->version = module.VersionInfo;
    m_Modules.AddTailLink(&record->link);
}

void CDumpCollector::AddThread(const MINIDUMP_THREAD_CALLBACK &thread)
{
    CThreadRecord *record = static_cast<CThreadRecord *>(calloc(1, sizeof(CThreadRecord)));
    if (!record)
        return;
    record->id = thread.ThreadId;
    record->stackBase = thread.StackBase;
    record->stackEnd = thread.StackEnd;
    // Some minidump writers pass no handle; the thread is then opened by its id.
    CHandle opened(
        thread.ThreadHandle ? NULL : OpenThread(THREAD_QUERY_INFORMATION, FALSE, thread.ThreadId));
    HANDLE handle = thread.ThreadHandle ? thread.ThreadHandle : opened.Get();
    FindThreadName(handle, thread.ThreadId, thread.Context, record->name);
    if (m_pQueryThread && handle)
    {
        ULONG_PTR start = 0;
        if (m_pQueryThread(handle, THREAD_START_ADDRESS_CLASS, &start, sizeof(start), NULL) >= 0)
            record->startAddress = start;
    }
    m_Threads.AddTailLink(&record->link);
}

// The thread's information block as the native thread query gives it; null without it.
const char *CDumpCollector::QueryThreadBlock(HANDLE thread)
{
    CThreadBasicInformation basic;
    if (!m_pQueryThread ||
        m_pQueryThread(thread, THREAD_BASIC_INFORMATION_CLASS, &basic, sizeof(basic), NULL) < 0)
        return NULL;
    return static_cast<const char *>(basic.tebBaseAddress);
}

#if defined(_M_IX86) || defined(__i386__)
// The block that the thread's FS selector describes, when it is that thread's own. Some
// systems answer every thread's FS selector with the block of the thread that asks (here
// the minidump worker); the block's client identifier tells whose it is.
static const char *SelectorThreadBlock(HANDLE thread, DWORD threadId, const CONTEXT &context)
{
    LDT_ENTRY entry;
    if (!GetThreadSelectorEntry(thread, SegmentSelector(context.SegFs), &entry))
        return NULL;
    const char *block = reinterpret_cast<const char *>(
        static_cast<ULONG_PTR>(entry.BaseLow) |
        (static_cast<ULONG_PTR>(entry.HighWord.Bytes.BaseMid) << 16) |
        (static_cast<ULONG_PTR>(entry.HighWord.Bytes.BaseHi) << 24));
    DWORD owner = 0;
    if (!ReadOwnMemory(block + TEB_THREAD_ID_OFFSET, &owner, sizeof(owner)) || owner != threadId)
        return NULL;
    return block;
}
#endif

// The name is whatever text the arbitrary-user-pointer slot of the thread's information
// block points to; other code may have put anything there.
void CDumpCollector::FindThreadName(HANDLE thread, DWORD threadId, const CONTEXT &context,
                                    char *name)
{
    name[0] = 0;
#if defined(_M_IX86) || defined(__i386__)
    const char *block = SelectorThreadBlock(thread, threadId, context);
    if (!block)
        block = QueryThreadBlock(thread);
#else
    (void)threadId;
    (void)context;
    const char *block = QueryThreadBlock(thread);
#endif
    const char *text = NULL;
    if (block &&
        ReadOwnMemory(block + offsetof(NT_TIB, ArbitraryUserPointer), &text, sizeof(text)) && text)
        CopyThreadName(name, text);
}

CModuleRecord *CDumpCollector::TakeFirstModule()
{
    CListLink *link = m_Modules.GetFirstLink();
    if (link)
        m_Modules.RemoveLink(link);
    return reinterpret_cast<CModuleRecord *>(link);
}

CThreadRecord *CDumpCollector::TakeFirstThread()
{
    CListLink *link = m_Threads.GetFirstLink();
    if (link)
        m_Threads.RemoveLink(link);
    return reinterpret_cast<CThreadRecord *>(link);
}

void CDumpCollector::Free(CModuleRecord *module)
{
    if (module)
        free(module->path);
    free(module);
}

void CDumpCollector::Free(CThreadRecord *thread)
{
    free(thread);
}

UINT32 DumpThreadProc(void *data, UINT32)
{
    CReportWriter writer;
    CDumpJob *job = static_cast<CDumpJob *>(data);
    MINIDUMP_EXCEPTION_INFORMATION *exception =
        job->exception && job->exception->ExceptionPointers ? job->exception : NULL;
    if (!job->writeDump)
        return 0;
    return job->writeDump(GetCurrentProcess(), GetCurrentProcessId(), job->file, MiniDumpNormal,
                          exception, NULL, job->callback)
               ? 1
               : 0;
}

BOOL CALLBACK DumpCallback(void *param, const PMINIDUMP_CALLBACK_INPUT input,
                           PMINIDUMP_CALLBACK_OUTPUT)
{
    CDumpCollector *collector = static_cast<CDumpCollector *>(param);
    if (!collector || !input)
        return TRUE;
    if (input->CallbackType == ModuleCallback)
        collector->AddModule(input->Module);
    else if (input->CallbackType == ThreadCallback)
        collector->AddThread(input->Thread);
    return TRUE;
}
