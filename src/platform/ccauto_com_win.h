// SPDX-License-Identifier: Apache-2.0
#pragma once

// The ClearCase Automation Library through COM late binding
// (GetIDsOfNames + IDispatch::Invoke), free of Qt. Texts are std::string
// in the ANSI code page; BSTRs and VARIANTs never leave this layer
// unowned. A failing call throws ComError whose what() is the library's
// own error description, or the system's text for the HRESULT when the
// library gives none.

#include <windows.h>

// WIN32_LEAN_AND_MEAN keeps ole2.h out of windows.h: the COM runtime
// (CoInitializeEx, CoCreateInstance, CLSIDFromProgID) and the automation
// types are included by name.
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

namespace plat::wincom {

class ComError : public std::runtime_error {
public:
    ComError(HRESULT hr, const std::string& description)
        : std::runtime_error(description), m_hr(hr) {}
    HRESULT hresult() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

// The system's text for an HRESULT, or "COM error 0x...." when it has none.
std::string hresult_message(HRESULT hr);

// ANSI <-> BSTR. to_bstr's result belongs to the caller (SysFreeString);
// a null BSTR converts to the empty text.
std::string to_ansi(BSTR text);
BSTR to_bstr(const std::string& text);

// Keeps COM initialised on the thread while objects made through it live.
// Joining an apartment that the thread already has (Qt initialises OLE on
// its GUI thread) is fine, whatever its threading model.
class Apartment {
public:
    static std::shared_ptr<Apartment> enter();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment();

private:
    explicit Apartment(bool owns) : m_owns(owns) {}
    bool m_owns;
};

// One argument of a late-bound call.
class Arg {
public:
    Arg(bool value) : m_kind(Kind::Bool), m_bool(value) {}
    Arg(int value) : m_kind(Kind::Long), m_long(value) {}
    Arg(long value) : m_kind(Kind::Long), m_long(value) {}
    Arg(const char* value) : m_kind(Kind::Text), m_text(value ? value : "") {}
    Arg(std::string value) : m_kind(Kind::Text), m_text(std::move(value)) {}

    // Fills an empty VARIANT; the caller clears it.
    void fill(VARIANT& out) const;

private:
    enum class Kind { Bool, Long, Text };
    Kind m_kind;
    bool m_bool = false;
    long m_long = 0;
    std::string m_text;
};

class Object;

// An owned VARIANT, cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant&& other) noexcept;
    ~Variant() { VariantClear(&m_value); }

    VARIANT* out() { return &m_value; }
    const VARIANT& get() const { return m_value; }

    std::string toString() const;
    // True only for VARIANT_TRUE (other types are converted first).
    bool toBool() const;
    long toLong() const;
    Object toObject(std::shared_ptr<Apartment> apartment) const;

private:
    VARIANT* source() const;
    VARIANT m_value;
};

// An IDispatch reference, driven by member names.
class Object {
public:
    Object() = default;
    // Takes over the reference the caller holds.
    Object(IDispatch* adopted, std::shared_ptr<Apartment> apartment);
    Object(const Object& other);
    Object& operator=(const Object& other);
    Object(Object&& other) noexcept;
    Object& operator=(Object&& other) noexcept;
    ~Object();

    bool isNull() const { return m_dispatch == nullptr; }
    IDispatch* dispatch() const { return m_dispatch; }

    // Reads a property or calls a method (both invoke kinds are offered,
    // as Visual Basic does), with the arguments in their written order.
    Variant get(const std::string& member, std::initializer_list<Arg> args = {}) const;
    // Calls and returns the object the member gives.
    Object getObject(const std::string& member, std::initializer_list<Arg> args = {}) const;

private:
    void release();

    IDispatch* m_dispatch = nullptr;
    std::shared_ptr<Apartment> m_apartment;
};

// Makes the IDispatch of the class named by progId (clsid, in registry
// form "{...}", when the name is not registered), handing over one
// reference. Throws ComError.
using Factory = std::function<IDispatch*(const std::string& progId, const std::string& clsid)>;
IDispatch* create_dispatch(const std::string& progId, const std::string& clsid);

// Makes an object through factory (create_dispatch when empty) in the
// thread's apartment.
Object create_object(const std::string& progId, const std::string& clsid,
                     const Factory& factory = {});

constexpr const char* kApplicationProgId = "ClearCase.Application";
constexpr const char* kApplicationClsid = "{B22C7EFB-5A5E-11D3-B1CD-00C04F8ECE2F}";
constexpr const char* kClearToolProgId = "ClearCase.ClearTool";
constexpr const char* kClearToolClsid = "{B22C7EFC-5A5E-11D3-B1CD-00C04F8ECE2F}";

class View {
public:
    explicit View(Object object) : m_object(std::move(object)) {}
    std::string tagName() const;
    std::string host() const;
    bool isActive() const;
    bool isSnapShot() const;
    bool isUCMView() const;
    std::string configSpec() const;

private:
    Object m_object;
};

// Counted from 1, as the library's collections are.
class ViewCollection {
public:
    explicit ViewCollection(Object object) : m_object(std::move(object)) {}
    long count() const;
    View item(long index) const;

private:
    Object m_object;
};

class Application {
public:
    static Application create(const Factory& factory = {});
    explicit Application(Object object) : m_object(std::move(object)) {}
    ViewCollection views(bool flag, const std::string& region) const;
    View view(const std::string& tag) const;

private:
    Object m_object;
};

class ClearTool {
public:
    static ClearTool create(const Factory& factory = {});
    explicit ClearTool(Object object) : m_object(std::move(object)) {}
    // A cleartool command line without the tool's name; its output.
    std::string cmdExec(const std::string& command) const;

private:
    Object m_object;
};

} // namespace plat::wincom
