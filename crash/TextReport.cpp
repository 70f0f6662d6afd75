#include "crash/TextReport.h"

#include <string.h>

#include "base/Str.h"
#include "crash/CrashReport.h"
#include "crash/FrameWalk.h"
#include "crash/LoadedModules.h"
#include "crash/StackWalk.h"
#include "crash/SysInfo.h"

static void WriteRegisters(CReportText &text, const CONTEXT &context)
{
#if defined(_M_IX86) || defined(__i386__)
    text.Line("\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n",
              static_cast<unsigned>(context.Eax), SegmentSelector(context.SegCs),
              static_cast<unsigned>(context.Eip), static_cast<unsigned>(context.EFlags));
    text.Line("EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n",
              static_cast<unsigned>(context.Ebx), SegmentSelector(context.SegSs),
              static_cast<unsigned>(context.Esp), static_cast<unsigned>(context.Ebp));
    text.Line("ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n",
              static_cast<unsigned>(context.Ecx), SegmentSelector(context.SegDs),
              static_cast<unsigned>(context.Esi), SegmentSelector(context.SegFs));
    text.Line("EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n",
              static_cast<unsigned>(context.Edx), SegmentSelector(context.SegEs),
              static_cast<unsigned>(context.Edi), SegmentSelector(context.SegGs));
#else
    text.Line("\r\nRAX=0x%016I64X, CS=0x%04X, RIP=0x%016I64X, Flags=0x%08X\r\n", context.Rax,
              SegmentSelector(context.SegCs), context.Rip,
              static_cast<unsigned>(context.EFlags));
    text.Line("RBX=0x%016I64X, SS=0x%04X, RSP=0x%016I64X, RBP=0x%016I64X\r\n", context.Rbx,
              SegmentSelector(context.SegSs), context.Rsp, context.Rbp);
    text.Line("RCX=0x%016I64X, DS=0x%04X, RSI=0x%016I64X, FS=0x%04X\r\n", context.Rcx,
              SegmentSelector(context.SegDs), context.Rsi,
              SegmentSelector(context.SegFs));
    text.Line("RDX=0x%016I64X, ES=0x%04X, RDI=0x%016I64X, GS=0x%04X\r\n", context.Rdx,
              SegmentSelector(context.SegEs), context.Rdi,
              SegmentSelector(context.SegGs));
    text.Line("R8=0x%016I64X, R9=0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n", context.R8,
              context.R9, context.R10, context.R11);
    text.Line("R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n", context.R12,
              context.R13, context.R14, context.R15);
#endif
}

static void WriteProcessors(CReportText &text)
{
    CSysInfo info;
    CStr name;
    CStr vendor;
    CStr identifier;
    UINT32 mhz = 0;
    // A value that cannot be read keeps the previous processor's.
    for (UINT32 index = 0; info.DescribeCpu(&name, &vendor, &identifier, &mhz, index); index++)
    {
        name.TrimLeft();
        text.Line("\r\n%s %s %s %u Mhz", name.GetText(), vendor.GetText(), identifier.GetText(),
                  static_cast<unsigned>(mhz));
    }
}

static void WriteSystem(CReportText &text, const OSVERSIONINFOA &version, int isNt)
{
    char name[OS_NAME_BUFFER] = "";
    const char *osName = GetOsName(GetOsEditionCode(), name, sizeof(name));
    DWORD build = isNt ? version.dwBuildNumber : LOWORD(version.dwBuildNumber);
    text.Line("\r\n%s [%u.%u] Build %u %s\r\n", osName ? osName : "",
              static_cast<unsigned>(version.dwMajorVersion),
              static_cast<unsigned>(version.dwMinorVersion), static_cast<unsigned>(build),
              version.szCSDVersion);
#if defined(_M_IX86) || defined(__i386__)
    text.Line("%s%s%s", IsWow64(NULL) ? "x86 WOW64" : "x86", " Ansi", "\r\n");
#else
    text.Line("%s%s%s", "x64", " Ansi", "\r\n");
#endif
}

static void WriteModuleHeader(CReportText &text)
{
    text.Line("\r\nModuleList:\r\n");
    text.Line("    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n");
}

static void WriteModules(CReportText &text, CDumpCollector &collector)
{
    CModuleRecord *module = collector.TakeFirstModule();
    if (!module)
        return;
    WriteModuleHeader(text);
    for (; module; module = collector.TakeFirstModule())
    {
        text.Write(FormatModuleLine(text.Buffer(), REPORT_LINE_BUFFER, *module));
        CDumpCollector::Free(module);
    }
}

static int WriteLoadedModule(const CLoadedModule &loaded, void *context)
{
    CReportText &text = *static_cast<CReportText *>(context);
    CModuleRecord module;
    memset(&module, 0, sizeof(module));
    module.path = const_cast<wchar_t *>(loaded.path);
    module.base = loaded.base;
    module.size = loaded.size;
    module.checksum = loaded.checksum;
    module.timeStamp = loaded.timeStamp;
    module.version = loaded.version;
    text.Write(FormatModuleLine(text.Buffer(), REPORT_LINE_BUFFER, module));
    return 1;
}

static void WriteThreads(CReportText &text, CDumpCollector &collector, CStackWalk &walk,
                         int isNt)
{
    CThreadRecord *thread = collector.TakeFirstThread();
    if (!thread)
        return;
    text.Line("\r\nThreadList:\r\n");
    text.Line("Id         StackBase  StackEnd   StartAddress\r\n");
    for (; thread; thread = collector.TakeFirstThread())
    {
        char symbol[WALK_SYMBOL_TEXT] = "";
        walk.Symbolize(thread->startAddress, symbol, sizeof(symbol), NULL);
        text.Write(FormatThreadLine(text.Buffer(), REPORT_LINE_BUFFER, *thread, symbol, isNt));
        CDumpCollector::Free(thread);
    }
}

void WriteTextReport(HANDLE file, const CTextReport &report)
{
    CReportText text(file);
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    int isNt = (version.dwPlatformId & VER_PLATFORM_WIN32_NT) ? 1 : 0;
    const EXCEPTION_POINTERS *pointers = report.pointers;
    int hasException = pointers && pointers->ExceptionRecord && pointers->ContextRecord;
    if (hasException)
    {
        text.Write(FormatExceptionLine(text.Buffer(), REPORT_LINE_BUFFER,
                                       *pointers->ExceptionRecord, report.threadId, isNt));
        text.Write(
            FormatLocationLine(text.Buffer(), REPORT_LINE_BUFFER, *pointers->ExceptionRecord));
        WriteRegisters(text, *pointers->ContextRecord);
    }
    WriteProcessors(text);
    WriteSystem(text, version, isNt);
    if (report.dumpIncomplete)
        text.Line("\r\nThe minidump is incomplete.\r\n");
    int fromLibrary = report.source == TEXT_FROM_LIBRARY && report.walk && report.walk->IsBound();
    if (hasException && (fromLibrary || report.source == TEXT_FROM_FRAMES))
    {
        text.Line("\r\nStack:\r\n");
        // The walk unwinds the context it is given; the exception's own stays as it was.
        CONTEXT context = *pointers->ContextRecord;
        if (fromLibrary)
            report.walk->WalkToFile(&context, file);
        else
            WalkFramePointers(context, file);
    }
    if (report.source == TEXT_FROM_FRAMES)
    {
        WriteModuleHeader(text);
        ForEachLoadedModule(WriteLoadedModule, &text, 1);
    }
    else if (report.collector)
    {
        WriteModules(text, *report.collector);
        if (fromLibrary)
            WriteThreads(text, *report.collector, *report.walk, isNt);
    }
}
