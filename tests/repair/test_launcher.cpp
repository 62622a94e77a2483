// SPDX-License-Identifier: Apache-2.0
#include "qtprint.h"
#include "repair/launcher.h"
#include "temphome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace tsy;
using namespace tsy::test;
using tsy::repair::Launch;
using tsy::repair::LaunchSpec;
using tsy::repair::ProgramEnd;
using tsy::repair::RunMode;
using tsy::repair::wrapper_path;

namespace {
// A shell script as a stand-in program.
QString script(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.path() + QStringLiteral("/") + name;
    EXPECT_TRUE(write_file(path, "#!/bin/sh\n" + body, true));
    return path;
}

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Children of this process that have ended and were never reaped.
int zombies() {
    int n = 0;
    const QString me = QString::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        // "PID (COMM) STATE PPID ...": the command may hold blanks.
        const QByteArray stat = slurp(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        const QList<QByteArray> rest = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest.at(0) == "Z" && rest.at(1) == me.toLatin1())
            ++n;
    }
    return n;
}

// TERMINAL and DISPLAY as a test needs them, restored afterwards.
class TerminalEnv {
public:
    TerminalEnv()
        : m_term(qgetenv("TERMINAL")), m_display(qgetenv("DISPLAY")),
          m_hadTerm(qEnvironmentVariableIsSet("TERMINAL")),
          m_hadDisplay(qEnvironmentVariableIsSet("DISPLAY")) {
        qunsetenv("TERMINAL");
        qunsetenv("DISPLAY");
    }
    ~TerminalEnv() {
        m_hadTerm ? void(qputenv("TERMINAL", m_term)) : void(qunsetenv("TERMINAL"));
        m_hadDisplay ? void(qputenv("DISPLAY", m_display)) : void(qunsetenv("DISPLAY"));
    }

private:
    QByteArray m_term, m_display;
    bool m_hadTerm, m_hadDisplay;
};

// What became of one launch.
struct Result {
    bool failed = false;
    QString failure;
    ProgramEnd end;
    QStringList words;
};

// Starts spec and lets the event loop turn until it has reported.
Result launch(const LaunchSpec& spec) {
    Result r;
    Launch* l = Launch::start(spec);
    QEventLoop loop;
    QObject::connect(l, &Launch::failedToStart, &loop, [&](const QString& why) {
        r.failed = true;
        r.failure = why;
        loop.quit();
    });
    QObject::connect(l, &Launch::ended, &loop, [&](const ProgramEnd& e) {
        r.end = e;
        loop.quit();
    });
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    loop.exec();
    r.words = l->startedWords();
    delete l;
    return r;
}
} // namespace

TEST(Launch, AProgramThatCannotStartSaysWhy) {
    QTemporaryDir dir;
    Result r = launch({dir.path() + QStringLiteral("/etc/utils/fix_prot"), {}, RunMode::Hide});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.failure, QStringLiteral("No such file or directory"));
    // A directory cannot be run either.
    r = launch({dir.path(), {}, RunMode::Hide});
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.failure, QStringLiteral("Permission denied"));
}

TEST(Launch, ReportsTheEndWhileEventsKeepFlowing) {
    TerminalEnv env;
    QTemporaryDir dir;
    const QString done = dir.path() + QStringLiteral("/done");
    const QString prog =
        script(dir, QStringLiteral("slow prog"), "sleep 0.4\necho ok > \"$1\"\nexit 3\n");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
    timer.start(10);
    QElapsedTimer t;
    t.start();
    const Result r = launch({prog, {done}, RunMode::Hide});
    EXPECT_GE(t.elapsed(), 380);
    EXPECT_EQ(slurp(done), QByteArray("ok\n")); // it had ended
    EXPECT_GT(ticks, 10);                       // the window stayed alive
    EXPECT_FALSE(r.failed);
    EXPECT_TRUE(r.end.known);
    EXPECT_EQ(r.end.exitCode, 3); // an exit status is not a failure to start
    EXPECT_EQ(r.end.describe(), QStringLiteral("exit status 3"));
}

TEST(Launch, SeveralProgramsRunAtOnceEachReportingItsOwnEnd) {
    TerminalEnv env;
    QTemporaryDir dir;
    const QString prog = script(dir, QStringLiteral("p"), "sleep \"$1\"\nexit \"$2\"\n");
    QStringList order;
    QEventLoop loop;
    Launch* slow =
        Launch::start({prog, {QStringLiteral("0.6"), QStringLiteral("1")}, RunMode::Hide});
    Launch* quick =
        Launch::start({prog, {QStringLiteral("0.1"), QStringLiteral("2")}, RunMode::Hide});
    for (Launch* l : {slow, quick}) {
        QObject::connect(l, &Launch::ended, &loop, [&, l](const ProgramEnd& e) {
            order.append(QString::number(e.exitCode));
            if (order.size() == 2)
                loop.quit();
            Q_UNUSED(l);
        });
    }
    QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(order, (QStringList{QStringLiteral("2"), QStringLiteral("1")}));
    delete slow;
    delete quick;
}

