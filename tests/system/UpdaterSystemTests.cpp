// The real update.exe in a scratch installation, against the local server,
// with this test (or the substitute client) as its caller.
#include "ReleaseSupport.h"
#include "App.h"
#include "TestSupport.h"

#include "Wnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace testsupport;

namespace {


// The caller's window: records the updater's reply.
struct WindowSearch {
    DWORD pid;
    const wchar_t* cls;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindInProcess(HWND hwnd, LPARAM lp)
{
    auto* s = reinterpret_cast<WindowSearch*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {}, title[128] = {};
    ::GetClassNameW(hwnd, cls, 64);
    ::GetWindowTextW(hwnd, title, 128);
    if (pid == s->pid && (!s->cls || _wcsicmp(cls, s->cls) == 0) && (!s->title || wcscmp(title, s->title) == 0) &&
        ::IsWindowVisible(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetServer();
        app = install.path();
        for (const wchar_t* exe : {L"update.exe", L"ZorvClient.exe"})
            ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\" + exe).c_str(), (app + L"\\" + exe).c_str(), FALSE));
        ASSERT_TRUE(caller.CreateEx(0, nullptr, L"caller", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = "/sys/" + test;
        // The low byte below 255: a test publishes versionNumber + 1.
        versionNumber = 0x05000000u | (TestNameNumber() & 0xFFFFFEu);
        version = std::to_string(versionNumber >> 24) + "." + std::to_string((versionNumber >> 16) & 0xFF) + "." +
                  std::to_string((versionNumber >> 8) & 0xFF) + "." + std::to_string(versionNumber & 0xFF);
        manifest = "/" + version + "/update.xml";
        WriteSettings(true);
    }

    void TearDown() override
    {
        Unpublish(root);
        Unpublish("/" + version);
        Unpublish("/sys/patches"); // beside every test's release folder
        Unpublish("/update.xml");
        Unpublish("/update.keys");
        for (HANDLE m : mutexes)
            ::CloseHandle(m);
        caller.DestroyWindow();
    }

    void WriteSettings(bool withVersion)
    {
        std::string ini = "[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\n";
        if (withVersion)
            ini += "Version=" + std::to_string(versionNumber) + "\r\n";
        ASSERT_TRUE(WriteBytes(app + L"\\Update.ini", ini));
    }

    void Hold(const wchar_t* mutexName) { mutexes.push_back(::CreateMutexW(nullptr, FALSE, mutexName)); }

    void Start(const std::wstring& args)
    {
        ASSERT_TRUE(updater.Start(L"\"" + app + L"\\update.exe\" " + args, app));
    }
    // The substitute client of this installation.
    void StartClient(Process& client, const std::wstring& args)
    {
        ASSERT_TRUE(client.Start(L"\"" + app + L"\\ZorvClient.exe\" " + args, app));
    }
    std::wstring ReplyArgs() const
    {
        return L"hwnd=" + std::to_wstring(HandleToLong(caller.m_hWnd)) + L" message=" + std::to_wstring(kReply);
    }
    bool Ended() const { return updater.Ended(); }
    // Returns once the window's thread has handled everything posted to it
    // before: the first sent message is handled within the GetMessage call
    // that then returns the posted ones, the second only at the next call.
    static void Sync(HWND window)
    {
        DWORD_PTR ignored;
        for (int i = 0; i < 2; ++i)
            ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    }
    // Waits (pumping, so the reply can arrive) until the updater has ended.
    void WaitEnd(DWORD ms = 30000)
    {
        ASSERT_TRUE(updater.WaitEnd(ms)) << "update.exe did not end";
        PumpPending();
    }
    HWND FindWindowOf(const wchar_t* cls, const wchar_t* title, DWORD ms = 15000)
    {
        WindowSearch s{updater.Id(), cls, title, nullptr};
        PumpUntil(
            [&] {
                s.found = nullptr;
                ::EnumWindows(FindInProcess, reinterpret_cast<LPARAM>(&s));
                return s.found != nullptr || Ended();
            },
            ms);
        return s.found;
    }
    HWND Dialog() { return FindWindowOf(nullptr, L"自动升级"); }
    HWND MessageBoxWindow(DWORD ms = 15000) { return FindWindowOf(L"#32770", L"update", ms); }
    bool Requested(const std::string& path) const
    {
        for (const ServerRequest& r : GetServerStats().requests)
            if (r.path == path)
                return true;
        return false;
    }
    int Requests(const std::string& path) const
    {
        int n = 0;
        for (const ServerRequest& r : GetServerStats().requests)
            n += r.path == path;
        return n;
    }
    std::string Installed(const std::wstring& rel) const { return ReadBytes(app + L"\\" + rel); }
    // The publisher's tool, as a publisher runs it.
    static DWORD RunTool(const std::wstring& args)
    {
        Process tool;
        if (!tool.Start(L"\"" + AfxGetModuleFolder() + L"\\makemanifest.exe\" " + args) || !tool.WaitEnd(30000))
            return 0xFFFFFFFF;
        return tool.ExitCode();
    }
    // A key pair in keys, the files under root, the release signed with the
    // tool (options: more of its own) and its manifest, signature and delta
    // index where this installation asks; newKey: a key pair made first.
    void PublishSignedWithTool(const TempFolder& keys, const std::vector<ReleaseFile>& files,
                               const std::wstring& options = L"", bool newKey = true)
    {
        if (newKey) {
            ASSERT_EQ(RunTool(L"--new-key \"" + keys.path() + L"\""), 0u);
        }
        for (const ReleaseFile& f : files)
            ASSERT_TRUE(Publish(root + f.name, f.bytes));
        std::wstring folder = HarnessFolder(L"QZ_WWW_DIR") + Utf8ToWide(root);
        for (wchar_t& c : folder)
            c = c == L'/' ? L'\\' : c;
        ASSERT_EQ(RunTool(L"--key \"" + (keys / L"publisher.key") + L"\" " + options + L"\"" + folder + L"\" " +
                          std::to_wstring(versionNumber + 1) + L" " + Utf8ToWide(root)),
                  0u);
        ASSERT_TRUE(Publish(manifest, ReadBytes(folder + L"\\update.xml")));
        ASSERT_TRUE(Publish(SignaturePathBeside(manifest), ReadBytes(folder + L"\\update.sig")));
        ASSERT_TRUE(!Exists(folder + L"\\update.dlt") ||
                    Publish(DeltaIndexPath(), ReadBytes(folder + L"\\update.dlt")));
    }
    std::string DeltaIndexPath() const { return "/" + version + "/update.dlt"; }
    std::string ClientLog() const { return ReadBytes(app + L"\\ZorvClient.log"); }
    std::string IniValue(const wchar_t* key) const
    {
        wchar_t value[128] = {};
        ::GetPrivateProfileStringW(L"UpdateSrv", key, L"", value, 128, (app + L"\\Update.ini").c_str());
        return std::string(value, value + wcslen(value));
    }

    TempFolder install{L"install"};
    std::wstring app;
    ReplyWindow caller;
    Process updater;
    std::vector<HANDLE> mutexes;
    std::string root, manifest, version;
    uint32_t versionNumber = 0;
};

} // namespace

TEST_F(UpdaterTest, AFreshInstallationGetsTheRootManifestAndTheCallerOne)
{
    WriteSettings(false);
    ASSERT_TRUE(PublishRelease("/update.xml", 1, root, {{"/ZorvPlayer.dll", "fresh"}}));
    Start(ReplyArgs());
    WaitEnd();
    EXPECT_EQ(GetServerStats().requests.at(0).path, "/update.xml");
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(Installed(L"ZorvPlayer.dll"), "fresh");
}

TEST_F(UpdaterTest, AStartFromAnotherCurrentFolderUpdatesTheProgramFolder)
{
    // Settings, staging folder and installation come from the program's own
    // folder, never from the current one.
    TempFolder elsewhere(L"current");
    ASSERT_TRUE(WriteBytes(elsewhere / L"Update.ini", "[UpdateSrv]\r\nFtpAddr=127.0.0.2\r\nVersion=1\r\n"));
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new"}}));
    ASSERT_TRUE(WriteBytes(app + L"\\a.txt", "old"));
    ASSERT_TRUE(updater.Start(L"\"" + app + L"\\update.exe\" " + ReplyArgs(), elsewhere.path()));
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(GetServerStats().requests.at(0).path, manifest);
    EXPECT_EQ(Installed(L"a.txt"), "new");
    EXPECT_EQ(ListTree(elsewhere.path()), std::vector<std::wstring>{L"Update.ini"});
}

TEST_F(UpdaterTest, OnlyChangedFilesAreFetchedIncludingNestedFolders)
{
    std::vector<ReleaseFile> files = {{"/a.dll", PatternBytes(40000, 1)},
                                      {"/b.dll", "same as installed"},
                                      {"/skin/images/c.bmp", PatternBytes(3000, 3)}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    ASSERT_TRUE(WriteBytes(app + L"\\a.dll", "old a"));
    ASSERT_TRUE(WriteBytes(app + L"\\b.dll", "same as installed"));
    Start(ReplyArgs());
    HWND dlg = Dialog();
    EXPECT_NE(dlg, nullptr);
    WaitEnd();

    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(GetServerStats().requests.at(0).path, manifest);
    EXPECT_EQ(Requests(root + "/a.dll"), 1);
    EXPECT_EQ(Requests(root + "/b.dll"), 0);
    EXPECT_EQ(Requests(root + "/skin/images/c.bmp"), 1);
    EXPECT_EQ(Installed(L"a.dll"), files[0].bytes);
    EXPECT_EQ(Installed(L"skin\\images\\c.bmp"), files[2].bytes);
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
    EXPECT_FALSE(Exists(app + L"\\update.xml"));
    EXPECT_TRUE(ClientLog().empty()); // with a caller, the caller restarts itself
}

TEST_F(UpdaterTest, AFileInUseLikeARunningProgramIsMovedAsideAndAReadOnlyFileReplaced)
{
    std::vector<ReleaseFile> files = {{"/ZorvPlayer.dll", "player 2"}, {"/Config/Server.ini", "[UpdateSrv]\r\n"}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    ASSERT_TRUE(WriteBytes(app + L"\\ZorvPlayer.dll", "player 1"));
    ASSERT_TRUE(WriteBytes(app + L"\\Config\\Server.ini", "old"));
    ASSERT_TRUE(::SetFileAttributesW((app + L"\\Config\\Server.ini").c_str(), FILE_ATTRIBUTE_READONLY));

    // Another process holds the library the way a running program holds its image.
    Process client;
    StartClient(client, L"--hold-file \"" + app + L"\\ZorvPlayer.dll\"");
    ASSERT_TRUE(PumpUntil([&] { return ClientLog().find("holding") != std::string::npos; }));

    Start(ReplyArgs());
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(Installed(L"ZorvPlayer.dll"), "player 2");
    EXPECT_EQ(Installed(L"Temp\\ZorvPlayer.dll0"), "player 1");
    EXPECT_EQ(Installed(L"Config\\Server.ini"), "[UpdateSrv]\r\n");
}

TEST_F(UpdaterTest, AnInstallIsAllOrNothingEvenWhenTheProcessIsEndedInItsMiddle)
{
    std::vector<ReleaseFile> files;
    for (int i = 0; i < 30; ++i)
        files.push_back({"/f" + std::to_string(i) + ".dat", "new " + std::to_string(i)});
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    // 'o' old, 'n' new, '?' neither, for each file in order.
    auto installed = [&] {
        std::string set;
        for (int i = 0; i < 30; ++i) {
            std::string bytes = Installed(L"f" + std::to_wstring(i) + L".dat");
            set += bytes == "old " + std::to_string(i) ? 'o' : bytes == "new " + std::to_string(i) ? 'n' : '?';
        }
        return set;
    };
    auto installOld = [&] {
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(WriteBytes(app + L"\\f" + std::to_wstring(i) + L".dat", "old " + std::to_string(i)));
    };
    const std::string allOld(30, 'o'), allNew(30, 'n');
    installOld();

    // One file held by a program that lets nobody rename it: nothing changes.
    {
        HANDLE held = ::CreateFileW((app + L"\\f15.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Start(ReplyArgs() + L" hide");
        WaitEnd();
        ::CloseHandle(held);
    }
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(updater.ExitCode(), 1u);
    EXPECT_EQ(installed(), allOld);
    // Ended at moments during the install (once its journal is written): the
    // next run, here one that then finds no release, puts the old set back.
    // Unkeyed, then stamped and signed: the record goes in the same install.
    Hold(L"ZorvaneMutex");
    const std::wstring journal = app + L"\\Temp\\update.journal";
    TempFolder keys(L"keys");
    for (bool keyed : {false, true}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        std::string xml = ReadBytes(HarnessFolder(L"QZ_WWW_DIR") + Utf8ToWide(manifest));
        if (keyed) {
            PublishSignedWithTool(keys, files);
            ASSERT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.pub") + L"\" \"" + app + L"\\update.exe\""), 0u);
            xml = ReadBytes(HarnessFolder(L"QZ_WWW_DIR") + Utf8ToWide(manifest));
        }
        // Kills that came while the journal stood: the ones this test is for.
        int landed = 0;
        for (DWORD delayMs : {0u, 0u, 1u, 3u, 10u, 1000u}) {
            SCOPED_TRACE(delayMs);
            installOld();
            Process run, next;
            ASSERT_TRUE(run.Start(L"\"" + app + L"\\update.exe\" hide", app));
            for (ULONGLONG end = ::GetTickCount64() + Scaled(30000);
                 !Exists(journal) && !run.Ended() && ::GetTickCount64() < end;)
                ::Sleep(0);
            ::Sleep(delayMs);
            ASSERT_TRUE(run.Kill());
            landed += Exists(journal) ? 1 : 0;
            const std::string atTheEnd = installed();
            std::printf("%s, ended %lu ms into the install: %s%s\n", keyed ? "keyed" : "unkeyed",
                        static_cast<unsigned long>(delayMs), atTheEnd.c_str(),
                        Exists(journal) ? " (journal standing)" : "");
            Unpublish(manifest);
            ASSERT_TRUE(next.Start(L"\"" + app + L"\\update.exe\" hide", app) && next.WaitEnd(30000));
            EXPECT_TRUE(installed() == allOld || installed() == allNew) << atTheEnd << " became " << installed();
            EXPECT_FALSE(Exists(journal));
            ASSERT_TRUE(Publish(manifest, xml));
        }
        EXPECT_GE(landed, 1) << "no kill came between the journal and the commit";
    }
    // Released: a run replaces every file.
    caller.replies.clear();
    installOld();
    Start(ReplyArgs() + L" hide");
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(updater.ExitCode(), 0u);
    EXPECT_EQ(installed(), allNew);
}

TEST_F(UpdaterTest, A404InHiddenModeEndsTheRunWithZeroAndInstallsNothing)
{
    Hold(L"ZorvaneMutex");
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new a"}, {"/b.txt", "new b"}}));
    SetServerFault(root + "/b.txt", "404");
    ASSERT_TRUE(WriteBytes(app + L"\\a.txt", "old a"));
    Start(ReplyArgs() + L" hide");
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(Requests(root + "/b.txt"), 5);
    EXPECT_EQ(Installed(L"a.txt"), "old a");
    EXPECT_FALSE(Exists(app + L"\\b.txt"));
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
}

TEST_F(UpdaterTest, AVisibleFailureAsksAndRetrySucceeds)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/播放器.dat", "new"}}));
    // The name travels percent-encoded; the server sees it decoded.
    SetServerFault(root + "/\xE6\x92\xAD\xE6\x94\xBE\xE5\x99\xA8.dat", "404", 0, 0, 5);
    Start(ReplyArgs());
    HWND box = MessageBoxWindow();
    ASSERT_NE(box, nullptr) << "no Retry/Cancel prompt";
    HWND text = ::GetDlgItem(box, 0xFFFF);
    EXPECT_EQ(GetWindowTextString(text), L"下载文件：'/播放器.dat' 失败\n");
    SaveScreenshot(L"updater_retry_prompt");
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDRETRY, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, IDRETRY)));
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(Installed(L"播放器.dat"), "new");
}

TEST_F(UpdaterTest, CancelDuringADownloadLeavesTheInstallationUntouched)
{
    std::vector<ReleaseFile> files = {{"/first.dll", "first new"}, {"/second.dll", PatternBytes(3000000, 2)}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    // Stalled after some progress: the download is still going on at Cancel however slowly this runs.
    SetServerFault(root + "/second.dll", "stall", 204800, 60000);
    ASSERT_TRUE(WriteBytes(app + L"\\first.dll", "first old"));
    Start(ReplyArgs());
    HWND dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Requested(root + "/second.dll"); }));
    SaveScreenshot(L"updater_progress");
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDCANCEL)));
    // No late prompt may keep the program alive after Cancel.
    WaitEnd(15000);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(Installed(L"first.dll"), "first old");
    EXPECT_FALSE(Exists(app + L"\\second.dll"));
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
}

