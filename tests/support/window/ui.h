// SPDX-License-Identifier: Apache-2.0
#pragma once

// The main window's controls as tests reach them: by object name, the way
// an operator's tools see them; and a main window over the fake backend.

#include "app/frmmain.h"
#include "model/viewlistmodel.h"
#include "temphome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include <functional>
#include <memory>

namespace tsy {
class frmProgress;
}

namespace tsy::test {

class FakeBackend;

struct Ui {
    explicit Ui(frmMain& w);
    QLabel* orvaneLogo;
    QGroupBox* mainFrame;
    QPushButton* aboutBut;
    QPushButton* cancelBut;
    QPushButton* loadViewsBut;
    QLabel* viewsFoundLbl;
    QListView* viewsList;
    model::ViewListModel* viewsModel;
    QPushButton* selectAllBut;
    QPushButton* clearAllBut;
    QCheckBox* caseInsensitiveCB;
    QCheckBox* selectAllByPatternCB;
    QLineEdit* selectAllByPatternTxt;
    QCheckBox* selectItemsFoundCB;
    QComboBox* filterActionCombo;
    QPushButton* filterBut;
    QLineEdit* filterPatternTxt;
    QLabel* runModeLbl;
    QComboBox* runModeCombo;
    QFrame* Line1;
    QLabel* actionLbl;
    QComboBox* actionCombo;
    QLineEdit* actionArgsTxt;
    QPushButton* executeFixProtBut;
    QLabel* Image1;
};

inline Ui ui(frmMain& w) {
    return Ui(w);
}

// How many rows of the list are checked.
inline int checked_count(const model::ViewListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row)
        n += list.isChecked(row) ? 1 : 0;
    return n;
}

// The main window's progress window, or null while it has none (before
// its first use, and once the main window has closed).
frmProgress* progress_of(frmMain& w);
// Whether the main window's progress window is on the screen.
bool progress_shown(frmMain& w);
// The message it was last given, or "(no progress window)".
QString progress_message(frmMain& w);

// Lets the event loop turn until the load, run or report under way has
// ended (or the window went), at most timeoutMs.
bool settle(frmMain& w, int timeoutMs = 60'000);
// Lets the event loop turn for ms.
void spin(int ms);

// Does action once ready holds, looked at every few milliseconds while the
// event loop turns (so a test acts when the state it needs has come, not
// after a guessed delay); gives up after timeoutMs or with context.
void when(QObject* context, std::function<bool()> ready, std::function<void()> action,
          int timeoutMs = 30'000);

// Types text into an editable combo box as a person does: the box's text
// selected, the keys pressed, then Return if asked.
void type_into(QComboBox* box, const QString& text, bool pressReturn = true);

// A loaded main window over the fake backend, as start-up leaves it.
struct FakeWindow {
    FakeWindow();
    ~FakeWindow();
    TempHome home;
    std::shared_ptr<FakeBackend> backend;
    std::unique_ptr<frmMain> w;
};

// The main window's focusable controls in their designed tab order.
QList<QWidget*> designed_tab_order(frmMain& w);

} // namespace tsy::test
