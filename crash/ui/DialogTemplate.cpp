#include "crash/ui/DialogTemplate.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "base/Str.h"
#include "crash/ui/FontFamily.h"
#include "crash/ui/GdiOwner.h"

namespace
{

// The template's records as the dialog manager reads them: 2-byte packing, each
// control on a 4-byte boundary, classes given as predefined atoms.
#pragma pack(push, 2)
struct CTemplateHeader
{
    DWORD style;
    DWORD exStyle;
    WORD count;
    short x, y, cx, cy;
    WORD menu;
    WORD windowClass;
    WCHAR caption[7];
    WORD pointSize;
    WCHAR face[14];
};

template <size_t N> struct CTemplateItem
{
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD id;
    WORD classMarker;
    WORD classAtom;
    WCHAR text[N];
    WORD creationData;
};

struct CReportTemplate
{
    CTemplateHeader header;
    WORD align0;
    CTemplateItem<1> band;
    WORD align1;
    CTemplateItem<20> send;
    CTemplateItem<11> dontSend;
    WORD align3;
    CTemplateItem<1> description;
    WORD align4;
    CTemplateItem<1> email;
    WORD align5;
    CTemplateItem<7> filesNotice;
    WORD align6;
    CTemplateItem<7> contactNotice;
    WORD align7;
    CTemplateItem<1> icon;
    WORD align8;
    CTemplateItem<7> title;
    WORD align9;
    CTemplateItem<7> descriptionCaption;
    WORD align10;
    CTemplateItem<7> emailCaption;
    WORD align11;
    CTemplateItem<1> separator;
    // Not part of the template: the font adjustment is given the length rounded up to
    // four bytes and reads that far.
    WORD tail;
};
#pragma pack(pop)

static_assert(offsetof(CReportTemplate, tail) == REPORT_TEMPLATE_SIZE, "template length");
static_assert(sizeof(CReportTemplate) == REPORT_TEMPLATE_PADDED_SIZE, "padded length");

const WORD CLASS_ATOM = 0xFFFF;
const WORD BUTTON_ATOM = 0x0080;
const WORD EDIT_ATOM = 0x0081;
const WORD STATIC_ATOM = 0x0082;
const WORD NO_ID = 0xFFFF;

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD PLAIN_TEXT = CHILD | WS_GROUP | SS_LEFT;
const DWORD FIELD = CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

alignas(DWORD) const CReportTemplate s_ReportTemplate = {
    {WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_MODALFRAME | DS_CENTER, 0, 12,
     0, 0, 428, 201, 0, 0, L"Dialog", 8, L"MS Sans Serif"},
    0,
    {CHILD | SS_WHITERECT, 0, 0, 0, 429, 167, NO_ID, CLASS_ATOM, STATIC_ATOM, L"", 0},
    0,
    {CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 241, 177, 100, 14, IDC_REPORT_SEND,
     CLASS_ATOM, BUTTON_ATOM, L"Send Problem Report", 0},
    {CHILD | BS_PUSHBUTTON | WS_TABSTOP, 0, 351, 177, 60, 14, IDC_REPORT_DONT_SEND,
     CLASS_ATOM, BUTTON_ATOM, L"Don't Send", 0},
    0,
    {FIELD, 0, 40, 86, 370, 14, IDC_REPORT_DESCRIPTION, CLASS_ATOM, EDIT_ATOM, L"", 0},
    0,
    {FIELD, 0, 40, 119, 370, 14, IDC_REPORT_EMAIL, CLASS_ATOM, EDIT_ATOM, L"", 0},
    0,
    {PLAIN_TEXT, 0, 40, 144, 370, 18, IDC_REPORT_FILES, CLASS_ATOM, STATIC_ATOM, L"Static", 0},
    0,
    {PLAIN_TEXT, 0, 40, 35, 370, 26, IDC_REPORT_CONTACT, CLASS_ATOM, STATIC_ATOM, L"Static", 0},
    0,
    {CHILD | SS_ICON, 0, 10, 10, 20, 20, IDC_REPORT_ICON, CLASS_ATOM, STATIC_ATOM, L"", 0},
    0,
    {CHILD | WS_GROUP | SS_CENTERIMAGE, 0, 40, 12, 370, 14, IDC_REPORT_TITLE, CLASS_ATOM,
     STATIC_ATOM, L"Static", 0},
    0,
    {PLAIN_TEXT, 0, 40, 74, 370, 8, IDC_REPORT_DESCRIPTION_CAPTION, CLASS_ATOM, STATIC_ATOM,
     L"Static", 0},
    0,
    {PLAIN_TEXT, 0, 40, 107, 370, 8, IDC_REPORT_EMAIL_CAPTION, CLASS_ATOM, STATIC_ATOM,
     L"Static", 0},
    0,
    {CHILD | SS_ETCHEDHORZ, 0, 0, 166, 429, 1, IDC_REPORT_SEPARATOR, CLASS_ATOM, STATIC_ATOM,
     L"", 0},
    0,
};

} // namespace