TEST_F(UpdaterTest, CancelDuringAStalledTransferEndsTheRunAtOnce)
{
    std::vector<ReleaseFile> files = {{"/first.dll", "first new"}, {"/stalled.dll", PatternBytes(400000, 3)}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    // The body stops after 200 KB and the connection stays open far longer than the run may take.
    SetServerFault(root + "/stalled.dll", "stall", 200000, 30000, 1);
    ASSERT_TRUE(WriteBytes(app + L"\\first.dll", "first old"));
    Start(ReplyArgs());
    HWND dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Requested(root + "/stalled.dll"); }));
    PumpUntil([] { return false; }, 500);
    DWORD start = ::GetTickCount();
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDCANCEL)));
    ASSERT_TRUE(PumpUntil([&] { return !caller.replies.empty(); }, 10000)) << "no reply";
    EXPECT_LT(::GetTickCount() - start, testsupport::Scaled(2500)); // the stall lasts 30 s
    WaitEnd(10000);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(Installed(L"first.dll"), "first old");
    EXPECT_FALSE(Exists(app + L"\\stalled.dll"));
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
}

TEST_F(UpdaterTest, EscapeIsIgnoredTheAboutBoxOpensAndClosingCancels)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/slow.bin", PatternBytes(2000000, 4)}}));
    // Every transfer stalls after its first bytes, so the update is still
    // going on when the window closes, however slowly this test runs (a
    // transfer that merely went slowly ended first on a busy machine).
    SetServerFault(root + "/slow.bin", "stall", 20480, 60000);
    Start(ReplyArgs());
    HWND dlg = Dialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Requested(root + "/slow.bin"); }));

    HWND focus = ::GetDlgItem(dlg, IDCANCEL);
    ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    Sync(dlg);
    EXPECT_FALSE(Ended());
    EXPECT_TRUE(caller.replies.empty());

    // The system menu's about entry (menus cannot be read from another
    // process under Wine): the box opens while the update goes on.
    ::PostMessageW(dlg, WM_SYSCOMMAND, 16, 0);
    HWND about = FindWindowOf(nullptr, L"关于 update");
    ASSERT_NE(about, nullptr);
    SaveScreenshot(L"updater_about");
    EXPECT_FALSE(Ended());
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(about, IDOK)));
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(about); }));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dlg, IDOK)));

    ::PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    WaitEnd(15000);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_FALSE(Exists(app + L"\\slow.bin"));
}

