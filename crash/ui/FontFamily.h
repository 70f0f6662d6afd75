// The font-family test: whether a face is installed for a character set, or the fonts of a
// face handed to a callback.
#ifndef BRENNLOW_CRASH_UI_FONTFAMILY_H
#define BRENNLOW_CRASH_UI_FONTFAMILY_H

#include <windows.h>

// Non-zero continues the enumeration.
typedef int (CALLBACK *FontFamilyCallback)(const LOGFONTA *font, const TEXTMETRICA *metrics,
                                           DWORD fontType, LPARAM user);

// Without a callback: 1 when a font of the face exists for the character set, else 0.
// With one: the value it returned last, 0 when nothing was enumerated. Only the first
// 31 bytes of face count; a null dc means the screen.
int EnumFontFamily(FontFamilyCallback callback, LPARAM user, const char *face, int charSet,
                   HDC dc);

#endif
