// The skinned slider, fed real mouse messages: thumb geometry, the values it
// reports and applies, and what it ignores.
#include "LookSupport.h"
#include "SliderEx.h"

#include <gtest/gtest.h>

using looktest::HostWindow;

namespace {

struct SliderOnHost {
    HostWindow host;
    CSliderEx slider;
    std::vector<std::pair<int, CSliderEx*>> reports; // (wParam, lParam) of WM_SLIDER_CHANGED
    std::vector<int> positionsSeen;                  // GetPos() while the parent handles it

    explicit SliderOnHost(int width = 300, int minimum = 0, int maximum = 1000)
    {
        HWND h = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0, 0, width, 12, host,
                                   nullptr, nullptr, nullptr);
        slider.SubclassWindow(h);
        slider.SetRange(minimum, maximum);
        host.onMessage = [this](UINT msg, WPARAM wp, LPARAM lp) {
            if (msg == WM_SLIDER_CHANGED) {
                reports.emplace_back(static_cast<int>(static_cast<INT_PTR>(wp)), reinterpret_cast<CSliderEx*>(lp));
                positionsSeen.push_back(slider.GetPos());
            }
        };
    }
    void Mouse(UINT msg, int x, int y = 5)
    {
        slider.SendMessage(msg, msg == WM_MOUSEMOVE ? 0 : MK_LBUTTON,
                           MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(y)));
    }
};

} // namespace

TEST(Slider, ThumbSitsOnTheTrackBetweenTheEnds)
{
    SliderOnHost s;
    s.slider.SetPos(500);
    EXPECT_EQ(s.slider.m_rcThumb, CRect(144, 0, 157, 12));
    s.slider.SetPos(0);
    EXPECT_EQ(s.slider.m_rcThumb.left + 6, 6);
    s.slider.SetPos(1000);
    EXPECT_EQ(s.slider.m_rcThumb.left + 6, 300 - 7);
    // The picture: background, two-tone groove, white thumb with its outline.
    s.slider.SetPos(500);
    looktest::Canvas canvas(300, 12, 0);
    s.slider.Draw(canvas.dc());
    EXPECT_EQ(canvas.At(151, 5), s.slider.m_clrThumb);
    EXPECT_EQ(canvas.At(144, 6), s.slider.m_clrThumbBorder);
    EXPECT_EQ(canvas.At(156, 6), s.slider.m_clrThumbBorder);
    EXPECT_EQ(canvas.At(157, 6), s.slider.m_clrGrooveBottom);
    EXPECT_EQ(canvas.At(20, 0), s.slider.m_clrBk);
    EXPECT_EQ(canvas.At(20, 3), s.slider.m_clrGrooveTop);
    EXPECT_EQ(canvas.At(20, 8), s.slider.m_clrGrooveBottom);

    // The picture depends on the width: a new size repaints all of it.
    ::ShowWindow(s.host, SW_SHOWNOACTIVATE); // only a visible window collects damage
    ::UpdateWindow(s.host);
    ::ValidateRect(s.slider, nullptr);
    ::SetWindowPos(s.slider, nullptr, 0, 0, 400, 12, SWP_NOMOVE | SWP_NOZORDER);
    RECT dirty = {};
    ::GetUpdateRect(s.slider, &dirty, FALSE);
    EXPECT_EQ(CRect(dirty), CRect(0, 0, 400, 12));
}

TEST(Slider, ClickInTheGrooveJumpsOnRelease)
{
    SliderOnHost s;
    s.slider.SetPos(500);
    s.Mouse(WM_LBUTTONDOWN, 30);
    EXPECT_TRUE(s.reports.empty()); // nothing yet: a click reports on release
    s.Mouse(WM_LBUTTONUP, 30);
    ASSERT_EQ(s.reports.size(), 1u);
    EXPECT_EQ(s.reports[0].first, 101);
    EXPECT_EQ(s.reports[0].second, &s.slider);
    EXPECT_EQ(s.positionsSeen[0], 101); // applied before the parent hears of it
    EXPECT_EQ(s.slider.GetPos(), 101);
}

TEST(Slider, DragReportsEveryMoveWithTheUnclampedValue)
{
    SliderOnHost s;
    s.slider.SetPos(500);
    s.Mouse(WM_LBUTTONDOWN, 150);
    EXPECT_TRUE(s.slider.m_bDragging);
    EXPECT_EQ(::GetCapture(), s.slider.m_hWnd);
    s.Mouse(WM_MOUSEMOVE, 149);
    s.Mouse(WM_MOUSEMOVE, -20);  // 20 pixels left of the control
    s.Mouse(WM_MOUSEMOVE, 400);  // beyond the right end
    ASSERT_EQ(s.reports.size(), 3u);
    EXPECT_EQ(s.reports[0].first, 500);
    EXPECT_EQ(s.reports[1].first, -66);
    EXPECT_EQ(s.positionsSeen[1], 0);
    EXPECT_EQ(s.reports[2].first, 1342);
    EXPECT_EQ(s.positionsSeen[2], 1000);
    s.Mouse(WM_LBUTTONUP, 400);
    EXPECT_EQ(s.reports.size(), 3u); // the end of a drag reports nothing
    EXPECT_FALSE(s.slider.m_bDragging);
    EXPECT_EQ(::GetCapture(), nullptr);
    s.Mouse(WM_MOUSEMOVE, 10);
    EXPECT_EQ(s.reports.size(), 3u);
}

TEST(Slider, RangeAndPositionRules)
{
    SliderOnHost s(200, 0, 100);
    s.slider.SetPos(40);
    EXPECT_EQ(s.slider.SetPos(-5), 40);
    EXPECT_EQ(s.slider.GetPos(), 0);
    EXPECT_EQ(s.slider.SetPos(150), 0);
    EXPECT_EQ(s.slider.GetPos(), 100);
    s.slider.SetRange(10, 10);
    s.slider.SetRange(10, 0);
    EXPECT_EQ(s.slider.m_nMin, 0);
    EXPECT_EQ(s.slider.m_nMax, 100);
    // A new range clamps the position into it.
    s.slider.SetRange(0, 50);
    EXPECT_EQ(s.slider.GetPos(), 50);
}

TEST(Slider, WithInputDisabledTheMouseIsIgnored)
{
    SliderOnHost s;
    s.slider.SetPos(500);
    EXPECT_FALSE(s.slider.EnableInput(FALSE));
    s.Mouse(WM_LBUTTONDOWN, 150); // on the thumb
    s.Mouse(WM_MOUSEMOVE, 10);
    s.Mouse(WM_LBUTTONUP, 10);
    s.Mouse(WM_LBUTTONDOWN, 30); // in the groove
    s.Mouse(WM_LBUTTONUP, 30);
    EXPECT_TRUE(s.reports.empty());
    EXPECT_FALSE(s.slider.m_bDragging);
    EXPECT_EQ(s.slider.GetPos(), 500);
    // Still moved by its owner.
    s.slider.SetPos(250);
    EXPECT_EQ(s.slider.GetPos(), 250);
    EXPECT_TRUE(s.slider.EnableInput(TRUE));
    s.Mouse(WM_LBUTTONDOWN, 30);
    s.Mouse(WM_LBUTTONUP, 30);
    EXPECT_EQ(s.reports.size(), 1u);
}
