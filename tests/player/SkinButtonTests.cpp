// The skinned button: strip sizes, which image each state draws (read back
// from the pixels it drew), the mask, the tooltip and the cursor.
#include "LookSupport.h"
#include "SkinButton.h"
#include "resource.h"
#include "res/test_resource.h"

#include <gtest/gtest.h>

using looktest::Canvas;
using looktest::HostWindow;
using looktest::SendDrawItem;

namespace {

const COLORREF kMask = RGB(0, 128, 128);
// The colour of image i of the test strips (make_test_strips.py).
const COLORREF kImage[] = {RGB(200, 0, 0),   RGB(0, 200, 0),   RGB(0, 0, 200),   RGB(200, 200, 0),
                           RGB(200, 0, 200), RGB(0, 200, 200), RGB(100, 100, 100)};
const COLORREF kUntouched = RGB(1, 2, 3);

struct ButtonOnHost {
    HostWindow host;
    CSkinButton button;
    ButtonOnHost() { button.Create(L"", WS_CHILD | WS_VISIBLE, CRect(5, 5, 50, 50), &host, 1007); }
};

// The image the button draws for an owner-draw state, by the colour in its middle.
int DrawnImage(CSkinButton& button, UINT itemState)
{
    CRect r = button.GetClientRect();
    Canvas canvas(r.Width(), r.Height(), kUntouched);
    SendDrawItem(button, itemState, canvas);
    COLORREF c = canvas.At(r.Width() / 2, r.Height() / 2);
    for (int i = 0; i < 7; ++i)
        if (c == kImage[i])
            return i;
    return c == kUntouched ? -1 : -2;
}

} // namespace

TEST(SkinButton, StripsSizeTheButtonToOneImage)
{
    struct Case {
        UINT bitmap;
        int count;
        int width, height;
        BOOL masked;
    };
    const Case cases[] = {
        {IDB_STOP, 4, 26, 26, TRUE},    {IDB_FULL, 4, 26, 26, TRUE},  {IDB_CHANGE, 7, 23, 23, TRUE},
        {IDB_PLAY, 7, 41, 30, TRUE},    {IDB_MUTE, 7, 26, 26, TRUE},  {IDB_SPLITTER, 4, 6, 55, FALSE},
        {IDB_CAPTION_CLOSE, 4, 16, 16, TRUE}, {IDB_CAPTION_MAXIMIZE, 4, 16, 16, TRUE},
        {IDB_CAPTION_MINIMIZE, 4, 16, 16, TRUE}, {IDB_CAPTION_TOPMOST, 4, 16, 16, TRUE},
        {IDB_CAPTION_MENU, 4, 16, 16, TRUE},
    };
    for (const Case& c : cases) {
        ButtonOnHost b;
        b.button.m_bMasked = c.masked;
        EXPECT_EQ(b.button.LoadStripBitmap(c.bitmap, kMask, c.count, 0), c.count) << c.bitmap;
        EXPECT_EQ(b.button.m_nFrameWidth, c.width) << c.bitmap;
        EXPECT_EQ(b.button.m_nFrameHeight, c.height) << c.bitmap;
        CRect w = b.button.GetWindowRect();
        EXPECT_EQ(w.Width(), c.width) << c.bitmap;
        EXPECT_EQ(w.Height(), c.height) << c.bitmap;
        EXPECT_EQ(b.button.m_bmpMask.GetSafeHandle() != nullptr, c.masked != FALSE) << c.bitmap;
    }
    // A missing bitmap loads nothing, and the button then draws nothing.
    ButtonOnHost missing;
    EXPECT_EQ(missing.button.LoadStripBitmap(4242, kMask, 4, 0), 0);
    EXPECT_EQ(DrawnImage(missing.button, 0), -1);
}

TEST(SkinButton, AnyButtonBecomesOwnerDrawn)
{
    ButtonOnHost b;
    EXPECT_EQ(b.button.GetStyle() & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW));
    // Also one that existed before, as a dialog's push button does.
    HWND plain = ::CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | BS_DEFPUSHBUTTON, 0, 0, 10, 10, b.host, nullptr,
                                   nullptr, nullptr);
    CSkinButton subclassed;
    ASSERT_TRUE(subclassed.SubclassWindow(plain));
    EXPECT_EQ(subclassed.GetStyle() & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW));
}

