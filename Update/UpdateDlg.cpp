#include "UpdateDlg.h"

#include "App.h"
#include "Log.h"
#include "Protocol.h"
#include "UpdateMessages.h"
#include "res/resource.h"

#include <shellapi.h>
#include <shlwapi.h>

CUpdateDlg::CUpdateDlg(const UpdateCommandLine& args, const std::wstring& programFolder)
    : CDialog(IDD_UPDATE_DIALOG),
      m_bVisible(args.visible),
      m_strBuilderId(FormatString(L"%ls", args.builderId.c_str())),
      m_hNotifyWnd(args.notifyWindow),
      m_nNotifyMessage(args.notifyMessage),
      m_strProgramFolder(programFolder)
{
    // Shared icons: the system frees them.
    m_hIcon = static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

CUpdateDlg::~CUpdateDlg()
{
    StopThread();
    ReleaseStaging();
    DestroyWindow();
}

void CUpdateDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_FILE_PROGRESS, m_progressFile);
    DDX_Control(dx, IDC_TOTAL_PROGRESS, m_progressTotal);
    DDX_Text(dx, IDC_STATUS_TEXT, m_strStatus);
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
    ::EnableWindow(GetDlgItem(IDOK), FALSE);

    if (m_strProgramFolder.empty())
        m_strProgramFolder = AfxGetModuleFolder();
    UpdateSettings settings = ReadUpdateSettings(m_strProgramFolder);
    m_strClientProgram = settings.clientProgram;
    m_strVersion = settings.version;
    m_key = LoadPublisherKey(::GetModuleHandleW(nullptr));
    if (m_key.state == KeyState::Unusable)
        UPDATE_LOG(L"The publisher key stamped into this updater is not a public key file: every release is refused\n");

    m_progressFile.SetRange(0, 100);
    m_progressTotal.SetRange(0, 100);

    // Start-up refuses a program folder without room for the staging folder;
    // should it still not fit, no worker ever touches a file.
    bool paths = m_download.InitPaths(m_strProgramFolder.c_str());
    m_download.SetProgressCallback(&CUpdateDlg::OnProgress, this);
    m_download.SetServer(settings.server.c_str(), 21, 8085, nullptr, nullptr);

    if (paths) {
        if (TakeStaging()) {
            StartRun();
        } else {
            // Another run on this installation: wait for it, within a bound.
            ShowStatus(kWaitingText);
            UpdateData(FALSE);
            m_nStagingWaitStart = ::GetTickCount();
            m_nStagingTimer = SetTimer(kStagingTimer, 250);
        }
    }
    if (!m_bVisible)
        m_nWatchTimer = SetTimer(kWatchTimer, 1000);
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
    case WM_DOWNLOAD_PROGRESS:
        OnDownloadProgress(static_cast<DWORD>(wp), static_cast<DWORD>(lp));
        return 0;
    case WM_FILE_STATUS:
        OnFileStatus(static_cast<int>(wp), lp);
        return 0;
    case WM_VERSION_STATUS:
        OnVersionStatus(static_cast<int>(wp), lp);
        return 0;
    case WM_CONNECT_STATUS:
        OnConnectStatus(static_cast<int>(wp), lp);
        return 0;
    case WM_TIMER:
        if (m_nStagingTimer && wp == kStagingTimer) {
            if (TakeStaging()) {
                KillTimer(m_nStagingTimer);
                m_nStagingTimer = 0;
                StartRun();
            } else if (::GetTickCount() - m_nStagingWaitStart >= kStagingWaitMs) {
                UPDATE_LOG(L"Another run still holds the staging folder: this run ends\n");
                KillTimer(m_nStagingTimer);
                m_nStagingTimer = 0;
                if (m_bVisible)
                    AfxMessageBox(kGaveUpWaitingText, MB_OK | MB_ICONINFORMATION);
                Shutdown(); // replies 0, touches nothing
            }
            return 0;
        }
        if (m_nWatchTimer && wp == kWatchTimer) {
            // Hidden runs live only as long as the client does.
            if (TestMutexPresence(kClientMutex) == MutexPresence::Absent)
                EndRun();
            return 0;
        }
        break;
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

void CUpdateDlg::OnProgress(DWORD expected, DWORD soFar, void* context)
{
    if (auto* dlg = static_cast<CUpdateDlg*>(context))
        ::PostMessageW(dlg->m_hWnd, WM_DOWNLOAD_PROGRESS, expected, soFar);
}

