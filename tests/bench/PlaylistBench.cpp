// Saving and loading a long playlist, next to writing and reading the same
// keys one profile call at a time, measured in the same run:
//   playlist_bench <entries> <key-by-key sizes...>
// Prints "name: figure" lines and ratios; nothing is asserted here.
#include "BenchClock.h"
#include "IniFile.h"
#include "ListPane.h"
#include "SkinConfig.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Median;
using bench::Now;

class Frame : public CWnd, public IPlayerFrame {
public:
    Frame() { CreateEx(0, nullptr, L"bench", WS_POPUP | WS_VISIBLE, CRect(100, 100, 400, 600), nullptr, 0); }
    BOOL OpenMedia(LPCWSTR, ProgItem*, BOOL) override { return FALSE; }
    HWND GetFrameWnd() const override { return m_hWnd; }
};

bool CreatePane(Frame& frame, CListPane& pane)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!::GetClassInfoExW(::GetModuleHandleW(nullptr), L"CQZPlayerList", &wc)) {
        ::GetClassInfoExW(nullptr, WC_DIALOG, &wc);
        wc.cbSize = sizeof wc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"CQZPlayerList";
        ::RegisterClassExW(&wc);
    }
    if (!pane.Create(CListPane::IDD, &frame))
        return false;
    pane.SetFrame(&frame);
    pane.MoveWindow(CRect(10, 10, 290, 490));
    return true;
}

// Entries as a user collects them: Chinese titles, long URLs.
void Fill(CListPane& pane, int count)
{
    pane.RemoveAll();
    pane.List().SendMessage(WM_SETREDRAW, FALSE);
    for (int i = 0; i < count; ++i) {
        const std::wstring url = FormatString(L"http://视频.example.com/频道/%d/", i) +
                                 std::wstring(120, static_cast<wchar_t>(L'a' + i % 26)) +
                                 FormatString(L"/节目%d.flv", i);
        pane.AddItem(url.c_str(), FormatString(L"第%d集 中文标题", i).c_str());
    }
    pane.List().SendMessage(WM_SETREDRAW, TRUE);
}

// The list written the way of one profile call per key: Count, the old keys
// deleted, each pair, Count again, the modes.
void SaveKeyByKey(CListPane& pane)
{
    std::wstring old;
    CIniFile::GetString(L"ProgList", L"Count", old);
    const int oldCount = _wtoi(old.c_str());
    CIniFile::WriteString(L"ProgList", L"Count", L"0");
    for (int i = 0; i < oldCount; ++i) {
        CIniFile::WriteString(L"ProgList", FormatString(L"Name%d", i).c_str(), nullptr);
        CIniFile::WriteString(L"ProgList", FormatString(L"Url%d", i).c_str(), nullptr);
    }
    int k = 0;
    for (int i = 0; i < pane.List().GetItemCount(); ++i) {
        ProgItem* rec = pane.GetRowItem(i);
        if (!rec)
            continue;
        CIniFile::WriteString(L"ProgList", FormatString(L"Name%d", k).c_str(), pane.List().GetItemText(i, 0).c_str());
        CIniFile::WriteString(L"ProgList", FormatString(L"Url%d", k).c_str(), rec->url.c_str());
        ++k;
    }
    if (k > 0)
        CIniFile::WriteString(L"ProgList", L"Count", FormatString(L"%d", k).c_str());
    CIniFile::WriteString(L"System", L"Repeat", FormatString(L"%d", pane.Playlist().m_bRepeat).c_str());
    CIniFile::WriteString(L"System", L"Rand", FormatString(L"%d", pane.Playlist().m_bRand).c_str());
}

void LoadKeyByKey(CListPane& pane)
{
    std::wstring value, name, url;
    CIniFile::GetString(L"ProgList", L"Count", value);
    const int count = _wtoi(value.c_str());
    pane.List().SendMessage(WM_SETREDRAW, FALSE);
    for (int i = 0; i < count; ++i) {
        CIniFile::GetString(L"ProgList", FormatString(L"Name%d", i).c_str(), name);
        CIniFile::GetString(L"ProgList", FormatString(L"Url%d", i).c_str(), url);
        pane.AddItem(url.c_str(), name.c_str());
    }
    pane.List().SendMessage(WM_SETREDRAW, TRUE);
    if (CIniFile::GetString(L"System", L"Repeat", value))
        pane.Playlist().m_bRepeat = _wtoi(value.c_str());
    if (CIniFile::GetString(L"System", L"Rand", value))
        pane.Playlist().m_bRand = _wtoi(value.c_str());
}

struct Figures {
    double save, load;
};

