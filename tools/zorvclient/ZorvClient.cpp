// A substitute for the video client, for the tests and the demo: a main
// window of class "CZorvaneFrame", the client's two mutexes, a file held open
// the way a running program holds its image, the updater started with this
// window as its reply target, and the player's client: it starts QZPlayer.exe,
// recolours, repaints and ends it, and takes its video pane into a window of
// its own when the player asks (code 6) and gives it back on the next request.
//
//   ZorvClient.exe [--log FILE] [--hold-mutexes] [--hold-file FILE]
//                  [--exit-after-reply] [--show] [--player ARGS]
//                  [--run-updater [ARGS...]]
//   ZorvClient.exe --tell COMMAND      hands COMMAND to the running client
//
// Everything it sees goes to the log (default: ZorvClient.log beside it), one
// UTF-8 line each: "started <command line>", "updater started", "reply <lParam>",
// "player started <args>", "player ended <code>", "embedded", "given back", ...
// Started without arguments (as the updater restarts the client) it records
// its start and ends. Messages to its window: WM_APP+1 lets go of
// "ZorvaneMutex", WM_APP+2 of "PlimLive", WM_APP+3 closes the held file.
//
// Commands (the rest of the line after "--tell", or the UTF-16 text of a
// WM_COPYDATA with code kClientCommand; the reply is 1 when it was done):
//   player ARGS    start QZPlayer.exe (beside the client) with ARGS
//   colour RRGGBB  send the player's frame this colour (code 3)
//   repaint        code 4 to the video pane and the playlist pane
//   change         press the player's standalone/embedded button
//   quit           ask the player to end (wParam 100) and wait up to 10 s
//   close          end the client (a pane it holds goes back first)
#include "App.h"
#include "Handles.h"
#include "Protocol.h"
#include "Wnd.h"

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

const UINT kReleaseZorvane = WM_APP + 1;
const UINT kReleasePlimLive = WM_APP + 2;
const UINT kReleaseFile = WM_APP + 3;
const UINT kUpdaterReply = WM_APP + 100;
const ULONG_PTR kClientCommand = 0x5A43; // "ZC": a command for this client
const UINT_PTR kReapTimer = 1;

LRESULT SendCode(HWND to, ULONG_PTR code, const void* data = nullptr, DWORD size = 0)
{
    COPYDATASTRUCT cds = {code, size, const_cast<void*>(data)};
    DWORD_PTR result = 0;
    if (!to || !::SendMessageTimeoutW(to, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 5000,
                                      &result))
        return 0;
    return static_cast<LRESULT>(result);
}

