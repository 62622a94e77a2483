// SPDX-License-Identifier: Apache-2.0
// The headless face as scripts and cron meet it: the real program, with
// no display, against the simulated ClearCase.
#include "app/frmmain.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "repair/runlocks.h"
#include "simhome.h"
#include "temphome.h"
#include "ui.h"

#include <QComboBox>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <QMap>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The view a journal entry acts on: cleartool's last word, or the storage
// fix_prot is given (through ssh and sudo too), as "TAG" of ".../TAG.vws";
// empty for the listing of the whole region.
// The view a call was for; none for the listing, nor for a query of the
// long records of several views, which a run asks for a batch at once and
// which changes nothing.
std::string entry_tag(const ccsim::JournalEntry& e) {
    if (e.args.empty() || e.args.back() == "-long" ||
        (e.program == "cleartool" && e.args.size() > 5 && e.args[1] == "-long"))
        return {};
    std::string last = e.args.back();
    if (e.program == "cleartool")
        return last;
    last.erase(std::remove(last.begin(), last.end(), '\''), last.end());
    last = last.substr(last.rfind('/') + 1);
    return last.size() > 4 ? last.substr(0, last.size() - 4) : last;
}

// One fix_prot run: when its call was journalled and when it returned.
struct Span {
    std::int64_t start = 0, end = -1;
};

std::map<std::string, Span> fix_prot_spans(const ccsim::Home& home) {
    std::map<int, std::string> byPid;
    std::map<std::string, Span> spans;
    for (const ccsim::JournalEntry& e : home.journal()) {
        if (e.program != "fix_prot")
            continue;
        EXPECT_EQ(spans.count(entry_tag(e)), 0u) << "fix_prot twice on " << entry_tag(e);
        byPid[e.pid] = entry_tag(e);
        spans[entry_tag(e)].start = e.timeMs;
    }
    for (const ccsim::JournalEntry& e : home.ends())
        if (byPid.count(e.pid))
            spans[byPid[e.pid]].end = e.timeMs;
    return spans;
}

// When the latest endview of tag was asked, -1 for never.
std::int64_t endview_time(const ccsim::Home& home, const std::string& tag) {
    std::int64_t t = -1;
    for (const ccsim::JournalEntry& e : home.journal())
        if (e.program == "cleartool" && e.args.front() == "endview" && entry_tag(e) == tag)
            t = e.timeMs;
    return t;
}

// Every view whose fix_prot ran got its endview, asked only after that
// fix_prot had ended; the views whose fix_prot ran.
std::set<std::string> endviews_follow_fix_prots(const ccsim::Home& home) {
    std::set<std::string> ran;
    for (const auto& [tag, span] : fix_prot_spans(home)) {
        ran.insert(tag);
        EXPECT_GE(span.end, span.start) << tag << ": fix_prot never ended";
        EXPECT_GE(endview_time(home, tag), span.end) << tag << ": no endview after its fix_prot";
    }
    return ran;
}

// Waits until every fix_prot started has its endview (units finishing alone).
bool units_done(const ccsim::Home& home) {
    // A unit's record stays locked until the unit has written its last word
    // and ended, a little after its endview.
    const auto recordsFree = [] {
        const QString dir = repair::unit_record_dir().value();
        if (dir.isEmpty())
            return true;
        for (const QFileInfo& f :
             QDir(dir).entryInfoList({QStringLiteral("*.unit")}, QDir::Files)) {
            const int fd = ::open(QFile::encodeName(f.filePath()).constData(),
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
            ::close(fd);
            if (held)
                return false;
        }
        return true;
    };
    return QTest::qWaitFor(
        [&] {
            for (const auto& [tag, span] : fix_prot_spans(home))
                if (span.end < 0 || endview_time(home, tag) < span.end)
                    return false;
            return recordsFree();
        },
        15'000);
}

// Two signals to a run, the second 0.2 s after the first; the run must
// end within a second of the second.
Ran signalled_twice(QProcess& p, int sig) {
    ::kill(pid_t(p.processId()), sig);
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(p.processId()), sig);
    Ran r = finish(p);
    EXPECT_LT(clock.elapsed(), 1000);
    return r;
}

// What a run writes to the terminal whose side master is, until it ends;
// master is closed after.
QByteArray shown_until_it_ends(QProcess& p, int master) {
    QByteArray seen;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    const auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            seen.append(buf, n);
    };
    while (!p.waitForFinished(50))
        drain();
    drain();
    ::close(master);
    return seen;
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
    // As cron starts it: no XDG_RUNTIME_DIR, and no word about that.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", runtime); });
    const Ran r =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--dry-run")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("XDG_RUNTIME_DIR"))) << r.err.toStdString();
    for (const QString& e : sim.journal())
        EXPECT_TRUE(e.startsWith(QStringLiteral("cleartool|lsview|"))) << e.toStdString();
    // Per view the fix_prot command and the endview, then the summary.
    ASSERT_EQ(r.lines().size(), 5);
    EXPECT_EQ(r.lines()[4], QStringLiteral("2 views: 2 would be repaired, 0 skipped"));
    EXPECT_FALSE(sim.home().storageFixed("a"));
    // Each line does what it says when pasted into a shell, and the words
    // for the other host are quoted once.
    EXPECT_FALSE(r.lines()[0].contains(QStringLiteral("'\\''"))) << r.lines()[0].toStdString();
    for (const int i : {0, 1}) {
        QProcess sh;
        sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), r.lines()[i]});
        ASSERT_TRUE(sh.waitForFinished(20'000));
        EXPECT_EQ(sh.exitCode(), 0) << r.lines()[i].toStdString() << "\n"
                                    << sh.readAllStandardError().toStdString();
    }
    EXPECT_TRUE(sim.home().storageFixed("a"));
    EXPECT_TRUE(sim.journal("cleartool").contains(QStringLiteral("cleartool|endview|-server|a")));
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sim.journal("fix_prot").isEmpty(); }, 20'000));
    const Ran second = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(second.status, 3);
    EXPECT_TRUE(second.err.contains(QStringLiteral("another repair run is under way (process ")))
        << second.err.toStdString();
    EXPECT_EQ(finish(first).status, 0);

    // A window closed while a's fix_prot works; a run started then skips a
    // and repairs b. a's unit finishes alone: its endview follows its own
    // fix_prot's end.
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
    when(
        w.get(), [&] { return !sim.journal("fix_prot").isEmpty(); }, [&] { w->close(); });
    w->executeFixProtBut_Click();
    settle(*w);
    w.reset();
    const Ran after = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(after.status, 1);
    EXPECT_TRUE(outcomes(after).value(0).startsWith(
        QStringLiteral("a\tskipped: repair from an earlier run still at work (lock ")));
    EXPECT_EQ(outcomes(after).value(1), QStringLiteral("b\trepaired"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return sim.journal("cleartool").contains(QStringLiteral("cleartool|endview|-server|a"));
        },
        10'000));
    const std::map<std::string, Span> spans = fix_prot_spans(sim.home());
    ASSERT_EQ(spans.count("a"), 1u);
    EXPECT_GE(endview_time(sim.home(), "a"), spans.at("a").end);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sim.journal("fix_prot").isEmpty(); }, 20'000));
    ::kill(pid_t(p.processId()), SIGINT);
    const Ran r = finish(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outcomes(r).value(0), QStringLiteral("a\trepaired"));
    EXPECT_EQ(r.lines().value(1),
              QStringLiteral("1 view: 1 repaired, 0 failed, 0 skipped, 2 not started (stopped "
                             "by a signal)"));
    EXPECT_TRUE(sim.home().storageFixed("a"));
    // Only the query of the three views' records names b and c.
    for (const QString& e : sim.journal())
        EXPECT_FALSE(!e.startsWith(QStringLiteral("cleartool|lsview|-long|")) &&
                     (e.endsWith(QStringLiteral("|b")) || e.endsWith(QStringLiteral("|c")) ||
                      e.contains(QStringLiteral("/b.vws")) || e.contains(QStringLiteral("/c.vws"))))
            << e.toStdString();
}

