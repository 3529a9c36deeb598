// The "打开 URL" dialog: type a URL or path, pick one from the open-history
// (newest first) or browse for a file.
#pragma once

#include "framework.h"

#include <vector>

// The filter of every open-file dialog of the player.
extern const wchar_t kOpenFileFilter[];

class COpenUrlDlg : public CDialog {
public:
    COpenUrlDlg();

    std::wstring m_strUrl;                              // the text when OK was pressed
    const std::vector<std::wstring>* m_pHistory = nullptr; // oldest first; only read
    CComboBox m_combo;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
    void OnOK() override;

private:
    void OnBrowse();
};
