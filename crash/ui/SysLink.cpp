#include "crash/ui/SysLink.h"

#include "crash/ui/ShellHelper.h"

// Toolbar parts of the visual style that draw a separator, and their normal state.
#define THEME_PART_SEPARATOR 5
#define THEME_PART_SEPARATOR_VERT 6
#define THEME_STATE_NORMAL 1

// ---------------------------------------------------------------------------------------
// CThemeLib

CThemeLib::CThemeLib()
    : m_hTheme(NULL), m_hWnd(NULL), m_pOpenThemeData(NULL), m_pCloseThemeData(NULL),
      m_pIsThemeActive(NULL), m_pDrawThemeBackground(NULL)
{
}

CThemeLib::~CThemeLib()
{
    Close();
}

int CThemeLib::Open(HWND window, const wchar_t *classList)
{
    Close();
    m_hWnd = window;
    m_ClassList.AssignWide(classList);
    if (!m_Library.Load("uxtheme.dll"))
        return 0;
    if (!m_Library.Bind("OpenThemeData", &m_pOpenThemeData) ||
        !m_Library.Bind("CloseThemeData", &m_pCloseThemeData) ||
        !m_Library.Bind("IsThemeActive", &m_pIsThemeActive))
        return 0;
    if (!classList || !*classList)
        return 1;
    m_hTheme = m_pOpenThemeData(window, classList);
    return m_hTheme != NULL;
}

void CThemeLib::Close()
{
    if (m_hTheme && m_pCloseThemeData)
        m_pCloseThemeData(m_hTheme);
    m_hTheme = NULL;
    // Entry points die with the library; a later call must bind them again.
    m_pOpenThemeData = NULL;
    m_pCloseThemeData = NULL;
    m_pIsThemeActive = NULL;
    m_pDrawThemeBackground = NULL;
    m_Library.Free();
}

HRESULT CThemeLib::CallDrawBackground(HDC dc, int part, int state, const RECT *rect)
{
    if (!m_pDrawThemeBackground && !m_Library.Bind("DrawThemeBackground", &m_pDrawThemeBackground))
        return E_NOTIMPL;
    return m_pDrawThemeBackground(m_hTheme, dc, part, state, rect, NULL);
}

int CThemeLib::DrawBackground(HDC dc, int part, int state, const RECT *rect)
{
    HRESULT result = CallDrawBackground(dc, part, state, rect);
    if (result == E_HANDLE)
    {
        // The style changed under us; an inactive style leaves the fallback drawing.
        if (!m_pIsThemeActive || !m_pIsThemeActive())
            return 0;
        CStr classList;
        classList = m_ClassList;
        HWND window = m_hWnd;
        if (!Open(window, classList.ToWide(NULL)))
            return 0;
        result = CallDrawBackground(dc, part, state, rect);
    }
    return result == S_OK;
}

// ---------------------------------------------------------------------------------------
// CSysLinkCtrl

CSysLinkCtrl::CSysLinkCtrl()
    : m_nFlags(0), m_pCallback(NULL), m_nUser(0),
      m_ParentHook(SUBCLASS_TAG_SYSLINK, SubClassingProc<SUBCLASS_TAG_SYSLINK>), m_hLink(NULL)
{
}

CSysLinkCtrl::~CSysLinkCtrl()
{
    Destroy();
}

int CSysLinkCtrl::Create(HWND parent, int left, int top, int width, int height,
                         const char *text, int flags, SysLinkCallback callback, UINT32 user)
{
    Destroy();
    m_nFlags = flags;
    m_pCallback = callback;
    m_nUser = user;
    CStr markup;
    markup = text;
    if (flags & SLF_DLGUNITS)
    {
        RECT area = {left, top, width, height};
        MapDialogRect(parent, &area);
        left = area.left;
        top = area.top;
        width = area.right;
        height = area.bottom;
    }
    DWORD style = WS_CHILD | WS_VISIBLE | ((flags & SLF_NOTABSTOP) ? 0 : WS_TABSTOP);
    m_hLink = CreateWindowExW(0, L"SysLink", markup.ToWide(NULL), style, left, top, width,
                              height, parent, NULL, GetModuleHandleA(NULL), NULL);
    if (!m_hLink)
        return 0;
    SendMessageA(m_hLink, WM_SETFONT, SendMessageA(parent, WM_GETFONT, 0, 0), TRUE);
    // A parent already hooked by another link keeps that hook.
    if (!(flags & SLF_NOPARENTHOOK))
        m_ParentHook.Attach(parent, ParentRoutine, this);
    return 1;
}

