// CCrashHandler, the process's one crash-reporting object, and its configuration: the
// report server, the report script's path, the product texts sent with an upload and
// the icon of the problem-report dialog.
#ifndef BRENNLOW_CRASH_CRASHHANDLER_H
#define BRENNLOW_CRASH_CRASHHANDLER_H

#include "base/Str.h"

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

    char *GetErrorTextBuffer() { return m_ErrorText; }

private:
    char m_ErrorText[ERROR_TEXT_BUFFER];
    UINT32 m_nOptions;
    CStr m_ReportServer;
    CStr m_ReportPath;
    CStr m_ProductText;
    CStr m_ExtraText;
    int m_nDialogIcon;
    // The shared error-text buffer before this object lent its own; given back on destruction.
    char *m_pOuterErrorText;
};

// The one instance, constructed during static initialisation ahead of the program's
// other static objects and destroyed at normal exit.
extern CCrashHandler g_CrashHandler;

#endif
