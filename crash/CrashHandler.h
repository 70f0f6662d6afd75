// CCrashHandler, the process's one crash-reporting object: its configuration (the report
// server, the report script's path, the product texts sent with an upload and the icon of
// the problem-report dialog) and the unhandled-exception filter that writes the report.
#ifndef BRENNLOW_CRASH_CRASHHANDLER_H
#define BRENNLOW_CRASH_CRASHHANDLER_H

#include "base/Str.h"
#include "crash/DumpWorker.h"
#include "crash/StackWalk.h"
#include "crash/ui/ReportDialog.h"

// Bits of the option value of SetOptions that the option word keeps
#define CHO_WORD_TWO 0x2
#define CHO_FLAG_4 0x4
#define CHO_NO_FILTER 0x8
#define CHO_FLAG_10 0x10
// The option value the construction arms the handler with
#define CHO_DEFAULT 0x1F0000

class CWerRegistration;

class CCrashHandler
{
public:
    CCrashHandler();
    ~CCrashHandler();
    CCrashHandler(const CCrashHandler &) = delete;
    CCrashHandler &operator=(const CCrashHandler &) = delete;

    // product and extra may be null: the product then comes from "InternalName" of the
    // program's version resource, the extra text becomes empty.
    void Configure(int iconId, const char *server, const char *path, const char *product,
                   const char *extra);

    // An empty server means that no report is offered for upload.
    const CStr &GetReportServer() const { return m_ReportServer; }
    const CStr &GetReportPath() const { return m_ReportPath; }
    const CStr &GetProductText() const { return m_ProductText; }
    const CStr &GetExtraText() const { return m_ExtraText; }
    int GetDialogIcon() const { return m_nDialogIcon; }
    // The configuration as the send flow takes it; valid while the handler is unchanged.
    CReportSettings GetReportSettings() const;

    char *GetErrorTextBuffer() { return m_ErrorText; }

    // Rebuilds the option word from options and arms the filter unless CHO_NO_FILTER is set.
    void SetOptions(UINT32 options);
    UINT32 GetOptions() const { return m_nOptions; }
    // Registers TopLevelFilter when install is exactly 1, else no filter at all.
    static void InstallFilter(UINT32 install);
    // The process's unhandled-exception filter: one report per process.
    static LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS *pointers);
    // Writes both report files and runs the send flow; returns the send flow's result
    // (1 when nothing was offered). pointers may be null.
    int WriteReport(EXCEPTION_POINTERS *pointers);

private:
    int WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId);
    static DWORD WINAPI ReportThreadProc(void *param);
    DumpOutcome WriteDump(const CStr &primary, const CStr &fallback, EXCEPTION_POINTERS *pointers,
                          DWORD threadId, CWerRegistration &registration, CHandle &dump,
                          CStr &name, CDumpCollector **collector);
    HANDLE CreateReportFile(const CStr &primary, const CStr &fallback, const char *format,
                            CStr &name);

    char m_ErrorText[ERROR_TEXT_BUFFER];
    UINT32 m_nOptions;
    CStr m_ReportServer;
    CStr m_ReportPath;
    CStr m_ProductText;
    CStr m_ExtraText;
    int m_nDialogIcon;
    CStackWalk m_StackWalk;
    // The shared error-text buffer before this object lent its own; given back on destruction.
    char *m_pOuterErrorText;
};

// The one instance, constructed during static initialisation ahead of the program's
// other static objects and destroyed at normal exit.
extern CCrashHandler g_CrashHandler;

#endif
