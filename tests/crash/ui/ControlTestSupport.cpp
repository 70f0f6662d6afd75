#include "crash/ui/ControlTestSupport.h"

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