TEST_F(UpdaterTest, AHiddenRunEndsOnItsOwnWhenTheClientIsGone)
{
    // No "ZorvaneMutex": the first watch tick ends the run, whatever the server does.
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/stuck.bin", PatternBytes(3000000, 5)}}));
    SetServerFault(root + "/stuck.bin", "stall", 20480, 60000);
    Start(ReplyArgs() + L" hide");
    WaitEnd(10000);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_FALSE(Exists(app + L"\\stuck.bin"));
}

TEST_F(UpdaterTest, AStandAloneVisibleFinishWaitsForTheClientWritesTheBuilderIdAndStartsIt)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new"}}));
    Hold(L"PlimLive");
    Start(L"BuilderID=Abc");
    ASSERT_TRUE(PumpUntil([&] { return Installed(L"a.txt") == "new"; }));
    // Installed, but the client still runs: no restart for longer than two
    // of the finish's half-second looks at the mutex.
    PumpFor(Scaled(1200));
    EXPECT_FALSE(Ended());
    EXPECT_TRUE(ClientLog().empty());
    EXPECT_EQ(IniValue(L"BuilderID"), "");

    ::CloseHandle(mutexes.back());
    mutexes.pop_back();
    WaitEnd();
    EXPECT_EQ(IniValue(L"BuilderID"), "abc");
    ASSERT_TRUE(PumpUntil([&] { return ClientLog().find("started") != std::string::npos; }))
        << "the client was not started";
}

