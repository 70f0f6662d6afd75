// CVersionInfo reads the string values of a module's version resource: the file
// version as numbers and as banner text, and any other value by key.
#ifndef BRENNLOW_BASE_VERSIONINFO_H
#define BRENNLOW_BASE_VERSIONINFO_H

#include <windows.h>

class CStr;

// Bytes of a module path buffer, and of the version text a caller's buffer holds
// unless told otherwise (the initial capacity of a CStr).
#define VERSION_PATH_BUFFER MAX_PATH
#define VERSION_TEXT_BUFFER 260

// Values are looked up in the German string table first, then in the US English one;
// tables of any other language or code page are not read. A null module handle means
// the program's own module.
class CVersionInfo
{
public:
    CVersionInfo();

    // path holds VERSION_PATH_BUFFER bytes; a path that does not fit counts as failure.
    int GetModulePath(HMODULE module, char *path);

    // Numbers that cannot be read from "FileVersion" keep the values they came with.
    int ReadFileVersion(const char *path, UINT32 *major, UINT32 *minor, CStr *text = NULL);

    // The major number in the second byte and the minor in the low byte; 1.1 when the
    // resource holds no "FileVersion".
    void GetVersionNumber(HMODULE module, UINT32 *number, CStr *text = NULL);

    // "<name> [<major>.<minor>]" into the caller's buffer of bufferSize bytes (cut to
    // fit), or into the object's own buffer when none is given.
    char *GetVersionText(const char *name, HMODULE module, char *buffer = NULL,
                         UINT32 bufferSize = VERSION_TEXT_BUFFER);

    // out keeps its content when the key is missing. Without a path the program's own
    // file is read.
    int GetVersionString(CStr &out, const char *key, const char *path = NULL);

private:
    int ReadModuleVersion(HMODULE module, UINT32 *major, UINT32 *minor, CStr *text);

    char m_Text[VERSION_TEXT_BUFFER];
};

#endif
