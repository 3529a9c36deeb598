#include "OpenUrlDlg.h"

#include "resource.h"

const wchar_t kOpenFileFilter[] =
    L"All Files (*.*)|*.*|FLV Files (*.flv;*.swf)|*.flv;*.swf|WMV Files (*.wmv;*.asf)|*.wmv;*.asf|"
    L"RM Files (*.rm;*.rmvb)|*.rm; *.rmvb||";

namespace {
const int kMaxUrl = 1024;
}

COpenUrlDlg::COpenUrlDlg() : CDialog(IDD_OPENURL)
{
}

void COpenUrlDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_URL_COMBO, m_combo);
}

BOOL COpenUrlDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_combo.LimitText(kMaxUrl);
    if (m_pHistory) {
        // Explicit indexes keep the newest first whatever the sort style says.
        int index = 0;
        for (auto it = m_pHistory->rbegin(); it != m_pHistory->rend(); ++it)
            if (!it->empty())
                m_combo.InsertString(index++, it->c_str());
        if (index > 0)
            m_combo.SetCurSel(0);
    }
    return TRUE;
}

BOOL COpenUrlDlg::OnCommand(WPARAM wp, LPARAM lp)
{
    if (LOWORD(wp) == IDC_BROWSE && HIWORD(wp) == BN_CLICKED) {
        OnBrowse();
        return TRUE;
    }
    return CDialog::OnCommand(wp, lp);
}

void COpenUrlDlg::OnBrowse()
{
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kOpenFileFilter, this);
    if (dlg.DoModal() != IDOK)
        return;
    std::wstring path = dlg.GetPathName();
    if (path.empty())
        return;
    int index = m_combo.InsertString(0, path.c_str());
    m_combo.SetCurSel(index);
}

void COpenUrlDlg::OnOK()
{
    m_strUrl = m_combo.GetWindowText();
    CDialog::OnOK();
}