TEST(Headless, ParallelRunsKeepOneFixProtPerHostAndEndEachViewAfterItsOwnFixProt) {
    SimHome sim;
    std::map<std::string, std::string> hostOf;
    for (const char* host : {"h1", "h2", "h3"})
        for (int i = 1; i <= 3; ++i) {
            const std::string tag = std::string(1, char('a' + (host[1] - '1'))) + char('0' + i);
            sim.add(tag, host);
            hostOf[tag] = host;
        }
    sim.home().setFault("fixprot_sleep_ms", "150");

    // One at a time: each view's calls together, in list order.
    sim.home().clearJournal();
    Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
                     QStringLiteral("1")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    std::vector<std::string> blocks;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (!entry_tag(e).empty() && (blocks.empty() || blocks.back() != entry_tag(e)))
            blocks.push_back(entry_tag(e));
    EXPECT_EQ(blocks,
              (std::vector<std::string>{"a1", "a2", "a3", "b1", "b2", "b3", "c1", "c2", "c3"}));
    EXPECT_FALSE(r.err.contains(QStringLiteral("\x1b[K"))) << "no status line off a terminal";
    // The same calls, line for line, as a run that does not say --jobs.
    const QStringList oneByOne = sim.journal();
    sim.home().clearJournal();
    EXPECT_EQ(tessaly({QStringLiteral("--repair"), QStringLiteral("--all")}).status, 0);
    EXPECT_EQ(sim.journal(), oneByOne);

    sim.home().breakStorage();
    sim.home().clearJournal();
    const QDateTime before = QDateTime::currentDateTimeUtc();
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
                 QStringLiteral("4"), QStringLiteral("--per-host"), QStringLiteral("1"),
                 QStringLiteral("--format"), QStringLiteral("json")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const std::map<std::string, Span> spans = fix_prot_spans(sim.home());
    ASSERT_EQ(spans.size(), 9u);
    std::map<std::string, std::vector<Span>> byHost;
    for (const auto& [tag, span] : spans) {
        EXPECT_GE(span.end, span.start) << tag << " ended";
        byHost[hostOf[tag]].push_back(span);
    }
    for (auto& [host, list] : byHost) {
        std::sort(list.begin(), list.end(),
                  [](const Span& a, const Span& b) { return a.start < b.start; });
        for (size_t i = 1; i < list.size(); ++i)
            EXPECT_GE(list[i].start, list[i - 1].end) << "two fix_prots at once on " << host;
    }
    int endviews = 0;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (e.program == "cleartool" && e.args.front() == "endview") {
            ++endviews;
            EXPECT_GE(e.timeMs, spans.at(entry_tag(e)).end) << "endview before fix_prot ended";
        }
    EXPECT_EQ(endviews, 9);
    int most = 0;
    for (const auto& [tag, span] : spans)
        most = std::max<int>(most, int(std::count_if(spans.begin(), spans.end(), [&](auto& o) {
                                 return o.second.start <= span.start && span.start < o.second.end;
                             })));
    EXPECT_GE(most, 2) << "views of different hosts ran at once";

    // One JSON object per view, as the journal saw it, then the summary.
    std::map<std::string, QStringList> sshArgs;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (e.program == "ssh") {
            QStringList args;
            for (const std::string& a : without_lock_command(e.args))
                args.append(QString::fromStdString(a));
            sshArgs[entry_tag(e)] = args;
        }
    const QStringList lines = r.lines();
    ASSERT_EQ(lines.size(), 10) << r.out.toStdString();
    std::set<std::string> seen;
    for (int i = 0; i < 9; ++i) {
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(lines[i].toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[i].toStdString();
        const std::string tag = o[QStringLiteral("tag")].toString().toStdString();
        seen.insert(tag);
        EXPECT_EQ(o[QStringLiteral("host")].toString().toStdString(), hostOf[tag]);
        EXPECT_EQ(o[QStringLiteral("outcome")].toString(), QStringLiteral("repaired"));
        EXPECT_EQ(o[QStringLiteral("exit_status")].toInt(-1), 0);
        EXPECT_EQ(o[QStringLiteral("storage")].toString().toStdString(),
                  sim.home().find(tag)->storage);
        QStringList command;
        for (const QJsonValue& w : o[QStringLiteral("command")].toArray())
            command.append(w.toString());
        EXPECT_EQ(command.mid(1), sshArgs[tag]) << tag;
        const QDateTime start =
            QDateTime::fromString(o[QStringLiteral("start")].toString(), Qt::ISODateWithMs);
        EXPECT_TRUE(start >= before.addMSecs(-1) &&
                    start.toMSecsSinceEpoch() <= spans.at(tag).start)
            << o[QStringLiteral("start")].toString().toStdString();
        EXPECT_GE(o[QStringLiteral("duration_s")].toDouble(), 0.15);
    }
    EXPECT_EQ(seen.size(), 9u);
    const QJsonObject summary =
        QJsonDocument::fromJson(lines[9].toUtf8()).object()[QStringLiteral("summary")].toObject();
    EXPECT_EQ(summary[QStringLiteral("views")].toInt(), 9);
    EXPECT_EQ(summary[QStringLiteral("repaired")].toInt(), 9);
    EXPECT_EQ(summary[QStringLiteral("exit_status")].toInt(-1), 0);
}

TEST(Headless, AnUnreachableHostIsGivenUpAfterTwoTriesAndTheFailedAreRunAgainByTag) {
    SimHome sim;
    for (const char* tag : {"d1", "d2", "d3", "d4"})
        sim.add(tag, "dead");
    sim.add("e1", "h1");
    sim.add("e2", "h1");
    sim.home().setFault("ssh_unreachable", "dead");
    sim.home().clearJournal();
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
                     QStringLiteral("2"), QStringLiteral("--failed-to"), failed});
    EXPECT_EQ(r.status, 1);
    QStringList got = outcomes(r);
    got.sort();
    const QString lost = QStringLiteral("\tfix_prot failed: exit status 255: ssh: connect to host "
                                        "dead port 22: Connection timed out");
    EXPECT_EQ(got, (QStringList{QStringLiteral("6 views: 2 repaired, 2 failed, 2 skipped"),
                                QStringLiteral("d1") + lost, QStringLiteral("d2") + lost,
                                QStringLiteral("d3\tskipped: host dead unreachable"),
                                QStringLiteral("d4\tskipped: host dead unreachable"),
                                QStringLiteral("e1\trepaired"), QStringLiteral("e2\trepaired")}));
    int sshToDead = 0;
    for (const QString& e : sim.journal("ssh"))
        sshToDead += e.split(u'|').contains(QStringLiteral("dead"));
    EXPECT_EQ(sshToDead, 2);

    // The rerun of what failed, once the host is back: those four alone.
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList tags = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    tags.sort();
    EXPECT_EQ(tags, (QStringList{QStringLiteral("d1"), QStringLiteral("d2"), QStringLiteral("d3"),
                                 QStringLiteral("d4")}));
    sim.home().clearFaults();
    sim.home().clearJournal();
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--tags"), failed});
    EXPECT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    std::set<std::string> touched;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (!entry_tag(e).empty())
            touched.insert(entry_tag(e));
    EXPECT_EQ(touched, (std::set<std::string>{"d1", "d2", "d3", "d4"}));
}

TEST(Headless, AnInterruptLetsEveryViewAtWorkFinishAndStartsNoOther) {
    SimHome sim;
    for (const char* host : {"h1", "h2", "h3"}) {
        sim.add(std::string(host) + "_a", host);
        sim.add(std::string(host) + "_b", host);
    }
    sim.home().setFault("fixprot_sleep_ms", "1200");
    sim.home().clearJournal();
    QProcess p;
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
              QStringLiteral("3")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("fix_prot").size() == 3; }, 20'000));
    // The second ends the run at once: the three units finish on their own.
    const Ran r = signalled_twice(p, SIGINT);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("left to finish on their own: h1_a, h2_a, h3_a")))
        << r.err.toStdString();
    EXPECT_EQ(r.lines().value(0),
              QStringLiteral("0 views: 0 repaired, 0 failed, 0 skipped, 3 not started (stopped "
                             "by a signal), 3 left to finish on their own"));
    const std::set<std::string> three{"h1_a", "h2_a", "h3_a"};
    ASSERT_TRUE(units_done(sim.home()));
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), three);
    std::set<std::string> touched;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (!entry_tag(e).empty())
            touched.insert(entry_tag(e));
    EXPECT_EQ(touched, three);

    // The next run reports each unit's record once, then repairs as asked.
    const Ran next =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")});
    EXPECT_EQ(next.err.count(QStringLiteral("finished after the run that started it had ended: ")),
              3)
        << next.err.toStdString();
    EXPECT_EQ(
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")})
            .err.count(QStringLiteral("finished after the run")),
        0);
}

TEST(Headless, HostAndTagPicksNarrowAPatternAndAnUnknownTagIsReported) {
    SimHome sim;
    sim.add("dev_a", "h1");
    sim.add("dev_b", "h2");
    sim.add("rel_a", "h1");
    sim.add("dev_c", "h1");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tags"));
    ASSERT_TRUE(write_file(file, "# views to look at\n\ndev_a\n  dev_b\nrel_a\nnope\n"));
    sim.home().clearJournal();
    const Ran r =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--dry-run"), QStringLiteral("--match"),
                 QStringLiteral("dev"), QStringLiteral("--host"), QStringLiteral("h1"),
                 QStringLiteral("--tags"), file});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines().size(), 3) << r.out.toStdString();
    EXPECT_TRUE(r.lines()[0].contains(QStringLiteral("/dev_a.vws"))) << r.out.toStdString();
    EXPECT_EQ(r.lines()[2], QStringLiteral("2 views: 1 would be repaired, 1 skipped"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("tessaly: nope: skipped: not in the listing")))
        << r.err.toStdString();
    std::set<std::string> touched;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (!entry_tag(e).empty())
            touched.insert(entry_tag(e));
    EXPECT_EQ(touched, std::set<std::string>{"dev_a"});

    // A file for the failed that cannot be written is found out first.
    sim.home().clearJournal();
    const Ran refused =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--failed-to"),
                 dir.filePath(QStringLiteral("no/f"))});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(sim.journal().isEmpty()) << "nothing runs";
}

TEST(Headless, OnATerminalOneStatusLineIsRedrawnInPlace) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    sim.home().setFault("fixprot_sleep_ms", "300");
    sim.home().setViewFault("b", "fixprot_sleep_ms", "600");
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    QProcess p;
    p.setChildProcessModifier([slave] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
    });
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
              QStringLiteral("2")});
    const QByteArray seen = shown_until_it_ends(p, master);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(seen.contains("\r\x1b[K0 done, 2 running, 0 left")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("\r\x1b[K1 done, 1 running, 0 left, about")) << seen.toStdString();
    EXPECT_TRUE(seen.endsWith("\r\x1b[K")) << "the line is taken away at the end";
    EXPECT_FALSE(p.readAllStandardOutput().contains('\x1b'));
}

TEST(Headless, QtMessagesOnATerminalTakeTheStatusLineAwayBeforeTheyArePrinted) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    sim.home().setFault("fixprot_sleep_ms", "300");
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    QProcess p;
    p.setChildProcessModifier([slave] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
    });
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--verbose")});
    const QByteArray seen = shown_until_it_ends(p, master);
    EXPECT_EQ(p.exitCode(), 0);
    ASSERT_TRUE(seen.contains(" running, ")) << seen.toStdString();
    // Each logged command starts a line of its own: never behind the
    // status line's text.
    int logged = 0;
    for (qsizetype at = seen.indexOf("tessaly.run: "); at >= 0;
         at = seen.indexOf("tessaly.run: ", at + 1)) {
        ++logged;
        EXPECT_TRUE(at == 0 || seen.at(at - 1) == '\n' || seen.mid(at - 4, 4) == "\r\x1b[K")
            << seen.mid(std::max<qsizetype>(0, at - 40), 60).toStdString();
    }
    EXPECT_GE(logged, 4) << seen.toStdString(); // the lookups and fix_prot of two views
}

