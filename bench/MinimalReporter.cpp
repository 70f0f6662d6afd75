// The least a crash report costs, for bench/crash-time.sh to set against the fault
// program: the same symbol engine start, minidump from a helper thread and report names,
// with a one-line text. "libraries" first loads what the fault program imports, since the
// symbol engine and the minidump writer visit every module.
#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "FaultTime.h"

typedef BOOL(WINAPI *SymInitializeProc)(HANDLE process, PCSTR searchPath, BOOL invade);
typedef DWORD(WINAPI *SymSetOptionsProc)(DWORD options);
typedef BOOL(WINAPI *MiniDumpWriteDumpProc)(HANDLE process, DWORD processId, HANDLE file,
                                            MINIDUMP_TYPE type,
                                            PMINIDUMP_EXCEPTION_INFORMATION exception,
                                            PMINIDUMP_USER_STREAM_INFORMATION userStreams,
                                            PMINIDUMP_CALLBACK_INFORMATION callback);

static int *volatile s_pNull = NULL;

template <typename Proc> static Proc Bind(HMODULE module, const char *name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

struct CDump { HANDLE file; MINIDUMP_EXCEPTION_INFORMATION exception; MiniDumpWriteDumpProc write; };

static DWORD WINAPI WriteDump(void *param)
{
    CDump *dump = static_cast<CDump *>(param);
    dump->write(GetCurrentProcess(), GetCurrentProcessId(), dump->file, MiniDumpNormal,
                    &dump->exception, NULL, NULL);
    return 0;
}

static HANDLE CreateReportFile(const char *base, const char *suffix)
{
    char name[MAX_PATH + 16];
    snprintf(name, sizeof(name), "%s%s", base, suffix);
    return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

static LONG WINAPI Report(EXCEPTION_POINTERS *pointers)
{
    char base[MAX_PATH] = "";
    GetModuleFileNameA(NULL, base, sizeof(base) - 1);
    char folder[MAX_PATH];
    memcpy(folder, base, sizeof(folder));
    *strrchr(folder, '\\') = 0;
    strcpy(strrchr(base, '.'), "_Debug");
    HMODULE dbghelp = LoadLibraryA("dbghelp.dll");
    SymSetOptionsProc setOptions = Bind<SymSetOptionsProc>(dbghelp, "SymSetOptions");
    SymInitializeProc initialize = Bind<SymInitializeProc>(dbghelp, "SymInitialize");
    CDump dump = {CreateReportFile(base, ".dmp"),
                  {GetCurrentThreadId(), pointers, FALSE},
                  Bind<MiniDumpWriteDumpProc>(dbghelp, "MiniDumpWriteDump")};
    if (!setOptions || !initialize || !dump.write)
        return EXCEPTION_CONTINUE_SEARCH;
    setOptions(SYMOPT_LOAD_LINES);
    initialize(GetCurrentProcess(), folder, TRUE);
    WaitForSingleObject(CreateThread(NULL, 0, WriteDump, &dump, 0, NULL), INFINITE);
    CloseHandle(dump.file);
    HANDLE text = CreateReportFile(base, ".txt");
    char line[64];
    DWORD written = 0;
    WriteFile(text, line,
              snprintf(line, sizeof(line), "Exception 0x%08lX\r\n",
                       pointers->ExceptionRecord->ExceptionCode),
              &written, NULL);
    CloseHandle(text);
    return EXCEPTION_CONTINUE_SEARCH;
}

int main(int argc, char **argv)
{
    SetUnhandledExceptionFilter(Report);
    if (argc > 1 && !strcmp(argv[1], "libraries"))
        for (const char *library : {"advapi32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll",
                                    "shell32.dll", "user32.dll", "version.dll", "winmm.dll"})
            LoadLibraryA(library);
    PrintFaultTime();
    *s_pNull = 1;
    return 0;
}
