// SPDX-License-Identifier: Apache-2.0
#include "cc/cchome.h"
#include "homeenv.h"
#include "msgrecorder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tsy;
using test::HomeEnv;
using test::touch;

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
