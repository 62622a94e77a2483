#include "app/frmmain.h"
#include "app/selection.h"
#include "fakecc.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "temphome.h"
#include "ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
// A main window whose list holds exactly these lines, in this order.
struct ListWindow : FakeWindow {
    explicit ListWindow(const QStringList& items) {
        for (const QString& s : items) {
            FakeView v;
            const qsizetype c = s.indexOf(u':');
            v.tag = c < 0 ? s : s.left(c);
            v.host = c < 0 ? QStringLiteral("h") : s.mid(c + 1);
            backend->state().views.append(v);
        }
        w->Form_Activate();
        w->loadViewsBut_Click();
        settle(*w);
    }
    QStringList checked() const {
        QStringList out;
        for (int i = 0; i < ui(*w).viewsModel->count(); ++i)
            if (ui(*w).viewsModel->isChecked(i))
                out.append(ui(*w).viewsModel->text(i));
        return out;
    }
    QStringList lines() const {
        QStringList out;
        for (int i = 0; i < ui(*w).viewsModel->count(); ++i)
            out.append(ui(*w).viewsModel->text(i));
        return out;
    }
    void selectByPattern(const QString& p, bool caseInsensitive) {
        ui(*w).caseInsensitiveCB->setChecked(caseInsensitive);
        ui(*w).selectAllByPatternCB->setChecked(true);
        w->selectAllByPatternCB_Click();
        ui(*w).selectAllByPatternTxt->setText(p);
        w->selectAllBut_Click();
    }
    void chooseAction(const QString& a) {
        ui(*w).filterActionCombo->setCurrentIndex(ui(*w).filterActionCombo->findText(a));
        w->filterActionCombo_Click();
    }
    void setPattern(const QString& p) { ui(*w).filterPatternTxt->setText(p); }
};

const QString kDone = QStringLiteral(
    "Either at the end of the list or couldn't find\r\nthe pattern\r\n\r\n>> Do you want to search "
    "from the beginning? <<");
} // namespace

TEST(SelectAll, PatternCaseFoldingFollowsTheCaseBox) {
    MsgRecorder boxes;
    {
        ListWindow f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"),
                      QStringLiteral("xabcx:h2"), QStringLiteral("other:h")});
        f.selectByPattern(QStringLiteral("abc"), true);
        EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("abc:h"), QStringLiteral("xABCx:h"),
                                            QStringLiteral("xabcx:h2")}));
    }
    {
        ListWindow f(
            {QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")});
        f.selectByPattern(QStringLiteral("abc"), false);
        EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")}));
        // The box's own text is not lower-cased.
        f.selectByPattern(QStringLiteral("ABC"), true);
        EXPECT_EQ(ui(*f.w).selectAllByPatternTxt->text(), QStringLiteral("ABC"));
    }
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(SelectAll, PatternsAreLiteralAndNeverClearAMark) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("dev01:h"), QStringLiteral("dev*x:h"), QStringLiteral("hand:h"),
                  QStringLiteral("a b:h")});
    ui(*f.w).viewsModel->setChecked(f.lines().indexOf(QStringLiteral("hand:h")), true);
    f.selectByPattern(QStringLiteral("dev*"), true);
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("dev*x:h"), QStringLiteral("hand:h")}));
    f.w->clearAllBut_Click();
    // The placeholder is searched like any text: nothing has it.
    f.selectByPattern(QStringLiteral("<pattern>"), true);
    EXPECT_TRUE(f.checked().isEmpty());
    // Blanks are kept: one blank matches the line that has one.
    f.selectByPattern(QStringLiteral(" "), true);
    EXPECT_EQ(f.checked(), QStringList{QStringLiteral("a b:h")});
    f.w->clearAllBut_Click();
    f.selectByPattern(QStringLiteral(" dev"), true);
    EXPECT_TRUE(f.checked().isEmpty());
    // An empty pattern selects everything.
    f.selectByPattern(QString(), true);
    EXPECT_EQ(f.checked().size(), 4);
}

TEST(SelectAll, WithoutTheBoxThePatternIsIgnoredAndClearAllClearsEverything) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    ui(*f.w).selectAllByPatternTxt->setText(QStringLiteral("a"));
    f.w->selectAllBut_Click();
    EXPECT_EQ(f.checked().size(), 2);
    f.selectByPattern(QStringLiteral("zzz"), true);
    f.w->clearAllBut_Click();
    EXPECT_TRUE(f.checked().isEmpty());
}

TEST(SelectAll, ABulkChangeIsAnnouncedOnce) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h"), QStringLiteral("c:h")});
    QSignalSpy changes(ui(*f.w).viewsModel, &QAbstractItemModel::dataChanged);
    f.w->selectAllBut_Click();
    EXPECT_EQ(changes.count(), 1);
}

