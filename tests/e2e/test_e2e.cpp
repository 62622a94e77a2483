// SPDX-License-Identifier: Apache-2.0
// The program against the simulated ClearCase: the real cleartool
// backend, the real launcher and the simulator's cleartool and fix_prot.
#include "app/frmmain.h"
#include "app/sessionend.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "process/commandline.h"
#include "progress/frmprogress.h"
#include "simhome.h"
#include "temphome.h"
#include "ui.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QProgressBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
struct SimWindow {
    explicit SimWindow(const QString& dir = QStringLiteral("sim home")) : sim(dir) {
        qunsetenv("TERMINAL");
        w = std::make_unique<frmMain>();
        EXPECT_TRUE(w->Form_Load());
    }
    ~SimWindow() { w.reset(); }
    void load() {
        w->loadViewsBut_Click();
        settle(*w);
    }
    void hide_mode() {
        ui(*w).runModeCombo->setCurrentIndex(1);
        w->runModeCombo_Click();
    }
    int row(const QString& tag) const {
        for (int i = 0; i < ui(*w).viewsModel->count(); ++i)
            if (ui(*w).viewsModel->text(i).startsWith(tag + QStringLiteral(":")))
                return i;
        return -1;
    }
    void check(const QString& tag) { ui(*w).viewsModel->setChecked(row(tag), true); }
    QStringList work() const {
        // The calls of a run: everything after the listing.
        QStringList j = sim.journal();
        while (!j.isEmpty() && j.first().startsWith(QStringLiteral("cleartool|lsview|-long")))
            j.removeFirst();
        return j;
    }
    SimHome sim;
    std::unique_ptr<frmMain> w;
};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList fix_words(SimHome& sim, const ccsim::View& v) {
    return unix_fix_words(sim.home(), v);
}

// The journal of fix_prot run as root on v's host: the remote shell given
// the host and the quoted words, sudo, then fix_prot, each as it arrived.
QStringList on_host(SimHome& sim, const ccsim::View& v) {
    const QStringList fix = fix_words(sim, v);
    QStringList quoted;
    for (const QString& w : QStringList{q(sim.home().sudoPath()), QStringLiteral("-n")} + fix)
        quoted.append(process::shell_quote(w));
    return {QStringLiteral("ssh|") + q(v.host) + u'|' + quoted.join(u'|'),
            QStringLiteral("sudo|-n|") + fix.join(u'|'),
            QStringLiteral("fix_prot|") + fix.mid(1).join(u'|')};
}

QString facts(const QString& tag) {
    return QStringLiteral("cleartool|lsview|-long|-properties|-full|") + tag;
}

// A terminal window as the tests need one: it runs its -e command on a
// pseudo-terminal this test holds the other side of, so the program sees
// a terminal it can wait on for Enter, and the test reads what it shows.
class PtyTerminal {
public:
    PtyTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(m_master, 0);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
        const QByteArray slave = ::ptsname(m_master);
        m_path = m_dir.path() + QStringLiteral("/term");
        EXPECT_TRUE(write_file(m_path,
                               "#!/bin/sh\nwhile [ \"$1\" != -e ]; do shift; done\nshift\n"
                               "exec \"$@\" <" +
                                   slave + " >" + slave + " 2>&1\n",
                               true));
        qputenv("TERMINAL", QFile::encodeName(m_path));
    }
    ~PtyTerminal() {
        qunsetenv("TERMINAL");
        ::close(m_master);
    }
    // What the terminal showed so far.
    QByteArray shown() {
        char buf[4096];
        ssize_t n = 0;
        while ((n = ::read(m_master, buf, sizeof buf)) > 0)
            m_seen.append(buf, n);
        return m_seen;
    }
    void pressEnter() { [[maybe_unused]] const ssize_t n = ::write(m_master, "\r", 1); }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_master = -1;
    QByteArray m_seen;
};

// When the latest call of program on tag was journalled; -1 for none.
std::int64_t last_call(SimHome& sim, const std::string& program, const std::string& first,
                       const std::string& tag) {
    std::int64_t t = -1;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (e.program == program && !e.args.empty() && e.args.front() == first &&
            e.args.back().find(tag) != std::string::npos)
            t = e.timeMs;
    return t;
}
} // namespace

