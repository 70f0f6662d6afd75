#include "crash/ui/ControlTestSupport.h"

#include <string.h>

#include <atomic>
#include <thread>

std::vector<std::pair<WPARAM, LPARAM>> CTestParent::s_Commands;

static LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        CTestParent::s_Commands.push_back({wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

CTestParent::CTestParent()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordCommands;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "BrennlowTestParent";
    RegisterClassA(&windowClass); // fails harmlessly once registered
    m_hWnd = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 500,
                             300, NULL, NULL, windowClass.hInstance, NULL);
}

HWND CTestParent::AddStatic(const char *text, DWORD style, int left, int top, int width,
                            int height, int id)
{
    return CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | style, left, top, width,
                           height, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(NULL), NULL);
}

static BOOL CALLBACK MatchShownDialog(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<std::pair<DWORD, HWND> *>(param);
    DWORD process = 0;
    char name[8] = "";
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, name, sizeof(name));
    if (process != search->first || strcmp(name, "#32770") || !IsWindowVisible(window))
        return TRUE;
    search->second = window;
    return FALSE;
}

HWND FindShownDialog(DWORD process)
{
    std::pair<DWORD, HWND> search(process, NULL);
    EnumWindows(MatchShownDialog, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

bool DriveDialog(const std::function<void()> &show, const std::function<void(HWND)> &action)
{
    std::atomic<bool> done(false), seen(false);
    // The display driver starts on first use. Started by the driver thread while show runs
    // the machine query, whose libraries reach for the driver under the loader lock, the
    // two threads would wait for each other for good.
    FindShownDialog(GetCurrentProcessId());
    std::thread driver([&] {
        // The send flow prepares its form, the machine query taking up to 10 s, before it
        // shows the dialog.
        HWND dialog = NULL;
        for (int wait = 0; !dialog && !done && wait < 3000; wait++, Sleep(10))
            dialog = FindShownDialog(GetCurrentProcessId());
        if (!dialog)
            return;
        seen = true;
        action(dialog);
        for (int wait = 0; IsWindow(dialog) && wait < 500; wait++)
            Sleep(10);
        if (IsWindow(dialog))
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    show();
    done = true;
    driver.join();
    return seen;
}

