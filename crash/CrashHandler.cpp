#include "crash/CrashHandler.h"

#include "base/VersionInfo.h"

// Constructed before every static object of default priority, so that a fault in their
// constructors already finds the handler. The program entry refers to this object, which
// also makes the linker take this file out of the static library.
CCrashHandler g_CrashHandler __attribute__((init_priority(101)));

CCrashHandler::CCrashHandler() : m_nOptions(1), m_nDialogIcon(0), m_pOuterErrorText(NULL)
{
    m_ErrorText[0] = 0;
    m_pOuterErrorText = UseSharedErrorText(m_ErrorText);
}

CCrashHandler::~CCrashHandler()
{
    // Text helpers may still run later in the exit sequence; they must not write here.
    if (GetSharedErrorText() == m_ErrorText)
        UseSharedErrorText(m_pOuterErrorText);
}

void CCrashHandler::Configure(int iconId, const char *server, const char *path,
                              const char *product, const char *extra)
{
    m_nDialogIcon = iconId;
    m_ReportServer = server;
    m_ReportPath = path;
    if (product)
        m_ProductText = product;
    else
    {
        // A resource without the key leaves the product text as it was.
        CVersionInfo version;
        version.GetVersionString(m_ProductText, "InternalName", NULL);
    }
    m_ExtraText = extra ? extra : "";
}
