#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/ui/ControlTestSupport.h"
#include "crash/ui/SysLink.h"

namespace
{

RECT RectInParent(HWND window)
{
    RECT area;
    GetWindowRect(window, &area);
    MapWindowPoints(NULL, GetParent(window), reinterpret_cast<POINT *>(&area), 2);
    return area;
}

std::vector<std::wstring> g_Clicks;

void RecordClick(int index, const wchar_t *id, UINT32 user)
{
    g_Clicks.push_back(std::to_wstring(index) + L":" + id + L":" + std::to_wstring(user));
}

NMLINK MakeClick(HWND from, UINT code, int index, const wchar_t *id, const wchar_t *url)
{
    NMLINK click = {};
    click.hdr.hwndFrom = from;
    click.hdr.code = code;
    click.item.iLink = index;
    lstrcpynW(click.item.szID, id, MAX_LINKID_TEXT);
    lstrcpynW(click.item.szUrl, url, L_MAX_URL_LENGTH);
    return click;
}

} // namespace

TEST(SeparatorLine, ResizesAroundTheLineAndDrawsWithoutAStyle)
{
    // The static control may adjust an etched line's thickness itself; the takeover works
    // from the rectangle the line has.
    const struct
    {
        DWORD style;
        int width, height;
        int horizontal;
    } cases[] = {
        {SS_ETCHEDHORZ, 200, 1, 1},
        {SS_ETCHEDVERT, 1, 100, 0},
        {SS_ETCHEDFRAME, 30, 30, 0}, // square counts as vertical
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        HWND line = parent.AddStatic("", c.style, 20, c.width, c.height, 1013, 10);
        SetWindowLongA(line, GWL_EXSTYLE, WS_EX_STATICEDGE);
        RECT before = RectInParent(line), expected;
        int width = before.right - before.left, height = before.bottom - before.top;
        if (c.horizontal)
            SetRect(&expected, before.left - 2, before.top - 1, before.left - 2 + width + 3,
                    before.top - 1 + 5);
        else
            SetRect(&expected, before.left - 1, before.top - 2, before.left - 1 + 5,
                    before.top - 2 + height + 3);

        CSeparatorLine separator, intruder;
        ASSERT_EQ(1, separator.Attach(line));
        EXPECT_EQ(c.horizontal, separator.IsHorizontal());
        RECT area = RectInParent(line);
        EXPECT_TRUE(EqualRect(&expected, &area))
            << area.left << "," << area.top << "," << area.right << "," << area.bottom;
        LONG exStyle = GetWindowLongA(line, GWL_EXSTYLE);
        EXPECT_EQ(WS_EX_TRANSPARENT, exStyle & (WS_EX_TRANSPARENT | WS_EX_STATICEDGE));

        // A second separator must not grow the line once more.
        EXPECT_EQ(0, intruder.Attach(line));
        area = RectInParent(line);
        EXPECT_TRUE(EqualRect(&expected, &area));
        EXPECT_EQ(0, SendMessageA(line, WM_PAINT, 0, 0)); // the fallback edge without a style
        separator.Detach();
        DestroyWindow(line);
    }
}

TEST(ThemeLib, DrawsNothingOnceClosed)
{
    CTestParent parent;
    CThemeLib theme;
    theme.Open(parent.Get(), L"Toolbar");
    theme.Close();
    RECT area = {0, 0, 10, 10};
    HDC dc = GetDC(parent.Get());
    EXPECT_EQ(0, theme.DrawBackground(dc, 6, 1, &area));
    ReleaseDC(parent.Get(), dc);
    EXPECT_EQ(nullptr, theme.GetTheme());
}

TEST(SysLinkCtrl, HooksTheParentOnceAndReportsClicksWithoutAddress)
{
    CTestParent parent;
    CSysLinkCtrl first, second, silent;
    if (!first.Create(parent.Get(), 10, 10, 200, 20, "See <a id=\"one\">here</a>", 0,
                      RecordClick, 5))
    {
        // Without the window class the caller shows plain text; nothing is left behind.
        EXPECT_EQ(nullptr, first.GetWindow());
        EXPECT_EQ(nullptr, GetPropA(parent.Get(), "_C_SubClassing_Property_7379736C"));
        return;
    }
    HANDLE hook = GetPropA(parent.Get(), "_C_SubClassing_Property_7379736C");
    ASSERT_NE(nullptr, hook);
    ASSERT_EQ(1, second.Create(parent.Get(), 10, 40, 200, 20, "<a id=\"two\">x</a>",
                               SLF_NOTABSTOP, RecordClick, 6));
    ASSERT_EQ(1, silent.Create(parent.Get(), 10, 70, 200, 20, "<a>y</a>", SLF_NOPARENTHOOK,
                               NULL, 0));
    EXPECT_EQ(hook, GetPropA(parent.Get(), "_C_SubClassing_Property_7379736C"));
    EXPECT_NE(0, GetWindowLongA(first.GetWindow(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(0, GetWindowLongA(second.GetWindow(), GWL_STYLE) & WS_TABSTOP);

    g_Clicks.clear();
    const struct
    {
        HWND from;
        UINT code;
    } notifications[] = {
        {first.GetWindow(), static_cast<UINT>(NM_CLICK)},
        {first.GetWindow(), static_cast<UINT>(NM_RETURN)},
        {first.GetWindow(), static_cast<UINT>(NM_DBLCLK)},   // not a link activation
        {second.GetWindow(), static_cast<UINT>(NM_CLICK)},   // parent hooked by the first only
        {silent.GetWindow(), static_cast<UINT>(NM_CLICK)},   // no address, no callback
    };
    for (const auto &n : notifications)
    {
        NMLINK click = MakeClick(n.from, n.code, 0, L"one", L"");
        SendMessageA(parent.Get(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"0:one:5", L"0:one:5"}), g_Clicks);

    // Called directly, each link acts on its own window only.
    g_Clicks.clear();
    NMLINK click = MakeClick(second.GetWindow(), static_cast<UINT>(NM_CLICK), 2, L"two", L"");
    first.OnNotify(parent.Get(), 0, &click.hdr);
    second.OnNotify(parent.Get(), 0, &click.hdr);
    EXPECT_EQ((std::vector<std::wstring>{L"2:two:6"}), g_Clicks);

    first.Destroy();
    EXPECT_EQ(nullptr, GetPropA(parent.Get(), "_C_SubClassing_Property_7379736C"));
    EXPECT_EQ(nullptr, first.GetWindow());
}