TEST_F(UpdaterTest, AWindowWithoutAMessageIsNoReplyTarget)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new"}}));
    Start(L"hwnd=" + std::to_wstring(HandleToLong(caller.m_hWnd)));
    WaitEnd();
    EXPECT_TRUE(caller.replies.empty());
    EXPECT_TRUE(PumpUntil([&] { return ClientLog().find("started") != std::string::npos; }));
}

TEST_F(UpdaterTest, AManifestListingTheUpdaterItselfReplacesItForTheNextStart)
{
    std::string newUpdater = PatternBytes(5000, 6);
    std::string oldUpdater = ReadBytes(app + L"\\update.exe");
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/Update.exe", newUpdater}}));
    Start(ReplyArgs());
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(Installed(L"update.exe"), newUpdater);
    EXPECT_EQ(Installed(L"Temp\\Update.exe0"), oldUpdater);
}

TEST_F(UpdaterTest, AVersionWithoutFilesCompletesAndLeavesNothing)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {}));
    std::vector<std::wstring> before = ListTree(app);
    Start(ReplyArgs());
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(ListTree(app), before);
}

TEST_F(UpdaterTest, ATruncatedDownloadIsNeverInstalled)
{
    Hold(L"ZorvaneMutex");
    std::string data = PatternBytes(80000, 7);
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/cut.dll", data}}));
    // Every answer cut, and ranges ignored: no attempt continues another.
    SetServerFault(root + "/cut.dll", "truncate,norange", 50000);
    ASSERT_TRUE(WriteBytes(app + L"\\cut.dll", "old"));
    Start(ReplyArgs() + L" hide");
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(Requests(root + "/cut.dll"), 5);
    EXPECT_EQ(Installed(L"cut.dll"), "old");
}

