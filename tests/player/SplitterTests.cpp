// The splitter bar fed real mouse messages: what it reports, where the
// tracker goes, and the collapse button of the list's bar.
#include "LookSupport.h"
#include "SkinConfig.h"
#include "SplitterBar.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using looktest::HostWindow;

namespace {

class TrackedBar : public CSplitterBar {
public:
    using CSplitterBar::m_rcTracker;
};

class TrackedListBar : public CListSplitter {
public:
    using CSplitterBar::m_rcTracker;
};

// A frame stand-in that takes the collapse requests.
class ListHost : public HostWindow, public IListPaneHost {
public:
    std::vector<BOOL> collapses;
    void SetListCollapsed(BOOL collapsed) override { collapses.push_back(collapsed); }
};

LPARAM At(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
}

HCURSOR CursorOver(CWnd& wnd)
{
    ::SetCursor(nullptr);
    wnd.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(wnd.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return ::GetCursor();
}

} // namespace

TEST(Splitter, ReportsTheRawDistanceWhileTheTrackerStaysInsideTheParent)
{
    HostWindow host(CRect(100, 100, 700, 500), WS_POPUP | WS_VISIBLE);
    TrackedBar bar;
    ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(300, 30, 306, 390), &host, 9999));
    bar.SetOrientation(CSplitterBar::Vertical);
    EXPECT_EQ(CursorOver(bar), ::LoadCursorW(nullptr, IDC_SIZEWE));

    // A click without movement tells nobody.
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(3, 50));
    EXPECT_EQ(::GetCapture(), bar.m_hWnd);
    bar.SendMessage(WM_LBUTTONUP, 0, At(3, 50));
    EXPECT_TRUE(host.splitterDeltas.empty());
    EXPECT_EQ(::GetCapture(), nullptr);

    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(3, 50));
    bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At(-37, 60));
    EXPECT_EQ(bar.m_rcTracker, CRect(100 + 260, 130, 100 + 266, 490));
    bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At(-500, 60));
    EXPECT_EQ(bar.m_rcTracker.left, 100); // flush with the parent's left edge
    bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At(900, 60));
    EXPECT_EQ(bar.m_rcTracker.right, 700); // and with its right edge
    bar.SendMessage(WM_LBUTTONUP, 0, At(900, 60));
    ASSERT_EQ(host.splitterDeltas.size(), 1u);
    EXPECT_EQ(host.splitterDeltas[0], 897);
    EXPECT_FALSE(bar.IsDragging());

    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(3, 50));
    bar.SendMessage(WM_LBUTTONUP, 0, At(-500, 50));
    ASSERT_EQ(host.splitterDeltas.size(), 2u);
    EXPECT_EQ(host.splitterDeltas[1], -503);
    // The notification names the bar.
    const auto& sent = host.received.back();
    EXPECT_EQ(sent.msg, static_cast<UINT>(WM_NOTIFY));
    EXPECT_EQ(sent.wp, 9999u);
    auto* nm = reinterpret_cast<NMHDR*>(sent.lp);
    (void)nm; // gone with the send; the recorded delta above is what counts
}

TEST(Splitter, AHorizontalBarReportsVerticalDistances)
{
    HostWindow host(CRect(100, 100, 700, 500), WS_POPUP | WS_VISIBLE);
    TrackedBar bar;
    ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 200, 600, 206), &host, 7));
    bar.SetOrientation(2);
    EXPECT_EQ(CursorOver(bar), ::LoadCursorW(nullptr, IDC_SIZENS));
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(10, 3));
    bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At(200, -1000));
    EXPECT_EQ(bar.m_rcTracker, CRect(100, 100, 700, 106));
    bar.SendMessage(WM_LBUTTONUP, 0, At(200, 43));
    ASSERT_EQ(host.splitterDeltas.size(), 1u);
    EXPECT_EQ(host.splitterDeltas[0], 40);
}

TEST(Splitter, CollapseButtonTogglesTheListAndStopsDragging)
{
    g_skin.SetFrameColor(0x996633);
    ListHost host;
    ::SetWindowPos(host, nullptr, 100, 100, 600, 400, SWP_NOZORDER | SWP_SHOWWINDOW);
    TrackedListBar bar;
    ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(300, 30, 306, 390), &host, 9999));
    ::SetWindowPos(bar, nullptr, 300, 30, 6, 360, SWP_NOZORDER);
    CSkinButton& button = bar.m_btnCollapse;
    ASSERT_TRUE(button.IsWindow());
    // One image of the strip, centred in the bar.
    CRect r = button.GetWindowRect();
    ::MapWindowPoints(nullptr, bar, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r, CRect(0, (360 - 55) / 2, 6, (360 - 55) / 2 + 55));
    EXPECT_EQ(button.GetTooltipText(), L"收起节目列表");
    EXPECT_EQ(CursorOver(button), ::LoadCursorW(nullptr, IDC_HAND));

    button.SendMessage(BM_CLICK);
    ASSERT_EQ(host.collapses.size(), 1u);
    EXPECT_TRUE(host.collapses[0]);
    EXPECT_TRUE(button.IsChecked());
    EXPECT_EQ(button.GetTooltipText(), L"打开节目列表");

    // Collapsed: the arrow cursor, and no drag at all.
    EXPECT_EQ(CursorOver(bar), ::LoadCursorW(nullptr, IDC_ARROW));
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(3, 10));
    EXPECT_FALSE(bar.IsDragging());
    EXPECT_NE(::GetCapture(), bar.m_hWnd);
    bar.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At(100, 10));
    bar.SendMessage(WM_LBUTTONUP, 0, At(100, 10));
    EXPECT_TRUE(host.splitterDeltas.empty());

    button.SendMessage(BM_CLICK);
    ASSERT_EQ(host.collapses.size(), 2u);
    EXPECT_FALSE(host.collapses[1]);
    EXPECT_FALSE(button.IsChecked());
    EXPECT_EQ(button.GetTooltipText(), L"收起节目列表");
    EXPECT_EQ(CursorOver(bar), ::LoadCursorW(nullptr, IDC_SIZEWE));
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At(3, 10));
    bar.SendMessage(WM_LBUTTONUP, 0, At(-20, 10));
    ASSERT_EQ(host.splitterDeltas.size(), 1u);
    EXPECT_EQ(host.splitterDeltas[0], -23);
}

TEST(Splitter, WithoutAHostTheCollapseButtonDoesNothing)
{
    HostWindow host(CRect(100, 100, 700, 500), WS_POPUP | WS_VISIBLE);
    CListSplitter bar;
    ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(300, 30, 306, 390), &host, 9999));
    bar.m_btnCollapse.SendMessage(BM_CLICK);
    EXPECT_FALSE(bar.m_btnCollapse.IsChecked());
}
