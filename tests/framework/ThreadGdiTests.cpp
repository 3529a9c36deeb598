// Worker threads with message loops; owners of GDI objects, handles and COM
// references; the off-screen buffer.
#include "framework.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using testsupport::PumpUntil;

namespace {

const UINT kRequest = WM_APP + 1;
const UINT kReply = WM_APP + 2;

// Doubles each request and posts the answer, with its own thread id, back.
class EchoThread : public CWinThread {
public:
    HWND replyTo = nullptr;

protected:
    BOOL OnThreadMessage(UINT msg, WPARAM wp, LPARAM) override
    {
        if (msg != kRequest)
            return FALSE;
        ::PostMessageW(replyTo, kReply, wp * 2, static_cast<LPARAM>(::GetCurrentThreadId()));
        return TRUE;
    }
};

class ReplyWindow : public CWnd {
public:
    std::vector<std::pair<WPARAM, DWORD>> replies;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == kReply) {
            replies.emplace_back(wp, static_cast<DWORD>(lp));
            return 0;
        }
        return CWnd::WindowProc(msg, wp, lp);
    }
};

} // namespace

TEST(Thread, WorkerHandlesPostedThreadMessagesAndPostsRepliesBack)
{
    ReplyWindow receiver;
    ASSERT_TRUE(receiver.CreateEx(0, nullptr, L"receiver", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));

    EchoThread worker;
    worker.replyTo = receiver;
    ASSERT_TRUE(worker.CreateThread());
    ASSERT_TRUE(worker.m_hThread);
    // Posted at once, without waiting: the queue exists when CreateThread returns.
    for (WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(worker.PostThreadMessage(kRequest, i, 0));
    ASSERT_TRUE(PumpUntil([&] { return receiver.replies.size() == 3; }));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(receiver.replies[i].first, (i + 1) * 2);
        EXPECT_EQ(receiver.replies[i].second, worker.m_nThreadID);
    }
    EXPECT_NE(worker.m_nThreadID, ::GetCurrentThreadId());

    EXPECT_TRUE(worker.SetThreadPriority(THREAD_PRIORITY_ABOVE_NORMAL));
    EXPECT_EQ(worker.GetThreadPriority(), THREAD_PRIORITY_ABOVE_NORMAL);

    // WM_QUIT ends the loop; its wParam becomes the exit code.
    ASSERT_TRUE(worker.PostThreadMessage(WM_QUIT, 7, 0));
    ASSERT_EQ(::WaitForSingleObject(worker.m_hThread.Get(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeThread(worker.m_hThread.Get(), &code));
    EXPECT_EQ(code, 7u);
    receiver.DestroyWindow();
}

TEST(Thread, FailedInitInstanceEndsTheThreadWithExitInstanceCode)
{
    struct NoStart : CWinThread {
        BOOL InitInstance() override { return FALSE; }
        int ExitInstance() override { return 3; }
    } worker;
    ASSERT_TRUE(worker.CreateThread());
    ASSERT_EQ(::WaitForSingleObject(worker.m_hThread.Get(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeThread(worker.m_hThread.Get(), &code);
    EXPECT_EQ(code, 3u);
}

TEST(Thread, DestroyingTheMainWindowEndsTheThreadsLoop)
{
    struct WindowThread : CWinThread {
        CWnd window;
        HWND created = nullptr;
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ~WindowThread() override { ::CloseHandle(ready); }
        BOOL InitInstance() override
        {
            BOOL ok = window.CreateEx(0, nullptr, L"main", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
            if (ok) {
                m_pMainWnd = &window;
                created = window.m_hWnd;
            }
            ::SetEvent(ready);
            return ok;
        }
    } worker;
    ASSERT_TRUE(worker.CreateThread());
    ASSERT_EQ(::WaitForSingleObject(worker.ready, 5000), WAIT_OBJECT_0);
    ASSERT_NE(worker.created, nullptr);
    ::PostMessageW(worker.created, WM_CLOSE, 0, 0); // default handling destroys the window
    ASSERT_EQ(::WaitForSingleObject(worker.m_hThread.Get(), 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeThread(worker.m_hThread.Get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(worker.m_pMainWnd, nullptr);
}

TEST(Gdi, OffScreenBufferPaintsTheExpectedPixelsOnlyWhenFlushed)
{
    HDC screen = ::GetDC(nullptr);
    HDC target = ::CreateCompatibleDC(screen);
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(screen, 40, 30));
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(target, bitmap);
    CDC(target).FillSolidRect(CRect(0, 0, 40, 30), RGB(255, 255, 255));

    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), white = RGB(255, 255, 255);
    {
        // The buffer covers (10,5)-(30,25) and is drawn in the target's coordinates.
        CMemDC mem(target, CRect(10, 5, 30, 25));
        mem.FillSolidRect(CRect(10, 5, 30, 25), red);
        mem.FillSolidRect(CRect(12, 7, 14, 9), blue);
        EXPECT_EQ(::GetPixel(target, 15, 10), white); // nothing shows before the copy
    }
    EXPECT_EQ(::GetPixel(target, 15, 10), red);
    EXPECT_EQ(::GetPixel(target, 12, 7), blue);
    EXPECT_EQ(::GetPixel(target, 13, 8), blue);
    EXPECT_EQ(::GetPixel(target, 14, 9), red);
    EXPECT_EQ(::GetPixel(target, 29, 24), red);
    EXPECT_EQ(::GetPixel(target, 30, 25), white);
    EXPECT_EQ(::GetPixel(target, 9, 5), white);

    ::SelectObject(target, old);
    ::DeleteDC(target);
}

TEST(Gdi, PaintThroughTheBufferShowsInTheWindow)
{
    struct Painted : CWnd {
        int paints = 0;
        LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
        {
            if (msg == WM_ERASEBKGND)
                return TRUE; // the buffer covers everything
            if (msg == WM_PAINT) {
                CPaintDC dc(m_hWnd);
                CRect client = GetClientRect();
                CMemDC mem(dc, client);
                mem.FillSolidRect(client, RGB(0, 128, 0));
                CRect box(20, 20, 60, 40);
                mem.FillSolidRect(box, RGB(255, 255, 0));
                ++paints;
                return 0;
            }
            return CWnd::WindowProc(msg, wp, lp);
        }
    } w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, L"缓冲绘制", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CRect(100, 300, 300, 420), nullptr, 0));
    w.UpdateWindow();
    ASSERT_TRUE(PumpUntil([&] { return w.paints > 0; }));
    CClientDC dc(w);
    EXPECT_EQ(dc.GetPixel(5, 5), RGB(0, 128, 0));
    EXPECT_EQ(dc.GetPixel(30, 30), RGB(255, 255, 0));
    testsupport::SaveScreenshot(L"framework_buffered_paint");
    w.DestroyWindow();
}

TEST(Gdi, OwnersReleaseTheirObjectsAndContextsPutSelectionsBack)
{
    HGDIOBJ brushHandle = nullptr;
    {
        CBrush brush(RGB(10, 20, 30));
        brushHandle = brush.m_hObject;
        EXPECT_EQ(::GetObjectType(brushHandle), static_cast<DWORD>(OBJ_BRUSH));
    }
    EXPECT_EQ(::GetObjectType(brushHandle), 0u);

    HDC mem = ::CreateCompatibleDC(nullptr);
    HGDIOBJ originalBrush = ::GetCurrentObject(mem, OBJ_BRUSH);
    CBrush brush(RGB(1, 1, 1));
    {
        CDC dc(mem);
        dc.SelectObject(brush);
        dc.SelectObject(::GetStockObject(BLACK_BRUSH));
        EXPECT_NE(::GetCurrentObject(mem, OBJ_BRUSH), originalBrush);
    }
    // The first replaced object is back, so the owned brush can be deleted.
    EXPECT_EQ(::GetCurrentObject(mem, OBJ_BRUSH), originalBrush);
    EXPECT_TRUE(brush.DeleteObject());
    ::DeleteDC(mem);

    // Many buffers leave no GDI objects behind.
    HDC screen = ::GetDC(nullptr);
    DWORD before = testsupport::GdiObjectCount();
    for (int i = 0; i < 200; ++i) {
        CMemDC buffer(screen, CRect(0, 0, 16, 16));
        CBrush b(RGB(i, 0, 0));
        buffer.SelectObject(b);
        buffer.FillSolidRect(CRect(0, 0, 4, 4), RGB(0, i, 0));
        buffer.RestoreObjects();
    }
    DWORD after = testsupport::GdiObjectCount();
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(before, after);
}

namespace {

// A handle moved from owner to owner stays open until the last one lets go;
// an emptied owner closes nothing, at Reset or at its end.
template <typename Owner>
void ExpectOneOwnerCloses(HANDLE h, const std::function<bool(HANDLE)>& isOpen)
{
    ASSERT_TRUE(isOpen(h));
    Owner first(h);
    {
        Owner second(std::move(first));
        EXPECT_FALSE(first);
        first.Reset();
        EXPECT_TRUE(isOpen(h));
        first = std::move(second);
    }
    EXPECT_TRUE(isOpen(h));
    EXPECT_TRUE(first.Close());
    EXPECT_FALSE(first);
    EXPECT_FALSE(isOpen(h));
    EXPECT_TRUE(first.Close()); // nothing held: nothing to fail
}

} // namespace

TEST(Handles, EachKindIsClosedOnceByItsLastOwner)
{
    auto kernelOpen = [](HANDLE h) {
        DWORD flags = 0;
        return ::GetHandleInformation(h, &flags) != FALSE;
    };
    ExpectOneOwnerCloses<CHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr), kernelOpen);
    wchar_t temp[MAX_PATH], file[MAX_PATH];
    ASSERT_TRUE(::GetTempPathW(MAX_PATH, temp) && ::GetTempFileNameW(temp, L"own", 0, file));
    ExpectOneOwnerCloses<CFileHandle>(::CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr),
                                      kernelOpen);
    EXPECT_EQ(::GetFileAttributesW(file), INVALID_FILE_ATTRIBUTES);
    WIN32_FIND_DATAW found;
    ExpectOneOwnerCloses<CFindHandle>(::FindFirstFileW((std::wstring(temp) + L"*").c_str(), &found), [&](HANDLE h) {
        return ::FindNextFileW(h, &found) || ::GetLastError() != ERROR_INVALID_HANDLE;
    });

    // A COM reference: released once, by its last owner or when a call's out
    // parameter replaces it; a detached one is the caller's.
    struct Counted {
        ULONG refs = 1;
        ULONG Release() { return --refs; }
    } one, two;
    {
        CComPtr<Counted> first;
        first.Attach(&one);
        CComPtr<Counted> second(std::move(first));
        first.Reset();
        EXPECT_EQ(one.refs, 1u);
        *reinterpret_cast<Counted**>(second.Receive()) = &two;
        EXPECT_EQ(one.refs, 0u);
        first = std::move(second);
        EXPECT_EQ(first.Detach(), &two);
    }
    EXPECT_EQ(two.refs, 1u);
}
