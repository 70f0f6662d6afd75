// How the label draws itself: background, borders and text.
#include "crash/ui/LinkCtrl.h"

void CLinkCtrl::FillBackground(HDC dc, const RECT &client)
{
    HBRUSH brush = NULL;
    if (!(m_nFlags & LCF_WHITEBACK))
        brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(m_hWnd), WM_CTLCOLORSTATIC,
                                                      reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(m_hWnd)));
    if (!brush)
        brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(dc, &client, brush);
}

void CLinkCtrl::DrawBorders(HDC dc, RECT rect)
{
    if (m_nFlags & (LCF_FRAME | LCF_DOUBLEFRAME))
    {
        CSolidBrush frame;
        if (frame.Create(m_FrameColor))
        {
            if (m_nFlags & LCF_FRAME)
                FrameRect(dc, &rect, frame.Get());
            if (m_nFlags & LCF_DOUBLEFRAME)
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
        if (m_nFlags & edge.flag)
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
    if (!(m_nFlags & LCF_TRANSPARENT))
        FillBackground(dc, rect);
    if (m_nFlags & LCF_DISABLED)
        SetTextColor(dc, m_DisabledColor);
    else if ((m_nFlags & LCF_HOVER) && (m_nFlags & LCF_HOT))
        SetTextColor(dc, m_HoverColor);
    else if (!(m_nFlags & LCF_KEEPCOLOR))
        SetTextColor(dc, m_NormalColor);

    int bordered = (m_nFlags & LCF_BORDERS) != 0;
    if (bordered)
        InflateRect(&rect, -LCF_BORDER_MARGIN, -LCF_BORDER_MARGIN);
    DrawTextA(dc, m_Text.GetText(), -1, &rect, m_nFormat);
    if (bordered)
    {
        InflateRect(&rect, LCF_BORDER_MARGIN, LCF_BORDER_MARGIN);
        DrawBorders(dc, rect);
    }
    if ((m_nFlags & LCF_FOCUSED) && !(m_nFlags & LCF_NOFOCUS))
    {
        if (!(m_nFlags & LCF_WHOLEAREA))
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