TEST(Headless, TheFirstSignalSaysOnceWhatIsLeftAndTheStatusLineSaysStopping) {
    SimHome sim;
    for (const char* host : {"h1", "h2", "h3"})
        sim.add(std::string(host) + "_a", host);
    sim.home().setFault("fixprot_sleep_ms", "1000");
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    QProcess p;
    p.setChildProcessModifier([slave] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
    });
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
              QStringLiteral("2")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("fix_prot").size() == 2; }, 20'000));
    ::kill(pid_t(p.processId()), SIGINT);
    const QByteArray seen = shown_until_it_ends(p, master);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_EQ(seen.count("tessaly: stopping: no view starts any more; 2 at work finish first "
                         "(Ctrl-C again to leave them to their units)"),
              1)
        << seen.toStdString();
    EXPECT_TRUE(seen.contains("\r\x1b[Kstopping: 0 done, 2 running")) << seen.toStdString();
    EXPECT_FALSE(seen.mid(seen.indexOf("tessaly: stopping")).contains(" left"))
        << seen.toStdString();
    EXPECT_FALSE(seen.contains("\r\x1b[Kstopping: 0 done, 2 running, ")) << "no time left guessed";
    EXPECT_TRUE(p.readAllStandardOutput().endsWith(
        "2 views: 2 repaired, 0 failed, 0 skipped, 1 not started (stopped by a signal)\n"));
}

TEST(Headless, QuietPrintsWhatDidNotEndWellAndTheLogHoldsEveryCommandWithItsTime) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("run.log"));
    const QStringList repair{QStringLiteral("--repair"), QStringLiteral("--all")};
    Ran r;

    // A log that cannot be written stops the run before anything runs.
    sim.home().clearJournal();
    r = tessaly(repair +
                QStringList{QStringLiteral("--log"), dir.filePath(QStringLiteral("no/x"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral(": nothing was run"))) << r.err.toStdString();
    EXPECT_TRUE(sim.journal().isEmpty());

    // All well: the summary alone, and with -qq nothing at all.
    r = tessaly(repair + QStringList{QStringLiteral("--quiet")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QStringLiteral("2 views: 2 repaired, 0 failed, 0 skipped\n"));
    EXPECT_EQ(r.err, QString()) << "the command log stays off stderr without --verbose";
    r = tessaly(repair + QStringList{QStringLiteral("-qq")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, QString());

    // A failing view: its line and the summary; -qq keeps them too.
    sim.home().setViewFault("b", "fixprot_exit", "3");
    sim.home().clearJournal();
    for (const char* q : {"-q", "-qq"}) {
        r = tessaly(repair + QStringList{QString::fromLatin1(q), QStringLiteral("--log"), log});
        EXPECT_EQ(r.status, 1);
        ASSERT_EQ(r.lines().size(), 2) << q << r.out.toStdString();
        EXPECT_TRUE(
            outcomes(r).value(0).startsWith(QStringLiteral("b\tfix_prot failed: exit status 3")));
        EXPECT_TRUE(r.lines().value(1).startsWith(QStringLiteral("2 views: 1 repaired, 1 failed")));
    }

    // The log file: each line stamped in UTC, and every command the
    // simulator saw in it, its run's command line first.
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "));
    for (const QString& l : lines)
        EXPECT_TRUE(stamp.match(l).hasMatch()) << l.toStdString();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().contains(QStringLiteral("--repair --all -q --log")));
    EXPECT_EQ(lines.filter(QStringLiteral(" --repair --all ")).size(), 2) << "appended, run by run";
    const auto logged = [&](const QStringList& words) {
        return std::count_if(lines.begin(), lines.end(), [&](const QString& l) {
            return std::all_of(words.begin(), words.end(),
                               [&](const QString& w) { return l.contains(w); });
        });
    };
    const qsizetype runs = 2;
    EXPECT_EQ(sim.journal("fix_prot").size(), 2 * runs);
    for (const QString& tag : {QStringLiteral("a"), QStringLiteral("b")}) {
        EXPECT_EQ(logged({QStringLiteral(" lsview -long -properties -full ") + tag + u' '}),
                  runs)
            << tag.toStdString(); // its record, which gives the storage too
        EXPECT_EQ(logged({QStringLiteral("fix_prot"),
                          QStringLiteral("/") + tag + QStringLiteral(".vws")}),
                  runs)
            << tag.toStdString();
    }
    EXPECT_EQ(logged({QStringLiteral(" endview -server a ")}), runs);
    EXPECT_EQ(logged({QStringLiteral("fix_prot"), QStringLiteral("-> exit status 3")}), runs);

    // --verbose puts the same log on stderr; JSON keeps only the failed
    // view and a summary that says when the run was and what it was asked.
    r = tessaly(repair + QStringList{QStringLiteral("--quiet"), QStringLiteral("--verbose"),
                                     QStringLiteral("--format"), QStringLiteral("json")});
    EXPECT_GE(r.err.count(QStringLiteral("tessaly.run: ")), 6) << r.err.toStdString();
    ASSERT_EQ(r.lines().size(), 2) << r.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.lines().value(0).toUtf8())[QStringLiteral("tag")],
              QStringLiteral("b"));
    const QJsonObject sum =
        QJsonDocument::fromJson(r.lines().value(1).toUtf8())[QStringLiteral("summary")].toObject();
    const QDateTime started =
        QDateTime::fromString(sum[QStringLiteral("started")].toString(), Qt::ISODateWithMs);
    const QDateTime ended =
        QDateTime::fromString(sum[QStringLiteral("ended")].toString(), Qt::ISODateWithMs);
    ASSERT_TRUE(started.isValid() && ended.isValid()) << r.out.toStdString();
    EXPECT_EQ(started.timeSpec(), Qt::UTC);
    EXPECT_LE(started, ended);
    EXPECT_LE(qAbs(started.secsTo(QDateTime::currentDateTimeUtc())), 60);
    const QJsonObject opts = sum[QStringLiteral("options")].toObject();
    EXPECT_EQ(opts[QStringLiteral("mode")], QStringLiteral("repair"));
    EXPECT_EQ(opts[QStringLiteral("all")], true);
    EXPECT_EQ(opts[QStringLiteral("quiet")], 1);
    EXPECT_EQ(opts[QStringLiteral("jobs")], 1);
}

TEST(RepairUnit, AClosedOutputStopsTheRunAndEveryStartedFixProtGetsItsEndview) {
    SimHome sim;
    for (int h = 1; h <= 4; ++h)
        for (const char* v : {"a", "b"}) {
            const std::string tag = "h" + std::to_string(h) + "_" + v;
            sim.add(tag, "h" + std::to_string(h));
            sim.home().setViewFault(tag, "fixprot_sleep_ms", std::to_string(150 * h));
        }
    sim.home().clearJournal();
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    QProcess p;
    p.setProcessEnvironment(no_display());
    p.start(QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("\"$0\" --repair --all --jobs 4 --failed-to \"$1\" | head -1; "
                            "echo \"status ${PIPESTATUS[0]}\" >&2"),
             QStringLiteral(TESSALY_BIN), failed});
    const Ran r = finish(p);
    EXPECT_EQ(r.lines().size(), 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("status 1\n"))) << r.err.toStdString();
    // The summary went to the output still open, and names what stopped the run.
    EXPECT_TRUE(r.err.contains(QStringLiteral(" not started (stopped: the output was closed)")))
        << r.err.toStdString();
    ASSERT_TRUE(units_done(sim.home()));
    const std::set<std::string> ran = endviews_follow_fix_prots(sim.home());
    EXPECT_GE(ran.size(), 4u);
    EXPECT_LT(ran.size(), 8u);
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(size_t(QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts).size()),
              8 - ran.size());
}

// Starts `tessaly --repair --all` and SIGKILLs it once atWork holds.
void kill_repair_when(const std::function<bool()>& atWork,
                      const QStringList& args = {QStringLiteral("--repair"),
                                                 QStringLiteral("--all")}) {
    QProcess p;
    start(p, args);
    ASSERT_TRUE(QTest::qWaitFor(atWork, 20'000));
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished();
}

TEST(RepairUnit, AKilledRunLeavesTheViewToItsUnitAndARerunStartsNoSecondFixProt) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "1500");
    sim.home().clearJournal();
    ASSERT_NO_FATAL_FAILURE(kill_repair_when([&] { return sim.journal("fix_prot").size() == 1; }));
    const Ran rerun = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_TRUE(outcomes(rerun).value(0).startsWith(
        QStringLiteral("a\tskipped: repair from an earlier run still at work (lock ")));
    EXPECT_EQ(outcomes(rerun).value(1), QStringLiteral("1 view: 0 repaired, 0 failed, 1 skipped"));
    ASSERT_TRUE(units_done(sim.home()));
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), std::set<std::string>{"a"});
    EXPECT_EQ(sim.journal("fix_prot").size(), 1);

    const Ran after =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")});
    EXPECT_EQ(after.err.count(QStringLiteral(
                  "finished after the run that started it had ended: a: fix_prot exit 0, "
                  "endview exit 0")),
              1)
        << after.err.toStdString();
    EXPECT_FALSE(
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")})
            .err.contains(QStringLiteral("finished after")));
}

TEST(RepairUnit, ARunKilledDuringItsLookupLeavesNothingBehindAndTheRerunRepairsOnce) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    sim.home().setViewFault("a", "hang", "3");
    sim.home().clearJournal();
    // Killed while the records of a and b are asked: no unit exists yet.
    ASSERT_NO_FATAL_FAILURE(kill_repair_when([&] {
        return sim.journal("cleartool")
            .contains(QStringLiteral("cleartool|lsview|-long|-properties|-full|a|b"));
    }));
    sim.home().clearFaults();
    const Ran rerun = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(outcomes(rerun).value(2), QStringLiteral("2 views: 2 repaired, 0 failed, 0 skipped"))
        << rerun.out.toStdString() << rerun.err.toStdString();
    EXPECT_FALSE(rerun.err.contains(QStringLiteral("earlier run"))) << rerun.err.toStdString();
    ASSERT_TRUE(units_done(sim.home()));
    EXPECT_EQ(sim.journal("fix_prot").size(), 2);
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), (std::set<std::string>{"a", "b"}));
}

TEST(RepairUnit, ARunKilledWhileABatchReadsItsHostRepairsEachBrokenViewOnceAfter) {
    SimHome sim;
    for (const char* tag : {"a", "b", "c"})
        sim.add(tag, "h1");
    sim.home().setViewFault("b", "find_sleep_ms", "20000");
    sim.home().clearJournal();
    const QStringList needed{QStringLiteral("--repair"), QStringLiteral("--needed"),
                             QStringLiteral("--all")};
    // Killed while a's unit repairs it and the host's batch reads b.
    ASSERT_NO_FATAL_FAILURE(kill_repair_when(
        [&] { return sim.journal("fix_prot").size() == 1 && sim.journal("find").size() == 2; },
        needed));
    ASSERT_TRUE(units_done(sim.home()));
    sim.home().clearFaults();
    const Ran rerun = tessaly(needed);
    EXPECT_EQ(outcomes(rerun).value(3),
              QStringLiteral("3 views: 2 repaired, 1 sound, 0 failed, 0 skipped"))
        << rerun.out.toStdString() << rerun.err.toStdString();
    ASSERT_TRUE(units_done(sim.home()));
    EXPECT_EQ(sim.journal("fix_prot").size(), 3) << "one for each view, a's by the killed run";
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), (std::set<std::string>{"a", "b", "c"}));
}