TEST(SkinButton, PlainButtonImagesFollowHotPressedAndDisabled)
{
    ButtonOnHost b;
    ASSERT_EQ(b.button.LoadStripBitmap(IDB_TEST_STRIP4, kMask, 4, 0), 4);
    EXPECT_EQ(DrawnImage(b.button, 0), 0);
    EXPECT_EQ(DrawnImage(b.button, ODS_SELECTED), 2); // pressed by the keyboard, not hot
    EXPECT_EQ(DrawnImage(b.button, ODS_DISABLED), 3);
    // Hover and leave as the system reports them after TrackMouseEvent.
    b.button.SendMessage(WM_MOUSEHOVER, 0, MAKELPARAM(3, 3));
    EXPECT_TRUE(b.button.m_bHot);
    EXPECT_EQ(DrawnImage(b.button, 0), 1);
    EXPECT_EQ(DrawnImage(b.button, ODS_SELECTED), 1); // the hot image wins over the pressed one
    b.button.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(b.button.m_bHot);
    EXPECT_EQ(DrawnImage(b.button, ODS_SELECTED), 2);
}

TEST(SkinButton, ToggleButtonImagesInBothLayouts)
{
    // Four images: unchecked, unchecked hot, checked, checked hot; pressing changes nothing.
    ButtonOnHost four;
    four.button.LoadStripBitmap(IDB_TEST_STRIP4, kMask, 4, 0);
    four.button.SetToggle(TRUE);
    EXPECT_EQ(DrawnImage(four.button, ODS_SELECTED), 0);
    four.button.SetChecked(TRUE);
    EXPECT_EQ(DrawnImage(four.button, 0), 2);
    EXPECT_EQ(DrawnImage(four.button, ODS_DISABLED), 3);
    four.button.SendMessage(WM_MOUSEHOVER);
    EXPECT_EQ(DrawnImage(four.button, ODS_SELECTED), 3);
    four.button.SetChecked(FALSE);
    EXPECT_EQ(DrawnImage(four.button, 0), 1);
    EXPECT_EQ(DrawnImage(four.button, ODS_DISABLED), 3); // disabled wins whatever the state

    // Seven images with pressed ones: a pressed look only while also hot.
    ButtonOnHost seven;
    seven.button.m_bPressedFrames = TRUE;
    seven.button.LoadStripBitmap(IDB_TEST_STRIP7, kMask, 7, 0);
    seven.button.SetToggle(TRUE);
    struct Row {
        BOOL checked, hot;
        UINT state;
        int image;
    };
    const Row rows[] = {
        {FALSE, FALSE, 0, 0}, {FALSE, TRUE, 0, 1},  {FALSE, FALSE, ODS_SELECTED, 1}, {FALSE, TRUE, ODS_SELECTED, 2},
        {TRUE, FALSE, 0, 3},  {TRUE, TRUE, 0, 4},   {TRUE, FALSE, ODS_SELECTED, 4},  {TRUE, TRUE, ODS_SELECTED, 5},
        {TRUE, TRUE, ODS_DISABLED, 6}, {FALSE, FALSE, ODS_DISABLED | ODS_SELECTED, 6},
    };
    for (const Row& r : rows) {
        seven.button.SetChecked(r.checked);
        seven.button.SendMessage(r.hot ? WM_MOUSEHOVER : WM_MOUSELEAVE);
        EXPECT_EQ(DrawnImage(seven.button, r.state), r.image)
            << "checked " << r.checked << " hot " << r.hot << " state " << r.state;
    }

    // A four-image strip in the seven-image layout has no image for the
    // checked states: they draw nothing.
    ButtonOnHost shortStrip;
    shortStrip.button.m_bPressedFrames = TRUE;
    shortStrip.button.LoadStripBitmap(IDB_TEST_STRIP4, kMask, 4, 0);
    shortStrip.button.SetToggle(TRUE);
    EXPECT_EQ(DrawnImage(shortStrip.button, 0), 0);
    shortStrip.button.SetChecked(TRUE);
    shortStrip.button.SendMessage(WM_MOUSEHOVER);
    EXPECT_EQ(DrawnImage(shortStrip.button, 0), -1);
    EXPECT_EQ(DrawnImage(shortStrip.button, ODS_SELECTED), -1);
    EXPECT_EQ(DrawnImage(shortStrip.button, ODS_DISABLED), 3);
}

TEST(SkinButton, TheMaskColourShowsTheBackgroundColour)
{
    ButtonOnHost b;
    b.button.LoadStripBitmap(IDB_TEST_STRIP4, kMask, 4, 0);
    b.button.SetBkColor(RGB(10, 20, 30));
    Canvas first(26, 26, kUntouched);
    SendDrawItem(b.button, 0, first);
    EXPECT_EQ(first.At(0, 0), RGB(10, 20, 30));
    EXPECT_EQ(first.At(25, 25), RGB(10, 20, 30));
    EXPECT_EQ(first.At(13, 13), kImage[0]);

    b.button.SetBkColor(RGB(240, 230, 220));
    Canvas second(26, 26, kUntouched);
    SendDrawItem(b.button, 0, second);
    EXPECT_EQ(second.At(1, 1), RGB(240, 230, 220));
    EXPECT_EQ(second.At(13, 13), kImage[0]);

    // Unmasked, the strip is copied as it is, mask colour and all.
    ButtonOnHost plain;
    plain.button.m_bMasked = FALSE;
    plain.button.LoadStripBitmap(IDB_TEST_STRIP4, kMask, 4, 0);
    plain.button.SetBkColor(RGB(240, 230, 220));
    Canvas third(26, 26, kUntouched);
    SendDrawItem(plain.button, 0, third);
    EXPECT_EQ(third.At(1, 1), kMask);
}

