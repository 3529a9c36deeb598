// The ActiveX container: a small control of the test's own (registered in
// this process only) shows the site protocol, the dispatch calls and the
// teardown order; Wine's own media player control shows that a real control
// accepts our site.
#include "OleControl.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// {8E0E5B7A-54C1-4B7E-9D57-3C1F0A7D2E11}
const CLSID kTestControl = {0x8e0e5b7a, 0x54c1, 0x4b7e, {0x9d, 0x57, 0x3c, 0x1f, 0x0a, 0x7d, 0x2e, 0x11}};
// The same control without IDispatch. {8E0E5B7A-54C1-4B7E-9D57-3C1F0A7D2E12}
const CLSID kMuteControl = {0x8e0e5b7a, 0x54c1, 0x4b7e, {0x9d, 0x57, 0x3c, 0x1f, 0x0a, 0x7d, 0x2e, 0x12}};
const CLSID kWineMediaPlayer = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};

std::vector<std::wstring> g_log;
int g_live = 0; // objects of the test control still alive, sub-objects included

// A dispatch object without a type library: dispatch ids are fixed numbers.
class Dispatch : public IDispatch {
public:
    Dispatch() { ++g_live; }
    virtual ~Dispatch() { --g_live; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --m_refs;
        if (!left)
            delete this;
        return left;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    // 1: method (BSTR, I4, R8, BOOL, I2) -> BSTR of what arrived.
    // 2: property I4 (get, put). 3: property get -> a sub-object.
    // 4: raises an exception with a description. 5: fails with E_FAIL.
    // 6: property get -> BSTR "12.75" (answers converted by type).
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* info,
                        UINT*) override
    {
        switch (id) {
        case 1: {
            if (dp->cArgs != 5)
                return DISP_E_BADPARAMCOUNT;
            // Arguments arrive last first.
            VARIANT* a = dp->rgvarg;
            std::wstring text = FormatString(L"%ls|%ld|%.2f|%d|%d", a[4].bstrVal, a[3].lVal, a[2].dblVal,
                                             a[1].boolVal == VARIANT_TRUE, a[0].iVal);
            text += FormatString(L"|%d%d%d%d%d", a[4].vt, a[3].vt, a[2].vt, a[1].vt, a[0].vt);
            if (result) {
                result->vt = VT_BSTR;
                result->bstrVal = ::SysAllocString(text.c_str());
            }
            return S_OK;
        }
        case 2:
            if (flags & DISPATCH_PROPERTYPUT) {
                if (dp->cNamedArgs != 1 || dp->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                    return DISP_E_PARAMNOTOPTIONAL;
                m_value = dp->rgvarg[0].lVal;
                return S_OK;
            }
            result->vt = VT_I4;
            result->lVal = m_value;
            return S_OK;
        case 3:
            result->vt = VT_DISPATCH;
            result->pdispVal = new Dispatch;
            return S_OK;
        case 4:
            info->wCode = 0;
            info->scode = E_UNEXPECTED;
            info->bstrSource = ::SysAllocString(L"TestControl");
            info->bstrDescription = ::SysAllocString(L"影片无法载入");
            return DISP_E_EXCEPTION;
        case 6:
            result->vt = VT_BSTR;
            result->bstrVal = ::SysAllocString(L"12.75");
            return S_OK;
        default:
            return E_FAIL;
        }
    }

private:
    ULONG m_refs = 1;
    long m_value = 7;
};

// The control: the few members of IOleObject and IOleInPlaceObject that a
// host uses, and a child window made at in-place activation.
class Control : public Dispatch, public IOleObject, public IOleInPlaceObject {
public:
    explicit Control(bool dispatch) : m_dispatch(dispatch) {}
    ~Control() override
    {
        g_log.push_back(L"gone");
        if (m_site)
            m_site->Release();
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Dispatch::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Dispatch::Release(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch && m_dispatch)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        g_log.push_back(site ? L"SetClientSite" : L"SetClientSite(null)");
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
    STDMETHODIMP Close(DWORD) override
    {
        g_log.push_back(L"Close");
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT rect) override
    {
        if (verb != OLEIVERB_INPLACEACTIVATE || !m_site)
            return E_NOTIMPL;
        IOleInPlaceSiteEx* site = nullptr;
        if (FAILED(m_site->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&site))))
            return E_NOINTERFACE;
        HWND container = nullptr;
        site->GetWindow(&container);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT pos = {}, clip = {};
        OLEINPLACEFRAMEINFO info = {};
        info.cb = sizeof info;
        site->GetWindowContext(&frame, &doc, &pos, &clip, &info);
        BOOL noRedraw = TRUE;
        site->OnInPlaceActivateEx(&noRedraw, 0);
        site->Release();
        g_log.push_back(container == parent && ::EqualRect(&pos, rect) && !frame ? L"DoVerb" : L"DoVerb(bad site)");
        m_wnd = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, pos.left, pos.top, pos.right - pos.left,
                                  pos.bottom - pos.top, container, nullptr, nullptr, nullptr);
        return m_wnd ? S_OK : E_FAIL;
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

    // IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* out) override
    {
        *out = m_wnd;
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override
    {
        g_log.push_back(L"InPlaceDeactivate");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        m_wnd = nullptr;
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override
    {
        g_log.push_back(L"SetObjectRects");
        ::MoveWindow(m_wnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

private:
    bool m_dispatch;
    IOleClientSite* m_site = nullptr;
    HWND m_wnd = nullptr;
};

class Factory : public IClassFactory {
public:
    explicit Factory(bool dispatch) : m_dispatch(dispatch) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* c = new Control(m_dispatch);
        HRESULT hr = c->QueryInterface(iid, out);
        c->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    bool m_dispatch;
};

Factory g_factory(true), g_muteFactory(false);

class OleControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AfxOleInit());
        ASSERT_HRESULT_SUCCEEDED(::CoRegisterClassObject(kTestControl, &g_factory, CLSCTX_INPROC_SERVER,
                                                         REGCLS_MULTIPLEUSE, &m_cookie));
        ASSERT_HRESULT_SUCCEEDED(::CoRegisterClassObject(kMuteControl, &g_muteFactory, CLSCTX_INPROC_SERVER,
                                                         REGCLS_MULTIPLEUSE, &m_muteCookie));
        ASSERT_TRUE(host.CreateEx(0, nullptr, L"host", WS_POPUP | WS_VISIBLE, CRect(40, 40, 360, 280), nullptr, 0));
        g_log.clear();
    }
    void TearDown() override
    {
        host.DestroyWindow();
        ::CoRevokeClassObject(m_cookie);
        ::CoRevokeClassObject(m_muteCookie);
        AfxOleTerm();
    }
    CWnd host;
    DWORD m_cookie = 0, m_muteCookie = 0;
};

struct BoxWatch {
    static std::wstring s_text;
    // Reads and closes the first message box of this thread.
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND box = ::FindWindowW(L"#32770", nullptr);
        if (box && ::GetWindowThreadProcessId(box, nullptr) == ::GetCurrentThreadId()) {
            wchar_t text[256] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 256);
            s_text = text;
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
};
std::wstring BoxWatch::s_text;

struct Caller : CWnd {
    CWnd* control = nullptr;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_APP)
            control->InvokeHelper(4, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
        return CWnd::WindowProc(msg, wp, lp);
    }
};

} // namespace

TEST_F(OleControl, IsACreatedChildWithItsIdSizedThroughTheSiteAndTornDownInOrder)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 320, 200), &host, 5001));
    EXPECT_EQ(g_log, (std::vector<std::wstring>{L"SetClientSite", L"DoVerb"}));
    HWND wnd = ctl.m_hWnd;
    ASSERT_TRUE(::IsWindow(wnd));
    EXPECT_EQ(::GetParent(wnd), host.m_hWnd);
    EXPECT_EQ(::GetDlgCtrlID(wnd), 5001);
    EXPECT_TRUE(::IsWindowVisible(wnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(wnd), &ctl);
    EXPECT_NE(ctl.GetControlUnknown(), nullptr);

    ctl.MoveWindow(CRect(0, 0, 100, 50));
    EXPECT_EQ(g_log.back(), L"SetObjectRects");
    EXPECT_EQ(ctl.GetClientRect(), CRect(0, 0, 100, 50));

    g_log.clear();
    ctl.DestroyWindow();
    EXPECT_EQ(g_log, (std::vector<std::wstring>{L"InPlaceDeactivate", L"Close", L"SetClientSite(null)", L"gone"}));
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(ctl.m_hWnd, nullptr);
    EXPECT_EQ(g_live, 0);
    // The object can host again.
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5002));
    EXPECT_FALSE(ctl.IsWindowVisible());
}

