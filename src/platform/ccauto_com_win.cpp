// SPDX-License-Identifier: Apache-2.0
#include "platform/ccauto_com_win.h"
#include "platform/syserror_win.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace plat::wincom {

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (n <= 0)
        throw ComError(HRESULT_FROM_WIN32(GetLastError()), hresult_message(E_INVALIDARG));
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
    return wide;
}

// The three texts of an EXCEPINFO, freed whatever happens to the caller.
class ExcepInfo {
public:
    ExcepInfo() = default;
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
    ~ExcepInfo() {
        SysFreeString(m_info.bstrSource);
        SysFreeString(m_info.bstrDescription);
        SysFreeString(m_info.bstrHelpFile);
    }
    EXCEPINFO* out() { return &m_info; }

    ComError error(HRESULT invokeResult) {
        if (m_info.pfnDeferredFillIn) {
            m_info.pfnDeferredFillIn(&m_info);
            m_info.pfnDeferredFillIn = nullptr;
        }
        const HRESULT code = FAILED(m_info.scode) ? m_info.scode : invokeResult;
        std::string description = to_ansi(m_info.bstrDescription);
        if (description.empty())
            description = hresult_message(code);
        return ComError(code, description);
    }

private:
    EXCEPINFO m_info{};
};

// The argument VARIANTs of one call, cleared when it is over.
class Arguments {
public:
    explicit Arguments(std::initializer_list<Arg> args) : m_values(args.size()) {
        for (VARIANT& value : m_values)
            VariantInit(&value);
    }
    // IDispatch::Invoke takes the arguments last to first. Filled after
    // construction, so that a failing conversion still clears the others.
    void fill(std::initializer_list<Arg> args) {
        std::size_t slot = m_values.size();
        for (const Arg& arg : args)
            arg.fill(m_values[--slot]);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments() {
        for (VARIANT& value : m_values)
            VariantClear(&value);
    }
    DISPPARAMS params() {
        DISPPARAMS p{};
        p.rgvarg = m_values.empty() ? nullptr : m_values.data();
        p.cArgs = static_cast<UINT>(m_values.size());
        return p;
    }

private:
    std::vector<VARIANT> m_values;
};

void check(HRESULT hr) {
    if (FAILED(hr))
        throw ComError(hr, hresult_message(hr));
}

} // namespace

std::string hresult_message(HRESULT hr) {
    std::string message = system_text(static_cast<DWORD>(hr));
    if (message.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "COM error 0x%08lX",
                      static_cast<unsigned long>(static_cast<DWORD>(hr)));
        message = code;
    }
    return message;
}

std::string to_ansi(BSTR text) {
    const UINT length = SysStringLen(text);
    if (length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int n = WideCharToMultiByte(CP_ACP, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

BSTR to_bstr(const std::string& text) {
    const std::wstring wide = widen(text);
    BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!result)
        throw ComError(E_OUTOFMEMORY, hresult_message(E_OUTOFMEMORY));
    return result;
}

// ---- Apartment --------------------------------------------------------------

std::shared_ptr<Apartment> Apartment::enter() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE) // initialised already, in the other model
        return std::shared_ptr<Apartment>(new Apartment(false));
    check(hr);
    // S_OK and S_FALSE both want their CoUninitialize.
    return std::shared_ptr<Apartment>(new Apartment(true));
}

Apartment::~Apartment() {
    if (m_owns)
        CoUninitialize();
}

// ---- Arg, Variant -------------------------------------------------------------

void Arg::fill(VARIANT& out) const {
    switch (m_kind) {
    case Kind::Bool:
        out.vt = VT_BOOL;
        out.boolVal = m_bool ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case Kind::Long:
        out.vt = VT_I4;
        out.lVal = m_long;
        break;
    case Kind::Text:
        out.bstrVal = to_bstr(m_text);
        out.vt = VT_BSTR;
        break;
    }
}

Variant::Variant(Variant&& other) noexcept : m_value(other.m_value) {
    VariantInit(&other.m_value);
}

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        VariantClear(&m_value);
        m_value = other.m_value;
        VariantInit(&other.m_value);
    }
    return *this;
}

// VariantChangeType does not write its source, but mingw-w64 declares the
// parameter without const.
VARIANT* Variant::source() const {
    return const_cast<VARIANT*>(&m_value);
}

