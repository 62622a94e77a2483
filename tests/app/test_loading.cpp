// SPDX-License-Identifier: Apache-2.0
#include "app/frmmain.h"
#include "app/viewdetails.h"
#include "app/viewloading.h"
#include "cc/session.h"
#include "fakecc.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "progress/frmprogress.h"
#include "temphome.h"
#include "ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QToolTip>
#include <QWindow>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
FakeView fv(const char* tag, const char* host) {
    FakeView v;
    v.tag = QString::fromUtf8(tag);
    v.host = QString::fromUtf8(host);
    return v;
}

QStringList lines(frmMain& w) {
    QStringList out;
    for (int i = 0; i < ui(w).viewsModel->count(); ++i)
        out.append(ui(w).viewsModel->text(i));
    return out;
}

bool selection_controls_enabled(frmMain& w) {
    return ui(w).selectAllBut->isEnabled() && ui(w).clearAllBut->isEnabled() &&
           ui(w).filterActionCombo->isEnabled() && ui(w).filterPatternTxt->isEnabled();
}
} // namespace

TEST(LoadViews, NoViewsLeavesAnEmptyListAndDisablesTheControls) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    ui(w).filterPatternTxt->setEnabled(true);
    ui(w).filterPatternTxt->setText(QStringLiteral("x")); // would enable the filter button
    w.loadViewsBut_Click();
    settle(w);
    EXPECT_EQ(ui(w).viewsModel->count(), 0);
    EXPECT_EQ(w.currentRow(), -1);
    EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("Found: 0 views"));
    for (QWidget* c :
         {static_cast<QWidget*>(ui(w).selectAllBut), static_cast<QWidget*>(ui(w).clearAllBut),
          static_cast<QWidget*>(ui(w).filterActionCombo), static_cast<QWidget*>(ui(w).filterBut),
          static_cast<QWidget*>(ui(w).filterPatternTxt)})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(ui(w).viewsList->isVisibleTo(&w));
    EXPECT_TRUE(ui(w).loadViewsBut->isEnabled());
    EXPECT_TRUE(ui(w).executeFixProtBut->isEnabled());
}

TEST(LoadViews, FillsASortedListWithoutCaseDuplicates) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = {fv("beta", "h1"), fv("Alpha", "HostA"), fv("ALPHA", "hosta"),
                                fv("alpha", "hostB"), fv("gamma", "h1")};
    YieldWatcher yields;
    QStringList messages;
    yields.onYield = [&](int) {
        messages.append(progress_message(w));
    };
    w.loadViewsBut_Click();
    settle(w);
    EXPECT_EQ(lines(w), (QStringList{QStringLiteral("Alpha:HostA"), QStringLiteral("alpha:hostB"),
                                     QStringLiteral("beta:h1"), QStringLiteral("gamma:h1")}));
    EXPECT_EQ(w.currentRow(), 0);
    EXPECT_FALSE(ui(w).viewsModel->isChecked(0)); // current is not checked
    EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("Found: 4 views"));
    EXPECT_TRUE(selection_controls_enabled(w));
    EXPECT_TRUE(ui(w).selectAllByPatternCB->isEnabled());
    EXPECT_TRUE(ui(w).selectAllByPatternTxt->isEnabled());
    EXPECT_FALSE(ui(w).filterBut->isEnabled()); // follows its pattern, which is untouched
    // One yield before the views and one per view; the message names the
    // view loaded before it.
    EXPECT_EQ(yields.count, 6);
    EXPECT_EQ(messages.first(), QStringLiteral("Loading all views..."));
    EXPECT_EQ(messages.at(2), QStringLiteral("Loading --> beta"));
    EXPECT_FALSE(progress_shown(w));
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(LoadViews, WhileLoadingLoadExecuteAndFilterAreRefused) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = {fv("a", "h"), fv("b", "h")};
    w.Form_Activate();
    ui(w).filterPatternTxt->setEnabled(true);
    ui(w).filterPatternTxt->setText(QStringLiteral("a"));
    ASSERT_TRUE(ui(w).filterBut->isEnabled());
    YieldWatcher yields;
    bool hiddenWhileFilling = false;
    int refused = 0;
    yields.onYield = [&](int) {
        refused += !ui(w).loadViewsBut->isEnabled() && !ui(w).executeFixProtBut->isEnabled() &&
                   !ui(w).filterBut->isEnabled();
        hiddenWhileFilling |= !ui(w).viewsList->isVisibleTo(&w);
        // Editing the pattern mid-load must not re-enable the button.
        ui(w).filterPatternTxt->setText(QStringLiteral("b"));
        ui(w).loadViewsBut->click(); // ignored
    };
    w.loadViewsBut_Click();
    settle(w);
    EXPECT_EQ(refused, yields.count);
    EXPECT_GT(yields.count, 0);
    EXPECT_TRUE(hiddenWhileFilling);
    EXPECT_EQ(f.backend->state().collectionsMade, 1);
    EXPECT_TRUE(ui(w).loadViewsBut->isEnabled());
    EXPECT_TRUE(ui(w).executeFixProtBut->isEnabled());
    EXPECT_TRUE(ui(w).filterBut->isEnabled());
}

