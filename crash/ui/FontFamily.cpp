#include "crash/ui/FontFamily.h"

#include "crash/ui/GdiOwner.h"

namespace
{

struct CFontEnumContext
{
    FontFamilyCallback callback;
    LPARAM user;
    int result;
};

int CALLBACK EnumFontRoutine(const LOGFONTA *font, const TEXTMETRICA *metrics, DWORD fontType,
                             LPARAM context)
{
    CFontEnumContext *enumeration = reinterpret_cast<CFontEnumContext *>(context);
    if (!enumeration->callback)
    {
        enumeration->result = 1;
        return 0;
    }
    enumeration->result = enumeration->callback(font, metrics, fontType, enumeration->user);
    return enumeration->result;
}

} // namespace

int EnumFontFamily(FontFamilyCallback callback, LPARAM user, const char *face, int charSet,
                   HDC dc)
{
    CDcHolder screen;
    if (!dc)
    {
        if (!screen.AcquireWindowDc(NULL))
            return 0;
        dc = screen.GetDc();
    }
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    font.lfCharSet = static_cast<BYTE>(charSet);
    lstrcpynA(font.lfFaceName, face ? face : "", sizeof(font.lfFaceName));
    CFontEnumContext context = {callback, user, 0};
    EnumFontFamiliesExA(dc, &font, reinterpret_cast<FONTENUMPROCA>(EnumFontRoutine),
                        reinterpret_cast<LPARAM>(&context), 0);
    return context.result;
}
