// SPDX-License-Identifier: Apache-2.0
// The fault catalogue: the simulator's injected faults, end to end. Each
// case checks what the operator is told, which views were processed (from
// the simulator's journal) and that no view was processed twice.
#include "app/frmmain.h"
#include "app/repairrun.h"
#include "cc/cleartoolcli.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "process/commandline.h"
#include "progress/frmprogress.h"
#include "simhome.h"
#include "ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
struct Site {
    // timeoutMs: how long a cleartool call may stay silent.
    explicit Site(std::initializer_list<const char*> tags,
                  int timeoutMs = cc::kCleartoolTimeoutMs) {
        qunsetenv("TERMINAL");
        for (const char* t : tags)
            storage[QString::fromUtf8(t)] = QString::fromStdString(sim.add(t, "h").storage);
        w = std::make_unique<frmMain>(std::make_shared<cc::CliBackend>(timeoutMs));
        EXPECT_TRUE(w->Form_Load());
        ui(*w).runModeCombo->setCurrentIndex(1); // Hide
        w->runModeCombo_Click();
    }
    ~Site() { w.reset(); }
    QStringList lines() const {
        QStringList out;
        for (int i = 0; i < ui(*w).viewsModel->count(); ++i)
            out.append(ui(*w).viewsModel->text(i));
        return out;
    }
    void checkAll() { ui(*w).viewsModel->setCheckedWhere(true, {}); }
    void execute() {
        sim.home().clearJournal();
        w->executeFixProtBut_Click();
        settle(*w);
    }
    // The views fix_prot ran on, by tag, in order.
    QStringList repaired() const {
        QStringList out;
        for (const QString& e : sim.journal("fix_prot"))
            for (auto it = storage.cbegin(); it != storage.cend(); ++it)
                if (e.endsWith(QStringLiteral("|") + it.value()))
                    out.append(it.key());
        return out;
    }
    QStringList stopped() const {
        QStringList out;
        for (const QString& e : sim.journal("cleartool"))
            if (e.startsWith(QStringLiteral("cleartool|endview|-server|")))
                out.append(e.section(u'|', 3));
        return out;
    }
    static bool unique(const QStringList& l) {
        return QSet<QString>(l.cbegin(), l.cend()).size() == l.size();
    }

    SimHome sim;
    QMap<QString, QString> storage;
    std::unique_ptr<frmMain> w;
};

const QString kAlbd = QStringLiteral("cleartool: Error: Unable to contact albd_server on host 'h'");
} // namespace

// ---- Loading ---------------------------------------------------------------

TEST(FaultsLoading, TheWholeListingFailing) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.sim.home().setFault("listing_fail");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.startsWith(
        QStringLiteral("ClearTool returned error: cleartool: Error: Trouble contacting registry")));
    EXPECT_TRUE(s.lines().isEmpty());
    EXPECT_FALSE(ui(*s.w).selectAllBut->isEnabled());
    EXPECT_TRUE(ui(*s.w).loadViewsBut->isEnabled());
}

TEST(FaultsLoading, OneViewOfTheListingFailing) {
    MsgRecorder boxes;
    Site s({"a", "b", "c"});
    s.sim.home().setViewFault("b", "lsview_fail");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_EQ(s.lines(), (QStringList{QStringLiteral("a:h"), QStringLiteral("c:h")}));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ClearTool returned error: ") + kAlbd +
                  QStringLiteral("\r\n1 of 3 views could not be read and are not listed.\r\n"
                                 "Not listed: b"));
}

TEST(FaultsLoading, GarbledRecordsAreReportedAndNeverListedWrongly) {
    for (const char* how : {"notag", "junk"}) {
        MsgRecorder boxes;
        Site s({"a", "b", "c"});
        s.sim.home().setViewFault("b", "garble", how);
        s.w->loadViewsBut_Click();
        settle(*s.w);
        EXPECT_EQ(s.lines(), (QStringList{QStringLiteral("a:h"), QStringLiteral("c:h")})) << how;
        ASSERT_EQ(boxes.boxes.size(), 1) << how;
        EXPECT_TRUE(boxes.last().text.startsWith(
            QStringLiteral("ClearTool returned error: unreadable lsview output")))
            << boxes.last().text.toStdString();
        EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("could not be read")));
    }
}