// Saves over a file that already holds the same list (every exit but the
// first), then loads into an empty list; median of three.
template <typename Save, typename Load>
Figures Measure(CListPane& pane, CListPane& into, int count, Save save, Load load)
{
    const std::wstring file = CIniFile::GetPath();
    ::DeleteFileW(file.c_str());
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str()); // Wine's cached copy
    Fill(pane, count);
    save(pane);
    std::vector<double> saves, loads;
    for (int run = 0; run < 3; ++run) {
        double t = Now();
        save(pane);
        saves.push_back(Now() - t);
        into.RemoveAll();
        t = Now();
        load(into);
        loads.push_back(Now() - t);
        if (into.List().GetItemCount() != count)
            std::printf("WARNING: %d rows loaded, %d saved\n", into.List().GetItemCount(), count);
    }
    return {Median(saves), Median(loads)};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: playlist_bench <entries> <key-by-key sizes...>\n");
        return 2;
    }
    const int entries = _wtoi(argv[1]);
    const std::wstring file = CIniFile::GetPath();
    const std::wstring folder = file.substr(0, file.rfind(L'\\'));
    const bool madeFolder = ::CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
    g_skin.SetFrameColor(0x996633);
    Frame frame;
    CListPane pane, into;
    if (!CreatePane(frame, pane) || !CreatePane(frame, into)) {
        std::fprintf(stderr, "no pane\n");
        return 1;
    }

    const Figures section = Measure(pane, into, entries, [](CListPane& p) {
        CIniEdit edit;
        p.SaveListTo(edit);
        edit.Commit();
    },
                                    [](CListPane& p) { p.LoadList(); });
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    ::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &info);
    std::printf("section save of %d entries: %.1f ms\n", entries, section.save * 1e3);
    std::printf("section load of %d entries: %.1f ms\n", entries, section.load * 1e3);
    std::printf("save + load: %.1f ms (file %lu KB)\n", (section.save + section.load) * 1e3,
                static_cast<unsigned long>(info.nFileSizeLow / 1024));
    // Where the time goes: the section read alone, and the platform's own
    // section writer (how the list was saved before) on half and all of it.
    std::vector<IniEntry> keys;
    double t = Now();
    CIniFile::GetSection(L"ProgList", keys);
    std::printf("of the load, reading the section alone: %.1f ms\n", (Now() - t) * 1e3);
    t = Now();
    CIniFile::WriteSection(L"ProgList", keys);
    std::printf("of the save, replacing the file with the section alone: %.1f ms\n", (Now() - t) * 1e3);
    const size_t half = (keys.size() + 1) / 2;
    std::vector<wchar_t> block, halfBlock;
    for (size_t i = 0; i < keys.size(); ++i) {
        for (std::vector<wchar_t>* b : {&block, &halfBlock}) {
            if (b == &halfBlock && i >= half)
                continue;
            b->insert(b->end(), keys[i].key.begin(), keys[i].key.end());
            b->push_back(L'=');
            b->insert(b->end(), keys[i].value.begin(), keys[i].value.end());
            b->push_back(L'\0');
        }
    }
    block.push_back(L'\0');
    halfBlock.push_back(L'\0');
    t = Now();
    ::WritePrivateProfileSectionW(L"ProgList", halfBlock.data(), file.c_str());
    const double halfWrite = Now() - t;
    t = Now();
    ::WritePrivateProfileSectionW(L"ProgList", block.data(), file.c_str());
    const double fullWrite = Now() - t;
    std::printf("WritePrivateProfileSectionW, the former save: %.1f ms (%.1f ms for half the keys, x%.1f); "
                "save + load / (former save + load) %.2f\n",
                fullWrite * 1e3, halfWrite * 1e3, fullWrite / halfWrite,
                (section.save + section.load) / (fullWrite + section.load));
    // The floor: the same text put into a file of its own with one write.
    std::wstring text = L"\xFEFF[ProgList]\r\n";
    for (const IniEntry& e : keys)
        text += e.key + L"=" + e.value + L"\r\n";
    const std::wstring plain = folder + L"\\plain.ini";
    t = Now();
    HANDLE h = ::CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(h);
    std::printf("the same keys written as a whole file with one WriteFile: %.1f ms\n", (Now() - t) * 1e3);
    ::DeleteFileW(plain.c_str());

    double lastTotal = 0;
    int lastSize = 0;
    for (int a = 2; a < argc; ++a) {
        const int size = _wtoi(argv[a]);
        const Figures perKey = Measure(pane, into, size, SaveKeyByKey, LoadKeyByKey);
        const double total = perKey.save + perKey.load;
        std::printf("key by key, %d entries: save %.1f ms, load %.1f ms", size, perKey.save * 1e3, perKey.load * 1e3);
        if (lastSize)
            std::printf(" (x%.1f for x%.1f entries)", total / lastTotal, static_cast<double>(size) / lastSize);
        std::printf("\n");
        lastTotal = total;
        lastSize = size;
    }
    if (lastSize) {
        // Each write rewrites the whole file: the time grows with the square.
        const double scale = static_cast<double>(entries) / lastSize;
        const double estimate = lastTotal * scale * scale;
        std::printf("key by key, %d entries (from %d, squared): about %.0f s\n", entries, lastSize, estimate);
        std::printf("section way / key by key: %.0fx faster\n", estimate / (section.save + section.load));
    }

    pane.DestroyWindow();
    into.DestroyWindow();
    ::DeleteFileW(file.c_str());
    if (madeFolder)
        ::RemoveDirectoryW(folder.c_str());
    return 0;
}
