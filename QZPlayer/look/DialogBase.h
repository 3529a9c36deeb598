// Skinned dialogs: CCommonDlg turns the whole window into client area and
// moves, sizes and maximises it from client mouse messages; CDialogBase adds
// the skinned caption with its icon, title, region and caption buttons.
#pragma once

#include "SkinButton.h"
#include "framework.h"

class CCommonDlg : public CDialog {
public:
    CCommonDlg() = default;
    explicit CCommonDlg(UINT templateId, CWnd* parent = nullptr) : CDialog(templateId, parent) {}

    // Caption drag zone in client coordinates: from x = left, down to y = bottom;
    // a bottom of 0 or less makes the whole client area the zone.
    void SetCaptionDragZone(int left, int bottom);

    virtual void InvalidateCaption();
    virtual void GetBorderRects(RECT& left, RECT& top, RECT& right, RECT& bottom, RECT& topLeft,
                                RECT& topRight, RECT& bottomLeft, RECT& bottomRight);
    virtual void DrawClient(CDC* dc, RECT client);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

    BOOL IsWindowMaximized() const { return ::IsZoomed(m_hWnd); }
    bool InDragZone(POINT p) const;

    int m_nDragLeft = 0;
    int m_nDragBottom = 0;

private:
    void OnNcCalcSize(WPARAM wp, LPARAM lp);
    BOOL SizingZoneAt(POINT p, WPARAM& code, LPCWSTR& cursor);
    void OnMouseMove(POINT p);
    BOOL OnLButtonDown(POINT p, LPARAM lp);
    void OnPaint();
};

class CDialogBase : public CCommonDlg {
public:
    enum : UINT {
        IDC_CAPTION_CLOSE = 65535,
        IDC_CAPTION_MINIMIZE = 65534,
        IDC_CAPTION_TOPMOST = 65533,
        IDC_CAPTION_MENU = 65532,
        IDC_CAPTION_MAXIMIZE = 65531,
    };

    explicit CDialogBase(UINT templateId, CWnd* parent = nullptr);

    // Shows the skin's icon and title and adds the topmost and menu buttons.
    void SetupCaption();
    // Topmost on or off, with the button's look and tip.
    void ToggleTopMost();
    // After the skin's colours changed: background and caption buttons.
    void ApplyCaptionColours();
    void DrawClient(CDC* dc, RECT client) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    virtual void OnMenuButton() {}

    const std::wstring& GetTitle() const { return m_strTitle; }
    void SetTitle(const std::wstring& title) { m_strTitle = title; }

    BOOL m_bShowIcon = FALSE;
    BOOL m_bTopMost = FALSE;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
    HBRUSH OnCtlColor(HDC dc, HWND child, UINT ctlType) override;

    std::wstring m_strTitle;
    CSkinButton m_btnClose;
    CSkinButton m_btnMinimize;
    CSkinButton m_btnMaximize;
    CSkinButton m_btnTopMost;
    CSkinButton m_btnMenu;
    CFont m_fontCaption;
    CRgn m_rgnFrame;
    CRect m_rcClient;
    CBrush m_brBackground;

private:
    void OnSize();
    // Where the caption's title must end: before the leftmost caption button.
    int TitleRight(const RECT& client) const;
    BOOL CreateCaptionButton(CSkinButton& button, UINT id, const RECT& rect, UINT bitmapId, UINT tipId);
};
