// The player's horizontal slider: a flat two-tone groove with a white thumb,
// drawn off-screen by the control itself. User moves reach the parent as
// WM_SLIDER_CHANGED. A slider made with WS_TABSTOP also takes the keyboard
// (while its input is enabled): arrows move it by a line (a hundredth of the
// range, at least 1), Page Up and Page Down by a page (a tenth), Home and End
// to its ends, Right, Up and Page Up towards the maximum; it shows a focus
// cue while it has the keyboard.
#pragma once

#include "framework.h"

#include <functional>
#include <string>

// wParam: the value computed from the mouse (before clamping, so it can lie
// outside the range during a drag); lParam: the CSliderEx that sends it.
const UINT WM_SLIDER_CHANGED = WM_USER + 34;

class CSliderEx : public CStatic {
public:
    CSliderEx() = default;

    void SetRange(int minimum, int maximum);
    int SetPos(int value); // returns the previous position
    int GetPos() const { return m_nPos; }
    // Also takes a keyboard slider out of the Tab walk while it is off.
    BOOL EnableInput(BOOL enable);
    // Draws the whole control onto dc.
    void Draw(HDC dc);

    int m_nMin = 0;
    int m_nMax = 100;
    int m_nPos = 0;
    CRect m_rcThumb;
    BOOL m_bDragging = FALSE;
    int m_nThumbWidth = 12;
    const COLORREF m_clrThumbBorder = RGB(89, 125, 190);
    const COLORREF m_clrThumb = RGB(255, 255, 255);
    const COLORREF m_clrGrooveBorder = RGB(229, 222, 211);
    const COLORREF m_clrGrooveTop = RGB(218, 210, 199);
    const COLORREF m_clrGrooveBottom = RGB(127, 142, 164);
    COLORREF m_clrBk = RGB(255, 255, 255);
    BOOL m_bInputEnabled = TRUE;
    // The tip over the slider while the mouse is on it (and its input is
    // on): the text for the value under the cursor; an empty text shows no
    // tip. The tip follows the cursor and is made at the first move.
    std::function<std::wstring(int value)> m_tipText;
    CToolTipCtrl m_tip;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void PreSubclassWindow() override;

private:
    BOOL OnKey(UINT vk);
    void ShowTip(int x);
    void HideTip();
    BOOL m_bKeyboard = FALSE; // made with WS_TABSTOP
    BOOL m_bTipShown = FALSE;
    enum : UINT_PTR { kTipTimer = 1 };
    void DrawThumb(CDC& dc);
    CRect ThumbRect(const CRect& client) const;
    void Redraw();
    int ValueAt(int x) const;
    void Report(int value);
};
