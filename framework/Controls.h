// The common controls the programs use, as thin objects over their messages.
#pragma once

#include "Wnd.h"

#include <commctrl.h>

class CButton : public CWnd {
public:
    BOOL Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(WC_BUTTONW, text, style, rect, parent, id);
    }
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    void SetState(BOOL highlight) { SendMessage(BM_SETSTATE, highlight); }
    void SetButtonStyle(UINT style, BOOL redraw = TRUE) { SendMessage(BM_SETSTYLE, style, redraw); }

    // Owner-drawn buttons draw themselves: the parent's WM_DRAWITEM comes here.
    virtual void DrawItem(DRAWITEMSTRUCT*) {}

protected:
    BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
};

class CStatic : public CWnd {
public:
    BOOL Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF) {
        return CWnd::Create(WC_STATICW, text, style, rect, parent, id);
    }
    HICON SetIcon(HICON icon) { return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(icon))); }
    HBITMAP SetBitmap(HBITMAP bmp) {
        return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp)));
    }
};

class CProgressCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(PROGRESS_CLASSW, nullptr, style, rect, parent, id);
    }
    void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
    void SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
    void GetRange(int& lower, int& upper) const {
        PBRANGE r = {};
        SendMessage(PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&r));
        lower = r.iLow;
        upper = r.iHigh;
    }
    int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
    int OffsetPos(int delta) { return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta))); }
};

class CComboBox : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(WC_COMBOBOXW, nullptr, style, rect, parent, id);
    }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
    int AddString(LPCWSTR text) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
    int InsertString(int index, LPCWSTR text) {
        return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
    }
    int DeleteString(int index) { return static_cast<int>(SendMessage(CB_DELETESTRING, static_cast<WPARAM>(index))); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    std::wstring GetLBText(int index) const;
    int FindStringExact(int start, LPCWSTR text) const {
        return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text)));
    }
    BOOL LimitText(int max) { return static_cast<BOOL>(SendMessage(CB_LIMITTEXT, static_cast<WPARAM>(max))); }
};

class CListCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(WC_LISTVIEWW, nullptr, style, rect, parent, id);
    }
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    int InsertColumn(int col, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1);
    BOOL SetColumnWidth(int col, int width) { return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(col), width)); }
    std::wstring GetItemText(int index, int sub) const;
    BOOL GetItem(LVITEMW* item) const { return static_cast<BOOL>(SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(item))); }
    BOOL SetItemState(int index, UINT state, UINT mask);
    UINT GetItemState(int index, UINT mask) const {
        return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
    }
    int GetNextItem(int start, int flags) const {
        return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), flags));
    }
    UINT GetSelectedCount() const { return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT)); }
    DWORD SetExtendedStyle(DWORD style) {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style)));
    }
    DWORD GetExtendedStyle() const { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
    HIMAGELIST SetImageList(HIMAGELIST list, int which) {
        return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(list)));
    }
    BOOL SetBkColor(COLORREF c) { return static_cast<BOOL>(SendMessage(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(c))); }
    BOOL SetTextColor(COLORREF c) { return static_cast<BOOL>(SendMessage(LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(c))); }
    BOOL SetTextBkColor(COLORREF c) { return static_cast<BOOL>(SendMessage(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(c))); }
    HWND GetHeaderCtrl() const { return reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER)); }
};

class CToolTipCtrl : public CWnd {
public:
    BOOL Create(CWnd* parent, DWORD style = 0);
    // A tool is a child window of the tooltip's parent, identified by its handle;
    // the text is given directly or as a string-table id.
    BOOL AddTool(CWnd* tool, LPCWSTR text);
    BOOL AddTool(CWnd* tool, UINT stringId);
    void DelTool(CWnd* tool);
    void UpdateTipText(LPCWSTR text, CWnd* tool);
    // A tool that is a rectangle of a window, identified by (window, id); the
    // window relays its own mouse messages (RelayEvent).
    BOOL AddTool(CWnd* wnd, LPCWSTR text, const RECT& rect, UINT_PTR id);
    void UpdateTipText(LPCWSTR text, CWnd* wnd, UINT_PTR id);
    void SetToolRect(CWnd* wnd, UINT_PTR id, const RECT& rect);
    // A tool shown where its window puts it (TTF_TRACK, TTF_ABSOLUTE), for a
    // tip that follows the mouse, which clicks pass through (TTF_TRANSPARENT);
    // (wnd, id) as for a rectangle tool.
    BOOL AddTrackingTool(CWnd* wnd, UINT_PTR id);
    void TrackActivate(CWnd* wnd, UINT_PTR id, BOOL activate);
    void TrackPosition(int x, int y) {
        SendMessage(TTM_TRACKPOSITION, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    }
    // The size the tip of (wnd, id) takes with its present text.
    CSize GetBubbleSize(CWnd* wnd, UINT_PTR id) const;
    // The text of a tool (TTM_GETTEXT), empty when there is none.
    std::wstring GetText(CWnd* wnd, UINT_PTR id) const;
    void Activate(BOOL activate) { SendMessage(TTM_ACTIVATE, activate); }
    void SetDelayTime(DWORD which, int ms) { SendMessage(TTM_SETDELAYTIME, which, MAKELPARAM(ms, 0)); }
    int SetMaxTipWidth(int width) { return static_cast<int>(SendMessage(TTM_SETMAXTIPWIDTH, 0, width)); }
    // Mouse messages of the tools must be relayed for the tips to appear.
    void RelayEvent(MSG* msg) { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg)); }
    int GetToolCount() const { return static_cast<int>(SendMessage(TTM_GETTOOLCOUNT)); }

private:
    TTTOOLINFOW ToolInfo(CWnd* tool, LPWSTR text) const;
};
