#include "crash/ui/SubClassing.h"

#include "base/Str.h"

#define MOUSE_POLL_MS 100

// ---------------------------------------------------------------------------------------
// CSubClassing

CSubClassing::CSubClassing(UINT32 tag, WNDPROC sharedProc)
    : m_pPrevious(NULL), m_pOwner(NULL), m_pRoutine(NULL), m_hWnd(NULL), m_nTag(tag),
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
    if (IsHeld(window, m_nTag))
    {
        SetLastError(ERROR_ALREADY_EXISTS);
        return 0;
    }
    Detach();
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(m_nTag, name);
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
    CLastErrorKeeper keep;
    RemovePropA(window, name);
    m_hWnd = NULL;
    return 0;
}

int CSubClassing::Detach()
{
    if (!m_pPrevious)
        return 0;
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pPrevious));
    char name[SUBCLASS_PROPERTY_NAME_SIZE];
    FormatPropertyName(m_nTag, name);
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
