#include "crash/ui/LinkCtrl.h"

// The smallest font the fitting loop keeps: below it no text is legible anyway.
#define LINK_MIN_FIT_HEIGHT 4

#define MOUSE_POLL_MS 100

// ---------------------------------------------------------------------------------------
// CSubClassing

CSubClassing::CSubClassing(UINT32 tag, WNDPROC sharedProc)
    : m_pPrevious(NULL), m_pOwner(NULL), m_pRoutine(NULL), m_hWnd(NULL), m_Tag(tag),
      m_pSharedProc(sharedProc)
{
}

CSubClassing::~CSubClassing()
{
    Detach();
}

void CSubClassing::FormatPropertyName(UINT32 tag, char name[SUBCLASS_PROPERTY_NAME_SIZE])
{
    FormatLine(name, SUBCLASS_PROPERTY_NAME_SIZE, "_C_SubClassing_Property_%08X", tag);
}

int CSubClassing::IsHeld(HWND window, UINT32 tag)
{
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(tag, name);
    return GetPropA(window, name) != NULL;
}

int CSubClassing::Attach(HWND window, SubClassRoutine routine, void *owner)
{
    if (!IsWindow(window))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (IsHeld(window, m_Tag))
    {
        SetLastError(ERROR_ALREADY_EXISTS);
        return 0;
    }
    Detach();
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(m_Tag, name);
    // The record is findable before the first message can reach the shared procedure.
    if (!SetPropA(window, name, this))
        return 0;
    m_hWnd = window;
    m_pRoutine = routine;
    m_pOwner = owner;
    m_pPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pSharedProc)));
    if (m_pPrevious)
        return 1;
    DWORD error = GetLastError();
    RemovePropA(window, name);
    m_hWnd = NULL;
    SetLastError(error);
    return 0;
}

int CSubClassing::Detach()
{
    if (!m_pPrevious)
        return 0;
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pPrevious));
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(m_Tag, name);
    RemovePropA(m_hWnd, name);
    m_pPrevious = NULL;
    m_hWnd = NULL;
    return 1;
}

LRESULT CSubClassing::CallPrevious(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) const
{
    return m_pPrevious ? CallWindowProcA(m_pPrevious, window, message, wParam, lParam) : 0;
}

LRESULT CSubClassing::Dispatch(UINT32 tag, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam)
{
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(tag, name);
    CSubClassing *record = static_cast<CSubClassing *>(GetPropA(window, name));
    if (!record)
        return 0;
    // The routine may give the window back; the message still belongs to the old procedure.
    WNDPROC previous = record->m_pPrevious;
    LONG result = 0;
    if (record->m_pRoutine &&
        record->m_pRoutine(window, message, wParam, lParam, &result, record->m_pOwner) == 1)
        return result;
    LRESULT passed = previous ? CallWindowProcA(previous, window, message, wParam, lParam) : 0;
    // A window destroyed while held must not leave its owner pointing at a dead handle.
    if (message == WM_NCDESTROY && record->m_hWnd == window)
        record->Detach();
    return passed;
}

// ---------------------------------------------------------------------------------------
// CMouseTracker

CMouseTracker::CMouseTracker() : m_pTrackMouseEvent(NULL), m_hWnd(NULL)
{
    SetRectEmpty(&m_WindowRect);
    if (m_User32.Load("user32.dll"))
        m_User32.Bind("TrackMouseEvent", &m_pTrackMouseEvent);
}

CMouseTracker::~CMouseTracker()
{
    StopPolling();
}

void CMouseTracker::StopPolling()
{
    if (m_hWnd)
        KillTimer(m_hWnd, reinterpret_cast<UINT_PTR>(this));
    m_hWnd = NULL;
}

int CMouseTracker::Track(HWND window)
{
    if (m_pTrackMouseEvent)
    {
        // The structure is larger on x64; the system checks the size it is given.
        TRACKMOUSEEVENT track = {sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, HOVER_DEFAULT};
        return m_pTrackMouseEvent(&track);
    }
    if (m_hWnd != window)
        StopPolling();
    m_hWnd = window;
    if (!SetTimer(window, reinterpret_cast<UINT_PTR>(this), MOUSE_POLL_MS, PollCursor))
    {
        m_hWnd = NULL;
        return 0;
    }
    return GetWindowRect(window, &m_WindowRect);
}

void CALLBACK CMouseTracker::PollCursor(HWND window, UINT, UINT_PTR id, DWORD)
{
    CMouseTracker *tracker = reinterpret_cast<CMouseTracker *>(id);
    POINT cursor;
    if (GetCursorPos(&cursor) && PtInRect(&tracker->m_WindowRect, cursor) &&
        WindowFromPoint(cursor) == tracker->m_hWnd)
        return;
    KillTimer(window, id);
    PostMessageA(window, WM_MOUSELEAVE, 0, 0);
    tracker->m_hWnd = NULL;
}

// ---------------------------------------------------------------------------------------
// CLinkCtrl

