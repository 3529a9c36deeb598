// The real QZPlayer.exe, started as a process from an installation folder of
// its own: one instance, the command line handed on, the message protocol,
// the ending rules and the settings it keeps.
#include "CommandLine.h"
#include "FrameDialog.h"
#include "PlayerApp.h"
#include "Protocol.h"
#include "resource.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <commctrl.h>

using namespace testsupport;

namespace {

const UINT kProbe = ::RegisterWindowMessageW(kApplicationMessage);

class PlayerSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = install.path();
        ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\QZPlayer.exe").c_str(), (app + L"\\QZPlayer.exe").c_str(),
                                FALSE));
        ::CreateDirectoryW((app + L"\\Config").c_str(), nullptr);
    }
    void TearDown() override
    {
        // Whatever a test left running ends here, before the folder goes.
        if (HWND frame = Frame())
            ::SendMessageTimeoutW(frame, kProbe, kQuitRequest, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
        for (Process* p : {&first, &second})
            p->WaitEnd(5000);
    }
    bool Start(Process& p, const std::wstring& args)
    {
        return p.Start(L"\"" + app + L"\\QZPlayer.exe\" " + args, app);
    }
    static HWND Frame() { return ::FindWindowW(kFrameClass, nullptr); }
    HWND WaitFrame()
    {
        HWND frame = nullptr;
        PumpUntil([&] { return (frame = Frame()) != nullptr; }, 10000);
        return frame;
    }
    static int ListCount(HWND frame)
    {
        HWND pane = ::FindWindowExW(frame, nullptr, kListPaneClass, nullptr);
        HWND list = pane ? ::GetDlgItem(pane, IDC_PLAYLIST) : nullptr;
        return list ? static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1;
    }
    std::wstring Setting(const wchar_t* section, const wchar_t* key) const
    {
        wchar_t v[1024] = {};
        ::GetPrivateProfileStringW(section, key, L"", v, 1024, (app + L"\\Config\\QZPlayer.ini").c_str());
        return v;
    }

    TempFolder install{L"qzplayer"};
    std::wstring app;
    Process first, second;
};

// The simulated controls registered in the prefix for the three class ids
// while the object lives; Wine's own media control is put back afterwards.
class SimRegistration {
public:
    SimRegistration()
    {
        const std::wstring dll = AfxGetModuleFolder() + L"\\SimControls.dll";
        for (const wchar_t* clsid : kClsids) {
            const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
            Saved saved{key, L"", L"", false};
            HKEY k = nullptr;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
                saved.existed = true;
                saved.path = Value(k, nullptr);
                saved.model = Value(k, L"ThreadingModel");
                ::RegCloseKey(k);
            }
            m_saved.push_back(saved);
            Write(key, dll, L"Apartment");
        }
    }
    ~SimRegistration()
    {
        for (const Saved& s : m_saved) {
            if (s.existed)
                Write(s.key, s.path, s.model);
            else
                ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, s.key.substr(0, s.key.rfind(L'\\')).c_str());
        }
    }

