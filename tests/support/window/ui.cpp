// SPDX-License-Identifier: Apache-2.0
#include "ui.h"

#include "fakecc.h"

#include "progress/frmprogress.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace tsy::test {

namespace {
template <class T> T* find(frmMain& w, const char* name) {
    T* c = w.findChild<T*>(QLatin1StringView(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}
} // namespace

Ui::Ui(frmMain& w)
    : orvaneLogo(find<QLabel>(w, "orvaneLogo")), mainFrame(find<QGroupBox>(w, "mainFrame")),
      aboutBut(find<QPushButton>(w, "aboutBut")), cancelBut(find<QPushButton>(w, "cancelBut")),
      loadViewsBut(find<QPushButton>(w, "loadViewsBut")),
      viewsFoundLbl(find<QLabel>(w, "viewsFoundLbl")), viewsList(find<QListView>(w, "viewsList")),
      viewsModel(find<model::ViewListModel>(w, "viewsModel")),
      selectAllBut(find<QPushButton>(w, "selectAllBut")),
      clearAllBut(find<QPushButton>(w, "clearAllBut")),
      caseInsensitiveCB(find<QCheckBox>(w, "caseInsensitiveCB")),
      selectAllByPatternCB(find<QCheckBox>(w, "selectAllByPatternCB")),
      selectAllByPatternTxt(find<QLineEdit>(w, "selectAllByPatternTxt")),
      selectItemsFoundCB(find<QCheckBox>(w, "selectItemsFoundCB")),
      filterActionCombo(find<QComboBox>(w, "filterActionCombo")),
      filterBut(find<QPushButton>(w, "filterBut")),
      filterPatternTxt(find<QLineEdit>(w, "filterPatternTxt")),
      runModeLbl(find<QLabel>(w, "runModeLbl")), runModeCombo(find<QComboBox>(w, "runModeCombo")),
      Line1(find<QFrame>(w, "Line1")), actionLbl(find<QLabel>(w, "actionLbl")),
      actionCombo(find<QComboBox>(w, "actionCombo")),
      actionArgsTxt(find<QLineEdit>(w, "actionArgsTxt")),
      executeFixProtBut(find<QPushButton>(w, "executeFixProtBut")),
      Image1(find<QLabel>(w, "Image1")) {}

frmProgress* progress_of(frmMain& w) {
    return w.progress().window();
}

bool progress_shown(frmMain& w) {
    const frmProgress* p = progress_of(w);
    return p && p->isVisible();
}

QString progress_message(frmMain& w) {
    const frmProgress* p = progress_of(w);
    return p ? p->message() : QStringLiteral("(no progress window)");
}

bool settle(frmMain& w, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    // One turn at least: every request answers on a later turn.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while ((w.operationUnderway() || w.reportPending()) && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !w.operationUnderway();
}

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, ms - int(t.elapsed()));
}

void when(QObject* context, std::function<bool()> ready, std::function<void()> action,
          int timeoutMs) {
    auto* timer = new QTimer(context);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::destroyed, [clock] { delete clock; });
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        const bool now = ready();
        if (!now && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (now)
            action();
    });
    timer->start(5);
}

void type_into(QComboBox* box, const QString& text, bool pressReturn) {
    QLineEdit* edit = box->lineEdit();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (pressReturn)
        QTest::keyClick(edit, Qt::Key_Return);
}

FakeWindow::FakeWindow() : backend(std::make_shared<FakeBackend>()) {
    w = std::make_unique<frmMain>(backend);
    EXPECT_TRUE(w->Form_Load());
}

FakeWindow::~FakeWindow() {
    w.reset();
}

QList<QWidget*> designed_tab_order(frmMain& w) {
    return {ui(w).cancelBut,
            ui(w).viewsList,
            ui(w).executeFixProtBut,
            ui(w).actionCombo,
            ui(w).selectAllBut,
            ui(w).clearAllBut,
            ui(w).filterBut,
            ui(w).filterPatternTxt,
            ui(w).loadViewsBut,
            ui(w).filterActionCombo,
            ui(w).caseInsensitiveCB,
            ui(w).selectItemsFoundCB,
            ui(w).selectAllByPatternCB,
            ui(w).selectAllByPatternTxt,
            ui(w).actionArgsTxt,
            ui(w).runModeCombo,
            ui(w).aboutBut};
}

} // namespace tsy::test
