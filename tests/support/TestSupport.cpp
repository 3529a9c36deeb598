// Sockets first: the header must come before windows.h.
#include <winsock2.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include "App.h"

#include <wincodec.h>
#include <winternl.h>

#include <sstream>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <vector>

namespace testsupport {

DWORD Scaled(DWORD ms)
{
    static const DWORD factor = [] {
        wchar_t v[16] = {};
        const DWORD n = ::GetEnvironmentVariableW(L"QZ_TIME_SCALE", v, 16);
        const long f = n && n < 16 ? std::wcstol(v, nullptr, 10) : 1;
        return static_cast<DWORD>(f >= 1 && f <= 100 ? f : 1);
    }();
    return ms >= INFINITE / factor ? INFINITE : ms * factor;
}

static bool PumpUntilUnscaled(const std::function<bool()>& cond, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        PumpPending();
        if (cond())
            return true;
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return cond();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed < 50 ? timeoutMs - elapsed : 50,
                                    QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs)
{
    return PumpUntilUnscaled(cond, Scaled(timeoutMs));
}

void PumpFor(DWORD ms)
{
    PumpUntilUnscaled([] { return false; }, ms);
}

void PumpPending()
{
    MSG msg;
    bool quit = false;
    int code = 0;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Kept for whoever waits for it, but only once the rest is done:
            // a quit comes before timers, so putting it back at once would
            // keep every timer from ever firing.
            quit = true;
            code = static_cast<int>(msg.wParam);
            continue;
        }
        AfxProcessMessage(&msg);
    }
    if (quit)
        ::PostQuitMessage(code);
}

bool MoveCursorTo(POINT screen)
{
    const int x = screen.x, y = screen.y;
    // Under Wine every move is also a warp of the X pointer, and X answers it
    // with a motion event to the process that owns the window under the
    // pointer (often the desktop's). An answer to an earlier move that comes
    // late puts the cursor back there. So: move, let the desktop's process and
    // this thread take their pending input, and look; done when two such
    // rounds in a row find the cursor in place.
    int inPlace = 0;
    for (int round = 0; round < 40 && inPlace < 2; ++round) {
        if (!inPlace)
            ::SetCursorPos(x, y);
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(::GetDesktopWindow(), WM_NULL, 0, 0, SMTO_NORMAL, Scaled(1000), &answer);
        PumpUntilUnscaled([] { return false; }, 20);
        POINT p = {};
        ::GetCursorPos(&p);
        inPlace = p.x == x && p.y == y ? inPlace + 1 : 0;
    }
    return inPlace >= 2;
}

static MenuWatch* g_menuWatch = nullptr;

MenuWatch::MenuWatch(std::function<void(HWND)> seen) : m_seen(std::move(seen))
{
    g_menuWatch = this;
    m_hook = ::SetWindowsHookExW(WH_CALLWNDPROC, &MenuWatch::Hook, nullptr, ::GetCurrentThreadId());
}

MenuWatch::~MenuWatch()
{
    if (m_hook)
        ::UnhookWindowsHookEx(m_hook);
    g_menuWatch = nullptr;
}

LRESULT CALLBACK MenuWatch::Hook(int code, WPARAM wp, LPARAM lp)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (code == HC_ACTION && g_menuWatch && sent->message == WM_ENTERIDLE && sent->wParam == MSGF_MENU) {
        ++g_menuWatch->m_shown;
        g_menuWatch->m_seen(reinterpret_cast<HWND>(sent->lParam));
        ::EndMenu();
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

bool SavePng(HBITMAP bitmap, const std::wstring& path)
{
    BITMAP bm = {};
    if (!::GetObjectW(bitmap, sizeof bm, &bm))
        return false;
    const UINT width = static_cast<UINT>(bm.bmWidth), height = static_cast<UINT>(bm.bmHeight);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight; // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 4);
    HDC dc = ::GetDC(nullptr);
    int rows = ::GetDIBits(dc, bitmap, 0, height, pixels.data(), &bi, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, dc);
    if (rows != static_cast<int>(height))
        return false;

    bool comInit = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    bool ok = false;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(width, height))) {
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
        ok = SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat32bppBGR &&
             SUCCEEDED(frame->WritePixels(height, width * 4, static_cast<UINT>(pixels.size()), pixels.data())) &&
             SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (frame)
        frame->Release();
    if (encoder)
        encoder->Release();
    if (stream)
        stream->Release();
    if (factory)
        factory->Release();
    if (comInit)
        ::CoUninitialize();
    return ok;
}

