// Window objects: creation, the handle map, routing to the hooks, and release.
#include "framework.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class Recorder : public CWnd {
public:
    std::vector<UINT> messages;
    bool* destroyedFlag = nullptr;
    bool deleteOnNcDestroy = false;
    std::vector<std::pair<UINT, UINT>> commands;
    int childNotifications = 0;
    HBRUSH ctlColorBrush = nullptr;
    UINT lastCtlType = 0xFFFF;

    ~Recorder() override
    {
        if (destroyedFlag)
            *destroyedFlag = true;
    }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        messages.push_back(msg);
        return CWnd::WindowProc(msg, wp, lp);
    }
    BOOL OnCommand(WPARAM wp, LPARAM) override
    {
        commands.emplace_back(LOWORD(wp), HIWORD(wp));
        return TRUE;
    }
    BOOL OnChildNotify(UINT msg, WPARAM, LPARAM, LRESULT* result) override
    {
        if (msg != WM_DRAWITEM)
            return FALSE;
        ++childNotifications;
        *result = TRUE;
        return TRUE;
    }
    HBRUSH OnCtlColor(HDC, HWND, UINT type) override
    {
        lastCtlType = type;
        return ctlColorBrush;
    }
    void PostNcDestroy() override
    {
        if (deleteOnNcDestroy)
            delete this;
    }
};

bool Contains(const std::vector<UINT>& v, UINT m)
{
    return std::find(v.begin(), v.end(), m) != v.end();
}

} // namespace

TEST(Window, CreateExAttachesBeforeTheFirstMessage)
{
    Recorder w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, L"recorder", WS_OVERLAPPEDWINDOW, CRect(10, 10, 210, 110), nullptr, 0));
    EXPECT_EQ(CWnd::FromHandlePermanent(w.m_hWnd), &w);
    // The very first messages of a window reach the object.
    EXPECT_TRUE(Contains(w.messages, WM_NCCREATE));
    EXPECT_TRUE(Contains(w.messages, WM_CREATE));
    HWND hwnd = w.m_hWnd;
    EXPECT_TRUE(w.DestroyWindow());
    EXPECT_TRUE(Contains(w.messages, WM_DESTROY));
    EXPECT_EQ(w.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_EQ(w.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
}

TEST(Window, ObjectsAreReleasedWhenTheirWindowsGo)
{
    Recorder parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, L"parent", WS_OVERLAPPEDWINDOW, CRect(0, 0, 200, 100), nullptr, 0));

    // A heap child that deletes itself, and a member-style child that only detaches.
    bool heapChildGone = false;
    auto* heapChild = new Recorder;
    heapChild->destroyedFlag = &heapChildGone;
    heapChild->deleteOnNcDestroy = true;
    ASSERT_TRUE(heapChild->Create(nullptr, L"heap", WS_VISIBLE, CRect(0, 0, 50, 20), &parent, 11));
    HWND heapHwnd = heapChild->m_hWnd;

    Recorder memberChild;
    ASSERT_TRUE(memberChild.Create(nullptr, L"member", WS_VISIBLE, CRect(0, 30, 50, 50), &parent, 12));
    HWND memberHwnd = memberChild.m_hWnd;

    parent.DestroyWindow();
    EXPECT_TRUE(heapChildGone);
    EXPECT_EQ(CWnd::FromHandlePermanent(heapHwnd), nullptr);
    EXPECT_EQ(memberChild.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(memberHwnd), nullptr);
    EXPECT_FALSE(::IsWindow(memberHwnd));
}

TEST(Window, DestroyingTheObjectDestroysItsWindow)
{
    HWND hwnd = nullptr;
    {
        Recorder w;
        ASSERT_TRUE(w.CreateEx(0, nullptr, L"scoped", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
        hwnd = w.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
}

TEST(Window, SubclassAndUnsubclassRestoreTheOriginalProcedure)
{
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, L"parent", WS_POPUP, CRect(0, 0, 100, 100), nullptr, 0));
    HWND edit = ::CreateWindowExW(0, L"EDIT", L"x", WS_CHILD, 0, 0, 50, 20, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    LONG_PTR original = ::GetWindowLongPtrW(edit, GWLP_WNDPROC);

    Recorder r;
    ASSERT_TRUE(r.SubclassWindow(edit));
    EXPECT_FALSE(Recorder().SubclassWindow(edit)); // one object per window
    ::SetWindowTextW(edit, L"文本");
    EXPECT_TRUE(Contains(r.messages, WM_SETTEXT));
    EXPECT_EQ(GetWindowTextString(edit), L"文本"); // the control still works

    EXPECT_EQ(r.UnsubclassWindow(), edit);
    EXPECT_EQ(::GetWindowLongPtrW(edit, GWLP_WNDPROC), original);
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    EXPECT_TRUE(::IsWindow(edit));
}

TEST(Window, CommandsNotificationsAndControlColoursReachTheirHooks)
{
    Recorder parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, L"parent", WS_POPUP, CRect(0, 0, 200, 100), nullptr, 0));
    Recorder child;
    ASSERT_TRUE(child.Create(nullptr, L"child", WS_VISIBLE, CRect(0, 0, 50, 20), &parent, 21));

    parent.SendMessage(WM_COMMAND, MAKEWPARAM(21, BN_CLICKED), reinterpret_cast<LPARAM>(child.m_hWnd));
    ASSERT_EQ(parent.commands.size(), 1u);
    EXPECT_EQ(parent.commands[0], std::make_pair(21u, static_cast<UINT>(BN_CLICKED)));

    // Owner-draw requests are offered to the child's object.
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = 21;
    dis.hwndItem = child.m_hWnd;
    EXPECT_EQ(parent.SendMessage(WM_DRAWITEM, 21, reinterpret_cast<LPARAM>(&dis)), TRUE);
    EXPECT_EQ(child.childNotifications, 1);
    EXPECT_EQ(parent.childNotifications, 0);

    // Every control-colour message comes to one handler with its type.
    CBrush brush(RGB(1, 2, 3));
    parent.ctlColorBrush = brush;
    HDC dc = ::GetDC(parent);
    EXPECT_EQ(parent.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child.m_hWnd)),
              reinterpret_cast<LRESULT>(static_cast<HBRUSH>(brush)));
    EXPECT_EQ(parent.lastCtlType, static_cast<UINT>(CTLCOLOR_STATIC));
    parent.SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child.m_hWnd));
    EXPECT_EQ(parent.lastCtlType, static_cast<UINT>(CTLCOLOR_BTN));
    ::ReleaseDC(parent, dc);
    parent.DestroyWindow();
}

namespace {

int g_failuresReported = 0;

struct Failure : CException {
    std::wstring GetErrorMessage() const override { return L"failure"; }
    int ReportError(UINT) const override
    {
        ++g_failuresReported;
        return IDOK;
    }
};

struct Thrower : CWnd {
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_APP)
            throw static_cast<CException*>(new Failure);
        return CWnd::WindowProc(msg, wp, lp);
    }
};

} // namespace

TEST(Window, ThrownFrameworkErrorsAreReportedNotUnwoundThroughTheSystem)
{
    Thrower w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, L"thrower", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    g_failuresReported = 0;
    EXPECT_EQ(w.SendMessage(WM_APP), 0);
    EXPECT_EQ(g_failuresReported, 1);
    EXPECT_TRUE(w.IsWindow());
    w.DestroyWindow();
}