TEST(RepairUnit, NeitherTwoNamesOfOneAccountNorTwoAccountsRunTwoFixProtsOnAStorage) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "1200");
    QProcess first;
    QProcessEnvironment env = no_display();
    env.insert(QStringLiteral("USER"), QStringLiteral("alpha"));
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(TESSALY_BIN), {QStringLiteral("--repair"), QStringLiteral("--all")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("fix_prot").size() == 1; }, 20'000));
    QProcess second;
    env.insert(QStringLiteral("USER"), QStringLiteral("beta"));
    env.insert(QStringLiteral("LOGNAME"), QStringLiteral("beta"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(TESSALY_BIN),
                 {QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(finish(second).status, 3);
    EXPECT_EQ(finish(first).status, 0);
    EXPECT_EQ(sim.journal("fix_prot").size(), 1);

    // Another account: the unit's lock is seen whichever account took it
    // first, in a directory that every account shares.
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "needs root and setpriv to act as a second account";
    QTemporaryDir shared;
    ::chmod(QFile::encodeName(shared.path()).constData(), 01777);
    const QString lock = shared.filePath(QStringLiteral("storage.lock"));
    const QStringList asNobody{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                               QStringLiteral("--clear-groups"), QStringLiteral(TESSALY_TEST_WRAP)};
    const QStringList unit{QStringLiteral("--report"), QStringLiteral("-"),
                           QStringLiteral("--lock"), lock, QStringLiteral("--")};
    for (const bool nobodyFirst : {true, false}) {
        QProcess holder, other;
        const QStringList hold = unit + QStringList{QStringLiteral("sleep"), QStringLiteral("1")};
        const QStringList tryIt = unit + QStringList{QStringLiteral("true")};
        if (nobodyFirst)
            holder.start(QStringLiteral("setpriv"), asNobody + hold);
        else
            holder.start(QStringLiteral(TESSALY_TEST_WRAP), hold);
        ASSERT_TRUE(holder.waitForReadyRead(5000));
        EXPECT_TRUE(holder.readAll().startsWith("started ")) << nobodyFirst;
        if (nobodyFirst)
            other.start(QStringLiteral(TESSALY_TEST_WRAP), tryIt);
        else
            other.start(QStringLiteral("setpriv"), asNobody + tryIt);
        ASSERT_TRUE(other.waitForFinished(5000));
        EXPECT_EQ(other.readAll(), "busy " + QFile::encodeName(lock) + "\ndone\n") << nobodyFirst;
        EXPECT_TRUE(holder.waitForFinished(5000));
    }
}

// The repair unit that started a journal entry's program (ssh, or the lock
// command it became): its parent.
pid_t unit_of(const ccsim::JournalEntry& e) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(e.pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    return pid_t(text.mid(text.lastIndexOf(')') + 4).split(' ').value(0).toInt());
}

// The fix_prots of one storage as spans; none may overlap.
std::vector<Span> fix_prots_of(const ccsim::Home& home, const std::string& tag) {
    std::map<int, Span> byPid;
    for (const ccsim::JournalEntry& e : home.journal())
        if (e.program == "fix_prot" && entry_tag(e) == tag)
            byPid[e.pid].start = e.timeMs;
    for (const ccsim::JournalEntry& e : home.ends())
        if (byPid.count(e.pid))
            byPid[e.pid].end = e.timeMs;
    std::vector<Span> spans;
    for (const auto& [pid, span] : byPid)
        spans.push_back(span);
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    for (std::size_t i = 1; i < spans.size(); ++i)
        EXPECT_GE(spans[i].start, spans[i - 1].end) << "two fix_prots at once on " << tag;
    return spans;
}

TEST(RepairUnit, AUnitKilledAtWorkLeavesTheLockOnTheHostAndTheViewIsRepairedOnceAfter) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "2000");
    for (const bool needed : {false, true}) {
        sim.home().breakStorage();
        sim.home().clearJournal();
        QProcess first;
        start(first, {QStringLiteral("--repair"), QStringLiteral("--all")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("fix_prot").size() == 1; }, 20'000));
        pid_t unit = 0;
        for (const ccsim::JournalEntry& e : sim.home().journal())
            if (e.program == "ssh")
                unit = unit_of(e);
        ASSERT_GT(unit, 1);
        ::kill(unit, SIGKILL);
        EXPECT_EQ(finish(first).status, 1);
        const Ran rerun = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
        EXPECT_TRUE(outcomes(rerun).value(0).startsWith(
            QStringLiteral("a\tskipped: repair from an earlier run still at work (lock h1:")))
            << rerun.out.toStdString();
        EXPECT_EQ(sim.journal("fix_prot").size(), 1);

        // Once that fix_prot has ended, the view is due again: repaired
        // once, or under --needed found sound and its server stopped, and
        // the earlier run's record told of and gone.
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim.home().ends().size() == 1; }, 10'000));
        QStringList args{QStringLiteral("--repair"), QStringLiteral("--all")};
        if (needed)
            args.insert(1, QStringLiteral("--needed"));
        const Ran after = tessaly(args);
        EXPECT_EQ(outcomes(after).value(0),
                  needed ? QStringLiteral("a\tsound, not repaired: server stopped: an earlier "
                                          "run's fix_prot never reported its end")
                         : QStringLiteral("a\trepaired"))
            << after.out.toStdString();
        EXPECT_EQ(after.err.count(QStringLiteral("a: fix_prot never reported")), 1)
            << after.err.toStdString();
        EXPECT_EQ(fix_prots_of(sim.home(), "a").size(), needed ? 1u : 2u);
        EXPECT_GT(endview_time(sim.home(), "a"), sim.home().ends().front().timeMs);
        EXPECT_FALSE(
            tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")})
                .err.contains(QStringLiteral("never reported")));
    }
}

TEST(RepairUnit, TwoWorkstationsNeverRunTwoFixProtsOnOneStorage) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_sleep_ms", "2500");
    sim.home().clearJournal();
    // Each its own lock and runtime directories, as on another machine.
    QTemporaryDir other;
    QProcessEnvironment env = no_display();
    QProcess first, second;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(TESSALY_BIN), {QStringLiteral("--repair"), QStringLiteral("--all")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("fix_prot").size() == 1; }, 20'000));
    QDir().mkpath(other.filePath(QStringLiteral("run")));
    QFile::setPermissions(other.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), other.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("TESSALY_LOCK_DIR"), other.filePath(QStringLiteral("locks")));
    // The other workstation's check sees the repair at work on the host.
    QProcess check;
    check.setProcessEnvironment(env);
    check.start(QStringLiteral(TESSALY_BIN), {QStringLiteral("--check"), QStringLiteral("--all")});
    const Ran checked = finish(check);
    EXPECT_TRUE(outcomes(checked).value(0).startsWith(
        QStringLiteral("a\tnot checked: repair at work: tessaly-inspect: a repair holds ")))
        << checked.out.toStdString();
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(TESSALY_BIN),
                 {QStringLiteral("--repair"), QStringLiteral("--all")});
    const Ran two = finish(second);
    EXPECT_EQ(finish(first).status, 0);
    EXPECT_TRUE(outcomes(two).value(0).startsWith(
        QStringLiteral("a\tskipped: repair from an earlier run still at work (lock h1:")))
        << two.out.toStdString() << two.err.toStdString();
    EXPECT_EQ(fix_prots_of(sim.home(), "a").size(), 1u);
}

TEST(RepairUnit, AUnitCutShortBeforeItsEndviewHasItRunByTheNextRun) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().clearJournal();
    // A unit whose fix_prot succeeded and whose endview never ends: killed
    // with it, it leaves its record half-done.
    QTemporaryDir dir;
    const QString stuck = dir.filePath(QStringLiteral("cleartool"));
    ASSERT_TRUE(write_file(stuck, "#!/bin/sh\nexec sleep 30\n", true));
    const QString record =
        qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/tessaly-units/cut-short.unit");
    QDir().mkpath(QFileInfo(record).path());
    QFile::setPermissions(QFileInfo(record).path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess unit;
    unit.setChildProcessModifier([] { ::setpgid(0, 0); });
    unit.start(QStringLiteral(TESSALY_TEST_WRAP),
               {QStringLiteral("--report"), QStringLiteral("-"), QStringLiteral("--tag"),
                QStringLiteral("a"), QStringLiteral("--record"), record,
                QStringLiteral("--endview"), stuck, QStringLiteral("--"), QStringLiteral("true")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.peek(4096).contains("exit 0\n"); }, 5000));
    ::kill(-pid_t(unit.processId()), SIGKILL);
    unit.waitForFinished();

    const Ran next =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")});
    EXPECT_TRUE(next.err.contains(
        QStringLiteral("finished the repair an earlier run left half-done: a: endview exit 0")))
        << next.err.toStdString();
    EXPECT_EQ(sim.journal("cleartool").filter(QStringLiteral("|endview|")),
              QStringList{QStringLiteral("cleartool|endview|-server|a")});
    EXPECT_FALSE(QFile::exists(record));
}