// A keyed run keeps what it received of a file it could not finish; the next
// run asks only for the rest, unless the release no longer signs that file.
TEST_F(UpdaterTest, AKeyedRunContinuesWhatAnEarlierRunReceivedUnlessTheReleaseChanged)
{
    Hold(L"ZorvaneMutex");
    TempFolder keys(L"keys");
    const std::string first = PatternBytes(200000, 3), second = PatternBytes(200000, 4);
    auto part = [](const std::string& bytes) {
        Sha256Digest hash{};
        Sha256(bytes.data(), bytes.size(), &hash);
        return L"Temp\\" + Utf8ToWide(ToHex(hash.data(), hash.size()));
    };
    ASSERT_TRUE(WriteBytes(app + L"\\big.dll", "old"));
    struct Run {
        const char* what;
        const std::string* published; // signed anew when it changes
        bool cut;                     // every answer cut at 60 %, ranges ignored
        LPARAM reply;
        std::vector<std::wstring> staged; // what the staging folder holds afterwards
    } runs[] = {
        {"cut off: the part is kept", &first, true, 0, {part(first), part(first) + L".state"}},
        {"the release changed: that part goes", &second, true, 0, {part(second), part(second) + L".state"}},
        {"the rest only, then installed", &second, false, 1, {}},
    };
    const std::string* signedBytes = nullptr;
    for (const Run& r : runs) {
        SCOPED_TRACE(r.what);
        if (signedBytes != r.published) {
            PublishSignedWithTool(keys, {{"/big.dll", *r.published}}, L"", signedBytes == nullptr);
            if (!signedBytes) {
                ASSERT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.pub") + L"\" \"" + app + L"\\update.exe\""), 0u);
            }
            signedBytes = r.published;
        }
        ResetServer();
        if (r.cut)
            SetServerFault(root + "/big.dll", "truncate,norange", 120000);
        caller.replies.clear();
        Start(ReplyArgs() + L" hide");
        WaitEnd();
        EXPECT_EQ(caller.replies, std::vector<LPARAM>{r.reply});
        EXPECT_EQ(ListTree(app + L"\\$Temp$"), r.staged);
    }
    EXPECT_EQ(Installed(L"big.dll"), second);
    std::vector<std::pair<int, uint64_t>> answers;
    for (const ServerRequest& q : GetServerStats().requests)
        if (q.path == root + "/big.dll")
            answers.emplace_back(q.status, q.sent);
    EXPECT_EQ(answers, (std::vector<std::pair<int, uint64_t>>{{206, 80000}}));
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
}

