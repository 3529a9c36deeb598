#include "SafeName.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace {

bool IsDeviceName(const std::wstring& segment)
{
    // Windows treats "con.txt" and "con .txt" as the device too.
    std::wstring base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL")
        return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        wchar_t d = base[3];
        // Superscript one to three count as digits for device names as well.
        return (d >= L'1' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
    }
    return false;
}

bool IsSafeSegment(const std::wstring& segment)
{
    if (segment.empty() || segment == L"." || segment == L"..")
        return false;
    for (wchar_t c : segment) {
        if (c < 0x20 || c == 0x7F)
            return false;
        switch (c) {
        case L'\\': case L':': case L'*': case L'?': case L'"': case L'<': case L'>': case L'|':
            return false;
        default:
            break;
        }
    }
    if (segment.back() == L'.' || segment.back() == L' ')
        return false;
    return !IsDeviceName(segment);
}

// The staging folder's name: a file listed below it would be "installed"
// into the staging folder and deleted with it.
bool IsReservedFolder(const std::wstring& segment)
{
    static const wchar_t kStaging[] = L"$Temp$";
    return ::CompareStringOrdinal(segment.c_str(), static_cast<int>(segment.size()), kStaging, -1, TRUE) ==
           CSTR_EQUAL;
}

// The installed release's record and key chain: a listed file of either
// name would decide which releases the next run trusts.
bool IsReservedFile(const std::wstring& name)
{
    for (const wchar_t* kept : {L"/update.sig", L"/update.keys"})
        if (::CompareStringOrdinal(name.c_str(), -1, kept, -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

} // namespace

bool IsSafeFileName(const std::wstring& name)
{
    if (name.size() < 2 || name[0] != L'/' || IsReservedFile(name))
        return false;
    // A file of that name would stand where the staging folder stands.
    size_t first = name.find(L'/', 1);
    if (IsReservedFolder(name.substr(1, first == std::wstring::npos ? std::wstring::npos : first - 1)))
        return false;
    size_t start = 1;
    for (;;) {
        size_t slash = name.find(L'/', start);
        std::wstring segment = name.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (!IsSafeSegment(segment))
            return false;
        if (slash == std::wstring::npos)
            return true;
        start = slash + 1;
    }
}

std::wstring LocalPathOf(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = folder + name;
    for (size_t i = folder.size(); i < path.size(); ++i)
        if (path[i] == L'/')
            path[i] = L'\\';
    return path;
}

bool IsSafeFileName(const std::wstring& name, const std::wstring& folder)
{
    if (!IsSafeFileName(name) || folder.empty())
        return false;
    std::wstring path = LocalPathOf(folder, name);
    if (path.size() >= MAX_PATH)
        return false;
    // The system's own reading of the path must not differ from ours.
    wchar_t full[MAX_PATH];
    DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return false;
    std::wstring resolved(full, n);
    std::wstring base = folder;
    if (base.back() != L'\\')
        base += L'\\';
    return resolved.size() > base.size() && ::CompareStringOrdinal(resolved.c_str(), static_cast<int>(base.size()),
                                                                   base.c_str(), static_cast<int>(base.size()),
                                                                   TRUE) == CSTR_EQUAL &&
           resolved.size() == path.size();
}
