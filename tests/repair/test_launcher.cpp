#include "msgrecorder.h"
#include "clearcase/launcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
// A shell script as a stand-in program.
QString script(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.path() + QStringLiteral("/") + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
} // namespace

TEST(RunAndWait, AMissingProgramIsReportedAndReturnsNormally) {
    MsgRecorder boxes;
    QTemporaryDir dir;
    const QString line = dir.path() + QStringLiteral("/etc/utils/fix_prot  -force  /vws/a.vws");
    run_and_wait(line, kStyleHide);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ERROR: No such file or directory\r\nCould not execute --> ") + line);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Tessaly"));
    EXPECT_EQ(boxes.last().icon, MsgIcon::None);
    // A directory cannot be run either.
    run_and_wait(dir.path(), kStyleHide);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ERROR: Permission denied\r\nCould not execute --> ") + dir.path());
}

TEST(RunAndWait, WaitsForTheProgramWhileEventsKeepFlowing) {
    MsgRecorder boxes;
    TerminalEnv env;
    QTemporaryDir dir;
    const QString done = dir.path() + QStringLiteral("/done");
    const QString prog = script(dir, QStringLiteral("slow prog"), "sleep 0.4\necho ok > \"$1\"\n");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
    timer.start(10);
    QElapsedTimer t;
    t.start();
    run_and_wait(QStringLiteral("\"") + prog + QStringLiteral("\" ") + done, kStyleHide);
    EXPECT_GE(t.elapsed(), 380);
    EXPECT_EQ(slurp(done), QByteArray("ok\n")); // it had ended
    EXPECT_GT(ticks, 10);                       // the window stayed alive
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(RunAndWait, AProgramThatEndsAtOnceNeedsNoEventProcessing) {
    MsgRecorder boxes;
    TerminalEnv env;
    QTemporaryDir dir;
    const QString prog = script(dir, QStringLiteral("quick"), "exit 3\n");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 5; ++i)
        run_and_wait(prog, kStyleHide);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(boxes.boxes.isEmpty()); // an exit status is not a failure to start
}

TEST(RunAndWait, NestedWaitsEndInnerFirst) {
    MsgRecorder boxes;
    TerminalEnv env;
    QTemporaryDir dir;
    const QString outer = script(dir, QStringLiteral("outer"), "sleep 0.2\n");
    const QString inner = script(dir, QStringLiteral("inner"), "sleep 0.6\n");
    QStringList order;
    QTimer::singleShot(50, [&] {
        run_and_wait(inner, kStyleHide);
        order.append(QStringLiteral("inner"));
    });
    run_and_wait(outer, kStyleHide);
    order.append(QStringLiteral("outer"));
    EXPECT_EQ(order, (QStringList{QStringLiteral("inner"), QStringLiteral("outer")}));
}

TEST(RunAndWait, TheWindowStyleChoosesTheTerminal) {
    MsgRecorder boxes;
    TerminalEnv env;
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/terminal.log");
    // An xterm-compatible stand-in: records its arguments, runs what -e names.
    const QString term = script(
        dir, QStringLiteral("term"),
        "for a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" + log.toUtf8() + "'\necho >> '" +
            log.toUtf8() + "'\nwhile [ \"$1\" != -e ]; do shift; done\nshift\nexec \"$@\"\n");
    const QString prog = script(dir, QStringLiteral("util"), "touch \"$1\"\n");
    qputenv("TERMINAL", QFile::encodeName(term));

    run_and_wait(prog + QStringLiteral(" ") + dir.path() + QStringLiteral("/hidden"), kStyleHide);
    EXPECT_TRUE(slurp(log).isEmpty());
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/hidden")));

    run_and_wait(prog + QStringLiteral(" ") + dir.path() + QStringLiteral("/normal"), kStyleNormal);
    run_and_wait(prog + QStringLiteral(" ") + dir.path() + QStringLiteral("/min"), kStyleMinimized);
    const QList<QByteArray> calls = slurp(log).trimmed().split('\n');
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0], "[-e][" + prog.toUtf8() + "][" + dir.path().toUtf8() + "/normal]");
    EXPECT_EQ(calls[1], "[-iconic][-e][" + prog.toUtf8() + "][" + dir.path().toUtf8() + "/min]");
    // The wait lasted until the utility inside the terminal had run.
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/min")));

    // With no terminal at all, a shown style runs without a window.
    qunsetenv("TERMINAL");
    run_and_wait(prog + QStringLiteral(" ") + dir.path() + QStringLiteral("/bare"), kStyleNormal);
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/bare")));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(RunAndWait, AbandoningAWaitLeavesTheProgramRunning) {
    MsgRecorder boxes;
    TerminalEnv env;
    QTemporaryDir dir;
    const QString done = dir.path() + QStringLiteral("/done");
    const QString prog = script(dir, QStringLiteral("long"), "sleep 0.5\ntouch \"$1\"\n");
    QTimer::singleShot(50, [] { abandon_waits(); });
    QElapsedTimer t;
    t.start();
    run_and_wait(prog + QStringLiteral(" ") + done, kStyleHide);
    EXPECT_LT(t.elapsed(), 400);
    EXPECT_FALSE(QFile::exists(done));
    // It finishes on its own; it was not killed.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(done); }, 5000));
}