private:
    struct Saved {
        std::wstring key, path, model;
        bool existed;
    };
    static std::wstring Value(HKEY k, const wchar_t* name)
    {
        wchar_t v[MAX_PATH] = {};
        DWORD size = sizeof v;
        ::RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(v), &size);
        return v;
    }
    static void Write(const std::wstring& key, const std::wstring& path, const std::wstring& model)
    {
        HKEY k = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
            ERROR_SUCCESS)
            return;
        ::RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                         static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        if (!model.empty())
            ::RegSetValueExW(k, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model.c_str()),
                             static_cast<DWORD>((model.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(k);
    }
    static constexpr const wchar_t* kClsids[] = {L"{D27CDB6E-AE6D-11CF-96B8-444553540000}",
                                                 L"{6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                                 L"{CFCDAA03-8BE4-11CF-B84B-0020AFBBCCFA}"};
    std::vector<Saved> m_saved;
};

// The engines' calls, as the simulated controls log them.
std::vector<std::wstring> LogLines(const std::wstring& path)
{
    std::wstring text = Utf8ToWide(ReadBytes(path));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace

TEST(PlayerCommand, SwitchesTargetAndTitle)
{
    PlayerCommand c;
    EXPECT_TRUE(ParsePlayerCommand(L"  -a -p -a c:\\v\\a b.flv |标题 1 ", &c));
    EXPECT_EQ(c.mode, PlayerCommand::Add);
    EXPECT_EQ(c.path, L"c:\\v\\a b.flv ");
    EXPECT_EQ(c.title, L"标题 1 ");
    EXPECT_TRUE(ParsePlayerCommand(L"-P|x", &c)); // "|" first stays in the path
    EXPECT_EQ(c.mode, PlayerCommand::Play);
    EXPECT_EQ(c.path, L"|x");
    EXPECT_TRUE(c.title.empty());
    EXPECT_FALSE(ParsePlayerCommand(L"-x c:\\a.flv", &c));
    EXPECT_FALSE(ParsePlayerCommand(L"-", &c));
    EXPECT_FALSE(ParsePlayerCommand(L"-a  ", &c));
    EXPECT_FALSE(ParsePlayerCommand(L"", &c));

    // One pair of quotes around the target, the path or the title goes;
    // other quotes stay. {line, path, title}
    const wchar_t* quoted[][3] = {{L"\"c:\\a b.flv\" ", L"c:\\a b.flv", L""},
                                  {L"-p \"c:\\a b.flv\"|\"标题\"", L"c:\\a b.flv", L"标题"},
                                  {L"c:\\a.flv| \"Late\" news", L"c:\\a.flv", L" \"Late\" news"},
                                  {L"\"c:\\a\"b.flv", L"\"c:\\a\"b.flv", L""}};
    for (const auto& q : quoted) {
        EXPECT_TRUE(ParsePlayerCommand(q[0], &c)) << q[0];
        EXPECT_EQ(c.path + L'|' + c.title, std::wstring(q[1]) + L'|' + q[2]) << q[0];
    }

    EXPECT_EQ(CFrameDialog::ClampListWidth(300, 600), 170);
    EXPECT_EQ(CFrameDialog::ClampListWidth(300, 580), 160); // the lower bound wins
    EXPECT_EQ(CFrameDialog::ClampListWidth(100, 1000), 160);
    EXPECT_EQ(CFrameDialog::ClampListWidth(200, 1000), 200);
}

// A first start strips the switch and hands the rest on (to its own frame or
// with code 2 to a running one); either way the rest is parsed as a whole
// line, so the path in the last column is what both open.
TEST(PlayerCommand, TheHiddenSwitchCountsOnlyAsAWordOutsideQuotes)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* left;
        BOOL hidden;
        const wchar_t* path; // empty: nothing to open
    } cases[] = {
        {L"-h", L"", TRUE, L""},
        {L"-h  -a c:\\v\\a.flv ", L"-a c:\\v\\a.flv ", TRUE, L"c:\\v\\a.flv "},
        {L"D:\\my-home\\a.flv", L"D:\\my-home\\a.flv", FALSE, L"D:\\my-home\\a.flv"},
        {L"-p D:\\my-home\\a.flv -h", L"-p D:\\my-home\\a.flv ", TRUE, L"D:\\my-home\\a.flv "},
        {L"-H -h x", L"-H  x", TRUE, L"x"}, // "-h" first; then "-H" stays
        {L"-H x", L"x", TRUE, L"x"},
        {L"x-H", L"x-H", FALSE, L"x-H"},
        // Inside a path: kept whole, quoted or not, and the start is not hidden.
        {L"\"D:\\v\\Concert -HD.wmv\"", L"\"D:\\v\\Concert -HD.wmv\"", FALSE, L"D:\\v\\Concert -HD.wmv"},
        {L"-p \"D:\\v\\a -h b.wmv\"", L"-p \"D:\\v\\a -h b.wmv\"", FALSE, L"D:\\v\\a -h b.wmv"},
        {L"\"D:\\v\\clip -h\" -h", L"\"D:\\v\\clip -h\" ", TRUE, L"D:\\v\\clip -h"},
        {L"D:\\v\\Concert -HD-30S.wmv", L"D:\\v\\Concert -HD-30S.wmv", FALSE, L"D:\\v\\Concert -HD-30S.wmv"},
        {L"-hD:\\a.wmv", L"-hD:\\a.wmv", FALSE, L""},
    };
    for (const Case& c : cases) {
        std::wstring line = c.line;
        EXPECT_EQ(StripHiddenSwitch(line), c.hidden != FALSE) << c.line;
        EXPECT_EQ(line, c.left) << c.line;
        PlayerCommand command;
        EXPECT_EQ(ParsePlayerCommand(line, &command), *c.path != 0) << c.line;
        EXPECT_EQ(command.path, c.path) << c.line;
        ParsePlayerCommand(c.line, &command);
        EXPECT_EQ(command.hidden, c.hidden != FALSE) << c.line;
    }
}