TEST(RepairUnit, ALockThatCannotBeTakenFailsTheViewBeforeFixProtAndNoFlockIsSaid) {
    SimHome sim;
    const ccsim::View a = sim.add("a", "h1");
    const QStringList repair{QStringLiteral("--repair"), QStringLiteral("--all")};
    // The host cannot make its lock directory.
    const QString hostDir = QFileInfo(QString::fromStdString(sim.home().hostLockDir("h1"))).path();
    QDir().mkpath(QFileInfo(hostDir).path());
    ASSERT_TRUE(write_file(hostDir, "not a directory\n"));
    sim.home().clearJournal();
    Ran r = tessaly(repair);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(outcomes(r).value(0).startsWith(
        QStringLiteral("a\tfix_prot failed: could not be started: cannot take the storage "
                       "lock: h1: cannot make ")))
        << r.out.toStdString();
    EXPECT_TRUE(sim.journal("fix_prot").isEmpty());
    ASSERT_TRUE(QFile::remove(hostDir));

    // A host without flock: repaired under this machine's lock, and said.
    sim.home().setFault("no_flock", "h1");
    r = tessaly(repair);
    EXPECT_EQ(outcomes(r).value(0),
              QStringLiteral("a\trepaired: no lock on h1: flock not found; locked on this "
                             "workstation only"));
    EXPECT_EQ(sim.journal("fix_prot").size(), 1);
    sim.home().clearFaults();

    // A FIFO or a link at this machine's lock: no wait, no fix_prot.
    const QString lock =
        repair::storage_lock_path(QStringLiteral("h1"), QString::fromStdString(a.storage));
    QFile::remove(lock);
    for (const bool fifo : {true, false}) {
        sim.home().clearJournal();
        if (fifo)
            ASSERT_EQ(::mkfifo(QFile::encodeName(lock).constData(), 0666), 0);
        else
            ASSERT_TRUE(QFile::link(QStringLiteral("/etc/hostname"), lock));
        QElapsedTimer clock;
        clock.start();
        r = tessaly(repair);
        EXPECT_LT(clock.elapsed(), 20'000);
        EXPECT_EQ(outcomes(r).value(0),
                  QStringLiteral("a\tfix_prot failed: could not be started: cannot take the "
                                 "storage lock: ") +
                      lock + QStringLiteral(" is not a regular file"))
            << fifo;
        EXPECT_TRUE(sim.journal("fix_prot").isEmpty()) << fifo;
        ASSERT_TRUE(QFile::remove(lock));
    }

    // A lock directory another account owns: its owner is named.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the lock directory away";
    const QByteArray lockDir = QFile::encodeName(repair::lock_dir());
    ASSERT_EQ(::chown(lockDir.constData(), 65534, -1), 0);
    r = tessaly(repair);
    ::chown(lockDir.constData(), 0, -1);
    EXPECT_TRUE(
        outcomes(r).value(0).endsWith(QStringLiteral(" belongs to user nobody, not to root")))
        << r.out.toStdString();
    EXPECT_EQ(sim.journal("fix_prot").size(), 0);
}

TEST(RepairUnit, AHungSshIsLeftToItsUnitASecondSignalEndsTheRunAndNoLockStaysBehind) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setFault("ssh_hang", "h1");
    sim.home().clearJournal();
    QProcess p;
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("ssh").size() == 1; }, 20'000));
    const Ran r = signalled_twice(p, SIGTERM);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("left to finish on their own: a")))
        << r.err.toStdString();
    const Ran next = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_NE(next.status, 3) << next.err.toStdString();
    EXPECT_TRUE(outcomes(next).value(0).startsWith(
        QStringLiteral("a\tskipped: repair from an earlier run still at work (lock ")));
    // The hung connection ends: its unit reports it and stops no server.
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (e.program == "ssh")
            ::kill(e.pid, SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return tessaly({QStringLiteral("--repair"), QStringLiteral("--host"),
                            QStringLiteral("none")})
                .err.contains(QStringLiteral("finished after the run that started it had ended: "
                                             "a: fix_prot signal 15, endview not run"));
        },
        10'000));
}

TEST(RepairUnit, AFixProtThatCannotStartIsReportedOnceAndNotAgainByTheNextRun) {
    SimHome sim;
    sim.add("a", "h1");
    // A remote shell that is there but cannot be run: its interpreter is
    // missing, so the unit's exec of it fails.
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("ssh"));
    ASSERT_TRUE(write_file(broken, "#!/nonexistent/interpreter\n", true));
    const QByteArray ssh = qgetenv("TESSALY_SSH");
    qputenv("TESSALY_SSH", QFile::encodeName(broken));
    const Ran first = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    qputenv("TESSALY_SSH", ssh);
    EXPECT_EQ(first.status, 1);
    EXPECT_TRUE(outcomes(first).value(0).startsWith(
        QStringLiteral("a\tfix_prot failed: could not be started: ")))
        << first.out.toStdString();
    const Ran next =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--host"), QStringLiteral("none")});
    EXPECT_FALSE(next.err.contains(QStringLiteral("after the run that started it")))
        << next.err.toStdString();
}

TEST(RepairUnit, ASignalDuringAHungListingEndsTheRunAtOnce) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setFault("hang", "30");
    QProcess p;
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all")});
    QTest::qWait(500);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    const Ran r = finish(p);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines(), QStringList{QStringLiteral("0 views: 0 repaired, 0 failed, 0 skipped, "
                                                    "stopped by a signal")});
}

TEST(Headless, AFailingEndviewFailsItsViewOnlyAndTheRunGoesOn) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    sim.add("c", "h1");
    sim.home().setViewFault("b", "endview_fail", "cleartool: Error: Unable to stop view server");
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    const Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"),
                           QStringLiteral("--failed-to"), failed});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outcomes(r),
              (QStringList{QStringLiteral("a\trepaired"),
                           QStringLiteral("b\trepaired, server not stopped: cleartool: Error: "
                                          "Unable to stop view server"),
                           QStringLiteral("c\trepaired"),
                           QStringLiteral("3 views: 2 repaired, 1 failed, 0 skipped")}));
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("b\n"));
}

TEST(Headless, ACtrlCReachesNoLookupAndTheViewsInLookupAreNotStarted) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    sim.home().setViewFault("a", "hang", "30");
    QProcess p;
    p.setProcessEnvironment(no_display());
    // A shell's job: Ctrl-C goes to its whole process group.
    p.start(QStringLiteral("setsid"),
            {QStringLiteral(TESSALY_BIN), QStringLiteral("--repair"), QStringLiteral("--all")});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return sim.journal("cleartool")
                .contains(QStringLiteral("cleartool|lsview|-long|-properties|-full|a|b"));
        },
        20'000));
    QElapsedTimer clock;
    clock.start();
    ::kill(-pid_t(p.processId()), SIGINT);
    const Ran r = finish(p);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines(), QStringList{QStringLiteral(
                             "0 views: 0 repaired, 0 failed, 0 skipped, 2 not started (stopped by "
                             "a signal)")});
    EXPECT_FALSE(r.err.contains(QStringLiteral("ended abnormally"))) << r.err.toStdString();
}

TEST(Headless, EmptyPicksFilesAndUnsplittableSettingsAreRefusedBeforeAnythingRuns) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().clearJournal();
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    const QString repair = QStringLiteral("--repair");
    for (const QStringList& args :
         {QStringList{repair, QStringLiteral("--match"), QString()},
          QStringList{repair, QStringLiteral("--all"), QStringLiteral("--failed-to"), QString()},
          QStringList{repair, QStringLiteral("--tags"), QString()},
          QStringList{repair, QStringLiteral("--all"), QStringLiteral("--host"), QString()}}) {
        const Ran r = tessaly(args);
        EXPECT_EQ(r.status, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("nothing was run"))) << r.err.toStdString();
    }
    // A quote left open in the remote shell's words.
    qputenv("TESSALY_SSH", "ssh -o 'ProxyCommand=nc %h 22");
    Ran r = tessaly({repair, QStringLiteral("--all")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("TESSALY_SSH"))) << r.err.toStdString();
    qputenv("TESSALY_SSH", QByteArray::fromStdString("'" + sim.home().sshPath() + "'"));
    // --tags - with standard input closed.
    QProcess p;
    p.setChildProcessModifier([] { ::close(STDIN_FILENO); });
    start(p, {repair, QStringLiteral("--tags"), QStringLiteral("-")});
    r = finish(p);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("standard input"))) << r.err.toStdString();
    EXPECT_TRUE(sim.journal().isEmpty()) << sim.journal().join(u'\n').toStdString();
}

TEST(Headless, AnInstallationWithoutCleartoolOrThatCannotBeSearchedIsNamedAndNothingRuns) {
    const QByteArray saved = qgetenv("CLEARCASEHOME");
    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/cc home/");
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("bin")));
    qputenv("CLEARCASEHOME", QFile::encodeName(home));
    Ran r = tessaly({QStringLiteral("--list")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.isEmpty());
    // Where cleartool was looked for, the home exactly as given.
    EXPECT_EQ(r.err, QStringLiteral("tessaly: ClearCase is not installed: ") + home +
                         QStringLiteral("/bin/cleartool is missing\n"));

    const QString loop = dir.path() + QStringLiteral("/loop");
    ASSERT_TRUE(QFile::link(loop, loop));
    qputenv("CLEARCASEHOME", QFile::encodeName(loop));
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, QStringLiteral("tessaly: cannot tell whether ClearCase is installed: "
                                    "Too many levels of symbolic links\n"));
    if (saved.isNull())
        qunsetenv("CLEARCASEHOME");
    else
        qputenv("CLEARCASEHOME", saved);
}

TEST(Headless, APickThatMatchesNothingExitsOneAndSaysSo) {
    SimHome sim;
    Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 0) << "an empty region is no failure of --all";
    sim.add("dev_build", "ccview07");
    sim.add("dev_test", "ccview07");
    QTemporaryDir dir;
    const QString empty = dir.filePath(QStringLiteral("tags"));
    ASSERT_TRUE(write_file(empty, "# nothing tonight\n"));
    sim.home().clearJournal();
    for (const auto& [args, said] : std::vector<std::pair<QStringList, QString>>{
             {{QStringLiteral("--match"), QStringLiteral("_biuld")},
              QStringLiteral("no view matched --match _biuld")},
             {{QStringLiteral("--host"), QStringLiteral("ccveiw07")},
              QStringLiteral("no view matched --host ccveiw07")},
             {{QStringLiteral("--tags"), empty},
              QStringLiteral("no view matched --tags ") + empty}}) {
        r = tessaly(QStringList{QStringLiteral("--repair")} + args);
        EXPECT_EQ(r.status, 1) << said.toStdString();
        EXPECT_TRUE(r.err.contains(said)) << r.err.toStdString();
    }
    for (const QString& e : sim.journal())
        EXPECT_FALSE(e.startsWith(QStringLiteral("fix_prot")) ||
                     e.contains(QStringLiteral("endview")))
            << e.toStdString();
}

