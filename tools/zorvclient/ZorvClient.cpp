// A substitute for the video client, for the tests and the demo: a main
// window of class "CZorvaneFrame", the client's two mutexes, a file held open
// the way a running program holds its image, and the updater started with
// this window as its reply target.
//
//   ZorvClient.exe [--log FILE] [--hold-mutexes] [--hold-file FILE]
//                  [--exit-after-reply] [--run-updater [ARGS...]]
//
// Everything it sees goes to the log (default: ZorvClient.log beside it), one
// UTF-8 line each: "started <command line>", "updater started", "reply <lParam>".
// Started without arguments (as the updater restarts the client) it records
// its start and ends. Messages to its window: WM_APP+1 lets go of
// "ZorvaneMutex", WM_APP+2 of "PlimLive", WM_APP+3 closes the held file.
#include "App.h"
#include "Wnd.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

const UINT kReleaseZorvane = WM_APP + 1;
const UINT kReleasePlimLive = WM_APP + 2;
const UINT kReleaseFile = WM_APP + 3;
const UINT kUpdaterReply = WM_APP + 100;

class ClientWindow : public CWnd {
public:
    std::wstring logPath;
    bool exitAfterReply = false;
    HANDLE zorvane = nullptr, plimLive = nullptr, heldFile = INVALID_HANDLE_VALUE;

    ~ClientWindow() override { ReleaseAll(); }

    void Log(const std::wstring& line) const
    {
        FILE* f = _wfopen(logPath.c_str(), L"ab");
        if (!f)
            return;
        int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                      nullptr);
        std::string utf8(static_cast<size_t>(n), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], n, nullptr, nullptr);
        utf8 += "\n";
        std::fwrite(utf8.data(), 1, utf8.size(), f);
        std::fclose(f);
    }

    void ReleaseAll()
    {
        Close(zorvane);
        Close(plimLive);
        if (heldFile != INVALID_HANDLE_VALUE) {
            ::CloseHandle(heldFile);
            heldFile = INVALID_HANDLE_VALUE;
        }
    }

    static void Close(HANDLE& h)
    {
        if (h) {
            ::CloseHandle(h);
            h = nullptr;
        }
    }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        switch (msg) {
        case kReleaseZorvane:
            Close(zorvane);
            Log(L"released ZorvaneMutex");
            return 0;
        case kReleasePlimLive:
            Close(plimLive);
            Log(L"released PlimLive");
            return 0;
        case kReleaseFile:
            if (heldFile != INVALID_HANDLE_VALUE) {
                ::CloseHandle(heldFile);
                heldFile = INVALID_HANDLE_VALUE;
            }
            Log(L"released file");
            return 0;
        case kUpdaterReply:
            Log(L"reply " + std::to_wstring(static_cast<long long>(lp)));
            if (exitAfterReply)
                PostMessage(WM_CLOSE);
            return 0;
        case WM_CLOSE:
            ReleaseAll();
            DestroyWindow();
            return 0;
        default:
            return CWnd::WindowProc(msg, wp, lp);
        }
    }
};

class ClientApp : public CWinApp {
public:
    ClientWindow window;

    BOOL InitInstance() override
    {
        int argc = 0;
        LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
        window.logPath = AfxGetModuleFolder() + L"\\ZorvClient.log";
        for (int i = 1; i + 1 < argc; ++i)
            if (std::wstring(argv[i]) == L"--log")
                window.logPath = argv[i + 1];
        window.Log(L"started " + std::wstring(m_lpCmdLine ? m_lpCmdLine : L""));
        if (argc <= 1) {
            ::LocalFree(argv);
            return FALSE; // restarted by the updater: recorded, done
        }

        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = m_hInstance;
        wc.lpszClassName = L"CZorvaneFrame";
        ::RegisterClassExW(&wc);
        if (!window.CreateEx(0, L"CZorvaneFrame", L"ZorvClient", WS_OVERLAPPEDWINDOW, CRect(0, 0, 300, 200),
                             nullptr, 0)) {
            ::LocalFree(argv);
            return FALSE;
        }
        m_pMainWnd = &window;

        std::wstring updaterArgs;
        bool runUpdater = false;
        for (int i = 1; i < argc; ++i) {
            std::wstring a = argv[i];
            if (a == L"--hold-mutexes") {
                window.zorvane = ::CreateMutexW(nullptr, FALSE, L"ZorvaneMutex");
                window.plimLive = ::CreateMutexW(nullptr, FALSE, L"PlimLive");
            } else if (a == L"--hold-file" && i + 1 < argc) {
                window.heldFile = ::CreateFileW(argv[++i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr);
                window.Log(window.heldFile != INVALID_HANDLE_VALUE ? L"holding " + std::wstring(argv[i])
                                                                   : L"cannot hold " + std::wstring(argv[i]));
            } else if (a == L"--exit-after-reply") {
                window.exitAfterReply = true;
            } else if (a == L"--log") {
                ++i;
            } else if (a == L"--run-updater") {
                runUpdater = true;
                for (++i; i < argc; ++i)
                    updaterArgs += L" " + std::wstring(argv[i]);
            }
        }
        ::LocalFree(argv);

        if (runUpdater) {
            std::wstring params = L"hwnd=" + std::to_wstring(HandleToLong(window.m_hWnd)) +
                                  L" message=" + std::to_wstring(kUpdaterReply) + updaterArgs;
            std::wstring updater = AfxGetModuleFolder() + L"\\update.exe";
            HINSTANCE r = ::ShellExecuteW(nullptr, L"open", updater.c_str(), params.c_str(), AfxGetModuleFolder().c_str(),
                                          SW_SHOWNORMAL);
            window.Log(reinterpret_cast<INT_PTR>(r) > 32 ? L"updater started " + params : L"updater not started");
        }
        return TRUE;
    }
};

ClientApp theApp;

} // namespace
