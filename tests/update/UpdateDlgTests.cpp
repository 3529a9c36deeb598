// The update run and the progress dialog that shows it, in this process. The
// test stands in for the worker, handing the run the reports the worker
// sends, except where the real worker runs.
#include "ReleaseSupport.h"
#include "TestSupport.h"
#include "UpdateDlg.h"
#include "UpdateMessages.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <thread>

#include <memory>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The run with no worker thread; the test decides when the installation is over.
class StandInRun : public CUpdateRun {
public:
    using CUpdateRun::CUpdateRun;
    bool finished = false;

protected:
    bool StartWorker() override { return false; }
    bool InstallationFinished() const override { return finished; }
};

// A view without a window: what the run last showed, and what it asked or told.
struct RecordingView : IUpdateView {
    std::wstring status;
    std::vector<std::wstring> asked;
    bool retry = true;
    int exitCode = -1;

    void ShowStatus(const std::wstring& text) override { status = text; }
    void ShowFileProgress(int) override {}
    void ShowTotalRange(int) override {}
    void ShowTotalProgress(int) override {}
    void EnableOk(bool) override {}
    void EnableCancel(bool) override {}
    bool AskRetry(const std::wstring& text) override
    {
        asked.push_back(text);
        return retry;
    }
    void Tell(const std::wstring& text) override { asked.push_back(text); }
    void WakeUp() override {}
    void StartTimer(UINT_PTR, UINT) override {}
    void StopTimer(UINT_PTR) override {}
    void EndProgram(int code) override { exitCode = code; }
};

class UpdateDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(caller.CreateEx(0, nullptr, L"caller", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
        ASSERT_TRUE(WriteBytes(app / L"Update.ini", "[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\nVersion=117440513\r\n"));
    }
    void TearDown() override
    {
        dlg.reset();
        caller.DestroyWindow();
        TakeQuit();
    }

    UpdateCommandLine Args(bool visible, bool reply, const std::wstring& builderId = L"") const
    {
        UpdateCommandLine args;
        args.visible = visible ? 1 : 0;
        args.builderId = builderId;
        if (reply) {
            args.notifyWindow = caller.m_hWnd;
            args.notifyMessage = kReply;
        }
        return args;
    }
    // With the real worker when real is set.
    void Make(const UpdateCommandLine& args, bool real = false)
    {
        dlg = std::make_unique<CUpdateDlg>(real ? std::make_unique<CUpdateRun>(args, app.path())
                                                : std::make_unique<StandInRun>(args, app.path()));
        ASSERT_TRUE(dlg->Create(IDD_UPDATE_DIALOG));
    }
    StandInRun& StandIn() { return static_cast<StandInRun&>(dlg->Run()); }
    // The user's button, through this thread's loop.
    void Press(int button)
    {
        dlg->PostMessage(WM_COMMAND, button, 0);
        PumpPending();
    }
    // As the worker reports.
    void Report(UINT msg, int code, LPARAM value, const std::wstring& text = std::wstring())
    {
        dlg->Run().Receive(WorkerReport{msg, code, value, text});
    }
    std::wstring Status() const { return GetWindowTextString(::GetDlgItem(dlg->m_hWnd, IDC_STATUS_TEXT)); }
    int Pos(int id) const { return static_cast<int>(::SendDlgItemMessageW(dlg->m_hWnd, id, PBM_GETPOS, 0, 0)); }
    int High(int id) const
    {
        return static_cast<int>(::SendDlgItemMessageW(dlg->m_hWnd, id, PBM_GETRANGE, FALSE, 0));
    }
    bool Enabled(int id) const { return ::IsWindowEnabled(::GetDlgItem(dlg->m_hWnd, id)) != FALSE; }
    // Whether the run ended (Shutdown posts the quit message); takes it away.
    static bool TakeQuit()
    {
        MSG msg;
        return ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }

    TempFolder app{L"dlg"};
    ReplyWindow caller;
    std::unique_ptr<CUpdateDlg> dlg;
};

// Holds "PlimLive" on a thread of its own and watches the dialog's buttons
// while the finish waits for the mutex to go.
struct ClientStandIn {
    HWND dialog = nullptr;
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool cancelOffWhileWaiting = false, okOffWhileWaiting = false;

