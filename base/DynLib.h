// CDynLib binds an optional system library at run time, CRegKey reads registry values,
// and IsWow64 tells whether a process runs under WOW64.
//
// Functions that older systems lack are never imported: each user binds the library
// by name and decides for itself what a missing function means.
#ifndef BRENNLOW_BASE_DYNLIB_H
#define BRENNLOW_BASE_DYNLIB_H

#include "base/Handle.h"

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
    // The address of an export, untyped; Bind gives it its type.
    void *GetProc(const char *name) const;
    // Looks name up into a pointer of the function's own type, which the pointer's
    // declaration gives (see DYN_PROC); 1 when it was found. The one place where an
    // export's address becomes a typed function pointer.
    template <typename Proc> int Bind(const char *name, Proc *proc) const
    {
        *proc = reinterpret_cast<Proc>(GetProc(name));
        return *proc != NULL;
    }
    int Free();

    HMODULE GetModule() const { return m_hModule.Get(); }

private:
    CModule m_hModule;
};

// The pointer type of a declared system function: DYN_PROC(IsWow64Process) pointer;
// library.Bind("IsWow64Process", &pointer). Functions that the headers declare only for
// newer systems are declared in the file that binds them, never called directly, so that
// the program imports none of them.
#define DYN_PROC(function) decltype(&::function)

// One function of one library, looked up on its first use and kept with the library's
// load until the object ends: Get() gives the function, or null (with the reason in the
// last-error value) when the library or the function is missing.
template <typename Proc> class CDynProc
{
public:
    CDynProc(const char *library, const char *name)
        : m_pLibrary(library), m_pName(name), m_pProc(NULL), m_nLookedUp(0)
    {
    }
    CDynProc(const CDynProc &) = delete;
    CDynProc &operator=(const CDynProc &) = delete;

    Proc Get()
    {
        if (!m_nLookedUp)
        {
            m_nLookedUp = 1;
            if (m_Library.Load(m_pLibrary) && !m_Library.Bind(m_pName, &m_pProc))
                m_Library.Free();
        }
        if (!m_pProc)
            SetLastError(ERROR_PROC_NOT_FOUND);
        return m_pProc;
    }

private:
    CDynLib m_Library;
    const char *m_pLibrary;
    const char *m_pName;
    Proc m_pProc;
    int m_nLookedUp;
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

    HKEY GetKey() const { return m_hKey.Get(); }

    // Opens, reads one string value and closes; on any failure text becomes
    // defaultText (empty when that is null) and the result is 0.
    static int ReadStringValue(HKEY root, const char *path, const char *name, CStr &text,
                               const char *defaultText, REGSAM viewFlags);

private:
    COwnedKey m_hKey;
};

// 1 when the process (the current one when null) runs under WOW64.
int IsWow64(HANDLE process);

#endif