TEST(Simulated, LoadsSeveralHundredViewsThroughCleartool) {
    MsgRecorder boxes;
    SimWindow f;
    f.sim.home().makeDemo();
    const std::vector<ccsim::View> views = f.sim.home().views();
    ASSERT_GE(views.size(), 200u);
    QSet<QString> expected;
    for (const ccsim::View& v : views)
        expected.insert(QString(q(v.tag) + QStringLiteral(":") + q(v.host)).toCaseFolded());
    f.load();
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(ui(*f.w).viewsModel->count(), expected.size());
    for (int i = 0; i < ui(*f.w).viewsModel->count(); ++i)
        EXPECT_TRUE(expected.contains(ui(*f.w).viewsModel->text(i).toCaseFolded()));
    EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(),
              QStringLiteral("Found: %1 views").arg(ui(*f.w).viewsModel->count()));
    EXPECT_EQ(f.sim.journal(), QStringList{QStringLiteral("cleartool|lsview|-long")});
}

TEST(Simulated, ExecuteRepairsEachCheckedViewThenStopsItsServer) {
    MsgRecorder boxes;
    SimWindow f;
    const ccsim::View a = f.sim.add("a", "h1");
    const ccsim::View b = f.sim.add("b", "h2");
    f.sim.add("c", "h1");
    f.load();
    f.hide_mode();
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("b"));
    f.sim.home().clearJournal();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(f.work(),
              (QStringList{QStringLiteral("cleartool|lsview|a"), facts(QStringLiteral("a"))} +
               on_host(f.sim, a) +
               QStringList{QStringLiteral("cleartool|endview|-server|a"),
                           QStringLiteral("cleartool|lsview|b"), facts(QStringLiteral("b"))} +
               on_host(f.sim, b) + QStringList{QStringLiteral("cleartool|endview|-server|b")}));
    EXPECT_TRUE(f.sim.home().storageFixed("a"));
    EXPECT_TRUE(f.sim.home().storageFixed("b"));
    EXPECT_FALSE(f.sim.home().storageFixed("c"));
}

TEST(Simulated, TheDetailReportComesFromLsviewAndCatcs) {
    MsgRecorder boxes;
    SimWindow f;
    ccsim::View v;
    v.tag = "snap_dev";
    v.host = "buildhost";
    v.snapshot = true;
    v.ucm = true;
    v.active = true;
    v.configSpec = "element * CHECKEDOUT\nelement * /main/LATEST\n";
    f.sim.home().addView(v);
    f.load();
    f.w->setCurrentRow(0);
    f.w->viewsList_DblClick();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Vistrel: Detail for view 'snap_dev'"));
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("* * * * * *\r\n\r\nIs Active: True\r\nIs Snapshot: True\r\n"
                             "Is UCM View: True\r\nView Server Host: buildhost\r\n\r\n"
                             "--------------------CONFIG SPEC----------------------------- \r\n"
                             "element * CHECKEDOUT\nelement * /main/LATEST\n"));
}

TEST(Simulated, OddTagsAreListedReportedAndRepairedWithoutAShell) {
    MsgRecorder boxes;
    // The tags, the owner and the home path reach fix_prot on the view's
    // host whole, through the remote shell's quoting.
    SimWindow f(QStringLiteral("home with 'quotes' and $dollar"));
    const std::string tags[] = {"my view",
                                "it's \"quoted\"",
                                "cost$HOME",
                                "semi;colon",
                                "back`tick`",
                                "Ünïcødé_視圖",
                                std::string(220, 'L') + "_long"};
    std::vector<ccsim::View> added;
    for (const std::string& t : tags) {
        ccsim::View v;
        v.tag = t;
        v.host = "oddhost";
        v.owner = "o'wner $USER x";
        added.push_back(f.sim.home().addView(v));
    }
    f.load();
    ASSERT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    ASSERT_EQ(ui(*f.w).viewsModel->count(), int(std::size(tags)));
    f.hide_mode();
    for (const std::string& t : tags) {
        ASSERT_GE(f.row(q(t)), 0) << t;
        f.check(q(t));
    }
    f.sim.home().clearJournal();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    for (const ccsim::View& v : added) {
        EXPECT_TRUE(f.sim.home().storageFixed(v.tag)) << v.tag;
        EXPECT_TRUE(f.work().contains(QStringLiteral("cleartool|endview|-server|") + q(v.tag)))
            << v.tag;
        EXPECT_TRUE(
            f.work().contains(QStringLiteral("fix_prot|") + fix_words(f.sim, v).mid(1).join(u'|')))
            << v.tag;
    }
    f.w->setCurrentRow(f.row(QStringLiteral("it's \"quoted\"")));
    f.w->viewsList_DblClick();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Vistrel: Detail for view 'it's \"quoted\"'"));
    EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("View Server Host: oddhost\r\n")));
}