std::wstring Utf8ToWide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::wstring WindowsPathOfUnix(const std::wstring& unixPath)
{
    if (unixPath.empty() || unixPath[0] != L'/')
        return unixPath;
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring HarnessFolder(const wchar_t* variable)
{
    wchar_t value[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableW(variable, value, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    return WindowsPathOfUnix(value);
}

TempFolder::TempFolder(const std::wstring& tag)
{
    static LONG counter = 0;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp);
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    for (;;) {
        m_path = base + L"\\" + tag + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::InterlockedIncrement(&counter));
        if (::CreateDirectoryW(m_path.c_str(), nullptr))
            break;
    }
}

TempFolder::~TempFolder()
{
    RemoveTree(m_path);
}

std::wstring TempFolder::operator/(const std::wstring& relative) const
{
    return m_path + L"\\" + relative;
}

Process::~Process()
{
    if (!m_info.hProcess)
        return;
    if (!Ended())
        ::TerminateProcess(m_info.hProcess, 99);
    ::WaitForSingleObject(m_info.hProcess, 5000);
    ::CloseHandle(m_info.hProcess);
    ::CloseHandle(m_info.hThread);
}

bool Process::Start(const std::wstring& commandLine, const std::wstring& folder)
{
    // Under Wine a start fails now and then with ERROR_INTERNAL_ERROR: the new
    // process died in Wine's loader before any of its code ran (its address
    // space could not be laid out while the machine was busy). Starting it
    // again is what a user would do; any other failure is final.
    if (m_info.hProcess) { // a second start: the first one's handles go
        ::CloseHandle(m_info.hProcess);
        ::CloseHandle(m_info.hThread);
        m_info = PROCESS_INFORMATION();
    }
    DWORD error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::wstring cmd = commandLine;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &si, &m_info))
            return true;
        error = ::GetLastError();
        std::fwprintf(stderr, L"CreateProcess failed (error %lu): %ls\n", error, commandLine.c_str());
        if (error != ERROR_INTERNAL_ERROR)
            break;
    }
    return false;
}

bool Process::Ended() const
{
    // One that never started has nothing to wait for.
    return !m_info.hProcess || ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_OBJECT_0;
}

bool Process::WaitEnd(DWORD timeoutMs)
{
    return PumpUntil([&] { return Ended(); }, timeoutMs);
}

bool Process::Kill()
{
    if (Ended())
        return true;
    ::TerminateProcess(m_info.hProcess, 99);
    return ::WaitForSingleObject(m_info.hProcess, 10000) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find, &fd));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    for (size_t i = 3; i < path.size(); ++i)
        if (path[i] == L'\\')
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    ::CloseHandle(f);
    return ok;
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return std::string();
    std::string out;
    char buf[65536];
    DWORD read = 0;
    while (::ReadFile(f, buf, sizeof buf, &read, nullptr) && read > 0)
        out.append(buf, read);
    ::CloseHandle(f);
    return out;
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* out)
{
    WIN32_FIND_DATAW fd;
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(root, rel, out);
        else
            out->push_back(rel);
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
}

std::vector<std::wstring> ListTree(const std::wstring& folder)
{
    std::vector<std::wstring> out;
    ListInto(folder, L"", &out);
    std::sort(out.begin(), out.end());
    return out;
}

std::string HttpGet(const std::wstring& path, DWORD* status)
{
    // Plain sockets, one connection per request: the engine under test keeps
    // WinINet's connection pool to itself.
    if (status)
        *status = 0;
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return std::string();
    std::string response;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(8085);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s != INVALID_SOCKET && ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string request = "GET " + std::string(path.begin(), path.end()) +
                              " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(s, request.data(), static_cast<int>(request.size()), 0);
        char buf[8192];
        int n;
        while ((n = ::recv(s, buf, sizeof buf, 0)) > 0)
            response.append(buf, static_cast<size_t>(n));
    }
    if (s != INVALID_SOCKET)
        ::closesocket(s);
    ::WSACleanup();
    size_t headerEnd = response.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return std::string();
    size_t space = response.find(' ');
    if (status && space != std::string::npos)
        *status = static_cast<DWORD>(std::atoi(response.c_str() + space + 1));
    return response.substr(headerEnd + 4);
}

static std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

