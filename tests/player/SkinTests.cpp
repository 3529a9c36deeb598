// The skin record: which files it reads, in which precedence, and the palette
// it derives from the frame colour.
#include "LookSupport.h"
#include "SkinConfig.h"

#include <gtest/gtest.h>

using looktest::ProgramFiles;

namespace {

struct Palette {
    COLORREF frame, shade, dark, pane, list;
};

Palette PaletteOf(const CSkinConfig& skin)
{
    return {skin.m_clrFrame, skin.m_clrFrameShade, skin.m_clrFrameDark, skin.m_clrPane, skin.m_clrList};
}

void ExpectPalette(const CSkinConfig& skin, const Palette& want)
{
    Palette got = PaletteOf(skin);
    EXPECT_EQ(got.frame, want.frame);
    EXPECT_EQ(got.shade, want.shade);
    EXPECT_EQ(got.dark, want.dark);
    EXPECT_EQ(got.pane, want.pane);
    EXPECT_EQ(got.list, want.list);
}

const Palette kBlue = {0x996633, 0x7F552A, 0x4C3319, 0xD9C6B3, 0xF3ECE6};
const Palette kBlack = {0x000000, 0x000000, 0x000000, 0xA0A0A0, 0xE0E0E0};

} // namespace

TEST(SkinPalette, DerivesEveryColourFromTheFrameColourAgainAtEachChange)
{
    CSkinConfig skin;
    skin.SetFrameColor(0x996633);
    ExpectPalette(skin, kBlue);
    skin.SetFrameColor(0);
    ExpectPalette(skin, kBlack);
    // White stays white in the light colours; the top byte is never kept.
    skin.SetFrameColor(0xFFFFFFFF);
    ExpectPalette(skin, {0xFFFFFF, 0xD4D4D4, 0x7F7F7F, 0xFFFFFF, 0xFFFFFF});
    // Each channel alone: red does not leak into green or blue.
    skin.SetFrameColor(RGB(255, 0, 0));
    ExpectPalette(skin, {RGB(255, 0, 0), RGB(212, 0, 0), RGB(127, 0, 0), RGB(255, 160, 160), RGB(255, 224, 224)});
}

TEST(SkinFiles, WithoutAnyFileTheSkinIsBlackWithWhiteTextAndNoNameOrIcon)
{
    CSkinConfig skin;
    ASSERT_TRUE(skin.Load());
    ExpectPalette(skin, kBlack);
    EXPECT_EQ(skin.m_clrText, 0xFFFFFFu);
    EXPECT_TRUE(skin.m_strName.empty());
    EXPECT_EQ(skin.m_hIcon, nullptr);
}

TEST(SkinFiles, ConfigColourWinsAndOneSelectsTheCustomColourOfDiy)
{
    ProgramFiles files;
    files.WriteIni(L"diy.ini", L"[FRAME]\r\nFrameColor=255\r\n");
    CSkinConfig skin;

    // No Config.ini at all: the default 1 selects diy.ini's colour.
    skin.Load();
    EXPECT_EQ(skin.m_clrFrame, 0x0000FFu);

    files.WriteIni(L"Config\\Config.ini", L"[SETTING]\r\nFrameColor=16711680\r\n");
    skin.Load();
    EXPECT_EQ(skin.m_clrFrame, 0xFF0000u);

    files.WriteIni(L"Config\\Config.ini", L"[SETTING]\r\nFrameColor=1\r\n");
    skin.Load();
    EXPECT_EQ(skin.m_clrFrame, 0x0000FFu);

    // Config.ini without the key behaves like no Config.ini.
    files.WriteIni(L"Config\\Config.ini", L"[SETTING]\r\nOther=5\r\n");
    skin.Load();
    EXPECT_EQ(skin.m_clrFrame, 0x0000FFu);
}

TEST(SkinFiles, SkinIniGivesNameTextColourAndTheIconFromTheImageFolder)
{
    ProgramFiles files;
    files.Copy(looktest::ArtFile(L"skin.ico"), L"Skins\\ZorvyClient\\Images\\frame.ico");
    files.WriteIni(L"Skins\\ZorvyClient\\Skin.ini",
                   L"[FRAME]\r\nICON=frame.ico\r\nTEXT_COLOR=65280\r\n[PLAYER]\r\nNAME=视频播放器\r\n");
    files.WriteIni(L"Config\\Config.ini", L"[SETTING]\r\nFrameColor=10053171\r\n");
    CSkinConfig skin;
    skin.Load();
    EXPECT_EQ(skin.m_strName, L"视频播放器");
    EXPECT_EQ(skin.m_clrText, 0x00FF00u);
    ExpectPalette(skin, kBlue);
    ASSERT_NE(skin.m_hIcon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(skin.m_hIcon, &info));
    BITMAP bm = {};
    ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    // The first icon of the file, at its own size.
    EXPECT_EQ(bm.bmWidth, 16);
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);

    // A second load replaces the icon; a name that is not an icon leaves none.
    files.WriteIni(L"Skins\\ZorvyClient\\Skin.ini", L"[FRAME]\r\nICON=Skin.ini\r\n");
    skin.Load();
    EXPECT_EQ(skin.m_hIcon, nullptr);
    files.WriteIni(L"Skins\\ZorvyClient\\Skin.ini", L"[FRAME]\r\nICON=missing.ico\r\n");
    skin.Load();
    EXPECT_EQ(skin.m_hIcon, nullptr);
    EXPECT_TRUE(skin.m_strName.empty());
    EXPECT_EQ(skin.m_clrText, 0xFFFFFFu);
}

TEST(SkinFiles, LongValuesAreCutAtTheBuffer)
{
    ProgramFiles files;
    files.WriteIni(L"Skins\\ZorvyClient\\Skin.ini", L"[PLAYER]\r\nNAME=" + std::wstring(1500, L'名') + L"\r\n");
    CSkinConfig skin;
    skin.Load();
    EXPECT_EQ(skin.m_strName, std::wstring(1022, L'名'));
}