TEST_F(PlayerSystem, OneInstanceAnswersTheProbeAndTakesTheCommandsOfLaterStarts)
{
    ASSERT_TRUE(Start(first, L"-a c:\\v\\first.flv"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return ::IsWindowVisible(frame) != FALSE; }, 5000));
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(frame, kProbe, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(answer, kProbe);
    EXPECT_EQ(ListCount(frame), 1);

    // A second start hands its command over and ends; so does one with none.
    // Its " -HD" inside quotes is part of the path, not the hidden switch.
    ASSERT_TRUE(Start(second, L"-a \"c:\\v\\Concert -HD.wmv\"|第二个"));
    ASSERT_TRUE(second.WaitEnd(15000));
    EXPECT_EQ(ListCount(frame), 2);
    Process third;
    ASSERT_TRUE(Start(third, L""));
    ASSERT_TRUE(third.WaitEnd(15000));
    EXPECT_EQ(ListCount(frame), 2);
    EXPECT_FALSE(first.Ended());

    // Codes of the protocol: an unknown one is not the frame's; an empty
    // command does nothing.
    COPYDATASTRUCT unknown = {9, 0, nullptr};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&unknown)), 0);
    wchar_t empty[] = L"";
    COPYDATASTRUCT none = {kCopyCommand, sizeof empty, empty};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&none)), 1);
    EXPECT_EQ(ListCount(frame), 2);
    // Only what cbData covers is read: a text without its zero stops at the
    // payload's end; odd bytes and short colours are ignored.
    wchar_t unterminated[] = {L'-', L'a', L' ', L'x', L'.', L'f', L'l', L'v'};
    COPYDATASTRUCT cut = {kCopyCommand, sizeof unterminated, unterminated};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cut)), 1);
    EXPECT_EQ(ListCount(frame), 3);
    COPYDATASTRUCT odd = {kCopyCommand, 1, unterminated};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&odd)), 1);
    COPYDATASTRUCT nulltext = {kCopyCommand, 40, nullptr};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&nulltext)), 1);
    BYTE shortColour[2] = {1, 2};
    COPYDATASTRUCT colour = {kCopyColour, sizeof shortColour, shortColour};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&colour)), 1);
    EXPECT_EQ(ListCount(frame), 3);

    // wParam 100 ends the player, which saves its window and list first.
    ::SetWindowPos(frame, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(::SendMessageTimeoutW(frame, kProbe, kQuitRequest, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(answer, kProbe);
    ASSERT_TRUE(first.WaitEnd(10000));
    EXPECT_EQ(Setting(L"System", L"Width"), L"580");
    EXPECT_EQ(Setting(L"System", L"ShowProgList"), L"1");
    EXPECT_EQ(Setting(L"ProgList", L"Count"), L"3");
    EXPECT_EQ(Setting(L"ProgList", L"Name1"), L"第二个");
    EXPECT_EQ(Setting(L"ProgList", L"Url1"), L"c:\\v\\Concert -HD.wmv");
    EXPECT_EQ(Setting(L"System", L"Left"), L"150");
    EXPECT_EQ(Setting(L"System", L"Top"), L"90");
    EXPECT_EQ(Setting(L"System", L"Volume"), L"50");

    // The next start opens where the last one was left.
    ASSERT_TRUE(Start(second, L""));
    frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(frame) != FALSE; }, 5000)); // set up and shown
    CRect placed;
    ::GetWindowRect(frame, &placed);
    EXPECT_EQ(placed, CRect(150, 90, 150 + 580, 90 + 420));
}

