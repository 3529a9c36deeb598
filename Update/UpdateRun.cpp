#include "UpdateRun.h"

#include "App.h"
#include "Log.h"
#include "Protocol.h"
#include "UpdateMessages.h"

#include <shellapi.h>
#include <shlwapi.h>

CUpdateRun::CUpdateRun(const UpdateCommandLine& args, const std::wstring& programFolder)
    : m_bVisible(args.visible),
      m_strBuilderId(FormatString(L"%ls", args.builderId.c_str())),
      m_hNotifyWnd(args.notifyWindow),
      m_nNotifyMessage(args.notifyMessage),
      m_strProgramFolder(programFolder),
      m_reports([this] {
          if (m_pView)
              m_pView->WakeUp();
      })
{
}

CUpdateRun::~CUpdateRun()
{
    StopWorker();
    ReleaseStaging();
}

void CUpdateRun::Start(IUpdateView& view)
{
    m_pView = &view;
    m_pView->EnableOk(false);
    if (m_strProgramFolder.empty())
        m_strProgramFolder = AfxGetModuleFolder();
    UpdateSettings settings = ReadUpdateSettings(m_strProgramFolder);
    m_strClientProgram = settings.clientProgram;
    m_strVersion = settings.version;
    m_key = LoadPublisherKey(::GetModuleHandleW(nullptr));
    if (m_key.state == KeyState::Unusable)
        UPDATE_LOG(L"The publisher key stamped into this updater is not a public key file: every release is refused\n");

    // Start-up refuses a program folder without room for the staging folder;
    // should it still not fit, no worker ever touches a file.
    bool paths = m_installer.InitPaths(m_strProgramFolder.c_str());
    m_download.WriteOnlyInside(m_installer.GetProgramFolder());
    m_download.SetProgressCallback(
        [](DWORD expected, DWORD soFar, void* context) {
            static_cast<CReportQueue*>(context)->Report(
                WorkerReport{WM_DOWNLOAD_PROGRESS, static_cast<int>(expected), static_cast<LPARAM>(soFar), {}});
        },
        &m_reports);
    m_download.SetServer(settings.server.c_str(), 21, 8085, nullptr, nullptr);

    if (paths) {
        if (TakeStaging()) {
            StartSteps();
        } else {
            // Another run on this installation: wait for it, within a bound.
            m_pView->ShowStatus(kWaitingText);
            m_bWaitingForStaging = true;
            m_nStagingWaitStart = ::GetTickCount();
            m_pView->StartTimer(kStagingTimer, 250);
        }
    }
    if (!m_bVisible) {
        m_bWatching = true;
        m_pView->StartTimer(kWatchTimer, 1000);
    }
}

void CUpdateRun::OnTimer(UINT_PTR id)
{
    if (id == kStagingTimer && m_bWaitingForStaging) {
        if (TakeStaging()) {
            m_bWaitingForStaging = false;
            m_pView->StopTimer(kStagingTimer);
            StartSteps();
        } else if (::GetTickCount() - m_nStagingWaitStart >= kStagingWaitMs) {
            UPDATE_LOG(L"Another run still holds the staging folder: this run ends\n");
            m_bWaitingForStaging = false;
            m_pView->StopTimer(kStagingTimer);
            if (m_bVisible)
                m_pView->Tell(kGaveUpWaitingText);
            Shutdown(); // replies 0, touches nothing
        }
    } else if (id == kWatchTimer && m_bWatching) {
        // Hidden runs live only as long as the client does.
        if (TestMutexPresence(kClientMutex) == MutexPresence::Absent)
            EndRun();
    }
}

void CUpdateRun::DeliverReports()
{
    for (const WorkerReport& report : m_reports.Take())
        Receive(report);
}

void CUpdateRun::Receive(const WorkerReport& report)
{
    // Reports the worker sent before it was stopped are not for this run any more.
    if (m_bShuttingDown)
        return;
    switch (report.message) {
    case WM_DOWNLOAD_PROGRESS:
        if (report.code != 0)
            m_pView->ShowFileProgress(
                TransferPercent(static_cast<DWORD>(report.code), static_cast<DWORD>(report.value)));
        break;
    case WM_FILE_STATUS:
        OnFileStatus(report.code, report.value, report.text);
        break;
    case WM_VERSION_STATUS:
        OnVersionStatus(report.code, report.value);
        break;
    case WM_CONNECT_STATUS:
        OnConnectStatus(report.code, report.value);
        break;
    case WM_COMMAND:
        if (report.code == IDOK)
            Finish();
        break;
    default:
        break;
    }
}

bool CUpdateRun::RetryOrShutdown(const std::wstring& text)
{
    if (m_bVisible && m_pView->AskRetry(text) && !m_bShuttingDown) {
        PostStep();
        return true;
    }
    Shutdown();
    return false;
}

void CUpdateRun::OnFileStatus(int code, LPARAM value, const std::wstring& name)
{
    switch (code) {
    case 1:
        m_pView->ShowStatus(name);
        m_pView->ShowFileProgress(0);
        break;
    case 0:
        m_pView->ShowFileProgress(100);
        m_pView->ShowTotalProgress(static_cast<int>(value));
        PostStep();
        break;
    default:
        RetryOrShutdown(code == kRefused        ? std::wstring(kRefusedText)
                        : code == kInUse       ? FormatString(kInUseFormat, name.c_str())
                        : code == kUnplaceable ? FormatString(kUnplaceableFormat, name.c_str())
                        : code == kWriteFailed ? FormatString(kWriteFailedFormat, name.c_str())
                                               : FormatString(L"下载文件：'%ls' 失败\n", name.c_str()));
        break;
    }
}

