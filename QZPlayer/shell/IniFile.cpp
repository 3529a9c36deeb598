#include "IniFile.h"

#include <cwchar>
#include <vector>

namespace {

const wchar_t kSettingsFile[] = L"\\Config\\QZPlayer.ini";

// What the key reader does to a value: a value wrapped in a pair of the same
// quote loses them, and the buffer cuts it.
std::wstring AsKeyReaderReads(const wchar_t* text, size_t length)
{
    if (length >= 2 && (text[0] == L'"' || text[0] == L'\'') && text[length - 1] == text[0]) {
        ++text;
        length -= 2;
    }
    if (length > CIniFile::kMaxValue)
        length = CIniFile::kMaxValue;
    return std::wstring(text, length);
}

} // namespace

std::wstring CIniFile::GetPath()
{
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    size_t slash = path.rfind(L'\\');
    path.resize(slash == std::wstring::npos ? 0 : slash);
    return path + kSettingsFile;
}

BOOL CIniFile::GetString(LPCWSTR section, LPCWSTR key, std::wstring& value)
{
    wchar_t buf[1024] = {};
    DWORD n = ::GetPrivateProfileStringW(section, key, L"", buf, 1024, GetPath().c_str());
    if (n == 0) {
        value.clear();
        return FALSE;
    }
    value.assign(buf, n);
    return TRUE;
}

BOOL CIniFile::WriteString(LPCWSTR section, LPCWSTR key, LPCWSTR value)
{
    const std::wstring path = GetPath();
    CreateUnicodeFile(path);
    return ::WritePrivateProfileStringW(section, key, value, path.c_str());
}

BOOL CIniFile::GetSection(LPCWSTR section, std::vector<IniEntry>& entries)
{
    entries.clear();
    const std::wstring path = GetPath();
    // The reader answers size - 2 when the section did not fit.
    std::vector<wchar_t> buf(64 * 1024);
    DWORD n = 0;
    for (;;) {
        n = ::GetPrivateProfileSectionW(section, buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 2 < buf.size() || buf.size() >= (64u << 20))
            break;
        buf.assign(buf.size() * 4, L'\0');
    }
    // "key=value\0key=value\0\0"; a line without "=" is a key without a value.
    for (size_t at = 0; at < n && buf[at];) {
        const wchar_t* line = &buf[at];
        const size_t length = wcslen(line);
        const wchar_t* eq = wmemchr(line, L'=', length);
        IniEntry e;
        if (eq) {
            e.key.assign(line, eq - line);
            e.value = AsKeyReaderReads(eq + 1, length - (eq - line) - 1);
        } else {
            e.key.assign(line, length);
        }
        entries.push_back(std::move(e));
        at += length + 1;
    }
    return !entries.empty();
}

BOOL CIniFile::WriteSection(LPCWSTR section, const std::vector<IniEntry>& entries)
{
    size_t size = 1;
    for (const IniEntry& e : entries)
        size += e.key.size() + e.value.size() + 2;
    std::wstring block;
    block.reserve(size);
    for (const IniEntry& e : entries) {
        block += e.key;
        block += L'=';
        block += e.value;
        block += L'\0';
    }
    block += L'\0';
    const std::wstring path = GetPath();
    CreateUnicodeFile(path);
    return ::WritePrivateProfileSectionW(section, block.c_str(), path.c_str());
}

void CIniFile::CreateUnicodeFile(const std::wstring& path)
{
    // CREATE_NEW leaves an existing file alone and fails without the folder.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static const BYTE kBom[] = {0xFF, 0xFE};
    DWORD written = 0;
    ::WriteFile(file, kBom, sizeof kBom, &written, nullptr);
    ::CloseHandle(file);
}
