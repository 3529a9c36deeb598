// The playlist pane: the list of entries the player plays, the rule that
// picks the next one, the context menu, keys and dropped files, and the list
// and its two modes kept in the settings file across runs.
#pragma once

class CIniEdit;

#include "ProgItem.h"
#include "framework.h"
#include "resource.h"

#include <string>
#include <string_view>
#include <vector>

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

class CRightWnd : public CDialog {
public:
    enum { IDD = IDD_PLAYLIST };
    enum { kCurrentImage = 0, kEntryImage = 1 };

    CRightWnd() : CDialog(IDD) {}
    // Destroys the window while this object is whole, so that the list is
    // saved and the records freed.
    ~CRightWnd() override;

    // Appends a row showing name; null when an argument is null or memory ran out.
    ProgItem* AddItem(LPCWSTR path, LPCWSTR name);
    // Appends a row named after the path (DisplayName).
    ProgItem* AddFile(LPCWSTR path);
    void RemoveAll();
    // Marks the entry with the play image and the selection; null does nothing.
    void SetCurItem(ProgItem* item);
    // The entry to play after the current one, by the repeat and random modes,
    // with its path; null when playback is to end. Changes only played flags.
    ProgItem* GetNextProg(std::wstring& path);
    // The entry Play starts when nothing is loaded, with its path: the first
    // selected row, else the current entry, else the first row; null when
    // the list is empty.
    ProgItem* GetStartProg(std::wstring& path);
    void UpdateColours();

    // The text a row shows for a path: what follows its last "\" (or else its
    // last "/") when that separator is at index 2 or later; otherwise the path.
    static std::wstring DisplayName(LPCWSTR path);

    void LoadList();
    void SaveList();
    // The list's changes, for a caller that saves more in the same
    // replacement of the file.
    void SaveListTo(CIniEdit& edit);

    // The context menu's commands.
    void DeleteSelected();
    void PlaySelected();
    void ToggleRepeat() { m_bRepeat = !m_bRepeat; }
    void ToggleRand();
    void MoveUp() { MoveFirstSelected(-1); }
    void MoveDown() { MoveFirstSelected(+1); }
    void SortByName();
    // Quicksort of rows low..high (-1: the last row) by the text of column.
    void SortItems(int column, BOOL ascending, int low, int high);
    void ClearPlayed();

    // The record of a row, or null.
    ProgItem* GetRowItem(int row) const
    {
        return row >= 0 && row < Count() ? m_rows[static_cast<size_t>(row)].item : nullptr;
    }
    int Count() const { return static_cast<int>(m_rows.size()); }

    BOOL PreTranslateMessage(MSG* msg) override;

    CListCtrl m_list;
    // The whole name of a row whose name the list cuts, while the mouse is
    // on it; made at the first move over the list.
    CToolTipCtrl m_tip;
    ProgItem* m_pCurItem = nullptr;
    COLORREF m_clrBk = 0;
    BOOL m_bRepeat = FALSE;
    BOOL m_bRand = FALSE;
    BOOL m_bListSaved = FALSE; // saved with the frame's settings on its way out: not again
    BOOL m_bSortAscending = FALSE;
    IPlayerFrame* m_pFrame = nullptr;

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
    // AddItem from text that need not end with a null.
    ProgItem* AddRow(std::wstring_view path, std::wstring_view name);

    // A virtual list view (owner data): the rows live here and the list asks
    // for what it shows, so a long list costs no insert per row. The list view
    // keeps only the selection and focus.
    struct Row {
        std::wstring name;
        ProgItem* item; // owned
    };
    class Batch;
    std::vector<Row> m_rows;
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
