// The open-history: the last 30 paths and URLs opened, oldest first, which
// the open-URL dialog offers. The settings file keeps them in [FileName] as
// a sliding window of numbered keys (First, Count, Name<n>), so that an open
// adds a key and removes one instead of writing the whole history.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class COpenHistory {
public:
    static constexpr int kMax = 30;

    // Reads the history in one read of the section. Damaged numbers (not
    // numbers, or not 0 <= First <= Count) give the newest names there are;
    // then, or past 50,000 keys, the section is written again from 0.
    void Load();
    // An opened path (control characters become blanks): a new one, compared
    // without regard to case, is written to the file and, when that
    // succeeds, becomes the newest, the oldest going beyond 30. FALSE when
    // it was there already or the file did not take it.
    BOOL Add(const std::wstring& path);
    BOOL Contains(const std::wstring& path) const;
    const std::vector<std::wstring>& Paths() const { return m_paths; }

private:
    // Writes the name as the newest to the file, sliding the window in one
    // replacement of it.
    BOOL Append(const std::wstring& path) const;

    std::vector<std::wstring> m_paths;
};
