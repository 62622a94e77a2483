// SPDX-License-Identifier: Apache-2.0
// The main window as assistive tools and keyboard users meet it: the names
// and roles screen readers announce, the Tab order walked by real key
// presses, Space and Enter on every kind of control, message boxes
// answered from the keyboard, and captions that fit their controls at the
// running scale factor (the suite also runs with QT_SCALE_FACTOR=2).
#include "app/frmmain.h"
#include "common/msgbox.h"
#include "fakecc.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "temphome.h"
#include "ui.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {

QString acc_name(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

std::string id(const QWidget* w) {
    return w->objectName().toStdString();
}

// A loaded window, shown and active, with the fake views listed.
struct ShownWindow {
    ShownWindow() {
        FakeView a;
        a.tag = QStringLiteral("alpha_dev");
        a.host = QStringLiteral("hostA");
        a.active = true;
        a.configSpec = QStringLiteral("element * CHECKEDOUT\r\nelement * /main/LATEST\r\n");
        FakeView b;
        b.tag = QStringLiteral("beta_int");
        b.host = QStringLiteral("hostB");
        FakeView c;
        c.tag = QStringLiteral("gamma_snap");
        c.host = QStringLiteral("hostC");
        c.snapshot = true;
        f.backend->state().views = {a, b, c};
        f.w->show();
        f.w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(f.w.get()));
        f.w->loadViewsBut_Click();
        settle(*f.w);
        // The progress window took the activation while the views loaded.
        f.w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(f.w.get()));
    }
    frmMain& w() { return *f.w; }
    FakeWindow f;
};

constexpr bool isWindowsPlatform() {
#ifdef Q_OS_WIN
    return true;
#else
    return false;
#endif
}

// The label that names a control for assistive tools, if any.
QWidget* labelled_by(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a)
        return nullptr;
    for (const auto& rel : a->relations(QAccessible::Label)) {
        if (rel.first && rel.first->object()->isWidgetType())
            return static_cast<QWidget*>(rel.first->object());
    }
    return nullptr;
}

void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "nothing has the keyboard focus";
    QTest::keyClick(target, key, mods);
    // What the key started (a report, a load) answers on later turns.
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* m = qobject_cast<tsy::frmMain*>(top))
            tsy::test::settle(*m);
    }
}

} // namespace

