// Owners of the GDI resources that the dialog and its custom-drawn controls draw with:
// an object, a solid brush with its colour, and a device context with the one object
// selected into it.
#ifndef BRENNLOW_CRASH_UI_GDIOWNER_H
#define BRENNLOW_CRASH_UI_GDIOWNER_H

#include "base/Handle.h"

// Owner of one GDI object.
class CGdiHandle
{
public:
    CGdiHandle() {}
    explicit CGdiHandle(HGDIOBJ object) : m_hObject(object) {}
    CGdiHandle(const CGdiHandle &) = delete;
    CGdiHandle &operator=(const CGdiHandle &) = delete;

    // Takes object over, deleting the one held before.
    void Attach(HGDIOBJ object);
    // Gives the object up without deleting it.
    HGDIOBJ Detach();
    // The result of DeleteObject, 0 when nothing was held.
    int Release();
    HGDIOBJ Get() const { return m_hObject.Get(); }

private:
    CGdiObject m_hObject;
};

// A solid brush and its colour, for the background of WM_CTLCOLOR* answers.
class CSolidBrush
{
public:
    CSolidBrush() : m_Color(0) {}
    CSolidBrush(const CSolidBrush &) = delete;
    CSolidBrush &operator=(const CSolidBrush &) = delete;

    // Replaces a brush held before; null when the brush cannot be made.
    HBRUSH Create(COLORREF color);
    // Sets the brush colour as the context's background colour and returns the brush,
    // the value a WM_CTLCOLORSTATIC handler returns.
    HBRUSH Apply(HDC dc) const;
    int Release();
    HBRUSH Get() const { return static_cast<HBRUSH>(m_hBrush.Get()); }
    COLORREF GetColor() const { return m_Color; }

private:
    CGdiObject m_hBrush;
    COLORREF m_Color;
};

// A device context, either a window's (given back with ReleaseDC) or a created one
// (deleted), and at most one GDI object selected into it that the holder deletes.
class CDcHolder
{
public:
    CDcHolder();
    ~CDcHolder() { Release(); }
    CDcHolder(const CDcHolder &) = delete;
    CDcHolder &operator=(const CDcHolder &) = delete;

    // The device context of window (the screen's when null); width and height become its
    // client size. 0 when GetDC fails.
    int AcquireWindowDc(HWND window);
    // A memory context compatible with reference (the screen when null). 0 on failure.
    int CreateCompatibleDc(HDC reference);
    // Selects object into the context and owns it from now on; an object owned before is
    // deleted when the new one took its place. 0 when there is no context or the
    // selection fails (object then stays the caller's).
    int SelectOwned(HGDIOBJ object);
    void Release();

    HDC GetDc() const { return m_hDC; }
    HWND GetWindow() const { return m_hWnd; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }

private:
    enum { DC_CREATED = 0, DC_WINDOW = 1, DC_NONE = 2 };

    HWND m_hWnd;
    HDC m_hDC;
    CGdiObject m_hSelected;
    int m_nWidth;
    int m_nHeight;
    int m_nKind;
};

#endif
