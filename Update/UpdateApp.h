// The updater program: command line, sockets, the dialog as main window.
#pragma once

#include "App.h"
#include "Settings.h"
#include "UpdateDlg.h"

#include <memory>

class CUpdateApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;

    UpdateCommandLine m_args;

private:
    // Ends the run before it began: the text shown (visible runs), reply 0.
    BOOL EndAtStart(const std::wstring& text);

    std::unique_ptr<CUpdateDlg> m_pDlg;
    bool m_bSockets = false;
    bool m_bEndedAtStart = false;
};
