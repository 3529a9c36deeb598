#include "SimCommon.h"

#include "Handles.h"

#include <cstdio>
#include <cwchar>

namespace sim {

const CLSID kFlash = {0xd27cdb6e, 0xae6d, 0x11cf, {0x96, 0xb8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const CLSID kMedia = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};
const CLSID kReal = {0xcfcdaa03, 0x8be4, 0x11cf, {0xb8, 0x4b, 0x00, 0x20, 0xaf, 0xbb, 0xcc, 0xfa}};

HINSTANCE g_module = nullptr;
LONG g_live = 0;
LONG g_locks = 0;

ULONGLONG OpeningMs()
{
    static const ULONGLONG ms = [] {
        wchar_t v[32];
        return ::GetEnvironmentVariableW(L"QZ_SIM_OPENING_MS", v, 32) ? static_cast<ULONGLONG>(_wtoi(v)) : 300ULL;
    }();
    return ms;
}

ULONGLONG Since(ULONGLONG now, ULONGLONG then)
{
    return now > then ? now - then : 0;
}

std::wstring Upper(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

void Log(const std::wstring& line)
{
    wchar_t path[MAX_PATH];
    if (!::GetEnvironmentVariableW(L"QZ_SIM_LOG", path, MAX_PATH))
        return;
    CFileHandle f(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f)
        return;
    std::wstring text = line + L"\r\n";
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(f.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring Number(double v)
{
    wchar_t b[64];
    swprintf(b, 64, L"%g", v);
    return b;
}

std::wstring Clock(double seconds)
{
    const long s = static_cast<long>(seconds);
    wchar_t b[32];
    swprintf(b, 32, L"%02ld:%02ld:%02ld", s / 3600, (s % 3600) / 60, s % 60);
    return b;
}

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix)
{
    return Upper(s.substr(0, wcslen(prefix))) == Upper(prefix);
}

} // namespace sim
