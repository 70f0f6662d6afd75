// The pieces of a crash report: the records the minidump writer's callback collects,
// the names of exceptions and report files, the minidump's worker routine, and the
// formatters of the report lines that vary with the data.
#ifndef BRENNLOW_CRASH_CRASHREPORT_H
#define BRENNLOW_CRASH_CRASHREPORT_H

#include <windows.h>
#include <dbghelp.h>
#include <stddef.h>

#include "base/Lock.h"
#include "crash/StackWalk.h"

class CStr;

// Every report line is formatted into one buffer of this size.
#define REPORT_LINE_BUFFER 520
// A thread name keeps at most 99 characters and its terminator.
#define THREAD_NAME_BUFFER 100

// Addresses keep their full width: 32 bits in the x86 build, 64 in the x64 build.
#if defined(_M_IX86) || defined(__i386__)
#define REPORT_ADDRESS "0x%08X"
typedef unsigned int ReportAddress;
#else
#define REPORT_ADDRESS "0x%016I64X"
typedef unsigned long long ReportAddress;
#endif

// A module as the minidump writer reported it. Records are plain heap blocks whose
// link comes first, so that a list link and its record share one address.
struct CModuleRecord
{
    CListLink link;
    wchar_t *path; // heap copy of the full path; null when it could not be allocated
    UINT64 base;
    UINT32 size;
    UINT32 checksum;
    UINT32 timeStamp; // seconds since 1 January 1970 UTC
    VS_FIXEDFILEINFO version;
};

struct CThreadRecord
{
    CListLink link;
    UINT32 id;
    UINT64 stackBase;
    UINT64 stackEnd;
    char name[THREAD_NAME_BUFFER]; // "" when the thread has none
    ULONG_PTR startAddress;        // 0 when unknown
};

// What the minidump writer's callback gathers for the text report: the threads and
// modules in the order the writer reports them. The lists own their records.
class CDumpCollector
{
public:
    explicit CDumpCollector(NtQueryInformationThreadProc queryThread);
    ~CDumpCollector();
    CDumpCollector(const CDumpCollector &) = delete;
    CDumpCollector &operator=(const CDumpCollector &) = delete;

    // Where the system's thread query is missing, no start addresses are asked for.
    void SetThreadQuery(NtQueryInformationThreadProc queryThread) { m_pQueryThread = queryThread; }
    void AddModule(const MINIDUMP_MODULE_CALLBACK &module);
    void AddThread(const MINIDUMP_THREAD_CALLBACK &thread);

    // Each hands its first record over to the caller, who frees it with the Free below.
    CModuleRecord *TakeFirstModule();
    CThreadRecord *TakeFirstThread();
    static void Free(CModuleRecord *module);
    static void Free(CThreadRecord *thread);

private:
    const char *QueryThreadBlock(HANDLE thread);
    void FindThreadName(HANDLE thread, DWORD threadId, const CONTEXT &context, char *name);

    CLockedList m_Threads;
    CLockedList m_Modules;
    NtQueryInformationThreadProc m_pQueryThread;
};

// The record DumpThreadProc works from.
struct CDumpJob
{
    HANDLE file;
    MINIDUMP_EXCEPTION_INFORMATION *exception; // its pointers member may be null
    MINIDUMP_CALLBACK_INFORMATION *callback;
    MiniDumpWriteDumpProc writeDump;
};

// Worker routine of the minidump (CWorkerThread): data is a CDumpJob. 1 when the
// minidump was written.
UINT32 DumpThreadProc(void *data, UINT32 value);
// The minidump writer's callback; param is the CDumpCollector. Always TRUE.
BOOL CALLBACK DumpCallback(void *param, const PMINIDUMP_CALLBACK_INPUT input,
                           PMINIDUMP_CALLBACK_OUTPUT output);

const char *GetExceptionName(DWORD code);

// The primary base is the program's path without its extension, the fallback base the
// same file name in the temporary folder; "_Debug.dmp" and "_Debug.txt" follow them.
void GetReportBases(CStr &primary, CStr &fallback);

// The open text report and the one work buffer that every line is formatted into.
class CReportText
{
public:
    explicit CReportText(HANDLE file);
    CReportText(const CReportText &) = delete;
    CReportText &operator=(const CReportText &) = delete;

    char *Buffer() { return m_Buffer; }
    // Writes the first length bytes of the buffer.
    void Write(int length);
    void Line(const char *format, ...) __attribute__((format(ms_printf, 2, 3)));

private:
    HANDLE m_hFile;
    char m_Buffer[REPORT_LINE_BUFFER];
};

// Each writes one bounded report line (cut to fit size bytes, ends in "\r\n"); returns its length.
int FormatExceptionLine(char *buffer, size_t size, const EXCEPTION_RECORD &record, DWORD threadId,
                        int isNt);
// 0 and an empty buffer when the record is no access violation with a location.
int FormatLocationLine(char *buffer, size_t size, const EXCEPTION_RECORD &record);
int FormatModuleLine(char *buffer, size_t size, const CModuleRecord &module);
int FormatThreadLine(char *buffer, size_t size, const CThreadRecord &thread, const char *symbol,
                     int isNt);

// Copies at most 99 characters of a name that may point anywhere, never faulting; "" when
// unreadable.
void CopyThreadName(char name[THREAD_NAME_BUFFER], const char *source);

// Reads size bytes at address of this process without ever faulting; 1 when all were read.
int ReadOwnMemory(const void *address, void *target, size_t size);

// A context's segment fields hold the 16-bit selector in their low half; on x86 the upper
// half may carry whatever the system left there.
inline unsigned SegmentSelector(DWORD segment)
{
    return segment & 0xFFFFu;
}

#endif
