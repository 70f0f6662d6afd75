#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/ui/LinkCtrl.h"
#include "crash/ui/ControlTestSupport.h"

namespace
{

struct CFit
{
    const char *text;
    int controlHeight;
    int startHeight;
    bool atFloor; // the text fits at no height: the font stops at 4
};

bool FitsAt(HWND window, const char *face, const char *text, int height)
{
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                             face);
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT client, needed;
    GetClientRect(window, &client);
    needed = client;
    DrawTextA(dc, text, -1, &needed, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    DeleteObject(font);
    return needed.right < client.right && needed.bottom < client.bottom;
}

int FontHeight(HFONT font)
{
    LOGFONTA description = {};
    GetObjectA(font, sizeof(description), &description);
    return description.lfHeight;
}

std::vector<int> g_Events;

void RecordEvent(int event, int, UINT32 user, CLinkCtrl *)
{
    g_Events.push_back(event * 100 + static_cast<int>(user));
}

} // namespace

TEST(LinkCtrl, ShrinkToFitTakesTheLargestFittingHeightAndNeverGoesBelowFour)
{
    const std::string longText(400, 'W');
    const CFit cases[] = {
        {"Brennlow Disk Benchmark has stopped working.", 14, 40, false},
        {"Short", 40, 12, false},
        {longText.c_str(), 14, 40, true},
        {"Short", 2, 0, true}, // the client height itself is below the floor
    };
    CTestParent parent;
    for (const CFit &fit : cases)
    {
        SCOPED_TRACE(fit.text);
        HWND label = parent.AddStatic(fit.text, SS_LEFT, 0, 300, fit.controlHeight, 1006);
        CLinkCtrl link;
        ASSERT_EQ(1, link.Attach(label, NULL, fit.startHeight, 0x753709, 0x753709,
                                 LCF_REFIT | LCF_SHRINKFIT, 0, NULL, 0));
        int height = FontHeight(link.GetFont());
        if (fit.atFloor)
            EXPECT_EQ(4, height);
        else
        {
            EXPECT_TRUE(FitsAt(label, link.GetFace(), fit.text, height)) << height;
            EXPECT_TRUE(height == fit.startHeight ||
                        !FitsAt(label, link.GetFace(), fit.text, height + 1))
                << height;
        }
        EXPECT_EQ(std::string(fit.text), link.GetText());
        EXPECT_EQ(0, GetWindowTextLengthA(label));
        link.Detach();
        DestroyWindow(label);
    }
}

TEST(LinkCtrl, FaceListTakesTheFirstInstalledNameOrVerdana)
{
    std::string installed = FirstInstalledFace();
    ASSERT_FALSE(installed.empty());
    const struct
    {
        std::string faces;
        std::string expected;
    } cases[] = {
        {"NoSuchFaceA;NoSuchFaceB", "Verdana"},
        {"NoSuchFaceA,;,NoSuchFaceB;", "Verdana"}, // empty names match nothing
        {"NoSuchFaceA," + installed + ";NoSuchFaceB", installed},
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        HWND label = parent.AddStatic("x", SS_LEFT, 0, 100, 20, 1);
        CLinkCtrl link;
        link.Attach(label, c.faces.c_str(), 12, 0, 0, 0, 0, NULL, 0);
        EXPECT_EQ(c.expected, link.GetFace()) << c.faces;
        link.Detach();
        DestroyWindow(label);
    }
}

