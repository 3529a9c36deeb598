// One playlist entry: the path or URL that is opened when it is played. The
// playlist (CPlaylist) owns the records; everyone else holds them only as
// handles.
#pragma once

#include <windows.h>

struct ProgItem {
    // Null when there is no memory for the copy of the path.
    static ProgItem* Create(LPCWSTR path);
    ~ProgItem() { delete[] pszUrl; }
    ProgItem(const ProgItem&) = delete;
    ProgItem& operator=(const ProgItem&) = delete;

    wchar_t* pszUrl = nullptr; // owned copy, exactly as added
    BOOL bPlayed = FALSE;      // for the random order only; never saved

private:
    ProgItem() = default;
};
