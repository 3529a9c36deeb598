// The list and its modes in real settings files under Wine: the keys and
// values, files written key by key, Unicode, and a long list.
#include "IniFile.h"
#include "PlaylistSupport.h"
#include "SkinConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using listtest::FrameStandIn;
using listtest::ReadKey;
using listtest::Row;
using listtest::Rows;
using listtest::SettingsFolder;

namespace {

// A pane that lives only as long as the object: created (loading) and
// destroyed (saving) like the player's at start and exit.
struct Session {
    Session() { created = listtest::CreatePane(frame, pane); }
    // As the frame does on its way out, with its own settings.
    ~Session()
    {
        CIniEdit edit;
        pane.SaveListTo(edit);
        edit.Commit();
    }
    FrameStandIn frame;
    CListPane pane;
    bool created = false;
};

// The section as it is stored, key by key, in file order.
std::vector<std::pair<std::wstring, std::wstring>> Stored(const wchar_t* section)
{
    std::vector<IniEntry> entries;
    CIniFile::GetSection(section, entries);
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const auto& e : entries)
        out.emplace_back(e.key, e.value);
    return out;
}

// The way the list used to be saved: every key its own call, and each call a
// rewrite of the file.
void SaveKeyByKey(const std::vector<std::pair<std::wstring, std::wstring>>& rows, BOOL repeat, BOOL rand)
{
    std::wstring old;
    CIniFile::GetString(L"ProgList", L"Count", old);
    const long oldCount = _wtol(old.c_str());
    CIniFile::WriteString(L"ProgList", L"Count", L"0");
    for (long i = 0; i < oldCount; ++i) {
        CIniFile::WriteString(L"ProgList", FormatString(L"Name%d", static_cast<int>(i)).c_str(), nullptr);
        CIniFile::WriteString(L"ProgList", FormatString(L"Url%d", static_cast<int>(i)).c_str(), nullptr);
    }
    int k = 0;
    for (const auto& r : rows) {
        CIniFile::WriteString(L"ProgList", FormatString(L"Name%d", k).c_str(), r.first.c_str());
        CIniFile::WriteString(L"ProgList", FormatString(L"Url%d", k).c_str(), r.second.c_str());
        ++k;
    }
    if (k > 0)
        CIniFile::WriteString(L"ProgList", L"Count", FormatString(L"%d", k).c_str());
    CIniFile::WriteString(L"System", L"Repeat", FormatString(L"%d", repeat).c_str());
    CIniFile::WriteString(L"System", L"Rand", FormatString(L"%d", rand).c_str());
}

} // namespace