TEST(LinkCtrl, EnterAndSpaceActivateAFocusableLabel)
{
    const struct
    {
        UINT32 flags;
        DWORD style;
        WPARAM key;
        int event; // 0: none
        bool command;
    } cases[] = {
        {LCF_COMMAND, WS_TABSTOP, VK_RETURN, LCE_ENTER, true},
        {LCF_COMMAND, WS_TABSTOP, VK_SPACE, LCE_SPACE, true},
        {LCF_COMMAND, WS_TABSTOP, 'A', 0, false},
        {0, WS_TABSTOP, VK_RETURN, LCE_ENTER, false},
        {LCF_COMMAND, 0, VK_RETURN, 0, false}, // no tab stop: no keyboard handling
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.key);
        HWND label = parent.AddStatic("Link", SS_LEFT | c.style, 0, 100, 20, 1042);
        CLinkCtrl link;
        ASSERT_EQ(1, link.Attach(label, NULL, 12, 0, 0, c.flags, 0, RecordEvent, 7));
        g_Events.clear();
        parent.Commands().clear();
        SendMessageA(label, WM_KEYDOWN, c.key, 0);
        EXPECT_EQ(c.event ? std::vector<int>{c.event * 100 + 7} : std::vector<int>{}, g_Events);
        if (c.command)
            EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{
                          {1042, reinterpret_cast<LPARAM>(label)}}),
                      parent.Commands());
        else
            EXPECT_TRUE(parent.Commands().empty());
        MSG key = {label, WM_KEYDOWN, c.key, 0, 0, {0, 0}};
        LRESULT code = SendMessageA(label, WM_GETDLGCODE, c.key, reinterpret_cast<LPARAM>(&key));
        if (c.style & WS_TABSTOP)
            EXPECT_EQ(c.key == 'A' ? 0x2020 : 0x2024, code);
        else
            EXPECT_EQ(0, code & DLGC_WANTMESSAGE);
        link.Detach();
        DestroyWindow(label);
    }
}

TEST(LinkCtrl, SecondTakeoverLeavesTheFirstInCharge)
{
    CTestParent parent;
    HWND label = parent.AddStatic("Original", SS_LEFT, 0, 200, 20, 1);
    LONG_PTR staticProc = GetWindowLongPtrA(label, GWLP_WNDPROC);
    CLinkCtrl first, second;
    ASSERT_EQ(1, first.Attach(label, NULL, 12, 0, 0, 0, 0, NULL, 0));
    EXPECT_EQ(0, second.Attach(label, NULL, 12, 0, 0, 0, 0, NULL, 0));
    EXPECT_EQ(std::string("Original"), first.GetText());
    EXPECT_NE(nullptr, GetPropA(label, "_C_SubClassing_Property_73746178"));

    // Text sent to the window still reaches the first label, which reports it as taken.
    EXPECT_TRUE(SetWindowTextA(label, "Replaced"));
    EXPECT_EQ(std::string("Replaced"), first.GetText());
    EXPECT_EQ(std::string(""), second.GetText());
    EXPECT_EQ(0, GetWindowTextLengthA(label));

    first.Detach();
    EXPECT_EQ(staticProc, GetWindowLongPtrA(label, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, GetPropA(label, "_C_SubClassing_Property_73746178"));

    // A window destroyed while held gives itself back.
    CSubClassing takeover(SUBCLASS_TAG_LINK, SubClassingProc<SUBCLASS_TAG_LINK>);
    ASSERT_EQ(1, takeover.Attach(label, NULL, NULL));
    DestroyWindow(label);
    EXPECT_EQ(0, takeover.Detach());
}

TEST(MouseTracker, PollingPostsMouseLeaveSoonAfterTheCursorLeaves)
{
    CTestParent parent;
    HWND label = parent.AddStatic("Hover", SS_LEFT, 0, 100, 20, 1);
    SetCursorPos(1000, 740);

    CMouseTracker system;
    EXPECT_NE(0, system.Track(label));
    PumpUntil([&](const MSG &) { return false; }, 200);

    CMouseTracker polling;
    polling.UsePolling();
    ASSERT_NE(0, polling.Track(label));
    EXPECT_TRUE(polling.IsPolling());
    DWORD start = GetTickCount();
    bool left = PumpUntil(
        [&](const MSG &message) { return message.hwnd == label && message.message == WM_MOUSELEAVE; },
        2000);
    EXPECT_TRUE(left);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(polling.IsPolling());
}