void CUpdateDlg::OnDownloadProgress(DWORD expected, DWORD done)
{
    if (m_bShuttingDown || expected == 0)
        return;
    m_progressFile.SetPos(TransferPercent(expected, done));
}

void CUpdateDlg::ShowStatus(const std::wstring& text)
{
    m_strStatus = text;
}

bool CUpdateDlg::RetryOrShutdown(const std::wstring& text)
{
    if (m_bVisible && AfxMessageBox(text, MB_RETRYCANCEL) == IDRETRY && !m_bShuttingDown) {
        PostStep();
        return true;
    }
    Shutdown();
    return false;
}

void CUpdateDlg::OnFileStatus(int code, LPARAM value)
{
    // Messages the worker posted before it was stopped are not for this run any more.
    if (m_bShuttingDown)
        return;
    const wchar_t* name = reinterpret_cast<const wchar_t*>(value);
    switch (code) {
    case 1:
        ShowStatus(FormatString(L"%ls", name));
        m_progressFile.SetPos(0);
        break;
    case 0:
        m_progressFile.SetPos(100);
        m_progressTotal.SetPos(static_cast<int>(value));
        PostStep();
        break;
    default:
        if (!RetryOrShutdown(code == kRefused        ? kRefusedText
                             : code == kInUse       ? FormatString(kInUseFormat, name)
                             : code == kUnplaceable ? FormatString(kUnplaceableFormat, name)
                             : code == kWriteFailed ? FormatString(kWriteFailedFormat, name)
                                                    : FormatString(L"下载文件：'%ls' 失败\n", name)))
            return;
        break;
    }
    UpdateData(FALSE);
}

void CUpdateDlg::OnVersionStatus(int code, LPARAM value)
{
    if (m_bShuttingDown)
        return;
    switch (code) {
    case 1:
        ShowStatus(L"正在下载版本信息...");
        break;
    case 0:
        m_progressTotal.SetRange32(0, LOWORD(value));
        m_progressTotal.SetPos(0);
        ShowStatus(L"下载版本信息成功");
        PostStep();
        break;
    default:
        if (!RetryOrShutdown(code == kRefused          ? kRefusedText
                             : code == kStagingBlocked ? kStagingBlockedText
                             : code == kJournalRefused ? kJournalRefusedText
                                                       : L"下载版本信息失败，可能网络有问题！"))
            return;
        break;
    }
    UpdateData(FALSE);
}

void CUpdateDlg::OnConnectStatus(int code, LPARAM value)
{
    if (m_bShuttingDown)
        return;
    bool http = value == 1;
    switch (code) {
    case 0:
        ShowStatus(http ? L"连接HTTP服务器成功" : L"连接FTP服务器成功");
        PostStep();
        break;
    case 1:
        ShowStatus(http ? L"正在连接HTTP服务器 ..." : L"正在连接FTP服务器 ...");
        PostStep();
        break;
    default:
        if (!RetryOrShutdown(L"连接服务器失败，可能网络有问题！"))
            return;
        break;
    }
    UpdateData(FALSE);
}

void CUpdateDlg::WaitClientExit()
{
    // At most about a minute: the finish goes on regardless.
    for (int i = 0; i < 120; ++i) {
        if (TestMutexPresence(kClientLiveMutex) != MutexPresence::Present)
            return;
        ::Sleep(500);
    }
}

void CUpdateDlg::OnOK()
{
    // Only the worker's report after installation finishes a run; the OK
    // button (or Enter) must never report an update that did not happen.
    if (m_bShuttingDown || !InstallationFinished())
        return;
    m_nResult = 1;
    if (!HasReplyTarget()) {
        ::EnableWindow(GetDlgItem(IDCANCEL), FALSE);
        WaitClientExit();
        ::EnableWindow(GetDlgItem(IDOK), TRUE);
        if (!m_strBuilderId.empty())
            WriteBuilderId(m_strProgramFolder, m_strBuilderId);
        if (m_bVisible) {
            // The client lies in the program folder, wherever the updater was started from.
            std::wstring client = m_strClientProgram;
            if (::PathIsRelativeW(client.c_str()))
                client = m_strProgramFolder + L"\\" + client;
            ::ShellExecuteW(nullptr, L"open", client.c_str(), nullptr, m_strProgramFolder.c_str(), SW_SHOWNORMAL);
        }
    }
    Shutdown();
}

void CUpdateDlg::OnCancel()
{
    EndRun();
}