TEST_F(PlayerSystem, QuotedSourcesAndTitlesArriveWithoutTheirQuotesAtTheFirstAndLaterStarts)
{
    SimRegistration sim;
    ASSERT_TRUE(Start(first, L"-p \"C:\\v\\one clip-30s.wmv|第一个\""));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    for (const wchar_t* add : {L"-a \"C:\\Videos\\Clip 3.wmv|Evening news\"", L"-a \"c:\\v\\two clip.rm\"|\"两\"",
                               L"-a c:\\v\\three.flv|Late \"news\""}) {
        Process more;
        ASSERT_TRUE(Start(more, add));
        ASSERT_TRUE(more.WaitEnd(15000));
    }
    EXPECT_EQ(ListCount(frame), 4);
    ASSERT_TRUE(::SendMessageTimeoutW(frame, kProbe, kQuitRequest, 0, SMTO_ABORTIFHUNG, 5000, nullptr));
    ASSERT_TRUE(first.WaitEnd(10000));
    // The lines as the file holds them (the profile reader drops quotes around
    // a value): the history's Name0, then the list.
    const std::string bytes = ReadBytes(app + L"\\Config\\QZPlayer.ini");
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (const wchar_t* line : {L"Name0=C:\\v\\one clip-30s.wmv", L"Name0=第一个", L"Url0=C:\\v\\one clip-30s.wmv",
                                L"Name1=Evening news", L"Url1=C:\\Videos\\Clip 3.wmv", L"Name2=两",
                                L"Url2=c:\\v\\two clip.rm", L"Name3=Late \"news\"", L"Url3=c:\\v\\three.flv"})
        EXPECT_NE(text.find(L"\n" + std::wstring(line) + L"\r\n"), std::wstring::npos) << testing::PrintToString(line);
}