void CSysLinkCtrl::Destroy()
{
    m_ParentHook.Detach();
    if (m_hLink)
        DestroyWindow(m_hLink);
    m_hLink = NULL;
}

int CSysLinkCtrl::ParentRoutine(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                LONG *, void *owner)
{
    if (message == WM_NOTIFY)
        static_cast<CSysLinkCtrl *>(owner)->OnNotify(window, wParam,
                                                     reinterpret_cast<const NMHDR *>(lParam));
    return 0;
}

void CSysLinkCtrl::OnNotify(HWND, WPARAM, const NMHDR *header)
{
    if (!header || !m_hLink || header->hwndFrom != m_hLink ||
        (header->code != static_cast<UINT>(NM_CLICK) && header->code != static_cast<UINT>(NM_RETURN)))
        return;
    const LITEM &item = reinterpret_cast<const NMLINK *>(header)->item;
    if (item.szUrl[0])
    {
        CShellHelper shell;
        shell.ShellOpen(item.szUrl);
    }
    else if (m_pCallback)
        m_pCallback(item.iLink, item.szID, m_nUser);
}

// ---------------------------------------------------------------------------------------
// CSeparatorLine

CSeparatorLine::CSeparatorLine()
    : m_hWnd(NULL), m_SubClass(SUBCLASS_TAG_SEPARATOR, SubClassingProc<SUBCLASS_TAG_SEPARATOR>),
      m_nHorizontal(0)
{
}

CSeparatorLine::~CSeparatorLine()
{
    Detach();
}

int CSeparatorLine::Attach(HWND window)
{
    Detach();
    m_hWnd = window;
    m_Theme.Open(window, L"Toolbar");
    // Resizing a line that another separator holds would grow it a second time.
    if (!m_SubClass.Attach(window, PaintRoutine, this))
    {
        Detach();
        return 0;
    }
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    SetWindowLongA(window, GWL_EXSTYLE, (exStyle & ~WS_EX_STATICEDGE) | WS_EX_TRANSPARENT);

    RECT area;
    GetWindowRect(window, &area);
    HWND parent = GetParent(window);
    ScreenToClient(parent, reinterpret_cast<POINT *>(&area.left));
    ScreenToClient(parent, reinterpret_cast<POINT *>(&area.right));
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    m_nHorizontal = width > height;
    const UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
    if (m_nHorizontal)
        SetWindowPos(window, NULL, area.left - 2, area.top - 1, width + 3, 5, flags);
    else
        SetWindowPos(window, NULL, area.left - 1, area.top - 2, 5, height + 3, flags);
    return 1;
}

void CSeparatorLine::Detach()
{
    m_SubClass.Detach();
    m_Theme.Close();
    m_hWnd = NULL;
}

int CSeparatorLine::PaintRoutine(HWND window, UINT message, WPARAM, LPARAM, LONG *result,
                                 void *owner)
{
    if (message != WM_PAINT)
        return 0;
    static_cast<CSeparatorLine *>(owner)->Paint(window);
    *result = 0;
    return 1;
}

void CSeparatorLine::Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc)
        return;
    int saved = SaveDC(dc);
    RECT rect;
    GetClientRect(window, &rect);
    int part = m_nHorizontal ? THEME_PART_SEPARATOR_VERT : THEME_PART_SEPARATOR;
    if (!m_Theme.DrawBackground(dc, part, THEME_STATE_NORMAL, &rect))
    {
        rect.top += 2;
        rect.left += 1;
        rect.bottom -= 1;
        DrawEdge(dc, &rect, EDGE_ETCHED, m_nHorizontal ? BF_TOP : BF_LEFT);
    }
    RestoreDC(dc, saved);
    EndPaint(window, &paint);
}
