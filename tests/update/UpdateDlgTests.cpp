// The progress dialog in this process. The test stands in for the worker,
// posting the messages the worker posts, except where the real worker runs.
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


// The dialog with no worker thread; the test decides when the installation is over.
class StandInDlg : public CUpdateDlg {
public:
    using CUpdateDlg::CUpdateDlg;
    BOOL StartThread() override { return FALSE; }
    bool finished = false;

protected:
    bool InstallationFinished() const override { return finished; }
};

// Answers the next message box of this thread from inside its modal loop.
struct BoxAnswer {
    int button = 0;
    std::wstring text;
    bool answered = false;
};
BoxAnswer* g_answer = nullptr;

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lp)
{
    wchar_t cls[16] = {};
    ::GetClassNameW(hwnd, cls, 16);
    if (wcscmp(cls, L"#32770") == 0 && ::GetDlgItem(hwnd, 0xFFFF) && ::IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box || !g_answer)
        return;
    ::KillTimer(nullptr, id);
    g_answer->text = GetWindowTextString(::GetDlgItem(box, 0xFFFF));
    g_answer->answered = true;
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(g_answer->button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, g_answer->button)));
}

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
        g_answer = nullptr;
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
    void Make(const UpdateCommandLine& args)
    {
        dlg = std::make_unique<StandInDlg>(args, app.path());
        ASSERT_TRUE(dlg->Create(IDD_UPDATE_DIALOG));
    }
    // As the worker does: posted, then handled by this thread's loop.
    void Post(UINT msg, WPARAM wp, LPARAM lp)
    {
        ::PostMessageW(dlg->m_hWnd, msg, wp, lp);
        PumpPending();
    }
    // Posts a failure and answers the prompt it raises with button.
    std::wstring PostAndAnswer(UINT msg, WPARAM wp, LPARAM lp, int button)
    {
        BoxAnswer answer;
        answer.button = button;
        g_answer = &answer;
        UINT_PTR timer = ::SetTimer(nullptr, 0, 50, AnswerBox);
        Post(msg, wp, lp);
        ::KillTimer(nullptr, timer);
        g_answer = nullptr;
        return answer.answered ? answer.text : L"(no prompt)";
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

    Post(WM_VERSION_STATUS, 1, 0);
    EXPECT_EQ(Status(), L"正在下载版本信息...");
    // The manifest against its nominal 4096 bytes: full at 4096 and beyond.
    Post(WM_DOWNLOAD_PROGRESS, 4096, 2048);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Post(WM_DOWNLOAD_PROGRESS, 4096, 4096);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    Post(WM_DOWNLOAD_PROGRESS, 4096, 9000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    // The file count's low 16 bits: a count above 65535 wraps.
    Post(WM_VERSION_STATUS, 0, 70000);
    EXPECT_EQ(High(IDC_TOTAL_PROGRESS), 4464);
    EXPECT_EQ(Pos(IDC_TOTAL_PROGRESS), 0);
    EXPECT_EQ(Status(), L"下载版本信息成功");
    Post(WM_VERSION_STATUS, 0, 65535);
    EXPECT_EQ(High(IDC_TOTAL_PROGRESS), 65535);

    const wchar_t* name = L"/播放器/big.dll";
    Post(WM_FILE_STATUS, 1, reinterpret_cast<LPARAM>(name));
    EXPECT_EQ(Status(), name);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 0);
    // 30,000,000 bytes: halfway is 50 (no overflow); an expected size of 0 changes nothing.
    Post(WM_DOWNLOAD_PROGRESS, 30000000, 15000000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Post(WM_DOWNLOAD_PROGRESS, 0, 29000000);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 50);
    Post(WM_FILE_STATUS, 0, 3);
    EXPECT_EQ(Pos(IDC_FILE_PROGRESS), 100);
    EXPECT_EQ(Pos(IDC_TOTAL_PROGRESS), 3);

    Post(WM_CONNECT_STATUS, 1, 1);
    EXPECT_EQ(Status(), L"正在连接HTTP服务器 ...");
    Post(WM_CONNECT_STATUS, 0, 2);
    EXPECT_EQ(Status(), L"连接FTP服务器成功");
    EXPECT_FALSE(TakeQuit());
    EXPECT_TRUE(caller.replies.empty());
}

