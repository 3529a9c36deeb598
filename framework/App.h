// Threads with a message loop, and the application object that runs the program.
#pragma once

#include "Handles.h"
#include "Wnd.h"

class CWinThread {
public:
    CWinThread() = default;
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    CWnd* m_pMainWnd = nullptr; // destroying it ends the thread's message loop
    CHandle m_hThread;
    DWORD m_nThreadID = 0;
    // Deletes the object when its thread ends. Off by default: the object has
    // one owner, which may still read it (state, exit code) after the end.
    BOOL m_bAutoDelete = FALSE;

    // Starts the thread. Without CREATE_SUSPENDED it returns once the new
    // thread has a message queue, so PostThreadMessage works at once.
    BOOL CreateThread(DWORD createFlags = 0, UINT stackSize = 0);
    DWORD ResumeThread() { return ::ResumeThread(m_hThread.Get()); }
    BOOL SetThreadPriority(int priority) { return ::SetThreadPriority(m_hThread.Get(), priority); }
    int GetThreadPriority() const { return ::GetThreadPriority(m_hThread.Get()); }
    BOOL PostThreadMessage(UINT msg, WPARAM wp, LPARAM lp) const {
        return ::PostThreadMessageW(m_nThreadID, msg, wp, lp);
    }

    // InitInstance FALSE ends the thread without running the loop.
    virtual BOOL InitInstance() { return TRUE; }
    // The thread's exit code; by default the wParam of the WM_QUIT that ended the loop.
    virtual int ExitInstance();
    // The message loop: each message goes through PreTranslateMessage, then
    // TranslateMessage/DispatchMessage.
    virtual int Run();
    // Thread messages (no window) go to OnThreadMessage; window messages are
    // routed through their target window and its parents.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Handler of thread messages; TRUE = handled.
    virtual BOOL OnThreadMessage(UINT msg, WPARAM wp, LPARAM lp);

    // Waits for one message and processes it: FALSE when it was WM_QUIT.
    BOOL PumpMessage();

protected:
    MSG m_msgCur = {};

private:
    static unsigned __stdcall ThreadEntry(void* param);
    CHandle m_hStarted;
};

// The command-line fields the programs use: the first argument that is not a
// switch ("-" or "/").
class CCommandLineInfo {
public:
    std::wstring m_strFileName;
};

class CWinApp : public CWinThread {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;

    HINSTANCE m_hInstance = nullptr;
    LPWSTR m_lpCmdLine = nullptr; // the text after the program name
    int m_nCmdShow = SW_SHOWNORMAL;
    std::wstring m_strAppName;    // caption of the application's message boxes
    std::wstring m_strRegistryKey;

    BOOL InitInstance() override { return TRUE; }
    int Run() override;

    void ParseCommandLine(CCommandLineInfo& info) const;
    void SetRegistryKey(LPCWSTR key) { m_strRegistryKey = key ? key : L""; }

    // The program's entry: InitInstance, then Run (or ExitInstance on failure).
    int WinMain(HINSTANCE instance, LPWSTR cmdLine, int cmdShow);
};

// What every message loop does with a message it got: PreTranslateMessage of
// the current thread object (or of the target window and its parents), then
// TranslateMessage/DispatchMessage unless that handled it.
void AfxProcessMessage(MSG* msg);

CWinApp* AfxGetApp();
// Lets DLLs load from the system's folder only, never from the program's
// folder, where anyone who can write there could plant a DLL of a system's
// name (a bcrypt.dll that calls every signature good). The entry point calls
// it first; every DLL that is not one of the system's known DLLs is
// delay-loaded, so that none loads before.
void AfxRestrictDllSearch();
CWinThread* AfxGetThread();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// The folder of the running executable, without a trailing backslash: the
// base of every path a program builds (never the current folder).
std::wstring AfxGetModuleFolder();

// Application message boxes: caption is the application's title, owner its
// main window when there is one.
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK);
int AfxMessageBox(UINT stringId, UINT type = MB_OK);
