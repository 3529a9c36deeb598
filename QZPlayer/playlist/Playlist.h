// The playlist without a window: its entries in order with the names they
// show, the current entry, the rule that picks the next one (list or random
// order, repeat, and the entries passed over since an item last played),
// sorting by name, and the list and its two modes in the settings file. The
// pane (CListPane) shows it; the video pane asks it for the next entry.
#pragma once

#include "ProgItem.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

class CIniEdit;

class CPlaylist {
public:
    CPlaylist() = default;
    ~CPlaylist() { RemoveAll(); }
    CPlaylist(const CPlaylist&) = delete;
    CPlaylist& operator=(const CPlaylist&) = delete;

    // The text a row shows for a path: what follows its last "\" (or else its
    // last "/") when that separator is at index 2 or later; otherwise the path.
    static std::wstring DisplayName(LPCWSTR path);

    // Appends an entry. Titles and paths come from peers, servers and users:
    // control characters in either become blanks (CIniFile::Printable), so
    // that what is shown is what is saved. Null when memory ran out.
    ProgItem* Add(std::wstring_view path, std::wstring_view name);
    void RemoveAll();
    // Removes the rows given in ascending order; the current entry among
    // them leaves none current.
    void Remove(const std::vector<int>& rows);
    void Swap(int a, int b);
    // Sorts by name, by UTF-16 unit, ascending at the first call and then
    // the other way at each; rows with equal names keep their order.
    // Answers the old row of each new row.
    std::vector<int> SortByName();

    int Count() const { return static_cast<int>(m_rows.size()); }
    // The record of a row, or null.
    ProgItem* Item(int row) const
    {
        return row >= 0 && row < Count() ? m_rows[static_cast<size_t>(row)].item.get() : nullptr;
    }
    // The name of a row that exists.
    const std::wstring& Name(int row) const { return m_rows[static_cast<size_t>(row)].name; }
    int RowOf(const ProgItem* item) const;
    // The entry with this id while the list holds it, else null.
    ProgItem* Find(ULONGLONG id) const;

    ProgItem* Current() const { return m_pCurrent; }
    // Makes the entry current, which counts as played in random order;
    // null does nothing.
    void SetCurrent(ProgItem* item);
    // What Play starts when nothing is loaded: the selected row, else the
    // current entry, else the first row; null when the list is empty.
    ProgItem* StartItem(int selectedRow) const;

    // The entry to play after the current one, by the repeat and random
    // modes; null when playback is to end. Changes only played flags.
    ProgItem* Next();
    // Random order on or off: a new cycle in which only the current entry
    // counts as played (none when the order goes back to the list's).
    void ToggleRandom();
    // A uniform draw from 0 to n - 1 (n > 0), for lists of any length.
    static int Draw(int n);

    // Why the video pane wants the next entry.
    enum Cause {
        kItemEnded,      // an item played: the passed-over entries are forgotten
        kItemPassedOver, // the current item never started: it is passed over
        kRetry,          // the chain goes on after an entry failed to open
    };
    // The next entry of the chain of attempts, or null when the chain ends:
    // with repeat on and nothing that plays it would go on for ever, so it
    // ends once every entry has been passed over since an item last played.
    // Distinct entries count, as a random pick may draw one again.
    ProgItem* NextInChain(Cause why);
    // The entry NextInChain gave failed to open: it is passed over. FALSE
    // when that was the last one and the chain ends.
    BOOL PassOver(const ProgItem* item);

    // Appends the entries the settings file holds (the Name/Url keys its
    // section has, below Count when that is a number >= 0) and reads the two
    // modes; a mode without its key keeps its value.
    void Load();
    // The list and its modes as changes to the settings file.
    void SaveTo(CIniEdit& edit) const;

    BOOL m_bRepeat = FALSE;
    BOOL m_bRand = FALSE;

private:
    void ClearPlayed();

    struct Row {
        std::wstring name;
        std::unique_ptr<ProgItem> item;
    };
    std::vector<Row> m_rows;
    ProgItem* m_pCurrent = nullptr;
    BOOL m_bSortAscending = FALSE;
    // Entries passed over (failed to open, or never started) since an item
    // last played; only compared, never followed.
    std::set<const ProgItem*> m_passedOver;
};
