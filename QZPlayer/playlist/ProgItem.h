// One playlist entry: the path or URL that is opened when it is played. The
// playlist (CPlaylist) owns the records; everyone else holds them only as
// handles.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

struct ProgItem {
    // Null when there is no memory for it.
    static std::unique_ptr<ProgItem> Create(std::wstring path);
    ProgItem(const ProgItem&) = delete;
    ProgItem& operator=(const ProgItem&) = delete;

    const std::wstring url; // exactly as added
    BOOL bPlayed = FALSE;   // for the random order only; never saved
    // Never reused in a run: who must let messages through between finding
    // an entry and using it keeps the id and asks the playlist again
    // (CPlaylist::Find), as the list may have freed the entry meanwhile.
    const ULONGLONG id;

private:
    ProgItem(std::wstring path, ULONGLONG id) : url(std::move(path)), id(id) {}
};