TEST(Simulated, ATagWithAColonIsRepairedAndStoppedAsItself) {
    // "a:b" on host h1 shows as "a:b:h1", beside the view "a" on host "b:h1"
    // would; the run must act on the tag ClearCase gave, not a cut of the line.
    MsgRecorder boxes;
    SimWindow f;
    const ccsim::View colon = f.sim.add("a:b", "h1");
    f.sim.add("a", "h2");
    f.load();
    f.hide_mode();
    ui(*f.w).viewsModel->setCheckedWhere(
        true, [](const QString& line) { return line == QStringLiteral("a:b:h1"); });
    f.sim.home().clearJournal();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(f.work(),
              (QStringList{QStringLiteral("cleartool|lsview|a:b"), facts(QStringLiteral("a:b"))} +
               on_host(f.sim, colon) +
               QStringList{QStringLiteral("cleartool|endview|-server|a:b")}));
    EXPECT_TRUE(f.sim.home().storageFixed("a:b"));
    EXPECT_FALSE(f.sim.home().storageFixed("a"));
}

TEST(Simulated, InATerminalThatReturnsAtOnceTheServerStopsOnlyAfterFixProt) {
    // A terminal whose launcher hands the command on and returns at once,
    // as gnome-terminal does: endview must still wait for fix_prot's end.
    MsgRecorder boxes;
    SimWindow f;
    const ccsim::View a = f.sim.add("a", "h1");
    QTemporaryDir dir;
    const QString term = dir.path() + QStringLiteral("/term");
    ASSERT_TRUE(write_file(term,
                           "#!/bin/sh\nwhile [ \"$1\" != -e ]; do shift; done\nshift\n"
                           "\"$@\" </dev/null >/dev/null 2>&1 &\nexit 0\n",
                           true));
    f.load();
    qputenv("TERMINAL", QFile::encodeName(term));
    f.sim.home().setViewFault("a", "fixprot_sleep_ms", "600");
    f.check(QStringLiteral("a"));
    f.sim.home().clearJournal();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    qunsetenv("TERMINAL");
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    const std::vector<ccsim::JournalEntry> j = f.sim.home().journal();
    // lsview, the view's facts, ssh, sudo, fix_prot, endview.
    ASSERT_EQ(j.size(), 6u);
    EXPECT_EQ(j[4].program, "fix_prot");
    EXPECT_EQ(j[5].program, "cleartool");
    EXPECT_EQ(j[5].args, (std::vector<std::string>{"endview", "-server", "a"}));
    // fix_prot was journalled as it started and slept 0.6 s before its end.
    EXPECT_GE(j[5].timeMs - j[4].timeMs, 550);
    EXPECT_TRUE(f.sim.home().storageFixed("a"));
}

TEST(Simulated, ExitMidRunLeavesTheViewToItsUnitStartsNoOtherAndClosesAtOnce) {
    for (const bool normal : {false, true}) {
        MsgRecorder boxes;
        SimWindow f;
        f.sim.add("a", "h1");
        f.sim.add("b", "h1");
        f.sim.home().setViewFault("a", "fixprot_sleep_ms", "800");
        std::optional<PtyTerminal> term;
        if (normal)
            term.emplace();
        else
            f.hide_mode();
        f.load();
        f.check(QStringLiteral("a"));
        f.check(QStringLiteral("b"));
        f.w->show();
        f.sim.home().clearJournal();
        f.w->executeFixProtBut_Click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.journal("fix_prot").size() == 1; }, 10'000))
            << normal;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(ui(*f.w).cancelBut, Qt::LeftButton);
        EXPECT_FALSE(f.w->isVisible()) << normal;
        EXPECT_FALSE(f.w->operationUnderway()) << normal;
        EXPECT_LT(clock.elapsed(), 300) << normal;
        // The unit finishes alone: endview after a's fix_prot, b untouched.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return last_call(f.sim, "cleartool", "endview", "a") > 0; }, 10'000))
            << normal;
        std::int64_t fixEnd = -1;
        for (const ccsim::JournalEntry& e : f.sim.home().ends())
            fixEnd = e.timeMs;
        EXPECT_GE(last_call(f.sim, "cleartool", "endview", "a"), fixEnd);
        EXPECT_TRUE(f.sim.home().storageFixed("a"));
        EXPECT_EQ(last_call(f.sim, "cleartool", "lsview", "b"), -1) << normal;
        EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    }
}

