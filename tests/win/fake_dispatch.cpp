// SPDX-License-Identifier: Apache-2.0
#include "fake_dispatch.h"

#include <string>

namespace fake {

namespace {
int g_live = 0;

ArgSeen describe(const VARIANT& v) {
    ArgSeen seen;
    seen.type = v.vt;
    if (v.vt == VT_BSTR)
        seen.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
    else if (v.vt == VT_BOOL)
        seen.text = v.boolVal == VARIANT_TRUE    ? L"true"
                    : v.boolVal == VARIANT_FALSE ? L"false"
                                                 : std::to_wstring(v.boolVal);
    else if (v.vt == VT_I4)
        seen.text = std::to_wstring(v.lVal);
    return seen;
}

void fill(EXCEPINFO* exception, HRESULT code, const std::wstring& description) {
    exception->scode = code;
    exception->bstrSource = SysAllocString(L"ClearCase.Fake");
    exception->bstrDescription = SysAllocString(description.c_str());
    exception->bstrHelpFile = SysAllocString(L"cc_auto.chm");
}

// Deferred texts: the callback has nowhere to look them up, so they are
// keyed by the code.
std::vector<std::pair<HRESULT, std::wstring>> g_deferred;

HRESULT STDMETHODCALLTYPE deferred_fill(EXCEPINFO* exception) {
    for (const auto& entry : g_deferred)
        if (entry.first == exception->scode)
            fill(exception, entry.first, entry.second);
    return S_OK;
}
} // namespace

int live_objects() {
    return g_live;
}

Dispatch::Dispatch() {
    ++g_live;
}
Dispatch::~Dispatch() {
    --g_live;
}

void Dispatch::on(const std::wstring& member, Handler handler) {
    m_members.push_back({member, std::move(handler)});
}

void Dispatch::text(const std::wstring& member, const std::wstring& value) {
    on(member, [value](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        return S_OK;
    });
}

void Dispatch::boolean(const std::wstring& member, VARIANT_BOOL value) {
    on(member, [value](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        result->vt = VT_BOOL;
        result->boolVal = value;
        return S_OK;
    });
}

void Dispatch::number(const std::wstring& member, long value) {
    on(member, [value](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        result->vt = VT_I4;
        result->lVal = value;
        return S_OK;
    });
}

void Dispatch::object(const std::wstring& member, Dispatch* child) {
    on(member, [child](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        child->AddRef();
        result->vt = VT_DISPATCH;
        result->pdispVal = child;
        return S_OK;
    });
}

void Dispatch::fail(const std::wstring& member, HRESULT code, const std::wstring& description) {
    on(member, [code, description](const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO* e) {
        if (e)
            fill(e, code, description);
        return DISP_E_EXCEPTION;
    });
}

void Dispatch::failDeferred(const std::wstring& member, HRESULT code,
                            const std::wstring& description) {
    g_deferred.emplace_back(code, description);
    on(member, [code](const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO* e) {
        if (e) {
            e->scode = code;
            e->pfnDeferredFillIn = deferred_fill;
        }
        return DISP_E_EXCEPTION;
    });
}

HRESULT Dispatch::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Dispatch::AddRef() {
    return ++m_refs;
}

ULONG Dispatch::Release() {
    const ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT Dispatch::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

HRESULT Dispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    *info = nullptr;
    return E_NOTIMPL;
}

HRESULT Dispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count != 1)
        return E_INVALIDARG;
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        if (_wcsicmp(m_members[i].name.c_str(), names[0]) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT Dispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT*) {
    if (id < 1 || static_cast<std::size_t>(id) > m_members.size())
        return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    const Member& member = m_members[static_cast<std::size_t>(id - 1)];
    Call call{member.name, flags, {}};
    std::vector<VARIANT*> args;
    for (UINT i = params->cArgs; i > 0; --i) {
        args.push_back(&params->rgvarg[i - 1]);
        call.args.push_back(describe(params->rgvarg[i - 1]));
    }
    m_calls.push_back(call);
    VARIANT scratch;
    VariantInit(&scratch);
    VARIANT* out = result ? result : &scratch;
    const HRESULT hr = member.handler(args, out, exception);
    VariantClear(&scratch);
    return hr;
}

} // namespace fake
