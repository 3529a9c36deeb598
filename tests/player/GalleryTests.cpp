// A picture of everything the look draws, for people to look at: every button
// strip in each of its states, the sliders, and a skinned dialog with its
// caption and the list's splitter. It checks only that the pictures exist.
#include "DialogBase.h"
#include "LookSupport.h"
#include "SkinButton.h"
#include "SkinConfig.h"
#include "SliderEx.h"
#include "SplitterBar.h"
#include "TestSupport.h"
#include "resource.h"
#include "res/test_resource.h"

#include <gtest/gtest.h>

#include <memory>

using testsupport::PumpPending;

namespace {

struct Strip {
    UINT bitmap;
    int count;
    BOOL toggle;
    BOOL pressed;
    COLORREF mask;
    UINT tip;
};

// The control bar's and the caption's strips, as their owners load them.
const Strip kStrips[] = {
    {IDB_PLAY, 7, TRUE, TRUE, RGB(0, 128, 128), IDS_TIP_PLAY},
    {IDB_STOP, 4, FALSE, FALSE, RGB(0, 128, 128), IDS_TIP_STOP},
    {IDB_FULL, 4, FALSE, FALSE, RGB(0, 128, 128), IDS_TIP_FULLSCREEN},
    {IDB_CHANGE, 7, TRUE, TRUE, RGB(0, 128, 128), IDS_TIP_CHANGE},
    {IDB_MUTE, 7, TRUE, TRUE, RGB(0, 128, 128), IDS_TIP_MUTE},
    {IDB_CAPTION_CLOSE, 4, FALSE, FALSE, RGB(255, 0, 255), IDS_TIP_CLOSE},
    {IDB_CAPTION_MAXIMIZE, 4, TRUE, FALSE, RGB(255, 0, 255), IDS_TIP_MAXIMIZE},
    {IDB_CAPTION_MINIMIZE, 4, FALSE, FALSE, RGB(255, 0, 255), IDS_TIP_MINIMIZE},
    {IDB_CAPTION_TOPMOST, 4, TRUE, FALSE, RGB(255, 0, 255), IDS_TIP_TOPMOST},
    {IDB_CAPTION_MENU, 4, FALSE, FALSE, RGB(255, 0, 255), IDS_TIP_MENU},
};

class GalleryDialog : public CDialogBase {
public:
    GalleryDialog() : CDialogBase(IDD_TEST_SKINNED) {}
    CListSplitter splitter;

protected:
    BOOL OnInitDialog() override
    {
        CDialogBase::OnInitDialog();
        SetCaptionDragZone(0, 30);
        SetupCaption();
        splitter.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(300, 36, 306, 290), this, 1021);
        return TRUE;
    }
};

} // namespace