TEST(FaultsLoading, AViewWithoutItsServerHost) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.sim.home().setViewFault("a", "no_host");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_EQ(s.lines(), QStringList{QStringLiteral("b:h")});
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(
        boxes.last().text,
        QStringLiteral("ClearTool returned error: cleartool lsview gave no server host for view "
                       "\"a\"\r\n1 of 2 views could not be read and are not listed.\r\n"
                       "Not listed: a"));
}

TEST(FaultsLoading, TruncatedAndBinaryOutputNeverCrashesOrInventsViews) {
    MsgRecorder boxes;
    Site s({"alpha", "beta", "gamma", "delta"});
    QSet<QString> real;
    for (const ccsim::View& v : s.sim.home().views())
        real.insert(QString::fromStdString(v.tag + ":" + v.host));
    for (int cut : {1, 20, 90, 150, 300, 500}) {
        s.sim.home().clearFaults();
        s.sim.home().setFault("truncate", std::to_string(cut));
        s.w->loadViewsBut_Click();
        settle(*s.w);
        for (const QString& l : s.lines())
            EXPECT_TRUE(real.contains(l)) << cut << " " << l.toStdString();
    }
    s.sim.home().clearFaults();
    s.sim.home().setFault("garbage");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    for (const QString& l : s.lines())
        EXPECT_TRUE(real.contains(l)) << l.toStdString();
    // Whatever was lost, the operator heard of it.
    EXPECT_FALSE(boxes.boxes.isEmpty());
}

TEST(FaultsLoading, CrLfOutputReadsAndRepairsAsUsual) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.sim.home().setFault("crlf");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_EQ(s.lines(), (QStringList{QStringLiteral("a:h"), QStringLiteral("b:h")}));
    s.checkAll();
    s.execute();
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(s.repaired(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(s.sim.home().storageFixed("a"));
}

TEST(FaultsLoading, CleartoolMissingAfterStartUp) {
    MsgRecorder boxes;
    Site s({"a"});
    QFile::remove(QString::fromStdString(s.sim.home().cleartoolPath()));
    s.w->loadViewsBut_Click();
    settle(*s.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.startsWith(
        QStringLiteral("ClearTool returned error: cannot run cleartool (")))
        << boxes.last().text.toStdString();
    EXPECT_TRUE(ui(*s.w).loadViewsBut->isEnabled());
}

TEST(FaultsLoading, AHangingCleartoolIsKilledAfterItsTimeLimit) {
    MsgRecorder boxes;
    Site s({"a"}, 1500);
    s.sim.home().setFault("hang");
    QElapsedTimer t;
    t.start();
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_LT(t.elapsed(), 15000);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ClearTool returned error: cleartool did not answer in time (1.5 s): "
                             "cleartool lsview -long"));
    EXPECT_TRUE(s.lines().isEmpty());
}

TEST(FaultsLoading, ClosingTheWindowMidLoad) {
    MsgRecorder boxes;
    Site s({"a", "b", "c", "d"});
    s.w->show();
    YieldWatcher yields;
    yields.onYield = [&](int n) {
        if (n == 2)
            s.w->close();
    };
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_FALSE(s.w->isVisible());
    EXPECT_EQ(progress_of(*s.w), nullptr);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_LT(yields.count, 5);
}

// ---- Running ---------------------------------------------------------------

