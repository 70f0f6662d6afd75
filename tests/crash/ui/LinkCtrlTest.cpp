#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/ui/ControlTestSupport.h"
#include "crash/ui/LinkCtrl.h"

namespace
{

// Whether text on one line fits strictly inside the window's client area at height.
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
    DeleteObject(SelectObject(dc, previous));
    ReleaseDC(window, dc);
    return needed.right < client.right && needed.bottom < client.bottom;
}

int CALLBACK TakeFace(const LOGFONTA *font, const TEXTMETRICA *, DWORD, LPARAM user)
{
    *reinterpret_cast<std::string *>(user) = font->lfFaceName;
    return font->lfFaceName[0] == '@'; // vertical variants are no face of their own
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
    // An expected height of 0: the largest that fits.
    const struct { const char *text; int controlHeight, startHeight, expected; } cases[] = {
        {"Brennlow Disk Benchmark has stopped working.", 14, 40, 0}, {"Short", 40, 12, 12},
        {longText.c_str(), 14, 40, 4},
        {"Short", 2, 0, 4}, // the client height itself lies below the floor
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        HWND label = parent.AddStatic(c.text, SS_LEFT, 0, 0, 300, c.controlHeight, 1006);
        CLinkCtrl link;
        ASSERT_EQ(1, link.Attach(label, NULL, c.startHeight, 0x753709, 0x753709,
                                 LCF_REFIT | LCF_SHRINKFIT, 0, NULL, 0));
        LOGFONTA font = {};
        GetObjectA(link.GetFont(), sizeof(font), &font);
        if (c.expected)
            EXPECT_EQ(c.expected, font.lfHeight) << c.text;
        else
            EXPECT_TRUE(FitsAt(label, link.GetFace(), c.text, font.lfHeight) &&
                        !FitsAt(label, link.GetFace(), c.text, font.lfHeight + 1))
                << font.lfHeight;
        DestroyWindow(label);
    }
}

TEST(LinkCtrl, FaceListTakesTheFirstInstalledNameOrVerdana)
{
    std::string installed;
    EnumFontFamily(TakeFace, reinterpret_cast<LPARAM>(&installed), NULL, DEFAULT_CHARSET, NULL);
    ASSERT_FALSE(installed.empty());
    const std::pair<std::string, std::string> cases[] = {
        {"NoSuchFaceA;NoSuchFaceB", "Verdana"},
        {"NoSuchFaceA,;,NoSuchFaceB;", "Verdana"}, // empty names match nothing
        {"NoSuchFaceA," + installed + ";NoSuchFaceB", installed},
    };
    CTestParent parent;
    HWND label = parent.AddStatic("x", SS_LEFT, 0, 0, 100, 20, 1);
    for (const auto &c : cases)
    {
        CLinkCtrl link;
        link.Attach(label, c.first.c_str(), 12, 0, 0, 0, 0, NULL, 0);
        EXPECT_EQ(c.second, link.GetFace()) << c.first;
    }
}

TEST(LinkCtrl, EnterAndSpaceActivateAFocusableLabel)
{
    const struct { UINT32 flags; DWORD style; WPARAM key; int event; bool command; } cases[] = {
        {LCF_COMMAND, WS_TABSTOP, VK_RETURN, LCE_ENTER, true},
        {LCF_COMMAND, WS_TABSTOP, VK_SPACE, LCE_SPACE, true},
        {LCF_COMMAND, WS_TABSTOP, 'A', 0, false}, {0, WS_TABSTOP, VK_RETURN, LCE_ENTER, false},
        {LCF_COMMAND, 0, VK_RETURN, 0, false}, // no tab stop: no keyboard handling
    };
    CTestParent parent;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.key);
        HWND label = parent.AddStatic("Link", SS_LEFT | c.style, 0, 0, 100, 20, 1042);
        CLinkCtrl link;
        ASSERT_EQ(1, link.Attach(label, NULL, 12, 0, 0, c.flags, 0, RecordEvent, 7));
        g_Events.clear();
        CTestParent::s_Commands.clear();
        SendMessageA(label, WM_KEYDOWN, c.key, 0);
        EXPECT_EQ(c.event ? std::vector<int>{c.event * 100 + 7} : std::vector<int>{}, g_Events);
        std::vector<std::pair<WPARAM, LPARAM>> commands;
        if (c.command)
            commands.emplace_back(1042, reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(commands, CTestParent::s_Commands);
        MSG key = {label, WM_KEYDOWN, c.key, 0, 0, {0, 0}};
        LRESULT code = SendMessageA(label, WM_GETDLGCODE, c.key, reinterpret_cast<LPARAM>(&key));
        EXPECT_EQ(!c.style ? 0 : c.key == 'A' ? 0x2020 : 0x2024, code & 0x2024);
        DestroyWindow(label);
    }
}

TEST(LinkCtrl, SecondTakeoverLeavesTheFirstInCharge)
{
    CTestParent parent;
    HWND label = parent.AddStatic("Original", SS_LEFT, 0, 0, 200, 20, 1);
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

    // Attaching again, or giving the window back, keeps the text.
    ASSERT_EQ(1, first.Attach(label, NULL, 12, 0, 0, 0, 0, NULL, 0));
    EXPECT_EQ(std::string("Replaced"), first.GetText());
    first.Detach();
    EXPECT_EQ(staticProc, GetWindowLongPtrA(label, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, GetPropA(label, "_C_SubClassing_Property_73746178"));
    EXPECT_EQ(8, GetWindowTextLengthA(label));

    // A window destroyed while held gives itself back.
    CSubClassing takeover(SUBCLASS_TAG_LINK, SubClassingProc<SUBCLASS_TAG_LINK>);
    ASSERT_EQ(1, takeover.Attach(label, NULL, NULL));
    DestroyWindow(label);
    EXPECT_EQ(0, takeover.Detach());
}

TEST(MouseTracker, PollingPostsMouseLeaveSoonAfterTheCursorLeaves)
{
    CTestParent parent;
    HWND label = parent.AddStatic("Hover", SS_LEFT, 0, 0, 100, 20, 1);
    SetCursorPos(1000, 740);
    CMouseTracker polling, system;
    polling.UsePolling();
    ASSERT_NE(0, polling.Track(label));
    EXPECT_TRUE(polling.IsPolling());
    DWORD start = GetTickCount();
    MSG message = {};
    while (GetTickCount() - start < 1000 &&
           !(message.hwnd == label && message.message == WM_MOUSELEAVE))
        if (!PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        else if (message.message == WM_TIMER)
            DispatchMessageA(&message);
    EXPECT_EQ(static_cast<UINT>(WM_MOUSELEAVE), message.message);
    EXPECT_FALSE(polling.IsPolling());
    EXPECT_NE(0, system.Track(label)); // the system checks the structure's size
}