TEST(Accessibility, EveryControlHasItsNameAndRole) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    struct Named {
        QWidget* c;
        QString name;
        QAccessible::Role role;
    };
    const Named table[] = {
        {ui(w).orvaneLogo, QStringLiteral("Orvane web site"), QAccessible::Graphic},
        {ui(w).mainFrame, QStringLiteral("Views"), QAccessible::Grouping},
        {ui(w).aboutBut, QStringLiteral("About"), QAccessible::Button},
        {ui(w).cancelBut, QStringLiteral("Exit"), QAccessible::Button},
        {ui(w).loadViewsBut, QStringLiteral("Load Views"), QAccessible::Button},
        {ui(w).viewsFoundLbl, QStringLiteral("Views found"), QAccessible::StaticText},
        {ui(w).viewsList, QStringLiteral("Views"), QAccessible::List},
        {ui(w).selectAllBut, QStringLiteral("Select All"), QAccessible::Button},
        {ui(w).clearAllBut, QStringLiteral("Clear All"), QAccessible::Button},
        {ui(w).caseInsensitiveCB, QStringLiteral("Case Insensitive"), QAccessible::CheckBox},
        {ui(w).selectAllByPatternCB, QStringLiteral("that matches:"), QAccessible::CheckBox},
        {ui(w).selectAllByPatternTxt, QStringLiteral("Select All pattern"),
         QAccessible::EditableText},
        {ui(w).selectItemsFoundCB, QStringLiteral("Select Items Matching Pattern"),
         QAccessible::CheckBox},
        {ui(w).filterActionCombo, QStringLiteral("Find or filter"), QAccessible::ComboBox},
        // The filter button is named by its caption, which is the chosen action.
        {ui(w).filterBut, QStringLiteral("Find-->"), QAccessible::Button},
        {ui(w).filterPatternTxt, QStringLiteral("Find or filter pattern"),
         QAccessible::EditableText},
        {ui(w).runModeLbl, QStringLiteral("Execute Mode:"), QAccessible::StaticText},
        {ui(w).runModeCombo, QStringLiteral("Execute Mode"), QAccessible::ComboBox},
        {ui(w).actionLbl, QStringLiteral("Execute Command:"), QAccessible::StaticText},
        {ui(w).actionCombo, QStringLiteral("Execute Command"), QAccessible::ComboBox},
        {ui(w).actionArgsTxt, QStringLiteral("Arguments"), QAccessible::EditableText},
        {ui(w).executeFixProtBut, QStringLiteral("Execute"), QAccessible::Button},
        {ui(w).Image1, QStringLiteral("Decoration"), QAccessible::Graphic},
    };
    QSet<QWidget*> covered;
    for (const Named& n : table) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(n.c);
        ASSERT_NE(a, nullptr) << id(n.c);
        EXPECT_EQ(a->role(), n.role) << id(n.c);
        if (n.role == QAccessible::ComboBox && !isWindowsPlatform()) {
            // Qt on X11 announces a combo box by its text and names it
            // through its label (the Labelled relation); the name given to
            // the widget is what Windows tools read.
            EXPECT_EQ(n.c->accessibleName(), n.name) << id(n.c);
            EXPECT_EQ(a->text(QAccessible::Name), static_cast<QComboBox*>(n.c)->currentText());
        } else {
            EXPECT_EQ(a->text(QAccessible::Name), n.name) << id(n.c);
        }
        covered.insert(n.c);
        // A button announces the caption the eye reads.
        if (auto* b = qobject_cast<QAbstractButton*>(n.c)) {
            EXPECT_EQ(n.name, b->text()) << id(n.c);
        }
        // Whatever the keyboard reaches says what it does.
        if (n.c->focusPolicy() != Qt::NoFocus) {
            EXPECT_FALSE(a->text(QAccessible::Description).isEmpty()) << id(n.c);
        }
    }
    // A control added to the window without a name is caught here.
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (c->parentWidget() != &w && c->parentWidget() != ui(w).mainFrame)
            continue;
        if (c->objectName() == QLatin1StringView("Line1"))
            continue; // a separator line, announced as such
        EXPECT_TRUE(covered.contains(c)) << "unexpected control " << id(c);
        EXPECT_FALSE(acc_name(c).isEmpty()) << id(c);
    }
    // The two labelled combo boxes are named by their labels.
    EXPECT_EQ(labelled_by(ui(w).runModeCombo), ui(w).runModeLbl);
    EXPECT_EQ(labelled_by(ui(w).actionCombo), ui(w).actionLbl);
    // The filter button's name follows its caption.
    ui(w).filterActionCombo->setCurrentIndex(1);
    w.filterActionCombo_Click();
    EXPECT_EQ(acc_name(ui(w).filterBut), QStringLiteral("Filter-->"));
}

TEST(Accessibility, ViewLinesAreAnnouncedWithTheirMarks) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    ASSERT_EQ(ui(w).viewsModel->count(), 3);
    ui(w).viewsModel->setChecked(1, true);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(ui(w).viewsList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 3);
    const QString lines[] = {QStringLiteral("alpha_dev:hostA"), QStringLiteral("beta_int:hostB"),
                             QStringLiteral("gamma_snap:hostC")};
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* item = list->child(i);
        ASSERT_NE(item, nullptr) << i;
        EXPECT_EQ(item->role(), QAccessible::ListItem) << i;
        EXPECT_EQ(item->text(QAccessible::Name), lines[i]) << i;
        EXPECT_TRUE(item->state().checkable) << i;
        EXPECT_EQ(bool(item->state().checked), i == 1) << i;
    }
}

TEST(Accessibility, TabKeyWalksTheDesignedOrderBothWays) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    // Enable everything so that the whole chain can be walked.
    for (QWidget* c : w.findChildren<QWidget*>())
        c->setEnabled(true);
    const QList<QWidget*> order = designed_tab_order(w);
    ui(w).cancelBut->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), ui(w).cancelBut);
    for (qsizetype i = 1; i <= order.size(); ++i) {
        press(Qt::Key_Tab);
        QWidget* want = order.at(i % order.size()); // from the last back to the first
        EXPECT_EQ(QApplication::focusWidget(), want)
            << "Tab after " << id(order.at(i - 1)) << " reached "
            << (QApplication::focusWidget() ? id(QApplication::focusWidget()) : "nothing");
    }
    for (qsizetype i = order.size() - 1; i >= 0; --i) {
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), order.at(i))
            << "Shift+Tab before " << id(order.at((i + 1) % order.size()));
    }
}

