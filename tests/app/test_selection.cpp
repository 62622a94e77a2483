// SPDX-License-Identifier: Apache-2.0
// Select All, Clear All, Filter and Find. Selection's own rules are tested
// on a list model and its current line alone, as the window hands them to
// it; the window's tests work its controls with the mouse and the keys and
// check what reaches Selection and what the window shows around it.
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
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace tsy;
using namespace tsy::test;
using model::ViewListModel;

namespace {

QStringList lines_of(const ViewListModel& model) {
    QStringList out;
    for (int i = 0; i < model.count(); ++i)
        out.append(model.text(i));
    return out;
}

QStringList checked_of(const ViewListModel& model) {
    QStringList out;
    for (int i = 0; i < model.count(); ++i)
        if (model.isChecked(i))
            out.append(model.text(i));
    return out;
}

// "tag:host" split as a listing gives it.
FakeView view_of(const QString& line) {
    FakeView v;
    const qsizetype c = line.indexOf(u':');
    v.tag = c < 0 ? line : line.left(c);
    v.host = c < 0 ? QStringLiteral("h") : line.mid(c + 1);
    return v;
}

// ---- Selection alone --------------------------------------------------------

// The list model with these lines and its current line, as the window gives
// them to Selection; no window.
struct Lines {
    explicit Lines(const QStringList& items) {
        for (const QString& s : items) {
            const FakeView v = view_of(s);
            model.addView(v.tag, v.host);
        }
    }
    QStringList lines() const { return lines_of(model); }
    QStringList checked() const { return checked_of(model); }
    int row(const QString& line) const { return int(lines().indexOf(line)); }

    ViewListModel model;
    QItemSelectionModel current{&model};
    Selection selection{model, current};
};

// Answers the question whether to search on from the top, in order (No
// once the answers run out), and counts the questions.
struct FromTop {
    QList<bool> answers;
    int asked = 0;
    std::function<bool()> ask() {
        return [this] {
            ++asked;
            return !answers.isEmpty() && answers.takeFirst();
        };
    }
};

// ---- The window ------------------------------------------------------------

// A shown main window whose list holds exactly these lines, loaded with a
// click on Load Views.
struct ListWindow : FakeWindow {
    explicit ListWindow(const QStringList& items) {
        for (const QString& s : items)
            backend->state().views.append(view_of(s));
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        click(c().loadViewsBut);
        settle(*w);
    }
    Ui c() const { return ui(*w); }
    QStringList lines() const { return lines_of(*c().viewsModel); }
    QStringList checked() const { return checked_of(*c().viewsModel); }

    static void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    // Ticks or clears a check box with a click.
    static void tick(QCheckBox* b, bool on) {
        if (b->isChecked() != on)
            QTest::mouseClick(b, Qt::LeftButton);
        EXPECT_EQ(b->isChecked(), on) << b->objectName().toStdString();
    }
    // Replaces a box's text as a person does: a click into it, all of its
    // text selected (Ctrl+A), then the keys typed over it.
    static void type(QLineEdit* e, const QString& text) {
        QTest::mouseClick(e, Qt::LeftButton);
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        else
            QTest::keyClicks(e, text);
        EXPECT_EQ(e->text(), text) << e->objectName().toStdString();
    }
    // Picks the find/filter action with the arrow keys.
    void chooseAction(const QString& action) {
        QComboBox* box = c().filterActionCombo;
        const int to = box->findText(action);
        ASSERT_GE(to, 0) << action.toStdString();
        for (int i = 0; i < box->count() && box->currentIndex() != to; ++i)
            QTest::keyClick(box->lineEdit(), box->currentIndex() < to ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(c().filterBut->text(), action);
    }
    void setPattern(const QString& p) { type(c().filterPatternTxt, p); }
    // Select All with its pattern box in use.
    void selectByPattern(const QString& p, bool caseInsensitive) {
        tick(c().caseInsensitiveCB, caseInsensitive);
        tick(c().selectAllByPatternCB, true);
        type(c().selectAllByPatternTxt, p);
        click(c().selectAllBut);
    }
    // Makes a line current with a click on it; -1 clicks below the last line.
    void clickLine(int row) {
        QListView* list = c().viewsList;
        const int last = c().viewsModel->count() - 1;
        QPoint at(20, 20);
        if (row >= 0)
            at = list->visualRect(c().viewsModel->index(row)).center();
        else if (last >= 0)
            at = QPoint(20, list->visualRect(c().viewsModel->index(last)).bottom() + 20);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        ASSERT_EQ(w->currentRow(), row);
    }
    // Ticks a line's box: the line clicked, then Space.
    void tickLine(int row) {
        clickLine(row);
        QTest::keyClick(c().viewsList, Qt::Key_Space);
        ASSERT_TRUE(c().viewsModel->isChecked(row));
    }
};

const QString kDone = QStringLiteral(
    "Either at the end of the list or couldn't find\r\nthe pattern\r\n\r\n>> Do you want to search "
    "from the beginning? <<");
} // namespace

// ---- Selection alone --------------------------------------------------------

TEST(Selection, PatternMarksFoldCaseOnlyWhenAsked) {
    {
        Lines f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("xabcx:h2"),
                 QStringLiteral("other:h")});
        f.selection.setCheckState(true, QStringLiteral("abc"), true);
        EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("abc:h"), QStringLiteral("xABCx:h"),
                                            QStringLiteral("xabcx:h2")}));
    }
    Lines f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")});
    f.selection.setCheckState(true, QStringLiteral("abc"), false);
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")}));
}

