#include "crash/ui/LinkCtrl.h"

// The smallest font the fitting loop keeps: below it no text is legible anyway.
#define LINK_MIN_FIT_HEIGHT 4

CLinkCtrl::CLinkCtrl()
    : m_SubClass(SUBCLASS_TAG_LINK, SubClassingProc<SUBCLASS_TAG_LINK>), m_NormalColor(0xFF0000), m_HoverColor(0xFF80FF),
      m_FrameColor(GetSysColor(COLOR_WINDOWFRAME)), m_DisabledColor(GetSysColor(COLOR_GRAYTEXT)),
      m_nFormat(0), m_nFlags(0), m_pCallback(NULL), m_nUser(0), m_nCursor(0), m_nHeight(0),
      m_nTextWidth(0), m_nTextHeight(0), m_hWnd(NULL)
{
    m_Text.Reset(STR_DEFAULT_CAPACITY);
    m_Face.Reset(STR_DEFAULT_CAPACITY);
}

CLinkCtrl::~CLinkCtrl()
{
    Detach();
}

int CLinkCtrl::Attach(HWND window, const char *faces, int height, COLORREF normalColor,
                      COLORREF hoverColor, UINT32 flags, WORD cursor, LinkCallback callback,
                      UINT32 user)
{
    Detach();
    // Moving the text out of a window another label holds would wipe that label's text.
    if (!IsWindow(window) || CSubClassing::IsHeld(window, SUBCLASS_TAG_LINK))
    {
        SetLastError(IsWindow(window) ? ERROR_ALREADY_EXISTS : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    m_nHeight = height;
    m_NormalColor = normalColor;
    m_HoverColor = hoverColor;
    m_nFlags = flags & ~LCF_HOT;
    m_pCallback = callback;
    m_nUser = user;
    m_nCursor = cursor;
    m_hWnd = window;
    m_Lock.Init();

    LONG style = GetWindowLongA(window, GWL_STYLE);
    if (!(style & WS_TABSTOP))
        m_nFlags |= LCF_NOFOCUS;
    ChooseFace(faces);
    TakeWindowText();
    if (!(m_nFlags & LCF_OPAQUE) && (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        m_nFlags |= LCF_TRANSPARENT;
    if (m_nFlags & LCF_HOVER)
        SetWindowLongA(window, GWL_STYLE, style | SS_NOTIFY);
    m_nFormat = DeriveFormat();
    BuildFont();
    int attached = m_SubClass.Attach(window, MessageRoutine, this);
    Repaint(REPAINT_THROUGH_PARENT);
    return attached;
}

void CLinkCtrl::Detach()
{
    HWND window = m_SubClass.GetWindow();
    // The window shows its text itself again, and a later Attach finds it there.
    if (m_SubClass.Detach())
        SetWindowTextA(window, m_Text.GetText());
    m_Font.Release();
    m_Lock.Delete();
    m_hWnd = NULL;
}

void CLinkCtrl::ChooseFace(const char *faces)
{
    const char *next = (faces && *faces) ? faces : LINK_DEFAULT_FACES;
    while (*next)
    {
        const char *end = next;
        while (*end && *end != ',' && *end != ';')
            end = CharNextA(end);
        // An empty name would match any installed face.
        if (end > next && m_Face.Assign(next, static_cast<UINT32>(end - next)) &&
            EnumFontFamily(NULL, 0, m_Face.GetText(), DEFAULT_CHARSET, NULL))
            return;
        next = *end ? end + 1 : end;
    }
    m_Face.Assign(LINK_FALLBACK_FACE);
}

void CLinkCtrl::TakeWindowText()
{
    int length = GetWindowTextLengthA(m_hWnd);
    m_Text.Reset(static_cast<UINT32>(length) + 2);
    char *buffer = m_Text.GetBuffer();
    if (buffer)
    {
        GetWindowTextA(m_hWnd, buffer, length + 1);
        m_Text.UpdateLength();
    }
    SetWindowTextA(m_hWnd, "");
}

UINT32 CLinkCtrl::DeriveFormat() const
{
    UINT32 format = (m_nFlags & LCF_WORDWRAP) ? DT_WORDBREAK : DT_SINGLELINE;
    if (m_nFlags & LCF_ELLIPSIS)
        format |= DT_END_ELLIPSIS;
    LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
    // SS_CENTER and SS_RIGHT are values of the type field, not bits.
    if ((style & SS_TYPEMASK) == SS_CENTER)
        format |= DT_CENTER;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        format |= DT_RIGHT;
    if ((style & SS_CENTERIMAGE) || (m_nFlags & LCF_VCENTER))
        format |= DT_VCENTER;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    return format;
}

HFONT CLinkCtrl::MakeFont(int height) const
{
    return CreateFontA(height, 0, 0, 0, (m_nFlags & LCF_BOLD) ? FW_BOLD : FW_NORMAL,
                       (m_nFlags & LCF_ITALIC) ? TRUE : FALSE,
                       (m_nFlags & LCF_UNDERLINE) ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       m_Face.GetText());
}

void CLinkCtrl::CopyWindowFont()
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    if (!font)
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTA description;
    if (GetObjectA(font, sizeof(description), &description))
        m_Font.Attach(CreateFontIndirectA(&description));
}

void CLinkCtrl::BuildFont()
{
    m_Font.Release();
    if (m_nFlags & LCF_PARENTFONT)
        CopyWindowFont();
    else if (m_nHeight != 0 && !(m_nFlags & LCF_SHRINKFIT))
        m_Font.Attach(MakeFont(m_nHeight));
    else
    {
        CDcHolder dc;
        if (dc.AcquireWindowDc(m_hWnd))
            FitFont(dc.GetDc());
    }
    Measure();
}

void CLinkCtrl::FitFont(HDC dc)
{
    int saved = SaveDC(dc);
    RECT client;
    GetClientRect(m_hWnd, &client);
    int margin = (m_nFlags & LCF_BORDERS) ? LCF_BORDER_MARGIN : 0;
    int rightLimit = client.right - margin;
    int bottomLimit = client.bottom - margin;
    int height = m_nHeight ? m_nHeight : bottomLimit;
    // A tiny control or a tiny given height must not yield a zero (default-sized) or
    // negative (character-height) request.
    if (height < LINK_MIN_FIT_HEIGHT)
        height = LINK_MIN_FIT_HEIGHT;
    for (;;)
    {
        m_Font.Attach(MakeFont(height));
        HGDIOBJ previous = SelectObject(dc, m_Font.Get());
        RECT needed = client;
        if (!DrawTextA(dc, m_Text.GetText(), -1, &needed, m_nFormat | DT_CALCRECT) ||
            (needed.right < rightLimit && needed.bottom < bottomLimit))
            break;
        if (--height < LINK_MIN_FIT_HEIGHT)
            break;
        SelectObject(dc, previous);
    }
    RestoreDC(dc, saved);
}

void CLinkCtrl::Measure()
{
    m_nTextWidth = 0;
    m_nTextHeight = 0;
    CDcHolder dc;
    if (!dc.AcquireWindowDc(m_hWnd))
        return;
    HGDIOBJ previous = m_Font.Get() ? SelectObject(dc.GetDc(), m_Font.Get()) : NULL;
    SIZE extent;
    if (GetTextExtentPoint32A(dc.GetDc(), m_Text.GetText(), static_cast<int>(m_Text.GetLength()),
                              &extent))
    {
        m_nTextWidth = extent.cx;
        m_nTextHeight = extent.cy;
    }
    if (previous)
        SelectObject(dc.GetDc(), previous);
}

int CLinkCtrl::SetText(const char *text)
{
    m_Lock.Enter();
    int assigned = m_Text.Assign(text);
    if (m_hWnd)
    {
        if (m_nFlags & LCF_REFIT)
        {
            if (!(m_nFlags & LCF_SHRINKFIT))
                m_nHeight = 0;
            BuildFont();
        }
        else
            Measure();
    }
    m_Lock.Leave();
    Repaint(REPAINT_THROUGH_PARENT);
    return assigned;
}

void CLinkCtrl::Repaint(int throughParent)
{
    if (!m_hWnd)
        return;
    if (throughParent && (m_nFlags & LCF_TRANSPARENT))
    {
        HWND parent = GetParent(m_hWnd);
        if (!parent)
            return;
        RECT area;
        GetClientRect(m_hWnd, &area);
        MapWindowPoints(m_hWnd, parent, reinterpret_cast<POINT *>(&area), 2);
        InvalidateRect(parent, &area, TRUE);
        return;
    }
    InvalidateRect(m_hWnd, NULL, FALSE);
}

int CLinkCtrl::TextLeft(int clientWidth) const
{
    if (m_nFormat & DT_CENTER)
        return (clientWidth - m_nTextWidth) / 2;
    if (m_nFormat & DT_RIGHT)
        return clientWidth - m_nTextWidth;
    return 0;
}

int CLinkCtrl::IsOverText() const
{
    POINT cursor;
    if (m_nTextHeight == 0 || !GetCursorPos(&cursor) || !ScreenToClient(m_hWnd, &cursor))
        return 1;
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (!PtInRect(&client, cursor))
        return 0;
    if (m_nFlags & LCF_WHOLEAREA)
        return 1;
    int margin = TextLeft(client.right);
    if (m_nFormat & DT_CENTER)
        return margin < cursor.x && cursor.x < client.right - margin;
    if (m_nFormat & DT_RIGHT)
        return cursor.x > margin;
    return cursor.x < m_nTextWidth;
}

void CLinkCtrl::Notify(int event)
{
    if (m_pCallback)
        m_pCallback(event, 0, m_nUser, this);
}

void CLinkCtrl::SendCommand()
{
    if (!(m_nFlags & LCF_COMMAND))
        return;
    int id = GetDlgCtrlID(m_hWnd);
    SendMessageA(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(m_hWnd));
}

void CLinkCtrl::SetHotCursor()
{
    HCURSOR cursor = NULL;
    if ((m_nFlags & LCF_HOT) && m_nCursor)
    {
        HINSTANCE module = (m_nFlags & LCF_SYSCURSOR)
                               ? NULL
                               : reinterpret_cast<HINSTANCE>(
                                     GetWindowLongPtrA(m_hWnd, GWLP_HINSTANCE));
        cursor = LoadCursorA(module, MAKEINTRESOURCEA(m_nCursor));
    }
    SetCursor(cursor ? cursor : LoadCursorA(NULL, IDC_ARROW));
}

void CLinkCtrl::OnMouseMove()
{
    int over = IsOverText();
    if (!(m_nFlags & LCF_HOT) && over)
    {
        m_nFlags |= LCF_HOT;
        m_Tracker.Track(m_hWnd);
        if (GetKeyState(VK_LBUTTON) < 0)
            m_nFlags |= LCF_PRESSED;
        Repaint(REPAINT_THROUGH_PARENT);
        if (m_nCursor)
            SetHotCursor();
    }
    else if ((m_nFlags & LCF_HOT) && !over)
    {
        m_nFlags &= ~LCF_HOT;
        Repaint(REPAINT_THROUGH_PARENT);
        if (m_nCursor)
            SetCursor(LoadCursorA(NULL, IDC_ARROW));
    }
}

void CLinkCtrl::OnKeyDown(WPARAM key)
{
    if (key != VK_RETURN && key != VK_SPACE)
        return;
    Notify(key == VK_RETURN ? LCE_ENTER : LCE_SPACE);
    SendCommand();
}

LONG CLinkCtrl::OnGetDlgCode(const MSG *message) const
{
    LONG code = DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    if (message && message->message == WM_KEYDOWN &&
        (message->wParam == VK_RETURN || message->wParam == VK_SPACE))
        code |= DLGC_WANTMESSAGE;
    return code;
}

int CLinkCtrl::MessageRoutine(HWND, UINT message, WPARAM wParam, LPARAM lParam, LONG *result,
                              void *owner)
{
    return static_cast<CLinkCtrl *>(owner)->OnMessage(message, wParam, lParam, result);
}

int CLinkCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LONG *result)
{
    switch (message)
    {
    case WM_SETFOCUS:
        m_nFlags |= LCF_FOCUSED;
        Repaint(REPAINT_SELF);
        return 1;
    case WM_KILLFOCUS:
        m_nFlags &= ~LCF_FOCUSED;
        Repaint(REPAINT_THROUGH_PARENT);
        return 1;
    case WM_ENABLE:
        m_nFlags = wParam ? (m_nFlags & ~LCF_DISABLED) : (m_nFlags | LCF_DISABLED);
        Repaint(REPAINT_SELF);
        return 1;
    case WM_SETTEXT:
        // TRUE tells SetWindowText the text was taken.
        *result = SetText(reinterpret_cast<const char *>(lParam));
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    case WM_CANCELMODE:
        m_nFlags &= ~LCF_HOT;
        Repaint(REPAINT_THROUGH_PARENT);
        return 1;
    case WM_SETCURSOR:
        SetHotCursor();
        return 1;
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    case WM_GETDLGCODE:
        if (m_nFlags & LCF_NOFOCUS)
            return 0;
        *result = OnGetDlgCode(reinterpret_cast<const MSG *>(lParam));
        return 1;
    case WM_KEYDOWN:
        if (m_nFlags & LCF_NOFOCUS)
            return 0;
        OnKeyDown(wParam);
        return 1;
    case WM_MOUSEMOVE:
        if (!(m_nFlags & LCF_HOVER))
            return 0;
        OnMouseMove();
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        m_nFlags |= LCF_PRESSED;
        Notify(LCE_BUTTONDOWN);
        Repaint(REPAINT_THROUGH_PARENT);
        return 1;
    case WM_LBUTTONUP:
        m_nFlags &= ~LCF_PRESSED;
        if (m_nFlags & LCF_HOT)
        {
            Notify(LCE_CLICK);
            SendCommand();
        }
        Repaint(REPAINT_THROUGH_PARENT);
        return 1;
    case WM_MOUSELEAVE:
        if (!(m_nFlags & LCF_HOVER))
            return 0;
        m_nFlags &= ~(LCF_HOT | LCF_PRESSED);
        Repaint(REPAINT_THROUGH_PARENT);
        return 1;
    }
    return 0;
}