TEST(SelectAll, ThePatternBoxFollowsItsCheckBox) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    QLineEdit* t = ui(*f.w).selectAllByPatternTxt;
    t->setText(QStringLiteral("kept"));
    ui(*f.w).selectAllByPatternCB->setChecked(true);
    f.w->selectAllByPatternCB_Click();
    EXPECT_TRUE(t->isEnabled());
    EXPECT_EQ(t->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    ui(*f.w).selectAllByPatternCB->setChecked(false);
    f.w->selectAllByPatternCB_Click();
    EXPECT_FALSE(t->isEnabled());
    EXPECT_EQ(t->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(t->text(), QStringLiteral("kept"));
    // A partly checked box is not ticked.
    ui(*f.w).selectAllByPatternCB->setTristate(true);
    f.w->show();
    QTest::mouseClick(ui(*f.w).selectAllByPatternCB, Qt::LeftButton); // unchecked -> partly
    EXPECT_EQ(ui(*f.w).selectAllByPatternCB->checkState(), Qt::PartiallyChecked);
    EXPECT_FALSE(t->isEnabled());
}

TEST(FilterBar, TheComboIsFilledOnceAndChoosesFind) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    for (int i = 0; i < 4; ++i)
        f.w->Form_Activate();
    ASSERT_EQ(ui(*f.w).filterActionCombo->count(), 2);
    EXPECT_EQ(ui(*f.w).filterActionCombo->itemText(0), QStringLiteral("Find-->"));
    EXPECT_EQ(ui(*f.w).filterActionCombo->itemText(1), QStringLiteral("Filter-->"));
    EXPECT_EQ(ui(*f.w).filterBut->text(), QStringLiteral("Find-->"));
    EXPECT_TRUE(ui(*f.w).selectItemsFoundCB->isEnabled());
    f.chooseAction(QStringLiteral("Filter-->"));
    EXPECT_EQ(ui(*f.w).filterBut->text(), QStringLiteral("Filter-->"));
    EXPECT_FALSE(ui(*f.w).selectItemsFoundCB->isEnabled());
    f.w->Form_Activate();
    EXPECT_EQ(ui(*f.w).filterBut->text(), QStringLiteral("Filter-->"));
}

TEST(FilterBar, TheButtonNeedsAUsablePattern) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    f.setPattern(QString());
    EXPECT_FALSE(ui(*f.w).filterBut->isEnabled());
    EXPECT_FALSE(ui(*f.w).selectItemsFoundCB->isEnabled());
    f.setPattern(QStringLiteral("<PATTERN>"));
    EXPECT_TRUE(ui(*f.w).filterBut->isEnabled());
    EXPECT_TRUE(ui(*f.w).selectItemsFoundCB->isEnabled());
    f.setPattern(QStringLiteral("<pattern>"));
    EXPECT_FALSE(ui(*f.w).filterBut->isEnabled());
    f.setPattern(QStringLiteral(" "));
    EXPECT_TRUE(ui(*f.w).filterBut->isEnabled());
}

TEST(Filter, RemovesMatchesIgnoringCaseWhateverTheBoxSays) {
    MsgRecorder boxes;
    for (const bool ci : {true, false}) {
        ListWindow f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("def:h"),
                      QStringLiteral("ABC:h2")});
        ui(*f.w).caseInsensitiveCB->setChecked(ci);
        ui(*f.w).viewsModel->setChecked(f.lines().indexOf(QStringLiteral("abc:h")), true);
        f.chooseAction(QStringLiteral("Filter-->"));
        f.setPattern(QStringLiteral("abc"));
        f.w->filterBut_Click();
        EXPECT_EQ(f.lines(), QStringList{QStringLiteral("def:h")}) << ci;
        EXPECT_TRUE(f.checked().isEmpty());
        EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(), QStringLiteral("Found: 1 views"));
    }
}

TEST(Filter, ANonMatchingPatternRewritesTheSameCount) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    ui(*f.w).viewsFoundLbl->setText(QStringLiteral("stale"));
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("zz"));
    f.w->filterBut_Click();
    EXPECT_EQ(f.lines().size(), 2);
    EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(), QStringLiteral("Found: 2 views"));
}

TEST(Filter, EmptyingTheListLeavesEveryActionHarmless) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("aa1:h"), QStringLiteral("aa2:h"), QStringLiteral("aa3:h")});
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("AA"));
    f.w->filterBut_Click();
    EXPECT_TRUE(f.lines().isEmpty());
    EXPECT_EQ(f.w->currentRow(), -1);
    EXPECT_TRUE(ui(*f.w).selectAllBut->isEnabled()); // the filter re-evaluates nothing
    f.w->filterBut_Click();
    f.chooseAction(QStringLiteral("Find-->"));
    f.w->filterBut_Click();
    f.w->selectAllBut_Click();
    f.w->clearAllBut_Click();
    f.w->viewsList_DblClick();
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(), QStringLiteral("Found: 0 views"));
}