void CUpdateRun::OnVersionStatus(int code, LPARAM value)
{
    switch (code) {
    case 1:
        m_pView->ShowStatus(L"正在下载版本信息...");
        break;
    case 0:
        m_pView->ShowTotalRange(LOWORD(value));
        m_pView->ShowTotalProgress(0);
        m_pView->ShowStatus(L"下载版本信息成功");
        PostStep();
        break;
    default:
        RetryOrShutdown(code == kRefused          ? kRefusedText
                        : code == kStagingBlocked ? kStagingBlockedText
                        : code == kJournalRefused ? kJournalRefusedText
                                                  : L"下载版本信息失败，可能网络有问题！");
        break;
    }
}

void CUpdateRun::OnConnectStatus(int code, LPARAM value)
{
    bool http = value == 1;
    switch (code) {
    case 0:
        m_pView->ShowStatus(http ? L"连接HTTP服务器成功" : L"连接FTP服务器成功");
        PostStep();
        break;
    case 1:
        m_pView->ShowStatus(http ? L"正在连接HTTP服务器 ..." : L"正在连接FTP服务器 ...");
        PostStep();
        break;
    default:
        RetryOrShutdown(L"连接服务器失败，可能网络有问题！");
        break;
    }
}

void CUpdateRun::WaitClientExit()
{
    // At most about a minute: the finish goes on regardless.
    for (int i = 0; i < 120; ++i) {
        if (TestMutexPresence(kClientLiveMutex) != MutexPresence::Present)
            return;
        ::Sleep(500);
    }
}

void CUpdateRun::Finish()
{
    if (m_bShuttingDown || !InstallationFinished())
        return;
    m_nResult = 1;
    if (!HasReplyTarget()) {
        m_pView->EnableCancel(false);
        WaitClientExit();
        m_pView->EnableOk(true);
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

void CUpdateRun::EndRun()
{
    // Once the installation has begun it runs to its end, and the run ends
    // as a completed one, whoever asked for the end. The worker is stopped
    // before its state is read: until then it could still begin installing
    // (and a run that installed would reply 0); after it, none begins.
    if (!m_bShuttingDown && m_pThread) {
        m_pThread->Stop();
        if (InstallationFinished()) {
            if (m_bVisible && !HasReplyTarget())
                m_pView->Tell(kAppliedText);
            Finish();
            return;
        }
    }
    Shutdown();
}

bool CUpdateRun::InstallationFinished() const
{
    return m_pThread && m_pThread->m_nState == CDownloadThread::kFinished;
}

bool CUpdateRun::StartWorker()
{
    if (m_pThread)
        return true;
    auto thread = std::make_unique<CDownloadThread>();
    if (!thread->CreateThread(0, 0))
        return false;
    thread->SetThreadPriority(THREAD_PRIORITY_ABOVE_NORMAL);
    // The worker only waits for steps; one that has already ended is no worker.
    if (::WaitForSingleObject(thread->m_hThread.Get(), 20) != WAIT_TIMEOUT)
        return false;
    thread->m_nState = CDownloadThread::kFetchManifest;
    thread->m_pReports = &m_reports;
    thread->m_pDownload = &m_download;
    thread->m_pInstaller = &m_installer;
    thread->m_strVersion = m_strVersion;
    thread->m_key = m_key;
    m_pThread = std::move(thread);
    return true;
}

void CUpdateRun::StopWorker()
{
    if (!m_pThread)
        return;
    m_download.Abort(); // also when the worker was never given the engine
    m_pThread->Stop();
    m_pThread.reset();
}

void CUpdateRun::PostStep()
{
    if (m_pThread)
        m_pThread->PostThreadMessage(WM_UPDATE_STEP, 0, 0);
}

std::wstring CUpdateRun::StagingLockName(const std::wstring& programFolder)
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

bool CUpdateRun::TakeStaging()
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

void CUpdateRun::StartSteps()
{
    if (StartWorker())
        PostStep();
}

void CUpdateRun::ReleaseStaging()
{
    if (m_bStagingOwned)
        ::ReleaseMutex(m_hStagingLock.Get());
    m_bStagingOwned = false;
    m_hStagingLock.Reset();
}

void CUpdateRun::Reply(HWND window, UINT message, int result)
{
    if (window && message && ::IsWindow(window)) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(window, message, 0, result, SMTO_ABORTIFHUNG | SMTO_BLOCK, 10000, &ignored);
    }
}

void CUpdateRun::Shutdown()
{
    if (m_bShuttingDown)
        return;
    m_bShuttingDown = true;
    if (m_bWatching) {
        m_pView->StopTimer(kWatchTimer);
        m_bWatching = false;
    }
    if (m_bWaitingForStaging) {
        m_pView->StopTimer(kStagingTimer);
        m_bWaitingForStaging = false;
    }
    StopWorker();
    // A run that never held the staging folder leaves it to the one that does.
    if (m_bStagingOwned)
        m_installer.Cleanup();
    m_download.CloseAll();
    ReleaseStaging();
    Reply(m_hNotifyWnd, m_nNotifyMessage, m_nResult);
    // For callers that wait on the process: 0 completed (or nothing to do).
    m_pView->EndProgram(m_nResult ? 0 : 1);
}