static std::string UrlEncode(const std::string& s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

ServerStats GetServerStats()
{
    ServerStats stats;
    std::istringstream in(HttpGet(L"/__qz/stats"));
    std::string word;
    in >> word >> stats.connections;
    ServerRequest r;
    while (in >> r.connection >> r.path >> r.status >> r.sent)
        stats.requests.push_back(r);
    return stats;
}

void ResetServer()
{
    HttpGet(L"/__qz/reset");
}

// cmake/test-servers.sh logs "<connection> <uri> <status> <body bytes> ..." per request.
static std::wstring NginxLog()
{
    std::wstring www = HarnessFolder(L"QZ_WWW_DIR");
    return www.empty() ? www : www + L"\\..\\harness\\nginx\\access.log";
}

ServerStats GetNginxStats()
{
    ServerStats stats;
    std::istringstream in(ReadBytes(NginxLog()));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ServerRequest r;
        if (fields >> r.connection >> r.path >> r.status >> r.sent)
            stats.requests.push_back(r);
    }
    return stats;
}

void ResetNginx()
{
    // nginx appends (O_APPEND): emptying the file under it is safe.
    WriteBytes(NginxLog(), std::string());
}

void SetServerFault(const std::string& path, const std::string& mode, int after, int delayMs, int times)
{
    HttpGet(Widen("/__qz/fault?path=" + UrlEncode(path) + "&mode=" + mode + "&after=" + std::to_string(after) +
                  "&delay=" + std::to_string(delayMs) + "&times=" + std::to_string(times)));
}

bool Publish(const std::string& serverPath, const std::string& bytes)
{
    std::wstring root = HarnessFolder(L"QZ_WWW_DIR");
    if (root.empty())
        return false;
    std::wstring path = root + Utf8ToWide(serverPath);
    for (size_t i = root.size(); i < path.size(); ++i)
        if (path[i] == L'/')
            path[i] = L'\\';
    return WriteBytes(path, bytes);
}

void Unpublish(const std::string& serverPath)
{
    std::wstring root = HarnessFolder(L"QZ_WWW_DIR");
    if (root.empty() || serverPath.empty() || serverPath == "/")
        return;
    std::wstring path = root + Utf8ToWide(serverPath);
    for (size_t i = root.size(); i < path.size(); ++i)
        if (path[i] == L'/')
            path[i] = L'\\';
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
    else
        ::DeleteFileW(path.c_str());
}

uint32_t TestNameNumber()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
    uint32_t hash = 2166136261u;
    for (char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1u;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x & 0xFF);
    }
    return out;
}

std::wstring SaveScreenshot(const std::wstring& name)
{
    std::wstring folder = HarnessFolder(L"QZ_SCREENSHOT_DIR");
    if (folder.empty())
        return std::wstring();
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + name + L".png";

    const int w = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), h = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int x = ::GetSystemMetrics(SM_XVIRTUALSCREEN), y = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    bool ok = SavePng(bmp, path);
    ::DeleteObject(bmp);
    return ok ? path : std::wstring();
}


namespace {

// One entry of the GDI handle table the process environment block points at
// (Wine lays it out with 64-bit pointers in 32-bit processes too).
struct GdiHandleEntry {
    unsigned long long object;
    unsigned short processId;
    unsigned short count;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long user;
};

BOOL CALLBACK CountChild(HWND, LPARAM lp)
{
    ++*reinterpret_cast<DWORD*>(lp);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND wnd, LPARAM lp)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid == ::GetCurrentProcessId()) {
        ++*reinterpret_cast<DWORD*>(lp);
        ::EnumChildWindows(wnd, &CountChild, lp);
    }
    return TRUE;
}

} // namespace

DWORD GdiObjectCount()
{
    if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS))
        return n;
    using QueryProcess = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    if (!query || query(::GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        return 0;
    const char* peb = reinterpret_cast<const char*>(info.PebBaseAddress);
    const size_t offset = sizeof(void*) == 8 ? 0xF8 : 0x94;
    auto* table = *reinterpret_cast<GdiHandleEntry* const*>(peb + offset);
#ifndef _WIN64
    // A 32-bit process on a 64-bit system: the table is named in the 64-bit
    // PEB only, reached through the 64-bit TEB whose address the 32-bit TEB
    // keeps in GdiBatchCount (offset 0xF70); TEB64.Peb is at 0x60.
    if (!table) {
        struct {
            LONG exitStatus;
            const char* teb;
            CLIENT_ID id;
            ULONG_PTR affinity;
            LONG priority, basePriority;
        } thread = {};
        using QueryThread = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
        auto queryThread = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
        if (!queryThread || queryThread(::GetCurrentThread(), 0 /* ThreadBasicInformation */, &thread,
                                        sizeof thread, nullptr) != 0)
            return 0;
        const char* teb = thread.teb;
        const ULONG teb64 = *reinterpret_cast<const ULONG*>(teb + 0xF70);
        if (teb64) {
            const auto peb64 = *reinterpret_cast<const unsigned long long*>(static_cast<ULONG_PTR>(teb64) + 0x60);
            const auto table64 =
                *reinterpret_cast<const unsigned long long*>(static_cast<ULONG_PTR>(peb64) + 0xF8);
            table = reinterpret_cast<GdiHandleEntry*>(static_cast<ULONG_PTR>(table64));
        }
    }
#endif
    if (!table)
        return 0;
    // Wine's table is the process's own and leaves the owner empty.
    const unsigned short self = static_cast<unsigned short>(::GetCurrentProcessId());
    DWORD n = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i].type && (table[i].processId == 0 || table[i].processId == self))
            ++n;
    return n;
}