TEST(Launch, TheWindowStyleChoosesTheTerminalAndTheWaitIsForTheUtility) {
    TerminalEnv env;
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/terminal.log");
    // An xterm-compatible stand-in that records its arguments and, like a
    // launcher that hands the command to a server, starts what -e names in
    // the background and returns at once.
    const QString term = script(dir, QStringLiteral("term"),
                                "for a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" +
                                    log.toUtf8() + "'\necho >> '" + log.toUtf8() +
                                    "'\nwhile [ \"$1\" != -e ]; do shift; done\nshift\n\"$@\" "
                                    "</dev/null >/dev/null 2>&1 &\nexit 0\n");
    const QString prog = script(dir, QStringLiteral("util"), "sleep 0.5\ntouch \"$1\"\nexit 4\n");
    qputenv("TERMINAL", QFile::encodeName(term));

    Result r = launch({prog, {dir.path() + QStringLiteral("/hidden")}, RunMode::Hide});
    EXPECT_TRUE(slurp(log).isEmpty());
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/hidden")));

    r = launch({prog, {dir.path() + QStringLiteral("/normal")}, RunMode::Normal});
    // The end reported is the utility's own, after it had done its work.
    EXPECT_FALSE(r.failed) << r.failure.toStdString();
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/normal")));
    EXPECT_TRUE(r.end.known) << r.end.reason.toStdString();
    EXPECT_EQ(r.end.exitCode, 4);
    r = launch({prog, {dir.path() + QStringLiteral("/min")}, RunMode::Minimized});
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/min")));
    EXPECT_EQ(r.end.exitCode, 4);
    const QList<QByteArray> calls = slurp(log).trimmed().split('\n');
    ASSERT_EQ(calls.size(), 2);
    // terminal -e WRAPPER --report FIFO -- PROGRAM ARGS
    const QByteArray tail = "[--][" + prog.toUtf8() + "][" + dir.path().toUtf8();
    EXPECT_TRUE(calls[0].startsWith(QByteArray("[-e][" + wrapper_path().toUtf8() + "][--report][")))
        << calls[0].constData();
    EXPECT_TRUE(calls[0].endsWith(QByteArray(tail + "/normal]"))) << calls[0].constData();
    EXPECT_TRUE(calls[1].startsWith("[-iconic][-e][")) << calls[1].constData();
    EXPECT_TRUE(calls[1].endsWith(QByteArray(tail + "/min]"))) << calls[1].constData();

    // With no terminal at all, a shown style runs without a window.
    qunsetenv("TERMINAL");
    r = launch({prog, {dir.path() + QStringLiteral("/bare")}, RunMode::Normal});
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/bare")));
}

TEST(Launch, AbandoningLeavesTheProgramRunning) {
    TerminalEnv env;
    QTemporaryDir dir;
    const QString done = dir.path() + QStringLiteral("/done");
    const QString prog = script(dir, QStringLiteral("long"), "sleep 0.5\ntouch \"$1\"\n");
    Launch* l = Launch::start({prog, {done}, RunMode::Hide});
    QTest::qWait(100);
    l->abandon();
    delete l;
    EXPECT_FALSE(QFile::exists(done));
    // It finishes on its own; it was not killed. Its unit, no longer
    // watched, is still reaped when it ends.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(done); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([] { return zombies() == 0; }, 5000)) << zombies();
}

namespace {
void ignore_signal(int) {}
} // namespace

TEST(Launch, ACtrlCForTheProgramsGroupDoesNotReachTheUtility) {
    TerminalEnv env;
    QTemporaryDir dir;
    const QString done = dir.path() + QStringLiteral("/done");
    const QString prog = script(dir, QStringLiteral("long"), "sleep 0.5\ntouch \"$1\"\n");
    // This test process leads a group of its own, so that the signal
    // reaches it and whatever shares its group, and nothing else. A handler
    // (not SIG_IGN, which a child would inherit) keeps it alive.
    ASSERT_EQ(::setpgid(0, 0) == 0 || ::getpgrp() == ::getpid(), true);
    struct sigaction sa {
    }, old{};
    sa.sa_handler = ignore_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &old);
    Launch* l = Launch::start({prog, {done}, RunMode::Hide});
    bool ended = false;
    ProgramEnd end;
    QObject::connect(l, &Launch::ended, l, [&](const ProgramEnd& e) {
        ended = true;
        end = e;
    });
    QTest::qWait(150);
    ::kill(0, SIGINT);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 5000));
    ::sigaction(SIGINT, &old, nullptr);
    EXPECT_TRUE(end.succeeded()) << end.describe().toStdString();
    EXPECT_TRUE(QFile::exists(done));
    delete l;
}