    static DWORD WINAPI Run(void* p)
    {
        auto* self = static_cast<ClientStandIn*>(p);
        HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"PlimLive");
        ::SetEvent(self->ready);
        HWND cancel = ::GetDlgItem(self->dialog, IDCANCEL), ok = ::GetDlgItem(self->dialog, IDOK);
        for (DWORD start = ::GetTickCount(); ::IsWindowEnabled(cancel) && ::GetTickCount() - start < testsupport::Scaled(5000);)
            ::Sleep(10);
        ::Sleep(testsupport::Scaled(700)); // longer than one look of the finish at the mutex
        self->cancelOffWhileWaiting = !::IsWindowEnabled(cancel);
        self->okOffWhileWaiting = !::IsWindowEnabled(ok);
        ::CloseHandle(mutex);
        return 0;
    }
};

// A reply window whose thread stops handling messages.
struct HungCaller {
    HWND window = nullptr;
    HANDLE created = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    static DWORD WINAPI Run(void* p)
    {
        auto* self = static_cast<HungCaller*>(p);
        self->window = ::CreateWindowExW(0, L"STATIC", L"hung", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                         nullptr);
        ::SetEvent(self->created);
        ::WaitForSingleObject(self->release, 30000);
        ::DestroyWindow(self->window);
        return 0;
    }
};

} // namespace

TEST_F(UpdateDlgTest, StatusTextsProgressPositionsAndRanges)
{
    Make(Args(true, true));
    EXPECT_EQ(Status(), L"");
    EXPECT_FALSE(Enabled(IDOK));
    EXPECT_TRUE(Enabled(IDCANCEL));
    EXPECT_EQ(High(IDC_FILE_PROGRESS), 100);
    EXPECT_EQ(High(IDC_TOTAL_PROGRESS), 100);

    Report(WM_VERSION_STATUS, 1, 0);
    EXPECT_EQ(Status(), L"正在下载版本信息...");
    // The manifest against its nominal 4096 bytes: full at 4096 and beyond.
    Report(WM_DOWNLOAD_PROGRESS, 4096, 2048);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Report(WM_DOWNLOAD_PROGRESS, 4096, 4096);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    Report(WM_DOWNLOAD_PROGRESS, 4096, 9000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    // The file count's low 16 bits: a count above 65535 wraps.
    Report(WM_VERSION_STATUS, 0, 70000);
    EXPECT_EQ(High(IDC_TOTAL_PROGRESS), 4464);
    EXPECT_EQ(Pos(IDC_TOTAL_PROGRESS), 0);
    EXPECT_EQ(Status(), L"下载版本信息成功");
    Report(WM_VERSION_STATUS, 0, 65535);
    EXPECT_EQ(High(IDC_TOTAL_PROGRESS), 65535);

    const wchar_t* name = L"/播放器/big.dll";
    Report(WM_FILE_STATUS, 1, 0, name);
    EXPECT_EQ(Status(), name);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 0);
    // 30,000,000 bytes: halfway is 50 (no overflow); an expected size of 0 changes nothing.
    Report(WM_DOWNLOAD_PROGRESS, 30000000, 15000000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Report(WM_DOWNLOAD_PROGRESS, 0, 29000000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Report(WM_FILE_STATUS, 0, 3);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    EXPECT_EQ(Pos(IDC_TOTAL_PROGRESS), 3);

    Report(WM_CONNECT_STATUS, 1, 1);
    EXPECT_EQ(Status(), L"正在连接HTTP服务器 ...");
    Report(WM_CONNECT_STATUS, 0, 2);
    EXPECT_EQ(Status(), L"连接FTP服务器成功");
    EXPECT_FALSE(TakeQuit());
    EXPECT_TRUE(caller.replies.empty());
}

TEST_F(UpdateDlgTest, ARunThatWaitsForAnotherOnTheSameInstallationSaysSo)
{
    // Another run holds the installation's lock (on a thread of its own: a
    // mutex is its owner's again and again). The lock is one for every
    // session on the machine: a run from another session is held too.
    EXPECT_EQ(CUpdateRun::StagingLockName(app.path()).compare(0, 23, L"Global\\QZUpdateStaging."), 0);
    HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr), done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        HANDLE lock = ::CreateMutexW(nullptr, TRUE, CUpdateRun::StagingLockName(app.path()).c_str());
        ::SetEvent(held);
        ::WaitForSingleObject(done, INFINITE);
        ::ReleaseMutex(lock);
        ::CloseHandle(lock);
    });
    ASSERT_EQ(::WaitForSingleObject(held, 10000), WAIT_OBJECT_0);
    Make(Args(true, true));
    EXPECT_EQ(Status(), kWaitingText);
    ::SetEvent(done);
    other.join();
    ::CloseHandle(held);
    ::CloseHandle(done);
}

