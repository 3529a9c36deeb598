#include "PlaylistSupport.h"

#include <shlobj.h>

#include "IniFile.h"
#include "Protocol.h"
#include "TestSupport.h"

namespace listtest {

namespace {

// Drops Wine's cached copy of the settings file, which would outlive a
// deletion behind its back.
void FlushProfileCache(const std::wstring& file)
{
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
}

} // namespace

SettingsFolder::SettingsFolder()
{
    m_file = CIniFile::GetPath();
    m_folder = m_file.substr(0, m_file.rfind(L'\\'));
    m_created = ::CreateDirectoryW(m_folder.c_str(), nullptr) != FALSE;
    Remove();
}

SettingsFolder::~SettingsFolder()
{
    Remove();
    if (m_created)
        ::RemoveDirectoryW(m_folder.c_str());
}

void SettingsFolder::Remove() const
{
    ::DeleteFileW(m_file.c_str());
    FlushProfileCache(m_file);
}

void SettingsFolder::WriteUnicode(const std::wstring& text) const
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    testsupport::WriteBytes(m_file, bytes);
    FlushProfileCache(m_file);
}

std::string SettingsFolder::Bytes() const
{
    return testsupport::ReadBytes(m_file);
}

std::wstring SettingsFolder::Text() const
{
    const std::string bytes = Bytes();
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE", 2) != 0)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

std::wstring ReadKey(const wchar_t* section, const wchar_t* key)
{
    std::wstring value;
    CIniFile::GetString(section, key, value);
    return value;
}

FrameStandIn::FrameStandIn(const RECT& rect)
{
    CreateEx(0, nullptr, L"frame", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, rect, nullptr, 0);
}

BOOL FrameStandIn::OpenMedia(LPCWSTR path, ProgItem* item, BOOL showError)
{
    calls.push_back({path ? path : L"", item, showError});
    if (opens && pane && item)
        pane->SetCurItem(item);
    return opens;
}

bool CreatePane(FrameStandIn& frame, CListPane& pane, const RECT& rect)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!::GetClassInfoExW(::GetModuleHandleW(nullptr), kListPaneClass, &wc)) {
        ::GetClassInfoExW(nullptr, WC_DIALOG, &wc);
        wc.cbSize = sizeof wc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kListPaneClass;
        if (!::RegisterClassExW(&wc))
            return false;
    }
    if (!pane.Create(CListPane::IDD, &frame))
        return false;
    pane.SetFrame(&frame);
    frame.pane = &pane;
    pane.MoveWindow(rect);
    pane.ShowWindow(SW_SHOW);
    return true;
}

std::vector<Row> Rows(const CListPane& pane)
{
    std::vector<Row> rows;
    for (int i = 0; i < pane.List().GetItemCount(); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        pane.List().GetItem(&item);
        ProgItem* rec = pane.GetRowItem(i);
        rows.push_back({pane.List().GetItemText(i, 0), rec ? rec->url : L"<none>", item.iImage});
    }
    return rows;
}

int RowOf(const CListPane& pane, const ProgItem* item)
{
    for (int i = 0; i < pane.List().GetItemCount(); ++i)
        if (pane.GetRowItem(i) == item)
            return i;
    return -1;
}

bool Selected(const CListPane& pane, int row)
{
    return (pane.List().GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

HDROP MakeDrop(const std::vector<std::wstring>& names)
{
    size_t chars = 2;
    for (const auto& n : names)
        chars += n.size() + 1;
    HGLOBAL mem = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* df = static_cast<DROPFILES*>(::GlobalLock(mem));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    auto* p = reinterpret_cast<wchar_t*>(df + 1);
    for (const auto& n : names) {
        wmemcpy(p, n.c_str(), n.size() + 1);
        p += n.size() + 1;
    }
    ::GlobalUnlock(mem);
    return static_cast<HDROP>(mem);
}


} // namespace listtest
