// The skinned dialog bases on a real dialog: no system frame, the hot zones
// and the caption drag zone, maximise and restore, the caption buttons, the
// region and the caption drawing.
#include "DialogBase.h"
#include "LookSupport.h"
#include "SkinConfig.h"
#include "TestSupport.h"
#include "resource.h"
#include "res/test_resource.h"

#include <gtest/gtest.h>

using looktest::Canvas;
using testsupport::PumpPending;

namespace {

class SkinnedDialog : public CDialogBase {
public:
    SkinnedDialog() : CDialogBase(IDD_TEST_SKINNED) {}
    std::vector<WPARAM> sysCommands;
    bool setupCaption = true;
    int menuButtonCalls = 0;

    using CDialogBase::m_btnClose;
    using CDialogBase::m_btnMaximize;
    using CDialogBase::m_btnMenu;
    using CDialogBase::m_btnMinimize;
    using CDialogBase::m_btnTopMost;

    void OnMenuButton() override { ++menuButtonCalls; }

protected:
    BOOL OnInitDialog() override
    {
        CDialogBase::OnInitDialog();
        SetCaptionDragZone(0, 30);
        if (setupCaption)
            SetupCaption();
        return TRUE;
    }
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        // Sizing and moving would start the system's modal loops: record them only.
        if (msg == WM_SYSCOMMAND) {
            sysCommands.push_back(wp);
            UINT cmd = static_cast<UINT>(wp & 0xFFF0);
            if (cmd == SC_SIZE || cmd == SC_MOVE || cmd == SC_CLOSE)
                return 0;
        }
        return CDialogBase::WindowProc(msg, wp, lp);
    }
};

struct Fixture : ::testing::Test {
    SkinnedDialog dlg;
    void SetUp() override
    {
        g_skin.SetFrameColor(0x996633);
        g_skin.m_strName = L"测试播放器";
        ASSERT_TRUE(dlg.Create(IDD_TEST_SKINNED));
        ::SetWindowPos(dlg, nullptr, 50, 50, 400, 300, SWP_NOZORDER | SWP_SHOWWINDOW);
        PumpPending();
    }
    std::wstring TipOf(const CSkinButton& b) { return b.GetTooltipText(); }
};

using SkinnedDialogTest = Fixture;

LPARAM At(int x, int y)
{
    return MAKELPARAM(x, y);
}

} // namespace

TEST_F(SkinnedDialogTest, TheWholeWindowIsClientArea)
{
    CRect window = dlg.GetWindowRect(), client = dlg.GetClientRect();
    EXPECT_EQ(client.Size().cx, window.Width());
    EXPECT_EQ(client.Size().cy, window.Height());
    POINT origin = {0, 0};
    ::ClientToScreen(dlg, &origin);
    EXPECT_EQ(CPoint(origin), window.TopLeft());
    // The template's minimise box is kept or added.
    EXPECT_TRUE(dlg.GetStyle() & WS_MINIMIZEBOX);
}

TEST_F(SkinnedDialogTest, BorderZonesSizeAndTheCaptionZoneDrags)
{
    HCURSOR ns = ::LoadCursorW(nullptr, IDC_SIZENS), we = ::LoadCursorW(nullptr, IDC_SIZEWE);
    HCURSOR nwse = ::LoadCursorW(nullptr, IDC_SIZENWSE), nesw = ::LoadCursorW(nullptr, IDC_SIZENESW);
    struct Zone {
        int x, y;
        WPARAM command;
        HCURSOR cursor;
    };
    const Zone zones[] = {
        {1, 150, 0xF001, we},   {398, 150, 0xF002, we},  {200, 1, 0xF003, ns},   {2, 2, 0xF004, nwse},
        {397, 2, 0xF005, nesw}, {200, 298, 0xF006, ns},  {2, 297, 0xF007, nesw}, {397, 297, 0xF008, nwse},
    };
    for (const Zone& z : zones) {
        ::SetCursor(nullptr);
        dlg.SendMessage(WM_MOUSEMOVE, 0, At(z.x, z.y));
        EXPECT_EQ(::GetCursor(), z.cursor) << z.x << "," << z.y;
        ::SetCursor(nullptr);
        dlg.sysCommands.clear();
        dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(z.x, z.y));
        ASSERT_EQ(dlg.sysCommands.size(), 1u) << z.x << "," << z.y;
        EXPECT_EQ(dlg.sysCommands[0], z.command) << z.x << "," << z.y;
        EXPECT_EQ(::GetCursor(), z.cursor);
    }
    // Inside the caption strip, down to y = 30: the window is dragged.
    for (int y : {10, 30}) {
        dlg.sysCommands.clear();
        ::SetCursor(nullptr);
        dlg.SendMessage(WM_MOUSEMOVE, 0, At(100, y));
        EXPECT_EQ(::GetCursor(), nullptr);
        dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(100, y));
        ASSERT_EQ(dlg.sysCommands.size(), 1u);
        EXPECT_EQ(dlg.sysCommands[0], static_cast<WPARAM>(0xF012));
    }
    // Below it, in the margin or the panes' area: nothing.
    dlg.sysCommands.clear();
    dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(100, 31));
    dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(200, 150));
    EXPECT_TRUE(dlg.sysCommands.empty());
}