void CUpdateDlg::EndRun()
{
    // Once the installation has begun it runs to its end, and the run ends
    // as a completed one, whoever asked for the end. The worker is stopped
    // before its state is read: until then it could still begin installing
    // (and a run that installed would reply 0); after it, none begins.
    if (!m_bShuttingDown && m_pThread) {
        m_pThread->Stop();
        if (InstallationFinished()) {
            if (m_bVisible && !HasReplyTarget())
                AfxMessageBox(kAppliedText, MB_OK | MB_ICONINFORMATION);
            OnOK();
            return;
        }
    }
    Shutdown();
}

bool CUpdateDlg::InstallationFinished() const
{
    return m_pThread && m_pThread->m_nState == CDownloadThread::kFinished;
}

BOOL CUpdateDlg::StartThread()
{
    if (m_pThread)
        return TRUE;
    auto thread = std::make_unique<CDownloadThread>();
    if (!thread->CreateThread(0, 0))
        return FALSE;
    thread->SetThreadPriority(THREAD_PRIORITY_ABOVE_NORMAL);
    // The worker only waits for steps; one that has already ended is no worker.
    if (::WaitForSingleObject(thread->m_hThread.Get(), 20) != WAIT_TIMEOUT)
        return FALSE;
    thread->m_nState = CDownloadThread::kFetchManifest;
    m_pThread = std::move(thread);
    return TRUE;
}

void CUpdateDlg::StopThread()
{
    if (!m_pThread)
        return;
    m_download.Abort(); // also when the worker was never given the engine
    m_pThread->Stop();
    m_pThread.reset();
}

void CUpdateDlg::PostStep()
{
    if (m_pThread)
        m_pThread->PostThreadMessage(WM_UPDATE_STEP, 0, 0);
}

std::wstring CUpdateDlg::StagingLockName(const std::wstring& programFolder)
{
    std::wstring folder = programFolder;
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    if (!folder.empty())
        ::CharUpperBuffW(&folder[0], static_cast<DWORD>(folder.size()));
    uint64_t hash = 14695981039346656037ull; // FNV-1a: a mutex name may not hold backslashes
    for (wchar_t c : folder)
        hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    // In the global namespace: runs from other sessions (another user switched
    // in, a terminal server) share the installation, so they share its lock.
    return FormatString(L"Global\\QZUpdateStaging.%08X%08X", static_cast<unsigned>(hash >> 32),
                        static_cast<unsigned>(hash));
}

bool CUpdateDlg::TakeStaging()
{
    // Made again at each try until it can be: another user's run may hold one
    // that this user may not open, until that run ends.
    if (!m_hStagingLock)
        m_hStagingLock.Reset(::CreateMutexW(nullptr, FALSE, StagingLockName(m_strProgramFolder).c_str()));
    if (!m_hStagingLock)
        return false;
    // Abandoned: a run that ended without releasing it; its leftovers go at start.
    DWORD wait = ::WaitForSingleObject(m_hStagingLock.Get(), 0);
    m_bStagingOwned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return m_bStagingOwned;
}

void CUpdateDlg::StartRun()
{
    if (StartThread()) {
        m_pThread->m_hTargetWnd = m_hWnd;
        m_pThread->m_pDownload = &m_download;
        m_pThread->m_strVersion = m_strVersion;
        m_pThread->m_key = m_key;
        PostStep();
    }
}

void CUpdateDlg::ReleaseStaging()
{
    if (m_bStagingOwned)
        ::ReleaseMutex(m_hStagingLock.Get());
    m_bStagingOwned = false;
    m_hStagingLock.Reset();
}

void CUpdateDlg::Shutdown()
{
    if (m_bShuttingDown)
        return;
    m_bShuttingDown = true;
    if (m_nWatchTimer) {
        KillTimer(m_nWatchTimer);
        m_nWatchTimer = 0;
    }
    if (m_nStagingTimer) {
        KillTimer(m_nStagingTimer);
        m_nStagingTimer = 0;
    }
    StopThread();
    // A run that never held the staging folder leaves it to the one that does.
    if (m_bStagingOwned)
        m_download.Cleanup();
    m_download.CloseAll();
    ReleaseStaging();
    if (HasReplyTarget() && ::IsWindow(m_hNotifyWnd)) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(m_hNotifyWnd, m_nNotifyMessage, 0, m_nResult, SMTO_ABORTIFHUNG | SMTO_BLOCK, 10000,
                              &ignored);
    }
    // For callers that wait on the process: 0 completed (or nothing to do).
    ::PostQuitMessage(m_nResult ? 0 : 1);
}
