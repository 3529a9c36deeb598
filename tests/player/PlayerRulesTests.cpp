// The playlist's, the open-history's and the stall rule's rules without a
// window: names,
// rows, the chain of attempts that ends once every entry was passed over,
// the stable sort, the list in the settings file, and the history's adds.
#include "IniFile.h"
#include "OpenHistory.h"
#include "Playlist.h"
#include "PlaylistSupport.h"
#include "StallRule.h"

#include <gtest/gtest.h>

using listtest::SettingsFolder;

namespace {

std::vector<std::wstring> Paths(const CPlaylist& list)
{
    std::vector<std::wstring> paths;
    for (int i = 0; i < list.Count(); ++i)
        paths.push_back(list.Item(i)->url);
    return paths;
}

} // namespace

TEST(PlaylistNames, DisplayNameTakesTheLastSeparatorFromIndexTwoOn)
{
    EXPECT_EQ(CPlaylist::DisplayName(L"C:\\a.flv"), L"a.flv");
    EXPECT_EQ(CPlaylist::DisplayName(L"a\\b.flv"), L"a\\b.flv");     // backslash at index 1
    EXPECT_EQ(CPlaylist::DisplayName(L"/b.flv"), L"/b.flv");         // slash at index 0
    EXPECT_EQ(CPlaylist::DisplayName(L"http://host/dir/"), L"");
    EXPECT_EQ(CPlaylist::DisplayName(L"http://host/dir/clip.flv?id=1"), L"clip.flv?id=1");
    EXPECT_EQ(CPlaylist::DisplayName(L"a\\b/c.wmv"), L"c.wmv");      // falls back to the slash
    EXPECT_EQ(CPlaylist::DisplayName(L"D:\\视频/新\\片.rmvb"), L"片.rmvb"); // a backslash wins
}

TEST(PlaylistRules, RowsHoldNoLineBreakAndRemovingTheCurrentEntryLeavesNone)
{
    CPlaylist list;
    ProgItem* a = list.Add(L"C:\\a\r\n.flv", L"A\tname");
    ProgItem* b = list.Add(L"b", L"B");
    ProgItem* c = list.Add(L"c", L"C");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->url, L"C:\\a  .flv");
    EXPECT_EQ(list.Name(0), L"A name");
    // What Play starts: the selected row, else the current entry, else the first.
    EXPECT_EQ(list.StartItem(-1), a);
    list.SetCurrent(b);
    EXPECT_TRUE(b->bPlayed);
    EXPECT_EQ(list.StartItem(3), b);
    EXPECT_EQ(list.StartItem(2), c);

    list.Swap(0, 2);
    EXPECT_EQ(Paths(list), (std::vector<std::wstring>{L"c", L"b", L"C:\\a  .flv"}));
    list.Remove({1, 2});
    EXPECT_EQ(Paths(list), std::vector<std::wstring>{L"c"});
    EXPECT_EQ(list.Current(), nullptr);
    EXPECT_EQ(list.RowOf(c), 0);
    EXPECT_EQ(list.Item(1), nullptr);
}

