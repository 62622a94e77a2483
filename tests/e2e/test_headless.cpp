// The headless face as scripts and cron meet it: the real program, with
// no display, against the simulated ClearCase.
#include "app/frmmain.h"
#include "clearcase/viewlistmodel.h"
#include "msgrecorder.h"
#include "progress/frmprogress.h"
#include "simhome.h"
#include "ui.h"

#include <QComboBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace tsy;
using namespace tsy::test;

namespace {
struct Ran {
    int status = -1;
    QString out, err;
    QStringList lines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

QProcessEnvironment no_display() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

void start(QProcess& p, const QStringList& args) {
    p.setProcessEnvironment(no_display());
    p.start(QStringLiteral(TESSALY_BIN), args);
    ASSERT_TRUE(p.waitForStarted());
}

Ran finish(QProcess& p) {
    EXPECT_TRUE(p.waitForFinished(60'000));
    Ran r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Ran tessaly(const QStringList& args) {
    QProcess p;
    start(p, args);
    return finish(p);
}

// "TAG<tab>OUTCOME<tab>N.NN s" with the time left out.
QStringList outcomes(const Ran& r) {
    QStringList out;
    for (const QString& l : r.lines())
        out.append(l.section(u'\t', 0, 1));
    return out;
}
} // namespace

TEST(Headless, ListPrintsTheWindowsLinesAndRefusesARepairWithoutAChoice) {
    SimHome sim;
    sim.add("beta", "h2");
    sim.add("Alpha", "h1");
    sim.add("alpha", "h1"); // another view on UNIX, where tags keep their case
    sim.add("gone", "h1");
    sim.home().setViewFault("gone", "lsview_fail", "cleartool: Error: Unable to get view \"gone\"");
    Ran r = tessaly({QStringLiteral("--list")});
    EXPECT_EQ(r.out, QStringLiteral("Alpha:h1\nalpha:h1\nbeta:h2\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("1 of 4 views could not be read")))
        << r.err.toStdString();
    EXPECT_EQ(r.status, 1);

    sim.home().clearJournal();
    r = tessaly({QStringLiteral("--repair")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(sim.journal().isEmpty()) << "nothing runs";
}

TEST(Headless, DryRunLooksUpOnlyAndPrintsWhatWouldRun) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    sim.home().clearJournal();
    const Ran r =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--dry-run")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    for (const QString& e : sim.journal())
        EXPECT_TRUE(e.startsWith(QStringLiteral("cleartool|lsview|"))) << e.toStdString();
    // Per view the fix_prot command and the endview, then the summary.
    ASSERT_EQ(r.lines().size(), 5);
    EXPECT_TRUE(r.lines()[0].startsWith(QStringLiteral("'") +
                                        QString::fromStdString(sim.home().sshPath())));
    EXPECT_TRUE(r.lines()[1].endsWith(QStringLiteral("'endview' '-server' 'a'")));
    EXPECT_EQ(r.lines()[4], QStringLiteral("2 views: 2 would be repaired, 0 skipped"));
    EXPECT_FALSE(sim.home().storageFixed("a"));
}

TEST(Headless, RepairByPatternReportsEachViewAndOddTagsStayWhole) {
    SimHome sim;
    sim.add("dev one", "h1");
    sim.add("it's $dev \"x\"", "h2");
    sim.add("dev_three", "h1");
    sim.add("other", "h1");
    sim.home().setViewFault("dev_three", "fixprot_exit", "3");
    sim.home().clearJournal();
    const Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--match"),
                           QStringLiteral("DEV"), QStringLiteral("--ignore-case")});
    EXPECT_EQ(r.status, 1);
    const QStringList lines = r.lines();
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    const QRegularExpression time(QStringLiteral("\\t\\d+\\.\\d\\d s$"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(time.match(lines[i]).hasMatch()) << lines[i].toStdString();
    EXPECT_EQ(outcomes(r).mid(0, 3),
              (QStringList{QStringLiteral("dev one\trepaired"),
                           QStringLiteral("dev_three\tfix_prot failed: exit status 3: fix_prot: "
                                          "Error: Unable to fix protections of \"") +
                               QString::fromStdString(sim.home().find("dev_three")->storage) +
                               QStringLiteral("\" (simulated failure)."),
                           QStringLiteral("it's $dev \"x\"\trepaired")}));
    EXPECT_EQ(lines[3], QStringLiteral("3 views: 2 repaired, 1 failed, 0 skipped"));
    // In list order, each view's lookup, facts, fix_prot, then endview; no
    // endview after the failed one.
    QStringList order;
    for (const QString& e : sim.journal())
        if (e.startsWith(QStringLiteral("fix_prot|")) ||
            e.startsWith(QStringLiteral("cleartool|endview|")))
            order.append(e.startsWith(QStringLiteral("fix_prot"))
                             ? QStringLiteral("fix ") + e.section(u'/', -1)
                             : e.section(u'|', 1));
    EXPECT_EQ(
        order,
        (QStringList{QStringLiteral("fix dev one.vws"), QStringLiteral("endview|-server|dev one"),
                     QStringLiteral("fix dev_three.vws"), QStringLiteral("fix it's $dev \"x\".vws"),
                     QStringLiteral("endview|-server|it's $dev \"x\"")}));
    EXPECT_FALSE(sim.home().storageFixed("other"));
}

TEST(Headless, NoTwoRunsAtOnceAndNoSecondFixProtOnAStorageStillAtWork) {
    MsgRecorder boxes;
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "1500");
    QProcess first;
    start(first, {QStringLiteral("--repair"), QStringLiteral("--all")});
    QTest::qWait(500);
    const Ran second = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(second.status, 3);
    EXPECT_TRUE(second.err.contains(QStringLiteral("another repair run is under way (process ")))
        << second.err.toStdString();
    EXPECT_EQ(finish(first).status, 0);

    // A window closed while a's fix_prot works; a run started then skips a
    // and repairs b, and a's server is not stopped under its fix_prot.
    sim.home().breakStorage();
    sim.home().clearJournal();
    auto w = std::make_unique<frmMain>();
    ASSERT_TRUE(w->Form_Load());
    w->loadViewsBut_Click();
    settle(*w);
    ui(*w).runModeCombo->setCurrentIndex(1);
    w->runModeCombo_Click();
    ui(*w).viewsModel->setCheckedWhere(true, {});
    w->show();
    QTimer::singleShot(400, w.get(), [&] { w->close(); });
    w->executeFixProtBut_Click();
    settle(*w);
    w.reset();
    close_progress_window();
    const Ran after = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(after.status, 1);
    EXPECT_EQ(outcomes(after).mid(0, 2),
              (QStringList{QStringLiteral("a\tskipped: fix_prot from an earlier run still at work"),
                           QStringLiteral("b\trepaired")}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return sim.home().storageFixed("a"); }, 10'000));
    EXPECT_FALSE(sim.journal("cleartool").contains(QStringLiteral("cleartool|endview|-server|a")));
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
}

TEST(Headless, AnInterruptEndsTheRunAfterTheViewAtWork) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    sim.add("c", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "1000");
    sim.home().clearJournal();
    QProcess p;
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all")});
    QTest::qWait(500);
    ::kill(pid_t(p.processId()), SIGINT);
    const Ran r = finish(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outcomes(r).value(0), QStringLiteral("a\trepaired"));
    EXPECT_EQ(r.lines().value(1),
              QStringLiteral("1 views: 1 repaired, 0 failed, 0 skipped, 2 not started (stopped "
                             "by a signal)"));
    EXPECT_TRUE(sim.home().storageFixed("a"));
    for (const QString& e : sim.journal())
        EXPECT_FALSE(e.endsWith(QStringLiteral("|b")) || e.endsWith(QStringLiteral("|c")) ||
                     e.contains(QStringLiteral("/b.vws")) || e.contains(QStringLiteral("/c.vws")))
            << e.toStdString();
}
