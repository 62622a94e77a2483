#include "progress/frmprogress.h"

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;

namespace {
struct FreshProgress {
    FreshProgress() {
        allow_progress_window();
        close_progress_window();
    }
    ~FreshProgress() { close_progress_window(); }
};
} // namespace

TEST(ProgressWindow, IsMadeOnFirstUseWithItsDesign) {
    FreshProgress fresh;
    EXPECT_FALSE(progress_window_exists());
    stop_progress();
    ASSERT_TRUE(progress_window_exists());
    frmProgress& p = progress_window();
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
    FreshProgress fresh;
    start_progress(QString());
    EXPECT_EQ(progress_window().progressLbl->text(), QStringLiteral("Working..."));
    EXPECT_TRUE(progress_window().isVisible());
    EXPECT_TRUE(progress_window().progressTimer->isActive());
    EXPECT_EQ(progress_window().progressTimer->interval(), 10);
    set_msg(QStringLiteral("Loading --> a"));
    stop_progress();
    EXPECT_EQ(progress_window().progressTimer->interval(), 0);
    start_progress(QString());
    EXPECT_EQ(progress_window().progressLbl->text(), QStringLiteral("Loading --> a"));
    set_msg(QString());
    EXPECT_TRUE(progress_window().message().isEmpty());
    EXPECT_TRUE(progress_window().isVisible());
    // The label catches up within a few ticks.
    EXPECT_TRUE(
        QTest::qWaitFor([] { return progress_window().progressLbl->text().isEmpty(); }, 1000));
}

TEST(ProgressWindow, ARushOfMessagesRepaintsAtAMeasuredPace) {
    FreshProgress fresh;
    start_progress(QStringLiteral("Loading all views..."));
    for (int i = 0; i < 1000; ++i)
        set_msg(QStringLiteral("Loading --> v%1").arg(i));
    EXPECT_EQ(progress_window().message(), QStringLiteral("Loading --> v999"));
    EXPECT_NE(progress_window().progressLbl->text(), QStringLiteral("Loading --> v999"));
    stop_progress();
    EXPECT_EQ(progress_window().progressLbl->text(), QStringLiteral("Loading --> v999"));
}

TEST(ProgressWindow, TheCounterCyclesAndSurvivesAStop) {
    FreshProgress fresh;
    frmProgress& p = progress_window();
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

TEST(ProgressWindow, TheTimerMovesTheBarWhileEventsAreProcessed) {
    FreshProgress fresh;
    start_progress(QStringLiteral("Executing..."));
    const int before = progress_window().counter();
    QTest::qWait(200);
    EXPECT_GT(progress_window().counter(), before + 3);
    stop_progress();
    const int stopped = progress_window().counter();
    QTest::qWait(50);
    EXPECT_EQ(progress_window().counter(), stopped);
}

TEST(ProgressWindow, TheBarLooksAsAPlainProgressBarAtEachStep) {
    // The bar reuses its pictures of earlier values: each must be exactly
    // what the style draws, on a first showing and from the cache alike.
    FreshProgress fresh;
    frmProgress& p = progress_window();
    start_progress(QStringLiteral("Executing..."));
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
    stop_progress();
}
