// SPDX-License-Identifier: Apache-2.0
// catcs, endview (and its persistence under concurrent calls), the journal.
#include "simtest.h"

#include "internal.h"

#include <set>
#include <thread>

using namespace simtest;

TEST_F(SimTest, CatcsPrintsTheConfigSpecAsStored) {
    ccsim::View v;
    v.tag = "spec_view";
    v.host = "ccview01";
    v.configSpec = "element * CHECKEDOUT\n# no trailing newline on the last rule\n"
                   "element * /main/LATEST";
    home_->addView(v);
    Result r = ct({"catcs", "-tag", "spec_view"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, v.configSpec);
    // A view added without a config spec gets the usual default.
    add("plain");
    EXPECT_EQ(ct({"catcs", "-tag", "plain"}).out, "element * CHECKEDOUT\nelement * /main/LATEST\n");
}

TEST_F(SimTest, CatcsErrors) {
    Result r = ct({"catcs", "-tag", "ghost"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: No matching entries found for view tag \"ghost\".\n");
    r = ct({"catcs"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cleartool: Error:"), std::string::npos);
    r = ct({"catcs", "-tag"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage: catcs"), std::string::npos);
    EXPECT_EQ(ct({"catcs", "-nope"}).status, 1);
}

TEST_F(SimTest, EndviewServerStopsTheViewPersistently) {
    add("one", "ccview01", true);
    add("two", "ccview01", true);
    Result r = ct({"endview", "-server", "one"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(home_->find("one")->active);
    EXPECT_TRUE(home_->find("two")->active);
    EXPECT_NE(ct({"lsview", "-l", "one"}).out.find("  Active: NO\n"), std::string::npos);
    EXPECT_EQ(ct({"lsview", "one"}).out.substr(0, 2), "  ");
    // Ending an inactive view again is fine.
    EXPECT_EQ(ct({"endview", "-server", "one"}).status, 0);
    EXPECT_TRUE(home_->find("two")->active);
}

TEST_F(SimTest, EndviewWithoutServerLeavesTheServerRunning) {
    add("one", "ccview01", true);
    EXPECT_EQ(ct({"endview", "one"}).status, 0);
    EXPECT_TRUE(home_->find("one")->active);
}

TEST_F(SimTest, EndviewErrors) {
    add("one", "ccview01", true);
    Result r = ct({"endview", "-server", "ghost"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: No matching entries found for view tag \"ghost\".\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"endview"},
                                                 {"endview", "-server"},
                                                 {"endview", "-server", "one", "two"},
                                                 {"endview", "-kill", "one"}}) {
        r = ct(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Usage: endview"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(home_->find("one")->active);
}

TEST_F(SimTest, ConcurrentEndviewsAllPersist) {
    constexpr int kViews = 24;
    for (int i = 0; i < kViews; ++i)
        add("v" + std::to_string(i), "ccview0" + std::to_string(i % 3 + 1), true);
    std::vector<std::thread> threads;
    std::vector<Result> results(kViews);
    for (int i = 0; i < kViews; ++i)
        threads.emplace_back([&, i] {
            results[i] = ct({"endview", "-server", "v" + std::to_string(i)});
        });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& v : home_->views())
        EXPECT_FALSE(v.active) << v.tag;
    EXPECT_EQ(home_->views().size(), static_cast<std::size_t>(kViews));
}

TEST_F(SimTest, JournalRecordsEveryCallInOrderWithItsArguments) {
    const auto v = add("odd tag; $x", "ccview01", true);
    home_->clearJournal();
    ct({"lsview", "-long", "odd tag; $x"});
    ct({"catcs", "-tag", "odd tag; $x"});
    fixProt({"-force", "-root", "-recurse", v.storage});
    ct({"endview", "-server", "odd tag; $x"});
    ct({"bogus", "with\ttab", ""});
    const auto j = home_->journal();
    ASSERT_EQ(j.size(), 5u);
    EXPECT_EQ(j[0].program, "cleartool");
    EXPECT_EQ(j[0].args, (std::vector<std::string>{"lsview", "-long", "odd tag; $x"}));
    EXPECT_EQ(j[1].args, (std::vector<std::string>{"catcs", "-tag", "odd tag; $x"}));
    EXPECT_EQ(j[2].program, "fix_prot");
    EXPECT_EQ(j[2].args, (std::vector<std::string>{"-force", "-root", "-recurse", v.storage}));
    EXPECT_EQ(j[3].args, (std::vector<std::string>{"endview", "-server", "odd tag; $x"}));
    EXPECT_EQ(j[4].args, (std::vector<std::string>{"bogus", "with\ttab", ""}));
    for (std::size_t i = 1; i < j.size(); ++i) {
        EXPECT_LE(j[i - 1].timeMs, j[i].timeMs);
        EXPECT_NE(j[i - 1].pid, j[i].pid);
    }
    EXPECT_GT(j[0].timeMs, 1600000000000); // milliseconds since the epoch
    home_->clearJournal();
    EXPECT_TRUE(home_->journal().empty());
}

TEST_F(SimTest, JournalLinesStayWholeUnderConcurrentCalls) {
    add("v");
    home_->clearJournal();
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] { ct({"lsview", "-s", "v", std::string(500, 'a' + i)}); });
    for (auto& t : threads)
        t.join();
    const auto j = home_->journal();
    ASSERT_EQ(j.size(), 16u);
    std::set<std::string> seen;
    for (const auto& e : j) {
        ASSERT_EQ(e.args.size(), 4u);
        EXPECT_EQ(e.args[3].size(), 500u);
        EXPECT_EQ(e.args[3].find_first_not_of(e.args[3][0]), std::string::npos);
        seen.insert(e.args[3]);
    }
    EXPECT_EQ(seen.size(), 16u);
}
