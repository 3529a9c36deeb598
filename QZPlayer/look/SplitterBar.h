// The bar between two panes: the user drags it, a half-tone tracker follows
// the mouse, and the owner hears the signed distance on release (SPN_DRAGGED).
// The bar never moves itself; the owner lays out.
#pragma once

#include "SkinButton.h"
#include "framework.h"

const UINT SPN_DRAGGED = 0x401;

// The WM_NOTIFY of SPN_DRAGGED: the distance in pixels along the bar's axis,
// positive to the right or downwards.
struct NMSPLITTER {
    NMHDR hdr;
    int delta;
};

class CSplitterBar : public CWnd {
public:
    enum { Vertical = 1 };

    // 1: a vertical bar dragged left and right; other values: a horizontal bar.
    void SetOrientation(int orientation) { m_nOrientation = orientation; }
    void SetColor(COLORREF color) { m_clrBar = color; }
    COLORREF GetColor() const { return m_clrBar; }
    BOOL IsDragging() const { return m_bDragging; }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

    enum class Tracker { Start, Move, End };
    void DrawTracker(int x, int y, Tracker mode);

    CRect m_rcLastTracker;
    CRect m_rcTracker;
    BOOL m_bDragging = FALSE;
    int m_nOrientation = Vertical;
    int m_nStartX = 0;
    int m_nStartY = 0;
    HCURSOR m_hCursor = nullptr;
    COLORREF m_clrBar = RGB(0x85, 0x85, 0x85);

private:
    void EndDrag(int x, int y);
};

// What the collapse button needs of the window that holds the bar.
class IListPaneHost {
public:
    virtual void SetListCollapsed(BOOL collapsed) = 0;

protected:
    ~IListPaneHost() = default;
};

// The bar between the video pane and the playlist, with a button in its middle
// that collapses the list to the bar alone; no drag while collapsed.
class CListSplitter : public CSplitterBar {
public:
    enum : UINT { IDC_COLLAPSE = 65277 };

    CSkinButton m_btnCollapse;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
};
