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

} // namespace

TEST(SeparatorLine, ResizesAroundTheLineOnce)
{
    // The static control may set an etched line's thickness itself; the takeover works
    // from the rectangle the line has.
    const struct { DWORD style; int width, height, horizontal; } cases[] = {
        {SS_ETCHEDHORZ, 200, 1, 1}, {SS_ETCHEDVERT, 1, 100, 0},
        {SS_ETCHEDFRAME, 30, 30, 0}, // square counts as vertical
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        HWND line = parent.AddStatic("", c.style, 10, 20, c.width, c.height, 1013);
        SetWindowLongA(line, GWL_EXSTYLE, WS_EX_STATICEDGE);
        RECT expected = RectInParent(line);
        if (c.horizontal)
            SetRect(&expected, expected.left - 2, expected.top - 1, expected.right + 1,
                    expected.top + 4);
        else
            SetRect(&expected, expected.left - 1, expected.top - 2, expected.left + 4,
                    expected.bottom + 1);
        CSeparatorLine separator, intruder;
        ASSERT_EQ(1, separator.Attach(line));
        EXPECT_EQ(0, intruder.Attach(line)); // must not grow the line once more
        RECT area = RectInParent(line);
        EXPECT_TRUE(EqualRect(&expected, &area)) << c.style;
        EXPECT_EQ(c.horizontal, separator.IsHorizontal());
        EXPECT_EQ(WS_EX_TRANSPARENT,
                  GetWindowLongA(line, GWL_EXSTYLE) & (WS_EX_TRANSPARENT | WS_EX_STATICEDGE));
        EXPECT_EQ(0, SendMessageA(line, WM_PAINT, 0, 0)); // drawn without a visual style
        DestroyWindow(line);
    }
}

TEST(SysLinkCtrl, HooksTheParentOnceAndReportsClicksWithoutAddress)
{
    CTestParent parent;
    CSysLinkCtrl first, second;
    const char *hookName = "_C_SubClassing_Property_7379736C";
    if (!first.Create(parent.Get(), 10, 10, 200, 20, "<a id=\"one\">x</a>", 0, RecordClick, 5))
    {
        // Without the window class the caller shows plain text; nothing is left behind.
        EXPECT_EQ(nullptr, GetPropA(parent.Get(), hookName));
        return;
    }
    HANDLE hook = GetPropA(parent.Get(), hookName);
    ASSERT_EQ(1, second.Create(parent.Get(), 10, 40, 200, 20, "<a>y</a>", 0,
                               RecordClick, 6));
    EXPECT_TRUE(hook && hook == GetPropA(parent.Get(), hookName));

    g_Clicks.clear();
    const std::pair<HWND, int> notifications[] = {
        {first.GetWindow(), NM_CLICK}, {first.GetWindow(), NM_RETURN},
        {first.GetWindow(), NM_DBLCLK},  // not a link activation
        {second.GetWindow(), NM_CLICK},  // the parent is hooked by the first only
    };
    for (const auto &n : notifications)
    {
        NMLINK click = {};
        click.hdr.hwndFrom = n.first;
        click.hdr.code = static_cast<UINT>(n.second);
        click.item.iLink = 3;
        lstrcpyW(click.item.szID, L"one");
        SendMessageA(parent.Get(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"3:one:5", L"3:one:5"}), g_Clicks);

    first.Destroy();
    EXPECT_EQ(nullptr, GetPropA(parent.Get(), hookName));
    EXPECT_EQ(nullptr, first.GetWindow());
}
