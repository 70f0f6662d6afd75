// A hidden top-level window that records the commands its children send, and message
// pumping for the window tests.
#ifndef BRENNLOW_TESTS_CRASH_UI_CONTROLTESTSUPPORT_H
#define BRENNLOW_TESTS_CRASH_UI_CONTROLTESTSUPPORT_H

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class CTestParent
{
public:
    CTestParent();
    ~CTestParent();
    CTestParent(const CTestParent &) = delete;
    CTestParent &operator=(const CTestParent &) = delete;

    HWND Get() const { return m_hWnd; }
    HWND AddStatic(const char *text, DWORD style, int top, int width, int height, int id,
                   int left = 0);
    // (wParam, lParam) of every WM_COMMAND received
    std::vector<std::pair<WPARAM, LPARAM>> &Commands() { return m_Commands; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd;
    std::vector<std::pair<WPARAM, LPARAM>> m_Commands;
};

// Dispatches messages until done accepts one (true) or timeoutMs passes (false).
bool PumpUntil(const std::function<bool(const MSG &)> &done, DWORD timeoutMs);

// The name of some installed font family.
std::string FirstInstalledFace();

#endif
