// What the playlist tests share: the settings file in the program folder, a
// frame stand-in that records what the pane asks it to play, and the pane in it.
#pragma once

#include "ListPane.h"

#include <shellapi.h>

#include <string>
#include <vector>

namespace listtest {

// The "Config" folder of the program folder without "QZPlayer.ini" while the
// object lives; afterwards the file is gone and a folder made here removed.
class SettingsFolder {
public:
    SettingsFolder();
    ~SettingsFolder();
    SettingsFolder(const SettingsFolder&) = delete;
    SettingsFolder& operator=(const SettingsFolder&) = delete;

    const std::wstring& file() const { return m_file; }
    // Writes the whole file as UTF-16 LE with a byte-order mark.
    void WriteUnicode(const std::wstring& text) const;
    // The file's bytes, and its text when it is UTF-16 with a byte-order mark.
    std::string Bytes() const;
    std::wstring Text() const;
    void Remove() const;

private:
    std::wstring m_folder;
    std::wstring m_file;
    bool m_created = false;
};

// A key as the profile reader sees it (empty when missing).
std::wstring ReadKey(const wchar_t* section, const wchar_t* key);

// Stands in for the main frame: records every OpenMedia and, like the frame,
// marks the entry current when the open succeeds.
class FrameStandIn : public CWnd, public IPlayerFrame {
public:
    struct Call {
        std::wstring path;
        ProgItem* item;
        BOOL showError;
    };
    explicit FrameStandIn(const RECT& rect = CRect(120, 120, 420, 520));
    BOOL OpenMedia(LPCWSTR path, ProgItem* item, BOOL showError) override;
    HWND GetFrameWnd() const override { return m_hWnd; }

    std::vector<Call> calls;
    CListPane* pane = nullptr;
    BOOL opens = TRUE;
};

// Registers the pane's window class (the application does it at start) and
// creates the pane in the frame as the frame will: colour, back-pointer, place.
bool CreatePane(FrameStandIn& frame, CListPane& pane, const RECT& rect = CRect(10, 10, 290, 390));

// The rows as (text, path, image) for comparisons.
struct Row {
    std::wstring text;
    std::wstring path;
    int image;
    bool operator==(const Row& o) const { return text == o.text && path == o.path && image == o.image; }
};
std::vector<Row> Rows(const CListPane& pane);
int RowOf(const CListPane& pane, const ProgItem* item);
bool Selected(const CListPane& pane, int row);

// A drop as the shell hands it over: wide names after the header, ending
// with two zeros. The receiver frees it.
HDROP MakeDrop(const std::vector<std::wstring>& names);

} // namespace listtest
