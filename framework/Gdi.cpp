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
    return Attach(::LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(id)));
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