TEST(LoadViews, AReloadDropsMarksAndBringsFilteredLinesBack) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = {fv("a", "h"), fv("b", "h"), fv("c", "h")};
    w.loadViewsBut_Click();
    settle(w);
    const QStringList once = lines(w);
    ui(w).viewsModel->setChecked(0, true);
    ui(w).viewsModel->removeWhere([](const QString& l) { return l.startsWith(u'b'); });
    ASSERT_EQ(ui(w).viewsModel->count(), 2);
    w.loadViewsBut_Click();
    settle(w);
    EXPECT_EQ(lines(w), once);
    EXPECT_EQ(checked_count(*ui(w).viewsModel), 0);
    // The application object is made once and kept.
    EXPECT_EQ(f.backend->state().applicationsMade, 1);
}

TEST(LoadViews, UnreadableViewsAreReportedWhereverTheyAre) {
    for (const int bad : {0, 2}) { // the first view, then the last
        MsgRecorder boxes;
        FakeWindow f;
        frmMain& w = *f.w;
        f.backend->state().views = {fv("a", "h"), fv("b", "h"), fv("c", "h")};
        f.backend->state().views[bad].failHost = true;
        f.backend->state().views[bad].failure =
            QStringLiteral("Unable to contact albd_server on host 'h'");
        int countWhenShown = -1;
        boxes.onBox = [&](const MsgRequest&) {
            countWhenShown = ui(w).viewsModel->count();
            EXPECT_TRUE(ui(w).viewsList->isVisibleTo(&w));
            EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("Found: 2 views"));
        };
        w.loadViewsBut_Click();
        settle(w);
        ASSERT_EQ(boxes.boxes.size(), 1) << "bad view " << bad;
        EXPECT_EQ(boxes.last().text,
                  QStringLiteral("ClearTool returned error: Unable to contact albd_server on host "
                                 "'h'\r\n1 of 3 views could not be read and are not listed."));
        EXPECT_EQ(boxes.last().title, QStringLiteral("Tessaly"));
        EXPECT_EQ(boxes.last().icon, MsgIcon::None);
        EXPECT_EQ(countWhenShown, 2);
    }
}

TEST(LoadViews, AFailureBeforeTheEnumerationIsReportedAndCleanedUp) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().failCollection = true;
    w.loadViewsBut_Click();
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(
        boxes.last().text,
        QStringLiteral("ClearTool returned error: cleartool: Error: Unable to get the view list"));
    EXPECT_TRUE(ui(w).viewsList->isVisibleTo(&w));
    EXPECT_FALSE(progress_shown(w));
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(ui(w).loadViewsBut->isEnabled());
    EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("Found: 0 views"));
}

TEST(LoadViews, AFailureMovingToTheNextViewEndsTheEnumeration) {
    MsgRecorder boxes;
    FakeWindow f;
    f.backend->state().views = {fv("a", "h"), fv("b", "h"), fv("c", "h"), fv("d", "h")};
    f.backend->state().failItemAt = 3;
    f.w->loadViewsBut_Click();
    settle(*f.w);
    EXPECT_EQ(lines(*f.w), (QStringList{QStringLiteral("a:h"), QStringLiteral("b:h")}));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.last().text.endsWith(
        QStringLiteral("2 of 4 views could not be read and are not listed.")));
}

