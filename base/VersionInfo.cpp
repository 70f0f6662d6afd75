#include "base/VersionInfo.h"

#include "base/Str.h"

#include <stdio.h>
#include <string.h>

static const char *const g_StringTables[] = {"040704B0", "040904B0"};

// A value's length as the resource states it may or may not count its terminator, and
// a damaged resource may have none: the copy stops at whichever comes first.
static UINT BoundedLength(const char *text, UINT length)
{
    const void *end = memchr(text, 0, length);
    return end ? static_cast<UINT>(static_cast<const char *>(end) - text) : length;
}

static int CopyTableValue(const void *block, const char *key, CStr &value)
{
    for (size_t i = 0; i < sizeof(g_StringTables) / sizeof(g_StringTables[0]); i++)
    {
        CStr subBlock;
        if (!Format(subBlock, "\\StringFileInfo\\%s\\%s", g_StringTables[i], key))
            return 0;
        void *text = NULL;
        UINT length = 0;
        if (VerQueryValueA(block, subBlock.GetText(), &text, &length) && text)
        {
            const char *chars = static_cast<const char *>(text);
            return value.Assign(chars, BoundedLength(chars, length));
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
}

static int ReadStringValue(const char *path, const char *key, CStr &value)
{
    if (!path || !key)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return 0;
    void *block = LocalAlloc(LPTR, size);
    if (!block)
        return 0;
    int found = GetFileVersionInfoA(path, 0, size, block) && CopyTableValue(block, key, value);
    DWORD reason = GetLastError();
    LocalFree(block);
    SetLastError(reason);
    return found;
}

CVersionInfo::CVersionInfo()
{
    m_Text[0] = 0;
}

int CVersionInfo::GetModulePath(HMODULE module, char *path)
{
    if (!module)
        module = GetModuleHandleA(NULL);
    DWORD length = GetModuleFileNameA(module, path, VERSION_PATH_BUFFER);
    // A path cut to fit names another file, and older systems leave it unterminated.
    if (length >= VERSION_PATH_BUFFER)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (length == 0 || length >= VERSION_PATH_BUFFER)
    {
        path[0] = 0;
        return 0;
    }
    return 1;
}

int CVersionInfo::ReadFileVersion(const char *path, UINT32 *major, UINT32 *minor, CStr *text)
{
    CStr value;
    if (!ReadStringValue(path, "FileVersion", value))
        return 0;
    unsigned int first = 0;
    unsigned int second = 0;
    int read = sscanf(value.GetText(), "%u.%u", &first, &second);
    if (read >= 1 && major)
        *major = first;
    if (read >= 2 && minor)
        *minor = second;
    if (text)
        *text = value;
    return 1;
}

int CVersionInfo::ReadModuleVersion(HMODULE module, UINT32 *major, UINT32 *minor, CStr *text)
{
    char path[VERSION_PATH_BUFFER];
    return GetModulePath(module, path) && ReadFileVersion(path, major, minor, text);
}

void CVersionInfo::GetVersionNumber(HMODULE module, UINT32 *number, CStr *text)
{
    UINT32 major = 1;
    UINT32 minor = 1;
    ReadModuleVersion(module, &major, &minor, text);
    if (number)
        *number = ((major & 0xFF) << 8) | (minor & 0xFF);
}

char *CVersionInfo::GetVersionText(const char *name, HMODULE module, char *buffer,
                                   UINT32 bufferSize)
{
    if (!buffer)
    {
        buffer = m_Text;
        bufferSize = sizeof(m_Text);
    }
    if (bufferSize == 0)
        return buffer;
    buffer[0] = 0;
    UINT32 major = 1;
    UINT32 minor = 1;
    ReadModuleVersion(module, &major, &minor, NULL);
    _snprintf(buffer, bufferSize - 1, "%s [%u.%02u]", name ? name : "", major, minor);
    buffer[bufferSize - 1] = 0;
    return buffer;
}

int CVersionInfo::GetVersionString(CStr &out, const char *key, const char *path)
{
    char ownPath[VERSION_PATH_BUFFER];
    if (!path)
    {
        if (!GetModulePath(NULL, ownPath))
            return 0;
        path = ownPath;
    }
    CStr value;
    if (!ReadStringValue(path, key, value))
        return 0;
    out = value;
    return 1;
}
