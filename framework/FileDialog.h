// The common file-open dialog, with MFC's "|"-separated filter strings.
#pragma once

#include "Wnd.h"

#include <commdlg.h>

#include <vector>

class CFileDialog {
public:
    // filter: "Name|pattern|Name|pattern||". A null parent uses the main window.
    CFileDialog(BOOL openFileDialog, LPCWSTR defExt = nullptr, LPCWSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr,
                CWnd* parent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK or IDCANCEL (also when the dialog could not be shown).
    INT_PTR DoModal();
    // The chosen file (the first one of a multiple selection).
    std::wstring GetPathName() const;
    // Every chosen file, as full paths (OFN_ALLOWMULTISELECT).
    std::vector<std::wstring> GetPathNames() const;

    OPENFILENAMEW m_ofn = {};

private:
    BOOL m_bOpen;
    CWnd* m_pParent;
    std::wstring m_filter;  // zero-separated, as the system wants it
    std::wstring m_defExt;
    // Room for a long multiple selection; a single name needs MAX_PATH.
    std::vector<wchar_t> m_file = std::vector<wchar_t>(32768, L'\0');
};