const DLGTEMPLATE *GetReportTemplate()
{
    return reinterpret_cast<const DLGTEMPLATE *>(&s_ReportTemplate);
}

// ---- Font adjustment ----

namespace
{

// Where a template keeps its font: the point-size word, the typeface and the first
// control, as byte offsets.
struct CFontRecord
{
    UINT32 pointSize;
    UINT32 face;
    UINT32 faceUnits; // without the terminating NUL
    UINT32 controls;
};

// Size of the non-client metrics as systems before Vista know them (without the
// padded border width); later systems accept it too.
const UINT NONCLIENT_METRICS_OLD_SIZE = 340;
static_assert(sizeof(NONCLIENTMETRICSA) >= NONCLIENT_METRICS_OLD_SIZE, "metrics size");

const WORD SHELL_FONT_POINTS = 8;

UINT32 AlignToDword(UINT32 offset)
{
    return (offset + 3) & ~3u;
}

WORD ReadWord(const BYTE *bytes, UINT32 offset)
{
    WORD value;
    memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// Length in UTF-16 units of the string at offset, or -1 when it runs past size.
int MeasureWideString(const BYTE *bytes, UINT32 offset, UINT32 size)
{
    for (UINT32 at = offset; at + 2 <= size; at += 2)
        if (ReadWord(bytes, at) == 0)
            return static_cast<int>((at - offset) / 2);
    return -1;
}

// Steps over a menu, class or caption field: an ordinal or a NUL-terminated string.
// 0 when the field does not end within size.
UINT32 SkipVariableField(const BYTE *bytes, UINT32 offset, UINT32 size)
{
    if (offset + 2 > size)
        return 0;
    if (ReadWord(bytes, offset) == 0xFFFF)
        return offset + 4 <= size ? offset + 4 : 0;
    int units = MeasureWideString(bytes, offset, size);
    return units < 0 ? 0 : offset + 2 * (units + 1);
}

int FindFontRecord(const BYTE *bytes, UINT32 size, CFontRecord *record)
{
    const UINT32 standardHeader = 18, extendedHeader = 26;
    if (size < standardHeader)
        return 0;
    int extended = ReadWord(bytes, 2) == 0xFFFF;
    if (extended && size < extendedHeader)
        return 0;
    DWORD style;
    memcpy(&style, bytes + (extended ? 12 : 0), sizeof(style));
    if (!(style & DS_SETFONT))
        return 0;
    UINT32 offset = extended ? extendedHeader : standardHeader;
    for (int field = 0; field < 3 && offset; field++)
        offset = SkipVariableField(bytes, offset, size);
    if (!offset)
        return 0;
    record->pointSize = offset;
    // Point size, then in the extended form weight, italic flag and character set.
    offset += extended ? 6 : 2;
    int units = offset <= size ? MeasureWideString(bytes, offset, size) : -1;
    if (units < 0)
        return 0;
    record->face = offset;
    record->faceUnits = static_cast<UINT32>(units);
    record->controls = AlignToDword(offset + 2 * (units + 1));
    return 1;
}

int WideFaceIs(const BYTE *bytes, const CFontRecord &record, const wchar_t *name)
{
    if (record.faceUnits != wcslen(name))
        return 0;
    return memcmp(bytes + record.face, name, record.faceUnits * sizeof(wchar_t)) == 0;
}

int IsOldDialogFace(const BYTE *bytes, const CFontRecord &record)
{
    return WideFaceIs(bytes, record, L"MS Sans Serif") ||
           WideFaceIs(bytes, record, L"MS Shell Dlg") || WideFaceIs(bytes, record, L"System");
}

int IsFaceInstalled(const char *face)
{
    return EnumFontFamily(NULL, 0, face, DEFAULT_CHARSET, NULL);
}

int PointsFromHeight(LONG height)
{
    CDcHolder screen;
    int pixelsPerInch = screen.AcquireWindowDc(NULL) ? GetDeviceCaps(screen.GetDc(), LOGPIXELSY)
                                                     : 0;
    if (pixelsPerInch <= 0)
        pixelsPerInch = 96;
    return MulDiv(-height, 72, pixelsPerInch);
}

// The face and size that replace an old dialog font, from the system's message font.
// 0 when the message font is not one the dialogs of this program are made for.
int ChooseMessageFont(int shellFont, CStr &face, int *points)
{
    NONCLIENTMETRICSA metrics;
    memset(&metrics, 0, sizeof(metrics));
    metrics.cbSize = NONCLIENT_METRICS_OLD_SIZE;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, NONCLIENT_METRICS_OLD_SIZE, &metrics, 0))
        return 0;
    const char *message = metrics.lfMessageFont.lfFaceName;
    if (strcmp(message, "MS Sans Serif") && strcmp(message, "Tahoma") &&
        strcmp(message, "Segoe UI"))
        return 0;
    *points = SHELL_FONT_POINTS;
    if (shellFont == 1 && !strcmp(message, "Segoe UI") && IsFaceInstalled("MS Shell Dlg 2"))
        face = "MS Shell Dlg 2";
    else if (IsFaceInstalled(message))
    {
        face = message;
        *points = PointsFromHeight(metrics.lfMessageFont.lfHeight);
    }
    else
        face = IsFaceInstalled("MS Shell Dlg 2") ? "MS Shell Dlg 2" : "MS Shell Dlg";
    return 1;
}

