// The custom-drawn label of the problem-report dialog that can act as a hyperlink.
#ifndef BRENNLOW_CRASH_UI_LINKCTRL_H
#define BRENNLOW_CRASH_UI_LINKCTRL_H

#include <windows.h>

#include "base/Lock.h"
#include "base/Str.h"
#include "crash/ui/FontFamily.h"
#include "crash/ui/GdiOwner.h"
#include "crash/ui/SubClassing.h"

// Options (given by the caller) and state bits (kept by the control) of CLinkCtrl.
#define LCF_HOVER 0x1
#define LCF_BOLD 0x2
#define LCF_UNDERLINE 0x4
#define LCF_ITALIC 0x8
#define LCF_HOT 0x10
#define LCF_WHITEBACK 0x20
#define LCF_WORDWRAP 0x40
#define LCF_REFIT 0x80
#define LCF_TRANSPARENT 0x100
#define LCF_FRAME 0x200
#define LCF_BUMP 0x400
#define LCF_ETCHED 0x800
#define LCF_RAISED 0x1000
#define LCF_SUNKEN 0x2000
#define LCF_DOUBLEFRAME 0x4000
#define LCF_PARENTFONT 0x8000
#define LCF_OPAQUE 0x10000
#define LCF_WHOLEAREA 0x20000
#define LCF_ELLIPSIS 0x40000
#define LCF_FOCUSED 0x80000
#define LCF_NOFOCUS 0x100000
#define LCF_DISABLED 0x200000
#define LCF_SYSCURSOR 0x400000
#define LCF_VCENTER 0x800000
#define LCF_COMMAND 0x1000000
#define LCF_PRESSED 0x2000000
#define LCF_SHRINKFIT 0x4000000
#define LCF_KEEPCOLOR 0x8000000

// LCF_FRAME to LCF_DOUBLEFRAME; with any of them the text keeps 3 pixels off the edge.
#define LCF_BORDERS 0x7E00
#define LCF_BORDER_MARGIN 3

// Events passed to a LinkCallback.
#define LCE_BUTTONDOWN 1
#define LCE_CLICK 2
#define LCE_SPACE 3
#define LCE_ENTER 4

#define LINK_DEFAULT_FACES "Segoe UI;Verdana;MS Sans Serif"
#define LINK_FALLBACK_FACE "Verdana"

class CLinkCtrl;

// (event code, 0, user value, control)
typedef void (*LinkCallback)(int event, int reserved, UINT32 user, CLinkCtrl *control);

// A static control taken over and drawn as a label or hyperlink with its own font and
// colours. The text lives in the control; the window's own text stays empty.
class CLinkCtrl
{
public:
    CLinkCtrl();
    ~CLinkCtrl();
    CLinkCtrl(const CLinkCtrl &) = delete;
    CLinkCtrl &operator=(const CLinkCtrl &) = delete;

    // faces: names separated by ',' or ';' (null or "" for LINK_DEFAULT_FACES). height 0
    // lets the font follow the client height. 0 when window is held by another label
    // (it is then left untouched).
    int Attach(HWND window, const char *faces, int height, COLORREF normalColor,
               COLORREF hoverColor, UINT32 flags, WORD cursor, LinkCallback callback,
               UINT32 user);
    int SetText(const char *text);
    // Gives the window back with the text in it and releases the font.
    void Detach();

    HWND GetWindow() const { return m_hWnd; }
    HFONT GetFont() const { return static_cast<HFONT>(m_Font.Get()); }
    const char *GetText() const { return m_Text.GetText(); }
    const char *GetFace() const { return m_Face.GetText(); }
    UINT32 GetFlags() const { return m_nFlags; }
    UINT32 GetFormat() const { return m_nFormat; }
    int GetTextWidth() const { return m_nTextWidth; }
    int GetTextHeight() const { return m_nTextHeight; }

private:
    static int MessageRoutine(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LONG *result, void *owner);
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LONG *result);
    void ChooseFace(const char *faces);
    void TakeWindowText();
    UINT32 DeriveFormat() const;
    void BuildFont();
    void CopyWindowFont();
    void FitFont(HDC dc);
    HFONT MakeFont(int height) const;
    void Measure();
    enum { REPAINT_SELF = 0, REPAINT_THROUGH_PARENT = 1 };
    void Repaint(int throughParent);
    int IsOverText() const;
    int TextLeft(int clientWidth) const;
    void Notify(int event);
    void SendCommand();
    void SetHotCursor();
    void OnMouseMove();
    void OnKeyDown(WPARAM key);
    LONG OnGetDlgCode(const MSG *message) const;
    void Paint();
    void FillBackground(HDC dc, const RECT &client);
    void DrawBorders(HDC dc, RECT rect);

    CSubClassing m_SubClass;
    CMouseTracker m_Tracker;
    CLock m_Lock;
    CGdiHandle m_Font;
    COLORREF m_NormalColor;
    COLORREF m_HoverColor;
    COLORREF m_FrameColor;
    COLORREF m_DisabledColor;
    CStr m_Text;
    CStr m_Face;
    UINT32 m_nFormat;
    UINT32 m_nFlags;
    LinkCallback m_pCallback;
    UINT32 m_nUser;
    WORD m_nCursor;
    int m_nHeight;
    int m_nTextWidth;
    int m_nTextHeight;
    HWND m_hWnd;
};

#endif
