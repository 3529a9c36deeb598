// The updater's window: it shows a run (CUpdateRun) and passes the user's
// buttons, its timers and the worker's reports to it; the run decides.
#pragma once

#include "Controls.h"
#include "Dialog.h"
#include "Gdi.h"
#include "UpdateRun.h"

#include <memory>

class CUpdateDlg : public CDialog, private IUpdateView {
public:
    explicit CUpdateDlg(std::unique_ptr<CUpdateRun> run);
    ~CUpdateDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;
    CUpdateRun& Run() { return *m_pRun; }

    static constexpr COLORREF kBackground = RGB(214, 233, 254);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;      // Enter and the OK button, enabled once the run finished
    void OnCancel() override;  // Cancel button and closing the window
    HBRUSH OnCtlColor(HDC dc, HWND child, UINT type) override;

private:
    // IUpdateView
    void ShowStatus(const std::wstring& text) override;
    void ShowFileProgress(int percent) override;
    void ShowTotalRange(int high) override;
    void ShowTotalProgress(int pos) override;
    void EnableOk(bool enable) override;
    void EnableCancel(bool enable) override;
    bool AskRetry(const std::wstring& text) override;
    void Tell(const std::wstring& text) override;
    void WakeUp() override;
    void StartTimer(UINT_PTR id, UINT ms) override;
    void StopTimer(UINT_PTR id) override;
    void EndProgram(int exitCode) override;

    void OnPaint();

    CProgressCtrl m_progressFile;
    CProgressCtrl m_progressTotal;
    CBrush m_brushBk;
    HICON m_hIcon = nullptr;
    std::unique_ptr<CUpdateRun> m_pRun;
};
