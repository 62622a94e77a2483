// SPDX-License-Identifier: Apache-2.0
#include "app/about.h"
#include "app/frmmain.h"
#include "app/mainmodule.h"
#include "fakecc.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "progress/frmprogress.h"
#include "temphome.h"
#include "ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLockFile>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
QRect tw(int l, int t, int w, int h) {
    return QRect(l / 15, t / 15, w / 15, h / 15);
}
} // namespace

TEST(MainWindow, ControlsStartWhereAndAsDesigned) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tessaly (TSY) - www.orvane.example"));
    EXPECT_EQ(w.size(), QSize(645, 469));
    struct Expect {
        QWidget* c;
        QRect r;
        QWidget* parent;
    };
    const Expect table[] = {
        {ui(w).orvaneLogo, tw(240, 120, 9255, 630), &w},
        {ui(w).mainFrame, tw(240, 960, 9255, 5415), &w},
        {ui(w).aboutBut, tw(3600, 6480, 1095, 495), &w},
        {ui(w).cancelBut, tw(4920, 6480, 1215, 495), &w},
        {ui(w).loadViewsBut, tw(240, 240, 1215, 255), ui(w).mainFrame},
        {ui(w).viewsFoundLbl, tw(1680, 240, 2535, 255), ui(w).mainFrame},
        {ui(w).viewsList, tw(240, 480, 6495, 3660), ui(w).mainFrame},
        {ui(w).selectAllBut, tw(240, 4200, 975, 255), ui(w).mainFrame},
        {ui(w).clearAllBut, tw(1320, 4200, 975, 255), ui(w).mainFrame},
        {ui(w).caseInsensitiveCB, tw(4680, 4320, 1935, 255), ui(w).mainFrame},
        {ui(w).selectAllByPatternCB, tw(480, 4560, 1335, 255), ui(w).mainFrame},
        {ui(w).selectAllByPatternTxt, tw(1800, 4560, 2655, 285), ui(w).mainFrame},
        {ui(w).selectItemsFoundCB, tw(4680, 4560, 2055, 495), ui(w).mainFrame},
        {ui(w).filterActionCombo, tw(240, 4920, 1335, 315), ui(w).mainFrame},
        {ui(w).filterBut, tw(1680, 4920, 855, 255), ui(w).mainFrame},
        {ui(w).filterPatternTxt, tw(2520, 4920, 1935, 285), ui(w).mainFrame},
        {ui(w).runModeLbl, tw(6840, 480, 1575, 255), ui(w).mainFrame},
        {ui(w).runModeCombo, tw(6840, 720, 2295, 315), ui(w).mainFrame},
        {ui(w).actionLbl, tw(6840, 1320, 1575, 255), ui(w).mainFrame},
        {ui(w).actionCombo, tw(6840, 1560, 2295, 315), ui(w).mainFrame},
        {ui(w).actionArgsTxt, tw(6840, 1920, 2295, 285), ui(w).mainFrame},
        {ui(w).executeFixProtBut, tw(7920, 2280, 1215, 735), ui(w).mainFrame},
        {ui(w).Image1, tw(6960, 3480, 1890, 1410), ui(w).mainFrame},
    };
    for (const Expect& e : table) {
        EXPECT_EQ(e.c->geometry(), e.r) << e.c->objectName().toStdString();
        EXPECT_EQ(e.c->parentWidget(), e.parent) << e.c->objectName().toStdString();
    }
    EXPECT_EQ(ui(w).orvaneLogo->pixmap().deviceIndependentSize().toSize(), QSize(615, 40));
    EXPECT_EQ(ui(w).Image1->pixmap().deviceIndependentSize().toSize(), QSize(126, 94));
    EXPECT_EQ(ui(w).orvaneLogo->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(ui(w).orvaneLogo->toolTip(), QStringLiteral("https://www.orvane.example/"));
    EXPECT_EQ(ui(w).cancelBut->text(), QStringLiteral("Exit"));
    EXPECT_EQ(ui(w).cancelBut->toolTip(), QStringLiteral("Exit application"));
    EXPECT_EQ(ui(w).filterBut->text(), QStringLiteral("Filter -->"));
    EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("found"));
    EXPECT_EQ(ui(w).selectItemsFoundCB->text(), QStringLiteral("Select Items Matching Pattern"));
    EXPECT_EQ(ui(w).filterActionCombo->currentText(), QStringLiteral("Combo1"));
    EXPECT_EQ(ui(w).filterActionCombo->count(), 0);
    EXPECT_EQ(ui(w).selectAllByPatternTxt->text(), QStringLiteral("<pattern>"));
    EXPECT_EQ(ui(w).filterPatternTxt->text(), QStringLiteral("<pattern>"));
    EXPECT_TRUE(ui(w).caseInsensitiveCB->isChecked());
    EXPECT_FALSE(ui(w).selectAllByPatternCB->isChecked());
    EXPECT_FALSE(ui(w).selectItemsFoundCB->isChecked());
    for (QWidget* off :
         {static_cast<QWidget*>(ui(w).selectAllBut), static_cast<QWidget*>(ui(w).clearAllBut),
          static_cast<QWidget*>(ui(w).selectAllByPatternCB),
          static_cast<QWidget*>(ui(w).selectAllByPatternTxt),
          static_cast<QWidget*>(ui(w).filterActionCombo), static_cast<QWidget*>(ui(w).filterBut),
          static_cast<QWidget*>(ui(w).filterPatternTxt)})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    for (QWidget* on :
         {static_cast<QWidget*>(ui(w).loadViewsBut), static_cast<QWidget*>(ui(w).viewsList),
          static_cast<QWidget*>(ui(w).executeFixProtBut),
          static_cast<QWidget*>(ui(w).caseInsensitiveCB),
          static_cast<QWidget*>(ui(w).selectItemsFoundCB)})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
}

