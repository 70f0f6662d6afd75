#include "crash/ui/ShellHelper.h"

#include "base/Str.h"
#include "crash/FaultGuard.h"

#include <shellapi.h>
#include <string.h>

#define WER_FILE_TYPE_OTHER 2
#define WER_FILE_ANONYMOUS 2

int CShellHelper::ShellOpen(const wchar_t *text)
{
    CStr file;
    if (!file.AssignWide(text))
        return 0;
    return ShellRun(file.GetText(), NULL, NULL, SW_SHOWDEFAULT, "open");
}

static INT_PTR ExecuteShellRequest(void *request)
{
    return ShellExecuteExA(static_cast<SHELLEXECUTEINFOA *>(request));
}

int CShellHelper::ShellRun(const char *file, const char *parameters, const char *folder, int show,
                           const char *verb)
{
    SHELLEXECUTEINFOA request;
    memset(&request, 0, sizeof(request));
    request.cbSize = sizeof(request);
    // No flags: a user who opens a report file that no program is registered for gets
    // the system's own prompt to choose one, which the caller has no way to offer.
    request.fMask = 0;
    request.lpVerb = verb;
    request.lpFile = file;
    request.lpParameters = parameters;
    request.lpDirectory = folder;
    request.nShow = show;
    INT_PTR executed = 0;
    if (!CallGuarded(ExecuteShellRequest, &request, &executed, NULL))
        return 0;
    return executed ? 1 : 0;
}

CWerRegistration::CWerRegistration() : m_RegisterFile("kernel32.dll", "WerRegisterFile")
{
}

int CWerRegistration::RegisterFile(const wchar_t *path)
{
    DYN_PROC(WerRegisterFile) registerFile = m_RegisterFile.Get();
    if (!registerFile)
        return 0;
    HRESULT status = registerFile(path, WER_FILE_TYPE_OTHER, WER_FILE_ANONYMOUS);
    if (FAILED(status))
    {
        SetLastError(static_cast<DWORD>(status));
        return 0;
    }
    return 1;
}
