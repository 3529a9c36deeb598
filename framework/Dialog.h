// Dialogs from the program's dialog templates, modeless and modal, with data
// exchange between controls and fields.
#pragma once

#include "Wnd.h"

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* dlg, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate; // TRUE: controls -> fields; FALSE: fields -> controls
    CDialog* m_pDlgWnd;
};

// Binds a control of the dialog to a window object (subclassing it once).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Exchanges the text of a control with a string.
void DDX_Text(CDataExchange* dx, int id, std::wstring& value);

class CDialog : public CWnd {
public:
    CDialog() = default;
    CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

    // Modeless creation from the template; the dialog stays hidden unless the
    // template says WS_VISIBLE.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // Modal run: the owner is disabled while the dialog's own loop runs (which
    // routes messages through PreTranslateMessage like the main loop). Returns
    // the value given to EndDialog, or -1 when the dialog could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    BOOL PreTranslateMessage(MSG* msg) override;

    UINT m_nIDTemplate = 0;
    CWnd* m_pParentWnd = nullptr;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;

    // Default: exchanges data towards the controls; TRUE lets the system set focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    // Defaults end the dialog (a modeless dialog is hidden, as the system does).
    virtual void OnOK();
    virtual void OnCancel();

private:
    BOOL CreateFromTemplate(UINT templateId, HWND parent);
    bool m_bModal = false;
    bool m_bEndModal = false;
    int m_nModalResult = -1;
};
