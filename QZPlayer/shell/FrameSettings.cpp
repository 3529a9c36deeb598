// The frame's own settings: its place, size and state, the list's two view
// states, the volume and mute in [System]. The list is saved in the same
// replacement of the file.
#include "FrameDialog.h"

#include "IniFile.h"

#include <algorithm>

namespace {

const wchar_t kSystem[] = L"System";

int ReadInt(const std::vector<IniEntry>& entries, LPCWSTR key)
{
    std::wstring v;
    CIniFile::Find(entries, key, v);
    return _wtoi(v.c_str());
}

} // namespace

void CFrameDialog::LoadSystemSettings()
{
    std::vector<IniEntry> entries;
    CIniFile::GetSection(kSystem, entries);
    const int isMax = ReadInt(entries, L"IsMax");
    const int width = ReadInt(entries, L"Width");
    const int height = ReadInt(entries, L"Height");
    std::wstring v;
    if (CIniFile::Find(entries, L"OnTheTop", v))
        m_bTopMost = _wtoi(v.c_str());
    if (CIniFile::Find(entries, L"ShowProgList", v))
        m_bShowProgList = _wtoi(v.c_str());
    if (CIniFile::Find(entries, L"ShowSPBar", v))
        m_bListCollapsed = _wtoi(v.c_str());
    // The place, volume and mute are newer keys: a file without them (or
    // with damaged ones) keeps the defaults, and the window is centred.
    std::wstring leftText, topText;
    int left = 0, top = 0;
    const bool placed = CIniFile::Find(entries, L"Left", leftText) && CIniFile::ParseInt(leftText, left) &&
                        CIniFile::Find(entries, L"Top", topText) && CIniFile::ParseInt(topText, top);
    int volume = 0;
    if (m_videoPane.Bar().IsWindow()) {
        CPlayerControl& bar = m_videoPane.Bar();
        if (!CIniFile::Find(entries, L"Volume", v) || !CIniFile::ParseInt(v, volume))
            volume = bar.m_sliderVolume.GetPos();
        const BOOL mute = CIniFile::Find(entries, L"Mute", v) ? _wtoi(v.c_str()) != 0 : bar.m_btnMute.IsChecked();
        bar.SetVolumeState(volume, mute);
    }

    int cx = 0, cy = 0;
    GetMinTrackSize(cx, cy);
    if (isMax && !placed) {
        ShowWindow(SW_HIDE);
        ::MoveWindow(m_hWnd, (::GetSystemMetrics(SM_CXSCREEN) - cx) / 2, (::GetSystemMetrics(SM_CYSCREEN) - cy) / 2,
                     cx, cy, TRUE);
        ShowWindow(SW_SHOWMAXIMIZED);
        return;
    }
    // The work area of the monitor the saved place is on, or is nearest to
    // (a monitor that is gone); a first start takes the window's own.
    const CRect saved(left, top, left + std::max(width, cx), top + std::max(height, cy));
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(placed ? ::MonitorFromRect(&saved, MONITOR_DEFAULTTONEAREST)
                             : ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST),
                      &mi);
    const CRect work(mi.rcWork);
    // A damaged size would be saved back at every start: no larger than the
    // work area, and the whole window inside it.
    const int cw = std::max(std::min(width, work.Width()), cx);
    const int ch = std::max(std::min(height, work.Height()), cy);
    int x = work.left + (work.Width() - cw) / 2, y = work.top + (work.Height() - ch) / 2;
    if (placed) {
        x = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - cw));
        y = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - ch));
    }
    if (isMax) {
        // Restored later to where the user left it.
        ShowWindow(SW_HIDE);
        ::MoveWindow(m_hWnd, x, y, cw, ch, TRUE);
        ShowWindow(SW_SHOWMAXIMIZED);
    } else {
        ::MoveWindow(m_hWnd, x, y, cw, ch, TRUE);
    }
}

void CFrameDialog::SaveSystemSettings()
{
    // The restored place and size and the maximised state, also when the
    // window is minimised or maximised now (the frame is client area
    // throughout). The placement's normal rectangle is in workspace
    // coordinates: relative to its monitor's work area.
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    ::GetWindowPlacement(m_hWnd, &placement);
    CRect normal(placement.rcNormalPosition);
    if (::IsIconic(m_hWnd) || ::IsZoomed(m_hWnd)) {
        MONITORINFO mi = {};
        mi.cbSize = sizeof mi;
        if (::GetMonitorInfoW(::MonitorFromRect(&normal, MONITOR_DEFAULTTONEAREST), &mi))
            normal.OffsetRect(mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
    } else {
        normal = GetWindowRect();
    }
    const BOOL maximized =
        ::IsZoomed(m_hWnd) || (::IsIconic(m_hWnd) && (placement.flags & WPF_RESTORETOMAXIMIZED));
    CIniEdit edit;
    edit.Set(kSystem, L"IsMax", std::to_wstring(maximized ? 1 : 0));
    edit.Set(kSystem, L"Width", std::to_wstring(normal.Width()));
    edit.Set(kSystem, L"Height", std::to_wstring(normal.Height()));
    edit.Set(kSystem, L"OnTheTop", std::to_wstring(m_bTopMost ? 1 : 0));
    edit.Set(kSystem, L"ShowProgList", std::to_wstring(m_bShowProgList ? 1 : 0));
    edit.Set(kSystem, L"ShowSPBar", std::to_wstring(m_bListCollapsed ? 1 : 0));
    // Newer keys, which older versions leave alone.
    edit.Set(kSystem, L"Left", std::to_wstring(normal.left));
    edit.Set(kSystem, L"Top", std::to_wstring(normal.top));
    if (m_videoPane.Bar().IsWindow()) {
        const CPlayerControl& bar = m_videoPane.Bar();
        edit.Set(kSystem, L"Volume", std::to_wstring(bar.m_sliderVolume.GetPos()));
        edit.Set(kSystem, L"Mute", std::to_wstring(bar.m_btnMute.IsChecked() ? 1 : 0));
    }
    // The list goes in the same replacement of the file: one write at the
    // end, and the window and the list are both old or both new.
    if (m_listPane.IsWindow())
        m_listPane.SaveListTo(edit);
    edit.Commit();
}
