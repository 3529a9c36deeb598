// One update run, apart from any window: the installation's lock, the watch
// on the client of a hidden run, the order of the worker's steps, the finish,
// the reply to the caller and the exit code. It shows itself through an
// IUpdateView, which the progress dialog implements and a test can too.
#pragma once

#include "Download.h"
#include "DownloadThread.h"
#include "Handles.h"
#include "Installer.h"
#include "Settings.h"
#include "WorkerReports.h"

#include <memory>
#include <string>

// What a run shows and asks; every call comes on the view's thread but for
// WakeUp.
class IUpdateView {
public:
    virtual void ShowStatus(const std::wstring& text) = 0;
    virtual void ShowFileProgress(int percent) = 0;
    virtual void ShowTotalRange(int high) = 0;
    virtual void ShowTotalProgress(int pos) = 0;
    virtual void EnableOk(bool enable) = 0;
    virtual void EnableCancel(bool enable) = 0;
    // Visible runs only: Retry (true) or Cancel.
    virtual bool AskRetry(const std::wstring& text) = 0;
    virtual void Tell(const std::wstring& text) = 0;
    // From the worker's thread: CUpdateRun::DeliverReports should run soon
    // on the view's thread.
    virtual void WakeUp() = 0;
    // CUpdateRun::OnTimer(id) every ms until stopped.
    virtual void StartTimer(UINT_PTR id, UINT ms) = 0;
    virtual void StopTimer(UINT_PTR id) = 0;
    // The run is over: the program ends with this exit code.
    virtual void EndProgram(int exitCode) = 0;

protected:
    ~IUpdateView() = default;
};

class CUpdateRun {
public:
    // programFolder: the installation to update; empty means the folder of
    // the running program.
    explicit CUpdateRun(const UpdateCommandLine& args, const std::wstring& programFolder = std::wstring());
    virtual ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Reads the settings, takes the installation's lock (or waits for it)
    // and posts the first step.
    void Start(IUpdateView& view);
    void DeliverReports();
    // One report, as the worker sends it.
    void Receive(const WorkerReport& report);
    void OnTimer(UINT_PTR id);
    // The worker's report after installation, and the OK button: only once
    // the installation finished does the run end as completed; before, the
    // button (or Enter) must never report an update that did not happen.
    void Finish();
    // Cancel, closing the window and the hidden watch: the run ends, as a
    // completed one once the installation has begun.
    void EndRun();
    // Ends the run: stops the worker, cleans up, replies to the caller, quits.
    void Shutdown();

    bool Visible() const { return m_bVisible != 0; }
    bool ShuttingDown() const { return m_bShuttingDown; }

    // A caller always gets its reply, at most ten seconds late whatever it does.
    static void Reply(HWND window, UINT message, int result);

    static constexpr UINT_PTR kWatchTimer = 1000;
    static constexpr UINT_PTR kStagingTimer = 1001;
    // How long a run waits for another run on the same installation.
    static constexpr DWORD kStagingWaitMs = 60000;
    // Named after the program folder, whatever its spelling's case.
    static std::wstring StagingLockName(const std::wstring& programFolder);

protected:
    virtual bool StartWorker();
    // The worker has installed everything: only then may the finish run.
    virtual bool InstallationFinished() const;

private:
    void StopWorker();
    void PostStep();
    void OnFileStatus(int code, LPARAM value, const std::wstring& name);
    void OnVersionStatus(int code, LPARAM value);
    void OnConnectStatus(int code, LPARAM value);
    // Visible: ask Retry/Cancel; hidden: end. Returns whether the run goes on.
    bool RetryOrShutdown(const std::wstring& text);
    void WaitClientExit();
    // One run at a time uses the staging folder: true once this run holds it.
    bool TakeStaging();
    void StartSteps();
    void ReleaseStaging();
    bool HasReplyTarget() const { return m_hNotifyWnd && m_nNotifyMessage; }

    IUpdateView* m_pView = nullptr;
    int m_bVisible;
    std::wstring m_strBuilderId;
    HWND m_hNotifyWnd;
    UINT m_nNotifyMessage;

    std::wstring m_strProgramFolder;
    std::wstring m_strClientProgram;
    std::wstring m_strVersion;
    PublisherKey m_key; // stamped into the updater's own executable, if at all
    int m_nResult = 0;
    bool m_bWatching = false;
    bool m_bShuttingDown = false;
    CHandle m_hStagingLock; // taken and released on the view's thread
    bool m_bStagingOwned = false;
    bool m_bWaitingForStaging = false;
    DWORD m_nStagingWaitStart = 0;

    CReportQueue m_reports;
    CDownload m_download;
    CInstaller m_installer;
    std::unique_ptr<CDownloadThread> m_pThread;
};
