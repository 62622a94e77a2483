// SPDX-License-Identifier: Apache-2.0
// A run on a machine that other accounts share: what another user plants in
// a shared directory (a link, a FIFO, a directory, a record) or what a
// cleartool that never stops writing sends neither redirects, hangs,
// forges nor aborts a run. The attacker acts through setpriv as nobody.
#include "simhome.h"
#include "temphome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tsy::test;

namespace {
struct Ran {
    int status = -1; // -2: still running at its limit, then killed
    QString out, err;
    qint64 ms = 0;
};

QProcessEnvironment plain_env() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    return env;
}

Ran run_tessaly(const QStringList& args, const QProcessEnvironment& env = plain_env(),
                int limitMs = 30'000) {
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(TESSALY_BIN), args);
    Ran r;
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished();
        r.status = -2;
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.status = p.exitCode();
    }
    r.ms = clock.elapsed();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool can_act_as_another_user() {
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

// Runs a command as nobody; its exit status.
int as_nobody(const QStringList& command) {
    QProcess p;
    p.start(QStringLiteral("setpriv"),
            QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                        QStringLiteral("--clear-groups")} +
                command);
    return p.waitForFinished(10'000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

struct stat stat_of(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// A directory every account may reach, holding a world-writable sticky
// one as /tmp is, and a file of root's that no run may touch.
struct SharedTmp {
    QTemporaryDir dir;
    QString sticky, precious;
    SharedTmp() {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        sticky = dir.filePath(QStringLiteral("tmp"));
        ::mkdir(QFile::encodeName(sticky).constData(), 01777);
        ::chmod(QFile::encodeName(sticky).constData(), 01777);
        precious = dir.filePath(QStringLiteral("precious"));
        write_file(precious, "root's own\n");
    }
};

bool no_fix_prot(SimHome& sim) {
    return sim.journal("fix_prot").isEmpty();
}
} // namespace

TEST(SharedMachine, NamedFilesAreNeverOpenedThroughAnotherUsersLinkNorReplacedThroughALink) {
    if (!can_act_as_another_user())
        GTEST_SKIP() << "needs root and setpriv to act as a second account";
    SimHome sim;
    sim.add("a", "h1");
    sim.home().setViewFault("a", "fixprot_exit", "3");
    SharedTmp s;
    const ino_t inode = stat_of(s.precious).st_ino;
    // nobody's link in a sticky directory: neither file is opened through it.
    for (const QString& option : {QStringLiteral("--failed-to"), QStringLiteral("--tags")}) {
        const QString planted = s.sticky + QStringLiteral("/planted") + option;
        ASSERT_EQ(as_nobody({QStringLiteral("ln"), QStringLiteral("-s"), s.precious, planted}), 0);
        const QStringList pick =
            option == u"--tags" ? QStringList{} : QStringList{QStringLiteral("--all")};
        const Ran r = run_tessaly(QStringList{QStringLiteral("--repair"), option, planted} + pick);
        EXPECT_EQ(r.status, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(planted) && r.err.contains(QStringLiteral("nobody")) &&
                    r.err.contains(QStringLiteral("nothing was run")))
            << r.err.toStdString();
        EXPECT_TRUE(no_fix_prot(sim));
        EXPECT_EQ(contents(s.precious), QByteArray("root's own\n"));
        EXPECT_EQ(stat_of(s.precious).st_ino, inode);
    }
    // root's own link: the file it names is written where it is, the link
    // stays a link.
    const QString mine = s.sticky + QStringLiteral("/mine");
    ASSERT_EQ(
        ::symlink(QFile::encodeName(s.precious).constData(), QFile::encodeName(mine).constData()),
        0);
    const Ran r = run_tessaly(
        {QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--failed-to"), mine});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(contents(s.precious), QByteArray("a\n"));
    EXPECT_EQ(stat_of(s.precious).st_ino, inode);
    EXPECT_TRUE(S_ISLNK(stat_of(mine).st_mode));
}

TEST(SharedMachine, NoRuntimeDirectoryAnotherUserMadeIsUsedAndRecordsPrintAsOneSafeLineEach) {
    // A record left in the run's own directory, its tag and outcome full
    // of terminal controls and a forged summary line: each field printed
    // escaped, the record on one line.
    {
        SimHome sim;
        sim.add("a", "h1");
        const QString units =
            qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/tessaly-units");
        ASSERT_EQ(::mkdir(QFile::encodeName(units).constData(), 0700), 0);
        ASSERT_TRUE(write_file(units + QStringLiteral("/planted.unit"),
                               "tessaly-unit 1\ntag=v\x1b]0;owned\x07\\n1 view: 1 repaired\n"
                               "fix_prot=exit 0\x1b[2J\xc2\x9b"
                               "2J\nendview=exit 0\n"
                               "started=x\nended=y\n"));
        const Ran r = run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        for (const QChar c : {QChar(0x1b), QChar(0x07), QChar(0x9b)})
            EXPECT_FALSE(r.err.contains(c)) << r.err.toStdString();
        const QStringList lines = r.err.split(u'\n');
        EXPECT_EQ(lines.filter(QStringLiteral("finished after")).size(), 1) << r.err.toStdString();
        EXPECT_TRUE(lines.filter(QStringLiteral("1 view: 1 repaired")).size() == 1 &&
                    !lines.contains(QStringLiteral("1 view: 1 repaired")))
            << r.err.toStdString();
    }

    if (!can_act_as_another_user())
        GTEST_SKIP() << "needs root and setpriv to act as a second account";
    if (QFileInfo::exists(QStringLiteral("/run/user/0")))
        GTEST_SKIP() << "/run/user/0 exists: no fallback to try";
    SimHome sim;
    sim.add("a", "h1");
    SharedTmp s;
    QProcessEnvironment env = plain_env();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TMPDIR"), s.sticky);
    const QString rootOnly = s.dir.filePath(QStringLiteral("root-only"));
    ASSERT_TRUE(QDir().mkdir(rootOnly));
    ::chmod(QFile::encodeName(rootOnly).constData(), 0755);
    const auto plant = [&](const QString& script) {
        ASSERT_EQ(
            as_nobody({QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("cd \"$1\" && ") + script, QStringLiteral("sh"), s.sticky}),
            0);
    };
    // Every name a fallback might take, made first by nobody: as a link to a
    // directory of root's, and as nobody's own directory. The run refuses.
    plant(QStringLiteral("mkdir -m 0777 runtime-root && ln -s ") + rootOnly +
          QStringLiteral(" tessaly-units && mkdir -m 0700 tessaly-0"));
    Ran r = run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")}, env);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(s.sticky + QStringLiteral("/tessaly-0")) &&
                r.err.contains(QStringLiteral("nobody")))
        << r.err.toStdString();
    EXPECT_EQ(stat_of(rootOnly).st_mode & 07777, 0755u);
    EXPECT_TRUE(no_fix_prot(sim));

    // A shared directory of nobody's with a planted record: never read.
    ASSERT_TRUE(QDir(s.sticky).removeRecursively());
    ::mkdir(QFile::encodeName(s.sticky).constData(), 01777);
    ::chmod(QFile::encodeName(s.sticky).constData(), 01777);
    plant(QStringLiteral("mkdir -m 0777 runtime-root tessaly-units && printf 'tessaly-unit "
                         "1\\ntag=planted\\nended=x\\n' > tessaly-units/p.unit"));
    r = run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")}, env);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("planted"))) << r.err.toStdString();
    const struct stat own = stat_of(s.sticky + QStringLiteral("/tessaly-0"));
    EXPECT_TRUE(S_ISDIR(own.st_mode) && own.st_uid == 0 && (own.st_mode & 07777) == 0700);
}

TEST(SharedMachine, AFifoOrALinkAtTheRunLockIsRefusedByNameAndHangsNothing) {
    if (!can_act_as_another_user())
        GTEST_SKIP() << "needs root and setpriv to act as a second account";
    SimHome sim;
    sim.add("a", "h1");
    SharedTmp s;
    QProcessEnvironment env = plain_env();
    env.insert(QStringLiteral("TESSALY_LOCK_DIR"), s.sticky);
    const QString lock = s.sticky + QStringLiteral("/run-0.lock");
    for (const QStringList& plant :
         {QStringList{QStringLiteral("mkfifo"), lock},
          QStringList{QStringLiteral("ln"), QStringLiteral("-s"), s.precious, lock}}) {
        ASSERT_EQ(as_nobody(plant), 0);
        const Ran r =
            run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")}, env, 10'000);
        EXPECT_EQ(r.status, 2) << plant.first().toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(lock) && !r.err.contains(QStringLiteral("under way")))
            << r.err.toStdString();
        EXPECT_TRUE(no_fix_prot(sim));
        EXPECT_EQ(contents(s.precious), QByteArray("root's own\n"));
        ASSERT_TRUE(QFile::remove(lock));
    }
    // With the planted file gone, the run takes its lock as before.
    EXPECT_EQ(run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")}, env).status, 0);
}

TEST(SharedMachine, ACleartoolThatNeverStopsWritingFailsItsViewOrTheListingAndNothingAborts) {
    SimHome sim;
    sim.add("a", "h1");
    sim.add("b", "h1");
    // A lookup without end: one line, or short lines. The view fails, the
    // others are repaired.
    for (const char* mode : {"line", "lines"}) {
        sim.home().setViewFault("a", "endless", mode);
        const Ran r = run_tessaly({QStringLiteral("--repair"), QStringLiteral("--all")});
        EXPECT_EQ(r.status, 1) << mode << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("cleartool wrote more than 64 MB")))
            << mode << ": " << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("b\trepaired"))) << r.out.toStdString();
    }
    sim.home().clearFaults();
    // The listing: an endless line is cut by its size, endless short lines
    // by the listing's own time limit.
    sim.home().setFault("endless", "line");
    Ran r = run_tessaly({QStringLiteral("--list")});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("cleartool wrote more than 1 MB in one line")))
        << r.err.toStdString();
    sim.home().setFault("endless", "lines");
    QProcessEnvironment env = plain_env();
    env.insert(QStringLiteral("TESSALY_LIST_TIMEOUT"), QStringLiteral("2"));
    r = run_tessaly({QStringLiteral("--list")}, env);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("longer than 2 s"))) << r.err.toStdString();
    EXPECT_LT(r.ms, 15'000);
}