TEST_F(UpdaterTest, AHostileNameWritesNothingOutsideTheInstallation)
{
    Hold(L"ZorvaneMutex");
    std::string xml = "<update_info>\n<version>\n<ver_id>" + std::to_string(versionNumber + 1) + "</ver_id>\n<ver_root>" +
                      root + "</ver_root>\n<file>\n<f_name>/../escaped.txt</f_name>\n<f_size>5</f_size>\n<f_crc>" +
                      std::to_string(ChecksumOf("owned")) + "</f_crc>\n</file>\n</version>\n</update_info>\n";
    ASSERT_TRUE(Publish(manifest, xml));
    ASSERT_TRUE(Publish(root + "/../escaped.txt", "owned"));
    std::wstring parent = app.substr(0, app.find_last_of(L'\\'));
    Start(ReplyArgs() + L" hide");
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_FALSE(Exists(parent + L"\\escaped.txt"));
    EXPECT_EQ(GetServerStats().requests.size(), 1u); // the manifest only
}

TEST_F(UpdaterTest, TheSubstituteClientDrivesAHiddenUpdateAndGetsTheReply)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new"}}));
    Process client;
    StartClient(client, L"--hold-mutexes --exit-after-reply --run-updater hide");
    ASSERT_TRUE(client.WaitEnd(30000)) << ClientLog();
    EXPECT_NE(ClientLog().find("updater started hwnd="), std::string::npos) << ClientLog();
    EXPECT_NE(ClientLog().find("reply 1"), std::string::npos) << ClientLog();
    EXPECT_EQ(Installed(L"a.txt"), "new");
}

TEST_F(UpdaterTest, AProgramFolderTooLongForTheStagingFolderEndsTheRunAtStartTouchingNothing)
{
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, {{"/a.txt", "new"}}));
    Hold(L"ZorvaneMutex");
    // An installation whose folder leaves room for `room` more characters,
    // with a program name short enough to start from there.
    DWORD exitCode = 0;
    auto runIn = [&](const std::wstring& name, size_t room) {
        std::wstring folder = app + L"\\" + name;
        folder += std::wstring(MAX_PATH - room - folder.size(), L'd');
        std::wstring made = L"\\\\?\\" + folder; // folders this long are made through the long-path form
        EXPECT_TRUE(::CreateDirectoryW(made.c_str(), nullptr));
        EXPECT_TRUE(::CopyFileW((app + L"\\update.exe").c_str(), (made + L"\\u.exe").c_str(), FALSE));
        EXPECT_TRUE(::CopyFileW((app + L"\\Update.ini").c_str(), (made + L"\\Update.ini").c_str(), FALSE));
        EXPECT_TRUE(WriteBytes(made + L"\\a.txt", "old"));
        ResetServer();
        Process run;
        EXPECT_TRUE(run.Start(L"\"" + folder + L"\\u.exe\" " + ReplyArgs() + L" hide", folder));
        EXPECT_TRUE(run.WaitEnd(10000));
        exitCode = run.ExitCode();
        PumpPending();
        return folder;
    };
    // Room for "\\$Temp$\\update.xml": an ordinary run.
    EXPECT_EQ(ReadBytes(runIn(L"a", 19) + L"\\a.txt"), "new");
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_EQ(exitCode, 0u);
    caller.replies.clear();

    // One character less: the cut staging path would name another folder.
    // The caller still gets its reply, and the exit code says it failed.
    std::wstring folder = runIn(L"b", 7);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(exitCode, 1u);
    EXPECT_TRUE(GetServerStats().requests.empty());
    EXPECT_EQ(ListTree(folder), (std::vector<std::wstring>{L"Update.ini", L"a.txt", L"u.exe"}));
}

TEST_F(UpdaterTest, TwoRunsStartedTogetherTakeTheStagingFolderInTurnAndBothEndWell)
{
    std::vector<ReleaseFile> files = {{"/a.bin", PatternBytes(60000, 4)}, {"/sub/b.bin", PatternBytes(30000, 5)}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, files));
    // Slow enough that the runs would overlap.
    SetServerFault(root + "/a.bin", "slow", 10000, 150);
    ASSERT_TRUE(WriteBytes(app + L"\\a.bin", "old a"));
    Hold(L"ZorvaneMutex"); // hidden runs live as long as the client
    Process second;
    Start(ReplyArgs() + L" hide");
    ASSERT_TRUE(second.Start(L"\"" + app + L"\\update.exe\" " + ReplyArgs() + L" hide", app));
    WaitEnd(60000);
    ASSERT_TRUE(second.WaitEnd(60000)) << "the second update.exe did not end";
    PumpPending();

    EXPECT_EQ(caller.replies, (std::vector<LPARAM>{1, 1}));
    EXPECT_EQ(Installed(L"a.bin"), files[0].bytes);
    EXPECT_EQ(Installed(L"sub\\b.bin"), files[1].bytes);
    EXPECT_EQ(Requests(root + "/a.bin"), 1) << "the later run found the files current";
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));
    EXPECT_FALSE(Exists(app + L"\\update.xml"));
}