TEST(SkinButton, TooltipIsMadeAtTheFirstMouseMoveOnceAndItsTextReplaced)
{
    ButtonOnHost b;
    MSG move = {b.button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), 0, {}};
    b.button.SetTooltipText(0); // nothing to show: no tooltip either
    b.button.PreTranslateMessage(&move);
    EXPECT_EQ(b.button.m_tooltip.m_hWnd, nullptr);
    b.button.LoadStripBitmap(IDB_STOP, kMask, 4, IDS_TIP_STOP);
    EXPECT_EQ(b.button.GetTooltipText(), L"停止");
    EXPECT_EQ(b.button.m_tooltip.m_hWnd, nullptr); // not before the mouse comes
    b.button.PreTranslateMessage(&move);
    ASSERT_NE(b.button.m_tooltip.m_hWnd, nullptr);
    HWND made = b.button.m_tooltip.m_hWnd;
    b.button.PreTranslateMessage(&move);
    EXPECT_EQ(b.button.m_tooltip.m_hWnd, made);
    // The button's own tool, and its parent's over it for while it is
    // disabled (a disabled window's mouse input goes to its parent).
    EXPECT_EQ(b.button.m_tooltip.GetToolCount(), 2);
    EXPECT_EQ(b.button.m_tooltip.GetText(&b.button, 1), L"停止");

    b.button.SetTooltipText(IDS_TIP_PLAY);
    b.button.SetTooltipText(IDS_TIP_MUTE);
    EXPECT_EQ(b.button.m_tooltip.GetToolCount(), 2);
    EXPECT_EQ(b.button.m_tooltip.GetText(&b.button, 1), L"静音");
    EXPECT_EQ(b.button.m_tooltip.GetText(&b.host, 2), L"静音");
    // The tools cover the button as it is now (one strip image).
    for (auto [wnd, rect] : {std::pair<HWND, CRect>{b.button, CRect(0, 0, 26, 26)}, {b.host, CRect(5, 5, 31, 31)}}) {
        TTTOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V1_SIZE;
        ti.hwnd = wnd;
        ti.uId = wnd == b.button.m_hWnd ? 1 : 2;
        ASSERT_TRUE(b.button.m_tooltip.SendMessage(TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti)));
        EXPECT_EQ(CRect(ti.rect), rect);
    }

    // A string that is not in the table gives an empty tip.
    b.button.SetTooltipText(4242);
    EXPECT_EQ(b.button.m_tooltip.GetText(&b.button, 1), L"");

    HWND tip = b.button.m_tooltip.m_hWnd;
    b.button.DestroyWindow();
    EXPECT_FALSE(::IsWindow(tip));
}

TEST(SkinButton, HandCursorOnlyWhenAsked)
{
    ButtonOnHost b;
    HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND), arrow = ::LoadCursorW(nullptr, IDC_ARROW);
    ::SetCursor(nullptr);
    b.button.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(b.button.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), arrow);
    b.button.SetHandCursor();
    b.button.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(b.button.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), hand);
}

TEST(SkinButton, ButtonsReleaseTheirBitmapsTooltipsAndWindows)
{
    HostWindow host;
    auto cycle = [&] {
        CSkinButton b;
        b.Create(L"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 10, 10), &host, 1);
        b.LoadStripBitmap(IDB_PLAY, kMask, 7, IDS_TIP_PLAY);
        b.LoadStripBitmap(IDB_STOP, kMask, 4, IDS_TIP_STOP); // a new strip replaces the old
        MSG move = {b, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), 0, {}};
        b.PreTranslateMessage(&move); // the tip's window is made
        b.SetHandCursor();
        Canvas canvas(41, 30, 0);
        SendDrawItem(b, 0, canvas);
    };
    cycle(); // the system's own caches (fonts, class brushes) fill once
    const DWORD gdi = looktest::GdiObjects(), user = looktest::UserObjects();
    for (int i = 0; i < 200; ++i)
        cycle();
    EXPECT_EQ(looktest::GdiObjects(), gdi);
    EXPECT_EQ(looktest::UserObjects(), user);
}