TEST(Accessibility, SpaceAndEnterPressButtonsAndTickBoxes) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(QTest::toString(key));
        // A button: About shows its notice.
        boxes.boxes.clear();
        ui(w).aboutBut->setFocus(Qt::TabFocusReason);
        press(key);
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.last().title, QStringLiteral("About TSY"));

        // Clear All and Select All change the marks.
        ui(w).selectAllBut->setFocus(Qt::TabFocusReason);
        press(key);
        EXPECT_EQ(checked_count(*ui(w).viewsModel), 3);
        ui(w).clearAllBut->setFocus(Qt::TabFocusReason);
        press(key);
        EXPECT_EQ(checked_count(*ui(w).viewsModel), 0);

        // A check box flips, and its handler runs: ticking "that matches:"
        // enables the pattern box.
        const bool was = ui(w).caseInsensitiveCB->isChecked();
        ui(w).caseInsensitiveCB->setFocus(Qt::TabFocusReason);
        press(key);
        EXPECT_EQ(ui(w).caseInsensitiveCB->isChecked(), !was);
        press(key);
        EXPECT_EQ(ui(w).caseInsensitiveCB->isChecked(), was);

        ui(w).selectAllByPatternCB->setFocus(Qt::TabFocusReason);
        const bool patternOn = ui(w).selectAllByPatternCB->isChecked();
        press(key);
        EXPECT_EQ(ui(w).selectAllByPatternCB->isChecked(), !patternOn);
        EXPECT_EQ(ui(w).selectAllByPatternTxt->isEnabled(), !patternOn);
        press(key);
        EXPECT_EQ(ui(w).selectAllByPatternCB->isChecked(), patternOn);
    }
    // Exit closes the window from the keyboard.
    ui(w).cancelBut->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    EXPECT_FALSE(w.isVisible());
}

TEST(Accessibility, AHeldKeysRepeatsNeverPressAButtonOrTickABox) {
    // The first press of a held key went elsewhere (it closed the run's
    // last message box, say); the repeats reach the focused control.
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    const auto repeats = [](QWidget* target, Qt::Key key) {
        for (int i = 0; i < 5; ++i)
            QTest::simulateEvent(target, true, key, Qt::NoModifier, QString(), true);
        QTest::simulateEvent(target, false, key, Qt::NoModifier, QString(), false);
    };
    QSignalSpy execute(ui(w).executeFixProtBut, &QPushButton::clicked);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        SCOPED_TRACE(QTest::toString(key));
        ui(w).executeFixProtBut->setFocus(Qt::TabFocusReason);
        repeats(ui(w).executeFixProtBut, key);
        ui(w).aboutBut->setFocus(Qt::TabFocusReason);
        repeats(ui(w).aboutBut, key);
        const bool ticked = ui(w).caseInsensitiveCB->isChecked();
        ui(w).caseInsensitiveCB->setFocus(Qt::TabFocusReason);
        repeats(ui(w).caseInsensitiveCB, key);
        EXPECT_EQ(ui(w).caseInsensitiveCB->isChecked(), ticked);
        ui(w).viewsList->setFocus(Qt::TabFocusReason);
        repeats(ui(w).viewsList, key);
        settle(w);
        EXPECT_EQ(checked_count(*ui(w).viewsModel), 0);
    }
    EXPECT_EQ(execute.count(), 0);
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();
    // A press of its own still presses.
    ui(w).aboutBut->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST(Accessibility, InTheListSpaceTicksTheLineAndEnterShowsItsReport) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    ui(w).viewsList->setFocus(Qt::TabFocusReason);
    w.setCurrentRow(0);
    press(Qt::Key_Down);
    ASSERT_EQ(w.currentRow(), 1);

    press(Qt::Key_Space);
    EXPECT_TRUE(ui(w).viewsModel->isChecked(1));
    EXPECT_EQ(checked_count(*ui(w).viewsModel), 1);
    press(Qt::Key_Space);
    EXPECT_FALSE(ui(w).viewsModel->isChecked(1));
    EXPECT_TRUE(boxes.boxes.isEmpty());

    press(Qt::Key_Up);
    press(Qt::Key_Space);
    EXPECT_TRUE(ui(w).viewsModel->isChecked(0));

    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        boxes.boxes.clear();
        press(key);
        ASSERT_EQ(boxes.boxes.size(), 1) << QTest::toString(key);
        EXPECT_EQ(boxes.last().title, QStringLiteral("Vistrel: Detail for view 'alpha_dev'"));
        EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("Is Active: True")));
        EXPECT_TRUE(boxes.last().text.contains(QStringLiteral("View Server Host: hostA")));
        EXPECT_EQ(boxes.last().icon, MsgIcon::Information);
        // Enter reports and leaves the mark alone.
        EXPECT_TRUE(ui(w).viewsModel->isChecked(0));
        EXPECT_EQ(QApplication::focusWidget(), ui(w).viewsList);
    }
}