TEST_F(UpdateDlgTest, FailuresAskRetryOrCancelWhenVisibleAndEndTheRunAtOnceWhenHidden)
{
    // The run alone, without a window: its view answers the prompts.
    RecordingView view;
    StandInRun run(Args(true, true), app.path());
    run.Start(view);
    // A keyed run's refusal, a staging folder that cannot be emptied and a
    // file in use each say what happened.
    const struct {
        UINT message;
        int code;
        const wchar_t* text;
        std::wstring asked;
    } failures[] = {
        {WM_VERSION_STATUS, -1, L"", L"下载版本信息失败，可能网络有问题！"},
        {WM_FILE_STATUS, -1, L"/a.dll", L"下载文件：'/a.dll' 失败\n"},
        {WM_VERSION_STATUS, kRefused, L"", kRefusedText},
        {WM_FILE_STATUS, kRefused, L"/a.dll", kRefusedText},
        {WM_VERSION_STATUS, kStagingBlocked, L"", kStagingBlockedText},
        {WM_FILE_STATUS, kInUse, L"C:\\app\\data.db", L"文件：'C:\\app\\data.db' 正在被其他程序使用，无法更新！"},
    };
    for (const auto& f : failures) {
        run.Receive(WorkerReport{f.message, f.code, 0, f.text});
        EXPECT_EQ(view.asked.back(), f.asked);
    }
    EXPECT_EQ(view.exitCode, -1);
    EXPECT_TRUE(caller.replies.empty());
    view.retry = false;
    run.Receive(WorkerReport{WM_CONNECT_STATUS, 7, 1, {}});
    EXPECT_EQ(view.asked.back(), L"连接服务器失败，可能网络有问题！");
    EXPECT_EQ(view.exitCode, 1);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    // Reports after the end are not for this run.
    const size_t asked = view.asked.size();
    run.Receive(WorkerReport{WM_VERSION_STATUS, -1, 0, {}});
    EXPECT_EQ(view.asked.size(), asked);

    caller.replies.clear();
    RecordingView hiddenView;
    StandInRun hidden(Args(false, true), app.path());
    hidden.Start(hiddenView);
    hidden.Receive(WorkerReport{WM_FILE_STATUS, -1, 0, L"/a.dll"});
    EXPECT_TRUE(hiddenView.asked.empty());
    EXPECT_EQ(hiddenView.exitCode, 1);
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
}

TEST_F(UpdateDlgTest, OkBeforeTheInstallationIsIgnoredAndWithAReplyTargetTheFinishReplies)
{
    Make(Args(true, true));
    Press(IDOK);
    EXPECT_FALSE(TakeQuit());
    EXPECT_TRUE(caller.replies.empty());
    EXPECT_FALSE(Enabled(IDOK));

    StandIn().finished = true;
    Press(IDOK);
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_TRUE(Enabled(IDCANCEL)); // only a run without reply target turns Cancel off
}

