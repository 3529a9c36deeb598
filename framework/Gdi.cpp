#include "Gdi.h"

#include "App.h"

BOOL CGdiObject::Attach(HGDIOBJ h)
{
    if (!h)
        return FALSE;
    DeleteObject();
    m_hObject = h;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL CFont::CreatePointFont(int tenthsOfPoint, LPCWSTR face, HDC dc)
{
    HDC screen = dc ? dc : ::GetDC(nullptr);
    LOGFONTW lf = {};
    lf.lfHeight = -::MulDiv(tenthsOfPoint, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    if (!dc)
        ::ReleaseDC(nullptr, screen);
    return CreateFontIndirect(&lf);
}

BOOL CBitmap::LoadBitmap(UINT id)
{
    // A DIB section, not a screen-format bitmap: under Wine making or
    // selecting a screen-format bitmap asks the server three times whether
    // the displays changed, and a skinned window loads a dozen at start.
    return Attach(static_cast<HBITMAP>(
        ::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

CSize CBitmap::GetSize() const
{
    BITMAP bm = {};
    if (!m_hObject || !::GetObjectW(m_hObject, sizeof bm, &bm))
        return CSize();
    return CSize(bm.bmWidth, bm.bmHeight);
}

// ---------------------------------------------------------------------------

CDC::~CDC()
{
    RestoreObjects();
}

HGDIOBJ CDC::SelectObject(HGDIOBJ obj)
{
    HGDIOBJ* slot = nullptr;
    switch (::GetObjectType(obj)) {
    case OBJ_BRUSH: slot = &m_oldBrush; break;
    case OBJ_PEN: slot = &m_oldPen; break;
    case OBJ_FONT: slot = &m_oldFont; break;
    case OBJ_BITMAP: slot = &m_oldBitmap; break;
    default: break;
    }
    HGDIOBJ old = ::SelectObject(m_hDC, obj);
    if (slot && !*slot)
        *slot = old;
    return old;
}

void CDC::RestoreObjects()
{
    if (!m_hDC)
        return;
    for (HGDIOBJ* slot : {&m_oldBrush, &m_oldPen, &m_oldFont, &m_oldBitmap}) {
        if (*slot) {
            ::SelectObject(m_hDC, *slot);
            *slot = nullptr;
        }
    }
}

void CDC::FillSolidRect(const RECT& r, COLORREF c)
{
    COLORREF old = ::SetBkColor(m_hDC, c);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

void CDC::Draw3dRect(const RECT& r, COLORREF topLeft, COLORREF bottomRight)
{
    const int w = r.right - r.left, h = r.bottom - r.top;
    FillSolidRect(CRect(r.left, r.top, r.left + w - 1, r.top + 1), topLeft);
    FillSolidRect(CRect(r.left, r.top, r.left + 1, r.top + h - 1), topLeft);
    FillSolidRect(CRect(r.right - 1, r.top, r.right, r.bottom), bottomRight);
    FillSolidRect(CRect(r.left, r.bottom - 1, r.right, r.bottom), bottomRight);
}

namespace {

// The frame of a tracker as a region: rect less its inside.
HRGN FrameRegion(const RECT& rect, SIZE size)
{
    HRGN outer = ::CreateRectRgnIndirect(&rect);
    CRect inner(rect);
    inner.DeflateRect(size.cx, size.cy);
    if (inner.left < inner.right && inner.top < inner.bottom) {
        HRGN hole = ::CreateRectRgnIndirect(&inner);
        ::CombineRgn(outer, outer, hole, RGN_DIFF);
        ::DeleteObject(hole);
    }
    return outer;
}

struct HalftoneBrush {
    HBRUSH brush = nullptr;
    HalftoneBrush()
    {
        WORD pattern[8];
        for (int i = 0; i < 8; ++i)
            pattern[i] = static_cast<WORD>(0x5555 << (i & 1));
        HBITMAP bits = ::CreateBitmap(8, 8, 1, 1, pattern);
        brush = ::CreatePatternBrush(bits);
        ::DeleteObject(bits);
    }
    ~HalftoneBrush() { ::DeleteObject(brush); }
};

} // namespace

HBRUSH AfxGetHalftoneBrush()
{
    static HalftoneBrush halftone;
    return halftone.brush;
}

void CDC::DrawDragRect(const RECT& rect, SIZE size, const RECT* last, SIZE lastSize, HBRUSH brush)
{
    HRGN update = FrameRegion(rect, size);
    if (last) {
        HRGN old = FrameRegion(*last, lastSize);
        ::CombineRgn(update, update, old, RGN_XOR);
        ::DeleteObject(old);
    }
    ::SelectClipRgn(m_hDC, update);
    RECT box;
    ::GetClipBox(m_hDC, &box);
    HGDIOBJ oldBrush = ::SelectObject(m_hDC, brush ? brush : AfxGetHalftoneBrush());
    ::PatBlt(m_hDC, box.left, box.top, box.right - box.left, box.bottom - box.top, PATINVERT);
    ::SelectObject(m_hDC, oldBrush);
    ::SelectClipRgn(m_hDC, nullptr);
    ::DeleteObject(update);
}

CPaintDC::CPaintDC(HWND hwnd) : m_hWnd(hwnd)
{
    m_hDC = ::BeginPaint(hwnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    RestoreObjects();
    ::EndPaint(m_hWnd, &m_ps);
    m_hDC = nullptr;
}

CClientDC::CClientDC(HWND hwnd) : m_hWnd(hwnd)
{
    m_hDC = ::GetDC(hwnd);
}

CClientDC::~CClientDC()
{
    RestoreObjects();
    ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}

CWindowDC::CWindowDC(HWND hwnd) : m_hWnd(hwnd)
{
    m_hDC = ::GetWindowDC(hwnd);
}

CWindowDC::~CWindowDC()
{
    RestoreObjects();
    ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}

CCompatibleDC::CCompatibleDC(HDC compatibleWith)
{
    m_hDC = ::CreateCompatibleDC(compatibleWith);
}

CCompatibleDC::~CCompatibleDC()
{
    RestoreObjects();
    ::DeleteDC(m_hDC);
    m_hDC = nullptr;
}

CMemDC::CMemDC(HDC target, const RECT& rect) : m_target(target), m_rect(rect)
{
    m_hDC = ::CreateCompatibleDC(target);
    m_bitmap.CreateCompatibleBitmap(target, m_rect.Width(), m_rect.Height());
    SelectObject(m_bitmap);
    // Drawing uses the target's coordinates.
    ::SetWindowOrgEx(m_hDC, m_rect.left, m_rect.top, nullptr);
}

CMemDC::~CMemDC()
{
    if (!m_flushed)
        Flush();
    RestoreObjects();
    ::DeleteDC(m_hDC);
    m_hDC = nullptr;
}

void CMemDC::Flush()
{
    ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), m_hDC,
             m_rect.left, m_rect.top, SRCCOPY);
    m_flushed = true;
}