TEST(PlaylistStore, KeysReadAndWriteOneAtATime)
{
    SettingsFolder settings;
    settings.WriteUnicode(L"[System]\r\nEmpty=\r\nQuoted=\"a b\"\r\nWIDTH=1\r\nwidth=2\r\n");
    std::wstring value = L"stale";
    EXPECT_FALSE(CIniFile::GetString(L"System", L"Empty", value));
    EXPECT_EQ(value, L"");
    EXPECT_FALSE(CIniFile::GetString(L"System", L"Missing", value));
    EXPECT_TRUE(CIniFile::GetString(L"System", L"Quoted", value));
    EXPECT_EQ(value, L"a b");
    EXPECT_TRUE(CIniFile::GetString(L"System", L"Width", value));
    EXPECT_EQ(value, L"1");
    // A section reads its values as written, and its keys are found as the
    // key reader finds them: the first of equal keys, in any case.
    std::vector<IniEntry> entries;
    ASSERT_TRUE(CIniFile::GetSection(L"System", entries));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].value, L"\"a b\"");
    EXPECT_TRUE(CIniFile::Find(entries, L"Width", value));
    EXPECT_EQ(value, L"1");
    EXPECT_TRUE(CIniFile::Find(entries, L"quoted", value));
    EXPECT_EQ(value, L"\"a b\"");
    EXPECT_FALSE(CIniFile::Find(entries, L"Empty", value));
    EXPECT_FALSE(CIniFile::Find(entries, L"Missing", value));
    EXPECT_EQ(value, L"");
    CIniFile::WriteString(L"System", L"Width", nullptr);

    EXPECT_TRUE(CIniFile::WriteString(L"System", L"Width", L"640"));
    EXPECT_EQ(ReadKey(L"System", L"Width"), L"640");
    EXPECT_TRUE(CIniFile::WriteString(L"System", L"Width", nullptr));
    EXPECT_EQ(settings.Text().find(L"Width"), std::wstring::npos);

    // Long values come back whole from either reader (a URL with a long query).
    const std::wstring url = L"http://example.com/v.flv?" + std::wstring(1100, L'q');
    CIniFile::WriteString(L"System", L"Long", url.c_str());
    EXPECT_TRUE(CIniFile::GetString(L"System", L"Long", value));
    EXPECT_EQ(value, url);
    ASSERT_TRUE(CIniFile::GetSection(L"System", entries));
    EXPECT_TRUE(CIniFile::Find(entries, L"Long", value));
    EXPECT_EQ(value, url);

    // Our section reader finds what the platform's finds, in any file, and
    // our editor sets a key in the section both read (UTF-16 BE only the
    // platform reads).
    using namespace std::string_literals;
    const std::string utf16 = "\xFF\xFE", bigEndian = "\xFE\xFF";
    const struct {
        std::string bom;
        std::wstring text;
    } files[] = {
        {utf16, L"[ProgList]\r\n  Name0  =  a b  \r\n;Url0=x\r\n\r\nbare\r\n=x\r\n = \r\n[proglist]\r\nUrl0=later\r\n"},
        {utf16, L"Url0=before\r[ProgList]\rName0=cr\r\rUrl0=only\r"},
        {utf16, L"[ ProgList ]\nA=1\n[ProgList]tail\nB=2\n"},
        {utf16, L"[ProgList]tail\nB=2\n[ProgList\nC=3\n[Other]]\nD=4\n"},
        {utf16, L"[Other]\n[ProgList\nA=1\n \t[ProgList] \x1A\n\tName0 =\t中 文\u3000\x1A\n ;\n[]\nE=5\n"},
        {utf16, L"[ProgList]\r\nA\0b=1\r\nC=x\0y\r\n\0=z\r\n"s},
        {utf16, L"[ProgList]\r\n[Other]\r\nA=1\r\n"},
        {utf16, L"\x1A [ProgList] \x1A\r\nA=1\r\n[ProgList]\r\nB=2\r\n"},
        {utf16, L"[\u3000ProgList]\r\nA=1\r\n\u3000[ProgList]\r\nB=2\r\n[ProgList]\r\nC=3\r\n"},
        {utf16, L"[ProgList]\r\n\x1AZed\x1A=0\r\n"},
        {"", L"[ProgList]\r\nName0=ansi\r\n"},
        {"\xEF\xBB\xBF", L"[ProgList]\r\nName0=节目\r\n"},
        {bigEndian, L"[ProgList]\r\nName0=节目\r\n"},
    };
    for (const auto& f : files) {
        std::string bytes = f.bom;
        if (f.bom == utf16 || f.bom == bigEndian) {
            for (wchar_t c : f.text) {
                const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
                bytes += f.bom == utf16 ? std::string{lo, hi} : std::string{hi, lo};
            }
        } else {
            const UINT codePage = f.bom.empty() ? CP_ACP : CP_UTF8;
            const int n = ::WideCharToMultiByte(codePage, 0, f.text.data(), static_cast<int>(f.text.size()), nullptr,
                                                0, nullptr, nullptr);
            std::string text(static_cast<size_t>(n), '\0');
            ::WideCharToMultiByte(codePage, 0, f.text.data(), static_cast<int>(f.text.size()), &text[0], n, nullptr,
                                  nullptr);
            bytes += text;
        }
        testsupport::WriteBytes(settings.file(), bytes);
        std::vector<wchar_t> buf(4096);
        const DWORD n = ::GetPrivateProfileSectionW(L"ProgList", buf.data(), 4096, settings.file().c_str());
        std::vector<std::pair<std::wstring, std::wstring>> platform;
        for (size_t at = 0; at < n && buf[at]; at += wcslen(&buf[at]) + 1) {
            const std::wstring line(&buf[at]);
            const size_t eq = line.find(L'=');
            platform.emplace_back(line.substr(0, eq), eq == std::wstring::npos ? L"" : line.substr(eq + 1));
        }
        EXPECT_EQ(Stored(L"ProgList"), platform) << testing::PrintToString(f.text);
        if (f.bom == bigEndian)
            continue;
        ASSERT_TRUE(CIniFile::WriteString(L"ProgList", L"Zed", L"1"));
        EXPECT_EQ(ReadKey(L"ProgList", L"Zed"), L"1") << testing::PrintToString(f.text);
        const auto stored = Stored(L"ProgList");
        EXPECT_EQ(std::count(stored.begin(), stored.end(), std::make_pair(std::wstring(L"Zed"), std::wstring(L"1"))), 1)
            << testing::PrintToString(f.text);
    }
}

