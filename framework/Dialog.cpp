#include "Dialog.h"

#include "App.h"

namespace {

// The dialog manager calls this for messages the object passed on; the object
// has seen every message before, so there is nothing left to do here.
INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

} // namespace

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    if (!control.m_hWnd)
        control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd);
}

void DDX_Text(CDataExchange* dx, int id, std::wstring& value)
{
    HWND item = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (!item)
        return;
    if (dx->m_bSaveAndValidate)
        value = GetWindowTextString(item);
    else
        ::SetWindowTextW(item, value.c_str());
}

BOOL CDialog::CreateFromTemplate(UINT templateId, HWND parent)
{
    if (m_hWnd)
        return FALSE;
    m_nIDTemplate = templateId;
    AfxHookWindowCreate(this);
    HWND hwnd = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(templateId), parent,
                                     AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    if (!hwnd) {
        DetachFromMap();
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    if (parent)
        m_pParentWnd = parent;
    return CreateFromTemplate(templateId, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr);
}

INT_PTR CDialog::DoModal()
{
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        CWnd* main = AfxGetMainWnd();
        if (main && main->IsWindow())
            owner = main->m_hWnd;
    }
    if (owner)
        owner = ::GetAncestor(owner, GA_ROOT);
    m_bModal = true;
    m_bEndModal = false;
    m_nModalResult = -1;
    if (!CreateFromTemplate(m_nIDTemplate, owner)) {
        m_bModal = false;
        return -1;
    }
    bool reenable = owner && ::IsWindowEnabled(owner);
    if (reenable)
        ::EnableWindow(owner, FALSE);
    if (!m_bEndModal && m_hWnd) {
        if (!::IsWindowVisible(m_hWnd))
            ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        MSG msg;
        while (!m_bEndModal && m_hWnd) {
            BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
            if (r == 0 || r == -1) {
                // The quit belongs to the outer loop.
                ::PostQuitMessage(r == 0 ? static_cast<int>(msg.wParam) : 0);
                m_nModalResult = -1;
                break;
            }
            AfxProcessMessage(&msg);
        }
    }
    if (reenable)
        ::EnableWindow(owner, TRUE);
    if (m_hWnd) {
        // Hand activation back to the owner before the dialog disappears.
        if (owner && ::GetActiveWindow() == m_hWnd)
            ::SetActiveWindow(owner);
        DestroyWindow();
    }
    m_bModal = false;
    return m_nModalResult;
}

void CDialog::EndDialog(int result)
{
    if (m_bModal) {
        m_nModalResult = result;
        m_bEndModal = true;
        // Wake the modal loop if it is waiting.
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, result);
    }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg)
{
    if ((msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
        (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST))
        return ::IsDialogMessageW(m_hWnd, msg);
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(msg, wp, lp);
}

BOOL CDialog::OnCommand(WPARAM wp, LPARAM lp)
{
    // Buttons report BN_CLICKED; menus and accelerators come without a control.
    if (HIWORD(wp) == BN_CLICKED || lp == 0) {
        switch (LOWORD(wp)) {
        case IDOK:
            OnOK();
            return TRUE;
        case IDCANCEL:
            OnCancel();
            return TRUE;
        default:
            break;
        }
    }
    return CWnd::OnCommand(wp, lp);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
