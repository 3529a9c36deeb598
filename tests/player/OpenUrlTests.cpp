// The open-URL dialog run modally, driven from a timer on its own thread the
// way a user would: read the history, type, browse, press OK or Cancel.
#include "LookSupport.h"
#include "OpenUrlDlg.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct DialogSearch {
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND wnd, LPARAM lp)
{
    auto* s = reinterpret_cast<DialogSearch*>(lp);
    wchar_t cls[32] = {};
    ::GetClassNameW(wnd, cls, 32);
    if (wnd != s->except && ::IsWindowVisible(wnd) && lstrcmpW(cls, L"#32770") == 0) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// The visible dialog window of this thread other than `except`.
HWND FindDialog(HWND except = nullptr)
{
    DialogSearch search{except, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Steps run one per timer tick while a modal loop runs; a step that returns
// false is tried again on the next tick (its window is not there yet).
class Driver {
public:
    explicit Driver(std::vector<std::function<bool()>> steps) : m_steps(std::move(steps))
    {
        s_current = this;
        m_timer = ::SetTimer(nullptr, 0, 50, &Driver::Tick);
    }
    ~Driver()
    {
        ::KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    bool finished() const { return m_next == m_steps.size(); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        Driver* d = s_current;
        if (!d || d->m_busy || d->finished())
            return;
        // A step may start a nested modal loop (Browse); ticks inside it must
        // not re-enter the step that is still running.
        d->m_busy = true;
        if (++d->m_tries > 200 || d->m_steps[d->m_next]()) {
            ++d->m_next;
            d->m_tries = 0;
        }
        d->m_busy = false;
    }

    std::vector<std::function<bool()>> m_steps;
    size_t m_next = 0;
    int m_tries = 0;
    bool m_busy = false;
    UINT_PTR m_timer = 0;
    static Driver* s_current;
};
Driver* Driver::s_current = nullptr;

std::vector<std::wstring> ComboItems(HWND dlg)
{
    std::vector<std::wstring> items;
    HWND combo = ::GetDlgItem(dlg, IDC_URL_COMBO);
    int n = static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        wchar_t text[1100] = {};
        ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

std::wstring WindowText(HWND wnd)
{
    wchar_t text[2048] = {};
    ::GetWindowTextW(wnd, text, 2048);
    return text;
}

void Click(HWND dlg, int id)
{
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, id)));
}

} // namespace

TEST(OpenUrl, ShowsTheHistoryNewestFirstAndReturnsTheChosenText)
{
    // Oldest first, as the frame keeps it; the combo sorts, the dialog must not.
    std::vector<std::wstring> history = {L"c:\\b-first.flv", L"", L"http://a.example/z-second.wmv",
                                         L"c:\\a-newest.rm"};
    std::vector<std::wstring> shown;
    std::wstring shownText;
    COpenUrlDlg dlg;
    dlg.m_pHistory = &history;
    Driver driver({[&] {
        HWND wnd = FindDialog();
        if (!wnd)
            return false;
        shown = ComboItems(wnd);
        shownText = WindowText(::GetDlgItem(wnd, IDC_URL_COMBO));
        Click(wnd, IDOK);
        return true;
    }});
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(driver.finished());
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"c:\\a-newest.rm", L"http://a.example/z-second.wmv",
                                                L"c:\\b-first.flv"}));
    EXPECT_EQ(shownText, L"c:\\a-newest.rm");
    EXPECT_EQ(dlg.m_strUrl, L"c:\\a-newest.rm");

    // Without history the field starts empty; Cancel leaves m_strUrl alone.
    COpenUrlDlg empty;
    Driver cancel({[&] {
        HWND wnd = FindDialog();
        if (!wnd)
            return false;
        shown = ComboItems(wnd);
        ::SetWindowTextW(::GetDlgItem(wnd, IDC_URL_COMBO), L"typed but cancelled");
        Click(wnd, IDCANCEL);
        return true;
    }});
    EXPECT_EQ(empty.DoModal(), IDCANCEL);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(empty.m_strUrl.empty());
}

TEST(OpenUrl, TypingStopsAt1024Characters)
{
    COpenUrlDlg dlg;
    size_t typedLength = 0;
    Driver driver({[&] {
        HWND wnd = FindDialog();
        if (!wnd)
            return false;
        HWND edit = ::FindWindowExW(::GetDlgItem(wnd, IDC_URL_COMBO), nullptr, L"Edit", nullptr);
        if (!edit)
            return false;
        for (int i = 0; i < 1100; ++i)
            ::SendMessageW(edit, WM_CHAR, L'a' + i % 26, 1);
        typedLength = WindowText(edit).size();
        Click(wnd, IDOK);
        return true;
    }});
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(typedLength, 1024u);
    EXPECT_EQ(dlg.m_strUrl.size(), 1024u);
}

TEST(OpenUrl, BrowsePutsTheChosenFileFirstAndSelectsIt)
{
    looktest::ProgramFiles files;
    files.WriteIni(L"browse-me.flv", L"not really a movie");
    const std::wstring path = files.Path(L"browse-me.flv");
    std::vector<std::wstring> history = {L"c:\\old.flv"};

    COpenUrlDlg dlg;
    dlg.m_pHistory = &history;
    HWND main = nullptr;
    std::vector<std::wstring> after;
    bool cancelledBrowseKeptItems = false;
    Driver driver({
        [&] { return (main = FindDialog()) != nullptr && (Click(main, IDC_BROWSE), true); },
        // The file dialog is a second "#32770" window; give it a full path.
        [&] {
            HWND open = FindDialog(main);
            if (!open)
                return false;
            HWND name = ::GetDlgItem(open, 0x47C); // cmb13, the file name combo
            if (!name)
                name = ::GetDlgItem(open, 0x480);  // edt1 in older layouts
            if (!name)
                return false;
            ::SetWindowTextW(name, path.c_str());
            ::PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
        },
        [&] {
            if (FindDialog(main))
                return false;
            after = ComboItems(main);
            if (after.empty())
                return false;
            Click(main, IDC_BROWSE);
            return true;
        },
        // Cancelling the file dialog changes nothing.
        [&] {
            HWND open = FindDialog(main);
            if (!open)
                return false;
            ::PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return true;
        },
        [&] {
            if (FindDialog(main))
                return false;
            cancelledBrowseKeptItems = ComboItems(main) == after;
            Click(main, IDOK);
            return true;
        },
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(driver.finished());
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(lstrcmpiW(after[0].c_str(), path.c_str()), 0) << after[0];
    EXPECT_EQ(after[1], L"c:\\old.flv");
    EXPECT_TRUE(cancelledBrowseKeptItems);
    EXPECT_EQ(lstrcmpiW(dlg.m_strUrl.c_str(), path.c_str()), 0) << dlg.m_strUrl;
}