TEST_F(UpdaterTest, ASignedReleaseInstallsWithAStampedUpdaterAndAnUnstampedOneAlike)
{
    // Signed with the release before as --previous: the stamped updater builds
    // a.dll from a patch of its installed copy, the unstamped one never asks.
    TempFolder keys(L"keys"), other(L"install"), previous(L"previous");
    std::vector<ReleaseFile> files = {{"/a.dll", PatternBytes(40000, 1)}, {"/skin/b.bmp", PatternBytes(3000, 2)}};
    std::string oldA = files[0].bytes;
    oldA.replace(20000, 5, "old a");
    ASSERT_TRUE(WriteBytes(previous / L"a.dll", oldA));
    ASSERT_EQ(RunTool(L"\"" + previous.path() + L"\" 1 /1"), 0u);
    PublishSignedWithTool(keys, files, L"--previous \"" + previous.path() + L"\" ");
    ASSERT_TRUE(::CopyFileW((app + L"\\update.exe").c_str(), (other / L"update.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((app + L"\\Update.ini").c_str(), (other / L"Update.ini").c_str(), FALSE));
    ASSERT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.pub") + L"\" \"" + app + L"\\update.exe\""), 0u);
    ASSERT_TRUE(WriteBytes(app + L"\\a.dll", oldA));
    // DLLs planted beside the updater under the names of the two it needs
    // that are not known DLLs (here a DLL of ours, with none of their
    // functions) are never loaded. Wine prefers its own copies; told (for
    // programs named update.exe) to prefer files, it takes them from wherever
    // the search order says, as Windows does.
    const wchar_t* preferFiles = L"Software\\Wine\\AppDefaults\\update.exe\\DllOverrides";
    for (const wchar_t* dll : {L"bcrypt", L"wininet"}) {
        ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\SimControls.dll").c_str(),
                                (app + L"\\" + dll + L".dll").c_str(), FALSE));
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, preferFiles, dll, REG_SZ, L"native,builtin", 30), ERROR_SUCCESS);
    }

    ResetServer();
    Start(ReplyArgs());
    WaitEnd();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, preferFiles);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_TRUE(Requested(SignaturePathBeside(manifest)));
    EXPECT_TRUE(Requested(DeltaIndexPath()));
    EXPECT_FALSE(Requested(root + "/a.dll"));
    EXPECT_EQ(Installed(L"a.dll"), files[0].bytes);
    EXPECT_EQ(Installed(L"skin\\b.bmp"), files[1].bytes);
    EXPECT_FALSE(Exists(app + L"\\$Temp$"));

    // Without a key, the same release as ever: the signature is never asked for.
    ResetServer();
    caller.replies.clear();
    Process unstamped;
    ASSERT_TRUE(unstamped.Start(L"\"" + other.path() + L"\\update.exe\" " + ReplyArgs(), other.path()));
    ASSERT_TRUE(unstamped.WaitEnd(30000));
    PumpPending();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_FALSE(Requested(SignaturePathBeside(manifest)) || Requested(DeltaIndexPath()));
    EXPECT_EQ(ReadBytes(other / L"a.dll"), files[0].bytes);
}

TEST_F(UpdaterTest, AStampedUpdaterRefusesATamperedReleaseAndLeavesTheInstallationAsItWas)
{
    Hold(L"ZorvaneMutex");
    TempFolder keys(L"keys");
    std::vector<ReleaseFile> files = {{"/a.dll", "new a"}};
    PublishSignedWithTool(keys, files);
    ASSERT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.pub") + L"\" \"" + app + L"\\update.exe\""), 0u);
    // Whoever answers in the server's place lists a file of their own; the signature is the publisher's.
    std::vector<ReleaseFile> forged = {{"/a.dll", "forged"}, {"/b.dll", "forged"}};
    ASSERT_TRUE(PublishRelease(manifest, versionNumber + 1, root, forged));
    ASSERT_TRUE(WriteBytes(app + L"\\a.dll", "old a"));
    std::vector<std::wstring> before = ListTree(app);

    ResetServer();
    Start(ReplyArgs() + L" hide");
    WaitEnd();
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(Requests(manifest), 5);
    EXPECT_EQ(Requests(SignaturePathBeside(manifest)), 5);
    EXPECT_EQ(Requests("/update.keys"), 5);
    EXPECT_EQ(GetServerStats().requests.size(), 15u); // not one file
    EXPECT_EQ(ListTree(app), before);
    EXPECT_EQ(Installed(L"a.dll"), "old a");
}

