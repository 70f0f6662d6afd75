// The window takeover that the custom-drawn controls share, and mouse-leave tracking.
#ifndef BRENNLOW_CRASH_UI_SUBCLASSING_H
#define BRENNLOW_CRASH_UI_SUBCLASSING_H

#include <windows.h>

#include "base/DynLib.h"

// Tags of the owner kinds; each kind finds its record through its own window property.
#define SUBCLASS_TAG_LINK 0x73746178u
#define SUBCLASS_TAG_SYSLINK 0x7379736Cu
#define SUBCLASS_TAG_SEPARATOR 0x64697669u

// Bytes that hold "_C_SubClassing_Property_%08X" and its terminator.
#define SUBCLASS_PROPERTY_NAME_SIZE 40

// Returns 1 when it handled the message; *result is then what the window procedure
// returns. Any other value passes the message on to the window's previous procedure.
typedef int (*SubClassRoutine)(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                               LONG *result, void *owner);

// Takeover of an existing window's procedure. One window is held by at most one owner of
// each kind (tag) at a time.
class CSubClassing
{
public:
    // sharedProc is the window procedure of the owner kind: SubClassingProc<tag>.
    CSubClassing(UINT32 tag, WNDPROC sharedProc);
    ~CSubClassing();
    CSubClassing(const CSubClassing &) = delete;
    CSubClassing &operator=(const CSubClassing &) = delete;

    // 0 when a window property of this tag already exists on window (it is left alone).
    int Attach(HWND window, SubClassRoutine routine, void *owner);
    // 0 when no window was held.
    int Detach();

    HWND GetWindow() const { return m_hWnd; }
    int IsAttached() const { return m_pPrevious != NULL; }
    // Hands a message to the procedure that the takeover replaced.
    LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;

    // 1 when window carries a takeover of tag.
    static int IsHeld(HWND window, UINT32 tag);
    static void FormatPropertyName(UINT32 tag, char name[SUBCLASS_PROPERTY_NAME_SIZE]);
    // The body of every shared window procedure.
    static LRESULT Dispatch(UINT32 tag, HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam);

private:
    WNDPROC m_pPrevious;
    void *m_pOwner;
    SubClassRoutine m_pRoutine;
    HWND m_hWnd;
    UINT32 m_nTag;
    WNDPROC m_pSharedProc;
};

template <UINT32 Tag>
LRESULT CALLBACK SubClassingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CSubClassing::Dispatch(Tag, window, message, wParam, lParam);
}

// Posts one WM_MOUSELEAVE when the mouse leaves a window: through TrackMouseEvent where
// the system has it, otherwise by polling the cursor every 100 milliseconds.
class CMouseTracker
{
public:
    CMouseTracker();
    virtual ~CMouseTracker();
    CMouseTracker(const CMouseTracker &) = delete;
    CMouseTracker &operator=(const CMouseTracker &) = delete;

    // Non-zero on success.
    int Track(HWND window);
    // Tracks by polling from now on, as on systems without TrackMouseEvent.
    void UsePolling() { m_pTrackMouseEvent = NULL; }
    int IsPolling() const { return m_hWnd != NULL; }

private:

    static void CALLBACK PollCursor(HWND window, UINT message, UINT_PTR id, DWORD time);
    void StopPolling();

    CDynLib m_User32;
    DYN_PROC(TrackMouseEvent) m_pTrackMouseEvent;
    RECT m_WindowRect;
    HWND m_hWnd;
};

#endif
