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
    // Never reused in a run: who must let messages through between finding
    // an entry and using it keeps the id and asks the playlist again
    // (CPlaylist::Find), as the list may have freed the entry meanwhile.
    ULONGLONG id = 0;
    BOOL bPlayed = FALSE;      // for the random order only; never saved

private:
    ProgItem() = default;
};