TEST(Headless, FailedToWritesAFifoADeviceOrAnInheritedStreamInPlace) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_exit", "3");
    QTemporaryDir dir;
    // --failed-to /dev/stderr with the error output appended to a log: the
    // log keeps what it held.
    const QString log = dir.filePath(QStringLiteral("log"));
    ASSERT_TRUE(write_file(log, "yesterday\n"));
    QProcess p;
    p.setStandardErrorFile(log, QIODevice::Append);
    start(p, {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--failed-to"),
              QStringLiteral("/dev/stderr")});
    EXPECT_EQ(finish(p).status, 1);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray kept = f.readAll();
    f.close();
    EXPECT_TRUE(kept.startsWith("yesterday\n")) << kept.toStdString();
    EXPECT_TRUE(kept.endsWith("\na\n")) << kept.toStdString();

    // A FIFO stays one and its reader gets the tags.
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"),
                           QStringLiteral("--failed-to"), QString::fromLocal8Bit(fifo)});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    char buf[64] = {};
    EXPECT_EQ(::read(reader, buf, sizeof buf - 1), 2);
    EXPECT_STREQ(buf, "a\n");
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // /dev/null takes the tags; the run's status is its own.
    sim.home().clearFaults();
    EXPECT_EQ(tessaly({QStringLiteral("--repair"), QStringLiteral("--all"),
                       QStringLiteral("--failed-to"), QStringLiteral("/dev/null")})
                  .status,
              0);
}

TEST(Headless, AFailedListingEmptiesTheFailedToFileAndJsonStillEndsWithItsSummary) {
    SimHome sim;
    sim.add("a", "h1");
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    ASSERT_TRUE(write_file(failed, "last_nights_view\n"));
    sim.home().setFault("listing_fail", "cleartool: Error: no registry server");
    const Ran r =
        tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--format"),
                 QStringLiteral("json"), QStringLiteral("--failed-to"), failed});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.lines().isEmpty());
    const QJsonObject summary = QJsonDocument::fromJson(r.lines().last().toUtf8())
                                    .object()[QStringLiteral("summary")]
                                    .toObject();
    EXPECT_TRUE(summary[QStringLiteral("listing_failed")].toBool()) << r.out.toStdString();
    EXPECT_EQ(summary[QStringLiteral("exit_status")].toInt(), 1);
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().isEmpty());
}

TEST(Headless, UnreadViewsAreNamedCountedAndWrittenForTheRerunAndEachErrorIsPrintedOnce) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "down1");
    sim.add("c", "h1");
    sim.add("d", "down2");
    // b and d: errors that name a host but no view; c: a record without
    // its "Tag:" line. The short listing still knows all three.
    sim.home().setViewFault("b", "lsview_fail");
    sim.home().setViewFault("d", "lsview_fail");
    sim.home().setViewFault("c", "garble", "notag");
    Ran r = tessaly({QStringLiteral("--list")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QStringLiteral("a:h1\n"));
    for (const char* host : {"down1", "down2"})
        EXPECT_EQ(r.err.count(QStringLiteral("Unable to contact albd_server on host '") +
                              QString::fromUtf8(host)),
                  1)
            << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("3 of 4 views could not be read: b, c, d")))
        << r.err.toStdString();

    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--format"),
                 QStringLiteral("json"), QStringLiteral("--failed-to"), failed});
    EXPECT_EQ(r.status, 1);
    const QJsonObject summary = QJsonDocument::fromJson(r.lines().value(1).toUtf8())
                                    .object()[QStringLiteral("summary")]
                                    .toObject();
    EXPECT_EQ(summary[QStringLiteral("unread")].toInt(), 3) << r.out.toStdString();
    EXPECT_EQ(summary[QStringLiteral("repaired")].toInt(), 1);
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("b\nc\nd\n"));

    // A failing short listing is said once.
    sim.home().clearFaults();
    sim.add("e \"quoted\"", "h1");
    sim.home().setFault("short_fail", "cleartool: Error: short listing refused");
    r = tessaly({QStringLiteral("--list")});
    EXPECT_EQ(r.err.count(QStringLiteral("short listing refused")), 1) << r.err.toStdString();
}

TEST(Headless, TextOutputIsOneLinePerViewWhateverTheMessageAndJsonKeepsItWhole) {
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "endview_fail", "cleartool: Error: first\\n\tsecond");
    Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines().size(), 2) << r.out.toStdString();
    EXPECT_TRUE(r.lines()[0].startsWith(QStringLiteral("a\t")));
    EXPECT_EQ(r.lines()[0].count(u'\t'), 2) << r.lines()[0].toStdString();
    EXPECT_TRUE(r.lines()[0].contains(QStringLiteral("first"))) << r.lines()[0].toStdString();
    sim.home().breakStorage();
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--format"),
                 QStringLiteral("json")});
    const QJsonObject o = QJsonDocument::fromJson(r.lines().value(0).toUtf8()).object();
    EXPECT_TRUE(o[QStringLiteral("reason")].toString().contains(QStringLiteral("first\n\tsecond")))
        << r.out.toStdString();
}

TEST(Headless, TagsTakesTheLinesThatListPrints) {
    SimHome sim;
    sim.add("dev_a", "h1");
    sim.add("dev_b", "h2");
    sim.add("rel_c", "h1");
    const Ran listed = tessaly({QStringLiteral("--list")});
    ASSERT_EQ(listed.status, 0);
    QStringList picked;
    for (const QString& l : listed.lines())
        if (l.startsWith(QStringLiteral("dev")))
            picked.append(l);
    picked.append(QStringLiteral("rel_c:h2")); // no such view: its host is h1
    QProcess p;
    start(p, {QStringLiteral("--repair"), QStringLiteral("--tags"), QStringLiteral("-"),
              QStringLiteral("--dry-run")});
    p.write((picked.join(u'\n') + u'\n').toUtf8());
    p.closeWriteChannel();
    const Ran r = finish(p);
    EXPECT_EQ(r.lines().value(4), QStringLiteral("3 views: 2 would be repaired, 1 skipped"))
        << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("rel_c:h2: skipped: not in the listing")))
        << r.err.toStdString();
}

TEST(Headless, ExcludeLeavesViewsOutOfAllMatchHostAndTags) {
    SimHome sim;
    sim.add("dev_a", "h1");
    sim.add("dev_tmp", "h1");
    sim.add("rel_a", "h2");
    sim.add("rel_TMP", "h2");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tags"));
    ASSERT_TRUE(write_file(file, "dev_tmp\nrel_a\n"));
    const auto tags_run = [](const Ran& r) {
        QStringList tags;
        for (const QString& l : r.lines()) {
            const QJsonObject o = QJsonDocument::fromJson(l.toUtf8()).object();
            if (o.contains(QStringLiteral("tag")))
                tags.append(o[QStringLiteral("tag")].toString());
        }
        return tags;
    };
    const QString x = QStringLiteral("--exclude");
    for (const auto& [picks, expected] : std::vector<std::pair<QStringList, QStringList>>{
             {{QStringLiteral("--all"), x, QStringLiteral("tmp"), QStringLiteral("--ignore-case")},
              {QStringLiteral("dev_a"), QStringLiteral("rel_a")}},
             {{QStringLiteral("--match"), QStringLiteral("dev"), x, QStringLiteral("_tmp")},
              {QStringLiteral("dev_a")}},
             {{QStringLiteral("--host"), QStringLiteral("h2"), x, QStringLiteral("TMP")},
              {QStringLiteral("rel_a")}},
             {{QStringLiteral("--tags"), file, x, QStringLiteral("rel"), x, QStringLiteral("a:h")},
              {QStringLiteral("dev_tmp")}}}) {
        const Ran r = tessaly(QStringList{QStringLiteral("--repair"), QStringLiteral("--dry-run"),
                                          QStringLiteral("--format"), QStringLiteral("json")} +
                              picks);
        EXPECT_EQ(r.status, 0) << picks.join(u' ').toStdString() << r.err.toStdString();
        EXPECT_EQ(tags_run(r), expected) << picks.join(u' ').toStdString();
    }
    const Ran none = tessaly({QStringLiteral("--repair"), QStringLiteral("--host"),
                              QStringLiteral("h1"), x, QStringLiteral("dev")});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("no view matched --host h1 --exclude dev")))
        << none.err.toStdString();
}