TEST(PlaylistRules, TheChainOfAttemptsEndsOnceEveryDistinctEntryWasPassedOver)
{
    CPlaylist list;
    ProgItem* a = list.Add(L"a", L"a");
    ProgItem* b = list.Add(L"b", L"b");
    ProgItem* c = list.Add(L"c", L"c");
    list.m_bRepeat = TRUE;
    list.SetCurrent(a);
    // a never started, b and c fail to open: the chain ends with the third.
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemPassedOver), b);
    list.SetCurrent(b);
    EXPECT_TRUE(list.PassOver(b));
    EXPECT_EQ(list.NextInChain(CPlaylist::kRetry), c);
    list.SetCurrent(c);
    EXPECT_FALSE(list.PassOver(c));
    // Ended, the chain starts afresh; a repeated entry counts once, and only
    // an item that played forgets the others.
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemPassedOver), a);
    EXPECT_TRUE(list.PassOver(a));
    EXPECT_TRUE(list.PassOver(c));
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemEnded), a);
    EXPECT_TRUE(list.PassOver(a));
    EXPECT_TRUE(list.PassOver(b));
    EXPECT_FALSE(list.PassOver(c));
    // A removed entry passed over no longer counts: of four, with the first
    // two passed over and the second removed, the third leaves one to try.
    {
        CPlaylist more;
        std::vector<ProgItem*> e;
        for (const wchar_t* path : {L"1", L"2", L"3", L"4"})
            e.push_back(more.Add(path, path));
        more.m_bRepeat = TRUE;
        EXPECT_TRUE(more.PassOver(e[0]));
        EXPECT_TRUE(more.PassOver(e[1]));
        more.Remove({1});
        EXPECT_TRUE(more.PassOver(e[2]));
        EXPECT_FALSE(more.PassOver(e[3]));
    }
    // Without repeat the list's end ends the chain; in a list of one, its
    // entry passed over ends it.
    list.m_bRepeat = FALSE;
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemPassedOver), nullptr);
    list.Remove({0, 1});
    list.m_bRepeat = TRUE;
    list.SetCurrent(c);
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemPassedOver), nullptr);
    EXPECT_EQ(list.NextInChain(CPlaylist::kItemEnded), c);
}

// The stall rule over sequences of polls, each from an open at 0 ms with a
// bound of 1000 ms. Steps: 'p' a poll, 'e' passed over, 'E' ended, 'r' the
// list resumes the item, 'R' the user plays it again; after any other step
// the verdict is whether the rule still watches (W) or not (E).
TEST(StallRule, AnItemStartsByItsLengthItsClockOrItsLoadAndStallsOnlyWhenNoneMoves)
{
    struct Step {
        char what;
        ULONGLONG ms;
        PlayState state;
        double position, duration;
        long buffering; // -1: the engine reports none
        CStallRule::Verdict verdict;
    };
    using V = CStallRule::Verdict;
    const V W = CStallRule::Watching, S = CStallRule::Started, X = CStallRule::Stalled, F = CStallRule::FailedLate,
            E = CStallRule::Ended;
    struct Case {
        const char* name;
        BOOL loaded; // a source without a clock, loaded whole
        std::vector<Step> steps;
    } cases[] = {
        {"a length", FALSE, {{'p', 300, Playing, 0, 30, -1, S}, {'p', 5000, Playing, 0, 0, -1, E}}},
        {"a moving clock", FALSE, {{'p', 300, Playing, 1, 0, -1, W}, {'p', 900, Playing, 1.5, 0, -1, S}}},
        {"a clock that stands", FALSE, {{'p', 300, Playing, 1, 0, -1, W}, {'p', 999, Playing, 1, 0, -1, W},
                                        {'p', 1000, Playing, 1, 0, -1, X}, {'p', 9000, Playing, 9, 0, -1, E}}},
        {"loaded without a clock", TRUE, {{'p', 300, Playing, 0, 0, -1, S}}},
        {"stopped before a sign", FALSE, {{'p', 300, Stopped, 0, 0, -1, F}}},
        {"paused time does not count", FALSE, {{'p', 900, Paused, 0, 0, -1, W}, {'p', 1800, Playing, 0, 0, -1, W},
                                               {'p', 1900, Playing, 0, 0, -1, X}}},
        {"buffering with progress", FALSE, {{'p', 500, Buffering, 0, 0, 10, W}, {'p', 1400, Buffering, 0, 0, 40, W},
                                            {'p', 2300, Buffering, 0, 0, 40, W}, {'p', 2400, Buffering, 0, 0, 40, X}}},
        {"buffering without a figure", FALSE, {{'p', 500, Buffering, 0, 0, -1, W}, {'p', 1000, Buffering, 0, 0, -1, X}}},
        {"the list resumes a passed-over item", FALSE, {{'p', 1000, Playing, 0, 0, -1, X}, {'e', 1000, Playing, 0, 0, -1, E},
                                                        {'r', 5000, Playing, 0, 0, -1, W}, {'p', 5999, Playing, 0, 0, -1, W},
                                                        {'p', 6000, Playing, 0, 0, -1, X}}},
        {"the user's Play watches no passed-over item", FALSE, {{'e', 100, Playing, 0, 0, -1, E},
                                                                {'R', 200, Playing, 0, 0, -1, E},
                                                                {'p', 9000, Playing, 0, 0, -1, E}}},
        {"an ended item is over, even resumed", FALSE, {{'p', 300, Playing, 1, 0, -1, W}, {'E', 400, Playing, 1, 0, -1, E},
                                                        {'r', 500, Playing, 1, 0, -1, E}, {'p', 9000, Stopped, 1, 0, -1, E}}},
    };
    struct Probe final : IStallProbe {
        double position = 0, duration = 0;
        long buffering = -1;
        BOOL loaded = FALSE;
        double Position() override { return position; }
        double Duration() override { return duration; }
        BOOL LoadedWithoutProgress() override { return loaded; }
        BOOL BufferingProgress(long* percent) override
        {
            *percent = buffering;
            return buffering >= 0;
        }
    };
    for (const Case& c : cases) {
        CStallRule rule;
        rule.m_dwStallMs = 1000;
        rule.Open(0);
        Probe probe;
        probe.loaded = c.loaded;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            if (s.what == 'e' || s.what == 'E')
                rule.End(s.what == 'e');
            else if (s.what == 'r')
                rule.Resume(s.ms);
            else if (s.what == 'R')
                rule.Restart(s.ms);
            probe.position = s.position;
            probe.duration = s.duration;
            probe.buffering = s.buffering;
            const V got = s.what == 'p' ? rule.Judge(s.ms, s.state, probe) : (rule.IsWatching() ? W : E);
            EXPECT_EQ(got, s.verdict) << c.name << ", step " << i;
        }
    }
}