TEST_F(SkinnedDialogTest, MaximisedThereAreNoHotZonesAndADoubleClickRestores)
{
    EXPECT_EQ(TipOf(dlg.m_btnMaximize), L"最大化");
    dlg.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, At(100, 10));
    PumpPending();
    ASSERT_TRUE(::IsZoomed(dlg));
    EXPECT_TRUE(dlg.m_btnMaximize.IsChecked());
    EXPECT_EQ(TipOf(dlg.m_btnMaximize), L"向下还原");

    HCURSOR mark = ::LoadCursorW(nullptr, IDC_CROSS);
    ::SetCursor(mark);
    dlg.sysCommands.clear();
    dlg.SendMessage(WM_MOUSEMOVE, 0, At(1, 150));
    dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(1, 150));
    dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(100, 10));
    EXPECT_EQ(::GetCursor(), mark);
    EXPECT_TRUE(dlg.sysCommands.empty()); // neither sizing nor dragging

    // A double click below the caption does nothing; in the caption it restores.
    dlg.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, At(100, 200));
    EXPECT_TRUE(::IsZoomed(dlg));
    dlg.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, At(100, 10));
    PumpPending();
    EXPECT_FALSE(::IsZoomed(dlg));
    EXPECT_FALSE(dlg.m_btnMaximize.IsChecked());
    EXPECT_EQ(TipOf(dlg.m_btnMaximize), L"最大化");
    EXPECT_EQ(dlg.GetWindowRect().Width(), 400);

    // The caption button does the same through the system commands.
    dlg.m_btnMaximize.SendMessage(BM_CLICK);
    PumpPending();
    EXPECT_TRUE(::IsZoomed(dlg));
    EXPECT_EQ(TipOf(dlg.m_btnMaximize), L"向下还原");
    // Maximised, it covers the monitor's work area exactly, not past its edges.
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(dlg, MONITOR_DEFAULTTONEAREST), &mi));
    EXPECT_EQ(dlg.GetWindowRect(), CRect(mi.rcWork));
    // Minimised, the frame's region keeps the restored shape.
    dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PumpPending();
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(dlg, rgn), ERROR);
    RECT box = {};
    ::GetRgnBox(rgn, &box);
    ::DeleteObject(rgn);
    EXPECT_EQ(box.right - box.left, mi.rcWork.right - mi.rcWork.left);
    dlg.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpPending();
    EXPECT_TRUE(::IsZoomed(dlg));
    dlg.m_btnMaximize.SendMessage(BM_CLICK);
    PumpPending();
    EXPECT_FALSE(::IsZoomed(dlg));
}

