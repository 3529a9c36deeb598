// The player program: one running instance, the command line handed to it,
// the platform set-up and the main frame.
#pragma once

#include "FrameDialog.h"
#include "Handles.h"

#include <memory>

class CPlayerApp : public CWinApp {
public:
    CPlayerApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    // TRUE when this process must end now: another player runs (the
    // command was forwarded to it) or "uninstall" was asked for.
    BOOL CheckRunningInstance(int& show);
    static BOOL CALLBACK FindRunningPlayer(HWND wnd, LPARAM lp);
    static void TerminateOwnerProcess(HWND wnd);
    void OnAppAbout();

    CHandle m_hMutex;
    std::wstring m_strCmdLine;
    COPYDATASTRUCT m_cds = {};
    std::unique_ptr<CFrameDialog> m_pFrame;
};
