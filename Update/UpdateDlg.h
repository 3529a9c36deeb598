// The updater's window: progress of the current transfer and of the whole
// update, status texts, Retry/Cancel prompts; owner of the download engine and
// the worker thread, and the single exit path of a run.
#pragma once

#include "Controls.h"
#include "Dialog.h"
#include "Download.h"
#include "DownloadThread.h"
#include "Gdi.h"
#include "Handles.h"
#include "Settings.h"

#include <memory>

class CUpdateDlg : public CDialog {
public:
    // programFolder: the installation to update; empty means the folder of
    // the running program.
    explicit CUpdateDlg(const UpdateCommandLine& args, const std::wstring& programFolder = std::wstring());
    ~CUpdateDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;

    virtual BOOL StartThread();
    void StopThread();
    void PostStep();
    // Ends the run: stops the worker, cleans up, replies to the caller, quits.
    void Shutdown();

    static constexpr UINT_PTR kWatchTimer = 1000;
    static constexpr UINT_PTR kStagingTimer = 1001;
    // How long a run waits for another run on the same installation.
    static constexpr DWORD kStagingWaitMs = 60000;
    // Named after the program folder, whatever its spelling's case.
    static std::wstring StagingLockName(const std::wstring& programFolder);
    static constexpr COLORREF kBackground = RGB(214, 233, 254);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;      // the finish, reached through the worker's IDOK
    void OnCancel() override;  // Cancel button and closing the window
    // Cancel, closing the window and the hidden watch: the run ends, as a
    // completed one once the installation has begun.
    void EndRun();
    HBRUSH OnCtlColor(HDC dc, HWND child, UINT type) override;
    // The worker has installed everything: only then may the finish run.
    virtual bool InstallationFinished() const;

private:
    static void OnProgress(DWORD expected, DWORD soFar, void* context);
    void OnDownloadProgress(DWORD expected, DWORD done);
    void OnFileStatus(int code, LPARAM value);
    void OnVersionStatus(int code, LPARAM value);
    void OnConnectStatus(int code, LPARAM value);
    // Visible: ask Retry/Cancel; hidden: end. Returns whether the run goes on.
    bool RetryOrShutdown(const std::wstring& text);
    void ShowStatus(const std::wstring& text);
    void OnPaint();
    void WaitClientExit();
    // One run at a time uses the staging folder: true once this run holds it.
    bool TakeStaging();
    void StartRun();
    void ReleaseStaging();
    bool HasReplyTarget() const { return m_hNotifyWnd && m_nNotifyMessage; }

    CProgressCtrl m_progressFile;
    CProgressCtrl m_progressTotal;
    std::wstring m_strStatus;
    CBrush m_brushBk;
    HICON m_hIcon = nullptr;

    int m_bVisible;
    std::wstring m_strBuilderId;
    HWND m_hNotifyWnd;
    UINT m_nNotifyMessage;

    std::wstring m_strProgramFolder;
    std::wstring m_strClientProgram;
    std::wstring m_strVersion;
    PublisherKey m_key; // stamped into the updater's own executable, if at all
    int m_nResult = 0;
    UINT_PTR m_nWatchTimer = 0;
    bool m_bShuttingDown = false;
    CHandle m_hStagingLock; // taken and released on this window's thread
    bool m_bStagingOwned = false;
    UINT_PTR m_nStagingTimer = 0;
    DWORD m_nStagingWaitStart = 0;

    CDownload m_download;
    std::unique_ptr<CDownloadThread> m_pThread;
};
