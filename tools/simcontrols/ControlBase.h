// The base of the three simulated controls: an embedded OLE object that
// takes a site, makes a child window of the site's window at in-place
// activation and paints there what it plays (engine, item, clock, state).
#pragma once

#include "DispatchBase.h"
#include "MediaClock.h"

namespace sim {

// What every simulated control does as an embedded object: it takes a site,
// makes a child window of the site's window at in-place activation and takes
// it down at deactivation. The window shows what the control plays.

const wchar_t kWindowClass[] = L"QZSimulatedControl";
const UINT_PTR kPaintTimer = 1;

class ControlBase : public DispatchBase, public IOleObject, public IOleInPlaceObject {
public:
    ControlBase(const wchar_t* name, const wchar_t* title, const Member* members, size_t count)
        : DispatchBase(name, members, count), m_name(name), m_title(title)
    {
        Log(std::wstring(m_name) + L" create");
    }
    ~ControlBase() override
    {
        Log(std::wstring(m_name) + L" release");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        if (m_site)
            m_site->Release();
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchBase::Release(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        if (site)
            site->AddRef();
        if (m_site)
            m_site->Release();
        m_site = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** out) override
    {
        *out = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override { return S_OK; }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW)
            return E_NOTIMPL;
        if (m_wnd)
            return S_OK;
        IOleInPlaceSite* site = nullptr;
        if (!m_site || FAILED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
            return E_NOINTERFACE;
        HWND parent = nullptr;
        site->GetWindow(&parent);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT pos = {}, clip = {};
        OLEINPLACEFRAMEINFO fi = {};
        fi.cb = sizeof fi;
        site->GetWindowContext(&frame, &doc, &pos, &clip, &fi);
        if (frame)
            frame->Release();
        if (doc)
            doc->Release();
        site->OnInPlaceActivate();
        site->Release();
        RegisterWindowClass();
        m_wnd = ::CreateWindowExW(0, kWindowClass, m_name, WS_CHILD, pos.left, pos.top, pos.right - pos.left,
                                  pos.bottom - pos.top, parent, nullptr, g_module, nullptr);
        if (!m_wnd)
            return E_FAIL;
        ::SetWindowLongPtrW(m_wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetTimer(m_wnd, kPaintTimer, 250, nullptr);
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* out) override
    {
        *out = m_wnd;
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override
    {
        Log(std::wstring(m_name) + L" deactivate");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        m_wnd = nullptr;
        IOleInPlaceSite* site = nullptr;
        if (m_site && SUCCEEDED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) {
            site->OnInPlaceDeactivate();
            site->Release();
        }
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override
    {
        if (m_wnd && pos)
            ::MoveWindow(m_wnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // What the window shows: the item, its state and clock, one more line.
    struct Shown {
        std::wstring item, state, extra;
        double position = 0, duration = 0;
    };
    virtual Shown Show(ULONGLONG now) = 0;
    // Each turn of the window's timer (a control raises its events here).
    virtual void Tick(ULONGLONG now) { (void)now; }

    static void Unregister()
    {
        if (g_module)
            ::UnregisterClassW(kWindowClass, g_module);
    }

protected:
    void Trace(const std::wstring& what) { Log(std::wstring(m_name) + L" " + what); }
    // The clock's part of what is shown; the caller adds its own line.
    Shown ClockShown(ULONGLONG now, MediaClock::State* state)
    {
        Shown s;
        *state = m_clock.Get(now);
        s.item = m_clock.Info().name;
        s.state = StateName(*state);
        s.position = m_clock.Position(now);
        s.duration = m_clock.Duration(now);
        return s;
    }

    const wchar_t* m_name;
    MediaClock m_clock;
    HWND m_wnd = nullptr;

private:
    static void RegisterWindowClass()
    {
        WNDCLASSW wc = {};
        if (::GetClassInfoW(g_module, kWindowClass, &wc))
            return;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &WindowProc;
        wc.hInstance = g_module;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        ::RegisterClassW(&wc);
    }

    static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        auto* self = reinterpret_cast<ControlBase*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
        switch (msg) {
        case WM_TIMER:
            if (wp == kPaintTimer) {
                if (self)
                    self->Tick(::GetTickCount64());
                ::InvalidateRect(wnd, nullptr, FALSE);
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            if (self) {
                self->Paint(wnd);
                return 0;
            }
            break;
        case WM_DESTROY:
            ::KillTimer(wnd, kPaintTimer);
            ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
        }
        return ::DefWindowProcW(wnd, msg, wp, lp);
    }

    void Paint(HWND wnd)
    {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        RECT client;
        ::GetClientRect(wnd, &client);
        ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        const Shown s = Show(::GetTickCount64());
        const int height = client.bottom - client.top;
        HFONT big = ::CreateFontW(-(height > 200 ? 22 : 14), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                  CLEARTYPE_QUALITY, 0, L"宋体");
        HFONT small = ::CreateFontW(-(height > 200 ? 16 : 12), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                    CLEARTYPE_QUALITY, 0, L"宋体");
        HGDIOBJ old = ::SelectObject(dc, big);
        ::SetBkMode(dc, TRANSPARENT);
        RECT r = client;
        ::InflateRect(&r, -12, -10);
        ::SetTextColor(dc, RGB(120, 200, 255));
        const std::wstring title = std::wstring(m_title) + L" (simulated)";
        ::DrawTextW(dc, title.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        TEXTMETRICW tm;
        ::GetTextMetricsW(dc, &tm);
        r.top += tm.tmHeight + 8;
        ::SetTextColor(dc, RGB(255, 255, 255));
        ::DrawTextW(dc, (s.item.empty() ? L"(nothing loaded)" : s.item.c_str()), -1, &r,
                    DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
        r.top += tm.tmHeight + 8;
        const std::wstring clock = Clock(s.position) + L" / " + Clock(s.duration) + L"   " + s.state;
        ::SetTextColor(dc, RGB(255, 220, 90));
        ::DrawTextW(dc, clock.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        r.top += tm.tmHeight + 8;
        if (!s.extra.empty()) {
            ::SelectObject(dc, small);
            ::SetTextColor(dc, RGB(170, 170, 170));
            ::DrawTextW(dc, s.extra.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        }
        // The position as a bar along the bottom.
        if (s.duration > 0) {
            RECT bar = {client.left + 12, client.bottom - 14, client.right - 12, client.bottom - 8};
            HBRUSH dim = ::CreateSolidBrush(RGB(60, 60, 60));
            ::FillRect(dc, &bar, dim);
            ::DeleteObject(dim);
            bar.right = bar.left + static_cast<LONG>((bar.right - bar.left) * (s.position / s.duration));
            HBRUSH lit = ::CreateSolidBrush(RGB(120, 200, 255));
            ::FillRect(dc, &bar, lit);
            ::DeleteObject(lit);
        }
        ::SelectObject(dc, old);
        ::DeleteObject(big);
        ::DeleteObject(small);
        ::EndPaint(wnd, &ps);
    }

    const wchar_t* m_title;
    IOleClientSite* m_site = nullptr;
};

// The three controls, each new with one reference.
ControlBase* NewFlashControl();
ControlBase* NewMediaControl();
ControlBase* NewRealControl();

} // namespace sim
