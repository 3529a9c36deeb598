// The player's push button: an owner-drawn strip of state images from a bitmap
// resource, drawn through a mask colour, with hot tracking and a tooltip.
#pragma once

#include "framework.h"

class CSkinButton : public CButton {
public:
    CSkinButton() = default;

    // Loads the strip (count images side by side) and sizes the button to one
    // image; with m_bMasked the pixels of maskColor show m_clrBk. A tooltip id
    // of 0 leaves the tip alone. Returns count, or 0 when the bitmap is missing.
    int LoadStripBitmap(UINT bitmapId, COLORREF maskColor, int count, UINT tooltipId);
    void SetBkColor(COLORREF color);
    BOOL SetToggle(BOOL toggle);
    BOOL SetChecked(BOOL checked);
    BOOL IsChecked() const { return m_bChecked; }
    BOOL SetHandCursor();
    // The tip is a string-table entry; an id of 0 does nothing. The tip's
    // window is made when the mouse first moves over the button: each is a
    // top-level window (~6 ms apiece under Wine), and a start makes a dozen.
    // A disabled button shows its tip too (it may say why it is disabled).
    void SetTooltipText(UINT stringId);
    const std::wstring& GetTooltipText() const { return m_strTip; }

    // Which strip image shows for the owner-draw state (ODS_*) and the
    // button's own state; an index at or beyond count draws nothing.
    static int ImageIndex(UINT itemState, BOOL hot, BOOL toggle, BOOL checked, BOOL pressedFrames, int count);

    void DrawItem(DRAWITEMSTRUCT* dis) override;
    BOOL PreTranslateMessage(MSG* msg) override;

    bool m_bTracking = false;
    BOOL m_bHot = FALSE;
    BOOL m_bToggle = FALSE;
    BOOL m_bChecked = FALSE;
    BOOL m_bMasked = TRUE;
    BOOL m_bPressedFrames = FALSE;
    CBitmap m_bmpStrip;
    CBitmap m_bmpMask;
    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;
    int m_nFrameCount = 0;
    COLORREF m_clrBk = 0xFFFFFF;
    CToolTipCtrl m_tooltip;
    HCURSOR m_hCursor = nullptr;
    // FALSE for buttons only the mouse presses, as a caption's are: a click
    // hands the keyboard focus back to where it was, so that no key can
    // press them unseen (a focused close button would quit on Space).
    BOOL m_bTakeFocus = TRUE;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    virtual void OnMouseHover();
    virtual void OnMouseLeave();

private:
    void CreateMask(COLORREF color);
    void Refresh();
    void MakeTooltip();
    void ApplyTooltip();
    CRect RectInParent() const;
    static LRESULT CALLBACK ParentProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
    void OnParentMouse(HWND parent, UINT msg, WPARAM wp, LPARAM lp);

    // The tool of the parent's that covers the button while it is disabled.
    static constexpr UINT_PTR kParentTool = 2;

    std::wstring m_strTip;
    BOOL m_bHasTip = FALSE;
    BOOL m_bParentWatched = FALSE;
};
