// What the playback tests share: the simulated controls registered for the
// test process, and their call log.
#pragma once

#include <windows.h>

#include "OleControl.h"
#include "PlayerWnd.h"
#ifdef QZ_ART_DIR_UNIX
#include "TestSupport.h"
#endif

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace playtest {

inline const CLSID kClsids[] = {
    {0xd27cdb6e, 0xae6d, 0x11cf, {0x96, 0xb8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}},
    {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}},
    {0xcfcdaa03, 0x8be4, 0x11cf, {0xb8, 0x4b, 0x00, 0x20, 0xaf, 0xbb, 0xcc, 0xfa}},
};

// The simulated controls, registered for this process only, so that Wine's
// own media control stays what other tests in this prefix create.
class SimControls {
public:
    explicit SimControls(bool flash = true, bool media = true, bool real = true)
    {
        m_dll = ::LoadLibraryW(L"SimControls.dll");
        if (!m_dll)
            return;
        auto get = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(::GetProcAddress(m_dll, "DllGetClassObject")));
        m_live = reinterpret_cast<LONG(__stdcall*)()>(reinterpret_cast<void*>(::GetProcAddress(m_dll, "SimLiveObjects")));
        const bool wanted[] = {flash, media, real};
        for (int i = 0; i < 3; ++i) {
            IUnknown* factory = nullptr;
            if (!wanted[i] || FAILED(get(kClsids[i], IID_IClassFactory, reinterpret_cast<void**>(&factory))))
                continue;
            ::CoRegisterClassObject(kClsids[i], factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookies[i]);
            factory->Release();
        }
    }
    ~SimControls()
    {
        for (DWORD cookie : m_cookies)
            if (cookie)
                ::CoRevokeClassObject(cookie);
    }
    bool Loaded() const { return m_dll && m_live; }
    LONG Live() const { return m_live ? m_live() : -1; }

private:
    HMODULE m_dll = nullptr;
    LONG(__stdcall* m_live)() = nullptr;
    DWORD m_cookies[3] = {};
};

inline std::wstring TempPath(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

// The simulated controls' call log, one call per line.
class CallLog {
public:
    CallLog() : m_path(TempPath(L"qz-sim-calls.log"))
    {
        ::DeleteFileW(m_path.c_str());
        ::SetEnvironmentVariableW(L"QZ_SIM_LOG", m_path.c_str());
    }
    ~CallLog() { ::DeleteFileW(m_path.c_str()); }
    // The lines written since the last call, without polling noise (the
    // Flash control's frame reads, the media control's timed events).
    std::vector<std::wstring> Take() { return Read(false); }
    // The same with every FrameNum read and event.
    std::vector<std::wstring> TakeAll() { return Read(true); }

private:
    std::vector<std::wstring> Read(bool frames)
    {
        std::vector<std::wstring> lines;
        HANDLE f = ::CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return lines;
        std::string bytes;
        char buf[4096];
        DWORD n = 0;
        while (::ReadFile(f, buf, sizeof buf, &n, nullptr) && n)
            bytes.append(buf, n);
        ::CloseHandle(f);
        std::wstring text(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0)), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], static_cast<int>(text.size()));
        std::wstringstream in(text.substr(std::min(m_taken, text.size())));
        m_taken = text.size();
        std::wstring line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == L'\r')
                line.pop_back();
            if (frames || (line.find(L"FrameNum") == std::wstring::npos && line.find(L"media event") != 0))
                lines.push_back(line);
        }
        return lines;
    }

    std::wstring m_path;
    size_t m_taken = 0;
};

// COM for the test's thread and a player host in a window of its own, as
// the video pane holds it (the pane may be a test's own class). The
// windows, and with them the control, go before COM ends.
template <class Pane = CWnd>
class HostInPane {
public:
    HostInPane()
    {
        if (m_ole.ok && pane.CreateEx(0, nullptr, L"pane", WS_POPUP | WS_VISIBLE, CRect(20, 20, 500, 400), nullptr, 0))
            host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 480, 360), &pane, IDC_PLAYER_WND);
    }
    ~HostInPane()
    {
        host.DestroyWindow();
        pane.DestroyWindow();
    }
    HostInPane(const HostInPane&) = delete;
    HostInPane& operator=(const HostInPane&) = delete;
    bool Ready() const { return m_ole.ok && host.IsWindow(); }

private:
    struct Ole {
        const bool ok = AfxOleInit() != FALSE;
        ~Ole()
        {
            if (ok)
                AfxOleTerm();
        }
    } m_ole; // first: ended last

public:
    Pane pane;
    CPlayerWnd host;
};

using Lines = std::vector<std::wstring>;

// The calls a simulated control refused (a wrong kind or argument type),
// which the engines must never make.
inline Lines Refused(const Lines& lines)
{
    Lines refused;
    for (const std::wstring& l : lines)
        if (l.find(L" refused ") != std::wstring::npos)
            refused.push_back(l);
    return refused;
}

// The faults the real Windows Media control crashes or hangs on (the
// simulated one's "faults" switch), which the engine must never cause.
inline Lines Faults(const Lines& lines)
{
    Lines faults;
    for (const std::wstring& l : lines)
        if (l.find(L"media FAULT") == 0)
            faults.push_back(l);
    return faults;
}

#ifdef QZ_ART_DIR_UNIX
// A movie the build made, by file name (both shell movie builds and the
// one-frame movie Haxe makes).
inline std::wstring ArtMovie(const wchar_t* name)
{
    return testsupport::WindowsPathOfUnix(testsupport::Utf8ToWide(QZ_ART_DIR_UNIX)) + L"\\" + name;
}
#endif


// A movie file of the given frames at 25 per second, without code: what
// the Flash control reads from its header [SWF].
inline std::string MovieWithoutCode(int frames)
{
    std::string body;
    body += '\0';             // an empty stage rectangle (no bits per field)
    body += std::string("\x00\x19", 2); // 25.0 frames per second (8.8)
    body += static_cast<char>(frames);
    body += '\0';
    for (int i = 0; i < frames; ++i)
        body += std::string("\x40\x00", 2); // ShowFrame
    body += std::string("\x00\x00", 2);     // End
    const unsigned size = static_cast<unsigned>(body.size() + 8);
    std::string movie = "FWS";
    movie += '\x0a';
    for (int i = 0; i < 4; ++i)
        movie += static_cast<char>((size >> (8 * i)) & 0xFF);
    return movie + body;
}

#ifdef QZ_ART_DIR_UNIX
// A movie of 250 frames (10 s) on the test server, sent once as the fault
// mode says (see tools/update_server.py); its address.
inline std::wstring ServedMovie(const std::string& name, const std::string& mode, int after, int delayMs)
{
    const std::string path = "/movies/" + name;
    testsupport::Publish(path, MovieWithoutCode(250));
    testsupport::SetServerFault(path, mode, after, delayMs, 1);
    return L"http://127.0.0.1:8085" + testsupport::Utf8ToWide(path);
}
#endif

} // namespace playtest