TEST(LoadViews, TheReportComesBeforeThePointerIsRestoredAndTheControlsEnabled) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    FakeView lost = fv("b", "h");
    lost.failHost = true;
    f.backend->state().views = {fv("a", "h"), lost};
    w.show();
    Qt::CursorShape pointer = Qt::ArrowCursor;
    bool loadEnabled = true;
    bool selectEnabled = true;
    bool listShown = false;
    QString count;
    boxes.onBox = [&](const MsgRequest&) {
        pointer = w.cursor().shape();
        loadEnabled = ui(w).loadViewsBut->isEnabled();
        selectEnabled = ui(w).selectAllBut->isEnabled();
        listShown = ui(w).viewsList->isVisibleTo(&w);
        count = ui(w).viewsFoundLbl->text();
    };
    QTest::mouseClick(ui(w).loadViewsBut, Qt::LeftButton);
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(listShown);
    EXPECT_EQ(count, QStringLiteral("Found: 1 views"));
    EXPECT_EQ(pointer, Qt::WaitCursor);
    EXPECT_FALSE(loadEnabled);
    EXPECT_FALSE(selectEnabled);
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(ui(w).loadViewsBut->isEnabled());
    EXPECT_TRUE(ui(w).selectAllBut->isEnabled());
}

TEST(LoadViews, EscOrTheCloseBoxMidLoadAsksAndYesKeepsTheViewsReadSoFar) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = make_fake_views(60);
    w.show();
    boxes.answers = {MsgAnswer::No, MsgAnswer::Yes};
    YieldWatcher yields;
    int listedAtYes = -1;
    // One yield before the listing, then one after each view is added.
    yields.onYield = [&](int n) {
        if (n == 11) {
            ASSERT_TRUE(progress_shown(w));
            QTest::keyClick(progress_of(w), Qt::Key_Escape); // No: it goes on
        } else if (n == 21) {
            listedAtYes = ui(w).viewsModel->count();
            ASSERT_TRUE(progress_shown(w));
            // The close box: the window system asks the native window to close.
            QCloseEvent closeBox;
            QCoreApplication::sendEvent(progress_of(w)->windowHandle(), &closeBox);
        }
    };
    QTest::mouseClick(ui(w).loadViewsBut, Qt::LeftButton);
    settle(w);
    spin(100); // nothing more arrives
    ASSERT_EQ(listedAtYes, 20);
    ASSERT_EQ(boxes.boxes.size(), 3) << boxes.texts().join(u'\n').toStdString();
    for (int i : {0, 1}) {
        EXPECT_EQ(boxes.boxes[i].text, QStringLiteral("Stop loading?"));
        EXPECT_EQ(boxes.boxes[i].buttons, MsgButtons::YesNo);
    }
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("The list is incomplete: loading was stopped after 20 views."));
    EXPECT_EQ(ui(w).viewsModel->count(), 20);
    EXPECT_EQ(ui(w).viewsFoundLbl->text(), QStringLiteral("Found: 20 views"));
    EXPECT_FALSE(progress_shown(w));
    EXPECT_TRUE(ui(w).viewsList->isVisibleTo(&w));
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(ui(w).loadViewsBut->isEnabled());
    EXPECT_TRUE(ui(w).selectAllBut->isEnabled());
}

TEST(ViewDetails, ReportsTheCurrentLinesViewExactly) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    FakeView d = fv("devview", "hostA");
    d.active = true;
    d.ucm = true;
    d.configSpec = QStringLiteral("element * CHECKEDOUT\nelement * /main/LATEST\n");
    FakeView e = fv("empty", "hostB");
    e.snapshot = true;
    f.backend->state().views = {d, e};
    w.loadViewsBut_Click();
    settle(w);
    w.setCurrentRow(0);
    w.viewsList_DblClick();
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Vistrel: Detail for view 'devview'"));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("* * * * * *\r\n\r\nIs Active: True\r\nIs Snapshot: False\r\n"
                             "Is UCM View: True\r\nView Server Host: hostA\r\n\r\n"
                             "--------------------CONFIG SPEC----------------------------- \r\n"
                             "element * CHECKEDOUT\nelement * /main/LATEST\n"));
    EXPECT_EQ(ui(w).viewsList->toolTip(), QStringLiteral("devview"));
    w.setCurrentRow(1);
    w.viewsList_DblClick();
    settle(w);
    EXPECT_TRUE(boxes.last().text.endsWith(
        QStringLiteral("Is Snapshot: True\r\nIs UCM View: False\r\nView Server Host: hostB\r\n\r\n"
                       "--------------------CONFIG SPEC----------------------------- \r\n")));
}

TEST(ViewDetails, AFailureShowsItsBoxAndKeepsTheToolTip) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    FakeView d = fv("down", "h");
    d.failActive = true;
    f.backend->state().views = {d, fv("gone", "h")};
    w.loadViewsBut_Click();
    settle(w);
    w.setCurrentRow(0);
    w.viewsList_DblClick();
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Failed to get information on view --> down"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Error Encountered..."));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Critical);
    EXPECT_EQ(ui(w).viewsList->toolTip(), QStringLiteral("down"));
    // A view the library no longer knows fails before the tool tip is set.
    f.backend->state().views.removeLast();
    w.setCurrentRow(1);
    w.viewsList_DblClick();
    settle(w);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Failed to get information on view --> gone"));
    EXPECT_EQ(ui(w).viewsList->toolTip(), QStringLiteral("down"));
}

