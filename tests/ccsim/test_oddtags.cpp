// SPDX-License-Identifier: Apache-2.0
// Tags a shell would mangle must survive the registry and every output form.
#include "simtest.h"

#include "internal.h"

#include <algorithm>

using namespace simtest;

namespace {

std::vector<std::string> oddTags() {
    std::string u300;
    while (u300.size() < 300)
        u300 += "long_view_ä_";
    return {"with blank",
            "  two  leading",
            "tab\there",
            "quote\"d",
            "single'q",
            "$HOME",
            "semi;colon && x",
            "back`tick`",
            "ümlaut_ß_日本",
            "*",
            "..",
            ".",
            "%09",
            "back\\slash",
            "trailing ",
            std::string(300, 'x'),
            u300};
}

} // namespace

TEST_F(SimTest, OddTagsRoundTripThroughRegistryAndOutput) {
    const auto tags = oddTags();
    std::vector<ccsim::View> added;
    for (const auto& t : tags)
        added.push_back(add(t, "odd host \"h\"", true));
    // Reopening the home reads back exactly what was written.
    const auto views = ccsim::Home(home_->dir()).views();
    ASSERT_EQ(views.size(), tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(views[i].tag, tags[i]);
        EXPECT_EQ(views[i].host, "odd host \"h\"");
        EXPECT_EQ(views[i].storage, added[i].storage);
    }
    for (const auto& v : added) {
        SCOPED_TRACE(v.tag);
        Result r = ct({"lsview", "-short", v.tag});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, v.tag + "\n");
        r = ct({"lsview", "-long", v.tag});
        EXPECT_EQ(r.out.substr(0, 5 + v.tag.size() + 1), "Tag: " + v.tag + "\n");
        EXPECT_NE(r.out.find("  Global path: " + v.storage + "\n"), std::string::npos);
        EXPECT_NE(r.out.find("  Server host: odd host \"h\"\n"), std::string::npos);
        r = ct({"lsview", v.tag});
        EXPECT_EQ(r.out.substr(0, 2 + v.tag.size()), "* " + v.tag);
        EXPECT_EQ(ct({"catcs", "-tag", v.tag}).status, 0);
        EXPECT_TRUE(ccsim::detail::isDir(v.storage));
    }
    // The full short listing holds every tag once, sorted bytewise.
    std::vector<std::string> sorted = tags;
    std::sort(sorted.begin(), sorted.end());
    std::string expected;
    for (const auto& t : sorted)
        expected += t + "\n";
    EXPECT_EQ(ct({"lsview", "-s"}).out, expected);
    // endview finds each odd tag too.
    for (const auto& v : added)
        EXPECT_EQ(ct({"endview", "-server", v.tag}).status, 0) << v.tag;
    for (const auto& v : home_->views())
        EXPECT_FALSE(v.active) << v.tag;
}

TEST_F(SimTest, StorageDirectoriesKeepTheTagText) {
    for (const std::string t : {"with blank", "quote\"d", "$HOME", "semi;colon && x", "back`tick`",
                                "ümlaut_ß_日本", "*", ".."}) {
        const auto v = add(t);
        EXPECT_EQ(v.storage, home_->storageRoot() + "/ccview01/" + t + ".vws");
    }
    // A tab is encoded; a tag that spells the encoding still gets its own storage.
    const auto tab = add("a\tb");
    const auto lookalike = add("a%09b");
    EXPECT_EQ(tab.storage, home_->storageRoot() + "/ccview01/a%09b.vws");
    EXPECT_NE(lookalike.storage, tab.storage);
    EXPECT_TRUE(ccsim::detail::isDir(lookalike.storage));
    // Host names are directory names too, "." and ".." included.
    EXPECT_EQ(add("h1", "..").storage, home_->storageRoot() + "/%2E%2E/h1.vws");
}

TEST_F(SimTest, TagsAFileNameCannotHoldAreRejectedClearly) {
    for (const std::string& bad : {std::string("a/b"), std::string("a\nb"), std::string("a\rb"),
                                   std::string("a\0b", 3), std::string()}) {
        try {
            add(bad);
            ADD_FAILURE() << "accepted " << ccsim::detail::printable(bad);
        } catch (const ccsim::Error& e) {
            EXPECT_NE(std::string(e.what()).find("invalid view tag"), std::string::npos)
                << e.what();
        }
    }
    add("dup");
    EXPECT_THROW(add("dup", "ccview02"), ccsim::Error);
    EXPECT_EQ(home_->views().size(), 1u);
}

TEST_F(SimTest, TagsDifferingInCaseColonTagsAndNonUtf8Bytes) {
    const auto upper = add("Rel_Build");
    const auto lower = add("rel_build");
    const auto colon = add("a:b");
    const auto bad = add("bad\xff"
                         "tag",
                         "host\xfe");
    EXPECT_NE(upper.storage, lower.storage);
    EXPECT_TRUE(ccsim::detail::isDir(upper.storage) && ccsim::detail::isDir(lower.storage));
    EXPECT_EQ(ct({"lsview", "-s"}).out, "Rel_Build\na:b\nbad\xfftag\nrel_build\n");
    for (const auto& v : {upper, lower, colon, bad}) {
        SCOPED_TRACE(v.tag);
        const Result r = ct({"lsview", "-long", v.tag});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("Tag: " + v.tag + "\n  Global path: " + v.storage + "\n", 0), 0u);
        EXPECT_NE(r.out.find("  Server host: " + v.host + "\n"), std::string::npos);
    }
    EXPECT_EQ(ct({"endview", "-server", "rel_build"}).status, 0);
    EXPECT_EQ(ct({"catcs", "-tag", "a:b"}).status, 0);
    EXPECT_EQ(fixProt({"-force", lower.storage}).status, 0);
    EXPECT_TRUE(home_->storageFixed("rel_build"));
    EXPECT_FALSE(home_->storageFixed("Rel_Build"));
}
