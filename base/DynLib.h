// CDynLib binds an optional system library at run time, CRegKey reads registry values,
// and IsWow64 tells whether a process runs under WOW64.
//
// Functions that older systems lack are never imported: each user binds the library
// by name and decides for itself what a missing function means.
#ifndef BRENNLOW_BASE_DYNLIB_H
#define BRENNLOW_BASE_DYNLIB_H

#include <windows.h>

class CStr;

// Error mode while a library loads: no message box for a missing file or an unready drive.
#define DYN_LOAD_ERROR_MODE (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)

// Owns one load of one library; two objects that load the same library hold two loads.
class CDynLib
{
public:
    CDynLib();
    ~CDynLib();
    CDynLib(const CDynLib &) = delete;
    CDynLib &operator=(const CDynLib &) = delete;

    int Load(const char *name);
    // Cast the result to the function's own pointer type with reinterpret_cast.
    void *GetProc(const char *name) const;
    // Looks name up into a pointer of the function's own type; 1 when it was found.
    template <typename Proc> int Bind(const char *name, Proc *proc) const
    {
        *proc = reinterpret_cast<Proc>(GetProc(name));
        return *proc != NULL;
    }
    int Free();

    HMODULE GetModule() const { return m_hModule; }

private:
    HMODULE m_hModule;
};

// A registry key opened for reading. Failures leave the system's code in the thread's
// last-error value.
class CRegKey
{
public:
    CRegKey();
    ~CRegKey();
    CRegKey(const CRegKey &) = delete;
    CRegKey &operator=(const CRegKey &) = delete;

    // viewFlags may hold KEY_WOW64_64KEY or KEY_WOW64_32KEY; they are dropped where the
    // process does not run under WOW64.
    int Open(HKEY root, const char *path, REGSAM viewFlags);
    int ReadDword(const char *name, DWORD *value);
    int ReadString(const char *name, CStr &text);
    int ReadBinary(const char *name, void *buffer, DWORD *size);
    int Close();

    HKEY GetKey() const { return m_hKey; }

    // Opens, reads one string value and closes; on any failure text becomes
    // defaultText (empty when that is null) and the result is 0.
    static int ReadStringValue(HKEY root, const char *path, const char *name, CStr &text,
                               const char *defaultText, REGSAM viewFlags);

private:
    HKEY m_hKey;
};

// 1 when the process (the current one when null) runs under WOW64.
int IsWow64(HANDLE process);

#endif
