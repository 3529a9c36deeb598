#include "LookSupport.h"

#include "SplitterBar.h"
#include "TestSupport.h"

namespace looktest {

namespace {

std::wstring ProgramFolder()
{
    return AfxGetModuleFolder() + L"\\";
}

} // namespace

ProgramFiles::~ProgramFiles()
{
    for (auto it = m_files.rbegin(); it != m_files.rend(); ++it) {
        ::SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(it->c_str());
    }
    // Deepest first; a folder that was there before, or still holds other
    // files, stays.
    for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
        ::RemoveDirectoryW(it->c_str());
}

std::wstring ProgramFiles::Path(const std::wstring& relative) const
{
    return ProgramFolder() + relative;
}

void ProgramFiles::Track(const std::wstring& relative)
{
    const std::wstring full = Path(relative);
    for (size_t i = ProgramFolder().size(); i < full.size(); ++i) {
        if (full[i] != L'\\')
            continue;
        std::wstring folder = full.substr(0, i);
        if (::CreateDirectoryW(folder.c_str(), nullptr))
            m_folders.push_back(folder);
    }
    m_files.push_back(full);
}

void ProgramFiles::WriteIni(const std::wstring& relative, const std::wstring& text)
{
    Track(relative);
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    testsupport::WriteBytes(Path(relative), bytes);
}

void ProgramFiles::Copy(const std::wstring& from, const std::wstring& relative)
{
    Track(relative);
    ::CopyFileW(from.c_str(), Path(relative).c_str(), FALSE);
}

std::wstring ArtFile(const wchar_t* name)
{
    return testsupport::WindowsPathOfUnix(testsupport::Utf8ToWide(QZ_ART_DIR_UNIX)) + L"\\" + name;
}

HostWindow::HostWindow(const RECT& rect, DWORD style)
{
    CreateEx(0, nullptr, L"host", style, rect, nullptr, 0);
}

LRESULT HostWindow::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND || msg == WM_NOTIFY || (msg >= WM_USER && msg < 0x8000))
        received.push_back({msg, wp, lp});
    if (msg == WM_NOTIFY) {
        auto* nm = reinterpret_cast<NMSPLITTER*>(lp);
        if (nm->hdr.code == SPN_DRAGGED)
            splitterDeltas.push_back(nm->delta);
    }
    if (onMessage)
        onMessage(msg, wp, lp);
    return CWnd::WindowProc(msg, wp, lp);
}

Canvas::Canvas(int width, int height, COLORREF fill) : m_width(width), m_height(height)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<DWORD*>(bits);
    m_dc = ::CreateCompatibleDC(nullptr);
    m_old = ::SelectObject(m_dc, m_bitmap);
    RECT all = {0, 0, width, height};
    HBRUSH brush = ::CreateSolidBrush(fill);
    ::FillRect(m_dc, &all, brush);
    ::DeleteObject(brush);
}

Canvas::~Canvas()
{
    ::SelectObject(m_dc, m_old);
    ::DeleteDC(m_dc);
    ::DeleteObject(m_bitmap);
}

COLORREF Canvas::At(int x, int y) const
{
    ::GdiFlush();
    const DWORD p = m_bits[static_cast<size_t>(y) * m_width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

void SendDrawItem(HWND control, UINT itemState, const Canvas& canvas)
{
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(::GetDlgCtrlID(control));
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = itemState;
    dis.hwndItem = control;
    dis.hDC = canvas.dc();
    ::GetClientRect(control, &dis.rcItem);
    ::SendMessageW(::GetParent(control), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
}

DWORD GdiObjects()
{
    return testsupport::GdiObjectCount();
}

DWORD UserObjects()
{
    return testsupport::UserObjectCount();
}

} // namespace looktest