TEST(Headless, ListAsJsonGivesEachViewsRecordInTheListsOrder) {
    SimHome sim;
    ccsim::View snap;
    snap.tag = "b_snap";
    snap.host = "h2";
    snap.snapshot = true;
    snap.ucm = true;
    snap.active = true;
    sim.home().addView(snap);
    sim.add("A_dyn", "h1");
    const Ran r =
        tessaly({QStringLiteral("--list"), QStringLiteral("--format"), QStringLiteral("json")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines().size(), 2) << r.out.toStdString();
    const QJsonObject a = QJsonDocument::fromJson(r.lines()[0].toUtf8()).object();
    const QJsonObject b = QJsonDocument::fromJson(r.lines()[1].toUtf8()).object();
    EXPECT_EQ(a[QStringLiteral("tag")].toString(), QStringLiteral("A_dyn"));
    EXPECT_EQ(a[QStringLiteral("host")].toString(), QStringLiteral("h1"));
    EXPECT_EQ(a[QStringLiteral("line")].toString(), QStringLiteral("A_dyn:h1"));
    EXPECT_FALSE(a[QStringLiteral("active")].toBool(true));
    EXPECT_EQ(a[QStringLiteral("attributes")].toArray(), QJsonArray());
    EXPECT_EQ(b[QStringLiteral("line")].toString(), QStringLiteral("b_snap:h2"));
    EXPECT_TRUE(b[QStringLiteral("active")].toBool());
    EXPECT_EQ(b[QStringLiteral("attributes")].toArray(),
              (QJsonArray{QStringLiteral("snapshot"), QStringLiteral("ucmview")}));
    EXPECT_TRUE(b[QStringLiteral("global_path")].toString().endsWith(QStringLiteral("b_snap.vws")))
        << r.lines()[1].toStdString();
}

TEST(Headless, HelpEndsWithExitStatusesAndEnvironmentAndCountsAgreeWithTheirNumber) {
    const Ran help = tessaly({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    const qsizetype exits = help.out.indexOf(QStringLiteral("Exit status"));
    const qsizetype env = help.out.indexOf(QStringLiteral("Environment"));
    const qsizetype options = help.out.indexOf(QStringLiteral("--dry-run"));
    EXPECT_TRUE(options >= 0 && exits > options && env > exits) << help.out.toStdString();
    for (const char* name : {"CLEARCASEHOME", "TESSALY_SSH", "TESSALY_SUDO", "TESSALY_WRAP",
                             "TERMINAL", "XDG_RUNTIME_DIR", "QT_LOGGING_RULES"})
        EXPECT_GT(help.out.indexOf(QString::fromUtf8(name)), env) << name;

    SimHome sim;
    sim.add("a", "h1");
    const Ran r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(r.lines().value(1), QStringLiteral("1 view: 1 repaired, 0 failed, 0 skipped"));
}

namespace {
// A region with a view for each way a storage can be damaged, beside sound
// ones: a and b hold an entry of another owner (at the top, in the view
// database), e's .s directory itself belongs to another user; c holds
// view-private files of other users below .s (which do not count) and d
// nothing out of place. The others break one rule of the modes or of the
// identity each; groups has additional groups, which are no damage.
void damaged_region(SimHome& sim) {
    const char* tags[] = {"a",     "b",    "c",    "d",    "e",      "nowrite",
                          "world", "zero", "nolf", "noid", "nosuid", "groups"};
    for (const char* tag : tags) {
        sim.add(tag, "h1");
        sim.home().fixStorage(tag);
    }
    sim.home().setOwner("e", ".s/", "bob", "dev");
    sim.home().setOwner("a", "core", "root", "root");
    sim.home().setOwner("b", "db/view_db.dbd", "nobody", "ccusers");
    sim.home().setOwner("c", ".s/src/main.c", "bob", "dev");
    sim.home().setOwner("c", ".s/doc/", "alice", "dev");
    const auto at = [&](const char* tag, const char* rel) {
        return sim.home().find(tag)->storage + "/" + rel;
    };
    ::chmod(at("c", ".s/src/main.c").c_str(), 0666); // view-private: not judged
    ::chmod(at("nowrite", "config_spec").c_str(), 0400);
    ::chmod(at("world", ".pid").c_str(), 0666);
    ::chmod(at("zero", "db").c_str(), 0);
    QFile odd(QString::fromStdString(at("nolf", "db/two\nlines")));
    EXPECT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.close();
    ::chmod(QFile::encodeName(odd.fileName()).constData(), 0666);
    sim.home().breakStorage("noid", ccsim::Home::BreakIdentity);
    ::chmod(at("nosuid", ".identity/uid").c_str(), 0400);
    sim.home().breakStorage("groups", ccsim::Home::BreakGroups);
    sim.home().clearJournal();
}

QStringList runs_of(const SimHome& sim, const std::string& program) {
    QStringList out;
    for (const QString& e : sim.journal(program))
        if (program != "cleartool" || e.startsWith(QStringLiteral("cleartool|endview")))
            out.append(e);
    return out;
}
} // namespace

TEST(Check, NamesEachKindOfDamageAndNeededRepairsOnlyThose) {
    SimHome sim;
    damaged_region(sim);
    const auto storage = [&](const char* tag) {
        return QString::fromStdString(sim.home().find(tag)->storage);
    };
    const auto needs = [&](const char* tag, const QString& rest, const QString& why) -> QString {
        return QString::fromLatin1(tag) + QStringLiteral("\tneeds repair: 1 entry, the first ") +
               storage(tag) + rest + QStringLiteral(" (") + why + u')';
    };
    QTemporaryDir dir;
    const QString failed = dir.filePath(QStringLiteral("failed"));
    sim.home().clearJournal();
    Ran r = tessaly({QStringLiteral("--check"), QStringLiteral("--all"),
                     QStringLiteral("--failed-to"), failed});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    // The host's twelve storages, each kind of damage among them, are read
    // through one remote shell, and each gets its own verdict below.
    EXPECT_EQ(sim.journal("ssh").size(), 1);
    const QString groups = QStringLiteral("additional groups: ccdev, ccqa");
    EXPECT_EQ(
        outcomes(r),
        (QStringList{
            needs("a", QStringLiteral("/core"), QStringLiteral("owned by root:root")),
            needs("b", QStringLiteral("/db/view_db.dbd"),
                  QStringLiteral("owned by nobody:ccusers")),
            QStringLiteral("c\tsound"), QStringLiteral("d\tsound"),
            needs("e", QStringLiteral("/.s"), QStringLiteral("owned by bob:dev")),
            QStringLiteral("groups\tsound; ") + groups +
                QStringLiteral("; fix_prot would remove them"),
            needs("noid", QStringLiteral("/.identity"), QStringLiteral("missing")),
            needs("nolf", QStringLiteral("/db/two\\nlines"),
                  QStringLiteral("mode 0666: others can write it")),
            needs("nosuid", QStringLiteral("/.identity/uid"), QStringLiteral("no set-user-ID bit")),
            needs("nowrite", QStringLiteral("/config_spec"),
                  QStringLiteral("mode 0400: its owner cannot write it")),
            needs("world", QStringLiteral("/.pid"),
                  QStringLiteral("mode 0666: others can write it")),
            needs("zero", QStringLiteral("/db"),
                  QStringLiteral("mode 0000: its owner cannot read, write or search it")),
            QStringLiteral("12 views: 3 sound, 9 need repair, 0 not checked")}));
    QFile f(failed);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("a\nb\ne\nnoid\nnolf\nnosuid\nnowrite\nworld\nzero\n"));
    EXPECT_TRUE(runs_of(sim, "fix_prot").isEmpty());
    EXPECT_TRUE(runs_of(sim, "cleartool").isEmpty()) << "no endview";
    EXPECT_EQ(sim.home().ownerOf("a", "core"), "root:root") << "nothing was changed";

    // The same verdicts for scripts: each problem by its kind.
    r = tessaly({QStringLiteral("--check"), QStringLiteral("--tags"), failed,
                 QStringLiteral("--format"), QStringLiteral("json")});
    QMap<QString, QJsonObject> json;
    for (const QString& line : r.lines()) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        json[o.value(QStringLiteral("tag")).toString()] = o;
    }
    const auto kind = [&](const char* tag) {
        const QJsonArray p =
            json[QString::fromLatin1(tag)].value(QStringLiteral("problems")).toArray();
        return p.size() == 1 ? p.at(0).toObject().value(QStringLiteral("kind")).toString()
                             : QString();
    };
    EXPECT_EQ(kind("b"), QStringLiteral("owner"));
    EXPECT_EQ(kind("zero"), QStringLiteral("mode"));
    EXPECT_EQ(kind("noid"), QStringLiteral("identity"));
    EXPECT_EQ(json[QStringLiteral("nolf")].value(QStringLiteral("first")).toString(),
              storage("nolf") + QStringLiteral("/db/two\nlines"));

    sim.home().clearJournal();
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--needed"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines().value(12),
              QStringLiteral("12 views: 9 repaired, 3 sound, 0 failed, 0 skipped"));
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()),
              (std::set<std::string>{"a", "b", "e", "noid", "nolf", "nosuid", "nowrite", "world",
                                     "zero"}));
    for (const char* untouched : {"c", "d", "groups"})
        EXPECT_EQ(endview_time(sim.home(), untouched), -1) << untouched;
    EXPECT_EQ(sim.home().ownerOf("a", "core"), "ccadm:ccusers");

    r = tessaly({QStringLiteral("--check"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
    EXPECT_EQ(r.lines().value(12),
              QStringLiteral("12 views: 12 sound, 0 need repair, 0 not checked"));

    // Groups lost to a repair are named, so that they can be given back.
    sim.home().breakStorage("groups", ccsim::Home::BreakGroups | ccsim::Home::BreakMode);
    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--needed"), QStringLiteral("--match"),
                 QStringLiteral("groups")});
    EXPECT_TRUE(outcomes(r).value(0).startsWith(
        QStringLiteral("groups\trepaired; fix_prot removed ") + groups))
        << r.out.toStdString();
}

TEST(Check, ReadsAsTheRemoteAccountAndAsksSudoForTheInspectorAlone) {
    SimHome sim;
    for (const char* tag : {"open", "closed"}) {
        sim.add(tag, "far");
        sim.home().fixStorage(tag);
    }
    ::chmod((sim.home().find("closed")->storage + "/db/view_db.dbd").c_str(), 0666);
    sim.home().setViewFault("closed", "storage_unreadable", "1");
    // A site's rule: fix_prot through sudo, nothing else.
    sim.home().setFault("sudo_allow", "fix_prot");
    QStringList args{QStringLiteral("--check"), QStringLiteral("--all")};
    Ran r = tessaly(args);
    const QString closed = outcomes(r).value(0);
    EXPECT_TRUE(
        closed.startsWith(QStringLiteral("closed\tnot checked: cannot read the storage as ")) &&
        closed.endsWith(QStringLiteral(" (see the man page for the sudo rule)")))
        << r.out.toStdString();
    EXPECT_EQ(outcomes(r).value(1), QStringLiteral("open\tsound"));
    for (const QString& e : sim.journal("sudo"))
        EXPECT_TRUE(e.contains(QStringLiteral("tessaly-inspect")))
            << "only the inspector: " << e.toStdString();

    // With the inspector allowed, the storage is read as root.
    sim.home().setFault("sudo_allow", "fix_prot,tessaly-inspect");
    r = tessaly(args);
    EXPECT_TRUE(outcomes(r).value(0).startsWith(QStringLiteral("closed\tneeds repair: 1 entry")))
        << r.out.toStdString();
}

