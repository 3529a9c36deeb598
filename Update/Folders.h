// Folder paths and walking one folder level (every entry but "." and "..").
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Calls visit for each entry of folder (with or without a trailing
// backslash) until it returns false. False when the folder cannot be listed.
bool ForEachEntry(const std::wstring& folder, const std::function<bool(const WIN32_FIND_DATAW&)>& visit);

// Whether the path is a link (a reparse point: a symbolic link or a junction).
// The updater never reads, writes or walks through one: whoever made it chose
// where it leads.
inline bool IsLink(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether the path is a folder of its own: there, a folder, and no link.
inline bool IsPlainFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Adds the backslash that ends a folder path, unless it is there.
inline void EnsureBackslash(std::wstring& folder)
{
    if (folder.empty() || folder.back() != L'\\')
        folder += L'\\';
}