TEST(Selection, PatternsAreLiteralAndNeverClearAMark) {
    Lines f({QStringLiteral("dev01:h"), QStringLiteral("dev*x:h"), QStringLiteral("hand:h"),
             QStringLiteral("a b:h")});
    Selection& s = f.selection;
    f.model.setChecked(f.row(QStringLiteral("hand:h")), true);
    s.setCheckState(true, QStringLiteral("dev*"), true);
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("dev*x:h"), QStringLiteral("hand:h")}));
    s.setCheckState(false, QString(), true);
    // The placeholder is searched like any text: nothing has it.
    s.setCheckState(true, QStringLiteral("<pattern>"), true);
    EXPECT_TRUE(f.checked().isEmpty());
    // Blanks are kept: one blank matches the line that has one.
    s.setCheckState(true, QStringLiteral(" "), true);
    EXPECT_EQ(f.checked(), QStringList{QStringLiteral("a b:h")});
    s.setCheckState(false, QString(), true);
    s.setCheckState(true, QStringLiteral(" dev"), true);
    EXPECT_TRUE(f.checked().isEmpty());
    // An empty pattern selects everything.
    s.setCheckState(true, QString(), true);
    EXPECT_EQ(f.checked().size(), 4);
}

TEST(Selection, ABulkChangeIsAnnouncedOnce) {
    Lines f({QStringLiteral("a:h"), QStringLiteral("b:h"), QStringLiteral("c:h")});
    QSignalSpy changes(&f.model, &QAbstractItemModel::dataChanged);
    f.selection.setCheckState(true, QString(), true);
    EXPECT_EQ(changes.count(), 1);
}

TEST(Selection, FilterRemovesMatchesWithTheirMarksAlwaysIgnoringCase) {
    Lines f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("def:h"),
             QStringLiteral("ABC:h2")});
    f.model.setChecked(f.row(QStringLiteral("abc:h")), true);
    f.selection.filter(QStringLiteral("abc"));
    EXPECT_EQ(f.lines(), QStringList{QStringLiteral("def:h")});
    EXPECT_TRUE(f.checked().isEmpty());
}

TEST(Selection, FilterKeepsTheCurrentLineWhenItSurvives) {
    Lines f({QStringLiteral("a1:h"), QStringLiteral("b1:h"), QStringLiteral("a2:h"),
             QStringLiteral("b2:h")});
    f.selection.setCurrentRow(f.row(QStringLiteral("b2:h")));
    f.selection.filter(QStringLiteral("a"));
    ASSERT_EQ(f.lines(), (QStringList{QStringLiteral("b1:h"), QStringLiteral("b2:h")}));
    EXPECT_EQ(f.selection.currentRow(), 1);
    // When it goes, no line is current.
    f.selection.filter(QStringLiteral("b2"));
    EXPECT_EQ(f.lines(), QStringList{QStringLiteral("b1:h")});
    EXPECT_EQ(f.selection.currentRow(), -1);
}

