// SPDX-License-Identifier: Apache-2.0
// The COM late-binding layer: against an in-process fake of the
// automation library, and against a class Wine really ships
// (Scripting.Dictionary) to prove the CoCreateInstance + IDispatch path.
#include "platform/ccauto_com_win.h"

#include "fake_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wincom = plat::wincom;

namespace {

constexpr HRESULT kViewGone = static_cast<HRESULT>(0x80040202L);

class ComTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Every reference the layer took must have been given back.
        EXPECT_EQ(fake::live_objects(), 0);
    }

    // A factory handing out the fakes, remembering what it was asked.
    wincom::Factory factory(fake::Ref& application, fake::Ref& clearTool) {
        return [this, &application, &clearTool](const std::string& progId,
                                                const std::string& clsid) -> IDispatch* {
            m_requests.push_back(progId + " " + clsid);
            if (progId == wincom::kApplicationProgId)
                return application.share();
            if (progId == wincom::kClearToolProgId)
                return clearTool.share();
            return nullptr;
        };
    }

    std::vector<std::string> m_requests;
};

// Builds a view with the given tag; the other properties are fixed.
void make_view(fake::Dispatch* view, const std::wstring& tag, VARIANT_BOOL active) {
    view->text(L"TagName", tag);
    view->text(L"Host", L"host-" + tag);
    view->boolean(L"IsActive", active);
    view->boolean(L"IsSnapShot", VARIANT_FALSE);
    view->boolean(L"IsUCMView", VARIANT_TRUE);
    view->text(L"ConfigSpec", L"element * CHECKEDOUT\r\nelement * /main/LATEST\r\n");
}

TEST_F(ComTest, ViewCollectionIsReadThroughCountAndItemFromOne) {
    fake::Ref app, tool, collection;
    std::vector<fake::Ref> views(3);
    const std::wstring tags[] = {L"alice_dev", L"bob_int", L"carol_rel"};
    for (int i = 0; i < 3; ++i)
        make_view(views[i].get(), tags[i], i == 1 ? VARIANT_TRUE : VARIANT_FALSE);
    collection->number(L"Count", 3);
    collection->on(L"Item", [&](const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO*) {
        if (args.size() != 1 || args[0]->vt != VT_I4 || args[0]->lVal < 1 || args[0]->lVal > 3)
            return DISP_E_BADINDEX;
        IDispatch* item = views[static_cast<std::size_t>(args[0]->lVal - 1)].share();
        result->vt = VT_DISPATCH;
        result->pdispVal = item;
        return S_OK;
    });
    app->object(L"Views", collection.get());

    {
        const auto application = wincom::create_application(factory(app, tool));
        const auto all = application->views(false, "");
        ASSERT_EQ(all->count(), 3);
        std::vector<std::string> seen;
        for (int i = 1; i <= all->count(); ++i)
            seen.push_back(all->item(i)->tagName());
        EXPECT_EQ(seen, (std::vector<std::string>{"alice_dev", "bob_int", "carol_rel"}));

        const auto second = all->item(2);
        EXPECT_EQ(second->host(), "host-bob_int");
        EXPECT_TRUE(second->isActive());
        EXPECT_FALSE(all->item(1)->isActive());
        EXPECT_FALSE(second->isSnapShot());
        EXPECT_TRUE(second->isUCMView());
        EXPECT_EQ(second->configSpec(), "element * CHECKEDOUT\r\nelement * /main/LATEST\r\n");

        EXPECT_THROW(all->item(0), wincom::ComError);
        EXPECT_THROW(all->item(4), wincom::ComError);
    }

    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0], "ClearCase.Application {B22C7EFB-5A5E-11D3-B1CD-00C04F8ECE2F}");
    // Views(False, ""): both arguments in their written order and types.
    ASSERT_EQ(app->calls().size(), 1u);
    const fake::Call& call = app->calls()[0];
    EXPECT_EQ(call.member, L"Views");
    EXPECT_EQ(call.flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ASSERT_EQ(call.args.size(), 2u);
    EXPECT_EQ(call.args[0].type, VT_BOOL);
    EXPECT_EQ(call.args[0].text, L"false");
    EXPECT_EQ(call.args[1].type, VT_BSTR);
    EXPECT_EQ(call.args[1].text, L"");
}

TEST_F(ComTest, ViewsPassesFlagAndRegion) {
    fake::Ref app, tool, collection;
    collection->number(L"Count", 0);
    app->object(L"Views", collection.get());
    const auto application = wincom::create_application(factory(app, tool));
    EXPECT_EQ(application->views(true, "win_region")->count(), 0);
    ASSERT_EQ(app->calls().size(), 1u);
    ASSERT_EQ(app->calls()[0].args.size(), 2u);
    EXPECT_EQ(app->calls()[0].args[0].text, L"true");
    EXPECT_EQ(app->calls()[0].args[1].text, L"win_region");
}