DWORD UserObjectCount()
{
    if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS))
        return n;
    DWORD n = 0;
    ::EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&n));
    return n;
}


namespace {

struct DialogSearch {
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND wnd, LPARAM lp)
{
    auto* s = reinterpret_cast<DialogSearch*>(lp);
    wchar_t cls[32] = {};
    ::GetClassNameW(wnd, cls, 32);
    if (wnd != s->except && ::IsWindowVisible(wnd) && lstrcmpW(cls, L"#32770") == 0) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindDialog(HWND except)
{
    DialogSearch search{except, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ClickLater(HWND dialog, int id)
{
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

namespace {

// Releases taken from this thread's queue (by any of its loops) while a
// watch is installed.
int g_releases = 0;
LRESULT CALLBACK CountReleases(int code, WPARAM wp, LPARAM lp)
{
    const UINT msg = reinterpret_cast<const MSG*>(lp)->message;
    // (A key without a focus window comes as a system key.)
    if (code == HC_ACTION && wp == PM_REMOVE && (msg == WM_KEYUP || msg == WM_SYSKEYUP || msg == WM_LBUTTONUP))
        ++g_releases;
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

bool SendAndWait(std::vector<INPUT> inputs, int releases)
{
    HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, &CountReleases, nullptr, ::GetCurrentThreadId());
    g_releases = 0;
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    const bool done = PumpUntil([&] { return g_releases >= releases; }, 5000);
    ::UnhookWindowsHookEx(hook);
    PumpPending();
    return done;
}

// An absolute move: 0..65535 over the virtual screen, the pixel being
// dx * width / 65536, so the first value that maps to it is taken. Every
// mouse event carries its place: under Wine a press sent on its own can
// still find the cursor where it was before the move.
INPUT MoveTo(POINT at, DWORD flags = 0)
{
    const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | flags;
    in.mi.dx = static_cast<LONG>(((at.x - ::GetSystemMetrics(SM_XVIRTUALSCREEN)) * 65536LL + width - 1) / width);
    in.mi.dy = static_cast<LONG>(((at.y - ::GetSystemMetrics(SM_YVIRTUALSCREEN)) * 65536LL + height - 1) / height);
    return in;
}

INPUT Key(WORD vk, DWORD flags)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = flags;
    return in;
}

} // namespace

bool Click(POINT screen)
{
    return SendAndWait({MoveTo(screen), MoveTo(screen, MOUSEEVENTF_LEFTDOWN), MoveTo(screen, MOUSEEVENTF_LEFTUP)}, 1);
}

bool Type(const std::vector<WORD>& keys, WORD modifier)
{
    std::vector<INPUT> in;
    for (WORD vk : keys) {
        if (modifier)
            in.push_back(Key(modifier, 0));
        in.push_back(Key(vk, 0));
        in.push_back(Key(vk, KEYEVENTF_KEYUP));
        if (modifier)
            in.push_back(Key(modifier, KEYEVENTF_KEYUP));
    }
    return SendAndWait(in, static_cast<int>(in.size() / 2));
}

POINT CentreOf(HWND wnd)
{
    RECT r = {};
    ::GetWindowRect(wnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

ModalDriver* ModalDriver::s_current = nullptr;

ModalDriver::ModalDriver(std::vector<std::function<bool()>> steps) : m_steps(std::move(steps))
{
    s_current = this;
    m_timer = ::SetTimer(nullptr, 0, 50, &ModalDriver::Tick);
}

ModalDriver::~ModalDriver()
{
    ::KillTimer(nullptr, m_timer);
    s_current = nullptr;
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    ModalDriver* d = s_current;
    if (!d || d->m_busy || d->finished())
        return;
    // A step may start a nested modal loop; ticks inside it must not
    // re-enter the step that is still running.
    d->m_busy = true;
    if (++d->m_tries > 200 || d->m_steps[d->m_next]()) {
        ++d->m_next;
        d->m_tries = 0;
    }
    d->m_busy = false;
}

} // namespace testsupport