TEST_F(UpdateDlgTest, AFinishWithoutReplyTargetTurnsCancelOffWaitsForTheClientThenEnablesOk)
{
    HANDLE running = ::CreateMutexW(nullptr, FALSE, L"ZorvaneMutex"); // the hidden watch keeps still
    Make(Args(false, false, L"abc"));
    StandIn().finished = true;
    ClientStandIn client;
    client.dialog = dlg->m_hWnd;
    HANDLE thread = ::CreateThread(nullptr, 0, ClientStandIn::Run, &client, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(client.ready, 5000);

    Press(IDOK); // returns once the client's mutex is gone
    ::WaitForSingleObject(thread, 10000);
    ::CloseHandle(thread);
    ::CloseHandle(client.ready);
    EXPECT_TRUE(client.cancelOffWhileWaiting);
    EXPECT_TRUE(client.okOffWhileWaiting);
    EXPECT_TRUE(Enabled(IDOK));
    EXPECT_FALSE(Enabled(IDCANCEL));
    EXPECT_TRUE(TakeQuit());
    wchar_t value[16] = {};
    ::GetPrivateProfileStringW(L"UpdateSrv", L"BuilderID", L"", value, 16, (app / L"Update.ini").c_str());
    EXPECT_STREQ(value, L"abc");
    ::CloseHandle(running);
}

TEST_F(UpdateDlgTest, AReplyWindowThatIsGoneIsSkippedAndAHungOneCostsAtMostTenSeconds)
{
    Make(Args(true, true));
    caller.DestroyWindow();
    DWORD start = ::GetTickCount();
    Press(IDCANCEL);
    EXPECT_TRUE(TakeQuit());
    EXPECT_LT(::GetTickCount() - start, testsupport::Scaled(1500));

    dlg.reset();
    HungCaller hung;
    HANDLE thread = ::CreateThread(nullptr, 0, HungCaller::Run, &hung, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(hung.created, 5000);
    UpdateCommandLine args = Args(true, false);
    args.notifyWindow = hung.window;
    args.notifyMessage = kReply;
    Make(args);
    start = ::GetTickCount();
    Press(IDCANCEL);
    DWORD took = ::GetTickCount() - start;
    EXPECT_TRUE(TakeQuit());
    EXPECT_LT(took, 10000 + testsupport::Scaled(1500));
    ::SetEvent(hung.release);
    ::WaitForSingleObject(thread, 5000);
    ::CloseHandle(thread);
    ::CloseHandle(hung.created);
    ::CloseHandle(hung.release);
}

TEST_F(UpdateDlgTest, CancelAtAnyStepGetsTheReplyThatMatchesTheInstalledFiles)
{
    // Cancel once this many files are handled: before the install begins the
    // run ends with nothing installed; once it has begun, it finishes and the
    // run counts as completed. Which one happened, the reply must say.
    ResetServer();
    std::string root = "/dlg/cancel";
    std::vector<ReleaseFile> files = {{"/a.dat", "new a"}, {"/b.dat", "new b"}, {"/c.dat", "new c"}};
    ASSERT_TRUE(PublishRelease("/7.0.0.1/update.xml", 7 << 24 | 2, root, files));
    for (int at = 1; at <= 3; ++at) {
        SCOPED_TRACE(at);
        for (const ReleaseFile& f : files)
            ASSERT_TRUE(WriteBytes(app.path() + L"\\" + Utf8ToWide(f.name.substr(1)), "old"));
        caller.replies.clear();
        Make(Args(true, true), true);
        ASSERT_TRUE(PumpUntil([&] { return Pos(IDC_TOTAL_PROGRESS) >= at; }, 20000));
        Press(IDCANCEL);
        ASSERT_TRUE(PumpUntil([&] { return !caller.replies.empty(); }, 20000));
        const bool installed = ReadBytes(app / L"a.dat") == "new a";
        EXPECT_EQ(caller.replies, std::vector<LPARAM>{installed ? 1 : 0});
        EXPECT_EQ(ReadBytes(app / L"c.dat"), installed ? "new c" : "old");
        TakeQuit();
        dlg.reset();
    }
}

TEST_F(UpdateDlgTest, CancelWhileTheRealWorkerIsBlockedInATransferEndsAtOnce)
{
    ResetServer();
    std::string root = "/dlg/stalled";
    ASSERT_TRUE(PublishRelease("/7.0.0.1/update.xml", 7 << 24 | 2, root, {{"/stalled.bin", PatternBytes(300000, 9)}}));
    // The body stops after 200 KB, so that some progress is shown first.
    SetServerFault(root + "/stalled.bin", "stall", 200000, 30000, 1);
    ASSERT_TRUE(WriteBytes(app / L"stalled.bin", "old"));
    Make(Args(true, true), true);
    ASSERT_TRUE(PumpUntil([&] { return Pos(IDC_FILE_PROGRESS) > 0 && Status() == L"/stalled.bin"; }, 10000))
        << Status();
    PumpUntil([] { return false; }, 300);

    DWORD start = ::GetTickCount();
    Press(IDCANCEL);
    EXPECT_LT(::GetTickCount() - start, testsupport::Scaled(1500)); // the stall lasts 30 s
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(ReadBytes(app / L"stalled.bin"), "old");
    EXPECT_FALSE(Exists(app / L"$Temp$"));
}
