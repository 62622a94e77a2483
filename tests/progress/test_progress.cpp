// SPDX-License-Identifier: Apache-2.0
#include "progress/frmprogress.h"

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;

TEST(ProgressWindow, IsMadeOnFirstUseWithItsDesign) {
    ProgressWindow progress;
    EXPECT_EQ(progress.window(), nullptr);
    progress.stop_progress();
    ASSERT_NE(progress.window(), nullptr);
    frmProgress& p = *progress.window();
    EXPECT_FALSE(p.isVisible());
    EXPECT_EQ(p.progressBar->value(), 0);
    EXPECT_FALSE(p.progressTimer->isActive());
    EXPECT_EQ(p.windowTitle(), QStringLiteral("Working...please wait..."));
    EXPECT_EQ(p.size(), QSize(373, 92));
    EXPECT_EQ(p.progressBar->minimum(), 0);
    EXPECT_EQ(p.progressBar->maximum(), 100);
    EXPECT_EQ(p.progressLbl->text(), QStringLiteral("Working..."));
}

TEST(ProgressWindow, MessagesFollowTheirRules) {
    ProgressWindow progress;
    progress.start_progress(QString());
    ASSERT_NE(progress.window(), nullptr);
    frmProgress& p = *progress.window();
    EXPECT_EQ(p.progressLbl->text(), QStringLiteral("Working..."));
    EXPECT_TRUE(p.isVisible());
    EXPECT_TRUE(p.progressTimer->isActive());
    EXPECT_EQ(p.progressTimer->interval(), 10);
    progress.set_msg(QStringLiteral("Loading --> a"));
    progress.stop_progress();
    EXPECT_EQ(p.progressTimer->interval(), 0);
    progress.start_progress(QString());
    EXPECT_EQ(p.progressLbl->text(), QStringLiteral("Loading --> a"));
    progress.set_msg(QString());
    EXPECT_TRUE(p.message().isEmpty());
    EXPECT_TRUE(p.isVisible());
    // The label catches up within a few ticks.
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.progressLbl->text().isEmpty(); }, 1000));
}

TEST(ProgressWindow, ARushOfMessagesRepaintsAtAMeasuredPace) {
    ProgressWindow progress;
    progress.start_progress(QStringLiteral("Loading all views..."));
    ASSERT_NE(progress.window(), nullptr);
    frmProgress& p = *progress.window();
    for (int i = 0; i < 1000; ++i)
        progress.set_msg(QStringLiteral("Loading --> v%1").arg(i));
    EXPECT_EQ(p.message(), QStringLiteral("Loading --> v999"));
    EXPECT_NE(p.progressLbl->text(), QStringLiteral("Loading --> v999"));
    progress.stop_progress();
    EXPECT_EQ(p.progressLbl->text(), QStringLiteral("Loading --> v999"));
}

TEST(ProgressWindow, TheCounterCyclesAndSurvivesAStop) {
    frmProgress p;
    for (int i = 0; i < 99; ++i)
        p.progressTimer_Timer();
    EXPECT_EQ(p.progressBar->value(), 99);
    p.progressTimer_Timer();
    EXPECT_EQ(p.progressBar->value(), 0);
    for (int i = 0; i < 57; ++i)
        p.progressTimer_Timer();
    p.stop_progress();
    EXPECT_EQ(p.progressBar->value(), 0);
    EXPECT_EQ(p.counter(), 57);
    p.start_progress(QStringLiteral("again"));
    p.start_progress(QStringLiteral("again"));
    EXPECT_EQ(p.counter(), 57);
    p.progressTimer_Timer();
    EXPECT_EQ(p.progressBar->value(), 58);
}

TEST(ProgressWindow, AShownBarMovesAtOnceThenInStepsWhateverTheTicksTiming) {
    frmProgress p;
    for (int i = 0; i < 33; ++i)
        p.progressTimer_Timer();
    p.start_progress(QStringLiteral("Executing..."));
    p.progressTimer_Timer(); // the first tick of a use shows the counter
    EXPECT_EQ(p.progressBar->value(), 34);
    QList<int> shown;
    for (int i = 0; i < 100; ++i) {
        p.progressTimer_Timer();
        if (shown.isEmpty() || shown.last() != p.progressBar->value())
            shown.append(p.progressBar->value());
    }
    EXPECT_EQ(p.counter(), 34);
    EXPECT_EQ(shown, (QList<int>{34, 40, 50, 60, 70, 80, 90, 0, 10, 20, 30}));
    p.stop_progress();
    EXPECT_EQ(p.progressBar->value(), 0);
    p.start_progress(QString());
    p.progressTimer_Timer();
    EXPECT_EQ(p.progressBar->value(), 35);
    p.stop_progress();
}

TEST(ProgressWindow, TheTimerMovesTheBarWhileEventsAreProcessed) {
    ProgressWindow progress;
    progress.start_progress(QStringLiteral("Executing..."));
    ASSERT_NE(progress.window(), nullptr);
    frmProgress& p = *progress.window();
    const int before = p.counter();
    QTest::qWait(200);
    EXPECT_GT(p.counter(), before + 3);
    progress.stop_progress();
    const int stopped = p.counter();
    QTest::qWait(50);
    EXPECT_EQ(p.counter(), stopped);
}

TEST(ProgressWindow, TheBarLooksAsAPlainProgressBarAtEachStep) {
    // The bar reuses its pictures of earlier values: each must be exactly
    // what the style draws, on a first showing and from the cache alike.
    ProgressWindow progress;
    progress.start_progress(QStringLiteral("Executing..."));
    ASSERT_NE(progress.window(), nullptr);
    frmProgress& p = *progress.window();
    QProgressBar plain;
    plain.setTextVisible(false);
    plain.setRange(0, 100);
    plain.setFixedSize(p.progressBar->size());
    const auto pixels = [](QWidget* w) {
        return w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    };
    for (int v : {0, 1, 37, 99, 37, 0}) {
        p.progressBar->setValue(v);
        plain.setValue(v);
        EXPECT_EQ(pixels(p.progressBar), pixels(&plain)) << "value " << v;
    }
    p.progressBar->setEnabled(false);
    plain.setEnabled(false);
    EXPECT_EQ(pixels(p.progressBar), pixels(&plain)) << "disabled";
    progress.stop_progress();
}