TEST_F(UpdateDlgTest, ARunThatWaitsForAnotherOnTheSameInstallationSaysSo)
{
    // Another run holds the installation's lock (on a thread of its own: a
    // mutex is its owner's again and again). The lock is one for every
    // session on the machine: a run from another session is held too.
    EXPECT_EQ(CUpdateDlg::StagingLockName(app.path()).compare(0, 23, L"Global\\QZUpdateStaging."), 0);
    HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr), done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        HANDLE lock = ::CreateMutexW(nullptr, TRUE, CUpdateDlg::StagingLockName(app.path()).c_str());
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
    Make(Args(true, true));
    EXPECT_EQ(PostAndAnswer(WM_VERSION_STATUS, static_cast<WPARAM>(-1), 0, IDRETRY), L"下载版本信息失败，可能网络有问题！");
    EXPECT_FALSE(TakeQuit());
    const wchar_t* name = L"/a.dll";
    EXPECT_EQ(PostAndAnswer(WM_FILE_STATUS, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name), IDRETRY),
              L"下载文件：'/a.dll' 失败\n");
    // A keyed run's refusal, a staging folder that cannot be emptied and a
    // file in use each say what happened.
    EXPECT_EQ(PostAndAnswer(WM_VERSION_STATUS, static_cast<WPARAM>(kRefused), 0, IDRETRY), kRefusedText);
    EXPECT_EQ(PostAndAnswer(WM_FILE_STATUS, static_cast<WPARAM>(kRefused), reinterpret_cast<LPARAM>(name), IDRETRY),
              kRefusedText);
    EXPECT_EQ(PostAndAnswer(WM_VERSION_STATUS, static_cast<WPARAM>(kStagingBlocked), 0, IDRETRY), kStagingBlockedText);
    const wchar_t* held = L"C:\\app\\data.db";
    EXPECT_EQ(PostAndAnswer(WM_FILE_STATUS, static_cast<WPARAM>(kInUse), reinterpret_cast<LPARAM>(held), IDRETRY),
              L"文件：'C:\\app\\data.db' 正在被其他程序使用，无法更新！");
    EXPECT_FALSE(TakeQuit());
    EXPECT_TRUE(caller.replies.empty());
    EXPECT_EQ(PostAndAnswer(WM_CONNECT_STATUS, 7, 1, IDCANCEL), L"连接服务器失败，可能网络有问题！");
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    // Messages after the end are not for this run.
    EXPECT_EQ(PostAndAnswer(WM_VERSION_STATUS, static_cast<WPARAM>(-1), 0, IDRETRY), L"(no prompt)");

    dlg.reset();
    caller.replies.clear();
    Make(Args(false, true));
    EXPECT_EQ(PostAndAnswer(WM_FILE_STATUS, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name), IDRETRY),
              L"(no prompt)");
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
}

TEST_F(UpdateDlgTest, OkBeforeTheInstallationIsIgnoredAndWithAReplyTargetTheFinishReplies)
{
    Make(Args(true, true));
    Post(WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(TakeQuit());
    EXPECT_TRUE(caller.replies.empty());
    EXPECT_FALSE(Enabled(IDOK));

    static_cast<StandInDlg*>(dlg.get())->finished = true;
    Post(WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{1});
    EXPECT_TRUE(Enabled(IDCANCEL)); // only a run without reply target turns Cancel off
}

TEST_F(UpdateDlgTest, AFinishWithoutReplyTargetTurnsCancelOffWaitsForTheClientThenEnablesOk)
{
    HANDLE running = ::CreateMutexW(nullptr, FALSE, L"ZorvaneMutex"); // the hidden watch keeps still
    Make(Args(false, false, L"abc"));
    static_cast<StandInDlg*>(dlg.get())->finished = true;
    ClientStandIn client;
    client.dialog = dlg->m_hWnd;
    HANDLE thread = ::CreateThread(nullptr, 0, ClientStandIn::Run, &client, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(client.ready, 5000);

    Post(WM_COMMAND, IDOK, 0); // returns once the client's mutex is gone
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
    Post(WM_COMMAND, IDCANCEL, 0);
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
    Post(WM_COMMAND, IDCANCEL, 0);
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
        dlg = std::make_unique<CUpdateDlg>(Args(true, true), app.path());
        ASSERT_TRUE(dlg->Create(IDD_UPDATE_DIALOG));
        ASSERT_TRUE(PumpUntil([&] { return Pos(IDC_TOTAL_PROGRESS) >= at; }, 20000));
        Post(WM_COMMAND, IDCANCEL, 0);
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
    dlg = std::make_unique<CUpdateDlg>(Args(true, true), app.path());
    ASSERT_TRUE(dlg->Create(IDD_UPDATE_DIALOG));
    ASSERT_TRUE(PumpUntil([&] { return Pos(IDC_FILE_PROGRESS) > 0 && Status() == L"/stalled.bin"; }, 10000))
        << Status();
    PumpUntil([] { return false; }, 300);

    DWORD start = ::GetTickCount();
    Post(WM_COMMAND, IDCANCEL, 0);
    EXPECT_LT(::GetTickCount() - start, testsupport::Scaled(1500)); // the stall lasts 30 s
    EXPECT_TRUE(TakeQuit());
    EXPECT_EQ(caller.replies, std::vector<LPARAM>{0});
    EXPECT_EQ(ReadBytes(app / L"stalled.bin"), "old");
    EXPECT_FALSE(Exists(app / L"$Temp$"));
}
