// Sockets first: the header must come before windows.h.
#include <winsock2.h>

#include "UpdateApp.h"

#include "res/resource.h"

#include <commctrl.h>

CUpdateApp theApp;

BOOL CUpdateApp::InitInstance()
{
    m_args = ParseUpdateCommandLine(m_lpCmdLine);

    // Without room for the staging folder beside the program there is no safe
    // place to download to: the run ends before it touches anything.
    if (!CDownload::StagingFolderFits(AfxGetModuleFolder())) {
        if (m_args.visible)
            AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }

    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        if (m_args.visible)
            AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }
    m_bSockets = true;

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    auto dlg = std::make_unique<CUpdateDlg>(m_args);
    if (dlg->Create(IDD_UPDATE_DIALOG)) {
        dlg->ShowWindow(m_args.visible ? SW_SHOW : SW_HIDE);
        m_pMainWnd = dlg.get();
        m_pDlg = std::move(dlg);
    }
    // Without a dialog there is nothing to run: the loop ends at once.
    return TRUE;
}

int CUpdateApp::ExitInstance()
{
    if (m_pDlg) {
        m_pDlg->DestroyWindow();
        m_pDlg.reset();
    }
    m_pMainWnd = nullptr;
    if (m_bSockets)
        ::WSACleanup();
    return CWinApp::ExitInstance();
}
