// Sockets first: the system headers want them before windows.h.
#include <winsock2.h>

#include "PlayerApp.h"
#include "CommandLine.h"
#include "IniFile.h"
#include "Protocol.h"
#include "StageTimes.h"

#include "resource.h"

#include <commctrl.h>

#include <cwctype>

namespace {

BOOL RegisterDialogClass(const wchar_t* name)
{
    WNDCLASSW wc = {};
    if (!::GetClassInfoW(nullptr, L"#32770", &wc))
        return FALSE;
    wc.lpszClassName = name;
    wc.hInstance = AfxGetInstanceHandle();
    return ::RegisterClassW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

CPlayerApp::CPlayerApp() : CWinApp(nullptr) {}

BOOL CALLBACK CPlayerApp::FindRunningPlayer(HWND wnd, LPARAM lp)
{
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(wnd, WM_QZPLAYER_APPLICATION, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 10000, &result) &&
        result == WM_QZPLAYER_APPLICATION) {
        *reinterpret_cast<HWND*>(lp) = wnd;
        return FALSE;
    }
    return TRUE;
}

void CPlayerApp::TerminateOwnerProcess(HWND wnd)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (!pid)
        return;
    CHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
    if (!process)
        return;
    DWORD code = 0;
    if (::GetExitCodeProcess(process.Get(), &code))
        ::TerminateProcess(process.Get(), code);
}

BOOL CPlayerApp::CheckRunningInstance(int& show)
{
    // Splitting the command line loads the shell library (a few milliseconds
    // under Wine): only a line that holds the word can ask to uninstall.
    CCommandLineInfo info;
    std::wstring lower = m_lpCmdLine ? m_lpCmdLine : L"";
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(::towlower(c));
    if (lower.find(L"uninstall") != std::wstring::npos)
        ParseCommandLine(info);
    HWND running = nullptr;
    bool existed = false;
    m_hMutex.Reset(::CreateMutexW(nullptr, FALSE, kPlayerMutex));
    const DWORD error = ::GetLastError();
    if (m_hMutex && (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)) {
        existed = true;
        // The first instance may still be starting (two files opened at
        // once): ask again for a while before the command would be lost.
        const ULONGLONG until = ::GetTickCount64() + 5000;
        for (;;) {
            // The frame's own class is asked first; every window after it.
            if (HWND frame = ::FindWindowW(kFrameClass, nullptr))
                FindRunningPlayer(frame, reinterpret_cast<LPARAM>(&running));
            if (!running)
                ::EnumWindows(&CPlayerApp::FindRunningPlayer, reinterpret_cast<LPARAM>(&running));
            if (running || ::GetTickCount64() >= until)
                break;
            ::Sleep(100);
        }
    }
    if (::CompareStringOrdinal(info.m_strFileName.c_str(), -1, L"uninstall", -1, TRUE) == CSTR_EQUAL) {
        if (running)
            TerminateOwnerProcess(running);
        return TRUE;
    }
    m_strCmdLine.clear();
    if (m_lpCmdLine && *m_lpCmdLine) {
        m_strCmdLine = m_lpCmdLine;
        if (StripHiddenSwitch(m_strCmdLine))
            show = 0;
        if (running && !m_strCmdLine.empty()) {
            m_cds.dwData = kCopyCommand;
            m_cds.cbData = static_cast<DWORD>((m_strCmdLine.size() + 1) * sizeof(wchar_t));
            m_cds.lpData = const_cast<wchar_t*>(m_strCmdLine.c_str());
            ::SendMessageW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&m_cds));
            m_strCmdLine.clear();
        }
    }
    return running || existed;
}

BOOL CPlayerApp::InitInstance()
{
    stagetimes::Mark(stagetimes::kInitBegins);
    int show = 1;
    if (CheckRunningInstance(show))
        return FALSE;
    ::InitCommonControls();
    CWinApp::InitInstance();
    WSADATA wsa = {};
    if (::WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    if (!AfxOleInit()) {
        AfxMessageBox(IDS_OLE_INIT_FAILED);
        return FALSE;
    }
    AfxEnableControlContainer();
    SetRegistryKey(L"应用程序向导生成的本地应用程序");
    for (const wchar_t* name : {kFrameClass, kVideoPaneClass, kListPaneClass})
        RegisterDialogClass(name);

    m_pFrame = std::make_unique<CFrameDialog>();
    m_pFrame->m_pStartCommand = &m_strCmdLine;
    // The frame and its panes read four sections: one read of the file.
    CIniFile::SharedRead settings;
    if (!m_pFrame->Create(IDD_FRAME)) {
        m_pFrame.reset();
        return FALSE;
    }
    m_pMainWnd = m_pFrame.get();
    {
        stagetimes::Scope timed(stagetimes::kFrameShow);
        m_pFrame->ShowWindow(show ? SW_SHOW : SW_HIDE);
    }
    stagetimes::Mark(stagetimes::kFrameShown);
    return TRUE;
}

int CPlayerApp::ExitInstance()
{
    stagetimes::Mark(stagetimes::kQuitBegins);
    if (m_pFrame) {
        // The frame and its panes save their settings while they go.
        m_pFrame->DestroyWindow();
        m_pFrame.reset();
    }
    stagetimes::Mark(stagetimes::kQuitSaved);
    stagetimes::Write();
    m_pMainWnd = nullptr;
    m_hMutex.Reset();
    ::WSACleanup();
    return CWinApp::ExitInstance();
}

void CPlayerApp::OnAppAbout()
{
    CAboutDlg about(m_pMainWnd);
    about.DoModal();
}
