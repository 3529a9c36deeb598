// Dialogs from templates: binding, data exchange, keyboard routing, modal runs.
#include "framework.h"
#include "res/resource.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using testsupport::PumpUntil;

namespace {

class CountingButton : public CButton {
public:
    int preSubclassCalls = 0;
    int clicksSeen = 0;
    int mouseUpsSeen = 0;

protected:
    void PreSubclassWindow() override { ++preSubclassCalls; }
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == BM_CLICK)
            ++clicksSeen;
        if (msg == WM_LBUTTONUP)
            ++mouseUpsSeen;
        return CButton::WindowProc(msg, wp, lp);
    }
};

class NameDialog : public CDialog {
public:
    NameDialog() : CDialog(IDD_TEST_DIALOG) {}

    CWnd m_edit;
    CStatic m_status;
    CountingButton m_action;
    std::wstring m_name = L"初始名字";
    std::wstring m_statusText = L"就绪";

    bool swallowKeys = false;
    std::vector<WPARAM> keysSeen;
    int okCount = 0;
    int cancelCount = 0;
    std::vector<std::pair<UINT, UINT>> commands; // (id, notification code)
    std::function<void(NameDialog&)> onInit;

protected:
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Control(dx, IDC_NAME_EDIT, m_edit);
        DDX_Control(dx, IDC_STATUS_TEXT, m_status);
        DDX_Control(dx, IDC_ACTION_BUTTON, m_action);
        DDX_Text(dx, IDC_NAME_EDIT, m_name);
        DDX_Text(dx, IDC_STATUS_TEXT, m_statusText);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    BOOL PreTranslateMessage(MSG* msg) override
    {
        if (msg->message == WM_KEYDOWN) {
            keysSeen.push_back(msg->wParam);
            if (swallowKeys && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
                return TRUE;
        }
        return CDialog::PreTranslateMessage(msg);
    }
    BOOL OnCommand(WPARAM wp, LPARAM lp) override
    {
        commands.emplace_back(LOWORD(wp), HIWORD(wp));
        return CDialog::OnCommand(wp, lp);
    }
    void OnOK() override
    {
        ++okCount;
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCount;
        CDialog::OnCancel();
    }
};

std::wstring ItemText(HWND dlg, int id)
{
    return GetWindowTextString(::GetDlgItem(dlg, id));
}

} // namespace

TEST(Dialog, BindsControlsAndExchangesTextBothWays)
{
    NameDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST_DIALOG));
    EXPECT_EQ(dlg.GetWindowText(), L"测试对话框");

    // Binding: the members now own the dialog's controls.
    EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(IDC_NAME_EDIT)), &dlg.m_edit);
    EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(IDC_STATUS_TEXT)), &dlg.m_status);
    EXPECT_EQ(dlg.m_action.m_hWnd, dlg.GetDlgItem(IDC_ACTION_BUTTON));

    // Initialisation showed the fields in the controls.
    EXPECT_EQ(ItemText(dlg, IDC_NAME_EDIT), L"初始名字");
    EXPECT_EQ(ItemText(dlg, IDC_STATUS_TEXT), L"就绪");

    // Controls -> fields.
    ::SetDlgItemTextW(dlg, IDC_NAME_EDIT, L"新的名字 abc");
    ASSERT_TRUE(dlg.UpdateData(TRUE));
    EXPECT_EQ(dlg.m_name, L"新的名字 abc");

    // Fields -> controls, repeatedly, without binding twice.
    dlg.m_statusText = L"正在下载版本信息...";
    dlg.UpdateData(FALSE);
    dlg.UpdateData(FALSE);
    EXPECT_EQ(ItemText(dlg, IDC_STATUS_TEXT), L"正在下载版本信息...");
    EXPECT_EQ(dlg.m_action.preSubclassCalls, 1);

    dlg.ShowWindow(SW_SHOW);
    dlg.UpdateWindow();
    testsupport::PumpPending();
    testsupport::SaveScreenshot(L"framework_dialog");
    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_edit.m_hWnd, nullptr);
}