TEST_F(ComTest, OnlyVariantTrueIsTrue) {
    fake::Ref app, tool, view;
    view->boolean(L"IsActive", 1); // not VARIANT_TRUE (-1)
    view->boolean(L"IsSnapShot", VARIANT_TRUE);
    view->number(L"IsUCMView", -1); // another type: converted first
    app->object(L"View", view.get());
    const auto v = wincom::create_application(factory(app, tool))->view("x");
    EXPECT_FALSE(v->isActive());
    EXPECT_TRUE(v->isSnapShot());
    EXPECT_TRUE(v->isUCMView());
}

TEST_F(ComTest, AutomationErrorsCarryTheLibrarysDescription) {
    fake::Ref app, tool, good, bad;
    make_view(good.get(), L"good_view", VARIANT_TRUE);
    bad->text(L"TagName", L"bad_view");
    bad->fail(L"Host", kViewGone, L"Unable to get view host: view storage not found");
    bad->failDeferred(L"ConfigSpec", static_cast<HRESULT>(0x80040203L),
                      L"Unable to get config spec");
    bad->fail(L"IsActive", kViewGone, L""); // no description: the system's text instead
    app->on(L"View", [&](const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* e) {
        const std::wstring tag(args[0]->bstrVal, SysStringLen(args[0]->bstrVal));
        fake::Dispatch* found = tag == L"good_view"  ? good.get()
                                : tag == L"bad_view" ? bad.get()
                                                     : nullptr;
        if (!found) {
            e->bstrDescription = SysAllocString((L"Unable to find view by tag: " + tag).c_str());
            e->scode = kViewGone;
            return DISP_E_EXCEPTION;
        }
        found->AddRef();
        result->vt = VT_DISPATCH;
        result->pdispVal = found;
        return S_OK;
    });

    const auto application = wincom::create_application(factory(app, tool));
    EXPECT_EQ(application->view("good_view")->host(), "host-good_view");

    const auto v = application->view("bad_view");
    EXPECT_EQ(v->tagName(), "bad_view");
    try {
        v->host();
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_STREQ(e.what(), "Unable to get view host: view storage not found");
        EXPECT_EQ(e.hresult(), kViewGone);
    }
    try {
        v->configSpec();
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_STREQ(e.what(), "Unable to get config spec");
    }
    try {
        v->isActive();
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_EQ(e.what(), wincom::hresult_message(kViewGone));
        EXPECT_STRNE(e.what(), "");
    }
    try {
        application->view("gone");
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_STREQ(e.what(), "Unable to find view by tag: gone");
    }
    // A member the object does not have.
    EXPECT_THROW(v->isUCMView(), wincom::ComError);
}

TEST_F(ComTest, CmdExecReturnsOutputAndRaisesErrors) {
    fake::Ref app, tool;
    tool->on(L"CmdExec", [](const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* e) {
        const std::wstring cmd(args[0]->bstrVal, SysStringLen(args[0]->bstrVal));
        if (cmd.rfind(L"lsview", 0) == 0) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(L"Global path: \\\\srv\\views\\a.vws\r\n");
            return S_OK;
        }
        e->bstrSource = SysAllocString(L"ClearCase.ClearTool");
        e->bstrDescription = SysAllocString(L"cleartool: Error: Unknown command \"bogus\".");
        e->scode = E_FAIL;
        return DISP_E_EXCEPTION;
    });
    const auto ct = wincom::create_cleartool(factory(app, tool));
    EXPECT_EQ(ct->cmdExec("lsview -long a"), "Global path: \\\\srv\\views\\a.vws\r\n");
    try {
        ct->cmdExec("bogus");
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_STREQ(e.what(), "cleartool: Error: Unknown command \"bogus\".");
    }
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0], "ClearCase.ClearTool {B22C7EFC-5A5E-11D3-B1CD-00C04F8ECE2F}");
    ASSERT_EQ(tool->calls().size(), 2u);
    EXPECT_EQ(tool->calls()[0].args[0].text, L"lsview -long a");
}

TEST_F(ComTest, AnsiTextSurvivesTheWayThroughBstr) {
    ASSERT_EQ(GetACP(), 1252u) << "the expectations below are for Windows-1252";
    const std::string ansi = "caf\xE9_\xC4rger_\x80"; // é, Ä, €
    BSTR wide = wincom::to_bstr(ansi);
    EXPECT_EQ(std::wstring(wide, SysStringLen(wide)), L"caf\u00E9_\u00C4rger_\u20AC");
    EXPECT_EQ(wincom::to_ansi(wide), ansi);
    SysFreeString(wide);
    EXPECT_EQ(wincom::to_ansi(nullptr), "");

    // Through the fake: the command goes out as wide text, the answer
    // comes back in the code page.
    fake::Ref app, tool;
    tool->on(L"CmdExec", [](const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO*) {
        std::wstring echo(args[0]->bstrVal, SysStringLen(args[0]->bstrVal));
        echo += L" \u00FC\u00DF"; // üß
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(echo.c_str());
        return S_OK;
    });
    const auto ct = wincom::create_cleartool(factory(app, tool));
    EXPECT_EQ(ct->cmdExec("lsview " + ansi), "lsview " + ansi + " \xFC\xDF");
    EXPECT_EQ(tool->calls()[0].args[0].text, L"lsview caf\u00E9_\u00C4rger_\u20AC");
}

