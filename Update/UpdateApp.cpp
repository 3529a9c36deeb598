// Sockets first: the header must come before windows.h.
#include <winsock2.h>

#include "UpdateApp.h"

#include "UpdateMessages.h"
#include "res/resource.h"

#include <commctrl.h>

CUpdateApp theApp;

BOOL CUpdateApp::InitInstance()
{
    m_args = ParseUpdateCommandLine(m_lpCmdLine);

    // Without room for the staging folder beside the program there is no safe
    // place to download to: the run ends before it touches anything.
    if (!CInstaller::StagingFolderFits(AfxGetModuleFolder()))
        return EndAtStart(kFolderTooLongText);

    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(1, 1), &wsa) != 0)
        return EndAtStart(LoadResString(IDS_SOCKETS_INIT_FAILED));
    m_bSockets = true;

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    auto dlg = std::make_unique<CUpdateDlg>(std::make_unique<CUpdateRun>(m_args));
    if (dlg->Create(IDD_UPDATE_DIALOG)) {
        dlg->ShowWindow(m_args.visible ? SW_SHOW : SW_HIDE);
        m_pMainWnd = dlg.get();
        m_pDlg = std::move(dlg);
    }
    // Without a dialog there is nothing to run: the loop ends at once.
    return TRUE;
}

BOOL CUpdateApp::EndAtStart(const std::wstring& text)
{
    if (m_args.visible)
        AfxMessageBox(text, MB_OK | MB_ICONWARNING);
    CUpdateRun::Reply(m_args.notifyWindow, m_args.notifyMessage, 0);
    m_bEndedAtStart = true;
    return FALSE;
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
    int code = CWinApp::ExitInstance();
    return m_bEndedAtStart ? 1 : code;
}
