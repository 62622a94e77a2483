// SPDX-License-Identifier: Apache-2.0
#include "app/install.h"
#include "cc/cchome.h"
#include "homeenv.h"
#include "msgrecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tsy;
using test::HomeEnv;
using test::touch;

TEST(InstallationDiscovery, NeedsARegularCleartoolBeneathTheHome) {
    HomeEnv env;
    test::MsgRecorder boxes;
    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/with blank/");
    QString cchome = QStringLiteral("stale");

    HomeEnv::set("CLEARCASEHOME", home);
    EXPECT_FALSE(is_clearcase_installed(cchome));
    EXPECT_TRUE(cchome.isEmpty());

    QDir().mkpath(home + QStringLiteral("/bin/cleartool")); // a directory is no marker
    EXPECT_FALSE(is_clearcase_installed(cchome));
    QDir(home + QStringLiteral("/bin/cleartool")).removeRecursively();

    touch(home + QStringLiteral("/bin/.cleartool"));
    EXPECT_FALSE(is_clearcase_installed(cchome));

    touch(home + QStringLiteral("/bin/cleartool"), QFile::ReadOwner);
    EXPECT_TRUE(is_clearcase_installed(cchome));
    EXPECT_EQ(cchome, home); // exactly as stored, the trailing slash too

    // Pattern characters are characters: such a home is found as itself,
    // and a pattern never finds another directory's cleartool.
    const QString odd = dir.path() + QStringLiteral("/cc[1]*\\home");
    touch(odd + QStringLiteral("/bin/cleartool"), QFile::ReadOwner);
    HomeEnv::set("CLEARCASEHOME", odd);
    EXPECT_TRUE(is_clearcase_installed(cchome));
    EXPECT_EQ(cchome, odd);
    HomeEnv::set("CLEARCASEHOME", dir.path() + QStringLiteral("/with*"));
    EXPECT_FALSE(is_clearcase_installed(cchome));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(InstallationDiscovery, ASearchThatFailsIsReportedWithTheSystemsText) {
    // Not "not installed": the check could not look.
    HomeEnv env;
    QTemporaryDir dir;
    const auto check = [](const QString& home) {
        test::MsgRecorder boxes;
        HomeEnv::set("CLEARCASEHOME", home);
        QString cchome = QStringLiteral("stale");
        EXPECT_FALSE(is_clearcase_installed(cchome));
        EXPECT_TRUE(cchome.isEmpty());
        EXPECT_EQ(boxes.boxes.size(), 1);
        return boxes.boxes.value(0);
    };
    // A home that links to itself.
    const QString loop = dir.path() + QStringLiteral("/loop");
    ASSERT_TRUE(QFile::link(loop, loop));
    const MsgRequest looped = check(loop);
    EXPECT_EQ(looped.text, QStringLiteral("Error determining file exist --> ") + loop +
                               QStringLiteral("/bin/cleartool::Too many levels of symbolic links"));
    EXPECT_EQ(looped.title, QStringLiteral("Tessaly"));
    EXPECT_EQ(looped.icon, MsgIcon::Critical);

    // A home whose directory may not be searched. Root searches any
    // directory, so as root the check runs in a child as the user nobody.
    const QString locked = dir.path() + QStringLiteral("/locked");
    touch(locked + QStringLiteral("/bin/cleartool"));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
    const QString expected = QStringLiteral("Error determining file exist --> ") + locked +
                             QStringLiteral("/bin/cleartool::Permission denied");
    if (::geteuid() != 0) {
        EXPECT_EQ(check(locked).text, expected);
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(out[0]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            QString text;
            {
                test::MsgRecorder boxes;
                HomeEnv::set("CLEARCASEHOME", locked);
                QString cchome;
                if (!is_clearcase_installed(cchome) && boxes.boxes.size() == 1)
                    text = boxes.boxes.first().text;
            }
            const QByteArray bytes = text.toUtf8();
            const bool written =
                ::write(out[1], bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
            ::_exit(written ? 0 : 4);
        }
        ::close(out[1]);
        QByteArray got;
        char buf[512];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
            got.append(buf, n);
        ::close(out[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(QString::fromUtf8(got), expected);
    }
    ::chmod(QFile::encodeName(locked).constData(), 0700);
}

TEST(InstallationDiscovery, TheHomeOrTheReasonComesWithWhereCleartoolWasLookedFor) {
    using Outcome = cc::ClearCaseHome::Outcome;
    HomeEnv env;
    test::MsgRecorder boxes;
    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/cc/");
    HomeEnv::set("CLEARCASEHOME", home);
    cc::ClearCaseHome h = cc::clearcase_home();
    EXPECT_EQ(h.outcome, Outcome::NoCleartool);
    EXPECT_FALSE(h.found());
    EXPECT_TRUE(h.path.isEmpty());
    EXPECT_EQ(h.cleartool, home + QStringLiteral("/bin/cleartool"));

    touch(home + QStringLiteral("/bin/cleartool"), QFile::ReadOwner);
    h = cc::clearcase_home();
    EXPECT_EQ(h.outcome, Outcome::Found);
    EXPECT_TRUE(h.found());
    EXPECT_EQ(h.path, home);
    EXPECT_TRUE(h.reason.isEmpty());

    const QString loop = dir.path() + QStringLiteral("/loop");
    ASSERT_TRUE(QFile::link(loop, loop));
    HomeEnv::set("CLEARCASEHOME", loop);
    h = cc::clearcase_home();
    EXPECT_EQ(h.outcome, Outcome::SearchFailed);
    EXPECT_TRUE(h.path.isEmpty());
    EXPECT_EQ(h.reason, QStringLiteral("Too many levels of symbolic links"));
    EXPECT_EQ(h.searchMessage, QStringLiteral("Error determining file exist --> ") + loop +
                                   QStringLiteral("/bin/cleartool::") + h.reason);
    // The core tells; only the faces show.
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