CLinkCtrl::CLinkCtrl()
    : m_SubClass(SUBCLASS_TAG_LINK, SubClassingProc<SUBCLASS_TAG_LINK>), m_NormalColor(0xFF0000), m_HoverColor(0xFF80FF),
      m_FrameColor(GetSysColor(COLOR_WINDOWFRAME)), m_DisabledColor(GetSysColor(COLOR_GRAYTEXT)),
      m_Format(0), m_Flags(0), m_pCallback(NULL), m_User(0), m_Cursor(0), m_nHeight(0),
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
    m_Flags = flags & ~LCF_HOT;
    m_pCallback = callback;
    m_User = user;
    m_Cursor = cursor;
    m_hWnd = window;
    m_Lock.Init();

    LONG style = GetWindowLongA(window, GWL_STYLE);
    if (!(style & WS_TABSTOP))
        m_Flags |= LCF_NOFOCUS;
    ChooseFace(faces);
    TakeWindowText();
    if (!(m_Flags & LCF_OPAQUE) && (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        m_Flags |= LCF_TRANSPARENT;
    if (m_Flags & LCF_HOVER)
        SetWindowLongA(window, GWL_STYLE, style | SS_NOTIFY);
    m_Format = DeriveFormat();
    BuildFont();
    int attached = m_SubClass.Attach(window, MessageRoutine, this);
    Repaint(1);
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
    UINT32 format = (m_Flags & LCF_WORDWRAP) ? DT_WORDBREAK : DT_SINGLELINE;
    if (m_Flags & LCF_ELLIPSIS)
        format |= DT_END_ELLIPSIS;
    LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
    // SS_CENTER and SS_RIGHT are values of the type field, not bits.
    if ((style & SS_TYPEMASK) == SS_CENTER)
        format |= DT_CENTER;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        format |= DT_RIGHT;
    if ((style & SS_CENTERIMAGE) || (m_Flags & LCF_VCENTER))
        format |= DT_VCENTER;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    return format;
}

HFONT CLinkCtrl::MakeFont(int height) const
{
    return CreateFontA(height, 0, 0, 0, (m_Flags & LCF_BOLD) ? FW_BOLD : FW_NORMAL,
                       (m_Flags & LCF_ITALIC) ? TRUE : FALSE,
                       (m_Flags & LCF_UNDERLINE) ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
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
    if (m_Flags & LCF_PARENTFONT)
        CopyWindowFont();
    else if (m_nHeight != 0 && !(m_Flags & LCF_SHRINKFIT))
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
    int margin = (m_Flags & LCF_BORDERS) ? LCF_BORDER_MARGIN : 0;
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
        if (!DrawTextA(dc, m_Text.GetText(), -1, &needed, m_Format | DT_CALCRECT) ||
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
        if (m_Flags & LCF_REFIT)
        {
            if (!(m_Flags & LCF_SHRINKFIT))
                m_nHeight = 0;
            BuildFont();
        }
        else
            Measure();
    }
    m_Lock.Leave();
    Repaint(1);
    return assigned;
}

void CLinkCtrl::Repaint(int throughParent)
{
    if (!m_hWnd)
        return;
    if (throughParent && (m_Flags & LCF_TRANSPARENT))
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
    if (m_Format & DT_CENTER)
        return (clientWidth - m_nTextWidth) / 2;
    if (m_Format & DT_RIGHT)
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
    if (m_Flags & LCF_WHOLEAREA)
        return 1;
    int margin = TextLeft(client.right);
    if (m_Format & DT_CENTER)
        return margin < cursor.x && cursor.x < client.right - margin;
    if (m_Format & DT_RIGHT)
        return cursor.x > margin;
    return cursor.x < m_nTextWidth;
}

void CLinkCtrl::Notify(int event)
{
    if (m_pCallback)
        m_pCallback(event, 0, m_User, this);
}

void CLinkCtrl::SendCommand()
{
    if (!(m_Flags & LCF_COMMAND))
        return;
    int id = GetDlgCtrlID(m_hWnd);
    SendMessageA(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(m_hWnd));
}

void CLinkCtrl::SetHotCursor()
{
    HCURSOR cursor = NULL;
    if ((m_Flags & LCF_HOT) && m_Cursor)
    {
        HINSTANCE module = (m_Flags & LCF_SYSCURSOR)
                               ? NULL
                               : reinterpret_cast<HINSTANCE>(
                                     GetWindowLongPtrA(m_hWnd, GWLP_HINSTANCE));
        cursor = LoadCursorA(module, MAKEINTRESOURCEA(m_Cursor));
    }
    SetCursor(cursor ? cursor : LoadCursorA(NULL, IDC_ARROW));
}

void CLinkCtrl::OnMouseMove()
{
    int over = IsOverText();
    if (!(m_Flags & LCF_HOT) && over)
    {
        m_Flags |= LCF_HOT;
        m_Tracker.Track(m_hWnd);
        if (GetKeyState(VK_LBUTTON) < 0)
            m_Flags |= LCF_PRESSED;
        Repaint(1);
        if (m_Cursor)
            SetHotCursor();
    }
    else if ((m_Flags & LCF_HOT) && !over)
    {
        m_Flags &= ~LCF_HOT;
        Repaint(1);
        if (m_Cursor)
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
        m_Flags |= LCF_FOCUSED;
        Repaint(0);
        return 1;
    case WM_KILLFOCUS:
        m_Flags &= ~LCF_FOCUSED;
        Repaint(1);
        return 1;
    case WM_ENABLE:
        m_Flags = wParam ? (m_Flags & ~LCF_DISABLED) : (m_Flags | LCF_DISABLED);
        Repaint(0);
        return 1;
    case WM_SETTEXT:
        // TRUE tells SetWindowText the text was taken.
        *result = SetText(reinterpret_cast<const char *>(lParam));
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    case WM_CANCELMODE:
        m_Flags &= ~LCF_HOT;
        Repaint(1);
        return 1;
    case WM_SETCURSOR:
        SetHotCursor();
        return 1;
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    case WM_GETDLGCODE:
        if (m_Flags & LCF_NOFOCUS)
            return 0;
        *result = OnGetDlgCode(reinterpret_cast<const MSG *>(lParam));
        return 1;
    case WM_KEYDOWN:
        if (m_Flags & LCF_NOFOCUS)
            return 0;
        OnKeyDown(wParam);
        return 1;
    case WM_MOUSEMOVE:
        if (!(m_Flags & LCF_HOVER))
            return 0;
        OnMouseMove();
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        m_Flags |= LCF_PRESSED;
        Notify(LCE_BUTTONDOWN);
        Repaint(1);
        return 1;
    case WM_LBUTTONUP:
        m_Flags &= ~LCF_PRESSED;
        if (m_Flags & LCF_HOT)
        {
            Notify(LCE_CLICK);
            SendCommand();
        }
        Repaint(1);
        return 1;
    case WM_MOUSELEAVE:
        if (!(m_Flags & LCF_HOVER))
            return 0;
        m_Flags &= ~(LCF_HOT | LCF_PRESSED);
        Repaint(1);
        return 1;
    }
    return 0;
}

void CLinkCtrl::FillBackground(HDC dc, const RECT &client)
{
    HBRUSH brush = NULL;
    if (!(m_Flags & LCF_WHITEBACK))
        brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(m_hWnd), WM_CTLCOLORSTATIC,
                                                      reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(m_hWnd)));
    if (!brush)
        brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(dc, &client, brush);
}