TEST(Check, SaysWhyAViewCouldNotBeCheckedAndRepairsNoneOfThose) {
    SimHome sim;
    sim.add("gone_owner", "h1");
    sim.add("far", "dead");
    sim.add("busy", "h2");
    sim.home().setFault("unknown_account", "ccadm");
    sim.home().setFault("ssh_unreachable", "dead");
    QTemporaryDir dir;
    const QString tags = dir.filePath(QStringLiteral("tags"));
    ASSERT_TRUE(write_file(tags, "gone_owner\nfar\n"));
    sim.home().clearJournal();
    Ran r = tessaly({QStringLiteral("--check"), QStringLiteral("--tags"), tags});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outcomes(r),
              (QStringList{
                  QStringLiteral("far\tnot checked: ssh could not reach dead: ssh: connect to host "
                                 "dead port 22: Connection timed out"),
                  QStringLiteral("gone_owner\tnot checked: owner ccadm or group ccusers is unknown "
                                 "on h1 (fix_prot -chown/-chgrp would fail too): find: ‘ccadm’ is "
                                 "not the name of a known user"),
                  QStringLiteral("2 views: 0 sound, 0 need repair, 2 not checked")}));
    r = tessaly(
        {QStringLiteral("--repair"), QStringLiteral("--needed"), QStringLiteral("--tags"), tags});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines().value(2),
              QStringLiteral("2 views: 0 repaired, 0 sound, 2 failed, 0 skipped"));
    EXPECT_TRUE(runs_of(sim, "fix_prot").isEmpty());
    EXPECT_TRUE(runs_of(sim, "cleartool").isEmpty()) << "no endview";

    // A storage whose repair is at work is not read meanwhile.
    sim.home().clearFaults();
    sim.home().setOwner("busy", "core", "root", "root");
    sim.home().setViewFault("busy", "fixprot_sleep_ms", "3000");
    QProcess repair;
    start(repair, {QStringLiteral("--repair"), QStringLiteral("--match"), QStringLiteral("busy")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runs_of(sim, "fix_prot").isEmpty(); }, 20'000));
    r = tessaly({QStringLiteral("--check"), QStringLiteral("--match"), QStringLiteral("busy")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outcomes(r).value(0), QStringLiteral("busy\tnot checked: repair at work"));
    EXPECT_EQ(finish(repair).status, 0);
    r = tessaly({QStringLiteral("--check"), QStringLiteral("--match"), QStringLiteral("busy")});
    EXPECT_EQ(outcomes(r).value(0), QStringLiteral("busy\tsound"));
}

TEST(Check, AConnectionLostDuringAHostsBatchLeavesTheStoragesItDidNotReadToBeReadAlone) {
    SimHome sim;
    for (const char* tag : {"a", "b", "c"})
        sim.add(tag, "h1");
    sim.home().fixStorage("a");
    sim.home().fixStorage("c");
    sim.home().setViewFault("b", "find_sleep_ms", "20000");
    sim.home().clearJournal();
    QProcess p;
    start(p, {QStringLiteral("--check"), QStringLiteral("--all")});
    // One connection reads the host's three storages; it drops while b's
    // is read.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.journal("find").size() == 2; }, 20'000));
    sim.home().clearFaults();
    const QStringList batch = sim.journal("ssh");
    ASSERT_EQ(batch.size(), 1);
    for (const char* tag : {"a", "b", "c"})
        EXPECT_TRUE(batch[0].contains(QString::fromStdString(sim.home().find(tag)->storage)))
            << tag;
    for (const ccsim::JournalEntry& e : sim.home().journal())
        if (e.program == "ssh")
            ::kill(e.pid, SIGKILL);
    const Ran r = finish(p);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QStringList got = outcomes(r);
    EXPECT_EQ(got.value(0), QStringLiteral("a\tsound"));
    EXPECT_TRUE(got.value(1).startsWith(QStringLiteral("b\tneeds repair: ")))
        << r.out.toStdString();
    EXPECT_EQ(got.value(2), QStringLiteral("c\tsound"));
    EXPECT_EQ(sim.journal("ssh").size(), 3) << "the batch, then b and c alone";
}

TEST(Check, AFreshDemoHomeShowsItsDamagedViewsAndANightMakesThemSound) {
    // Three runs over 300 views: more than a sanitized build's time limit,
    // and nothing the other checks do not already cover there.
    if (qEnvironmentVariableIsSet("ASAN_OPTIONS"))
        GTEST_SKIP() << "too slow under the sanitizers";
    SimHome sim;
    sim.home().makeDemo();
    const QStringList all{QStringLiteral("--check"),    QStringLiteral("--all"),
                          QStringLiteral("--jobs"),     QStringLiteral("8"),
                          QStringLiteral("--per-host"), QStringLiteral("4")};
    Ran r = tessaly(all);
    EXPECT_EQ(r.status, 1);
    // The demo breaks every sixth view three ways out of six, starting with
    // the fourth it registers.
    std::set<std::string> damaged, found;
    const std::vector<ccsim::View> views = sim.home().views();
    for (std::size_t i = 0; i < views.size(); ++i)
        if (i % 6 >= 3)
            damaged.insert(views[i].tag);
    for (const QString& line : outcomes(r))
        if (line.contains(QStringLiteral("\tneeds repair: ")))
            found.insert(line.section(u'\t', 0, 0).toStdString());
    EXPECT_EQ(found, damaged);
    EXPECT_TRUE(r.lines().last().endsWith(QStringLiteral("0 not checked")))
        << r.lines().last().toStdString();

    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--needed"), QStringLiteral("--all"),
                 QStringLiteral("--jobs"), QStringLiteral("8"), QStringLiteral("--per-host"),
                 QStringLiteral("4")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    r = tessaly(all);
    EXPECT_EQ(r.status, 0) << r.out.toStdString();
}

// ssh as sites configure it: with ControlMaster=auto and ControlPersist, the
// first connection to a host leaves a master behind that keeps the standard
// output and error it was given open for as long as it lingers. Stand-ins
// for ssh and cleartool do the same here: each leaves a child of its own
// session holding them, and then does the real work.
TEST(Ssh, ALingeringMasterHoldingSshsOutputOpenHoldsUpNoLookupCheckOrRepair) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    QTemporaryDir dir;
    const QString pids = dir.filePath(QStringLiteral("masters"));
    const auto lingering = [&](const std::string& real) {
        return "#!/bin/sh\nsetsid sh -c 'echo $$ >>\"$0\"; exec sleep 600' '" + pids.toStdString() +
               "' </dev/null &\nexec '" + real + "' \"$@\"\n";
    };
    const QString ssh = dir.filePath(QStringLiteral("ssh"));
    ASSERT_TRUE(write_file(ssh, QByteArray::fromStdString(lingering(sim.home().sshPath())), true));
    // An installation whose cleartool lingers the same way.
    const QString site = dir.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site + QStringLiteral("/bin")));
    ASSERT_TRUE(QDir().mkpath(site + QStringLiteral("/etc/utils")));
    ASSERT_TRUE(write_file(site + QStringLiteral("/bin/cleartool"),
                           QByteArray::fromStdString(lingering(sim.home().cleartoolPath())), true));
    ASSERT_TRUE(QFile::link(QString::fromStdString(sim.home().fixProtPath()),
                            site + QStringLiteral("/etc/utils/fix_prot")));
    qputenv("TESSALY_SSH", QFile::encodeName(ssh));
    qputenv("CLEARCASEHOME", QFile::encodeName(site));
    const auto masters = [&] {
        QFile f(pids);
        QList<pid_t> found;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    found.append(pid_t(line.toInt()));
        return found;
    };
    const auto killMasters = qScopeGuard([&] {
        for (pid_t pid : masters())
            ::kill(pid, SIGKILL);
    });

    // Each run must end with its report long before the masters do: a
    // reader waiting for the end of their output would wait ten minutes.
    Ran r = tessaly({QStringLiteral("--check"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.lines().value(0).startsWith(QStringLiteral("a\tneeds repair: ")))
        << r.out.toStdString();
    EXPECT_EQ(r.lines().value(2), QStringLiteral("2 views: 0 sound, 2 need repair, 0 not checked"));

    r = tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(outcomes(r),
              (QStringList{QStringLiteral("a\trepaired"), QStringLiteral("b\trepaired"),
                           QStringLiteral("2 views: 2 repaired, 0 failed, 0 skipped")}));
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), (std::set<std::string>{"a", "b"}));

    r = tessaly({QStringLiteral("--check"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines().value(2), QStringLiteral("2 views: 2 sound, 0 need repair, 0 not checked"));

    // The masters were there all along and still are.
    const QList<pid_t> planted = masters();
    EXPECT_GE(planted.size(), sim.journal("ssh").size()) << "one for each ssh";
    for (pid_t pid : planted)
        EXPECT_EQ(::kill(pid, 0), 0) << "master " << pid << " is gone";
}

TEST(Ssh, SharedConnectionsCarryTheMasterWordsAndEachHostsMasterIsStoppedAfterTheRun) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h2");
    sim.add("c", "h1");
    sim.home().clearJournal();
    Ran r = tessaly(
        {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--share-ssh")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines().value(3), QStringLiteral("3 views: 3 repaired, 0 failed, 0 skipped"))
        << r.out.toStdString();
    const QString shared = QStringLiteral("|-o|ControlMaster=auto|-o|ControlPath=") +
                           qEnvironmentVariable("XDG_RUNTIME_DIR") +
                           QStringLiteral("/ssh-%C|-o|ControlPersist=60|");
    const auto stops = [&] {
        QStringList hosts;
        for (const QString& e : sim.journal("ssh"))
            if (e.endsWith(QStringLiteral("|-O|stop|h1")) ||
                e.endsWith(QStringLiteral("|-O|stop|h2")))
                hosts.append(e.section(u'|', -1));
        hosts.sort();
        return hosts;
    };
    // Asked once per host the run reached, without waiting for the answer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return stops().size() >= 2; }, 10'000));
    EXPECT_EQ(stops(), (QStringList{QStringLiteral("h1"), QStringLiteral("h2")}));
    for (const QString& e : sim.journal("ssh"))
        EXPECT_TRUE(e.contains(shared)) << e.toStdString();
    EXPECT_EQ(endviews_follow_fix_prots(sim.home()), (std::set<std::string>{"a", "b", "c"}));
    // Nothing of the run is left behind.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const ccsim::JournalEntry& e : sim.home().journal())
                if (e.program == "ssh" && ::kill(e.pid, 0) == 0)
                    return false;
            return true;
        },
        10'000));

    // The window's way to ask for it, read by the same code; a value that
    // says neither yes nor no is refused before anything runs.
    sim.home().clearJournal();
    qputenv("TESSALY_SHARE_SSH", "1");
    const auto unset = qScopeGuard([] { qunsetenv("TESSALY_SHARE_SSH"); });
    r = tessaly({QStringLiteral("--check"), QStringLiteral("--all")});
    EXPECT_EQ(r.lines().value(3), QStringLiteral("3 views: 3 sound, 0 need repair, 0 not checked"))
        << r.out.toStdString();
    EXPECT_TRUE(sim.journal("ssh").value(0).contains(shared))
        << sim.journal("ssh").value(0).toStdString();
    qputenv("TESSALY_SHARE_SSH", "yes");
    r = tessaly({QStringLiteral("--check"), QStringLiteral("--all")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("TESSALY_SHARE_SSH is 1 (share one ssh connection per "
                                      "host) or 0, not \"yes\"")))
        << r.err.toStdString();
}
