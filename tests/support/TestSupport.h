// Helpers for tests that run under Wine: bounded message pumping and screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A time-out for this run: the build under emulation runs several times
// slower, and the harness says by how much (QZ_TIME_SCALE, 1 when unset).
// Bounded waits scale their limits with it; measured durations never do.
DWORD Scaled(DWORD ms);

// Processes this thread's messages the way the framework's loops do (through
// PreTranslateMessage) until cond() holds or Scaled(timeoutMs) have passed.
// Returns whether cond() held.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs = 5000);

// Processes this thread's messages for ms, never scaled: for watching what
// the programs' own timers do (or do not do) in that time.
void PumpFor(DWORD ms);

// Processes the messages that are already waiting (and those they cause).
void PumpPending();

// Moves the cursor to a screen point and waits until it stays there; false
// when it would not (a test that depends on the cursor fails on that).
bool MoveCursorTo(POINT screen);

// While it lives, each menu that this thread shows is handed to `seen` (the
// menu's window, which answers MN_GETHMENU) and then closed. It is caught when
// the menu's own loop tells its owner that it waits for the user
// (WM_ENTERIDLE, MSGF_MENU): the menu is up for certain then, and no timer
// races the loop.
class MenuWatch {
public:
    explicit MenuWatch(std::function<void(HWND)> seen);
    ~MenuWatch();
    MenuWatch(const MenuWatch&) = delete;
    MenuWatch& operator=(const MenuWatch&) = delete;
    int shown() const { return m_shown; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp);
    std::function<void(HWND)> m_seen;
    HHOOK m_hook = nullptr;
    int m_shown = 0;
};

// Saves the virtual display as <screenshot folder>\<name>.png. The folder comes
// from QZ_SCREENSHOT_DIR (set by the harness); without it nothing is saved.
// Returns the Windows path written, or an empty string.
std::wstring SaveScreenshot(const std::wstring& name);

// Writes a 32-bit bitmap as a PNG file; true on success.
bool SavePng(HBITMAP bitmap, const std::wstring& path);

// Live GDI objects and windows of this process, for leak tests. Wine's
// GetGuiResources answers 0, so the GDI count comes from the process's GDI
// handle table and the USER count from its windows (menus not counted).
DWORD GdiObjectCount();
DWORD UserObjectCount();

// UTF-8 to UTF-16.
std::wstring Utf8ToWide(const std::string& utf8);

// A Unix path as Wine sees it (drive Z: is the Unix root).
std::wstring WindowsPathOfUnix(const std::wstring& unixPath);
// An environment variable of the harness, as a Windows path; empty when unset.
std::wstring HarnessFolder(const wchar_t* variable);

// A fresh folder under the temporary folder, deleted with everything in it
// when the object goes.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& tag = L"qz");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring m_path;
};

// A process started by a test; still running when the object goes, it is
// ended, so no test leaves a process behind.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // commandLine includes the program; folder is its working folder (or none).
    bool Start(const std::wstring& commandLine, const std::wstring& folder = std::wstring());
    bool Ended() const; // true also when it never started
    // Waits, processing this thread's messages (replies may come in meanwhile).
    bool WaitEnd(DWORD timeoutMs);
    DWORD ExitCode() const;
    DWORD Id() const { return m_info.dwProcessId; }
    // Ends it at once, as a crash or a forced shutdown would; true once it has ended.
    bool Kill();

private:
    PROCESS_INFORMATION m_info = {};
};

// Deletes a folder tree (read-only files included).
void RemoveTree(const std::wstring& folder);
// Whole-file helpers; the folders on the way are created.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
// Every file below folder, as relative paths with "\", sorted.
std::vector<std::wstring> ListTree(const std::wstring& folder);
// The test server (HTTP on 127.0.0.1:8085, serving QZ_WWW_DIR).
// A GET of path; the status in *status (0 when the server was not reached).
std::string HttpGet(const std::wstring& path, DWORD* status = nullptr);
struct ServerRequest {
    int connection;
    std::string path;
    int status;
    uint64_t sent; // body bytes the server wrote
};
struct ServerStats {
    int connections = 0;
    std::vector<ServerRequest> requests; // control requests are not listed
};
ServerStats GetServerStats();
void ResetServer();
// nginx on 127.0.0.1:8087 with the sample publishing configuration, serving
// the same folder: the requests in its access log since the last reset
// (connections not counted), and the log emptied.
constexpr WORD kNginxPort = 8087;
ServerStats GetNginxStats();
void ResetNginx();
// Makes the next `times` requests of path misbehave (see tools/update_server.py).
void SetServerFault(const std::string& path, const std::string& mode, int after = 0, int delayMs = 0,
                    int times = -1);
// Writes a file into the server's folder under the "/"-separated server path (UTF-8).
bool Publish(const std::string& serverPath, const std::string& bytes);
// Removes what was published at serverPath, a file or a folder.
void Unpublish(const std::string& serverPath);
// A number from the running test's name, the same in every process: ctest
// runs each test in its own, where counters all start again.
uint32_t TestNameNumber();

// Deterministic pseudo-random bytes.
std::string PatternBytes(size_t size, unsigned seed);


// Input through the system's queue, as a user gives it (SendInput). A click
// at a screen point and keys
// (each pressed and released, a modifier such as VK_SHIFT held around it),
// for windows of this thread, return once this thread's loops have taken
// every release from the queue and handled it; false when that did not
// happen within the bound.
bool Click(POINT screen);
bool Type(const std::vector<WORD>& keys, WORD modifier = 0);
POINT CentreOf(HWND wnd); // in screen coordinates

// The visible dialog window of this thread other than `except`, or null.
HWND FindDialog(HWND except = nullptr);
// Posts a button click to a dialog (a modal loop handles it).
void ClickLater(HWND dialog, int id);

// Steps run one per timer tick while a modal loop runs on this thread; a step
// that returns false is tried again on the next tick (its window is not
// there yet), up to 200 times.
class ModalDriver {
public:
    explicit ModalDriver(std::vector<std::function<bool()>> steps);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;
    bool finished() const { return m_next == m_steps.size(); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);

    std::vector<std::function<bool()>> m_steps;
    size_t m_next = 0;
    int m_tries = 0;
    bool m_busy = false;
    UINT_PTR m_timer = 0;
    static ModalDriver* s_current;
};

} // namespace testsupport