// Random order: each entry once per cycle, in lists of any length. Repeated
// draws over the whole list missed the last entries of long cycles, and
// rand() never reached a row above 32,767.
TEST(PlaylistRules, RandomOrderPlaysEveryEntryOncePerCycleAndReachesEveryRow)
{
    CPlaylist list;
    for (int i = 0; i < 10000; ++i)
        list.Add(std::to_wstring(i), L"x");
    list.ToggleRandom();
    list.SetCurrent(list.Item(0));
    std::vector<char> seen(10000, 0);
    seen[0] = 1;
    int played = 1;
    for (ProgItem* next; (next = list.Next()) != nullptr; ++played) {
        const int row = list.RowOf(next);
        ASSERT_EQ(seen[static_cast<size_t>(row)], 0) << "row " << row << " twice in one cycle";
        seen[static_cast<size_t>(row)] = 1;
        list.SetCurrent(next);
    }
    EXPECT_EQ(played, 10000) << "the cycle ended early";

    for (int i = 10000; i < 40000; ++i)
        list.Add(std::to_wstring(i), L"x");
    list.m_bRepeat = TRUE;
    int high = 0;
    for (int draw = 0; draw < 2000; ++draw) {
        ProgItem* next = list.Next();
        ASSERT_NE(next, nullptr);
        high += list.RowOf(next) > 32767 ? 1 : 0;
    }
    // 18 % of the rows lie above 32,767: 360 of 2,000 draws on average.
    EXPECT_GT(high, 250);
    EXPECT_LT(high, 480);
}