TEST(Simulated, ATerminalWaitingForEnterAfterAFailureHoldsNoLockAndNamesWhatFailed) {
    MsgRecorder boxes;
    SimWindow f;
    f.sim.add("a", "h1");
    f.sim.home().setViewFault("a", "fixprot_exit", "3");
    PtyTerminal term;
    f.load();
    f.check(QStringLiteral("a"));
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(
        boxes.last().text.startsWith(QStringLiteral("fix_prot did not succeed for 1 of 1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return term.shown().contains("Press Enter"); }, 10'000));
    const QByteArray shown = term.shown();
    EXPECT_TRUE(shown.startsWith("\033]0;fix_prot a\007")) << shown.toStdString();
    const QByteArray firstLine = shown.mid(shown.indexOf('\007') + 1).split('\n').first();
    EXPECT_TRUE(firstLine.startsWith(QByteArray(
        process::shell_quote(QString::fromStdString(f.sim.home().sshPath())).toLocal8Bit() +
        " h1 ")))
        << firstLine.toStdString();
    EXPECT_TRUE(shown.contains("fix_prot failed with exit status 3. Press Enter"))
        << shown.toStdString();
    EXPECT_FALSE(shown.contains("ssh failed"));

    // While it waits, a headless run of the same view is not refused.
    QProcess headless;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    headless.setProcessEnvironment(env);
    headless.start(QStringLiteral(TESSALY_BIN),
                   {QStringLiteral("--repair"), QStringLiteral("--all")});
    ASSERT_TRUE(headless.waitForFinished(20'000));
    const QString out = QString::fromUtf8(headless.readAllStandardOutput());
    EXPECT_TRUE(out.startsWith(QStringLiteral("a\tfix_prot failed: exit status 3")))
        << out.toStdString();
    term.pressEnter();
}

TEST(Simulated, ARemoteShellSettingThatCannotBeSplitFailsTheViewAndSaysWhy) {
    MsgRecorder boxes;
    SimWindow f;
    f.sim.add("a", "h1");
    f.load();
    f.hide_mode();
    f.check(QStringLiteral("a"));
    const QByteArray saved = qgetenv("TESSALY_SSH");
    qputenv("TESSALY_SSH", "ssh -o 'ProxyCommand=jump");
    f.sim.home().clearJournal();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    qputenv("TESSALY_SSH", saved);
    ASSERT_FALSE(boxes.boxes.isEmpty());
    EXPECT_TRUE(boxes.texts().join(u'\n').contains(
        QStringLiteral("TESSALY_SSH cannot be split into words as a shell would")))
        << boxes.texts().join(u'\n').toStdString();
    EXPECT_TRUE(f.sim.journal("ssh").isEmpty());
    EXPECT_TRUE(f.sim.journal("fix_prot").isEmpty());
}

TEST(Simulated, ASlowListingKeepsTheBarMovingAndACloseEndsItCleanly) {
    MsgRecorder boxes;
    SimWindow f;
    f.sim.add("a", "h1");
    f.w->show();
    f.sim.home().setFault("slow_ms", "2000");
    QSet<int> values;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, &sample, [&] {
        if (progress_shown(*f.w))
            values.insert(progress_of(*f.w)->progressBar->value());
    });
    sample.start(30);
    QTimer::singleShot(900, f.w.get(), [&] { f.w->close(); });
    QElapsedTimer t;
    t.start();
    f.w->loadViewsBut_Click();
    settle(*f.w);
    // The bar moved while cleartool said nothing, and the close did not
    // wait for the listing: the query was stopped.
    EXPECT_GT(values.size(), 5);
    EXPECT_LT(t.elapsed(), 1800);
    EXPECT_FALSE(f.w->isVisible());
    EXPECT_EQ(progress_of(*f.w), nullptr);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(ui(*f.w).viewsModel->count(), 0);
}

TEST(Simulated, ACtrlCToTheWholeProcessGroupMidRunLetsFixProtFinish) {
    // As a shell sends Ctrl-C to a job: to every process of its group.
    // Tessaly closes in order; the fix_prot under way is in a session of
    // its own, so it is not interrupted and finishes its storage.
    MsgRecorder boxes;
    SimWindow f;
    const ccsim::View a = f.sim.add("a", "h1");
    f.sim.add("b", "h1");
    f.load();
    f.hide_mode();
    f.sim.home().setViewFault("a", "fixprot_sleep_ms", "1000");
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("b"));
    f.w->show();
    ASSERT_EQ(::setpgid(0, 0), 0) << "this test must lead a process group of its own";
    close_windows_on_session_end();
    f.sim.home().clearJournal();
    when(
        f.w.get(), [&] { return !f.sim.journal("fix_prot").isEmpty(); }, [] { ::kill(0, SIGINT); });
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &dfl, nullptr);

    EXPECT_FALSE(f.w->isVisible());
    // The close ended the run: no other view was started; a's repair unit
    // finished alone, its endview after its fix_prot.
    const QStringList expected =
        QStringList{QStringLiteral("cleartool|lsview|a"), facts(QStringLiteral("a"))} +
        on_host(f.sim, a) + QStringList{QStringLiteral("cleartool|endview|-server|a")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.work() == expected; }, 10000))
        << f.work().join(u'\n').toStdString();
    EXPECT_TRUE(f.sim.home().storageFixed("a"));
    EXPECT_FALSE(f.sim.home().storageFixed("b"));
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
}

