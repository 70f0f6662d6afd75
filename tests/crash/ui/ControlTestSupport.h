// A hidden top-level window that records the commands its children send, for the tests
// of the custom-drawn controls; a driver of the dialogs that code under test shows.
#ifndef BRENNLOW_TESTS_CRASH_UI_CONTROLTESTSUPPORT_H
#define BRENNLOW_TESTS_CRASH_UI_CONTROLTESTSUPPORT_H

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

class CTestParent
{
public:
    CTestParent();
    ~CTestParent() { DestroyWindow(m_hWnd); }

    HWND Get() const { return m_hWnd; }
    HWND AddStatic(const char *text, DWORD style, int left, int top, int width, int height,
                   int id);
    // (wParam, lParam) of every WM_COMMAND received by any test parent
    static std::vector<std::pair<WPARAM, LPARAM>> s_Commands;

private:
    HWND m_hWnd;
};

// A dialog that a thread of the process shows, or null.
HWND FindShownDialog(DWORD process);

// Runs show while a second thread waits for the dialog of this process that it shows and
// works it with action, through messages only; a dialog still open afterwards is cancelled.
// Returns whether a dialog was shown.
bool DriveDialog(const std::function<void()> &show, const std::function<void(HWND)> &action);

#endif