TEST(Selection, FindStartsAfterTheCurrentLine) {
    Lines f({QStringLiteral("abc1:h"), QStringLiteral("x:h"), QStringLiteral("abc2:h")});
    ASSERT_EQ(f.lines(), (QStringList{QStringLiteral("abc1:h"), QStringLiteral("abc2:h"),
                                      QStringLiteral("x:h")}));
    FromTop top;
    f.selection.setCurrentRow(0);
    f.selection.findNext(QStringLiteral("abc"), true, false, top.ask());
    EXPECT_EQ(f.selection.currentRow(), 1);
    EXPECT_EQ(top.asked, 0);
    // With no current line it starts with the first.
    f.selection.setCurrentRow(-1);
    f.selection.findNext(QStringLiteral("abc"), true, false, top.ask());
    EXPECT_EQ(f.selection.currentRow(), 0);
    EXPECT_TRUE(f.checked().isEmpty()); // finding checks nothing by itself
}

TEST(Selection, FindAtTheEndAsksAndYesSearchesFromTheTopIncludingTheFirstLine) {
    Lines f({QStringLiteral("abc:h"), QStringLiteral("x:h"), QStringLiteral("y:h")});
    FromTop top;
    top.answers = {true};
    f.selection.setCurrentRow(2); // the last line
    f.selection.findNext(QStringLiteral("abc"), true, false, top.ask());
    EXPECT_EQ(top.asked, 1);
    EXPECT_EQ(f.selection.currentRow(), 0);
}

TEST(Selection, FindNoLeavesTheCurrentLineAndYesRepeatsUntilNo) {
    Lines f({QStringLiteral("a:h"), QStringLiteral("b:h"), QStringLiteral("c:h")});
    FromTop top;
    f.selection.setCurrentRow(1);
    f.selection.findNext(QStringLiteral("zzz"), true, false, top.ask());
    EXPECT_EQ(top.asked, 1);
    EXPECT_EQ(f.selection.currentRow(), 1);
    top.answers = {true, true, true, false};
    f.selection.findNext(QStringLiteral("zzz"), true, false, top.ask());
    EXPECT_EQ(top.asked, 5);
    EXPECT_EQ(f.selection.currentRow(), 0); // Yes made the first line current
}

TEST(Selection, FindFollowsCase) {
    Lines f({QStringLiteral("a:h"), QStringLiteral("xABCx:h")});
    FromTop top;
    f.selection.setCurrentRow(0);
    f.selection.findNext(QStringLiteral("abc"), false, false, top.ask());
    EXPECT_EQ(top.asked, 1);
    EXPECT_EQ(f.selection.currentRow(), 0);
    f.selection.findNext(QStringLiteral("abc"), true, false, top.ask());
    EXPECT_EQ(f.selection.currentRow(), 1);
    EXPECT_EQ(top.asked, 1);
}

TEST(Selection, FindChecksWhatItFindsWhenAsked) {
    Lines f({QStringLiteral("a:h"), QStringLiteral("dev1:h"), QStringLiteral("dev2:h")});
    FromTop top;
    f.selection.setCurrentRow(0);
    f.selection.findNext(QStringLiteral("dev"), true, true, top.ask());
    f.selection.findNext(QStringLiteral("dev"), true, true, top.ask());
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("dev1:h"), QStringLiteral("dev2:h")}));
    EXPECT_EQ(top.asked, 0);
}

// ---- The window's controls --------------------------------------------------