TEST_F(SkinnedDialogTest, CaptionButtonsSitRightToLeftAndDoTheirCommands)
{
    const CRect client = dlg.GetClientRect();
    int right = client.right - 8;
    for (CSkinButton* b : {&dlg.m_btnClose, &dlg.m_btnMaximize, &dlg.m_btnMinimize, &dlg.m_btnTopMost,
                           &dlg.m_btnMenu}) {
        ASSERT_TRUE(b->IsWindow());
        CRect r = b->GetWindowRect();
        ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r, CRect(right - 16, 6, right, 22));
        right -= 20;
    }
    EXPECT_EQ(TipOf(dlg.m_btnClose), L"关闭");
    EXPECT_EQ(TipOf(dlg.m_btnMinimize), L"最小化");
    EXPECT_EQ(TipOf(dlg.m_btnMenu), L"打开菜单");

    dlg.m_btnClose.SendMessage(BM_CLICK);
    dlg.m_btnMenu.SendMessage(BM_CLICK);
    ASSERT_FALSE(dlg.sysCommands.empty());
    EXPECT_EQ(dlg.sysCommands.back(), static_cast<WPARAM>(SC_CLOSE));
    EXPECT_EQ(dlg.menuButtonCalls, 1);
    dlg.m_btnMinimize.SendMessage(BM_CLICK);
    PumpPending();
    EXPECT_TRUE(::IsIconic(dlg));
    dlg.ShowWindow(SW_RESTORE);

    // Re-placed at every size.
    ::SetWindowPos(dlg, nullptr, 0, 0, 600, 300, SWP_NOMOVE | SWP_NOZORDER);
    CRect close = dlg.m_btnClose.GetWindowRect();
    ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&close), 2);
    EXPECT_EQ(close.right, 600 - 8);
}

TEST(SkinnedDialogTopmost, ToggledTwiceIsOffAgain)
{
    g_skin.SetFrameColor(0x996633);
    SkinnedDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST_SKINNED));
    ::SetWindowPos(dlg, nullptr, 50, 50, 400, 300, SWP_NOZORDER | SWP_SHOWWINDOW);
    auto tip = [&] { return dlg.m_btnTopMost.GetTooltipText(); };
    EXPECT_EQ(tip(), L"置于最上层");
    dlg.m_btnTopMost.SendMessage(BM_CLICK);
    EXPECT_TRUE(dlg.m_bTopMost);
    // Not asserting WS_EX_TOPMOST here: under Wine the first dialog of a
    // process keeps it clear although SetWindowPos succeeds.
    EXPECT_TRUE(dlg.m_btnTopMost.IsChecked());
    EXPECT_EQ(tip(), L"取消置于最上层");
    dlg.ToggleTopMost();
    EXPECT_FALSE(dlg.m_bTopMost);
    EXPECT_FALSE(dlg.GetExStyle() & WS_EX_TOPMOST);
    EXPECT_FALSE(dlg.m_btnTopMost.IsChecked());
    EXPECT_EQ(tip(), L"置于最上层");
}

TEST_F(SkinnedDialogTest, OnlyTheTopCornersAreCut)
{
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(dlg, rgn), ERROR);
    EXPECT_FALSE(::PtInRegion(rgn, 0, 0));
    EXPECT_FALSE(::PtInRegion(rgn, 399, 0));
    EXPECT_TRUE(::PtInRegion(rgn, 8, 0));
    EXPECT_TRUE(::PtInRegion(rgn, 0, 8));
    EXPECT_TRUE(::PtInRegion(rgn, 0, 299));
    EXPECT_TRUE(::PtInRegion(rgn, 399, 299));
    EXPECT_TRUE(::PtInRegion(rgn, 200, 150));
    ::DeleteObject(rgn);
}

TEST_F(SkinnedDialogTest, EnterAndEscapeDoNotEndTheDialog)
{
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        MSG msg = {dlg, WM_KEYDOWN, key, 0, 0, {0, 0}};
        EXPECT_TRUE(dlg.PreTranslateMessage(&msg));
    }
    dlg.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
    PumpPending();
    EXPECT_TRUE(dlg.IsWindowVisible());
}

namespace {

// The first column at which the caption row y has white title pixels, or -1.
int FirstWhite(const Canvas& c, int fromX, int toX)
{
    for (int x = fromX; x < toX; ++x)
        for (int y = 3; y < 24; ++y)
            if (c.At(x, y) == RGB(255, 255, 255))
                return x;
    return -1;
}

} // namespace

