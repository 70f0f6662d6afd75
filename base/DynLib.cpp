#include "base/DynLib.h"

#include "base/Str.h"

#define REG_VIEW_FLAGS (KEY_WOW64_64KEY | KEY_WOW64_32KEY)

CDynLib::CDynLib()
{
}

CDynLib::~CDynLib()
{
    Free();
}

int CDynLib::Load(const char *name)
{
    Free();
    UINT previousMode = SetErrorMode(DYN_LOAD_ERROR_MODE);
    m_hModule.Reset(LoadLibraryA(name));
    CLastErrorKeeper keep;
    SetErrorMode(previousMode);
    return m_hModule.IsHeld();
}

void *CDynLib::GetProc(const char *name) const
{
    if (!m_hModule.IsHeld())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return reinterpret_cast<void *>(GetProcAddress(m_hModule.Get(), name));
}

int CDynLib::Free()
{
    CLastErrorKeeper keep;
    m_hModule.Close();
    return 1;
}

// The registry functions return their code instead of setting the last-error value;
// callers of this library look for the reason there.
static int RegResult(LONG status)
{
    if (status == ERROR_SUCCESS)
        return 1;
    SetLastError(static_cast<DWORD>(status));
    return 0;
}

CRegKey::CRegKey()
{
}

CRegKey::~CRegKey()
{
}

int CRegKey::Open(HKEY root, const char *path, REGSAM viewFlags)
{
    Close();
    // Systems without a registry redirector reject the view flags.
    if ((viewFlags & REG_VIEW_FLAGS) && !IsWow64(NULL))
        viewFlags &= ~static_cast<REGSAM>(REG_VIEW_FLAGS);
    HKEY key = NULL;
    if (!RegResult(RegOpenKeyExA(root, path, 0, KEY_READ | viewFlags, &key)))
        return 0;
    m_hKey.Reset(key);
    return 1;
}

int CRegKey::ReadDword(const char *name, DWORD *value)
{
    DWORD size = sizeof(*value);
    return RegResult(
        RegQueryValueExA(m_hKey.Get(), name, NULL, NULL, reinterpret_cast<BYTE *>(value), &size));
}

// Queries into the text's own buffer, offering one byte less than it holds: that byte
// terminates data stored without a terminator, so none of it is lost. On failure size
// holds what the system reported.
static LONG QueryIntoText(HKEY key, const char *name, CStr &text, DWORD *size)
{
    char *buffer = text.GetBuffer();
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD offered = text.GetCapacity();
    *size = offered;
    LONG status = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE *>(buffer), size);
    if (status != ERROR_SUCCESS)
        return status;
    buffer[*size <= offered ? *size : offered] = 0;
    text.UpdateLength();
    return ERROR_SUCCESS;
}

int CRegKey::ReadString(const char *name, CStr &text)
{
    DWORD size = 0;
    LONG status = QueryIntoText(m_hKey.Get(), name, text, &size);
    if (status != ERROR_SUCCESS)
    {
        // Mostly a value longer than the buffer: size is what it needs.
        text.Reset(size + 1);
        status = QueryIntoText(m_hKey.Get(), name, text, &size);
    }
    return RegResult(status);
}

int CRegKey::ReadBinary(const char *name, void *buffer, DWORD *size)
{
    return RegResult(
        RegQueryValueExA(m_hKey.Get(), name, NULL, NULL, static_cast<BYTE *>(buffer), size));
}

int CRegKey::Close()
{
    return m_hKey.Close();
}

int CRegKey::ReadStringValue(HKEY root, const char *path, const char *name, CStr &text,
                             const char *defaultText, REGSAM viewFlags)
{
    CRegKey key;
    int read = key.Open(root, path, viewFlags) && key.ReadString(name, text);
    CLastErrorKeeper keep;
    key.Close();
    if (!read)
        text = defaultText ? defaultText : "";
    return read;
}

int IsWow64(HANDLE process)
{
    CDynLib kernel;
    if (!kernel.Load("kernel32.dll"))
        return 0;
    DYN_PROC(IsWow64Process) isWow64Process;
    BOOL wow64 = FALSE;
    if (!kernel.Bind("IsWow64Process", &isWow64Process) ||
        !isWow64Process(process ? process : GetCurrentProcess(), &wow64))
        return 0;
    return wow64 ? 1 : 0;
}