TEST_F(ComTest, UnexpectedResultsAreErrorsNotCrashes) {
    fake::Ref app, tool, view;
    app->text(L"View", L"not an object");
    app->on(L"Views", [](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        result->vt = VT_DISPATCH; // a null object
        result->pdispVal = nullptr;
        return S_OK;
    });
    const auto application = wincom::create_application(factory(app, tool));
    EXPECT_THROW(application->view("x"), wincom::ComError);
    EXPECT_THROW(application->views(false, ""), wincom::ComError);

    wincom::Object none;
    EXPECT_THROW(none.get("Anything"), wincom::ComError);

    // A factory that has nothing to give.
    const wincom::Factory empty = [](const std::string&, const std::string&) -> IDispatch* {
        return nullptr;
    };
    EXPECT_THROW(wincom::create_cleartool(empty), wincom::ComError);
}

TEST_F(ComTest, ObjectsShareAndReleaseTheirReferences) {
    fake::Ref app, tool;
    {
        wincom::Object a(app.share(), nullptr);
        EXPECT_EQ(app->references(), 2u);
        wincom::Object b = a;
        EXPECT_EQ(app->references(), 3u);
        wincom::Object c = std::move(b);
        EXPECT_TRUE(b.isNull());
        EXPECT_EQ(app->references(), 3u);
        c = a;
        EXPECT_EQ(app->references(), 3u);
        c = wincom::Object(tool.share(), nullptr);
        EXPECT_EQ(app->references(), 2u);
        EXPECT_EQ(tool->references(), 2u);
    }
    EXPECT_EQ(app->references(), 1u);
    EXPECT_EQ(tool->references(), 1u);
}

TEST_F(ComTest, ApartmentIsLeftAsFound) {
    fake::Ref app, tool, view;
    app->object(L"View", view.get());
    view->text(L"TagName", L"v");
    {
        const auto application = wincom::create_application(factory(app, tool));
        const auto v = application->view("v");
        EXPECT_EQ(v->tagName(), "v");
    }
    // Nothing left initialised: a new initialisation is the first again.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr))
        CoUninitialize();

    // A thread already in the multithreaded apartment is used as it is.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
        const auto application = wincom::create_application(factory(app, tool));
        EXPECT_EQ(application->view("v")->tagName(), "v");
    }
    CoUninitialize();
}

// ---- A real class through CoCreateInstance --------------------------------------------

constexpr const char* kDictionaryClsid = "{EE09B103-97E0-11CF-978F-00A02463E06F}";

TEST(ComRealObjectTest, ScriptingDictionaryThroughLateBinding) {
    const wincom::Object dict = wincom::create_object("Scripting.Dictionary", kDictionaryClsid);
    dict.get("Add", {"alpha", "first"});
    dict.get("Add", {"b\xE9ta", 2});
    EXPECT_EQ(dict.get("Count").toLong(), 2);
    EXPECT_EQ(dict.get("Item", {"alpha"}).toString(), "first");
    EXPECT_EQ(dict.get("Item", {"b\xE9ta"}).toLong(), 2);
    EXPECT_TRUE(dict.get("Exists", {"alpha"}).toBool());
    EXPECT_FALSE(dict.get("Exists", {"gamma"}).toBool());

    try {
        dict.get("NoSuchMember");
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_EQ(e.hresult(), DISP_E_UNKNOWNNAME);
        EXPECT_STRNE(e.what(), "");
    }
    // A key added twice is the dictionary's own error.
    EXPECT_THROW(dict.get("Add", {"alpha", "again"}), wincom::ComError);
    EXPECT_EQ(dict.get("Count").toLong(), 2);
}

TEST(ComRealObjectTest, ClassIdIsUsedWhenTheNameIsUnknown) {
    IDispatch* raw = nullptr;
    const std::shared_ptr<wincom::Apartment> apartment = wincom::Apartment::enter();
    raw = wincom::create_dispatch("Tessaly.NoSuchName", kDictionaryClsid);
    ASSERT_NE(raw, nullptr);
    const wincom::Object dict(raw, apartment);
    EXPECT_EQ(dict.get("Count").toLong(), 0);
}

TEST(ComRealObjectTest, MissingClearCaseIsAClearError) {
    try {
        wincom::create_application();
        ADD_FAILURE() << "ClearCase is not installed in the test prefix";
    } catch (const wincom::ComError& e) {
        EXPECT_TRUE(FAILED(e.hresult()));
        EXPECT_STRNE(e.what(), "");
    }
    try {
        wincom::create_object("Tessaly.NoSuchName", "not a class id");
        ADD_FAILURE() << "no exception";
    } catch (const wincom::ComError& e) {
        EXPECT_STRNE(e.what(), "");
    }
}

} // namespace
