#include "Settings.h"

#include "Handles.h"

#include <cwchar>
#include <vector>

const wchar_t kDefaultServer[] = L"update.example.com";

uint32_t ParseWrappingDecimal(const wchar_t* text)
{
    const wchar_t* s = text ? text : L"";
    while (*s == L' ' || (*s >= L'\t' && *s <= L'\r'))
        ++s;
    bool negative = false;
    if (*s == L'+' || *s == L'-')
        negative = *s++ == L'-';
    uint32_t value = 0;
    for (; *s >= L'0' && *s <= L'9'; ++s)
        value = value * 10u + static_cast<uint32_t>(*s - L'0');
    return negative ? 0u - value : value;
}

std::wstring VersionString(uint32_t v)
{
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%d.%d.%d.%d", static_cast<int>((v >> 24) & 0xFF), static_cast<int>((v >> 16) & 0xFF),
                  static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
    return buf;
}

uint32_t VersionNumber(const std::wstring& text)
{
    unsigned part[4];
    wchar_t end = 0;
    if (std::swscanf(text.c_str(), L"%u.%u.%u.%u%lc", &part[0], &part[1], &part[2], &part[3], &end) != 4)
        return 0;
    uint32_t v = 0;
    for (unsigned p : part) {
        if (p > 255)
            return 0;
        v = v << 8 | p;
    }
    return VersionString(v) == text ? v : 0;
}

namespace {

std::wstring Lower(const wchar_t* text)
{
    std::wstring s(text ? text : L"");
    if (s.empty())
        return s;
    // The user's locale, as the command line has always been lower-cased.
    int n = ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0)
        return s;
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, s.c_str(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

// The text after key up to the next space; false when key is absent.
bool ValueOf(const std::wstring& text, const wchar_t* key, std::wstring* value)
{
    size_t at = text.find(key);
    if (at == std::wstring::npos)
        return false;
    size_t start = at + wcslen(key);
    size_t end = text.find(L' ', start);
    *value = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    return true;
}

std::wstring ReadKey(const std::wstring& file, const wchar_t* key, const wchar_t* fallback, DWORD size)
{
    std::vector<wchar_t> buf(size);
    ::GetPrivateProfileStringW(L"UpdateSrv", key, fallback, buf.data(), size, file.c_str());
    return buf.data();
}

} // namespace

UpdateCommandLine ParseUpdateCommandLine(const wchar_t* commandLine)
{
    UpdateCommandLine result;
    std::wstring text = Lower(commandLine);
    std::wstring value;
    if (text.find(L"hide") != std::wstring::npos)
        result.visible = 0;
    if (ValueOf(text, L"builderid=", &value))
        result.builderId = value;
    if (ValueOf(text, L"hwnd=", &value))
        result.notifyWindow = static_cast<HWND>(LongToHandle(static_cast<LONG>(ParseWrappingDecimal(value.c_str()))));
    if (ValueOf(text, L"message=", &value))
        result.notifyMessage = ParseWrappingDecimal(value.c_str());
    return result;
}

UpdateSettings ReadUpdateSettings(const std::wstring& programFolder)
{
    UpdateSettings s;
    s.settingsFile = programFolder + L"\\Update.ini";
    // A buffer of 20: at most 19 characters of server address.
    s.server = ReadKey(s.settingsFile, L"FtpAddr", L"", 20);
    if (s.server.empty()) {
        s.settingsFile = programFolder + L"\\Server.ini";
        s.server = ReadKey(s.settingsFile, L"FtpAddr", kDefaultServer, 20);
    }
    s.clientProgram = ReadKey(s.settingsFile, L"AppName", L"ZorvClient.exe", MAX_PATH);
    s.version = VersionString(ParseWrappingDecimal(ReadKey(s.settingsFile, L"Version", L"", MAX_PATH).c_str()));
    return s;
}

void WriteBuilderId(const std::wstring& programFolder, const std::wstring& builderId)
{
    std::wstring file = programFolder + L"\\Update.ini";
    DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    ::WritePrivateProfileStringW(L"UpdateSrv", L"BuilderID", builderId.c_str(), file.c_str());
}

MutexPresence TestMutexPresence(const wchar_t* name)
{
    // Only opened, never created: a client starting at this moment must not
    // find its own mutex already existing.
    CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    if (mutex)
        return MutexPresence::Present;
    switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED:
        return MutexPresence::Present;
    case ERROR_FILE_NOT_FOUND:
        return MutexPresence::Absent;
    default:
        return MutexPresence::Unknown;
    }
}

int TransferPercent(DWORD expected, DWORD done)
{
    if (expected == 0)
        return 0;
    uint64_t percent = static_cast<uint64_t>(done) * 100u / expected;
    return percent > 100 ? 100 : static_cast<int>(percent); // more than announced: a full bar
}