TEST(Dialog, PreTranslateMessageSeesKeysBeforeDialogProcessing)
{
    NameDialog dlg;
    dlg.swallowKeys = true;
    ASSERT_TRUE(dlg.Create(IDD_TEST_DIALOG));
    dlg.ShowWindow(SW_SHOW);
    ::SetFocus(dlg.m_edit);

    // Keys go to the focused edit control; its parent dialog sees them first.
    ::PostMessageW(dlg.m_edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(dlg.m_edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(PumpUntil([&] { return dlg.keysSeen.size() == 2; }));
    testsupport::PumpPending();
    EXPECT_EQ(dlg.keysSeen[0], static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_EQ(dlg.keysSeen[1], static_cast<WPARAM>(VK_RETURN));
    EXPECT_EQ(dlg.cancelCount, 0);
    EXPECT_EQ(dlg.okCount, 0);
    EXPECT_TRUE(dlg.IsWindowVisible());

    // Not swallowed, Escape reaches the dialog manager and cancels (a modeless
    // dialog is then hidden).
    dlg.swallowKeys = false;
    ::PostMessageW(dlg.m_edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(PumpUntil([&] { return dlg.cancelCount == 1; }));
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(dlg.IsWindow());
    dlg.DestroyWindow();
}

TEST(Dialog, SubclassedControlGetsItsMessagesWhileParentGetsNotifications)
{
    NameDialog dlg;
    ASSERT_TRUE(dlg.Create(IDD_TEST_DIALOG));
    dlg.ShowWindow(SW_SHOW);

    ::SendMessageW(dlg.m_action, BM_CLICK, 0, 0);
    testsupport::PumpPending();

    EXPECT_EQ(dlg.m_action.clicksSeen, 1);
    EXPECT_GE(dlg.m_action.mouseUpsSeen, 1);
    ASSERT_FALSE(dlg.commands.empty());
    EXPECT_EQ(dlg.commands.back(), std::make_pair(static_cast<UINT>(IDC_ACTION_BUTTON), static_cast<UINT>(BN_CLICKED)));
    dlg.DestroyWindow();
}

TEST(Dialog, ModalRunReturnsOkWithDataAndDisablesOwnerMeanwhile)
{
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               CRect(0, 0, 300, 200), nullptr, 0));

    // Looks at the owner from inside the modal loop, when the OK arrives.
    struct OkDialog : NameDialog {
        CWnd* ownerWnd = nullptr;
        bool ownerEnabledAtOk = true;
        void OnOK() override
        {
            ownerEnabledAtOk = ownerWnd->IsWindowEnabled() != FALSE;
            NameDialog::OnOK();
        }
    } dlg;
    dlg.m_pParentWnd = &owner;
    dlg.ownerWnd = &owner;
    dlg.swallowKeys = true;
    dlg.onInit = [](NameDialog& d) {
        ::SetDlgItemTextW(d, IDC_NAME_EDIT, L"模态");
        // A swallowed Escape must not end the modal run; OK then does.
        ::PostMessageW(d.m_edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        ::PostMessageW(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(d.GetDlgItem(IDOK)));
    };

    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_name, L"模态");
    EXPECT_EQ(dlg.cancelCount, 0);
    EXPECT_EQ(dlg.keysSeen, std::vector<WPARAM>{VK_ESCAPE});
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_FALSE(dlg.ownerEnabledAtOk);
    EXPECT_TRUE(owner.IsWindowEnabled());
    owner.DestroyWindow();
}

TEST(Dialog, ModalRunClosedByCaptionReturnsCancel)
{
    NameDialog dlg;
    dlg.onInit = [](NameDialog& d) {
        ::SetDlgItemTextW(d, IDC_NAME_EDIT, L"不保存");
        ::PostMessageW(d, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancelCount, 1);
    EXPECT_EQ(dlg.m_name, L"初始名字"); // Cancel does not save
}

TEST(Dialog, MissingTemplateFailsCleanly)
{
    CDialog dlg(4242);
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_FALSE(dlg.Create(4242));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}
