#include "Playlist.h"

#include "IniFile.h"
#include "StageTimes.h"
#include "Types.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <numeric>
#include <random>
#include <utility>

namespace {

const wchar_t kListSection[] = L"ProgList";
const wchar_t kSystemSection[] = L"System";

// "Name12": by hand, as a long list makes tens of thousands at every quit.
std::wstring KeyOf(const wchar_t* name, int index)
{
    wchar_t digits[12];
    wchar_t* at = digits + 12;
    unsigned v = static_cast<unsigned>(index);
    do {
        *--at = static_cast<wchar_t>(L'0' + v % 10);
        v /= 10;
    } while (v);
    std::wstring key(name);
    key.append(at, static_cast<size_t>(digits + 12 - at));
    return key;
}

// Keys compare without regard to case, as the profile functions do: TRUE
// when key starts with lower (ASCII, lower case), n characters.
bool StartsNoCase(std::wstring_view key, const wchar_t* lower, size_t n)
{
    if (key.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = key[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

// The row of a list key as written: "Name" or "Url" (any case) and the row
// number without sign or leading zero, at most INT_MAX. -1 for other keys.
int RowOfKey(std::wstring_view key, bool* isName)
{
    size_t at;
    if (StartsNoCase(key, L"name", 4)) {
        *isName = true;
        at = 4;
    } else if (StartsNoCase(key, L"url", 3)) {
        *isName = false;
        at = 3;
    } else {
        return -1;
    }
    if (at == key.size() || (key[at] == L'0' && at + 1 < key.size()))
        return -1;
    long long n = 0;
    for (; at < key.size(); ++at) {
        if (key[at] < L'0' || key[at] > L'9')
            return -1;
        n = n * 10 + (key[at] - L'0');
        if (n > INT_MAX)
            return -1;
    }
    return static_cast<int>(n);
}

} // namespace

std::wstring CPlaylist::DisplayName(LPCWSTR path)
{
    std::wstring name(path ? path : L"");
    size_t at = name.rfind(L'\\');
    if (at == std::wstring::npos || at < 2)
        at = name.rfind(L'/');
    if (at != std::wstring::npos && at >= 2)
        return name.substr(at + 1);
    return name;
}

// ---------------------------------------------------------------------------
// Rows

ProgItem* CPlaylist::Add(std::wstring_view path, std::wstring_view name)
{
    try {
        std::unique_ptr<ProgItem> item = ProgItem::Create(CIniFile::Printable(std::wstring(path)));
        if (!item)
            return nullptr;
        ProgItem* added = item.get();
        m_rows.push_back({CIniFile::Printable(std::wstring(name)), std::move(item)});
        return added;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CPlaylist::RemoveAll()
{
    m_rows.clear();
    m_pCurrent = nullptr;
    m_passedOver.clear();
}

void CPlaylist::Remove(const std::vector<int>& rows)
{
    std::vector<Row> kept;
    kept.reserve(m_rows.size());
    auto next = rows.begin();
    for (int i = 0; i < Count(); ++i) {
        Row& row = m_rows[static_cast<size_t>(i)];
        if (next == rows.end() || *next != i) {
            kept.push_back(std::move(row));
            continue;
        }
        if (row.item.get() == m_pCurrent)
            m_pCurrent = nullptr;
        // A removed entry no longer counts towards the chain's end, nor may
        // a new entry at its address count as passed over.
        m_passedOver.erase(row.item.get());
        ++next;
    }
    m_rows.swap(kept);
}

void CPlaylist::Swap(int a, int b)
{
    std::swap(m_rows[static_cast<size_t>(a)], m_rows[static_cast<size_t>(b)]);
}

std::vector<int> CPlaylist::SortByName()
{
    m_bSortAscending = !m_bSortAscending;
    const bool ascending = m_bSortAscending;
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = wcscmp(Name(a).c_str(), Name(b).c_str());
        return ascending ? c < 0 : c > 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (int from : order)
        sorted.push_back(std::move(m_rows[static_cast<size_t>(from)]));
    m_rows.swap(sorted);
    return order;
}

int CPlaylist::RowOf(const ProgItem* item) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_rows[static_cast<size_t>(i)].item.get() == item)
            return i;
    return -1;
}

ProgItem* CPlaylist::Find(ULONGLONG id) const
{
    for (const Row& row : m_rows)
        if (row.item->id == id)
            return row.item.get();
    return nullptr;
}

// ---------------------------------------------------------------------------
// The current entry and the next one

void CPlaylist::SetCurrent(ProgItem* item)
{
    if (!item)
        return;
    m_pCurrent = item;
    item->bPlayed = TRUE;
}

ProgItem* CPlaylist::StartItem(int selectedRow) const
{
    ProgItem* item = Item(selectedRow);
    if (!item)
        item = m_pCurrent;
    if (!item)
        item = Item(0);
    return item;
}

void CPlaylist::ClearPlayed()
{
    for (Row& row : m_rows)
        row.item->bPlayed = FALSE;
}

void CPlaylist::ToggleRandom()
{
    m_bRand = !m_bRand;
    ClearPlayed();
    if (m_bRand && m_pCurrent)
        m_pCurrent->bPlayed = TRUE;
}

ProgItem* CPlaylist::Next()
{
    const int n = Count();
    if (n <= 0)
        return nullptr;
    if (!m_bRand) {
        const int c = RowOf(m_pCurrent);
        if (!m_pCurrent || c < 0)
            return nullptr;
        if (c + 1 < n)
            return Item(c + 1);
        return m_bRepeat ? Item(0) : nullptr;
    }
    if (n == 1)
        return m_bRepeat ? Item(0) : nullptr;
    bool unplayed = false;
    for (int i = 0; i < n && !unplayed; ++i)
        unplayed = !Item(i)->bPlayed;
    if (!unplayed) {
        // A cycle is through: the next one starts with every entry unplayed.
        ClearPlayed();
        return m_bRepeat ? Item(Draw(n)) : nullptr;
    }
    // One draw among the entries still to play, each as likely as the next:
    // repeated draws over the whole list miss the last ones of a long cycle,
    // and rand() reaches no row above 32,767.
    std::vector<int> left;
    for (int i = 0; i < n; ++i)
        if (!Item(i)->bPlayed && Item(i) != m_pCurrent)
            left.push_back(i);
    return left.empty() ? nullptr : Item(left[static_cast<size_t>(Draw(static_cast<int>(left.size())))]);
}

int CPlaylist::Draw(int n)
{
    static std::mt19937 engine(static_cast<unsigned>(::GetTickCount()) ^ (::GetCurrentProcessId() << 16));
    return std::uniform_int_distribution<int>(0, n - 1)(engine);
}

ProgItem* CPlaylist::NextInChain(Cause why)
{
    // Only an item that played forgets the passed-over entries, so an open
    // that succeeds (and then never starts) does not.
    if (why == kItemEnded) {
        m_passedOver.clear();
    } else if (why == kItemPassedOver) {
        if (m_pCurrent)
            m_passedOver.insert(m_pCurrent);
        if (m_passedOver.size() >= m_rows.size()) {
            m_passedOver.clear();
            return nullptr;
        }
    }
    ProgItem* next = Next();
    if (!next)
        m_passedOver.clear();
    return next;
}

BOOL CPlaylist::PassOver(const ProgItem* item)
{
    m_passedOver.insert(item);
    if (m_passedOver.size() < m_rows.size())
        return TRUE;
    m_passedOver.clear();
    return FALSE;
}

// ---------------------------------------------------------------------------
// Persistence

void CPlaylist::Load()
{
    // One read of the whole section, and rows only for the keys it holds: a
    // damaged Count must cost nothing (reading key by key costs a search of
    // the file per key).
    IniSectionText section;
    CIniFile::GetSection(kListSection, section);
    stagetimes::Scope parse(stagetimes::kListKeys);
    // Keys in file order; a sort by row keeps that order among equal rows,
    // and the first of equal keys counts. No string per key: a long list is
    // parsed at every start.
    struct Key {
        int row;
        bool isName;
        std::wstring_view value;
    };
    std::vector<Key> keys;
    keys.reserve(section.lines.size());
    const std::wstring_view* countText = nullptr;
    for (const IniSectionText::Line& l : section.lines) {
        bool isName = false;
        const int row = RowOfKey(l.key, &isName);
        if (row >= 0)
            keys.push_back({row, isName, l.value});
        else if (!countText && l.key.size() == 5 && StartsNoCase(l.key, L"count", 5))
            countText = &l.value;
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.row < b.row; });
    parse.End();
    stagetimes::Scope rows(stagetimes::kListRows);
    // Count bounds the rows; one that is no number bounds nothing, so that
    // every entry that is there comes back.
    int count = 0;
    if (countText && !countText->empty() && (!CIniFile::ParseInt(std::wstring(*countText), count) || count < 0))
        count = INT_MAX;
    for (size_t i = 0; i < keys.size() && keys[i].row < count;) {
        const std::wstring_view *name = nullptr, *url = nullptr;
        const int row = keys[i].row;
        for (; i < keys.size() && keys[i].row == row; ++i) {
            const std::wstring_view*& slot = keys[i].isName ? name : url;
            if (!slot)
                slot = &keys[i].value;
        }
        if (!Add(url ? *url : std::wstring_view(), name ? *name : std::wstring_view()))
            break; // out of memory
    }
    rows.End();

    std::wstring flag;
    std::vector<IniEntry> system;
    CIniFile::GetSection(kSystemSection, system);
    if (CIniFile::Find(system, L"Repeat", flag))
        m_bRepeat = _wtol(flag.c_str());
    if (CIniFile::Find(system, L"Rand", flag))
        m_bRand = _wtol(flag.c_str());
}

void CPlaylist::SaveTo(CIniEdit& edit) const
{
    std::vector<IniEntry> entries;
    entries.reserve(2 * m_rows.size() + 1);
    entries.push_back({L"Count", L"0"});
    int k = 0;
    for (const Row& row : m_rows) {
        entries.push_back({KeyOf(L"Name", k), row.name});
        entries.push_back({KeyOf(L"Url", k), row.item->url});
        ++k;
    }
    entries.front().value = FormatString(L"%d", k);
    edit.ReplaceSection(kListSection, std::move(entries));
    edit.Set(kSystemSection, L"Repeat", FormatString(L"%d", m_bRepeat));
    edit.Set(kSystemSection, L"Rand", FormatString(L"%d", m_bRand));
}
