// Dispatch by declared members. Its source:
//  [COM]        IDispatch::Invoke documentation: DISP_E_MEMBERNOTFOUND for a
//               member or kind that does not exist, DISP_E_BADPARAMCOUNT,
//               DISP_E_TYPEMISMATCH with puArgErr, DISPID_PROPERTYPUT named
//               argument for a property put; ITypeInfo::Invoke: a member that
//               returns an error HRESULT comes back as DISP_E_EXCEPTION with
//               the HRESULT in EXCEPINFO.scode. Where the declarations say a
//               type, only that type is taken (no coercion): the strict
//               reading where the documentation is silent.
#pragma once

#include "SimCommon.h"

namespace sim {

// Dispatch by declared members [COM]: each id answers only to the kinds the
// real interface declares, with exactly the argument types it declares.

enum Kind : WORD { Method = DISPATCH_METHOD, Get = DISPATCH_PROPERTYGET, Put = DISPATCH_PROPERTYPUT };

struct Member {
    DISPID id;
    WORD kind;
    VARTYPE args[2];
    UINT argc;
};

#define M0(id, kind) {id, kind, {VT_EMPTY, VT_EMPTY}, 0}
#define M1(id, kind, a) {id, kind, {a, VT_EMPTY}, 1}

// Arguments as declared (last first in rgvarg), already checked.
struct Args {
    DISPPARAMS* dp;
    const VARIANT& At(UINT i) const { return dp->rgvarg[dp->cArgs - 1 - i]; }
    std::wstring Str(UINT i) const { return At(i).bstrVal ? At(i).bstrVal : L""; }
    bool Bool(UINT i) const { return At(i).boolVal != VARIANT_FALSE; }
    long Long(UINT i) const { return At(i).lVal; }
    short Short(UINT i) const { return At(i).iVal; }
    double Dbl(UINT i) const { return At(i).dblVal; }
};

class DispatchBase : public IDispatch {
public:
    DispatchBase(const wchar_t* name, const Member* members, size_t count)
        : m_logName(name), m_members(members), m_count(count)
    {
        ::InterlockedIncrement(&g_live);
    }
    virtual ~DispatchBase() { ::InterlockedDecrement(&g_live); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = ::InterlockedDecrement(&m_refs);
        if (!left)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
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
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* info,
                        UINT* argError) override
    {
        if (result)
            ::VariantInit(result);
        DISPPARAMS none = {};
        if (!dp)
            dp = &none;
        WORD kind = 0;
        const HRESULT hr = Check(id, flags, dp, &kind, argError);
        if (FAILED(hr)) {
            Log(std::wstring(m_logName) + L" refused " + std::to_wstring(id) + L" flags " + std::to_wstring(flags) +
                L" (0x" + Hex(hr) + L")");
            return hr;
        }
        return Call(id, static_cast<Kind>(kind), Args{dp}, result, info);
    }

protected:
    virtual HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* result, EXCEPINFO* info) = 0;

    static HRESULT Answer(VARIANT* r, long v)
    {
        if (r) {
            r->vt = VT_I4;
            r->lVal = v;
        }
        return S_OK;
    }
    static HRESULT AnswerBool(VARIANT* r, bool v)
    {
        if (r) {
            r->vt = VT_BOOL;
            r->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, double v)
    {
        if (r) {
            r->vt = VT_R8;
            r->dblVal = v;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, const std::wstring& v)
    {
        if (r) {
            r->vt = VT_BSTR;
            r->bstrVal = ::SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, IDispatch* v)
    {
        if (r) {
            r->vt = VT_DISPATCH;
            r->pdispVal = v;
        } else if (v) {
            v->Release();
        }
        return S_OK;
    }
    static HRESULT Raise(EXCEPINFO* info, SCODE code, const wchar_t* text)
    {
        if (info) {
            ZeroMemory(info, sizeof *info);
            info->scode = code;
            info->bstrSource = ::SysAllocString(L"ShockwaveFlash");
            if (text)
                info->bstrDescription = ::SysAllocString(text);
        }
        return DISP_E_EXCEPTION;
    }
    static std::wstring Hex(HRESULT hr)
    {
        wchar_t b[16];
        swprintf(b, 16, L"%08lX", static_cast<unsigned long>(hr));
        return b;
    }

    const wchar_t* m_logName;

private:
    HRESULT Check(DISPID id, WORD flags, DISPPARAMS* dp, WORD* kind, UINT* argError) const
    {
        const Member* found = nullptr;
        bool known = false;
        for (size_t i = 0; i < m_count; ++i) {
            if (m_members[i].id != id)
                continue;
            known = true;
            if (flags & m_members[i].kind) {
                found = &m_members[i];
                break;
            }
        }
        if (!known || !found)
            return DISP_E_MEMBERNOTFOUND;
        if (found->kind == Put) {
            if (dp->cNamedArgs != 1 || !dp->rgdispidNamedArgs || dp->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTOPTIONAL;
        } else if (dp->cNamedArgs) {
            return DISP_E_NONAMEDARGS;
        }
        if (dp->cArgs != found->argc)
            return DISP_E_BADPARAMCOUNT;
        for (UINT i = 0; i < found->argc; ++i) {
            if (dp->rgvarg[dp->cArgs - 1 - i].vt != found->args[i]) {
                if (argError)
                    *argError = dp->cArgs - 1 - i;
                return DISP_E_TYPEMISMATCH;
            }
        }
        *kind = found->kind;
        return S_OK;
    }

    LONG m_refs = 1;
    const Member* m_members;
    size_t m_count;
};

} // namespace sim