TEST(Gallery, EveryStripInEveryStateAndASkinnedDialog)
{
    g_skin.SetFrameColor(0x996633);
    g_skin.m_strName = L"QZ播放器 - 样张";

    // One row per strip; columns: normal, hot, pressed, disabled, then checked
    // normal, checked hot, checked pressed for the toggle strips.
    looktest::HostWindow host(CRect(20, 20, 440, 460), WS_POPUP | WS_VISIBLE);
    std::vector<std::unique_ptr<CSkinButton>> buttons;
    struct Look {
        UINT state;
        BOOL hot, checked;
    };
    const Look looks[] = {{0, FALSE, FALSE},           {0, TRUE, FALSE},  {ODS_SELECTED, TRUE, FALSE},
                          {ODS_DISABLED, FALSE, FALSE}, {0, FALSE, TRUE},  {0, TRUE, TRUE},
                          {ODS_SELECTED, TRUE, TRUE}};
    int y = 8, id = 2000;
    for (const Strip& s : kStrips) {
        int x = 8, rowHeight = 0;
        for (const Look& look : looks) {
            if (look.checked && !s.toggle)
                break;
            auto b = std::make_unique<CSkinButton>();
            ASSERT_TRUE(b->Create(L"", WS_CHILD | WS_VISIBLE, CRect(x, y, x + 10, y + 10), &host, id++));
            b->m_bPressedFrames = s.pressed;
            ASSERT_EQ(b->LoadStripBitmap(s.bitmap, s.mask, s.count, s.tip), s.count) << s.bitmap;
            b->SetBkColor(s.bitmap >= IDB_CAPTION_MINIMIZE && s.bitmap <= IDB_CAPTION_MENU ? g_skin.m_clrFrameShade
                                                                                          : RGB(240, 240, 240));
            b->SetToggle(s.toggle);
            b->SetChecked(look.checked);
            b->m_bHot = look.hot;
            if (look.state & ODS_DISABLED)
                b->EnableWindow(FALSE);
            if (look.state & ODS_SELECTED)
                b->SendMessage(BM_SETSTATE, TRUE, 0);
            b->Invalidate();
            x += b->m_nFrameWidth + 6;
            rowHeight = std::max(rowHeight, b->m_nFrameHeight);
            buttons.push_back(std::move(b));
        }
        y += rowHeight + 6;
    }

    // Sliders are subclassed statics, as in the bar's dialog template.
    CSliderEx sliders[3];
    const CRect places[3] = {CRect(8, y, 400, y + 13), CRect(8, y + 20, 108, y + 33), CRect(120, y + 20, 300, y + 33)};
    const int positions[3] = {40, 80, 0};
    for (int i = 0; i < 3; ++i) {
        HWND h = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY, places[i].left, places[i].top,
                                   places[i].Width(), places[i].Height(), host, nullptr, nullptr, nullptr);
        ASSERT_TRUE(sliders[i].SubclassWindow(h));
        sliders[i].SetRange(0, 100);
        sliders[i].SetPos(positions[i]);
    }
    sliders[2].EnableInput(FALSE);

    GalleryDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST_SKINNED));
    ::SetWindowPos(dlg, nullptr, 470, 20, 420, 300, SWP_NOZORDER | SWP_SHOWWINDOW);
    GalleryDialog collapsed;
    ASSERT_TRUE(collapsed.Create(IDD_TEST_SKINNED));
    ::SetWindowPos(collapsed, nullptr, 470, 340, 420, 200, SWP_NOZORDER | SWP_SHOWWINDOW);
    collapsed.ToggleTopMost();
    collapsed.splitter.m_btnCollapse.SetChecked(TRUE);
    PumpPending();
    ::Sleep(200);
    PumpPending();

    // What the double-buffered paint left on screen: body, caption stripe,
    // frame line (a drawing step that let go of the canvas paints black).
    HDC screen = ::GetDC(dlg);
    EXPECT_EQ(::GetPixel(screen, 150, 150), g_skin.m_clrFrame);
    EXPECT_EQ(::GetPixel(screen, 150, 12), g_skin.m_clrFrameShade);
    EXPECT_EQ(::GetPixel(screen, 0, 150), g_skin.m_clrFrameDark);
    ::ReleaseDC(dlg, screen);

    std::wstring shot = testsupport::SaveScreenshot(L"player-look-gallery");
    if (!testsupport::HarnessFolder(L"QZ_SCREENSHOT_DIR").empty()) {
        EXPECT_FALSE(shot.empty());
    }

    // The strips themselves, four times as large, to judge the pixels.
    for (const Strip& s : kStrips) {
        HBITMAP strip = static_cast<HBITMAP>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(s.bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(strip, nullptr) << s.bitmap;
        BITMAP bm = {};
        ::GetObjectW(strip, sizeof bm, &bm);
        looktest::Canvas zoom(bm.bmWidth * 4, bm.bmHeight * 4, RGB(255, 255, 255));
        HDC src = ::CreateCompatibleDC(zoom.dc());
        HGDIOBJ old = ::SelectObject(src, strip);
        ::StretchBlt(zoom.dc(), 0, 0, bm.bmWidth * 4, bm.bmHeight * 4, src, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        ::SelectObject(src, old);
        ::DeleteDC(src);
        ::DeleteObject(strip);
        std::wstring folder = testsupport::HarnessFolder(L"QZ_SCREENSHOT_DIR");
        if (!folder.empty()) {
            EXPECT_TRUE(testsupport::SavePng(zoom.bitmap(), folder + L"\\strip-" + std::to_wstring(s.bitmap) + L".png"));
        }
    }

    dlg.DestroyWindow();
    collapsed.DestroyWindow();
}
