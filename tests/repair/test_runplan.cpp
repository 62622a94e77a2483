// SPDX-License-Identifier: Apache-2.0
// Which view of a run starts next: list order within the caps of the run
// and of each storage host, and a host given up.
#include "repair/runplan.h"

#include <gtest/gtest.h>

using namespace tsy;

TEST(RunPlan, ThePlanTakesViewsInListOrderWithinTheCapsOfTheRunAndEachHost) {
    using tsy::repair::RunPlan;
    RunPlan plan({QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("B"),
                  QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")},
                 3, 2);
    EXPECT_EQ(plan.take(), 0);
    EXPECT_EQ(plan.take(), 1);
    EXPECT_EQ(plan.take(), 2);
    EXPECT_EQ(plan.take(), -1) << "three at work";
    plan.ended(0, false);
    EXPECT_EQ(plan.take(), 3);
    plan.ended(2, false);
    EXPECT_EQ(plan.take(), 4);
    plan.ended(1, true);
    plan.ended(3, true);
    EXPECT_TRUE(plan.takeGivenUp().isEmpty()) << "A has nothing left to give up";
    EXPECT_EQ(plan.take(), 5);
    EXPECT_EQ(plan.waiting(), 0);

    RunPlan lost(
        {QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("B")}, 1, 1);
    EXPECT_EQ(lost.take(), 0);
    lost.ended(0, true);
    EXPECT_EQ(lost.take(), 1);
    lost.ended(1, true);
    EXPECT_EQ(lost.takeGivenUp(), QList<int>{2});
    EXPECT_EQ(lost.take(), 3);
    lost.close();
    lost.ended(3, false);
    EXPECT_EQ(lost.take(), -1);
}