TEST(MainWindow, LoadingFillsTheTwoBoxesAndTheRunState) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    EXPECT_EQ(ui(w).actionCombo->count(), 1);
    EXPECT_EQ(ui(w).actionCombo->currentText(), QStringLiteral("fix_prot"));
    EXPECT_EQ(ui(w).actionArgsTxt->text(), QStringLiteral(" -force -root -recover -recurse "));
    ASSERT_EQ(ui(w).runModeCombo->count(), 3);
    EXPECT_EQ(ui(w).runModeCombo->itemText(0), QStringLiteral("Normal"));
    EXPECT_EQ(ui(w).runModeCombo->itemText(1), QStringLiteral("Hide"));
    EXPECT_EQ(ui(w).runModeCombo->itemText(2), QStringLiteral("Minimized"));
    EXPECT_EQ(ui(w).runModeCombo->currentText(), QStringLiteral("Normal"));
    EXPECT_EQ(w.GRunMode, 1);
    EXPECT_EQ(w.CCHOME, f.home.path());
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(MainWindow, TabOrderFollowsTheDesignAndExitHasTheFocus) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), ui(w).cancelBut);
    // Enable everything so that the whole chain can be walked.
    for (QWidget* c : w.findChildren<QWidget*>())
        c->setEnabled(true);
    const QList<QWidget*> expected = designed_tab_order(w);
    QWidget* at = ui(w).cancelBut;
    for (qsizetype i = 1; i < expected.size(); ++i) {
        at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus || !at->isVisibleTo(&w) ||
               at->focusProxy() != nullptr)
            at = at->nextInFocusChain();
        EXPECT_EQ(at, expected.at(i)) << "after " << expected.at(i - 1)->objectName().toStdString();
    }
}

TEST(MainWindow, BusyCallsDoNotNest) {
    MsgRecorder boxes;
    FakeWindow f;
    f.w->busy(true);
    EXPECT_EQ(f.w->cursor().shape(), Qt::WaitCursor);
    f.w->busy(true);
    f.w->busy(false);
    EXPECT_EQ(f.w->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindow, ClosingClosesTheProgressWindowToo) {
    MsgRecorder boxes;
    FakeWindow f;
    f.w->show();
    f.w->progress().start_progress(QStringLiteral("Executing..."));
    ASSERT_TRUE(progress_shown(*f.w));
    QTest::mouseClick(ui(*f.w).cancelBut, Qt::LeftButton);
    EXPECT_FALSE(f.w->isVisible());
    EXPECT_EQ(progress_of(*f.w), nullptr);
    EXPECT_TRUE(f.w->unloading());
    // Nothing makes it again while the program ends.
    f.w->progress().stop_progress();
    f.w->progress().start_progress(QStringLiteral("Executing..."));
    EXPECT_EQ(progress_of(*f.w), nullptr);
}

TEST(StartUp, WithoutClearCaseOnlyTheBoxIsShown) {
    MsgRecorder boxes;
    TempHome home;
    home.use(home.path() + QStringLiteral("/nowhere"));
    SingleInstance instance;
    auto backend = std::make_shared<FakeBackend>();
    EXPECT_EQ(main_module(instance, backend), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, QStringLiteral("ClearCase is not installed on system!"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("ClearCase Not installed!"));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Critical);
    for (QWidget* t : QApplication::topLevelWidgets())
        EXPECT_FALSE(t->isVisible()) << t->objectName().toStdString();
}

TEST(StartUp, ASecondCopyIsRefusedAndAStaleLockTakenOver) {
    MsgRecorder boxes;
    TempHome home;
    auto backend = std::make_shared<FakeBackend>();
    {
        SingleInstance first;
        std::unique_ptr<frmMain> w = main_module(first, backend);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        SingleInstance second;
        EXPECT_EQ(main_module(second, backend), nullptr);
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.last().text, QStringLiteral("Tessaly Already running..."));
        EXPECT_EQ(boxes.last().title, QStringLiteral("Tessaly"));
        EXPECT_EQ(boxes.last().icon, MsgIcon::Warning);
        int shown = 0;
        for (QWidget* t : QApplication::topLevelWidgets())
            shown += qobject_cast<frmMain*>(t) && t->isVisible();
        EXPECT_EQ(shown, 1);
        w->close();
    }
    // A lock file left by a copy that died: its process no longer exists.
    {
        QFile stale(SingleInstance::lockPath());
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("999999999\ntessaly\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }
    SingleInstance again;
    EXPECT_TRUE(again.acquire());
}

TEST(About, TheNoticeHasItsFixedShape) {
    const QString t = about_text();
    EXPECT_TRUE(t.endsWith(QStringLiteral("Email all bugs to: support@orvane.example (Tessaly is "
                                          "licensed under the Apache License, Version 2.0)\r\n")));
    EXPECT_EQ(t.count(QStringLiteral("\r\n\r\n")), 2); // exactly two empty lines
    EXPECT_FALSE(t.contains(QStringLiteral("\r\n\r\n\r\n")));
    for (const char* end : {"implied.  ", "software.  ", "laws.  "})
        EXPECT_EQ(t.count(QString::fromLatin1(end)), 1) << end;
    EXPECT_EQ(t.count(u'\n'), t.count(QStringLiteral("\r\n")));
    MsgRecorder boxes;
    show_about();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("About TSY"));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.last().text, t);
}
