// SPDX-License-Identifier: Apache-2.0
#pragma once

// The ClearCase Automation Library through COM late binding
// (GetIDsOfNames + IDispatch::Invoke), free of Qt: the objects of
// ccauto_api.h over IDispatch. The layer's texts are std::string in the
// ANSI code page (its objects convert to the text type their user names);
// BSTRs and VARIANTs never leave this layer unowned. A failing call throws ComError whose what() is
// the library's own error description, or the system's text for the HRESULT when the library gives
// none.

#include "platform/ccauto_api.h"

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
#include <utility>

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

// How a user of the layer sees texts and errors. Text is its string type;
// ansi turns a Text into the ANSI code page and text turns it back; guard
// runs one call of the layer and may turn ComError into an error of the
// user's own. AnsiTexts is the layer's own view: std::string, ComError.
struct AnsiTexts {
    using Text = std::string;
    static std::string ansi(const std::string& text) { return text; }
    static std::string text(std::string encoded) { return encoded; }
    template <typename Call> static auto guard(Call&& call) -> decltype(call()) { return call(); }
};

// The automation library's objects (ccauto_api.h) over their IDispatch,
// each call guarded by Face.
template <typename Face> class View final : public ccauto::View<typename Face::Text> {
public:
    using Text = typename Face::Text;
    explicit View(Object object) : m_object(std::move(object)) {}
    Text tagName() override { return text("TagName"); }
    Text host() override { return text("Host"); }
    bool isActive() override { return flag("IsActive"); }
    bool isSnapShot() override { return flag("IsSnapShot"); }
    bool isUCMView() override { return flag("IsUCMView"); }
    Text configSpec() override { return text("ConfigSpec"); }

private:
    Text text(const char* member) {
        return Face::guard([&] { return Face::text(m_object.get(member).toString()); });
    }
    bool flag(const char* member) {
        return Face::guard([&] { return m_object.get(member).toBool(); });
    }
    Object m_object;
};

template <typename Face>
class ViewCollection final : public ccauto::ViewCollection<typename Face::Text> {
public:
    using Text = typename Face::Text;
    explicit ViewCollection(Object object) : m_object(std::move(object)) {}
    int count() override {
        return Face::guard([&] { return static_cast<int>(m_object.get("Count").toLong()); });
    }
    std::unique_ptr<ccauto::View<Text>> item(int index) override {
        return Face::guard([&]() -> std::unique_ptr<ccauto::View<Text>> {
            return std::make_unique<View<Face>>(m_object.getObject("Item", {index}));
        });
    }

private:
    Object m_object;
};

template <typename Face> class Application final : public ccauto::Application<typename Face::Text> {
public:
    using Text = typename Face::Text;
    explicit Application(Object object) : m_object(std::move(object)) {}
    std::unique_ptr<ccauto::ViewCollection<Text>> views(bool flag, const Text& region) override {
        return Face::guard([&]() -> std::unique_ptr<ccauto::ViewCollection<Text>> {
            return std::make_unique<ViewCollection<Face>>(
                m_object.getObject("Views", {flag, Face::ansi(region)}));
        });
    }
    std::unique_ptr<ccauto::View<Text>> view(const Text& tag) override {
        return Face::guard([&]() -> std::unique_ptr<ccauto::View<Text>> {
            return std::make_unique<View<Face>>(m_object.getObject("View", {Face::ansi(tag)}));
        });
    }

private:
    Object m_object;
};

template <typename Face> class ClearTool final : public ccauto::ClearTool<typename Face::Text> {
public:
    using Text = typename Face::Text;
    explicit ClearTool(Object object) : m_object(std::move(object)) {}
    Text cmdExec(const Text& command) override {
        return Face::guard(
            [&] { return Face::text(m_object.get("CmdExec", {Face::ansi(command)}).toString()); });
    }

private:
    Object m_object;
};

// The library's two creatable objects, made through factory
// (create_dispatch when empty).
template <typename Face = AnsiTexts>
std::unique_ptr<ccauto::Application<typename Face::Text>>
create_application(const Factory& factory = {}) {
    return Face::guard([&]() -> std::unique_ptr<ccauto::Application<typename Face::Text>> {
        return std::make_unique<Application<Face>>(
            create_object(kApplicationProgId, kApplicationClsid, factory));
    });
}

template <typename Face = AnsiTexts>
std::unique_ptr<ccauto::ClearTool<typename Face::Text>>
create_cleartool(const Factory& factory = {}) {
    return Face::guard([&]() -> std::unique_ptr<ccauto::ClearTool<typename Face::Text>> {
        return std::make_unique<ClearTool<Face>>(
            create_object(kClearToolProgId, kClearToolClsid, factory));
    });
}

} // namespace plat::wincom
