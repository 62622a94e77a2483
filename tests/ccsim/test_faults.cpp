// SPDX-License-Identifier: Apache-2.0
// Every injected fault, per view and command-wide.
#include "simtest.h"

#include "internal.h"

#include <algorithm>
#include <chrono>
#include <csignal>

using namespace simtest;

namespace {

class Faults : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        a = add("a_view", "ccview01", true);
        b = add("b_view", "ccview02", true);
    }
    ccsim::View a, b;
};

long long elapsedMs(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

TEST_F(Faults, LsviewFailNamesTheHostOrUsesTheGivenText) {
    home_->setViewFault("a_view", "lsview_fail");
    Result r = ct({"lsview", "-long", "a_view", "b_view"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: Unable to contact albd_server on host 'ccview01'\n");
    EXPECT_EQ(r.out.find("Tag: a_view"), std::string::npos);
    EXPECT_NE(r.out.find("Tag: b_view\n"), std::string::npos);
    // The short listing reads only the registry; the long one leaves the
    // view out, says why and fails, as cleartool does.
    EXPECT_EQ(ct({"lsview", "-s"}).out, "a_view\nb_view\n");
    r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: Unable to contact albd_server on host 'ccview01'\n");
    EXPECT_EQ(r.out.find("Tag: a_view"), std::string::npos);
    EXPECT_NE(r.out.find("Tag: b_view\n"), std::string::npos);
    home_->setViewFault("a_view", "lsview_fail", "cleartool: Error: custom text");
    EXPECT_EQ(ct({"lsview", "a_view"}).err, "cleartool: Error: custom text\n");
}

TEST_F(Faults, EndviewAndCatcsFail) {
    home_->setViewFault("a_view", "endview_fail");
    home_->setViewFault("b_view", "catcs_fail", "cleartool: Error: no spec today");
    Result r = ct({"endview", "-server", "a_view"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: Unable to contact albd_server on host 'ccview01'\n");
    EXPECT_TRUE(home_->find("a_view")->active);
    EXPECT_EQ(ct({"endview", "-server", "b_view"}).status, 0);
    r = ct({"catcs", "-tag", "b_view"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cleartool: Error: no spec today\n");
    EXPECT_EQ(ct({"catcs", "-tag", "a_view"}).status, 0);
}

TEST_F(Faults, GarbledAndHostlessRecords) {
    home_->setViewFault("a_view", "garble");
    Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Tag: a_view"), std::string::npos);
    EXPECT_EQ(r.out.substr(0, 15), "  Global path: ");
    EXPECT_NE(r.out.find("Tag: b_view\n  Global path: "), std::string::npos);

    home_->setViewFault("a_view", "garble", "junk");
    r = ct({"lsview", "-long", "a_view"});
    EXPECT_EQ(r.out.substr(0, 13), "Tag: a_view\n\x7f");
    EXPECT_NE(r.out.find('\0'), std::string::npos);
    EXPECT_NE(r.out.find('\xff'), std::string::npos);
    EXPECT_EQ(r.out.find("  Global path: "), std::string::npos);

    home_->setViewFault("b_view", "no_host");
    r = ct({"lsview", "-long", "b_view"});
    EXPECT_EQ(r.out.find("Server host:"), std::string::npos);
    EXPECT_NE(r.out.find("View on host: ccview02\n"), std::string::npos);
    // Short and default forms are untouched.
    EXPECT_EQ(ct({"lsview", "-s"}).out, "a_view\nb_view\n");
}

TEST_F(Faults, ListingFailOnlyHitsTheWholeListing) {
    home_->setFault("listing_fail");
    Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cleartool: Error: "), std::string::npos);
    EXPECT_EQ(ct({"lsview", "-s", "a_view"}).status, 0);
    home_->setFault("listing_fail", "cleartool: Error: registry down");
    EXPECT_EQ(ct({"lsview"}).err, "cleartool: Error: registry down\n");
}

TEST_F(Faults, TruncateCutsTheListing) {
    const std::string full = ct({"lsview", "-long"}).out;
    home_->setFault("truncate", "100");
    Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, full.substr(0, 100));
    home_->setFault("truncate", "0");
    EXPECT_EQ(ct({"lsview", "-s"}).out, "");
    home_->setFault("truncate", "100000");
    EXPECT_EQ(ct({"lsview", "-long"}).out, full);
}

TEST_F(Faults, GarbageMixesBinaryBytesIntoTheListing) {
    for (int i = 0; i < 4; ++i)
        add("more" + std::to_string(i));
    home_->setFault("garbage");
    const Result r = ct({"lsview", "-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find('\0'), std::string::npos);
    EXPECT_NE(r.out.find('\xff'), std::string::npos);
    EXPECT_NE(r.out.find("\r"), std::string::npos);
    EXPECT_EQ(r.out.find("\r\n"), std::string::npos) << "the CR should be a lone one";
    for (const char* tag : {"a_view\n", "b_view\n", "more3\n"})
        EXPECT_NE(r.out.find(tag), std::string::npos) << tag;
}

TEST_F(Faults, CrlfAppliesToAllCleartoolOutput) {
    home_->setFault("crlf");
    Result r = ct({"lsview", "-s"});
    EXPECT_EQ(r.out, "a_view\r\nb_view\r\n");
    r = ct({"lsview", "ghost"});
    EXPECT_EQ(r.err, "cleartool: Error: No matching entries found for view tag \"ghost\".\r\n");
    EXPECT_EQ(ct({"catcs", "-tag", "a_view"}).out,
              "element * CHECKEDOUT\r\nelement * /main/LATEST\r\n");
    // Truncation counts the CR LF bytes.
    home_->setFault("truncate", "7");
    EXPECT_EQ(ct({"lsview", "-s"}).out, "a_view\r");
}

TEST_F(Faults, SlowMsDelaysEveryCleartoolCall) {
    home_->setFault("slow_ms", "300");
    const auto start = std::chrono::steady_clock::now();
    const Result r = ct({"lsview", "-s"});
    EXPECT_GE(elapsedMs(start), 300);
    EXPECT_EQ(r.out, "a_view\nb_view\n");
}

TEST_F(Faults, PerViewHangIsJournalledAndLeavesOtherViewsAlone) {
    home_->setViewFault("a_view", "hang");
    home_->clearJournal();
    Result r = ct({"lsview", "-long", "a_view"}, 500);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ct({"endview", "-server", "a_view"}, 300).timedOut);
    EXPECT_TRUE(ct({"catcs", "-tag", "a_view"}, 300).timedOut);
    r = ct({"lsview", "-long", "b_view"}, 5000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    const auto j = home_->journal();
    ASSERT_EQ(j.size(), 4u);
    EXPECT_EQ(j[0].args, (std::vector<std::string>{"lsview", "-long", "a_view"}));
    // A bounded hang: hang=N is N seconds.
    home_->setViewFault("a_view", "hang", "0");
    EXPECT_EQ(ct({"lsview", "a_view"}, 5000).status, 0);
}

TEST_F(Faults, CommandWideHangStallsEveryCall) {
    home_->setFault("hang");
    EXPECT_TRUE(ct({"lsview", "-s", "b_view"}, 400).timedOut);
    EXPECT_EQ(home_->journal().size(), 1u);
    home_->clearFaults();
    EXPECT_EQ(ct({"lsview", "-s", "b_view"}, 5000).out, "b_view\n");
}

TEST_F(Faults, FixProtExitPerViewAndCommandWide) {
    home_->setViewFault("a_view", "fixprot_exit", "7");
    Result r = fixProt({"-force", a.storage});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("fix_prot: Error: "), std::string::npos);
    EXPECT_FALSE(home_->storageFixed("a_view"));
    r = fixProt({"-force", b.storage});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(home_->storageFixed("b_view"));
    home_->breakStorage("b_view");
    home_->setFault("fixprot_exit", "3");
    EXPECT_EQ(fixProt({"-force", b.storage}).status, 3);
    EXPECT_FALSE(home_->storageFixed("b_view"));
}

TEST_F(Faults, FixProtSleepPerViewAndCommandWide) {
    home_->setViewFault("a_view", "fixprot_sleep_ms", "300");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fixProt({"-force", a.storage}).status, 0);
    EXPECT_GE(elapsedMs(start), 300);
    EXPECT_TRUE(home_->storageFixed("a_view"));
    home_->setFault("fixprot_sleep_ms", "200");
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(fixProt({"-force", b.storage}).status, 0);
    EXPECT_GE(elapsedMs(start), 200);
}

TEST_F(Faults, FixProtCrashDiesBySignalHalfWayAfterJournalling) {
    home_->setViewFault("a_view", "fixprot_crash");
    home_->clearJournal();
    Result r = fixProt({"-force", a.storage});
    EXPECT_EQ(r.signal, SIGSEGV);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(home_->storageFixed("a_view"));
    EXPECT_EQ(modeOf(a.storage), 0775u) << "the crash comes after some of the work";
    EXPECT_EQ(home_->journal().size(), 1u);
    home_->setViewFault("b_view", "fixprot_crash", "KILL");
    EXPECT_EQ(fixProt({"-force", b.storage}).signal, SIGKILL);
}

TEST_F(Faults, FixProtEndsAreRecordedByPidOnEveryReturnButACrash) {
    home_->clearJournal();
    home_->setViewFault("a_view", "fixprot_sleep_ms", "300");
    home_->setViewFault("b_view", "fixprot_exit", "7");
    EXPECT_EQ(fixProt({"-force", a.storage}).status, 0);
    EXPECT_EQ(fixProt({"-force", b.storage}).status, 7);
    EXPECT_EQ(fixProt({"-bogus", a.storage}).status, 1);
    home_->setViewFault("a_view", "fixprot_crash", "KILL");
    EXPECT_EQ(fixProt({"-force", a.storage}).signal, SIGKILL);

    const auto starts = home_->journal();
    const auto ends = home_->ends();
    ASSERT_EQ(starts.size(), 4u);
    ASSERT_EQ(ends.size(), 3u) << "the crashed call has no end";
    const char* const statuses[] = {"0", "7", "1"};
    for (std::size_t i = 0; i < ends.size(); ++i) {
        EXPECT_EQ(ends[i].pid, starts[i].pid);
        EXPECT_EQ(ends[i].program, "fix_prot");
        EXPECT_EQ(ends[i].args, std::vector<std::string>{statuses[i]});
        EXPECT_GE(ends[i].timeMs, starts[i].timeMs);
    }
    EXPECT_GE(ends[0].timeMs - starts[0].timeMs, 300) << "written when it returns";
    home_->clearJournal();
    EXPECT_TRUE(home_->ends().empty());
}

TEST_F(Faults, BadFaultsAreRejected) {
    EXPECT_THROW(home_->setFault("no_such_fault"), ccsim::Error);
    EXPECT_THROW(home_->setFault("garble"), ccsim::Error) << "garble is per view only";
    EXPECT_THROW(home_->setViewFault("a_view", "listing_fail"), ccsim::Error);
    EXPECT_THROW(home_->setFault("truncate", "-1"), ccsim::Error);
    EXPECT_THROW(home_->setFault("slow_ms", "fast"), ccsim::Error);
    EXPECT_THROW(home_->setFault("fixprot_exit", "256"), ccsim::Error);
    EXPECT_THROW(home_->setViewFault("a_view", "fixprot_crash", "TERM"), ccsim::Error);
    EXPECT_THROW(home_->setViewFault("ghost", "hang"), ccsim::Error);
    EXPECT_TRUE(home_->faults().empty());
    home_->setFault("crlf");
    home_->setViewFault("a_view", "hang", "5");
    const auto f = home_->faults();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].tag, "");
    EXPECT_EQ(f[0].name, "crlf");
    EXPECT_EQ(f[1].tag, "a_view");
    EXPECT_EQ(f[1].value, "5");
    home_->clearFaults();
    EXPECT_TRUE(home_->faults().empty());
    EXPECT_EQ(ct({"lsview", "-s"}).out, "a_view\nb_view\n");
}

TEST_F(Faults, LookupFaultsBendTheLineOfLsviewTag) {
    const auto line = [](const std::string& tag, const std::string& path,
                         const std::string& tail = "") {
        return "* " + tag + std::string(24 - tag.size() + 1, ' ') + path + tail + "\n";
    };
    EXPECT_EQ(ct({"lsview", "a_view"}).out, line("a_view", a.storage));
    home_->setViewFault("a_view", "lookup_other_tag");
    EXPECT_EQ(ct({"lsview", "a_view"}).out, line("b_view", b.storage));
    home_->setViewFault("a_view", "lookup_other_tag", "ghost");
    EXPECT_EQ(ct({"lsview", "a_view"}).out, line("ghost", a.storage));
    home_->clearFaults();
    home_->setViewFault("a_view", "lookup_two_lines");
    EXPECT_EQ(ct({"lsview", "a_view"}).out, line("a_view", a.storage) + line("a_view", a.storage));
    home_->clearFaults();
    home_->setViewFault("a_view", "lookup_root");
    EXPECT_EQ(ct({"lsview", "a_view"}).out, line("a_view", "/"));
    for (const char* root : {"//", "/.", "/net/.."}) {
        home_->setViewFault("a_view", "lookup_root", root);
        EXPECT_EQ(ct({"lsview", "a_view"}).out, line("a_view", root));
    }
    home_->clearFaults();
    home_->setViewFault("b_view", "lookup_trailing_blanks");
    EXPECT_EQ(ct({"lsview", "b_view"}).out, line("b_view", b.storage, " \t  "));
    // Only the lookup line is bent; the long record is as it was.
    EXPECT_NE(ct({"lsview", "-long", "b_view"}).out.find("  Global path: " + b.storage + "\n"),
              std::string::npos);
}

TEST_F(Faults, ListingFaultsOnStderr) {
    const std::string full = ct({"lsview", "-long"}).out;
    home_->setFault("listing_stderr_only", "Found: 0 views");
    Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Found: 0 views\n");
    home_->clearFaults();
    home_->setFault("listing_warning", "registry cache is stale");
    r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, full);
    EXPECT_EQ(r.err, "cleartool: Warning: registry cache is stale\n");
    home_->clearFaults();
    home_->setFault("short_fail", "cleartool: Error: no short list");
    r = ct({"lsview", "-short"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cleartool: Error: no short list\n");
    EXPECT_EQ(ct({"lsview", "-s", "a_view"}).status, 1);
    r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, full);
    // \n in a fault's text makes one view's error two lines.
    home_->setViewFault("a_view", "lsview_fail",
                        "cleartool: Error: Unable to contact host 'ccview01'\\n"
                        "cleartool: Error: Unable to get view a_view");
    r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cleartool: Error: Unable to contact host 'ccview01'\n"
                     "cleartool: Error: Unable to get view a_view\n");
}

TEST_F(Faults, SlowAndStallingListingsTalkInPieces) {
    for (int i = 0; i < 4; ++i)
        add("more" + std::to_string(i));
    const std::string full = ct({"lsview", "-long"}).out;
    home_->setFault("slow_listing_ms", "600");
    Result r = ct({"lsview", "-long"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, full);
    ASSERT_GE(r.outPieces.size(), 3u) << "records arrive one by one";
    EXPECT_GE(r.outPieces.back().first - r.outPieces.front().first, 300);
    EXPECT_EQ(ct({"lsview", "-s"}).outPieces.size(), 1u) << "only the long listing is slow";

    home_->clearFaults();
    home_->setFault("stall_ms", "800");
    r = ct({"lsview", "-long"});
    EXPECT_EQ(r.out, full);
    ASSERT_GE(r.outPieces.size(), 2u);
    long long gap = 0;
    for (std::size_t i = 1; i < r.outPieces.size(); ++i)
        gap = std::max(gap, r.outPieces[i].first - r.outPieces[i - 1].first);
    EXPECT_GE(gap, 600) << "silent in the middle";
    // With one record, the stall comes after its first line.
    r = ct({"lsview", "-long", "a_view"});
    ASSERT_GE(r.outPieces.size(), 2u);
    EXPECT_EQ(r.outPieces.front().second, std::string("Tag: a_view\n").size());
}

TEST_F(Faults, FixProtMadeUnrunnableAndPutBack) {
    const std::string fp = home_->fixProtPath();
    home_->setFault("fixprot_noexec");
    EXPECT_EQ(modeOf(fp) & 0111, 0u);
    home_->clearFaults();
    EXPECT_EQ(modeOf(fp), 0755u);
    home_->setFault("fixprot_dir");
    EXPECT_TRUE(ccsim::detail::isDir(fp));
    EXPECT_EQ(tool({"clear-faults", home_->dir()}).status, 0);
    EXPECT_FALSE(ccsim::detail::isDir(fp));
    EXPECT_EQ(fixProt({"-force", a.storage}).status, 0) << "the program itself is back";
    EXPECT_TRUE(home_->storageFixed("a_view"));
}
