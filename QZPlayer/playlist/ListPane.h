// The playlist pane: shows the playlist (CPlaylist, which holds the entries
// and their rules) in a list view and hands it the context menu's commands,
// keys and dropped files; loads the list at its creation and saves it when
// it goes.
#pragma once

class CIniEdit;

#include "Playlist.h"
#include "framework.h"
#include "resource.h"

#include <string>

// What the pane needs of the main frame.
class IPlayerFrame {
public:
    // Opens the path in the player; on success the frame makes item current
    // (SetCurItem). showError lets it report an unsupported format.
    virtual BOOL OpenMedia(LPCWSTR path, ProgItem* item, BOOL showError) = 0;
    // The frame's window: the pane draws its border only while it is its child.
    virtual HWND GetFrameWnd() const = 0;
    // The number of rows changed (Play can start a list that has any).
    virtual void OnListCountChanged(int) {}

protected:
    ~IPlayerFrame() = default;
};

class CListPane : public CDialog {
public:
    enum { IDD = IDD_PLAYLIST };
    enum { kCurrentImage = 0, kEntryImage = 1 };

    CListPane() : CDialog(IDD) {}
    // Destroys the window while this object is whole, so that the list is
    // saved and the records freed.
    ~CListPane() override;

    // Appends a row showing name; null when an argument is null, the list is
    // not there or memory ran out.
    ProgItem* AddItem(LPCWSTR path, LPCWSTR name);
    // Appends a row named after the path (CPlaylist::DisplayName).
    ProgItem* AddFile(LPCWSTR path);
    void RemoveAll();
    // Makes the entry current and marks it with the play image and the
    // selection; null does nothing.
    void SetCurItem(ProgItem* item);
    // The entry Play starts when nothing is loaded, with its path: the first
    // selected row, else the current entry, else the first row; null when
    // the list is empty.
    ProgItem* GetStartProg(std::wstring& path);
    void UpdateColours();

    void LoadList();
    // The list and its modes into the frame's one replacement of the file,
    // with the window's own settings: the list's only saver.
    void SaveListTo(CIniEdit& edit);

    // The context menu's commands.
    void DeleteSelected();
    void PlaySelected();
    void ToggleRepeat() { m_playlist.m_bRepeat = !m_playlist.m_bRepeat; }
    void ToggleRand() { m_playlist.ToggleRandom(); }
    void MoveUp() { MoveFirstSelected(-1); }
    void MoveDown() { MoveFirstSelected(+1); }
    // Ascending and descending by turns; the selection follows the rows.
    void SortByName();

    // The record of a row, or null.
    ProgItem* GetRowItem(int row) const { return m_playlist.Item(row); }
    int Count() const { return m_playlist.Count(); }

    // Where the pane's requests go (null: nowhere).
    void SetFrame(IPlayerFrame* frame) { m_pFrame = frame; }
    // The model: its rules and modes are the frame's to ask. Rows are added
    // and removed through the pane, which keeps the list view's count and
    // selection with them.
    CPlaylist& Playlist() { return m_playlist; }
    const CPlaylist& Playlist() const { return m_playlist; }
    // The list view; its selection is the user's.
    CListCtrl& List() { return m_list; }
    const CListCtrl& List() const { return m_list; }
    // The tip over a cut name (no window until the mouse first moves over the list).
    const CToolTipCtrl& Tip() const { return m_tip; }
    // The pane's background: the skin's list colour (UpdateColours).
    COLORREF BkColor() const { return m_clrBk; }

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
    BOOL OnNotify(WPARAM wp, LPARAM lp, LRESULT* result) override;
    // Enter and Esc that reach the pane's dialog manager end nothing.
    void OnOK() override {}
    void OnCancel() override {}

private:
    CListCtrl m_list;
    // The whole name of a row whose name the list cuts, while the mouse is
    // on it; made at the first move over the list.
    CToolTipCtrl m_tip;
    CPlaylist m_playlist;
    COLORREF m_clrBk = 0;
    IPlayerFrame* m_pFrame = nullptr;

    // A virtual list view (owner data): the rows live in the playlist and the
    // list asks for what it shows, so a long list costs no insert per row.
    // The list view keeps only the selection and focus.
    class Batch;
    int m_nBatch = 0; // inside a Batch: the list learns the new count at its end

    // Tells the list view how many rows there are (LVM_SETITEMCOUNT flags).
    void SyncCount(DWORD flags);
    void RedrawRow(int row);
    BOOL OnListNotify(const NMHDR* hdr, LRESULT* result);
    void SetupList();
    void ShowContextMenu();
    void AddFilesDialog();
    void OnDropFiles(HDROP drop);
    void OnListMouseMove(POINT at);
    int m_nTipRow = -1; // the row the tip is for, or -1
    void OnPaint();
    void OnSize();
    void MoveFirstSelected(int step);
    void SwapRows(int a, int b);
    void PlayRow(int row);
};
