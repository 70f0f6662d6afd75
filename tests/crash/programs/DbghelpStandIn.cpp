// A debug-help library whose walk never ends: each step moves the program counter by the
// digit in BRENNLOW_WALK_STEP (0, the default, repeats one frame). Everything else fails.
// Built with STAND_IN_LACKS_SYMFROMADDR, it lacks one function that the walk requires.
#include <windows.h>
// The declarations import what this library defines.
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT __declspec(dllexport)
#include <dbghelp.h>

extern "C" {

BOOL WINAPI StackWalk64(DWORD, HANDLE, HANDLE, LPSTACKFRAME64 frame, PVOID,
                        PREAD_PROCESS_MEMORY_ROUTINE64, PFUNCTION_TABLE_ACCESS_ROUTINE64,
                        PGET_MODULE_BASE_ROUTINE64, PTRANSLATE_ADDRESS_ROUTINE64)
{
    char step[2] = "0";
    GetEnvironmentVariableA("BRENNLOW_WALK_STEP", step, sizeof(step));
    frame->AddrPC.Offset += step[0] - '0';
    frame->AddrReturn.Offset = frame->AddrPC.Offset;
    return TRUE;
}

BOOL WINAPI SymInitialize(HANDLE, PCSTR, BOOL) { return TRUE; }
DWORD WINAPI SymSetOptions(DWORD options) { return options; }
__declspec(dllexport) BOOL WINAPI MiniDumpWriteDump(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                              PMINIDUMP_EXCEPTION_INFORMATION, PMINIDUMP_USER_STREAM_INFORMATION,
                              PMINIDUMP_CALLBACK_INFORMATION) { return FALSE; }
BOOL WINAPI SymGetSymFromAddr64(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64) { return FALSE; }
#ifndef STAND_IN_LACKS_SYMFROMADDR
BOOL WINAPI SymFromAddr(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO) { return FALSE; }
#endif
BOOL WINAPI SymGetModuleInfo64(HANDLE, DWORD64, PIMAGEHLP_MODULE64) { return FALSE; }
BOOL WINAPI SymGetLineFromAddr64(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64) { return FALSE; }
PVOID WINAPI SymFunctionTableAccess64(HANDLE, DWORD64) { return NULL; }
DWORD64 WINAPI SymGetModuleBase64(HANDLE, DWORD64) { return 0; }
}