TEST(FaultsRun, AFailingLookupSkipsOnlyThatView) {
    MsgRecorder boxes;
    Site s({"a", "b", "c"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("b", "lsview_fail");
    s.checkAll();
    s.execute();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ERROR:") + kAlbd + QStringLiteral(": Couldn't get view storage"));
    EXPECT_EQ(s.repaired(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    EXPECT_EQ(s.stopped(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
}

TEST(FaultsRun, AFailingEndviewEndsTheRun) {
    MsgRecorder boxes;
    Site s({"a", "b", "c"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("a", "endview_fail");
    s.checkAll();
    s.execute();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Error:executeFixProtBut()"));
    EXPECT_TRUE(boxes.last().text.startsWith(QStringLiteral("ERROR:") + kAlbd +
                                             QStringLiteral(":Execute::")));
    // The command shown is the one started: the storage is the last word
    // given to the remote shell.
    EXPECT_TRUE(boxes.last().text.endsWith(
        process::quoted_word(process::shell_quote(s.storage.value(QStringLiteral("a"))),
                             process::Quoting::SplitCommand)));
    EXPECT_EQ(s.repaired(), QStringList{QStringLiteral("a")});
    EXPECT_FALSE(s.sim.home().storageFixed("b"));
    EXPECT_FALSE(s.sim.home().storageFixed("c"));
}

TEST(FaultsRun, AMissingUtility) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    QFile::remove(QString::fromStdString(s.sim.home().fixProtPath()));
    s.checkAll();
    s.execute();
    // On the views' host sudo finds no fix_prot: both views are named at
    // the end with its word on it, and neither view's server is stopped.
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.startsWith(
        QStringLiteral("fix_prot did not succeed for 2 of 2 views:\r\na: exit status 1: sudo: ")));
    EXPECT_EQ(boxes.last().text.count(QStringLiteral("command not found")), 2);
    EXPECT_TRUE(s.stopped().isEmpty());
}

TEST(FaultsRun, AUtilityThatFailsOrCrashesIsNamedAtTheEnd) {
    MsgRecorder boxes;
    Site s({"a", "b", "c"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("a", "fixprot_exit", "3");
    s.sim.home().setViewFault("c", "fixprot_crash", "KILL");
    s.checkAll();
    s.execute();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().icon, MsgIcon::Warning);
    // Each with the word its host gave: fix_prot's own message, and for one
    // killed there the status and the word of the remote shell that saw it.
    EXPECT_EQ(boxes.last().text, QStringLiteral("fix_prot did not succeed for 2 of 3 views:\r\n"
                                                "a: exit status 3: fix_prot: Error: Unable to fix "
                                                "protections of \"") +
                                     s.storage.value(QStringLiteral("a")) +
                                     QStringLiteral("\" (simulated failure).\r\n"
                                                    "c: exit status 137: Killed"));
    // The run went on regardless, each view once; only the repaired view's
    // server was stopped.
    EXPECT_EQ(s.repaired(),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(s.stopped(), QStringList{QStringLiteral("b")});
    EXPECT_TRUE(s.sim.home().storageFixed("b"));
}

TEST(FaultsRun, AVerySlowUtilityKeepsTheWindowAlive) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("a", "fixprot_sleep_ms", "1200");
    s.checkAll();
    int ticks = 0;
    QSet<int> bar;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        ++ticks;
        if (progress_shown(*s.w))
            bar.insert(progress_of(*s.w)->progressBar->value());
    });
    timer.start(20);
    s.execute();
    // Events flowed and the bar went on moving while fix_prot slept. A
    // shown bar takes one of ten places a turn of its counter, a place
    // each tenth tick: seeing every place needs a full turn, which a loaded
    // machine's timers may not give in the sleep; several places show
    // that it moved on.
    EXPECT_GT(ticks, 20);
    EXPECT_GE(bar.size(), 4);
    EXPECT_EQ(s.repaired(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(Site::unique(s.stopped()));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(FaultsRun, AHangingLookupTimesOutAndSkipsTheView) {
    MsgRecorder boxes;
    Site s({"a", "b"}, 1500);
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("a", "hang");
    s.checkAll();
    s.execute();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, QStringLiteral("ERROR:cleartool did not answer in time (1.5 s): "
                                                "cleartool lsview a: Couldn't get view storage"));
    EXPECT_EQ(s.repaired(), QStringList{QStringLiteral("b")});
}

TEST(FaultsRun, ClosingTheWindowMidRunLetsTheUtilityFinish) {
    MsgRecorder boxes;
    Site s({"a", "b"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.w->show();
    s.sim.home().setViewFault("a", "fixprot_sleep_ms", "800");
    s.checkAll();
    when(
        s.w.get(), [&] { return !s.repaired().isEmpty(); }, [&] { s.w->close(); });
    s.execute();
    EXPECT_FALSE(s.w->isVisible());
    EXPECT_TRUE(s.stopped().isEmpty());
    EXPECT_EQ(s.repaired(), QStringList{QStringLiteral("a")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.sim.home().storageFixed("a"); }, 10000));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(FaultsLoading, ListingFaultsLoseNoViewAndCountEachViewOnce) {
    MsgRecorder boxes;
    Site s({"a", "b", "c \"quoted\""});
    const auto load = [&] {
        boxes.boxes.clear();
        s.w->loadViewsBut_Click();
        settle(*s.w);
    };
    // The short listing fails: every view of the long one stays listed,
    // and the report names the short listing's error.
    s.sim.home().setFault("short_fail", "cleartool: Error: short listing refused");
    load();
    EXPECT_EQ(s.lines().size(), 3);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("short listing refused")));
    EXPECT_FALSE(boxes.last().text.contains(QStringLiteral("could not be read")));

    // A warning is no failure; an error of two lines is one view.
    s.sim.home().clearFaults();
    s.sim.home().setFault("listing_warning", "the registry is slow");
    load();
    EXPECT_EQ(s.lines().size(), 3);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    s.sim.home().clearFaults();
    s.sim.home().setViewFault("b", "lsview_fail",
                              "cleartool: Error: Unable to get view \"b\"\\n    (retried)");
    load();
    EXPECT_EQ(s.lines().size(), 2);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("1 of 3 views could not be read")))
        << boxes.last().text.toStdString();

    // Errors with exit status 0 and nothing listed: a failed listing.
    s.sim.home().clearFaults();
    s.sim.home().setFault("listing_stderr_only", "cleartool: Error: no registry server");
    load();
    EXPECT_TRUE(s.lines().isEmpty());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ClearTool returned error: cleartool: Error: no registry server"));
}

TEST(FaultsLoading, AListingStillTalkingOutlivesTheTimeLimitAndASilentOneDoesNot) {
    MsgRecorder boxes;
    Site s({"a", "b", "c", "d"}, 700);
    s.sim.home().setFault("slow_listing_ms", "2000");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    EXPECT_EQ(s.lines().size(), 4);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    s.sim.home().clearFaults();
    s.sim.home().setFault("stall_ms", "3000");
    s.w->loadViewsBut_Click();
    settle(*s.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("did not answer in time")));
}

TEST(FaultsRun, LookupAnswersThatCannotBeTrustedSkipTheView) {
    MsgRecorder boxes;
    Site s({"a", "b", "c", "d", "e"});
    s.w->loadViewsBut_Click();
    settle(*s.w);
    s.sim.home().setViewFault("a", "lookup_other_tag", "e");
    s.sim.home().setViewFault("b", "lookup_two_lines");
    s.sim.home().setViewFault("c", "lookup_root");
    s.sim.home().setViewFault("d", "lookup_trailing_blanks");
    s.checkAll();
    s.execute();
    ASSERT_EQ(boxes.boxes.size(), 3) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("ERROR:lsview answered for view \"e\" instead "
                                                  "of a: Couldn't get view storage"));
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral("ERROR:lsview printed 2 lines for view b: Couldn't get view storage"));
    EXPECT_TRUE(boxes.boxes[2].text.startsWith(
        QStringLiteral("ERROR:lsview gave the root directory as the storage of view c")));
    // Only the views with a sound answer were touched, d's path without
    // its trailing blanks.
    EXPECT_EQ(s.repaired(), (QStringList{QStringLiteral("d"), QStringLiteral("e")}));
    EXPECT_EQ(s.stopped(), (QStringList{QStringLiteral("d"), QStringLiteral("e")}));
}
