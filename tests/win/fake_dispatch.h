// SPDX-License-Identifier: Apache-2.0
#pragma once

// An in-process IDispatch that plays objects of the ClearCase Automation
// Library for the COM layer tests: members are registered by name with a
// handler; every call is recorded; live instances are counted so that
// tests can prove every reference was released.

#include <windows.h>

#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

namespace fake {

// Instances alive right now.
int live_objects();

// One argument as the fake received it: its type and its text.
struct ArgSeen {
    VARTYPE type = VT_EMPTY;
    std::wstring text; // BSTR content; "true"/"false" (exactly VARIANT_TRUE/FALSE) or the
                       // raw number for VT_BOOL; the number for VT_I4
};

struct Call {
    std::wstring member;
    WORD flags = 0;
    std::vector<ArgSeen> args; // in written order
};

class Dispatch final : public IDispatch {
public:
    // args in written order; result is empty on entry.
    using Handler =
        std::function<HRESULT(const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO*)>;

    // Made with one reference, which the creator owns.
    Dispatch();
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;

    void on(const std::wstring& member, Handler handler);
    void text(const std::wstring& member, const std::wstring& value);
    void boolean(const std::wstring& member, VARIANT_BOOL value);
    void number(const std::wstring& member, long value);
    // The member returns child (a new reference each time).
    void object(const std::wstring& member, Dispatch* child);
    // The member raises an automation error with this description.
    void fail(const std::wstring& member, HRESULT code, const std::wstring& description);
    // Same, but the description only comes through pfnDeferredFillIn.
    void failDeferred(const std::wstring& member, HRESULT code, const std::wstring& description);

    const std::vector<Call>& calls() const { return m_calls; }
    ULONG references() const { return m_refs; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argError) override;

private:
    ~Dispatch();

    struct Member {
        std::wstring name;
        Handler handler;
    };
    std::vector<Member> m_members; // DISPID = index + 1
    std::vector<Call> m_calls;
    ULONG m_refs = 1;
};

// Releases the creator's reference when it goes.
class Ref {
public:
    Ref() : m_p(new Dispatch) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { m_p->Release(); }
    Dispatch* operator->() const { return m_p; }
    Dispatch* get() const { return m_p; }
    // A new reference for whoever takes it over (e.g. a factory's caller).
    IDispatch* share() const {
        m_p->AddRef();
        return m_p;
    }

private:
    Dispatch* m_p;
};

} // namespace fake