TEST(SkinnedDialogDrawing, CaptionStripIconAndTitleEndingBeforeTheButtons)
{
    g_skin.SetFrameColor(0x996633);
    g_skin.m_strName = std::wstring(200, L'W');
    SkinnedDialog dlg;
    dlg.setupCaption = true;
    ASSERT_TRUE(dlg.Create(IDD_TEST_SKINNED));
    ::SetWindowPos(dlg, nullptr, 0, 0, 1000, 300, SWP_NOMOVE | SWP_NOZORDER);
    {
        Canvas c(1000, 300, 0);
        CDC dc(c.dc());
        dlg.DrawClient(&dc, dlg.GetClientRect());
        EXPECT_EQ(c.At(500, 30), g_skin.m_clrFrameShade);    // caption strip, 31 rows
        EXPECT_EQ(c.At(500, 31), g_skin.m_clrFrame);         // background below it
        EXPECT_EQ(c.At(500, 299), g_skin.m_clrFrameDark);    // the frame's outline
        EXPECT_EQ(c.At(0, 150), g_skin.m_clrFrameDark);
        const int first = FirstWhite(c, 0, 1000);
        EXPECT_GE(first, 5);
        EXPECT_LT(first, 26);                                 // no skin icon: title from x = 5
        // The title runs up to the leftmost caption button, never under it.
        CRect menu = dlg.m_btnMenu.GetWindowRect();
        ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&menu), 2);
        EXPECT_GT(FirstWhite(c, menu.left - 60, menu.left - 6), 0);
        EXPECT_EQ(FirstWhite(c, menu.left - 3, menu.left + 20), -1) << menu.left << " " << menu.right;
    }
    // Narrower, it ends before the buttons again (with an ellipsis).
    ::SetWindowPos(dlg, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER);
    {
        Canvas c(500, 300, 0);
        CDC dc(c.dc());
        dlg.DrawClient(&dc, dlg.GetClientRect());
        CRect menu = dlg.m_btnMenu.GetWindowRect();
        ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&menu), 2);
        EXPECT_LT(menu.left, 450);
        EXPECT_GT(FirstWhite(c, menu.left - 60, menu.left - 6), 0);
        EXPECT_EQ(FirstWhite(c, menu.left - 3, menu.left + 20), -1);
    }
    // An ampersand is text, not a mnemonic: "A&B" is wider than "AB".
    auto span = [&](const wchar_t* title) {
        dlg.SetTitle(title);
        Canvas c(500, 300, 0);
        CDC dc(c.dc());
        dlg.DrawClient(&dc, dlg.GetClientRect());
        int last = -1;
        for (int x = 5; x < 400; ++x)
            if (FirstWhite(c, x, x + 1) == x)
                last = x;
        return last - FirstWhite(c, 0, 400);
    };
    EXPECT_GT(span(L"A&B"), span(L"AB") + 2) << "the ampersand was taken as a mnemonic";
    dlg.SetTitle(std::wstring(200, L'W'));
    g_skin.m_strName = std::wstring(200, L'W');
    ::SetWindowPos(dlg, nullptr, 0, 0, 1000, 300, SWP_NOMOVE | SWP_NOZORDER);
    // With the skin's icon the title moves to x = 26.
    g_skin.m_hIcon = static_cast<HICON>(::LoadImageW(nullptr, looktest::ArtFile(L"skin.ico").c_str(), IMAGE_ICON,
                                                     16, 16, LR_LOADFROMFILE));
    ASSERT_NE(g_skin.m_hIcon, nullptr);
    {
        Canvas c(1000, 300, 0);
        CDC dc(c.dc());
        dlg.DrawClient(&dc, dlg.GetClientRect());
        EXPECT_GE(FirstWhite(c, 21, 1000), 26);
        EXPECT_NE(c.At(12, 12), g_skin.m_clrFrameShade); // the icon is drawn
    }
    // A colour change shows at the next drawing.
    g_skin.SetFrameColor(RGB(0, 128, 0));
    Canvas c(1000, 300, 0);
    CDC dc(c.dc());
    dlg.DrawClient(&dc, dlg.GetClientRect());
    EXPECT_EQ(c.At(500, 30), g_skin.m_clrFrameShade);
    EXPECT_EQ(c.At(500, 299), g_skin.m_clrFrameDark);
}
