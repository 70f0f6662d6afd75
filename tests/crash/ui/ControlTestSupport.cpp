#include "crash/ui/ControlTestSupport.h"

static const char g_ParentClass[] = "BrennlowTestParent";

CTestParent::CTestParent()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = g_ParentClass;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassA(&windowClass); // fails harmlessly once registered
    m_hWnd = CreateWindowExA(0, g_ParentClass, "Test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             0, 0, 500, 300, NULL, NULL, GetModuleHandleA(NULL), NULL);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CTestParent::~CTestParent()
{
    DestroyWindow(m_hWnd);
}

HWND CTestParent::AddStatic(const char *text, DWORD style, int top, int width, int height,
                            int id, int left)
{
    return CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | style, left, top, width,
                           height, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(NULL), NULL);
}

LRESULT CALLBACK CTestParent::WindowProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam)
{
    CTestParent *parent =
        reinterpret_cast<CTestParent *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (parent && message == WM_COMMAND)
        parent->m_Commands.push_back({wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

bool PumpUntil(const std::function<bool(const MSG &)> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs)
    {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        {
            if (done(message))
                return true;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return false;
}

static int CALLBACK TakeFace(const LOGFONTA *font, const TEXTMETRICA *, DWORD, LPARAM user)
{
    *reinterpret_cast<std::string *>(user) = font->lfFaceName;
    return font->lfFaceName[0] == '@'; // vertical variants are no face of their own
}

std::string FirstInstalledFace()
{
    std::string face;
    LOGFONTA filter = {};
    filter.lfCharSet = DEFAULT_CHARSET;
    HDC screen = GetDC(NULL);
    EnumFontFamiliesExA(screen, &filter, reinterpret_cast<FONTENUMPROCA>(TakeFace),
                        reinterpret_cast<LPARAM>(&face), 0);
    ReleaseDC(NULL, screen);
    return face;
}
