#include "SkinConfig.h"

#include <vector>

CSkinConfig g_skin;

namespace {

const wchar_t kSkinIni[] = L"Skins\\ZorvyClient\\Skin.ini";
const wchar_t kImages[] = L"Skins\\ZorvyClient\\Images\\";
const wchar_t kConfigIni[] = L"Config\\Config.ini";
const wchar_t kDiyIni[] = L"diy.ini";
// A FrameColor of 1 in Config.ini is not a colour: it selects diy.ini's.
const int kUseCustomColour = 1;

// Applies f to each channel of c alone and puts them back in the same order.
template <typename F>
COLORREF PerChannel(COLORREF c, F f)
{
    return RGB(f(GetRValue(c)), f(GetGValue(c)), f(GetBValue(c)));
}

} // namespace

CSkinConfig::~CSkinConfig()
{
    if (m_hIcon)
        ::DestroyIcon(m_hIcon);
}

std::wstring CSkinConfig::GetModuleDir()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    size_t slash = dir.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
}

std::wstring CSkinConfig::GetIniString(LPCWSTR file, LPCWSTR section, LPCWSTR key, LPCWSTR def)
{
    std::vector<wchar_t> buf(1023, L'\0');
    std::wstring path = GetModuleDir() + file;
    DWORD n = ::GetPrivateProfileStringW(section, key, def, buf.data(), static_cast<DWORD>(buf.size()),
                                         path.c_str());
    return std::wstring(buf.data(), n);
}

int CSkinConfig::GetIniInt(LPCWSTR file, LPCWSTR section, LPCWSTR key, int def)
{
    std::wstring path = GetModuleDir() + file;
    return static_cast<int>(::GetPrivateProfileIntW(section, key, def, path.c_str()));
}

BOOL CSkinConfig::Load()
{
    std::wstring images = GetModuleDir() + kImages;
    if (m_hIcon) {
        ::DestroyIcon(m_hIcon);
        m_hIcon = nullptr;
    }
    std::wstring icon = GetIniString(kSkinIni, L"FRAME", L"ICON", L"");
    // An empty name would name the folder itself; it loads nothing either way.
    if (!icon.empty())
        m_hIcon = static_cast<HICON>(
            ::LoadImageW(nullptr, (images + icon).c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    m_clrText = static_cast<COLORREF>(GetIniInt(kSkinIni, L"FRAME", L"TEXT_COLOR", 0xFFFFFF));
    m_strName = GetIniString(kSkinIni, L"PLAYER", L"NAME", L"");
    int frame = GetIniInt(kConfigIni, L"SETTING", L"FrameColor", kUseCustomColour);
    if (frame == kUseCustomColour)
        frame = GetIniInt(kDiyIni, L"FRAME", L"FrameColor", 0);
    SetFrameColor(static_cast<COLORREF>(frame));
    return TRUE;
}

void CSkinConfig::SetFrameColor(COLORREF color)
{
    m_clrFrame = color & 0xFFFFFF;
    m_clrFrameShade = PerChannel(m_clrFrame, [](int x) { return x * 5 / 6; });
    m_clrFrameDark = PerChannel(m_clrFrame, [](int x) { return x / 2; });
    m_clrPane = PerChannel(m_clrFrame, [](int x) { return 255 - 3 * (255 - x) / 8; });
    m_clrList = PerChannel(m_clrFrame, [](int x) { return 255 - (255 - x) / 8; });
}
