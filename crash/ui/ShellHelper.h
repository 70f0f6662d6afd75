// Hands documents, web addresses and programs to the shell, and registers report files
// with the system's error reporting.
#ifndef BRENNLOW_CRASH_UI_SHELLHELPER_H
#define BRENNLOW_CRASH_UI_SHELLHELPER_H

#include <windows.h>

#include "base/DynLib.h"

class CShellHelper
{
public:
    // Opens text (an address or a path) with the program registered for it.
    int ShellOpen(const wchar_t *text);
    // 1 when the shell took the request; a fault inside the shell counts as failure.
    int ShellRun(const char *file, const char *parameters, const char *folder, int show,
                 const char *verb);
};

// The error reporting's registration, declared for its binding only: the headers declare
// it for newer systems, and the program never imports it.
extern "C" HRESULT WINAPI WerRegisterFile(PCWSTR path, int fileType, DWORD flags);

// Registers files so that the system's own crash report carries them; a no-op failure
// where the system has no such service.
class CWerRegistration
{
public:
    CWerRegistration();
    CWerRegistration(const CWerRegistration &) = delete;
    CWerRegistration &operator=(const CWerRegistration &) = delete;

    int RegisterFile(const wchar_t *path);

private:
    CDynProc<DYN_PROC(WerRegisterFile)> m_RegisterFile;
};

#endif