TEST(Filter, KeepsTheCurrentLineWhenItSurvives) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a1:h"), QStringLiteral("b1:h"), QStringLiteral("a2:h"),
                  QStringLiteral("b2:h")});
    f.w->setCurrentRow(f.lines().indexOf(QStringLiteral("b2:h")));
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("a"));
    f.w->filterBut_Click();
    ASSERT_EQ(f.lines(), (QStringList{QStringLiteral("b1:h"), QStringLiteral("b2:h")}));
    EXPECT_EQ(f.w->currentRow(), 1);
}

TEST(Filter, IsRefusedWhileAnOperationRuns) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("a"));
    f.w->beginOperation();
    EXPECT_FALSE(ui(*f.w).filterBut->isEnabled());
    f.setPattern(QStringLiteral("a "));
    f.setPattern(QStringLiteral("a"));
    EXPECT_FALSE(ui(*f.w).filterBut->isEnabled());
    f.w->filterBut_Click();
    EXPECT_EQ(f.lines().size(), 1);
    f.w->endOperation();
    EXPECT_TRUE(ui(*f.w).filterBut->isEnabled());
}

TEST(Find, StartsAfterTheCurrentLine) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("abc1:h"), QStringLiteral("x:h"), QStringLiteral("abc2:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("abc"));
    ASSERT_EQ(f.lines(), (QStringList{QStringLiteral("abc1:h"), QStringLiteral("abc2:h"),
                                      QStringLiteral("x:h")}));
    // Right after a load the first line is current: the search starts at
    // the second.
    ASSERT_EQ(f.w->currentRow(), 0);
    f.w->filterBut_Click();
    EXPECT_EQ(f.w->currentRow(), 1);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(), QStringLiteral("Found: 3 views"));
    // With no current line it starts with the first.
    f.w->setCurrentRow(-1);
    f.w->filterBut_Click();
    EXPECT_EQ(f.w->currentRow(), 0);
    EXPECT_TRUE(f.checked().isEmpty()); // finding checks nothing by itself
}

TEST(Find, AtTheEndItAsksAndYesSearchesFromTheTopIncludingTheFirstLine) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("abc:h"), QStringLiteral("x:h"), QStringLiteral("y:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("abc"));
    f.w->setCurrentRow(2); // the last line
    boxes.answers = {MsgAnswer::Yes};
    f.w->filterBut_Click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, kDone);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Done Searching..."));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.last().buttons, MsgButtons::YesNo);
    EXPECT_EQ(f.w->currentRow(), 0);
}

TEST(Find, NoLeavesTheCurrentLineAndYesRepeatsUntilNo) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h"), QStringLiteral("c:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("zzz"));
    f.w->setCurrentRow(1);
    f.w->filterBut_Click();
    EXPECT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(f.w->currentRow(), 1);
    boxes.answers = {MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::No};
    f.w->filterBut_Click();
    EXPECT_EQ(boxes.boxes.size(), 5);
    EXPECT_EQ(f.w->currentRow(), 0); // Yes made the first line current
}

TEST(Find, FollowsTheCaseBox) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("xABCx:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("abc"));
    ui(*f.w).caseInsensitiveCB->setChecked(false);
    f.w->filterBut_Click();
    EXPECT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(f.w->currentRow(), 0);
    ui(*f.w).caseInsensitiveCB->setChecked(true);
    f.w->filterBut_Click();
    EXPECT_EQ(f.w->currentRow(), 1);
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST(Find, SelectItemsMatchingPatternChecksWhatItFinds) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("dev1:h"), QStringLiteral("dev2:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("dev"));
    ui(*f.w).selectItemsFoundCB->setChecked(true);
    f.w->filterBut_Click();
    f.w->filterBut_Click();
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("dev1:h"), QStringLiteral("dev2:h")}));
    // Disabled, the box changes nothing.
    f.w->clearAllBut_Click();
    f.w->setCurrentRow(0);
    ui(*f.w).selectItemsFoundCB->setEnabled(false);
    f.w->filterBut_Click();
    EXPECT_TRUE(f.checked().isEmpty());
}

TEST(FilterBar, AnyOtherActionTextOnlyRewritesTheCount) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    f.w->show();
    // Typed with Return, "filter-->" stays as typed: it is not "Filter-->".
    type_into(ui(*f.w).filterActionCombo, QStringLiteral("filter-->"));
    EXPECT_EQ(ui(*f.w).filterActionCombo->currentText(), QStringLiteral("filter-->"));
    f.setPattern(QStringLiteral("a"));
    ui(*f.w).viewsFoundLbl->clear();
    const int current = f.w->currentRow();
    f.w->filterBut_Click();
    EXPECT_EQ(f.lines().size(), 2);
    EXPECT_EQ(f.w->currentRow(), current);
    EXPECT_EQ(ui(*f.w).viewsFoundLbl->text(), QStringLiteral("Found: 2 views"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