std::string Variant::toString() const {
    if (m_value.vt == VT_BSTR)
        return to_ansi(m_value.bstrVal);
    Variant converted;
    check(VariantChangeType(converted.out(), source(), VARIANT_ALPHABOOL, VT_BSTR));
    return to_ansi(converted.get().bstrVal);
}

bool Variant::toBool() const {
    if (m_value.vt == VT_BOOL)
        return m_value.boolVal == VARIANT_TRUE;
    Variant converted;
    check(VariantChangeType(converted.out(), source(), 0, VT_BOOL));
    return converted.get().boolVal == VARIANT_TRUE;
}

long Variant::toLong() const {
    if (m_value.vt == VT_I4)
        return m_value.lVal;
    Variant converted;
    check(VariantChangeType(converted.out(), source(), 0, VT_I4));
    return converted.get().lVal;
}

Object Variant::toObject(std::shared_ptr<Apartment> apartment) const {
    IUnknown* unknown = nullptr;
    if (m_value.vt == VT_DISPATCH)
        unknown = m_value.pdispVal;
    else if (m_value.vt == VT_UNKNOWN)
        unknown = m_value.punkVal;
    if (!unknown)
        throw ComError(DISP_E_TYPEMISMATCH, "Object required");
    IDispatch* dispatch = nullptr;
    check(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    return Object(dispatch, std::move(apartment));
}

// ---- Object -------------------------------------------------------------------

Object::Object(IDispatch* adopted, std::shared_ptr<Apartment> apartment)
    : m_dispatch(adopted), m_apartment(std::move(apartment)) {}

Object::Object(const Object& other) : m_dispatch(other.m_dispatch), m_apartment(other.m_apartment) {
    if (m_dispatch)
        m_dispatch->AddRef();
}

Object& Object::operator=(const Object& other) {
    if (this != &other) {
        if (other.m_dispatch)
            other.m_dispatch->AddRef();
        release();
        m_dispatch = other.m_dispatch;
        m_apartment = other.m_apartment;
    }
    return *this;
}

Object::Object(Object&& other) noexcept
    : m_dispatch(std::exchange(other.m_dispatch, nullptr)),
      m_apartment(std::move(other.m_apartment)) {}

Object& Object::operator=(Object&& other) noexcept {
    if (this != &other) {
        release();
        m_dispatch = std::exchange(other.m_dispatch, nullptr);
        m_apartment = std::move(other.m_apartment);
    }
    return *this;
}

Object::~Object() {
    release();
}

void Object::release() {
    // The reference goes before the apartment it lives in.
    if (m_dispatch)
        m_dispatch->Release();
    m_dispatch = nullptr;
    m_apartment.reset();
}

Variant Object::get(const std::string& member, std::initializer_list<Arg> args) const {
    if (!m_dispatch)
        throw ComError(E_POINTER, "Object variable not set");
    std::wstring name = widen(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    check(m_dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));

    Arguments arguments(args);
    arguments.fill(args);
    DISPPARAMS params = arguments.params();
    Variant result;
    ExcepInfo exception;
    UINT argumentError = 0;
    const HRESULT hr = m_dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                          result.out(), exception.out(), &argumentError);
    if (hr == DISP_E_EXCEPTION)
        throw exception.error(hr);
    check(hr);
    return result;
}

Object Object::getObject(const std::string& member, std::initializer_list<Arg> args) const {
    return get(member, args).toObject(m_apartment);
}

// ---- Creation -------------------------------------------------------------------

IDispatch* create_dispatch(const std::string& progId, const std::string& clsid) {
    CLSID classId{};
    HRESULT hr = CLSIDFromProgID(widen(progId).c_str(), &classId);
    if (FAILED(hr)) {
        std::wstring text = widen(clsid);
        if (FAILED(CLSIDFromString(text.data(), &classId)))
            check(hr); // the name's failure says more than the number's
    }
    IDispatch* dispatch = nullptr;
    check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                           IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    return dispatch;
}

Object create_object(const std::string& progId, const std::string& clsid, const Factory& factory) {
    std::shared_ptr<Apartment> apartment = Apartment::enter();
    IDispatch* dispatch = factory ? factory(progId, clsid) : create_dispatch(progId, clsid);
    if (!dispatch)
        throw ComError(E_NOINTERFACE, hresult_message(E_NOINTERFACE));
    return Object(dispatch, std::move(apartment));
}

} // namespace plat::wincom
