#include "Folders.h"

#include "Handles.h"

bool ForEachEntry(const std::wstring& folder, const std::function<bool(const WIN32_FIND_DATAW&)>& visit)
{
    std::wstring pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW fd;
    CFindHandle find(::FindFirstFileW(pattern.c_str(), &fd));
    if (!find)
        return false;
    do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
            continue;
        if (!visit(fd))
            break;
    } while (::FindNextFileW(find.Get(), &fd));
    return true;
}
