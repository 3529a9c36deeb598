#include "App.h"
#include "OleControl.h"

#include <process.h>
#include <shellapi.h>

namespace {

CWinApp* g_app = nullptr;
thread_local CWinThread* t_thread = nullptr;

// Resource id of the application's title string, as the framework has always used it.
const UINT kAppTitleId = 0xE000;

std::wstring ModulePath()
{
    // Never a cut path: its last backslash could name another folder.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::wstring ExeBaseName()
{
    std::wstring name = ModulePath();
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

} // namespace

CWinApp* AfxGetApp()
{
    return g_app;
}

CWinThread* AfxGetThread()
{
    return t_thread;
}

CWnd* AfxGetMainWnd()
{
    CWinThread* thread = AfxGetThread();
    if (thread && thread->m_pMainWnd)
        return thread->m_pMainWnd;
    return g_app ? g_app->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_app && g_app->m_hInstance ? g_app->m_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    return AfxGetInstanceHandle();
}

std::wstring AfxGetModuleFolder()
{
    std::wstring path = ModulePath();
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void AfxProcessMessage(MSG* msg)
{
    CWinThread* thread = AfxGetThread();
    BOOL handled = thread ? thread->PreTranslateMessage(msg) : AfxPreTranslateWindows(msg);
    if (!handled) {
        ::TranslateMessage(msg);
        ::DispatchMessageW(msg);
    }
}

int AfxMessageBox(const std::wstring& text, UINT type)
{
    std::wstring caption = g_app && !g_app->m_strAppName.empty() ? g_app->m_strAppName : ExeBaseName();
    HWND owner = nullptr;
    if (CWnd* main = AfxGetMainWnd()) {
        if (main->IsWindow() && main->IsWindowEnabled())
            owner = main->m_hWnd;
    }
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int AfxMessageBox(UINT stringId, UINT type)
{
    return AfxMessageBox(LoadResString(stringId), type);
}

// ---------------------------------------------------------------------------

CWinThread::~CWinThread()
{
    if (t_thread == this)
        t_thread = nullptr;
}

unsigned __stdcall CWinThread::ThreadEntry(void* param)
{
    auto* thread = static_cast<CWinThread*>(param);
    t_thread = thread;
    MSG msg;
    // Any message call gives the thread its queue; after this, posts are kept.
    ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (HANDLE started = thread->m_hStarted.Get())
        ::SetEvent(started);
    int code = thread->InitInstance() ? thread->Run() : thread->ExitInstance();
    t_thread = nullptr;
    if (thread->m_bAutoDelete)
        delete thread;
    return static_cast<unsigned>(code);
}

BOOL CWinThread::CreateThread(DWORD createFlags, UINT stackSize)
{
    if (m_hThread)
        return FALSE;
    bool wait = !(createFlags & CREATE_SUSPENDED);
    if (wait)
        m_hStarted.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, stackSize, &CWinThread::ThreadEntry, this,
                                 createFlags & CREATE_SUSPENDED, &id);
    if (h) {
        m_hThread.Reset(reinterpret_cast<HANDLE>(h));
        m_nThreadID = id;
        if (wait && m_hStarted) {
            HANDLE both[2] = {m_hStarted.Get(), m_hThread.Get()};
            ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
        }
    }
    m_hStarted.Reset();
    return m_hThread ? TRUE : FALSE;
}

int CWinThread::ExitInstance()
{
    return m_msgCur.message == WM_QUIT ? static_cast<int>(m_msgCur.wParam) : 0;
}

BOOL CWinThread::PumpMessage()
{
    BOOL r = ::GetMessageW(&m_msgCur, nullptr, 0, 0);
    if (r == 0 || r == -1) {
        if (r == -1)
            m_msgCur.message = WM_QUIT;
        return FALSE;
    }
    AfxProcessMessage(&m_msgCur);
    return TRUE;
}

int CWinThread::Run()
{
    while (PumpMessage()) {
    }
    return ExitInstance();
}

BOOL CWinThread::PreTranslateMessage(MSG* msg)
{
    if (!msg->hwnd)
        return OnThreadMessage(msg->message, msg->wParam, msg->lParam);
    return AfxPreTranslateWindows(msg);
}

BOOL CWinThread::OnThreadMessage(UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// ---------------------------------------------------------------------------

CWinApp::CWinApp(LPCWSTR appName)
{
    g_app = this;
    t_thread = this;
    m_nThreadID = ::GetCurrentThreadId();
    if (appName)
        m_strAppName = appName;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run()
{
    // Without a main window nothing could ever end the loop.
    if (!m_pMainWnd)
        ::PostQuitMessage(0);
    return CWinThread::Run();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) const
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv)
        return;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != L'-' && argv[i][0] != L'/') {
            info.m_strFileName = argv[i];
            break;
        }
    }
    ::LocalFree(argv);
}

int CWinApp::WinMain(HINSTANCE instance, LPWSTR cmdLine, int cmdShow)
{
    m_hInstance = instance;
    m_lpCmdLine = cmdLine;
    m_nCmdShow = cmdShow;
    t_thread = this;
    m_nThreadID = ::GetCurrentThreadId();
    if (m_strAppName.empty())
        m_strAppName = LoadResString(kAppTitleId);
    if (m_strAppName.empty())
        m_strAppName = ExeBaseName();
    int code;
    if (!InitInstance()) {
        if (m_pMainWnd)
            m_pMainWnd->DestroyWindow();
        code = ExitInstance();
    } else {
        code = Run();
    }
    // OLE, when start-up began it, ends after the last window.
    AfxOleTerm();
    return code;
}

void AfxRestrictDllSearch()
{
    // Resolved at run time: systems without the update that brought it lack it.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32))
        ::SetDllDirectoryW(L""); // there, at least not the current folder
}

// The programs' entry point lives here, beside AfxGetApp, so that linking any
// program that has an application object brings it in.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int cmdShow)
{
    // Before anything can load a DLL: see AfxRestrictDllSearch.
    AfxRestrictDllSearch();
    CWinApp* app = AfxGetApp();
    return app ? app->WinMain(instance, cmdLine, cmdShow) : 1;
}