BYTE *CopyWithFace(const BYTE *bytes, UINT32 size, const CFontRecord &record, CStr &face,
                   int points)
{
    const wchar_t *wide = face.ToWide(NULL);
    if (!wide)
        return NULL;
    UINT32 units = static_cast<UINT32>(wcslen(wide));
    UINT32 copySize = size + 2 * units - 2 * record.faceUnits + 4;
    BYTE *copy = static_cast<BYTE *>(calloc(copySize, 1));
    if (!copy)
        return NULL;
    memcpy(copy, bytes, record.face);
    memcpy(copy + record.face, wide, (units + 1) * sizeof(wchar_t));
    UINT32 controls = AlignToDword(record.face + 2 * (units + 1));
    if (record.controls < size)
        memcpy(copy + controls, bytes + record.controls, size - record.controls);
    WORD pointSize = static_cast<WORD>(points);
    memcpy(copy + record.pointSize, &pointSize, sizeof(pointSize));
    return copy;
}

} // namespace

const DLGTEMPLATE *AdjustTemplateFont(const DLGTEMPLATE *dialogTemplate, UINT32 size,
                                      int shellFont)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(dialogTemplate);
    CFontRecord record;
    if (!bytes || !FindFontRecord(bytes, size, &record) || !IsOldDialogFace(bytes, record))
        return dialogTemplate;
    CStr face;
    int points = 0;
    if (!ChooseMessageFont(shellFont, face, &points))
        return dialogTemplate;
    BYTE *copy = CopyWithFace(bytes, size, record, face, points);
    return copy ? reinterpret_cast<const DLGTEMPLATE *>(copy) : dialogTemplate;
}

void FreeAdjustedTemplate(const DLGTEMPLATE *adjusted, const DLGTEMPLATE *original)
{
    if (adjusted != original)
        free(const_cast<DLGTEMPLATE *>(adjusted));
}