TEST(PlaylistRules, SortingAlternatesAndRowsWithEqualNamesKeepTheirOrder)
{
    CPlaylist list;
    for (const auto& [name, path] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
             {L"b", L"p0"}, {L"b", L"p1"}, {L"a", L"p2"}, {L"B", L"p3"}, {L"中", L"p4"}, {L"a", L"p5"}})
        list.Add(path, name);
    // By UTF-16 unit, upper case first; the answer is the old row of each new row.
    EXPECT_EQ(list.SortByName(), (std::vector<int>{3, 2, 5, 0, 1, 4}));
    EXPECT_EQ(Paths(list), (std::vector<std::wstring>{L"p3", L"p2", L"p5", L"p0", L"p1", L"p4"}));
    EXPECT_EQ(list.SortByName(), (std::vector<int>{5, 3, 4, 1, 2, 0}));
    EXPECT_EQ(Paths(list), (std::vector<std::wstring>{L"p4", L"p0", L"p1", L"p2", L"p5", L"p3"}));
}

TEST(PlaylistRules, TheListIsAppendedFromTheSettingsFileAndSavedWithItsModes)
{
    SettingsFolder settings;
    settings.WriteUnicode(L"[System]\r\nRand=1\r\n[ProgList]\r\nCount=2\r\nUrl1=C:\\b.flv\r\nName0=a\r\nUrl0=C:\\a.flv\r\n");
    CPlaylist list;
    list.m_bRepeat = TRUE; // no key: kept
    list.Add(L"C:\\old.flv", L"old");
    list.Load();
    EXPECT_EQ(Paths(list), (std::vector<std::wstring>{L"C:\\old.flv", L"C:\\a.flv", L"C:\\b.flv"}));
    EXPECT_EQ(list.Name(2), L"");
    EXPECT_TRUE(list.m_bRepeat && list.m_bRand);

    CIniEdit edit;
    list.SaveTo(edit);
    ASSERT_TRUE(edit.Commit());
    EXPECT_EQ(settings.Text(), L"[System]\r\nRand=1\r\nRepeat=1\r\n[ProgList]\r\nCount=3\r\nName0=old\r\n"
                               L"Url0=C:\\old.flv\r\nName1=a\r\nUrl1=C:\\a.flv\r\nName2=\r\nUrl2=C:\\b.flv\r\n");
}

TEST(PlayerHistory, AnOpenedPathIsAddedOnceAndOnlyWhenTheFileTakesIt)
{
    SettingsFolder settings;
    settings.WriteUnicode(L"[FileName]\r\nFirst=3\r\nCount=5\r\nName3=c:\\a.flv\r\n");
    COpenHistory history;
    history.Load();
    EXPECT_FALSE(history.Add(L"C:\\A.FLV")); // there already, whatever the case
    // Numbers at their end (or damaged since the start): the section is
    // written again from 0.
    settings.WriteUnicode(L"[FileName]\r\nFirst=0\r\nCount=2147483646\r\n");
    ASSERT_TRUE(history.Add(L"c:\\b\r\n.flv"));
    EXPECT_EQ(history.Paths(), (std::vector<std::wstring>{L"c:\\a.flv", L"c:\\b  .flv"}));
    EXPECT_EQ(settings.Text(), L"[FileName]\r\nFirst=0\r\nCount=2\r\nName0=c:\\a.flv\r\nName1=c:\\b  .flv\r\n");
    // A file that cannot be replaced leaves the history as it was.
    ::SetFileAttributesW(settings.file().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(history.Add(L"c:\\c.flv"));
    ::SetFileAttributesW(settings.file().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(history.Paths().size(), 2u);
    // Thirty at most: the oldest goes from the list and from the file's window.
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(history.Add(L"c:\\" + std::to_wstring(i) + L".flv"));
    EXPECT_EQ(history.Paths().size(), 30u);
    EXPECT_EQ(history.Paths().front(), L"c:\\0.flv");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"First"), L"2");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"32");
    COpenHistory again;
    again.Load();
    EXPECT_EQ(again.Paths(), history.Paths());
}