TEST(Accessibility, TypedTextRunsNoHandlerAndEveryWayOfPickingDoes) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    QComboBox* filter = ui(w).filterActionCombo;
    QComboBox* action = ui(w).actionCombo;
    QComboBox* mode = ui(w).runModeCombo;
    const QString args = ui(w).actionArgsTxt->text();
    const auto typeAndLeave = [](QComboBox* box, const QString& text, Qt::Key leave) {
        box->lineEdit()->setFocus(Qt::TabFocusReason);
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), text);
        QTest::keyClick(box->lineEdit(), leave);
    };
    const auto pickFromList = [](QComboBox* box, int row) {
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClick(box->focusProxy() ? box->focusProxy() : box, Qt::Key_F4);
        QAbstractItemView* list = box->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
        const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        ASSERT_FALSE(list->window()->isVisible());
    };
    const auto wheel = [](QComboBox* box, int steps) {
        const QPoint at = box->rect().center();
        QWheelEvent e(at, box->mapToGlobal(at), QPoint(), QPoint(0, -120 * steps), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box, &e);
    };

    // The other item's exact text, typed, then Return or Tab: still Find.
    for (Qt::Key leave : {Qt::Key_Return, Qt::Key_Tab}) {
        SCOPED_TRACE(QTest::toString(leave));
        typeAndLeave(filter, QStringLiteral("Filter-->"), leave);
        EXPECT_EQ(filter->currentText(), QStringLiteral("Filter-->"));
        EXPECT_EQ(ui(w).filterBut->text(), QStringLiteral("Find-->"));
        EXPECT_TRUE(ui(w).selectItemsFoundCB->isEnabled());
    }
    // Picked with an arrow key, the wheel, or from the list, it is chosen.
    filter->lineEdit()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(filter->lineEdit(), Qt::Key_Down);
    EXPECT_EQ(ui(w).filterBut->text(), QStringLiteral("Filter-->"));
    EXPECT_FALSE(ui(w).selectItemsFoundCB->isEnabled());
    wheel(filter, -1);
    EXPECT_EQ(ui(w).filterBut->text(), QStringLiteral("Find-->"));
    EXPECT_TRUE(ui(w).selectItemsFoundCB->isEnabled());
    pickFromList(filter, 1);
    EXPECT_EQ(ui(w).filterBut->text(), QStringLiteral("Filter-->"));
    EXPECT_FALSE(ui(w).selectItemsFoundCB->isEnabled());

    // The action's own name typed after another text keeps the arguments
    // as edited; picking it from the list restores them.
    for (Qt::Key leave : {Qt::Key_Return, Qt::Key_Tab}) {
        SCOPED_TRACE(QTest::toString(leave));
        ui(w).actionArgsTxt->setFocus(Qt::TabFocusReason);
        ui(w).actionArgsTxt->selectAll();
        QTest::keyClicks(ui(w).actionArgsTxt, QStringLiteral("-chmod 775"));
        typeAndLeave(action, QStringLiteral("other"), Qt::Key_Return);
        typeAndLeave(action, QStringLiteral("fix_prot"), leave);
        EXPECT_EQ(ui(w).actionArgsTxt->text(), QStringLiteral("-chmod 775"));
    }
    pickFromList(action, 0);
    EXPECT_EQ(ui(w).actionArgsTxt->text(), args);

    // The run mode follows the arrow keys, the wheel and the list.
    mode->setFocus(Qt::TabFocusReason);
    QTest::keyClick(mode, Qt::Key_Down);
    EXPECT_EQ(w.GRunMode, 0); // Hide
    wheel(mode, 1);
    EXPECT_EQ(w.GRunMode, 2); // Minimized
    pickFromList(mode, 0);
    EXPECT_EQ(w.GRunMode, 1); // Normal
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(Accessibility, ALongMessageFitsTheScreenWithTheWholeTextInItsDetails) {
    // The real box, answered with a click on its OK button: many lines, and
    // one line that wraps into many. At a large scale the offscreen screen
    // is too small for any box of ten lines.
    if (QGuiApplication::primaryScreen()->availableGeometry().height() < 600)
        GTEST_SKIP() << "the screen is less than 600 pixels high";
    QStringList lines;
    for (int i = 1; i <= 300; ++i)
        lines.append(QStringLiteral("view%1: exit status 255: ssh: connect to host ccview01 "
                                    "port 22: Connection timed out")
                         .arg(i, 3, 10, QChar(u'0')));
    const QString manyLines = QStringLiteral("fix_prot did not succeed for 300 of 300 views:\r\n") +
                              lines.join(QStringLiteral("\r\n"));
    const QString oneLine = QStringLiteral("Not listed: ") + lines.join(QStringLiteral(", "));
    // A box of a few lines shows them all, with no details.
    const QString fewLines = lines.mid(0, 10).join(QStringLiteral("\r\n"));
    for (const QString& text : {manyLines, oneLine, fewLines}) {
        SCOPED_TRACE(text.size());
        QRect frame;
        QRect screen;
        QRect ok;
        QString shown;
        QString details;
        bool answered = false;
        const auto shownBox = [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            return box && box->isVisible() ? box : nullptr;
        };
        QObject scope; // the watch and the fallback end with this case
        when(
            &scope, [&] { return shownBox() != nullptr; },
            [&] {
                QMessageBox* box = shownBox();
                answered = true;
                frame = box->frameGeometry();
                screen = box->screen()->availableGeometry();
                QAbstractButton* button = box->button(QMessageBox::Ok);
                ok = QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
                shown = box->text();
                details = box->detailedText();
                QTest::mouseClick(button, Qt::LeftButton);
            },
            10'000);
        QTimer::singleShot(10000, &scope, [] {
            if (QWidget* m = QApplication::activeModalWidget())
                m->close();
        });
        EXPECT_EQ(msg_box(text, QString(), MsgIcon::Warning), MsgAnswer::Ok);
        ASSERT_TRUE(answered);
        EXPECT_LE(frame.height(), std::min(768, screen.height())) << frame.height();
        EXPECT_TRUE(screen.contains(ok)) << "the OK button is off the screen";
        if (text == fewLines) {
            EXPECT_EQ(shown, text);
            EXPECT_TRUE(details.isEmpty());
            continue;
        }
        // The details' text box keeps the lines, not their carriage returns.
        EXPECT_EQ(QString(details).remove(u'\r'), QString(text).remove(u'\r'));
        EXPECT_TRUE(shown.startsWith(text.left(40))) << shown.toStdString();
        EXPECT_LT(shown.size(), 1400);
    }
}

TEST(Accessibility, MessageBoxesAreAnsweredFromTheKeyboard) {
    // The real box: no responder is installed.
    struct Case {
        MsgButtons buttons;
        Qt::Key key;
        MsgAnswer expected;
    };
    const Case cases[] = {
        {MsgButtons::Ok, Qt::Key_Return, MsgAnswer::Ok},
        {MsgButtons::Ok, Qt::Key_Space, MsgAnswer::Ok},
        {MsgButtons::YesNo, Qt::Key_Return, MsgAnswer::Yes}, // Yes is the default
        {MsgButtons::YesNo, Qt::Key_Escape, MsgAnswer::No},
        {MsgButtons::YesNo, Qt::Key_Tab, MsgAnswer::No}, // Tab to No, then Space
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QTest::toString(c.key));
        QString seenText;
        QString seenName;
        bool focusInside = false;
        bool answered = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || answered)
                return;
            answered = true;
            poll.stop();
            const bool active = QTest::qWaitForWindowActive(box);
            seenText = box->text();
            if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box))
                seenName = a->text(QAccessible::Name);
            QWidget* focus = QApplication::focusWidget();
            focusInside = active && focus && box->isAncestorOf(focus);
            if (!focus)
                focus = box; // let the box close anyway; the test has failed
            QTest::keyClick(focus, c.key);
            if (c.key == Qt::Key_Tab)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        });
        poll.start();
        // A safety net: a box nobody answers must not hang the suite.
        QTimer::singleShot(10000, &poll, [] {
            if (QWidget* m = QApplication::activeModalWidget())
                m->close();
        });
        const MsgAnswer got = msg_box(QStringLiteral("Remove 3 views from the list?"),
                                      QStringLiteral("Filter"), MsgIcon::Warning, c.buttons);
        EXPECT_TRUE(answered);
        EXPECT_TRUE(focusInside) << "the box did not take the keyboard focus";
        EXPECT_EQ(seenText, QStringLiteral("Remove 3 views from the list?"));
        EXPECT_EQ(seenName, QStringLiteral("Filter"));
        EXPECT_EQ(got, c.expected);
    }
}

