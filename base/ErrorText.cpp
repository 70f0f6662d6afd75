// The system's message text for a Win32 error code.
#include "base/Str.h"

// Serves until a buffer is lent with UseSharedErrorText, and again after it is returned.
static char g_FallbackErrorText[ERROR_TEXT_BUFFER];
// Constant-initialised, so it is valid before any constructor of static initialisation runs.
static char *g_pSharedErrorText = g_FallbackErrorText;

char *GetSharedErrorText()
{
    return g_pSharedErrorText;
}

char *UseSharedErrorText(char *buffer)
{
    char *previous = g_pSharedErrorText;
    g_pSharedErrorText = buffer ? buffer : g_FallbackErrorText;
    return previous;
}

static DWORD MessageFrom(DWORD source, HMODULE module, DWORD code, char *buffer)
{
    return FormatMessageA(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, 0x0400, buffer,
                          ERROR_TEXT_MAX, NULL);
}

char *ErrorText(DWORD code, char *buffer)
{
    if (!buffer)
        buffer = GetSharedErrorText();
    DWORD length = MessageFrom(FORMAT_MESSAGE_FROM_SYSTEM, NULL, code, buffer);
    if (length == 0)
    {
        // Only when the upload has loaded it; never loaded just for its messages.
        HMODULE wininet = GetModuleHandleA("wininet.dll");
        if (wininet)
            length = MessageFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, code, buffer);
    }
    if (length == 0)
        return NULL;
    LineBreaksToBlanks(buffer);
    TrimTrailingBlanks(buffer);
    return buffer;
}