TEST_F(PlayerSystem, AnEndAtAnyMomentOfTheQuitSaveLeavesTheOldSettingsOrTheNew)
{
    // 10,000 entries; the player adds one and quits, and is ended at a
    // different moment of its save in each round.
    const int entries = 10000;
    std::wstring old = L"\xFEFF; kept\r\n[Other]\r\nMine=1\r\n[System]\r\nIsMax=0\r\nWidth=640\r\nHeight=480\r\n"
                       L"[FileName]\r\nFirst=0\r\nCount=1\r\nName0=c:\\v\\h.flv\r\n[ProgList]\r\nCount=" +
                       std::to_wstring(entries) + L"\r\n";
    for (int i = 0; i < entries; ++i)
        old += L"Name" + std::to_wstring(i) + L"=节目 " + std::to_wstring(i) + L"\r\nUrl" + std::to_wstring(i) +
               L"=c:\\v\\" + std::to_wstring(i) + L".flv\r\n";
    const std::string oldBytes(reinterpret_cast<const char*>(old.data()), old.size() * sizeof(wchar_t));
    const std::wstring ini = app + L"\\Config\\QZPlayer.ini";

    // Returns the time from the quit request to the process's end, or kills
    // it killAfter ms after the request.
    auto round = [&](int killAfter) -> double {
        if (!WriteBytes(ini, oldBytes))
            return -1;
        Process p;
        if (!Start(p, L""))
            return -1;
        HWND frame = WaitFrame();
        DWORD_PTR answer = 0;
        if (!frame || !PumpUntil([&] { return ListCount(frame) == entries; }, 20000))
            return -1;
        wchar_t add[] = L"-a c:\\v\\new.flv|new";
        COPYDATASTRUCT cds = {kCopyCommand, sizeof add, add};
        ::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
        LARGE_INTEGER f, t0, t1;
        ::QueryPerformanceFrequency(&f);
        ::QueryPerformanceCounter(&t0);
        if (!::SendMessageTimeoutW(frame, kProbe, kQuitRequest, 0, SMTO_ABORTIFHUNG, 5000, &answer))
            return -1;
        if (killAfter >= 0) {
            ::Sleep(static_cast<DWORD>(killAfter));
            if (!p.Kill())
                return -1;
        } else if (!p.WaitEnd(30000)) {
            return -1;
        }
        ::QueryPerformanceCounter(&t1);
        return static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
    };
    const double quit = round(-1);
    ASSERT_GE(quit, 0) << "the player did not start or quit";
    ASSERT_EQ(Setting(L"ProgList", L"Count"), std::to_wstring(entries + 1));

    const int rounds = 24;
    int olds = 0, news = 0;
    for (int r = 0; r < rounds; ++r) {
        // From the request to a little past the whole quit.
        const int at = static_cast<int>(quit * 1.2 * r / (rounds - 1));
        ASSERT_GE(round(at), 0) << "round " << r;
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
        const std::string bytes = ReadBytes(ini);
        ASSERT_EQ(bytes.compare(0, 2, "\xFF\xFE", 2), 0) << "round " << r << ", " << at << " ms: " << bytes.size() << " bytes";
        // Every section complete: what the player does not own, the window,
        // the history and the whole list, old or new.
        EXPECT_EQ(Setting(L"Other", L"Mine"), L"1") << "round " << r;
        EXPECT_FALSE(Setting(L"System", L"Width").empty()) << "round " << r;
        EXPECT_EQ(Setting(L"FileName", L"Name0"), L"c:\\v\\h.flv") << "round " << r;
        EXPECT_EQ(Setting(L"ProgList", L"Url9999"), L"c:\\v\\9999.flv") << "round " << r;
        const std::wstring count = Setting(L"ProgList", L"Count");
        if (bytes == oldBytes) {
            ++olds;
        } else {
            EXPECT_TRUE(count == std::to_wstring(entries) || count == std::to_wstring(entries + 1)) << "round " << r;
            if (count == std::to_wstring(entries + 1)) {
                EXPECT_EQ(Setting(L"ProgList", L"Url10000"), L"c:\\v\\new.flv") << "round " << r;
                ++news;
            } else {
                ++olds; // the window saved, the list not yet
            }
        }
    }
    std::printf("quit save of %d entries: %.0f ms; %d rounds ended during it: %d left the old list, %d the new\n",
                entries + 1, quit, rounds, olds, news);
}

TEST_F(PlayerSystem, TwoStartsAtOnceBothArrive)
{
    // The second mostly finds the mutex before the first has a frame: it asks
    // again until the frame answers. (Started before the first holds the
    // mutex, the second would be the running one: process starts are not
    // ordered, and under emulation they take long enough to swap.)
    ASSERT_TRUE(Start(first, L"-a c:\\v\\one.flv"));
    ASSERT_TRUE(PumpUntil([] {
        HANDLE m = ::OpenMutexW(SYNCHRONIZE, FALSE, kPlayerMutex);
        return m && ::CloseHandle(m);
    }, 10000));
    ASSERT_TRUE(Start(second, L"-a c:\\v\\two.flv"));
    ASSERT_TRUE(second.WaitEnd(20000));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return ListCount(frame) == 2; }, 5000));
}

// What a second start sends, seen by a stand-in for the running player.
struct Forwarded {
    ULONG_PTR code = 0;
    DWORD bytes = 0;
    std::wstring text;
    int count = 0;
} g_forwarded;