TEST_F(OleControl, AWrapperThatGoesTakesItsControlWithIt)
{
    HWND wnd;
    {
        CWnd ctl;
        ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
        wnd = ctl.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(g_live, 0);
    // A CLSID nobody registered fails and leaves the wrapper empty.
    CWnd none;
    const CLSID unknown = {0x8e0e5b7a, 0x54c1, 0x4b7e, {0, 0, 0, 0, 0, 0, 0, 0x13}};
    EXPECT_FALSE(none.CreateControl(unknown, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
    EXPECT_EQ(none.m_hWnd, nullptr);
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);
}

TEST_F(OleControl, CallsCarryEveryArgumentTypeAndConvertAnswers)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
    std::wstring text;
    ctl.InvokeHelper(1, DISPATCH_METHOD, VT_BSTR, &text, VTS_BSTR VTS_I4 VTS_R8 VTS_BOOL VTS_I2, L"D:\\视频\\A.FLV",
                     12345L, 59.9, TRUE, static_cast<short>(-3));
    EXPECT_EQ(text, L"D:\\视频\\A.FLV|12345|59.90|1|-3|835112");

    long value = 0;
    ctl.GetProperty(2, VT_I4, &value);
    EXPECT_EQ(value, 7);
    ctl.SetProperty(2, VT_I4, 42L);
    ctl.GetProperty(2, VT_I4, &value);
    EXPECT_EQ(value, 42);
    // Answers are converted to the type asked for.
    double number = 0;
    ctl.GetProperty(6, VT_R8, &number);
    EXPECT_DOUBLE_EQ(number, 12.75);
    ctl.GetProperty(2, VT_BSTR, &text);
    EXPECT_EQ(text, L"42");
}

TEST_F(OleControl, ADispatchDriverOwnsItsSubObject)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
    {
        COleDispatchDriver settings;
        IDispatch* sub = nullptr;
        ctl.GetProperty(3, VT_DISPATCH, &sub);
        ASSERT_NE(sub, nullptr);
        settings.AttachDispatch(sub);
        EXPECT_EQ(g_live, 2);
        long value = 0;
        settings.GetProperty(2, VT_I4, &value);
        EXPECT_EQ(value, 7);
        // Attaching another releases the first.
        ctl.GetProperty(3, VT_DISPATCH, &sub);
        settings.AttachDispatch(sub);
        EXPECT_EQ(g_live, 2);
    }
    EXPECT_EQ(g_live, 1);
    ctl.DestroyWindow();
    EXPECT_EQ(g_live, 0);
}

TEST_F(OleControl, FailuresAreThrownWithTheirCodeAndDescription)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
    auto failure = [](auto call) -> std::pair<SCODE, std::wstring> {
        try {
            call();
        } catch (COleDispatchException* e) {
            std::pair<SCODE, std::wstring> got{e->m_scError, e->GetErrorMessage()};
            e->Delete();
            return got;
        }
        return {S_OK, L"no error"};
    };
    auto raised = failure([&] { ctl.InvokeHelper(4, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); });
    EXPECT_EQ(raised.first, E_UNEXPECTED);
    EXPECT_EQ(raised.second, L"影片无法载入");
    EXPECT_EQ(failure([&] { ctl.InvokeHelper(5, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); }).first, E_FAIL);
    // An answer that cannot become the type asked for is a failure too.
    long value = 0;
    EXPECT_EQ(failure([&] { ctl.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &value, VTS_BSTR VTS_I4 VTS_R8 VTS_BOOL VTS_I2,
                                             L"x", 1L, 1.0, FALSE, static_cast<short>(0)); })
                  .first,
              DISP_E_TYPEMISMATCH);

    CWnd mute;
    ASSERT_TRUE(mute.CreateControl(kMuteControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5002));
    EXPECT_EQ(failure([&] { mute.GetProperty(2, VT_I4, &value); }).first, E_NOINTERFACE);
    EXPECT_EQ(failure([&] { COleDispatchDriver().GetProperty(2, VT_I4, &value); }).first, E_POINTER);
}

TEST_F(OleControl, AnUncaughtFailureIsReportedToTheUserOnceAndTheWindowLivesOn)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kTestControl, L"", WS_CHILD, CRect(0, 0, 10, 10), &host, 5001));
    Caller caller;
    caller.control = &ctl;
    ASSERT_TRUE(caller.CreateEx(0, nullptr, L"caller", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &BoxWatch::Tick);
    caller.SendMessage(WM_APP);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(BoxWatch::s_text, L"影片无法载入");
    EXPECT_TRUE(caller.IsWindow());
    EXPECT_TRUE(ctl.IsWindow());
    caller.DestroyWindow();
}

TEST_F(OleControl, WineMediaPlayerAcceptsOurSiteAndOffersNoDispatch)
{
    CWnd ctl;
    ASSERT_TRUE(ctl.CreateControl(kWineMediaPlayer, L"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 320, 240), &host, 5002));
    EXPECT_EQ(::GetParent(ctl), host.m_hWnd);
    EXPECT_EQ(ctl.GetDlgCtrlID(), 5002);
    EXPECT_TRUE(ctl.IsWindowVisible());
    long state = -1;
    try {
        ctl.GetProperty(10, VT_I4, &state);
        ADD_FAILURE() << "a call went through";
    } catch (COleDispatchException* e) {
        EXPECT_EQ(e->m_scError, E_NOINTERFACE);
        e->Delete();
    }
    HWND wnd = ctl.m_hWnd;
    ctl.DestroyWindow();
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);
}
