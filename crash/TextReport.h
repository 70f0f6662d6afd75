// The text report of a crash: the exception, the registers, the processors, the system,
// the call stack, the modules and the threads.
#ifndef BRENNLOW_CRASH_TEXTREPORT_H
#define BRENNLOW_CRASH_TEXTREPORT_H

#include <windows.h>

class CDumpCollector;
class CStackWalk;

// Where the stack and the lists come from
enum TextReportSource
{
    TEXT_WITHOUT_LIBRARY,  // no debug-help library: no stack, no lists
    TEXT_FROM_LIBRARY,     // the library walks the stack; the lists are the minidump's
    TEXT_FROM_FRAMES,      // the library is busy on another thread: the stack by frame
                           // pointers, the modules from the loader, no threads
};

struct CTextReport
{
    EXCEPTION_POINTERS *pointers; // may be null
    DWORD threadId;               // the faulting thread
    TextReportSource source;
    CStackWalk *walk;             // used with TEXT_FROM_LIBRARY only
    CDumpCollector *collector;    // the minidump's lists; null when there are none
    int dumpIncomplete;           // the report says that the minidump is incomplete
};

void WriteTextReport(HANDLE file, const CTextReport &report);

#endif
