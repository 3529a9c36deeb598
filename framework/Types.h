// Small value types and string helpers shared by the framework and the programs.
#pragma once

#include <windows.h>
#include <string>

struct CPoint : POINT {
    CPoint() { x = 0; y = 0; }
    CPoint(int ax, int ay) { x = ax; y = ay; }
    CPoint(POINT p) : POINT(p) {}
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
    bool operator!=(const CPoint& o) const { return !(*this == o); }
};

struct CSize : SIZE {
    CSize() { cx = 0; cy = 0; }
    CSize(int w, int h) { cx = w; cy = h; }
};

struct CRect : RECT {
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return ::IsRectEmpty(this) != FALSE; }
    bool PtInRect(POINT p) const { return ::PtInRect(this, p) != FALSE; }
    void DeflateRect(int dx, int dy) { ::InflateRect(this, -dx, -dy); }
    void InflateRect(int dx, int dy) { ::InflateRect(this, dx, dy); }
    void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
    bool operator==(const CRect& o) const { return ::EqualRect(this, &o) != FALSE; }
    bool operator!=(const CRect& o) const { return !(*this == o); }
};

// printf-style formatting into a std::wstring. Wide strings are passed with %ls
// (the only spelling that means the same under every MinGW stdio mode).
std::wstring FormatString(const wchar_t* fmt, ...);

// A string-table entry of the module that holds the resources; empty when missing.
std::wstring LoadResString(UINT id);

// The text of a window (a control, a dialog item).
std::wstring GetWindowTextString(HWND hwnd);