TEST(ViewDetails, TheListsToolTipShowsOverEveryLineThatIsNotCutShort) {
    // The tag of the view last reported on is the list's tool tip; only a
    // line wider than the list shows its own whole text instead.
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    const QString longTag = QString(150, u'w');
    FakeView wide;
    wide.tag = longTag;
    wide.host = QStringLiteral("far_host");
    f.backend->state().views = {fv("devview", "hostA"), wide};
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.loadViewsBut_Click();
    settle(w);
    QListView* list = ui(w).viewsList;
    const QRect shortLine = list->visualRect(ui(w).viewsModel->index(0));
    const QRect longLine = list->visualRect(ui(w).viewsModel->index(1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, shortLine.center());
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    ASSERT_EQ(list->toolTip(), QStringLiteral("devview"));

    const auto tipAt = [&](QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(shortLine.center()), QStringLiteral("devview"));
    EXPECT_EQ(tipAt(longLine.center()), longTag + QStringLiteral(":far_host"));
    EXPECT_EQ(tipAt(QPoint(shortLine.center().x(), longLine.bottom() + 20)),
              QStringLiteral("devview"));
    QToolTip::hideText();
}

TEST(ViewDetails, ADoubleClickOnAnEmptyListDoesNothing) {
    MsgRecorder boxes;
    FakeWindow f;
    f.w->show();
    QTest::mouseDClick(ui(*f.w).viewsList->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(f.backend->state().applicationsMade, 0);
}

TEST(ViewDetails, TheReportIsOnTheListedViewsOwnTagWhereverTheLinesColonsAre) {
    // "a:b" on host h shows as "a:b:h", as the view "a" on host "b:h"
    // would: a cut of the line at either colon names the wrong view.
    MsgRecorder boxes;
    FakeWindow f;
    f.backend->state().views = {fv("dev:view", "hostA"), fv("devview", "hostB:extra")};
    f.w->loadViewsBut_Click();
    settle(*f.w);
    for (int row : {0, 1}) {
        f.w->setCurrentRow(row);
        f.w->viewsList_DblClick();
        settle(*f.w);
    }
    ASSERT_EQ(boxes.boxes.size(), 2) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Vistrel: Detail for view 'dev:view'"));
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("View Server Host: hostA\r\n")));
    EXPECT_EQ(boxes.boxes[1].title, QStringLiteral("Vistrel: Detail for view 'devview'"));
}

TEST(ViewDetails, AClickOnALinesBoxMakesItCurrentAndBelowTheLinesNone) {
    // The report is on the line the pointer was on, even when it was its
    // check box that took the clicks; below the last line no line is
    // current, and a double-click there reports nothing.
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = {fv("v1", "h"), fv("v2", "h"), fv("v3", "h")};
    w.loadViewsBut_Click();
    settle(w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QListView* list = ui(w).viewsList;
    w.setCurrentRow(0);
    const QModelIndex third = ui(w).viewsModel->index(2);
    QStyleOptionViewItem opt;
    opt.initFrom(list);
    opt.rect = list->visualRect(third);
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QPoint box =
        list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    EXPECT_TRUE(ui(w).viewsModel->isChecked(2)) << "the click ticked the box";
    EXPECT_EQ(w.currentRow(), 2);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, box);
    settle(w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Vistrel: Detail for view 'v3'"));

    const QPoint below(box.x(), list->visualRect(third).bottom() + 20);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(w.currentRow(), -1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    settle(w);
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST(LoadViews, NoControlHoldsTheFocusWhileLoadingAndTheButtonHasItAfter) {
    // Not the find/filter box with its text selected, nor a check box: the
    // list is hidden while it fills, so the window itself holds the focus.
    FakeWindow f;
    frmMain& w = *f.w;
    f.backend->state().views = {fv("a", "h"), fv("b", "h")};
    w.show();
    QWidget* during = nullptr;
    YieldWatcher yields;
    yields.onYield = [&](int n) {
        if (n == 1)
            during = w.focusWidget();
    };
    QTest::mouseClick(ui(w).loadViewsBut, Qt::LeftButton);
    settle(w);
    EXPECT_EQ(during, &w);
    EXPECT_EQ(w.focusWidget(), ui(w).loadViewsBut);
}
