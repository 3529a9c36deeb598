// What the tests of the player's look share: files in the program folder,
// a recording host window, and drawing into memory to read pixels back.
#pragma once

#include "framework.h"

#include <functional>
#include <string>
#include <vector>

namespace looktest {

// Files written below the program folder (the test executable's folder, where
// the player looks for its skin), removed again with the folders they needed.
class ProgramFiles {
public:
    ProgramFiles() = default;
    ~ProgramFiles();
    ProgramFiles(const ProgramFiles&) = delete;
    ProgramFiles& operator=(const ProgramFiles&) = delete;

    // An INI file as the player's users write them, UTF-16 with a byte-order mark.
    void WriteIni(const std::wstring& relative, const std::wstring& text);
    void Copy(const std::wstring& from, const std::wstring& relative);
    std::wstring Path(const std::wstring& relative) const;

private:
    void Track(const std::wstring& relative);
    std::vector<std::wstring> m_files;
    std::vector<std::wstring> m_folders;
};

// A file of the player's artwork, as a Windows path.
std::wstring ArtFile(const wchar_t* name);

// A plain popup window that keeps the messages its children send it.
class HostWindow : public CWnd {
public:
    struct Sent {
        UINT msg;
        WPARAM wp;
        LPARAM lp;
    };
    explicit HostWindow(const RECT& rect = CRect(100, 100, 700, 500), DWORD style = WS_POPUP);
    std::vector<Sent> received;           // WM_COMMAND, WM_NOTIFY and WM_USER.. messages
    std::vector<int> splitterDeltas;      // from SPN_DRAGGED
    std::function<void(UINT, WPARAM, LPARAM)> onMessage;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
};

// A 32-bit top-down picture in memory that drawing code can target.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bitmap; }
    COLORREF At(int x, int y) const;
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width, m_height;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    DWORD* m_bits = nullptr;
};

// Sends the parent of an owner-drawn control the WM_DRAWITEM the system would
// send for the given state, with the canvas as the target.
void SendDrawItem(HWND control, UINT itemState, const Canvas& canvas);

// The number of GDI and USER objects this process holds.
DWORD GdiObjects();
DWORD UserObjects();

} // namespace looktest
