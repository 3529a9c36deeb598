// Owned GDI objects and device contexts, including an off-screen buffer.
#pragma once

#include "Types.h"

// Owns one GDI object and deletes it. Select an object out of every device
// context before its owner goes (CDC restores what it replaced).
class CGdiObject {
public:
    CGdiObject() = default;
    explicit CGdiObject(HGDIOBJ h) : m_hObject(h) {}
    ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h);
    HGDIOBJ Detach();
    BOOL DeleteObject();
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF c) { CreateSolidBrush(c); }
    BOOL CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF c) { CreatePen(style, width, c); }
    BOOL CreatePen(int style, int width, COLORREF c) { return Attach(::CreatePen(style, width, c)); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTW* lf) { return Attach(::CreateFontIndirectW(lf)); }
    // Size in tenths of a point, as dialog fonts are given.
    BOOL CreatePointFont(int tenthsOfPoint, LPCWSTR face, HDC dc = nullptr);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(UINT id);
    BOOL CreateCompatibleBitmap(HDC dc, int width, int height) {
        return Attach(::CreateCompatibleBitmap(dc, width, height));
    }
    CSize GetSize() const;
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

// The 50 % checker brush of trackers; one for the process, never deleted by callers.
HBRUSH AfxGetHalftoneBrush();

class CRgn : public CGdiObject {
public:
    BOOL CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
    BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) {
        return Attach(::CreateRoundRectRgn(l, t, r, b, w, h));
    }
    int CombineRgn(HRGN a, HRGN b, int mode) { return ::CombineRgn(*this, a, b, mode); }
    operator HRGN() const { return static_cast<HRGN>(m_hObject); }
};

// A device context that is not owned: the derived classes say how it was
// obtained and give it back. Objects selected through SelectObject are put
// back when the context is released.
class CDC {
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }

    HGDIOBJ SelectObject(HGDIOBJ obj);
    // Puts back everything selected so far, a canvas bitmap included: only
    // the code that owns the context may call it, never a drawing routine
    // that was handed one.
    void RestoreObjects();

    void FillSolidRect(const RECT& r, COLORREF c);
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    int DrawText(const std::wstring& text, RECT* r, UINT format) {
        return ::DrawTextW(m_hDC, text.c_str(), static_cast<int>(text.size()), r, format);
    }
    BOOL BitBlt(int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src, sx, sy, rop);
    }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    // One-pixel frame on the rectangle's own edge: top and left in one colour,
    // right and bottom in the other.
    void Draw3dRect(const RECT& r, COLORREF topLeft, COLORREF bottomRight);
    // The tracker of a drag: inverts a frame of the given thickness inside rect
    // with the brush (the half-tone brush by default) and, when last is given,
    // inverts the last frame again to erase it, in one pass so that the parts
    // both share do not flicker. A thickness of 0 draws nothing new.
    void DrawDragRect(const RECT& rect, SIZE size, const RECT* last, SIZE lastSize, HBRUSH brush = nullptr);

private:
    // First replaced object per type, so each type is restored once.
    HGDIOBJ m_oldBrush = nullptr, m_oldPen = nullptr, m_oldFont = nullptr, m_oldBitmap = nullptr;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(HWND hwnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps = {};

private:
    HWND m_hWnd;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(HWND hwnd);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};

class CWindowDC : public CDC {
public:
    explicit CWindowDC(HWND hwnd);
    ~CWindowDC() override;

private:
    HWND m_hWnd;
};

// A memory device context compatible with another one (null: the screen),
// deleted with the object after the selected objects are put back.
class CCompatibleDC : public CDC {
public:
    explicit CCompatibleDC(HDC compatibleWith = nullptr);
    ~CCompatibleDC() override;
};

// Off-screen buffer for flicker-free painting: draw into it, then Flush copies
// the rectangle onto the target (also done on destruction unless flushed).
class CMemDC : public CDC {
public:
    CMemDC(HDC target, const RECT& rect);
    ~CMemDC() override;
    void Flush();

private:
    HDC m_target;
    CRect m_rect;
    CBitmap m_bitmap;
    bool m_flushed = false;
};
