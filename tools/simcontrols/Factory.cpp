// The in-process server: one class factory per simulated control, and the
// exports COM looks up.
#include "ControlBase.h"

namespace sim {
namespace {

class Factory : public IClassFactory {
public:
    explicit Factory(int kind) : m_kind(kind) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ControlBase* c = m_kind == 1 ? NewFlashControl() : m_kind == 2 ? NewMediaControl() : NewRealControl();
        HRESULT hr = c->QueryInterface(iid, out);
        c->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ::InterlockedIncrement(&g_locks);
        else
            ::InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    int m_kind;
};

Factory g_flash(1), g_media(2), g_real(3);

} // namespace
} // namespace sim

using namespace sim;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        ::DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        ControlBase::Unregister();
        ::UnregisterClassW(L"wine_quartz_window", module);
    }
    return TRUE;
}

extern "C" HRESULT __stdcall SimGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    Factory* f = clsid == kFlash ? &g_flash : clsid == kMedia ? &g_media : clsid == kReal ? &g_real : nullptr;
    if (!f) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return f->QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall SimCanUnloadNow()
{
    return (g_live == 0 && g_locks == 0) ? S_OK : S_FALSE;
}

// Objects alive now (controls and their sub-objects), for leak tests.
extern "C" LONG __stdcall SimLiveObjects()
{
    return g_live;
}
