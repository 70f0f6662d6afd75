#include "crash/ui/GdiOwner.h"

// The result of closing, 0 when nothing was held.
static int ReleaseHeld(CGdiObject &object)
{
    return object.IsHeld() ? object.Close() : 0;
}

void CGdiHandle::Attach(HGDIOBJ object)
{
    m_hObject.Reset(object);
}

HGDIOBJ CGdiHandle::Detach()
{
    return m_hObject.Release();
}

int CGdiHandle::Release()
{
    return ReleaseHeld(m_hObject);
}

HBRUSH CSolidBrush::Create(COLORREF color)
{
    m_hBrush.Reset(CreateSolidBrush(color));
    m_Color = color;
    return Get();
}

HBRUSH CSolidBrush::Apply(HDC dc) const
{
    SetBkColor(dc, m_Color);
    return Get();
}

int CSolidBrush::Release()
{
    return ReleaseHeld(m_hBrush);
}

CDcHolder::CDcHolder()
    : m_hWnd(NULL), m_hDC(NULL), m_nWidth(0), m_nHeight(0), m_nKind(DC_NONE)
{
}

int CDcHolder::AcquireWindowDc(HWND window)
{
    Release();
    m_hDC = GetDC(window);
    if (!m_hDC)
        return 0;
    m_hWnd = window;
    m_nKind = DC_WINDOW;
    RECT client;
    if (GetClientRect(window ? window : GetDesktopWindow(), &client))
    {
        m_nWidth = client.right - client.left;
        m_nHeight = client.bottom - client.top;
    }
    return 1;
}

int CDcHolder::CreateCompatibleDc(HDC reference)
{
    Release();
    m_hDC = CreateCompatibleDC(reference);
    if (!m_hDC)
        return 0;
    m_nKind = DC_CREATED;
    return 1;
}

int CDcHolder::SelectOwned(HGDIOBJ object)
{
    if (!m_hDC || !object)
        return 0;
    HGDIOBJ previous = SelectObject(m_hDC, object);
    if (!previous || previous == HGDI_ERROR)
        return 0;
    m_hSelected.Reset(object);
    return 1;
}

void CDcHolder::Release()
{
    if (m_hDC)
    {
        if (m_nKind == DC_CREATED)
            DeleteDC(m_hDC);
        else if (m_nKind == DC_WINDOW)
            ReleaseDC(m_hWnd, m_hDC);
    }
    m_hSelected.Close();
    m_hDC = NULL;
    m_hWnd = NULL;
    m_nWidth = 0;
    m_nHeight = 0;
    m_nKind = DC_NONE;
}