class ClientWindow : public CWnd {
public:
    std::wstring logPath;
    bool exitAfterReply = false;
    CHandle zorvane, plimLive;
    CFileHandle heldFile;
    // Players this client started, until each has ended.
    std::vector<CHandle> players;
    // The player's left pane while this window holds it, and its frame.
    HWND pane = nullptr, paneFrame = nullptr;

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
        zorvane.Reset();
        plimLive.Reset();
        heldFile.Reset();
    }

    bool StartPlayer(const std::wstring& args)
    {
        const std::wstring folder = AfxGetModuleFolder();
        std::wstring line = L"\"" + folder + L"\\QZPlayer.exe\" " + args;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
            Log(L"player not started " + args);
            return false;
        }
        CHandle process(pi.hProcess), thread(pi.hThread);
        players.push_back(std::move(process));
        Log(L"player started " + args);
        return true;
    }

    // Ended players are recorded with their exit code and let go.
    void ReapPlayers()
    {
        for (size_t i = 0; i < players.size();) {
            DWORD code = 0;
            if (::WaitForSingleObject(players[i].Get(), 0) == WAIT_OBJECT_0) {
                ::GetExitCodeProcess(players[i].Get(), &code);
                players.erase(players.begin() + static_cast<std::ptrdiff_t>(i));
                Log(L"player ended " + std::to_wstring(code));
            } else {
                ++i;
            }
        }
    }

    static HWND PlayerFrame() { return ::FindWindowW(kFrameClass, nullptr); }

    // The player's request: take its left pane in, or give it back.
    LRESULT OnChangeRequest(HWND frame)
    {
        if (pane) {
            GiveBack(frame);
            return TRUE;
        }
        if (!frame || !::IsWindow(frame))
            return FALSE;
        HWND left = ::FindWindowExW(frame, nullptr, kVideoPaneClass, nullptr);
        if (!left)
            return FALSE;
        if (!IsWindowVisible()) {
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, 560, 420, SWP_NOMOVE | SWP_NOZORDER);
            ShowWindow(SW_SHOW);
        }
        if (!::SetParent(left, m_hWnd)) {
            Log(L"cannot take the pane: error " + std::to_wstring(::GetLastError()));
            return FALSE;
        }
        pane = left;
        paneFrame = frame;
        ::ShowWindow(frame, SW_HIDE);
        PlacePane();
        SendCode(pane, kCopyRepaint);
        SendCode(pane, kCopyPlaceVideo);
        ::RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
        Log(L"embedded");
        return TRUE;
    }

    void PlacePane()
    {
        if (!pane)
            return;
        const CRect c = GetClientRect();
        ::SetWindowPos(pane, nullptr, c.left, c.top, c.Width(), c.Height(), SWP_NOZORDER | SWP_SHOWWINDOW);
    }

    // The pane returns to its frame, which lays it out and shows itself: code
    // 6 to the handle the request carried, as the message table has it (the
    // frame it was taken from when the client itself gives it back).
    void GiveBack(HWND to = nullptr)
    {
        if (!pane)
            return;
        HWND left = pane, frame = to ? to : paneFrame;
        if (frame == m_hWnd) {
            Log(L"cannot give back: the request named this window");
            return;
        }
        pane = paneFrame = nullptr;
        if (!::IsWindow(left) || !::IsWindow(frame))
            return;
        ::SetParent(left, frame);
        SendCode(frame, kCopyChange);
        Log(L"given back");
    }

    LRESULT Command(const std::wstring& text)
    {
        Log(L"command " + text);
        const LRESULT done = Perform(text);
        if (!done)
            Log(L"not done: " + text);
        return done;
    }

    LRESULT Perform(const std::wstring& text)
    {
        const size_t blank = text.find(L' ');
        const std::wstring verb = text.substr(0, blank);
        const std::wstring rest = blank == std::wstring::npos ? L"" : text.substr(blank + 1);
        if (verb == L"player")
            return StartPlayer(rest);
        if (verb == L"colour") {
            const unsigned long rgb = std::wcstoul(rest.c_str(), nullptr, 16);
            const COLORREF colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
            return SendCode(PlayerFrame(), 3, &colour, sizeof colour);
        }
        if (verb == L"repaint") {
            HWND frame = PlayerFrame();
            HWND left = pane ? pane : ::FindWindowExW(frame, nullptr, kVideoPaneClass, nullptr);
            LRESULT a = SendCode(left, kCopyRepaint);
            LRESULT b = SendCode(::FindWindowExW(frame, nullptr, kListPaneClass, nullptr), kCopyRepaint);
            return a && b;
        }
        if (verb == L"change") {
            // The control bar is the pane's child that owns the button.
            HWND left = pane ? pane : ::FindWindowExW(PlayerFrame(), nullptr, kVideoPaneClass, nullptr);
            for (HWND bar = ::GetWindow(left, GW_CHILD); left && bar; bar = ::GetWindow(bar, GW_HWNDNEXT)) {
                if (HWND button = ::GetDlgItem(bar, kChangeButtonId)) {
                    ::PostMessageW(bar, WM_COMMAND, MAKEWPARAM(kChangeButtonId, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(button));
                    return TRUE;
                }
            }
            return FALSE;
        }
        if (verb == L"quit")
            return QuitPlayer();
        if (verb == L"close") {
            PostMessage(WM_CLOSE);
            return TRUE;
        }
        return FALSE;
    }

    LRESULT QuitPlayer()
    {
        static const UINT probe = ::RegisterWindowMessageW(kApplicationMessage);
        HWND frame = PlayerFrame();
        DWORD_PTR answer = 0;
        if (!frame || !::SendMessageTimeoutW(frame, probe, kQuitRequest, 0, SMTO_ABORTIFHUNG, 5000, &answer))
            return FALSE;
        // Wait for the players this client started, still answering messages
        // sent to this window meanwhile.
        const DWORD until = ::GetTickCount() + 10000;
        while (!players.empty() && static_cast<LONG>(until - ::GetTickCount()) > 0) {
            std::vector<HANDLE> waited;
            for (const CHandle& player : players)
                waited.push_back(player.Get());
            ::MsgWaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), FALSE, 100, QS_SENDMESSAGE);
            MSG m;
            ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            ReapPlayers();
        }
        return players.empty();
    }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        switch (msg) {
        case WM_COPYDATA: {
            const CopyData data(lp);
            if (data.Code() == kCopyChange)
                return OnChangeRequest(data.Handle());
            if (data.Code() == kClientCommand)
                return Command(data.Text());
            break;
        }
        case WM_SIZE:
            PlacePane();
            if (pane)
                SendCode(pane, kCopyPlaceVideo);
            break;
        case WM_TIMER:
            if (wp == kReapTimer) {
                ReapPlayers();
                return 0;
            }
            break;
        case kReleaseZorvane:
            zorvane.Reset();
            Log(L"released ZorvaneMutex");
            return 0;
        case kReleasePlimLive:
            plimLive.Reset();
            Log(L"released PlimLive");
            return 0;
        case kReleaseFile:
            heldFile.Reset();
            Log(L"released file");
            return 0;
        case kUpdaterReply:
            Log(L"reply " + std::to_wstring(static_cast<long long>(lp)));
            if (exitAfterReply)
                PostMessage(WM_CLOSE);
            return 0;
        case WM_CLOSE:
            // A pane of the player is not this window's to destroy.
            GiveBack();
            ReleaseAll();
            DestroyWindow();
            return 0;
        default:
            break;
        }
        return CWnd::WindowProc(msg, wp, lp);
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
        if (argc > 1 && std::wstring(argv[1]) == L"--tell") {
            Tell(argc, argv);
            ::LocalFree(argv);
            return FALSE;
        }
        window.Log(L"started " + std::wstring(m_lpCmdLine ? m_lpCmdLine : L""));
        if (argc <= 1) {
            ::LocalFree(argv);
            return FALSE; // restarted by the updater: recorded, done
        }

        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = m_hInstance;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = kClientFrameClass;
        ::RegisterClassExW(&wc);
        // The player's pane, once taken in, paints itself: the client keeps off it.
        if (!window.CreateEx(0, kClientFrameClass, L"ZorvClient", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             CRect(0, 0, 300, 200),
                             nullptr, 0)) {
            ::LocalFree(argv);
            return FALSE;
        }
        m_pMainWnd = &window;

        std::wstring updaterArgs, playerArgs;
        bool runUpdater = false, startPlayer = false;
        for (int i = 1; i < argc; ++i) {
            std::wstring a = argv[i];
            if (a == L"--hold-mutexes") {
                window.zorvane.Reset(::CreateMutexW(nullptr, FALSE, kClientMutex));
                window.plimLive.Reset(::CreateMutexW(nullptr, FALSE, kClientLiveMutex));
            } else if (a == L"--hold-file" && i + 1 < argc) {
                window.heldFile.Reset(::CreateFileW(argv[++i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
                window.Log(window.heldFile ? L"holding " + std::wstring(argv[i])
                                           : L"cannot hold " + std::wstring(argv[i]));
            } else if (a == L"--show") {
                window.ShowWindow(SW_SHOW);
            } else if (a == L"--player" && i + 1 < argc) {
                startPlayer = true;
                playerArgs = argv[++i];
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

        window.SetTimer(kReapTimer, 100);
        if (startPlayer)
            window.StartPlayer(playerArgs);
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

    // "--tell COMMAND": the words after it, joined by blanks, to the running
    // client (a player's arguments travel as one text, unquoted).
    void Tell(int argc, LPWSTR* argv)
    {
        std::wstring command;
        for (int i = 2; i < argc; ++i)
            command += (i > 2 ? L" " : L"") + std::wstring(argv[i]);
        HWND client = ::FindWindowW(kClientFrameClass, nullptr);
        DWORD_PTR result = 0;
        COPYDATASTRUCT cds = {kClientCommand, static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)), &command[0]};
        if (!client || !::SendMessageTimeoutW(client, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                                              SMTO_ABORTIFHUNG, 30000, &result))
            result = 0;
        m_nExitCode = result ? 0 : 1;
    }

    int ExitInstance() override { return m_nExitCode ? m_nExitCode : CWinApp::ExitInstance(); }

    int m_nExitCode = 0;
};

ClientApp theApp;

} // namespace