TEST(PlaylistStore, ANewFileIsUnicodeAnOldOneKeepsItsEncodingAndNoFolderIsMade)
{
    {
        SettingsFolder settings;
        CIniFile::WriteString(L"System", L"Name", L"中文");
        EXPECT_EQ(settings.Bytes().compare(0, 2, "\xFF\xFE", 2), 0);
        EXPECT_EQ(ReadKey(L"System", L"Name"), L"中文");
    }
    // Until it must hold what its code page cannot: then it becomes Unicode.
    // Never a look-alike: "ç" or "ŵ" where the code page has only "c" or "w".
    for (const wchar_t* name : {L"中文", L"ç", L"ŵ"}) {
        SettingsFolder settings;
        testsupport::WriteBytes(settings.file(), "[System]\r\nWidth=1\r\n");
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, settings.file().c_str());
        CIniFile::WriteString(L"System", L"Height", L"2");
        const std::string bytes = settings.Bytes();
        EXPECT_EQ(bytes.find('\xFF'), std::string::npos);
        EXPECT_NE(bytes.find("Height=2"), std::string::npos);
        CIniFile::WriteString(L"System", L"Name", name);
        if (std::wstring(name) == L"中文") {
            EXPECT_EQ(settings.Bytes().compare(0, 2, "\xFF\xFE", 2), 0);
        }
        EXPECT_EQ(ReadKey(L"System", L"Name"), name);
        EXPECT_EQ(ReadKey(L"System", L"Width"), L"1");
    }
    {
        // The file is replaced as a whole: what the player does not own keeps
        // its place and form, a changed key its line, a new key goes to the
        // end of its section, and no temporary file stays behind.
        SettingsFolder settings;
        settings.WriteUnicode(L"; kept\r\n[Other]\r\n Mine = x \r\n\r\n[System]\r\nWidth=1\r\nheight=2\r\n\r\n"
                              L"[ProgList]\r\nCount=0\r\n");
        EXPECT_EQ(ReadKey(L"System", L"Height"), L"2"); // Wine now holds the file parsed
        ASSERT_TRUE(CIniFile::WriteString(L"System", L"Height", L"3"));
        ASSERT_TRUE(CIniFile::WriteString(L"System", L"Top", L"1"));
        EXPECT_EQ(settings.Text(), L"; kept\r\n[Other]\r\n Mine = x \r\n\r\n[System]\r\nWidth=1\r\nHeight=3\r\nTop=1\r\n"
                                   L"\r\n[ProgList]\r\nCount=0\r\n");
        EXPECT_EQ(ReadKey(L"System", L"Height"), L"3"); // the reader sees the new file
        EXPECT_FALSE(testsupport::Exists(settings.file() + L".new"));
        // Never rewritten in place: a file someone holds open cannot be
        // replaced, and is left whole rather than written over.
        const std::string old = settings.Bytes();
        HANDLE held = ::CreateFileW(settings.file().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(CIniFile::WriteString(L"System", L"Height", L"4"));
        ::CloseHandle(held);
        EXPECT_EQ(settings.Bytes(), old);
        EXPECT_FALSE(testsupport::Exists(settings.file() + L".new"));
        // No text can write a line of its own.
        ASSERT_TRUE(CIniFile::WriteString(L"System", L"Title", L"a\r\n[FileName]\r\nCount=60000\tb"));
        EXPECT_EQ(ReadKey(L"System", L"Title"), L"a  [FileName]  Count=60000 b");
        EXPECT_EQ(ReadKey(L"FileName", L"Count"), L"");
        // A file that cannot be replaced stays as it was.
        const std::wstring before = settings.Text();
        ::SetFileAttributesW(settings.file().c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_FALSE(CIniFile::WriteString(L"System", L"Width", L"2"));
        ::SetFileAttributesW(settings.file().c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(settings.Text(), before);
        EXPECT_FALSE(testsupport::Exists(settings.file() + L".new"));
    }
    // Without the Config folder nothing is written, and no folder appears.
    const std::wstring file = CIniFile::GetPath();
    const std::wstring folder = file.substr(0, file.rfind(L'\\'));
    ::RemoveDirectoryW(folder.c_str()); // left by an interrupted run, if empty
    ASSERT_FALSE(testsupport::Exists(folder)) << "the test folder holds a settings folder";
    EXPECT_FALSE(CIniFile::WriteString(L"System", L"Width", L"1"));
    EXPECT_FALSE(testsupport::Exists(folder));
}

TEST(PlaylistStore, TwoEntriesAreSavedAsTheExampleSectionAndComeBack)
{
    SettingsFolder settings;
    {
        Session s;
        ASSERT_TRUE(s.created);
        s.pane.AddFile(L"C:\\Movies\\a.flv");
        ProgItem* clip = s.pane.AddFile(L"D:\\Video\\clip.wmv");
        s.pane.SetCurItem(clip);
        s.pane.Playlist().m_bRand = TRUE;
    }
    using KV = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(Stored(L"ProgList"), (std::vector<KV>{{L"Count", L"2"},
                                                    {L"Name0", L"a.flv"},
                                                    {L"Url0", L"C:\\Movies\\a.flv"},
                                                    {L"Name1", L"clip.wmv"},
                                                    {L"Url1", L"D:\\Video\\clip.wmv"}}));
    EXPECT_EQ(ReadKey(L"System", L"Repeat"), L"0");
    EXPECT_EQ(ReadKey(L"System", L"Rand"), L"1");

    Session again;
    EXPECT_EQ(Rows(again.pane), (std::vector<Row>{{L"a.flv", L"C:\\Movies\\a.flv", 1},
                                                  {L"clip.wmv", L"D:\\Video\\clip.wmv", 1}}));
    EXPECT_EQ(again.pane.Playlist().Current(), nullptr); // nothing is current after loading
    EXPECT_FALSE(again.pane.Playlist().m_bRepeat);
    EXPECT_TRUE(again.pane.Playlist().m_bRand);
}

TEST(PlaylistStore, AnEmptyListSavesCountZeroDropsTheOldKeysAndKeepsTheModes)
{
    SettingsFolder settings;
    settings.WriteUnicode(L"[System]\r\nWidth=640\r\nRepeat=1\r\n"
                          L"[ProgList]\r\nCount=2\r\nName0=a\r\nUrl0=A\r\nName1=b\r\nUrl1=B\r\n"
                          L"[FileName]\r\nName0=C:\\h.flv\r\n");
    {
        Session s;
        ASSERT_EQ(s.pane.List().GetItemCount(), 2);
        EXPECT_TRUE(s.pane.Playlist().m_bRepeat);
        s.pane.RemoveAll();
    }
    using KV = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(Stored(L"ProgList"), (std::vector<KV>{{L"Count", L"0"}}));
    EXPECT_EQ(ReadKey(L"System", L"Repeat"), L"1");
    EXPECT_EQ(ReadKey(L"System", L"Rand"), L"0");
    // The other sections are untouched.
    EXPECT_EQ(ReadKey(L"System", L"Width"), L"640");
    EXPECT_EQ(ReadKey(L"FileName", L"Name0"), L"C:\\h.flv");
}

TEST(PlaylistStore, OnlyTheEntriesThereAreLoadedWhateverCountSaysAndMissingModesStayOff)
{
    SettingsFolder settings;
    settings.WriteUnicode(L"[ProgList]\r\nCount=4\r\nName0=a.flv\r\nUrl0=C:\\a.flv\r\nurl2=C:\\c.flv\r\n"
                          L"[System]\r\nRepeat=\r\nRand=x\r\n");
    {
        Session s;
        EXPECT_EQ(Rows(s.pane), (std::vector<Row>{{L"a.flv", L"C:\\a.flv", 1},
                                                  {L"", L"C:\\c.flv", 1}})); // keys ignore case
        EXPECT_FALSE(s.pane.Playlist().m_bRepeat);
        EXPECT_FALSE(s.pane.Playlist().m_bRand); // "x" reads as 0
    }
    // A damaged Count neither hangs the start nor loses an entry; one below
    // the entries still bounds them. Of equal keys the first counts.
    const std::wstring keys =
        L"Name0=a\r\nUrl0=A\r\nName7=b\r\nUrl7=B\r\nName07=x\r\nName-1=y\r\nName2147483648=z\r\nNAME0=c\r\n";
    const std::vector<Row> both = {{L"a", L"A", 1}, {L"b", L"B", 1}};
    for (const auto& [count, rows] : std::vector<std::pair<std::wstring, std::vector<Row>>>{
             {L"2147483647", both}, {L"200000", both}, {L"-5", both}, {L"99999999999", both}, {L"abc", both},
             {L"5", {{L"a", L"A", 1}}}, {L"0", {}}}) {
        settings.WriteUnicode(L"[ProgList]\r\nCount=" + count + L"\r\n" + keys);
        Session s;
        EXPECT_EQ(Rows(s.pane), rows) << "Count=" << std::string(count.begin(), count.end());
    }
}

TEST(PlaylistStore, AFileWrittenKeyByKeyLoadsAsOneWrittenAtOnce)
{
    SettingsFolder settings;
    const std::vector<std::pair<std::wstring, std::wstring>> rows = {
        {L"电影.flv", L"C:\\电影\\电影.flv"},
        {L"", L"http://host/dir/"},
        {L"\"quoted\"", L"http://host/a.flv?x=1&y=2"},
        {L"clip.wmv", L"D:\\Video\\clip.wmv"}};
    // Written by the old player over a longer list.
    settings.WriteUnicode(L"[ProgList]\r\nCount=6\r\n");
    SaveKeyByKey(rows, TRUE, FALSE);
    const auto keyByKey = Stored(L"ProgList");
    std::vector<Row> loaded;
    {
        Session s;
        loaded = Rows(s.pane);
        EXPECT_TRUE(s.pane.Playlist().m_bRepeat);
        EXPECT_FALSE(s.pane.Playlist().m_bRand);
        ASSERT_EQ(loaded.size(), rows.size());
        EXPECT_EQ(loaded[0], (Row{L"电影.flv", L"C:\\电影\\电影.flv", 1}));
        EXPECT_EQ(loaded[2].text, L"\"quoted\""); // as written: a title keeps its quotes
    }
    // Saved again by the pane: the same keys and values.
    EXPECT_EQ(Stored(L"ProgList"), keyByKey);
    Session again;
    EXPECT_EQ(Rows(again.pane), loaded);
}

TEST(PlaylistStore, TenThousandChineseEntriesSurviveFromNoFileAtAll)
{
    SettingsFolder settings;
    ASSERT_FALSE(testsupport::Exists(settings.file()));
    std::vector<Row> saved;
    {
        Session s;
        ASSERT_TRUE(s.created);
        // Wine redraws a visible list's scroll bar on every insert (~15 ms).
        s.pane.List().SendMessage(WM_SETREDRAW, FALSE);
        for (int i = 0; i < 10000; ++i) {
            const std::wstring url = FormatString(L"http://视频.example.com/频道/%d/", i) +
                                     std::wstring(300, static_cast<wchar_t>(L'a' + i % 26)) +
                                     FormatString(L"/节目%d.flv", i);
            ASSERT_NE(s.pane.AddItem(url.c_str(), FormatString(L"第%d集 中文标题", i).c_str()), nullptr);

        }
        s.pane.List().SendMessage(WM_SETREDRAW, TRUE);
        saved = Rows(s.pane);
    }
    EXPECT_EQ(settings.Bytes().compare(0, 2, "\xFF\xFE", 2), 0);
    EXPECT_EQ(ReadKey(L"ProgList", L"Count"), L"10000");
    EXPECT_EQ(ReadKey(L"ProgList", L"Name9999"), L"第9999集 中文标题");
    Session again;
    EXPECT_TRUE(Rows(again.pane) == saved);
}
