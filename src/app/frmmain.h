// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cc/session.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace tsy {

class ProgressWindow;
namespace model {
class ViewListModel;
}
enum class LoadEnd;
class ViewLoader;
class DetailsReporter;
class Selection;
class RepairRun;
class StorageCheck;

// The main window. Its controls sit at fixed places and are its own; the
// handlers are thin and hand the work to the controllers (loading,
// selection, the repair run), which work on the list model and report
// back through signals.
class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(std::shared_ptr<cc::Backend> backend = cc::default_backend(),
                     QWidget* parent = nullptr);
    ~frmMain() override;

    // ---- Public state -----------------------------------------------------
    QString CCHOME;
    qint32 GRunMode = 0;

    // The ClearCase session, made when first needed.
    cc::Session& session();

    // The window's progress window, which its loads and runs show. It
    // closes with the main window and is not made again after that.
    ProgressWindow& progress() { return *m_progress; }

    // ---- Life cycle -------------------------------------------------------
    // Loads the window before it is shown. False when ClearCase is not
    // installed: the window has then been closed and must not be shown.
    bool Form_Load();
    void Form_Activate();
    void Form_Unload();
    void do_unload();
    void busy(bool mode);
    bool unloading() const { return m_unloading; }

    // ---- Public routines --------------------------------------------------
    void update_view_cnt();

    // The current line of viewsList, or -1.
    int currentRow() const;
    void setCurrentRow(int row);

    // ---- Event handlers ---------------------------------------------------
    void cancelBut_Click();
    void aboutBut_Click();
    void orvaneLogo_Click();
    void loadViewsBut_Click();
    void viewsList_DblClick();
    void viewsList_ItemCheck(int index);
    void selectAllBut_Click();
    void clearAllBut_Click();
    void selectAllByPatternCB_Click();
    void filterActionCombo_Click();
    void filterBut_Click();
    void filterPatternTxt_Change();
    void actionCombo_Click();
    void runModeCombo_Click();
    void executeFixProtBut_Click();
    // The list's context menu: "Check the ticked views".
    void viewsList_ContextMenu(const QPoint& at);
    void checkTickedViews();

    // ---- Long operations --------------------------------------------------
    // While a load or a run is under way, "Load Views", "Execute" and the
    // filter button are refused. These mark an operation's start and end.
    void beginOperation();
    void endOperation();
    bool operationUnderway() const { return m_operations > 0; }
    // A detail report has been asked for and not shown yet.
    bool reportPending() const;
    // The filter button's state as its pattern and the last load ask for
    // it; applied whenever no operation is under way.
    void setFilterButWanted(bool enabled);
    bool filterButWanted() const { return m_filterButWanted; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    void connectControllers();
    void loadFinished(const cc::ListingReport& report, LoadEnd end);
    void nameForAssistiveTools();
    void applyOperationState();

    // ---- Controls, named and placed as designed ---------------------------
    QLabel* orvaneLogo = nullptr;
    QGroupBox* mainFrame = nullptr;
    QPushButton* aboutBut = nullptr;
    QPushButton* cancelBut = nullptr;
    QPushButton* loadViewsBut = nullptr;
    QLabel* viewsFoundLbl = nullptr;
    QListView* viewsList = nullptr;
    model::ViewListModel* viewsModel = nullptr;
    QPushButton* selectAllBut = nullptr;
    QPushButton* clearAllBut = nullptr;
    QCheckBox* caseInsensitiveCB = nullptr;
    QCheckBox* selectAllByPatternCB = nullptr;
    QLineEdit* selectAllByPatternTxt = nullptr;
    QCheckBox* selectItemsFoundCB = nullptr;
    QComboBox* filterActionCombo = nullptr;
    QPushButton* filterBut = nullptr;
    QLineEdit* filterPatternTxt = nullptr;
    QLabel* runModeLbl = nullptr;
    QComboBox* runModeCombo = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* actionLbl = nullptr;
    QComboBox* actionCombo = nullptr;
    QLineEdit* actionArgsTxt = nullptr;
    QPushButton* executeFixProtBut = nullptr;
    QLabel* Image1 = nullptr;

    // ---- Controllers ------------------------------------------------------
    ProgressWindow* m_progress = nullptr;
    ViewLoader* m_loader = nullptr;
    DetailsReporter* m_details = nullptr;
    Selection* m_selection = nullptr;
    RepairRun* m_run = nullptr;
    StorageCheck* m_check = nullptr;

    QPointer<QWidget> m_focusBefore; // where the focus was when an operation began
    std::shared_ptr<cc::Backend> m_backend;
    std::unique_ptr<cc::Session> m_session;
    bool m_unloading = false;
    bool m_activatedOnce = false;
    int m_operations = 0;
    bool m_filterButWanted = false;
};

} // namespace tsy