LRESULT CALLBACK StandInProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == kProbe)
        return kProbe;
    if (msg == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        g_forwarded.code = cds->dwData;
        g_forwarded.bytes = cds->cbData;
        g_forwarded.text.assign(static_cast<const wchar_t*>(cds->lpData), cds->cbData / sizeof(wchar_t));
        ++g_forwarded.count;
        return TRUE;
    }
    return ::DefWindowProcW(wnd, msg, wp, lp);
}

TEST_F(PlayerSystem, ASecondStartForwardsItsTextWithItsZeroAndEnds)
{
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kPlayerMutex);
    ASSERT_NE(mutex, nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &StandInProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kFrameClass;
    ASSERT_TRUE(::RegisterClassW(&wc));
    HWND standIn = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     wc.hInstance, nullptr);
    ASSERT_NE(standIn, nullptr);
    const std::wstring command = L"-a c:\\v\\x.flv|标题";
    ASSERT_TRUE(Start(second, command));
    EXPECT_TRUE(second.WaitEnd(15000));
    EXPECT_EQ(g_forwarded.count, 1);
    EXPECT_EQ(g_forwarded.code, 2u);
    EXPECT_EQ(g_forwarded.bytes, (command.size() + 1) * sizeof(wchar_t)); // the text and its zero
    EXPECT_EQ(g_forwarded.text, command + L'\0');
    ::DestroyWindow(standIn);
    ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
    ::CloseHandle(mutex);
}

TEST_F(PlayerSystem, UninstallEndsTheRunningPlayerAndAHiddenOneWithoutClientEndsByItself)
{
    ASSERT_TRUE(Start(first, L""));
    ASSERT_NE(WaitFrame(), nullptr);
    ASSERT_TRUE(Start(second, L"-x uninstall"));
    ASSERT_TRUE(second.WaitEnd(15000));
    ASSERT_TRUE(first.WaitEnd(10000));

    // Hidden, and no client window: it ends within the liveness period.
    Process hidden;
    ASSERT_TRUE(Start(hidden, L"-h"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(::IsWindowVisible(frame));
    EXPECT_TRUE(hidden.WaitEnd(6000));
}

TEST_F(PlayerSystem, AHiddenPlayerStaysWhileTheClientWindowExistsAndCodeSixShowsIt)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClientFrameClass;
    ASSERT_TRUE(::RegisterClassW(&wc));
    HWND client = ::CreateWindowExW(0, kClientFrameClass, L"client", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, nullptr);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(Start(first, L"-H"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    PumpFor(Scaled(4500)); // two liveness ticks
    EXPECT_FALSE(first.Ended());
    EXPECT_FALSE(::IsWindowVisible(frame));

    COPYDATASTRUCT show = {kCopyChange, 0, nullptr};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&show)), 1);
    EXPECT_TRUE(::IsWindowVisible(frame));
    // A colour from the client is taken (code 3), also without data.
    COLORREF colour = RGB(0x20, 0x60, 0xA0);
    COPYDATASTRUCT recolour = {kCopyColour, sizeof colour, &colour};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&recolour)), 1);
    COPYDATASTRUCT nothing = {kCopyColour, 0, nullptr};
    EXPECT_EQ(::SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&nothing)), 1);
    PumpUntil([] { return false; }, 300);
    SaveScreenshot(L"player-frame-recoloured");
    ::DestroyWindow(client);
}

