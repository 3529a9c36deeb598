#include "UpdateDlg.h"

#include "App.h"
#include "UpdateMessages.h"
#include "res/resource.h"

CUpdateDlg::CUpdateDlg(std::unique_ptr<CUpdateRun> run) : CDialog(IDD_UPDATE_DIALOG), m_pRun(std::move(run))
{
    // Shared icons: the system frees them.
    m_hIcon = static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

CUpdateDlg::~CUpdateDlg()
{
    m_pRun.reset(); // its worker may still wake this window
    DestroyWindow();
}

void CUpdateDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_FILE_PROGRESS, m_progressFile);
    DDX_Control(dx, IDC_TOTAL_PROGRESS, m_progressTotal);
}

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU sysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        std::wstring about = LoadResString(IDS_ABOUTBOX);
        if (!about.empty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    HICON small = static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                  IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                  ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small ? small : m_hIcon));
    ShowStatus(std::wstring()); // not the template's placeholder
    m_progressFile.SetRange(0, 100);
    m_progressTotal.SetRange(0, 100);
    m_pRun->Start(*this);
    return TRUE;
}

BOOL CUpdateDlg::PreTranslateMessage(MSG* msg)
{
    // Escape never cancels an update.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE)
        return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

LRESULT CUpdateDlg::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_WORKER_REPORTS:
        m_pRun->DeliverReports();
        return 0;
    case WM_TIMER:
        m_pRun->OnTimer(wp);
        return 0;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == IDM_ABOUTBOX) {
            CDialog about(IDD_ABOUTBOX, this);
            about.DoModal();
            return 0;
        }
        break;
    case WM_PAINT:
        if (::IsIconic(m_hWnd)) {
            OnPaint();
            return 0;
        }
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_ERASEBKGND:
        CDC(reinterpret_cast<HDC>(wp)).FillSolidRect(GetClientRect(), kBackground);
        return TRUE;
    case WM_DESTROY: {
        LRESULT result = CDialog::WindowProc(msg, wp, lp);
        m_brushBk.DeleteObject();
        return result;
    }
    default:
        break;
    }
    return CDialog::WindowProc(msg, wp, lp);
}

HBRUSH CUpdateDlg::OnCtlColor(HDC dc, HWND, UINT type)
{
    if (type != CTLCOLOR_STATIC)
        return nullptr;
    ::SetBkMode(dc, TRANSPARENT);
    if (!m_brushBk.m_hObject)
        m_brushBk.CreateSolidBrush(kBackground);
    return m_brushBk;
}

void CUpdateDlg::OnPaint()
{
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
    CRect r = GetClientRect();
    ::DrawIcon(dc, (r.Width() - cx + 1) / 2, (r.Height() - cy + 1) / 2, m_hIcon);
}

void CUpdateDlg::ShowStatus(const std::wstring& text)
{
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS_TEXT, text.c_str());
}

void CUpdateDlg::ShowFileProgress(int percent)
{
    m_progressFile.SetPos(percent);
}

void CUpdateDlg::ShowTotalRange(int high)
{
    m_progressTotal.SetRange32(0, high);
}

void CUpdateDlg::ShowTotalProgress(int pos)
{
    m_progressTotal.SetPos(pos);
}

void CUpdateDlg::EnableOk(bool enable)
{
    ::EnableWindow(GetDlgItem(IDOK), enable);
}

void CUpdateDlg::EnableCancel(bool enable)
{
    ::EnableWindow(GetDlgItem(IDCANCEL), enable);
}

bool CUpdateDlg::AskRetry(const std::wstring& text)
{
    return AfxMessageBox(text, MB_RETRYCANCEL) == IDRETRY;
}

void CUpdateDlg::Tell(const std::wstring& text)
{
    AfxMessageBox(text, MB_OK | MB_ICONINFORMATION);
}

void CUpdateDlg::WakeUp()
{
    PostMessage(WM_WORKER_REPORTS, 0, 0);
}

void CUpdateDlg::StartTimer(UINT_PTR id, UINT ms)
{
    SetTimer(id, ms);
}

void CUpdateDlg::StopTimer(UINT_PTR id)
{
    KillTimer(id);
}

void CUpdateDlg::EndProgram(int exitCode)
{
    ::PostQuitMessage(exitCode);
}

void CUpdateDlg::OnOK()
{
    m_pRun->Finish();
}

void CUpdateDlg::OnCancel()
{
    m_pRun->EndRun();
}
