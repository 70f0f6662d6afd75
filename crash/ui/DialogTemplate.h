// The problem-report dialog's in-memory template, the font adjustment that gives old
// templates the system's message font, the font-family test, and small owners of GDI
// resources shared by the dialog and its custom-drawn controls.
#ifndef BRENNLOW_CRASH_UI_DIALOGTEMPLATE_H
#define BRENNLOW_CRASH_UI_DIALOGTEMPLATE_H

#include <windows.h>

// Bytes of the problem-report template, and the length the font adjustment is given
// (padded to a multiple of four).
#define REPORT_TEMPLATE_SIZE 518
#define REPORT_TEMPLATE_PADDED_SIZE 520

// Control identifiers of the problem-report template.
#define IDC_REPORT_SEND 1000
#define IDC_REPORT_DONT_SEND 1001
#define IDC_REPORT_ICON 1003
#define IDC_REPORT_DESCRIPTION 1004
#define IDC_REPORT_EMAIL 1005
#define IDC_REPORT_FILES 1008
#define IDC_REPORT_CONTACT 1010
#define IDC_REPORT_TITLE 1006
#define IDC_REPORT_DESCRIPTION_CAPTION 1011
#define IDC_REPORT_EMAIL_CAPTION 1012
#define IDC_REPORT_SEPARATOR 1013

// The standard (not extended) template of the problem-report dialog, 8-point
// "MS Sans Serif", twelve controls; DWORD-aligned as the dialog manager needs it.
const DLGTEMPLATE *GetReportTemplate();

// A copy of the template with its old dialog font replaced by the system's message
// font, or dialogTemplate itself when nothing is replaced. Reads the standard and the
// extended form. With shellFont 1, a "Segoe UI" system gets "MS Shell Dlg 2" at 8 points.
const DLGTEMPLATE *AdjustTemplateFont(const DLGTEMPLATE *dialogTemplate, UINT32 size,
                                      int shellFont);
// Frees what AdjustTemplateFont returned, when it is a copy of original.
void FreeAdjustedTemplate(const DLGTEMPLATE *adjusted, const DLGTEMPLATE *original);

// Non-zero continues the enumeration.
typedef int (CALLBACK *FontFamilyCallback)(const LOGFONTA *font, const TEXTMETRICA *metrics,
                                           DWORD fontType, LPARAM user);

// Without a callback: 1 when a font of the face exists for the character set, else 0.
// With one: the value it returned last, 0 when nothing was enumerated. Only the first
// 31 bytes of face count; a null dc means the screen.
int EnumFontFamily(FontFamilyCallback callback, LPARAM user, const char *face, int charSet,
                   HDC dc);

// Owner of one GDI object.
class CGdiHandle
{
public:
    CGdiHandle() : m_hObject(NULL) {}
    explicit CGdiHandle(HGDIOBJ object) : m_hObject(object) {}
    ~CGdiHandle() { Release(); }
    CGdiHandle(const CGdiHandle &) = delete;
    CGdiHandle &operator=(const CGdiHandle &) = delete;

    // Takes object over, deleting the one held before.
    void Attach(HGDIOBJ object);
    // Gives the object up without deleting it.
    HGDIOBJ Detach();
    // The result of DeleteObject, 0 when nothing was held.
    int Release();
    HGDIOBJ Get() const { return m_hObject; }

private:
    HGDIOBJ m_hObject;
};

// A solid brush and its colour, for the background of WM_CTLCOLOR* answers.
class CSolidBrush
{
public:
    CSolidBrush() : m_hBrush(NULL), m_Color(0) {}
    ~CSolidBrush() { Release(); }
    CSolidBrush(const CSolidBrush &) = delete;
    CSolidBrush &operator=(const CSolidBrush &) = delete;

    // Replaces a brush held before; null when the brush cannot be made.
    HBRUSH Create(COLORREF color);
    // Sets the brush colour as the context's background colour and returns the brush,
    // the value a WM_CTLCOLORSTATIC handler returns.
    HBRUSH Apply(HDC dc) const;
    int Release();
    HBRUSH Get() const { return m_hBrush; }
    COLORREF GetColor() const { return m_Color; }

private:
    HBRUSH m_hBrush;
    COLORREF m_Color;
};

// A device context, either a window's (given back with ReleaseDC) or a created one
// (deleted), and at most one GDI object selected into it that the holder deletes.
class CDcHolder
{
public:
    CDcHolder();
    ~CDcHolder() { Release(); }
    CDcHolder(const CDcHolder &) = delete;
    CDcHolder &operator=(const CDcHolder &) = delete;

    // The device context of window (the screen's when null); width and height become its
    // client size. 0 when GetDC fails.
    int AcquireWindowDc(HWND window);
    // A memory context compatible with reference (the screen when null). 0 on failure.
    int CreateCompatibleDc(HDC reference);
    // Selects object into the context and owns it from now on; an object owned before is
    // deleted when the new one took its place. 0 when there is no context or the
    // selection fails (object then stays the caller's).
    int SelectOwned(HGDIOBJ object);
    void Release();

    HDC GetDc() const { return m_hDC; }
    HWND GetWindow() const { return m_hWnd; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }

private:
    enum { DC_CREATED = 0, DC_WINDOW = 1, DC_NONE = 2 };

    HWND m_hWnd;
    HDC m_hDC;
    HGDIOBJ m_hSelected;
    int m_nWidth;
    int m_nHeight;
    int m_nKind;
};

#endif
