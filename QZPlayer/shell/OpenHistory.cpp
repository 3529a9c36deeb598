#include "OpenHistory.h"

#include "IniFile.h"

#include <algorithm>
#include <climits>
#include <map>

namespace {

const wchar_t kFileName[] = L"FileName";
const int kHistoryCompactAbove = 50000;

std::wstring HistoryKey(int n)
{
    return L"Name" + std::to_wstring(n);
}

// The history's keys as the file holds them: First, Count and the names by
// number, from one read of the section.
struct StoredHistory {
    bool valid = false; // First and Count numbers with 0 <= First <= Count
    int first = 0, count = 0;
    std::map<int, std::wstring> names;
};

StoredHistory ReadStoredHistory()
{
    StoredHistory h;
    std::vector<IniEntry> entries;
    CIniFile::GetSection(kFileName, entries);
    bool haveFirst = false, haveCount = false;
    std::wstring firstText, countText;
    for (const IniEntry& e : entries) {
        int n = 0;
        if (e.key.size() > 4 && ::CompareStringOrdinal(e.key.c_str(), 4, L"Name", 4, TRUE) == CSTR_EQUAL &&
            e.key[4] >= L'0' && e.key[4] <= L'9' && CIniFile::ParseInt(e.key.substr(4), n) &&
            HistoryKey(n).size() == e.key.size()) {
            if (!e.value.empty())
                h.names.emplace(n, e.value); // the first of equal keys counts
        } else if (!haveFirst && ::CompareStringOrdinal(e.key.c_str(), -1, L"First", -1, TRUE) == CSTR_EQUAL) {
            haveFirst = true;
            firstText = e.value;
        } else if (!haveCount && ::CompareStringOrdinal(e.key.c_str(), -1, L"Count", -1, TRUE) == CSTR_EQUAL) {
            haveCount = true;
            countText = e.value;
        }
    }
    // Missing keys are 0, as in a new file.
    const bool firstOk = firstText.empty() || CIniFile::ParseInt(firstText, h.first);
    const bool countOk = countText.empty() || CIniFile::ParseInt(countText, h.count);
    h.valid = firstOk && countOk && h.first >= 0 && h.first <= h.count;
    return h;
}

// The whole history renumbered from 0 in one replacement of the section.
BOOL WriteCompactHistory(const std::vector<std::wstring>& history)
{
    std::vector<IniEntry> entries;
    entries.reserve(history.size() + 2);
    entries.push_back({L"First", L"0"});
    entries.push_back({L"Count", std::to_wstring(history.size())});
    for (size_t i = 0; i < history.size(); ++i)
        entries.push_back({HistoryKey(static_cast<int>(i)), history[i]});
    return CIniFile::WriteSection(kFileName, entries);
}

} // namespace

void COpenHistory::Load()
{
    const StoredHistory h = ReadStoredHistory();
    if (h.valid) {
        // At most 30 tries from First below Count; in 64 bits, as First + 30
        // may pass the range of int.
        const long long end = std::min(static_cast<long long>(h.count), static_cast<long long>(h.first) + kMax);
        for (auto it = h.names.lower_bound(h.first); it != h.names.end() && it->first < end; ++it)
            m_paths.push_back(CIniFile::Printable(it->second));
    } else {
        // Negative, reversed or not numbers: the newest names that are there.
        for (auto it = h.names.rbegin(); it != h.names.rend() && m_paths.size() < size_t(kMax); ++it)
            m_paths.insert(m_paths.begin(), CIniFile::Printable(it->second));
    }
    if (!h.valid || h.count > kHistoryCompactAbove)
        WriteCompactHistory(m_paths);
}

BOOL COpenHistory::Add(const std::wstring& text)
{
    const std::wstring path = CIniFile::Printable(text);
    if (Contains(path) || !Append(path))
        return FALSE;
    if (m_paths.size() >= static_cast<size_t>(kMax))
        m_paths.erase(m_paths.begin());
    m_paths.push_back(path);
    return TRUE;
}

BOOL COpenHistory::Append(const std::wstring& path) const
{
    const StoredHistory h = ReadStoredHistory();
    if (!h.valid || h.count >= INT_MAX - 1) {
        // Damaged since the start, or at the end of the numbers: start again from 0.
        std::vector<std::wstring> history = m_paths;
        if (history.size() >= static_cast<size_t>(kMax))
            history.erase(history.begin(), history.end() - (kMax - 1));
        history.push_back(path);
        return WriteCompactHistory(history);
    }
    // The window slides and the new name is written in one replacement of
    // the file: all of it is there or none.
    CIniEdit edit;
    if (h.count - h.first >= kMax) {
        edit.Remove(kFileName, HistoryKey(h.first));
        edit.Set(kFileName, L"First", std::to_wstring(h.first + 1));
    }
    edit.Set(kFileName, HistoryKey(h.count), path);
    edit.Set(kFileName, L"Count", std::to_wstring(h.count + 1));
    return edit.Commit();
}

BOOL COpenHistory::Contains(const std::wstring& path) const
{
    for (const std::wstring& h : m_paths)
        if (::CompareStringOrdinal(h.c_str(), static_cast<int>(h.size()), path.c_str(), static_cast<int>(path.size()),
                                   TRUE) == CSTR_EQUAL)
            return TRUE;
    return FALSE;
}