TEST_F(PlayerSystem, AListOfThreeEnginesPlaysThroughInOrderAndAnUnsupportedEntryIsPassedOver)
{
    SimRegistration sim;
    const std::wstring log = app + L"\\calls.log";
    ::SetEnvironmentVariableW(L"QZ_SIM_LOG", log.c_str());
    ::SetEnvironmentVariableW(L"QZ_SIM_OPENING_MS", L"200");
    // Flash plays a URL the client hands it and a local file, each through
    // the shell movie build of its sandbox; the others take local files.
    ASSERT_TRUE(Start(first, L"-p http://h/v/ONE-1S.FLV"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    for (const wchar_t* add : {L"-a D:\\CLIPS\\LOCAL-1S.MP4", L"-a C:\\V\\TWO-1S.WMV|第二个", L"-a C:\\V\\SKIP.MPG",
                               L"-a C:\\V\\THREE-1S.RMVB"}) {
        Process more;
        ASSERT_TRUE(Start(more, add));
        ASSERT_TRUE(more.WaitEnd(15000));
    }
    auto loaded = [&] {
        std::vector<std::wstring> loads;
        for (const std::wstring& l : LogLines(log)) {
            if (l.find(L"flash Movie=") == 0 || l.find(L"media URL=") == 0 || l.find(L"real SetSource") == 0)
                loads.push_back(l.find(L"flash ") == 0 ? l
                                                       : l.substr(0, l.find(L' ') + 1) + l.substr(l.rfind(L'\\') + 1));
        }
        return loads;
    };
    // Each item plays to its end before the next is opened.
    PumpUntil([&] { return loaded().size() >= 4; }, 30000);
    std::vector<std::wstring> loads = loaded();
    ASSERT_EQ(loads.size(), 4u);
    EXPECT_EQ(loads[0].substr(0, 12), L"flash Movie=");
    EXPECT_NE(loads[0].find(L"\\QZFPlayer.swf?file=http://h/v/ONE-1S.FLV&"), std::wstring::npos);
    EXPECT_NE(loads[1].find(L"\\QZFPlayerLocal.swf?file=D:\\CLIPS\\LOCAL-1S.MP4&"), std::wstring::npos);
    EXPECT_EQ(loads[2], L"media TWO-1S.WMV");
    EXPECT_EQ(loads[3], L"real THREE-1S.RMVB");
    // The program's own shell movies opened the gate (their second frame);
    // no sandbox refused a source, and no engine made a call the real
    // controls would refuse.
    bool asked = false;
    for (const std::wstring& l : LogLines(log)) {
        asked = asked || l.find(L"flash CallFunction <invoke name=\"getPlayState\">") == 0;
        EXPECT_EQ(l.find(L" refused "), std::wstring::npos) << std::string(l.begin(), l.end());
        EXPECT_EQ(l.find(L"sandbox refuses"), std::wstring::npos) << std::string(l.begin(), l.end());
    }
    EXPECT_TRUE(asked);
    EXPECT_EQ(::FindWindowW(L"#32770", L"QZ播放器"), nullptr); // no message for the skipped entry
    ::SetEnvironmentVariableW(L"QZ_SIM_LOG", nullptr);
}

// The substitute client as the player's client: it starts the player, takes
// the video pane when the player's Change button asks and gives it back on
// the next request.
class ClientSystem : public PlayerSystem {
protected:
    void SetUp() override
    {
        PlayerSystem::SetUp();
        ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\ZorvClient.exe").c_str(),
                                (app + L"\\ZorvClient.exe").c_str(), FALSE));
    }
    void TearDown() override
    {
        // The player this client started ends first, through the client.
        if (Client() && Frame())
            Tell(L"quit");
        PlayerSystem::TearDown();
        if (HWND window = Client())
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        client.WaitEnd(5000);
    }
    static HWND Client() { return ::FindWindowW(kClientFrameClass, nullptr); }
    bool StartClient(const std::wstring& playerArgs)
    {
        return client.Start(L"\"" + app + L"\\ZorvClient.exe\" --log \"" + app + L"\\client.log\" --player \"" +
                                playerArgs + L"\"",
                            app);
    }
    // "--tell": the command's process ends when the client has carried it out.
    DWORD Tell(const std::wstring& command)
    {
        Process tell;
        if (!tell.Start(L"\"" + app + L"\\ZorvClient.exe\" --tell " + command, app) || !tell.WaitEnd(20000))
            return 99;
        return tell.ExitCode();
    }
    // The frame's window comes before its panes and their control bar.
    static HWND WaitPane(HWND frame)
    {
        HWND left = nullptr;
        PumpUntil([&] {
            left = ::FindWindowExW(frame, nullptr, kVideoPaneClass, nullptr);
            return left && ::IsWindowVisible(frame);
        }, 10000);
        return left;
    }
    std::string ClientLog() const { return ReadBytes(app + L"\\client.log"); }
    static CRect RectIn(HWND w, HWND parent)
    {
        CRect r;
        ::GetWindowRect(w, &r);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    Process client;
};

TEST_F(ClientSystem, TheClientTakesTheVideoPaneTheFrameLeavesItAloneAndGetsItBack)
{
    ASSERT_TRUE(StartClient(L"-a c:\\v\\one.flv"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    HWND left = WaitPane(frame);
    ASSERT_NE(left, nullptr);
    const CRect standalone = RectIn(left, frame);

    // The player's own button asks the client (code 6 with the frame's handle).
    ASSERT_EQ(Tell(L"change"), 0u);
    // (The button only posts: the client's log says when it is done.)
    ASSERT_TRUE(PumpUntil([&] { return ClientLog().find("embedded\n") != std::string::npos; }, 5000));
    EXPECT_EQ(::GetParent(left), Client());
    EXPECT_FALSE(::IsWindowVisible(frame));
    EXPECT_TRUE(::IsWindowVisible(left));
    CRect inside;
    ::GetClientRect(Client(), &inside);
    EXPECT_EQ(RectIn(left, Client()), inside);

    // A new size of the frame moves its own panes, not the one it lent out.
    const CRect held = RectIn(left, Client());
    ::SetWindowPos(frame, nullptr, 0, 0, 800, 560, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr); // its layout has run
    EXPECT_EQ(::GetParent(left), Client());
    EXPECT_EQ(RectIn(left, Client()), held);

    // The next request gives it back; code 6 lays it out and shows the frame.
    ASSERT_EQ(Tell(L"change"), 0u);
    ASSERT_TRUE(PumpUntil([&] { return ClientLog().find("given back\n") != std::string::npos; }, 5000));
    EXPECT_EQ(::GetParent(left), frame);
    EXPECT_TRUE(::IsWindowVisible(frame));
    EXPECT_EQ(RectIn(left, frame).TopLeft(), standalone.TopLeft());

    // Quit through the client: it returns once the player has ended.
    EXPECT_EQ(Tell(L"quit"), 0u);
    EXPECT_EQ(Frame(), nullptr);
    EXPECT_NE(ClientLog().find("player ended 0\n"), std::string::npos);
    EXPECT_EQ(Tell(L"close"), 0u);
    EXPECT_TRUE(client.WaitEnd(5000));
}

TEST_F(ClientSystem, AClosingClientGivesThePaneBackAndUnknownCommandsAreRefused)
{
    ASSERT_TRUE(StartClient(L"-a c:\\v\\one.flv"));
    HWND frame = WaitFrame();
    ASSERT_NE(frame, nullptr);
    HWND left = WaitPane(frame);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(Tell(L"colour 2060A0"), 0u);
    EXPECT_EQ(Tell(L"repaint"), 0u);
    EXPECT_NE(Tell(L"rewind"), 0u);

    // Code 6 as the player sends it, straight to the client's window.
    LONG handle = HandleToLong(frame);
    COPYDATASTRUCT request = {kCopyChange, sizeof handle, &handle};
    EXPECT_EQ(::SendMessageW(Client(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request)), TRUE);
    ASSERT_EQ(::GetParent(left), Client());

    // Its window goes, the player's pane must not go with it.
    ASSERT_EQ(Tell(L"close"), 0u);
    ASSERT_TRUE(client.WaitEnd(5000));
    EXPECT_TRUE(::IsWindow(left));
    EXPECT_EQ(::GetParent(left), frame);
    EXPECT_TRUE(::IsWindowVisible(frame));
}
