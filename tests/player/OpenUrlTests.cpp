// The open-URL dialog run modally, driven from a timer on its own thread the
// way a user would: read the history, type, browse, press OK or Cancel.
#include "LookSupport.h"
#include "OpenUrlDlg.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

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
    testsupport::ModalDriver driver({[&] {
        HWND wnd = testsupport::FindDialog();
        if (!wnd)
            return false;
        shown = ComboItems(wnd);
        shownText = WindowText(::GetDlgItem(wnd, IDC_URL_COMBO));
        testsupport::ClickLater(wnd, IDOK);
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
    testsupport::ModalDriver cancel({[&] {
        HWND wnd = testsupport::FindDialog();
        if (!wnd)
            return false;
        shown = ComboItems(wnd);
        ::SetWindowTextW(::GetDlgItem(wnd, IDC_URL_COMBO), L"typed but cancelled");
        testsupport::ClickLater(wnd, IDCANCEL);
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
    testsupport::ModalDriver driver({[&] {
        HWND wnd = testsupport::FindDialog();
        if (!wnd)
            return false;
        HWND edit = ::FindWindowExW(::GetDlgItem(wnd, IDC_URL_COMBO), nullptr, L"Edit", nullptr);
        if (!edit)
            return false;
        for (int i = 0; i < 1100; ++i)
            ::SendMessageW(edit, WM_CHAR, L'a' + i % 26, 1);
        typedLength = WindowText(edit).size();
        testsupport::ClickLater(wnd, IDOK);
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
    testsupport::ModalDriver driver({
        [&] { return (main = testsupport::FindDialog()) != nullptr && (testsupport::ClickLater(main, IDC_BROWSE), true); },
        // The file dialog is a second "#32770" window; give it a full path.
        [&] {
            HWND open = testsupport::FindDialog(main);
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
            if (testsupport::FindDialog(main))
                return false;
            after = ComboItems(main);
            if (after.empty())
                return false;
            testsupport::ClickLater(main, IDC_BROWSE);
            return true;
        },
        // Cancelling the file dialog changes nothing.
        [&] {
            HWND open = testsupport::FindDialog(main);
            if (!open)
                return false;
            ::PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return true;
        },
        [&] {
            if (testsupport::FindDialog(main))
                return false;
            cancelledBrowseKeptItems = ComboItems(main) == after;
            testsupport::ClickLater(main, IDOK);
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