TEST(Simulated, ViewsDifferingOnlyInLetterCaseAreTwoViews) {
    // UNIX ClearCase tags are case-sensitive: both are listed and each is
    // repaired as itself.
    MsgRecorder boxes;
    SimWindow f;
    f.sim.add("Rel_Build", "srv1");
    f.sim.add("rel_build", "srv1");
    f.load();
    EXPECT_EQ(ui(*f.w).viewsModel->count(), 2);
    EXPECT_GE(f.row(QStringLiteral("Rel_Build")), 0);
    EXPECT_GE(f.row(QStringLiteral("rel_build")), 0);
    f.hide_mode();
    ui(*f.w).viewsModel->setCheckedWhere(true, {});
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_TRUE(f.sim.home().storageFixed("Rel_Build"));
    EXPECT_TRUE(f.sim.home().storageFixed("rel_build"));
}

TEST(Simulated, CheckTheTickedViewsLeavesExactlyTheDamagedOnesTicked) {
    MsgRecorder boxes;
    SimWindow f;
    for (const char* tag : {"clean", "owned", "nowrite", "noid", "spare"}) {
        f.sim.add(tag, "h1");
        f.sim.home().fixStorage(tag);
    }
    f.sim.home().setOwner("owned", "db/view_db.dbd", "nobody", "ccusers");
    f.sim.home().breakStorage("nowrite", ccsim::Home::BreakMode);
    f.sim.home().breakStorage("noid", ccsim::Home::BreakIdentity);
    f.load();
    Ui c = ui(*f.w);
    QTest::mouseClick(c.selectAllBut, Qt::LeftButton);
    // "spare" is damaged too, but left unticked: a check reads ticked views only.
    f.sim.home().breakStorage("spare", ccsim::Home::BreakMode);
    c.viewsList->setFocus();
    c.viewsList->setCurrentIndex(c.viewsModel->index(f.row(QStringLiteral("spare")), 0));
    QTest::keyClick(c.viewsList, Qt::Key_Space);
    ASSERT_FALSE(c.viewsModel->isChecked(f.row(QStringLiteral("spare"))));
    f.sim.home().clearJournal();

    // The list's context menu, and its entry chosen with the keys.
    bool offered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* menu = QApplication::activePopupWidget();
        if (!menu)
            return;
        answer.stop();
        offered = true;
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    answer.start(20);
    f.w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->activateWindow();
    // A right click on a line, through the window as the mouse's comes.
    const QPoint line = c.viewsList->visualRect(c.viewsModel->index(0, 0)).center();
    QTest::mouseClick(f.w->windowHandle(), Qt::RightButton, {},
                      c.viewsList->viewport()->mapTo(f.w.get(), line));
    ASSERT_TRUE(offered) << "no context menu";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.boxes.isEmpty(); }, 30'000));
    settle(*f.w);
    QStringList ticked;
    for (int i = 0; i < c.viewsModel->count(); ++i)
        if (c.viewsModel->isChecked(i))
            ticked << c.viewsModel->tag(i);
    EXPECT_EQ(ticked, (QStringList{QStringLiteral("noid"), QStringLiteral("nowrite"),
                                   QStringLiteral("owned")}));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.texts().value(0).startsWith(
        QStringLiteral("1 sound (unticked), 3 need repair (still ticked), 0 not checked")))
        << boxes.texts().value(0).toStdString();
    EXPECT_TRUE(f.sim.journal("fix_prot").isEmpty()) << "a check changes nothing";
    EXPECT_FALSE(f.sim.journal("cleartool").join(u' ').contains(QStringLiteral("endview")));
    EXPECT_TRUE(c.executeFixProtBut->isEnabled());
}