void CLinkCtrl::DrawBorders(HDC dc, RECT rect)
{
    if (m_Flags & (LCF_FRAME | LCF_DOUBLEFRAME))
    {
        CSolidBrush frame;
        if (frame.Create(m_FrameColor))
        {
            if (m_Flags & LCF_FRAME)
                FrameRect(dc, &rect, frame.Get());
            if (m_Flags & LCF_DOUBLEFRAME)
            {
                InflateRect(&rect, -1, -1);
                FrameRect(dc, &rect, frame.Get());
                InflateRect(&rect, -1, -1);
                FrameRect(dc, &rect, frame.Get());
                InflateRect(&rect, 2, 2);
            }
        }
    }
    static const struct
    {
        UINT32 flag;
        UINT edge;
    } edges[] = {{LCF_BUMP, EDGE_BUMP},
                 {LCF_ETCHED, EDGE_ETCHED},
                 {LCF_RAISED, EDGE_RAISED},
                 {LCF_SUNKEN, EDGE_SUNKEN}};
    for (const auto &edge : edges)
        if (m_Flags & edge.flag)
            DrawEdge(dc, &rect, edge.edge, BF_RECT);
}

void CLinkCtrl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (!dc)
        return;
    int saved = SaveDC(dc);
    m_Lock.Enter();
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    int clientWidth = rect.right;
    if (m_Font.Get())
        SelectObject(dc, m_Font.Get());
    SetBkMode(dc, TRANSPARENT);
    if (!(m_Flags & LCF_TRANSPARENT))
        FillBackground(dc, rect);
    if (m_Flags & LCF_DISABLED)
        SetTextColor(dc, m_DisabledColor);
    else if ((m_Flags & LCF_HOVER) && (m_Flags & LCF_HOT))
        SetTextColor(dc, m_HoverColor);
    else if (!(m_Flags & LCF_KEEPCOLOR))
        SetTextColor(dc, m_NormalColor);

    int bordered = (m_Flags & LCF_BORDERS) != 0;
    if (bordered)
        InflateRect(&rect, -LCF_BORDER_MARGIN, -LCF_BORDER_MARGIN);
    DrawTextA(dc, m_Text.GetText(), -1, &rect, m_Format);
    if (bordered)
    {
        InflateRect(&rect, LCF_BORDER_MARGIN, LCF_BORDER_MARGIN);
        DrawBorders(dc, rect);
    }
    if ((m_Flags & LCF_FOCUSED) && !(m_Flags & LCF_NOFOCUS))
    {
        if (!(m_Flags & LCF_WHOLEAREA))
        {
            rect.left = TextLeft(clientWidth);
            rect.right = rect.left + m_nTextWidth;
        }
        DrawFocusRect(dc, &rect);
    }
    m_Lock.Leave();
    RestoreDC(dc, saved);
    EndPaint(m_hWnd, &paint);
}
