// SPDX-License-Identifier: Apache-2.0
// lsview in its three output forms, checked against exact cleartool text.
#include "simtest.h"

using namespace simtest;

namespace {

std::string longRecord(const ccsim::View& v, const std::string& attributes = "") {
    std::string s = "Tag: " + v.tag + "\n" + "  Global path: " + v.storage + "\n" +
                    "  Server host: " + v.host + "\n" + "  Region: " + v.region + "\n" +
                    "  Active: " + (v.active ? "YES" : "NO") + "\n" + "  View tag uuid:" + v.uuid +
                    "\n" + "View on host: " + v.host + "\n" +
                    "View server access path: " + v.storage + "\n" + "View uuid: " + v.uuid + "\n";
    if (!attributes.empty())
        s += "View attributes: " + attributes + "\n";
    return s + "View owner: " + v.owner + "\n";
}

class Lsview : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // Added out of order on purpose: listings sort by tag.
        snap = add("zed_snap", "ccview02", true, true, false);
        dyn = add("alpha", "ccview01", true);
        ucm = add("mid_ucm", "ccview01", false, false, true);
        both = add("mid_ucm_snap", "ccview03", false, true, true);
    }
    ccsim::View dyn, snap, ucm, both;
};

} // namespace

TEST_F(Lsview, DefaultFormMarksActiveDynamicViewsAndPadsTags) {
    const Result r = ct({"lsview"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // An active snapshot view is listed without '*', like cleartool does.
    EXPECT_EQ(r.out, "* alpha                    " + dyn.storage + "\n" +
                         "  mid_ucm                  " + ucm.storage + "\n" +
                         "  mid_ucm_snap             " + both.storage + "\n" +
                         "  zed_snap                 " + snap.storage + "\n");
}

TEST_F(Lsview, DefaultFormKeepsOneBlankAfterLongTags) {
    const auto v = add("a_tag_that_is_longer_than_the_column", "ccview01", true);
    const Result r = ct({"lsview", v.tag});
    EXPECT_EQ(r.out, "* a_tag_that_is_longer_than_the_column " + v.storage + "\n");
    // Column alignment counts characters, not UTF-8 bytes.
    const auto u = add("über", "ccview01");
    EXPECT_EQ(ct({"lsview", "über"}).out, "  über" + std::string(21, ' ') + u.storage + "\n");
}

TEST_F(Lsview, ShortFormListsTagsOnly) {
    for (const char* opt : {"-short", "-s", "-sh"}) {
        const Result r = ct({"lsview", opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "alpha\nmid_ucm\nmid_ucm_snap\nzed_snap\n") << opt;
    }
    EXPECT_EQ(ct({"lsview", "-s", "zed_snap", "alpha"}).out, "zed_snap\nalpha\n");
}

TEST_F(Lsview, LongFormRecordsPerKindOfView) {
    const Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, longRecord(dyn) + longRecord(ucm, "ucmview") +
                         longRecord(both, "snapshot,ucmview") + longRecord(snap, "snapshot"));
    EXPECT_EQ(ct({"lsview", "-l", "zed_snap"}).out, longRecord(snap, "snapshot"));
}

TEST_F(Lsview, LongFormShowsTheRealStorageDirectory) {
    EXPECT_EQ(dyn.storage, home_->storageRoot() + "/ccview01/alpha.vws");
    struct stat st {};
    EXPECT_EQ(::stat(dyn.storage.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(dyn.uuid.size(), std::string("7ddcc71f.d21511e1.8c47.80:c1:6e:e6:4b:b1").size());
}

TEST_F(Lsview, UnknownTagsFailButKnownOnesAreStillListed) {
    Result r = ct({"lsview", "nosuch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cleartool: Error: No matching entries found for view tag \"nosuch\".\n");
    r = ct({"lsview", "-s", "alpha", "nosuch", "zed_snap"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "alpha\nzed_snap\n");
    EXPECT_EQ(r.err, "cleartool: Error: No matching entries found for view tag \"nosuch\".\n");
    // Tags match exactly: no prefixes, no case folding.
    EXPECT_EQ(ct({"lsview", "alph"}).status, 1);
    EXPECT_EQ(ct({"lsview", "ALPHA"}).status, 1);
    EXPECT_EQ(ct({"lsview", ""}).err,
              "cleartool: Error: No matching entries found for view tag \"\".\n");
}

TEST_F(Lsview, ManyNamedTagsAreFoundThroughTheIndex) {
    std::vector<std::string> args = {"lsview", "-s"};
    for (int i = 0; i < 12; ++i)
        args.push_back(i % 2 ? "alpha" : "zed_snap");
    args.push_back("missing");
    const Result r = ct(args);
    EXPECT_EQ(r.status, 1);
    std::string expected;
    for (int i = 0; i < 12; ++i)
        expected += i % 2 ? "alpha\n" : "zed_snap\n";
    EXPECT_EQ(r.out, expected);
}

TEST_F(Lsview, HostAndRegionFilters) {
    EXPECT_EQ(ct({"lsview", "-s", "-host", "ccview01"}).out, "alpha\nmid_ucm\n");
    EXPECT_EQ(ct({"lsview", "-s", "-region", "sim"}).out.size(), ct({"lsview", "-s"}).out.size());
    EXPECT_EQ(ct({"lsview", "-s", "-region", "other"}).out, "");
}

TEST_F(Lsview, BadOptionsGiveUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"lsview", "-bogus"},
                                                 {"lsview", "-short", "-long"},
                                                 {"lsview", "-host"}}) {
        const Result r = ct(args);
        EXPECT_EQ(r.status, 1) << args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: lsview"), std::string::npos) << r.err;
    }
    EXPECT_NE(ct({"lsview", "-bogus"}).err.find("Unrecognized option \"-bogus\""),
              std::string::npos);
}

TEST_F(Lsview, UnknownCommandAndNoCommand) {
    Result r = ct({"foo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: Unrecognized command: \"foo\"\n");
    r = ct({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
}

TEST_F(Lsview, PropertiesFullPrintsOwnerAndGroupLines) {
    ccsim::View v;
    v.tag = "owned";
    v.host = "ccview01";
    v.owner = "ajones";
    v.group = "dev team";
    v = home_->addView(v);
    // Names are padded to a column of 16.
    const std::string owner = "Owner: ajones" + std::string(11, ' ') + ": rwx (all)\n";
    const std::string group = "Group: dev team" + std::string(9, ' ') + ": rwx (all)\n";
    const std::string other = "Other: " + std::string(17, ' ') + ": r-x (read)\n";
    for (const char* opt : {"-properties", "-prop"}) {
        const Result r = ct({"lsview", opt, "-full", "owned"});
        EXPECT_EQ(r.status, 0) << r.err;
        // The view's line, then its properties.
        EXPECT_EQ(r.out.rfind("  owned" + std::string(20, ' ') + v.storage + "\nCreated ", 0), 0u)
            << r.out;
        EXPECT_NE(r.out.find(" by ajones.dev team@ccview01\n"), std::string::npos);
        EXPECT_NE(r.out.find("Text mode: unix\nProperties: dynamic readwrite shareable_dos\n" +
                             owner + group + other),
                  std::string::npos)
            << r.out;
    }
    Result r = ct({"lsview", "-long", "-properties", "-full", "zed_snap"});
    EXPECT_EQ(r.out.rfind("Tag: zed_snap\n", 0), 0u);
    EXPECT_NE(r.out.find("View owner: ccadm\nCreated "), std::string::npos);
    EXPECT_NE(r.out.find("Properties: snapshot readwrite nshareable_dos\n"), std::string::npos);
    EXPECT_NE(r.out.find("Group: ccusers "), std::string::npos) << "the default group";
    EXPECT_EQ(ct({"lsview", "-properties", "owned"}).out.find("Text mode:"), std::string::npos)
        << "without -full";
    EXPECT_EQ(ct({"lsview", "-full", "owned"}).status, 1);

    // Domain prefixes, both separators, and lines left out.
    home_->setViewFault("owned", "owner_domain", "CORP");
    r = ct({"lsview", "-long", "-prop", "-full", "owned"});
    EXPECT_NE(r.out.find("Owner: CORP/ajones" + std::string(6, ' ') + ": rwx (all)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Group: CORP/dev team" + std::string(4, ' ') + ": rwx (all)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("View owner: CORP/ajones\n"), std::string::npos);
    home_->setViewFault("owned", "owner_domain", "CORP\\");
    EXPECT_NE(ct({"lsview", "-prop", "-full", "owned"}).out.find("Owner: CORP\\ajones "),
              std::string::npos);
    EXPECT_NE(ct({"lsview", "-prop", "-full", "alpha"}).out.find("Owner: ccadm "),
              std::string::npos)
        << "other views keep plain names";
    home_->setViewFault("owned", "no_owner");
    r = ct({"lsview", "-prop", "-full", "owned"});
    EXPECT_EQ(r.out.find("Owner:"), std::string::npos);
    EXPECT_NE(r.out.find("Group: CORP\\dev team"), std::string::npos);
    home_->setFault("no_group");
    r = ct({"lsview", "-prop", "-full", "owned", "alpha"});
    EXPECT_EQ(r.out.find("Group:"), std::string::npos);
    EXPECT_NE(r.out.find("Owner: ccadm "), std::string::npos);
}