TEST(SelectAll, TheCaseBoxAndThePatternBoxReachTheSelection) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")});
    f.selectByPattern(QStringLiteral("abc"), false);
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("abc:h"), QStringLiteral("xabcx:h2")}));
    f.selectByPattern(QStringLiteral("ABC"), true);
    EXPECT_EQ(f.checked().size(), 3);
    // The box's own text is not lower-cased.
    EXPECT_EQ(f.c().selectAllByPatternTxt->text(), QStringLiteral("ABC"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(SelectAll, WithoutTheBoxThePatternIsIgnoredAndClearAllClearsEverything) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    ASSERT_FALSE(f.c().selectAllByPatternCB->isChecked());
    f.type(f.c().selectAllByPatternTxt, QStringLiteral("a"));
    f.click(f.c().selectAllBut);
    EXPECT_EQ(f.checked().size(), 2);
    f.selectByPattern(QStringLiteral("zzz"), true);
    f.click(f.c().clearAllBut);
    EXPECT_TRUE(f.checked().isEmpty());
}

TEST(SelectAll, ThePatternBoxFollowsItsCheckBox) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    QLineEdit* t = f.c().selectAllByPatternTxt;
    f.type(t, QStringLiteral("kept"));
    f.tick(f.c().selectAllByPatternCB, true);
    EXPECT_TRUE(t->isEnabled());
    EXPECT_EQ(t->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    f.tick(f.c().selectAllByPatternCB, false);
    EXPECT_FALSE(t->isEnabled());
    EXPECT_EQ(t->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(t->text(), QStringLiteral("kept"));
    // A partly checked box is not ticked.
    f.c().selectAllByPatternCB->setTristate(true);
    QTest::mouseClick(f.c().selectAllByPatternCB, Qt::LeftButton); // unchecked -> partly
    EXPECT_EQ(f.c().selectAllByPatternCB->checkState(), Qt::PartiallyChecked);
    EXPECT_FALSE(t->isEnabled());
}

TEST(FilterBar, TheComboIsFilledOnceAndChoosesFind) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    const auto activate = [&] {
        QEvent e(QEvent::WindowActivate);
        QCoreApplication::sendEvent(f.w.get(), &e);
    };
    for (int i = 0; i < 4; ++i)
        activate();
    ASSERT_EQ(f.c().filterActionCombo->count(), 2);
    EXPECT_EQ(f.c().filterActionCombo->itemText(0), QStringLiteral("Find-->"));
    EXPECT_EQ(f.c().filterActionCombo->itemText(1), QStringLiteral("Filter-->"));
    EXPECT_EQ(f.c().filterBut->text(), QStringLiteral("Find-->"));
    EXPECT_TRUE(f.c().selectItemsFoundCB->isEnabled());
    f.chooseAction(QStringLiteral("Filter-->"));
    EXPECT_EQ(f.c().filterBut->text(), QStringLiteral("Filter-->"));
    EXPECT_FALSE(f.c().selectItemsFoundCB->isEnabled());
    activate();
    EXPECT_EQ(f.c().filterBut->text(), QStringLiteral("Filter-->"));
}

TEST(FilterBar, TheButtonNeedsAUsablePattern) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    f.setPattern(QString());
    EXPECT_FALSE(f.c().filterBut->isEnabled());
    EXPECT_FALSE(f.c().selectItemsFoundCB->isEnabled());
    f.setPattern(QStringLiteral("<PATTERN>"));
    EXPECT_TRUE(f.c().filterBut->isEnabled());
    EXPECT_TRUE(f.c().selectItemsFoundCB->isEnabled());
    f.setPattern(QStringLiteral("<pattern>"));
    EXPECT_FALSE(f.c().filterBut->isEnabled());
    f.setPattern(QStringLiteral(" "));
    EXPECT_TRUE(f.c().filterBut->isEnabled());
}

TEST(Filter, RemovesMatchesIgnoringCaseWhateverTheBoxSays) {
    MsgRecorder boxes;
    for (const bool ci : {true, false}) {
        ListWindow f({QStringLiteral("xABCx:h"), QStringLiteral("abc:h"), QStringLiteral("def:h"),
                      QStringLiteral("ABC:h2")});
        f.tick(f.c().caseInsensitiveCB, ci);
        f.tickLine(int(f.lines().indexOf(QStringLiteral("abc:h"))));
        f.chooseAction(QStringLiteral("Filter-->"));
        f.setPattern(QStringLiteral("abc"));
        f.click(f.c().filterBut);
        EXPECT_EQ(f.lines(), QStringList{QStringLiteral("def:h")}) << ci;
        EXPECT_TRUE(f.checked().isEmpty());
        EXPECT_EQ(f.c().viewsFoundLbl->text(), QStringLiteral("Found: 1 views"));
    }
}

TEST(Filter, ANonMatchingPatternRewritesTheSameCount) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    f.c().viewsFoundLbl->setText(QStringLiteral("stale"));
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("zz"));
    f.click(f.c().filterBut);
    EXPECT_EQ(f.lines().size(), 2);
    EXPECT_EQ(f.c().viewsFoundLbl->text(), QStringLiteral("Found: 2 views"));
}

TEST(Filter, EmptyingTheListLeavesEveryActionHarmless) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("aa1:h"), QStringLiteral("aa2:h"), QStringLiteral("aa3:h")});
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("AA"));
    f.click(f.c().filterBut);
    EXPECT_TRUE(f.lines().isEmpty());
    EXPECT_EQ(f.w->currentRow(), -1);
    EXPECT_TRUE(f.c().selectAllBut->isEnabled()); // the filter re-evaluates nothing
    f.click(f.c().filterBut);
    f.chooseAction(QStringLiteral("Find-->"));
    f.click(f.c().filterBut);
    f.click(f.c().selectAllBut);
    f.click(f.c().clearAllBut);
    QTest::mouseDClick(f.c().viewsList->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    settle(*f.w);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(f.c().viewsFoundLbl->text(), QStringLiteral("Found: 0 views"));
}