// What the style leaves for a caption inside each kind of control; the
// design's fixed sizes must hold their captions in the window's font.
TEST(Accessibility, CaptionsFitAndNeighboursDoNotOverlap) {
    MsgRecorder boxes;
    ShownWindow s;
    frmMain& w = s.w();
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    if (!scale.isEmpty()) {
        EXPECT_DOUBLE_EQ(w.devicePixelRatioF(), scale.toDouble());
    }
    // The window is drawn at the screen's pixel density, not scaled up.
    const QPixmap shot = w.grab();
    EXPECT_EQ(shot.size(), QSize(645, 469) * w.devicePixelRatioF());
    EXPECT_EQ(ui(w).orvaneLogo->pixmap().devicePixelRatio(), w.devicePixelRatioF());

    const QFontMetrics fm(w.font());
    int checked = 0;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (c->parentWidget() != &w && c->parentWidget() != ui(w).mainFrame)
            continue;
        QStyle* st = c->style();
        QString text;
        int room = -1;
        int height = c->height();
        bool wraps = false;
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            if (b->autoDefault())
                opt.features |= QStyleOptionButton::AutoDefaultButton;
            text = b->text();
            room = st->subElementRect(QStyle::SE_PushButtonContents, &opt, b).width();
        } else if (auto* cb = qobject_cast<QCheckBox*>(c)) {
            QStyleOptionButton opt;
            opt.initFrom(cb);
            opt.text = cb->text();
            text = cb->text();
            room = st->subElementRect(QStyle::SE_CheckBoxContents, &opt, cb).width();
            wraps = cb->height() >= 2 * fm.height();
        } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
            QStyleOptionComboBox opt;
            opt.initFrom(combo);
            opt.editable = combo->isEditable();
            opt.frame = combo->hasFrame();
            const QRect field =
                st->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                EXPECT_LE(fm.horizontalAdvance(combo->itemText(i)), field.width())
                    << id(c) << ": " << combo->itemText(i).toStdString();
            EXPECT_LE(fm.height(), field.height()) << id(c);
            ++checked;
            continue;
        } else if (auto* l = qobject_cast<QLabel*>(c)) {
            text = l->text();
            room = l->contentsRect().width();
        } else {
            continue;
        }
        ++checked;
        if (wraps) {
            // Each word fits a line, and the wrapped caption the height.
            for (const QString& word : text.split(u' '))
                EXPECT_LE(fm.horizontalAdvance(word), room) << id(c);
            EXPECT_LE(fm.boundingRect(QRect(0, 0, room, 1000), Qt::TextWordWrap, text).height(),
                      height)
                << id(c);
        } else {
            EXPECT_LE(fm.horizontalAdvance(text), room) << id(c) << ": " << text.toStdString();
            EXPECT_LE(fm.height(), height) << id(c);
        }
    }
    EXPECT_GE(checked, 18);

    // Design edges given in twips may share one pixel; more is an overlap.
    for (QWidget* parent : {static_cast<QWidget*>(&w), static_cast<QWidget*>(ui(w).mainFrame)}) {
        const QList<QWidget*> kids = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* k : kids)
            EXPECT_TRUE(parent->rect().contains(k->geometry())) << id(k) << " is cut off";
        for (qsizetype i = 0; i < kids.size(); ++i) {
            for (qsizetype j = i + 1; j < kids.size(); ++j) {
                const QRect x = kids[i]->geometry() & kids[j]->geometry();
                EXPECT_TRUE(x.isEmpty() || x.width() <= 1 || x.height() <= 1)
                    << id(kids[i]) << " overlaps " << id(kids[j]);
            }
        }
    }
}
