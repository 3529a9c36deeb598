#include "FileDialog.h"

#include "App.h"

CFileDialog::CFileDialog(BOOL openFileDialog, LPCWSTR defExt, LPCWSTR fileName, DWORD flags, LPCWSTR filter,
                         CWnd* parent)
    : m_bOpen(openFileDialog), m_pParent(parent)
{
    if (filter) {
        m_filter = filter;
        for (wchar_t& c : m_filter)
            if (c == L'|')
                c = L'\0';
    }
    if (defExt)
        m_defExt = defExt;
    if (fileName)
        lstrcpynW(m_file.data(), fileName, static_cast<int>(m_file.size()));
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
    m_ofn.hInstance = AfxGetInstanceHandle();
}

INT_PTR CFileDialog::DoModal()
{
    HWND owner = m_pParent ? m_pParent->m_hWnd : nullptr;
    if (!owner) {
        CWnd* main = AfxGetMainWnd();
        if (main && main->IsWindow())
            owner = main->m_hWnd;
    }
    m_ofn.hwndOwner = owner;
    m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.c_str();
    m_ofn.lpstrDefExt = m_defExt.empty() ? nullptr : m_defExt.c_str();
    m_ofn.lpstrFile = m_file.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
    BOOL ok = m_bOpen ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    return ok ? IDOK : IDCANCEL;
}

std::vector<std::wstring> CFileDialog::GetPathNames() const
{
    // A multiple selection comes as the folder and then each name, each
    // zero-terminated, with an empty string at the end; one file comes whole.
    std::vector<std::wstring> out;
    const wchar_t* p = m_file.data();
    std::wstring first = p;
    if (first.empty())
        return out;
    p += first.size() + 1;
    if (!(m_ofn.Flags & OFN_ALLOWMULTISELECT) || *p == L'\0') {
        out.push_back(first);
        return out;
    }
    std::wstring folder = first;
    if (folder.back() != L'\\')
        folder += L'\\';
    while (*p) {
        std::wstring name = p;
        out.push_back(folder + name);
        p += name.size() + 1;
    }
    return out;
}

std::wstring CFileDialog::GetPathName() const
{
    std::vector<std::wstring> names = GetPathNames();
    return names.empty() ? std::wstring() : names.front();
}