TEST(Filter, IsRefusedWhileAnOperationRuns) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h")});
    f.chooseAction(QStringLiteral("Filter-->"));
    f.setPattern(QStringLiteral("a"));
    f.w->beginOperation();
    EXPECT_FALSE(f.c().filterBut->isEnabled());
    f.setPattern(QStringLiteral("a "));
    f.setPattern(QStringLiteral("a"));
    EXPECT_FALSE(f.c().filterBut->isEnabled());
    f.click(f.c().filterBut);
    // The handler refuses too, should a press reach it another way.
    f.w->filterBut_Click();
    EXPECT_EQ(f.lines().size(), 1);
    f.w->endOperation();
    EXPECT_TRUE(f.c().filterBut->isEnabled());
}

TEST(Find, TheButtonFindsFromTheCurrentLineAndAsksAtTheEnd) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("abc1:h"), QStringLiteral("x:h"), QStringLiteral("abc2:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("abc"));
    ASSERT_EQ(f.lines(), (QStringList{QStringLiteral("abc1:h"), QStringLiteral("abc2:h"),
                                      QStringLiteral("x:h")}));
    // Right after a load the first line is current: the search starts at
    // the second.
    ASSERT_EQ(f.w->currentRow(), 0);
    f.click(f.c().filterBut);
    EXPECT_EQ(f.w->currentRow(), 1);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(f.c().viewsFoundLbl->text(), QStringLiteral("Found: 3 views"));
    // Nothing after it: the box asks, and Yes searches on from the top,
    // the first line included.
    boxes.answers = {MsgAnswer::Yes};
    f.click(f.c().filterBut);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, kDone);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Done Searching..."));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.last().buttons, MsgButtons::YesNo);
    EXPECT_EQ(f.w->currentRow(), 0);
    // With no current line it starts with the first.
    f.clickLine(-1);
    f.click(f.c().filterBut);
    EXPECT_EQ(f.w->currentRow(), 0);
    EXPECT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(f.checked().isEmpty()); // finding checks nothing by itself
}

TEST(Find, FollowsTheCaseBox) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("xABCx:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("abc"));
    f.tick(f.c().caseInsensitiveCB, false);
    f.click(f.c().filterBut);
    EXPECT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(f.w->currentRow(), 0);
    f.tick(f.c().caseInsensitiveCB, true);
    f.click(f.c().filterBut);
    EXPECT_EQ(f.w->currentRow(), 1);
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST(Find, SelectItemsMatchingPatternChecksWhatItFinds) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("dev1:h"), QStringLiteral("dev2:h")});
    f.chooseAction(QStringLiteral("Find-->"));
    f.setPattern(QStringLiteral("dev"));
    f.tick(f.c().selectItemsFoundCB, true);
    f.click(f.c().filterBut);
    f.click(f.c().filterBut);
    EXPECT_EQ(f.checked(), (QStringList{QStringLiteral("dev1:h"), QStringLiteral("dev2:h")}));
    // Disabled, the box changes nothing.
    f.click(f.c().clearAllBut);
    f.clickLine(0);
    f.c().selectItemsFoundCB->setEnabled(false);
    f.click(f.c().filterBut);
    EXPECT_TRUE(f.checked().isEmpty());
}

TEST(FilterBar, AnyOtherActionTextOnlyRewritesTheCount) {
    MsgRecorder boxes;
    ListWindow f({QStringLiteral("a:h"), QStringLiteral("b:h")});
    // Typed with Return, "filter-->" stays as typed: it is not "Filter-->".
    type_into(f.c().filterActionCombo, QStringLiteral("filter-->"));
    EXPECT_EQ(f.c().filterActionCombo->currentText(), QStringLiteral("filter-->"));
    f.setPattern(QStringLiteral("a"));
    f.c().viewsFoundLbl->clear();
    const int current = f.w->currentRow();
    f.click(f.c().filterBut);
    EXPECT_EQ(f.lines().size(), 2);
    EXPECT_EQ(f.w->currentRow(), current);
    EXPECT_EQ(f.c().viewsFoundLbl->text(), QStringLiteral("Found: 2 views"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
