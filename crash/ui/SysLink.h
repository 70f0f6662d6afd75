// The system link window laid over a dialog's notice, the themed separator line, and
// the run-time binding of the theme library they draw with.
#ifndef BRENNLOW_CRASH_UI_SYSLINK_H
#define BRENNLOW_CRASH_UI_SYSLINK_H

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include "base/DynLib.h"
#include "base/Str.h"
#include "crash/ui/LinkCtrl.h"

// The theme library, bound at run time so that the program runs where it is missing.
class CThemeLib
{
public:
    CThemeLib();
    ~CThemeLib();
    CThemeLib(const CThemeLib &) = delete;
    CThemeLib &operator=(const CThemeLib &) = delete;

    // 1 when the library and its entry points are bound and, with a class list, a theme
    // handle was opened.
    int Open(HWND window, const wchar_t *classList);
    void Close();
    // 1 when the theme drew.
    int DrawBackground(HDC dc, int part, int state, const RECT *rect);

    HTHEME GetTheme() const { return m_hTheme; }

private:
    HRESULT CallDrawBackground(HDC dc, int part, int state, const RECT *rect);

    CDynLib m_Library;
    CStr m_ClassList;
    HTHEME m_hTheme;
    HWND m_hWnd;
    DYN_PROC(OpenThemeData) m_pOpenThemeData;
    DYN_PROC(CloseThemeData) m_pCloseThemeData;
    DYN_PROC(IsThemeActive) m_pIsThemeActive;
    DYN_PROC(DrawThemeBackground) m_pDrawThemeBackground;
};

// Flags of CSysLinkCtrl::Create.
#define SLF_DLGUNITS 0x1      // the rectangle is in dialog units
#define SLF_NOTABSTOP 0x2     // no WS_TABSTOP
#define SLF_NOPARENTHOOK 0x4  // the parent forwards WM_NOTIFY itself

// Called for a clicked link that has no address: (link index, link identifier, user value).
typedef void (*SysLinkCallback)(int index, const wchar_t *id, UINT32 user);

// A "SysLink" window with hyperlink markup; a clicked address opens through the shell.
class CSysLinkCtrl
{
public:
    CSysLinkCtrl();
    ~CSysLinkCtrl();
    CSysLinkCtrl(const CSysLinkCtrl &) = delete;
    CSysLinkCtrl &operator=(const CSysLinkCtrl &) = delete;

    // 0 when the link window cannot be created (for instance without the "SysLink" class);
    // the caller then shows plain text. With SLF_DLGUNITS the rectangle is in dialog units.
    int Create(HWND parent, int left, int top, int width, int height, const char *text,
               int flags, SysLinkCallback callback, UINT32 user);
    // Acts on notifications of its own link window only.
    void OnNotify(HWND parent, WPARAM wParam, const NMHDR *header);
    void Destroy();

    HWND GetWindow() const { return m_hLink; }

private:
    static int ParentRoutine(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LONG *result, void *owner);

    int m_nFlags;
    SysLinkCallback m_pCallback;
    UINT32 m_nUser;
    CSubClassing m_ParentHook;
    HWND m_hLink;
};

// The dialog's etched separator drawn as the visual style's toolbar separator, or as an
// etched edge where there is no style.
class CSeparatorLine
{
public:
    CSeparatorLine();
    ~CSeparatorLine();
    CSeparatorLine(const CSeparatorLine &) = delete;
    CSeparatorLine &operator=(const CSeparatorLine &) = delete;

    // 0 when window is held by another separator (it is then left untouched).
    int Attach(HWND window);
    void Detach();

    int IsHorizontal() const { return m_nHorizontal; }

private:
    static int PaintRoutine(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LONG *result, void *owner);
    void Paint(HWND window);

    HWND m_hWnd;
    CThemeLib m_Theme;
    CSubClassing m_SubClass;
    int m_nHorizontal;
};

#endif
