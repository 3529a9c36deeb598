// Folder paths and walking one folder level (every entry but "." and "..").
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Calls visit for each entry of folder (with or without a trailing
// backslash) until it returns false. False when the folder cannot be listed.
bool ForEachEntry(const std::wstring& folder, const std::function<bool(const WIN32_FIND_DATAW&)>& visit);

// Adds the backslash that ends a folder path, unless it is there.
inline void EnsureBackslash(std::wstring& folder)
{
    if (folder.empty() || folder.back() != L'\\')
        folder += L'\\';
}