TEST_F(UpdaterTest, AKeyChangeStrandsNoInstallationAndARollbackAcrossItIsRefused)
{
    TempFolder oldKeys(L"keys"), newKeys(L"keys"), skipped(L"install");
    const std::wstring newUpdater = newKeys / L"update.exe";
    ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\update.exe").c_str(), newUpdater.c_str(), FALSE));
    ASSERT_EQ(RunTool(L"--new-key \"" + oldKeys.path() + L"\""), 0u);
    ASSERT_EQ(RunTool(L"--new-key \"" + newKeys.path() + L"\""), 0u);
    // Two installations run the old key's updater; the new key's ships with the release that hands over.
    ASSERT_EQ(RunTool(L"--stamp \"" + (oldKeys / L"publisher.pub") + L"\" \"" + app + L"\\update.exe\""), 0u);
    ASSERT_EQ(RunTool(L"--stamp \"" + (newKeys / L"publisher.pub") + L"\" \"" + newUpdater + L"\""), 0u);
    for (const wchar_t* file : {L"update.exe", L"Update.ini"})
        ASSERT_TRUE(::CopyFileW((app + L"\\" + file).c_str(), (skipped / file).c_str(), FALSE));

    // Each release in its own folder on the server, signed there by the tool;
    // manifest, signature and chain published where the installations ask.
    auto releaseFolder = [&](uint32_t id) {
        std::wstring folder = HarnessFolder(L"QZ_WWW_DIR") + Utf8ToWide(root) + L"\\" + std::to_wstring(id);
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        return folder;
    };
    auto publishRelease = [&](uint32_t id, const std::string& a, const std::wstring& signing) {
        const std::string verRoot = root + "/" + std::to_string(id);
        const std::wstring folder = releaseFolder(id);
        return Publish(verRoot + "/a.dll", a) && Publish(verRoot + "/update.exe", ReadBytes(newUpdater)) &&
               RunTool(signing + L" \"" + folder + L"\" " + std::to_wstring(id) + L" " + Utf8ToWide(verRoot)) == 0 &&
               Publish(manifest, ReadBytes(folder + L"\\update.xml")) &&
               Publish(SignaturePathBeside(manifest), ReadBytes(folder + L"\\update.sig")) &&
               Publish("/update.keys", ReadBytes(folder + L"\\update.keys"));
    };
    auto run = [&](const std::wstring& folder, const wchar_t* args) {
        ResetServer();
        caller.replies.clear();
        Process program;
        if (program.Start(L"\"" + folder + L"\\update.exe\" " + ReplyArgs() + args, folder) && program.WaitEnd(30000))
            PumpPending();
        return caller.replies;
    };
    const uint32_t rotation = versionNumber + 1, next = versionNumber + 2;
    const std::vector<LPARAM> completed{1};
    ASSERT_TRUE(publishRelease(rotation, "rotation", L"--key \"" + (oldKeys / L"publisher.key") + L"\" --rotate-to \"" +
                                                         (newKeys / L"publisher.key") + L"\""));
    // The old key's updater takes it, the new updater and the chain with it;
    // the new updater finds the release it came with current.
    EXPECT_EQ(run(app, L""), completed);
    EXPECT_EQ(Installed(L"update.exe"), ReadBytes(newUpdater));
    EXPECT_EQ(Installed(L"update.keys"), ReadBytes(newKeys / L"update.keys"));
    EXPECT_EQ(run(app, L""), completed);
    EXPECT_EQ(Requests(root + "/" + std::to_string(rotation) + "/a.dll"), 0);

    // The next release, signed with the new key, installs there and where the handover was missed.
    ASSERT_TRUE(publishRelease(next, "next", L"--key \"" + (newKeys / L"publisher.key") + L"\""));
    for (const std::wstring& folder : {app, skipped.path()}) {
        EXPECT_EQ(run(folder, L""), completed);
        EXPECT_EQ(ReadBytes(folder + L"\\a.dll"), "next");
    }
    // The release that handed over, answered again in the next one's place: below the new key's record.
    ASSERT_TRUE(Publish(manifest, ReadBytes(releaseFolder(rotation) + L"\\update.xml")) &&
                Publish(SignaturePathBeside(manifest), ReadBytes(releaseFolder(rotation) + L"\\update.sig")));
    Hold(L"ZorvaneMutex");
    EXPECT_EQ(run(app, L" hide"), std::vector<LPARAM>{0});
    EXPECT_EQ(Installed(L"a.dll"), "next");
}

// Every DLL a program imports directly is loaded before its first line runs,
// from wherever the search order finds it first: only the system's known
// DLLs, which always come from the system's folder, may be among them.
TEST(ProgramImports, BothProgramsImportOnlyKnownDllsDirectly)
{
    const std::vector<std::string> known = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll",
                                            "advapi32.dll", "ole32.dll",  "oleaut32.dll", "shell32.dll",
                                            "shlwapi.dll",  "ws2_32.dll", "comdlg32.dll"};
    for (const wchar_t* exe : {L"update.exe", L"QZPlayer.exe"}) {
        const std::string pe = ReadBytes(AfxGetModuleFolder() + L"\\" + exe);
        ASSERT_GT(pe.size(), 4096u);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            pe.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(pe.data())->e_lfanew);
        const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
        auto offset = [&](DWORD rva) -> size_t {
            for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
                if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                    return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
            return pe.size();
        };
        size_t at = offset(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        int count = 0;
        for (; at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= pe.size(); at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.data() + at);
            if (!import->Name)
                break;
            std::string name = pe.c_str() + offset(import->Name);
            for (char& c : name)
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << name << " in " << exe;
            ++count;
        }
        EXPECT_GE(count, 3) << exe;
    }
}
