// What the player, the updater and the programs around them (the client,
// second starts of the player) rely on: message codes, names and control ids.
// Other programs hold these numbers and spellings, so none of them may change.
#pragma once

#include <windows.h>

#include <string>

// WM_COPYDATA codes (COPYDATASTRUCT::dwData). Every receiver answers TRUE for
// a code it took.
const ULONG_PTR kCopyCommand = 2;    // to the frame: a command line, UTF-16
                                     // ("-p|-a path[|title]", "-h", ...)
const ULONG_PTR kCopyColour = 3;     // to the frame: the frame colour, a COLORREF
const ULONG_PTR kCopyRepaint = 4;    // to the video pane, the list pane or the
                                     // player host: paint again
const ULONG_PTR kCopyPlaceVideo = 5; // to the video pane: lay the video out in it
const ULONG_PTR kCopyChange = 6;     // to the client: the frame's handle as 32
                                     // bits, asking it to take or give back the
                                     // video pane; to the frame: show standalone

// WM_COPYDATA as every receiver reads it: the payload never beyond cbData,
// whoever sent it.
class CopyData {
public:
    explicit CopyData(LPARAM lp) : m_data(reinterpret_cast<const COPYDATASTRUCT*>(lp)) {}
    // The code; 0, no code of ours, without a COPYDATASTRUCT.
    ULONG_PTR Code() const { return m_data ? m_data->dwData : 0; }
    // UTF-16 text up to the first zero; an odd last byte is ignored.
    std::wstring Text() const
    {
        if (!m_data || !m_data->lpData)
            return std::wstring();
        const auto* text = static_cast<const wchar_t*>(m_data->lpData);
        const size_t units = m_data->cbData / sizeof(wchar_t);
        size_t n = 0;
        while (n < units && text[n])
            ++n;
        return std::wstring(text, n);
    }
    // A COLORREF; false when the payload is shorter.
    bool Colour(COLORREF* colour) const
    {
        if (!m_data || !m_data->lpData || m_data->cbData < sizeof(COLORREF))
            return false;
        *colour = *static_cast<const COLORREF*>(m_data->lpData);
        return true;
    }
    // A window handle sent as 32 bits; null when the payload is shorter.
    HWND Handle() const
    {
        if (!m_data || !m_data->lpData || m_data->cbData < sizeof(LONG))
            return nullptr;
        return static_cast<HWND>(LongToHandle(*static_cast<const LONG*>(m_data->lpData)));
    }

private:
    const COPYDATASTRUCT* m_data;
};

// The registered message any program may probe the frame with: the frame
// answers with the message's own number; wParam kQuitRequest asks it to quit.
const wchar_t kApplicationMessage[] = L"QZPlayer.Application";
const WPARAM kQuitRequest = 100;

// Window classes (the dialog templates in QZPlayer.rc name the player's too).
const wchar_t kFrameClass[] = L"CQZPlyerFrame"; // spelt so: clients look for it
const wchar_t kVideoPaneClass[] = L"CQZPlayer";
const wchar_t kListPaneClass[] = L"CQZPlayerList";
const wchar_t kClientFrameClass[] = L"CZorvaneFrame";

// Named mutexes: one player at a time; the client's own two.
const wchar_t kPlayerMutex[] = L"QZPlayer";
const wchar_t kClientMutex[] = L"ZorvaneMutex";
const wchar_t kClientLiveMutex[] = L"PlimLive";

// The control bar's button the client presses (IDC_BAR_CHANGE in resource.h).
const int kChangeButtonId = 1016;
