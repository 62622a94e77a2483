// SPDX-License-Identifier: Apache-2.0
#include "frmmain.h"

#include "about.h"
#include "common/artwork.h"
#include "install.h"
#include "wrapcheckbox.h"

#include "app/repairrun.h"
#include "app/selection.h"
#include "app/storagecheck.h"
#include "app/viewdetails.h"
#include "app/viewloading.h"
#include "common/duplist.h"
#include "common/msgbox.h"
#include "model/viewlistmodel.h"
#include "progress/frmprogress.h"
#include "repair/fixprot.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace tsy {

using model::ViewListModel;

using repair::RunMode;

namespace {
// The designed layout is in twips; 15 twips make a pixel.
constexpr QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// What is typed into an editable box stays as typed and runs no handler,
// whatever it is: only an item picked (from the list, with the arrow keys
// or the wheel) does. No completion, no insertion, and when editing ends
// (Return, or the focus leaving) the box must not look for an item of the
// typed text, make it current and report it as picked, as QComboBox does.
void typed_text_stays(QComboBox* c) {
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    QObject::disconnect(c->lineEdit(), &QLineEdit::editingFinished, c, nullptr);
}

// A key held down repeats its press. A repeated press never presses a
// button, ticks a box or opens a line's report: a Return held to close a
// message box would otherwise go on to the focused button (Execute, at the
// end of a run) and press it again and again.
class RepeatedPressGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || !static_cast<QKeyEvent*>(e)->isAutoRepeat())
            return false;
        switch (static_cast<QKeyEvent*>(e)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
        case Qt::Key_Select:
            return qobject_cast<QAbstractButton*>(watched) ||
                   qobject_cast<QAbstractItemView*>(watched);
        default:
            return false;
        }
    }
};

void use_highlight_text(QWidget* w) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Highlight));
    pal.setColor(QPalette::Text, pal.color(QPalette::Highlight));
    w->setPalette(pal);
}

// A line the list cannot show whole (wider than the list, so part of it
// lies beyond the visible width) shows its whole text as a tool tip; over
// any other line the list's own tool tip (the view last reported on)
// shows, as it does below the last line.
class CutLineTips : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* e, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (e->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(e, view, option, index);
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (!cut_short(opt, view))
            return false; // the list shows its own
        QToolTip::showText(e->globalPos(), opt.text, view->viewport(), opt.rect);
        return true;
    }

private:
    // Where the style draws the text: its rectangle less a margin on each
    // side, elided when it does not fit; the list may also scroll part of
    // it out of sight.
    static bool cut_short(const QStyleOptionViewItem& opt, const QAbstractItemView* view) {
        const QStyle* style = view->style();
        const QRect box = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, view);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const int width = opt.fontMetrics.horizontalAdvance(opt.text);
        const int left = box.left() + margin;
        return width > box.width() - 2 * margin || left < 0 ||
               left + width > view->viewport()->width();
    }
};

template <class W> W* place(W* w, const char* name, const QRect& r) {
    w->setObjectName(QLatin1StringView(name));
    w->setGeometry(r);
    return w;
}
} // namespace

frmMain::frmMain(std::shared_ptr<cc::Backend> backend, QWidget* parent)
    : QWidget(parent), m_backend(std::move(backend)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tessaly (TSY) - ") + vendor_host());
    setWindowIcon(app_icon());
    setFixedSize(645, 469);
    // Where MS Sans Serif is missing, a face of the same width keeps the
    // captions inside their fixed controls.
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                   QStringLiteral("Helvetica")});
    f.setPointSizeF(8.25);
    f.setWeight(QFont::Normal);
    setFont(f);
    // Every window's keys pass it: message boxes' buttons too.
    QCoreApplication::instance()->installEventFilter(new RepeatedPressGuard(this));
    buildControls();
    connectControllers();
    if (const QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
    orvaneLogo = place(new QLabel(this), "orvaneLogo", twips(240, 120, 9255, 630));
    orvaneLogo->setFrameStyle(QFrame::Box | QFrame::Plain);
    orvaneLogo->setLineWidth(1);
    orvaneLogo->setPixmap(logo_banner(devicePixelRatioF()));
    orvaneLogo->setCursor(Qt::PointingHandCursor);
    orvaneLogo->setToolTip(vendor_address());
    orvaneLogo->installEventFilter(this);

    mainFrame = place(new QGroupBox(this), "mainFrame", twips(240, 960, 9255, 5415));
    aboutBut = place(new QPushButton(QStringLiteral("About"), this), "aboutBut",
                     twips(3600, 6480, 1095, 495));
    cancelBut = place(new QPushButton(QStringLiteral("Exit"), this), "cancelBut",
                      twips(4920, 6480, 1215, 495));
    cancelBut->setToolTip(QStringLiteral("Exit application"));

    QWidget* fr = mainFrame;
    loadViewsBut = place(new QPushButton(QStringLiteral("Load Views"), fr), "loadViewsBut",
                         twips(240, 240, 1215, 255));
    viewsFoundLbl = place(new QLabel(QStringLiteral("found"), fr), "viewsFoundLbl",
                          twips(1680, 240, 2535, 255));
    use_highlight_text(viewsFoundLbl);

    viewsList = place(new QListView(fr), "viewsList", twips(240, 480, 6495, 3660));
    viewsModel = new ViewListModel(this);
    // Tags are case-sensitive on UNIX ClearCase, not on Windows.
    viewsModel->setCaseSensitiveTags(m_backend->fixProtStyle() == cc::FixProtStyle::Unix);
    viewsModel->setObjectName(QStringLiteral("viewsModel"));
    viewsList->setModel(viewsModel);
    viewsList->setItemDelegate(new CutLineTips(viewsList));
    viewsList->setUniformItemSizes(true);
    viewsList->setSelectionMode(QAbstractItemView::SingleSelection);
    viewsList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    viewsList->setLayoutMode(QListView::SinglePass);
    use_highlight_text(viewsList);
    viewsList->viewport()->installEventFilter(this);
    viewsList->installEventFilter(this);

    selectAllBut = place(new QPushButton(QStringLiteral("Select All"), fr), "selectAllBut",
                         twips(240, 4200, 975, 255));
    clearAllBut = place(new QPushButton(QStringLiteral("Clear All"), fr), "clearAllBut",
                        twips(1320, 4200, 975, 255));
    caseInsensitiveCB = place(new QCheckBox(QStringLiteral("Case Insensitive"), fr),
                              "caseInsensitiveCB", twips(4680, 4320, 1935, 255));
    caseInsensitiveCB->setChecked(true);
    selectAllByPatternCB = place(new QCheckBox(QStringLiteral("that matches:"), fr),
                                 "selectAllByPatternCB", twips(480, 4560, 1335, 255));
    selectAllByPatternTxt = place(new QLineEdit(QStringLiteral("<pattern>"), fr),
                                  "selectAllByPatternTxt", twips(1800, 4560, 2655, 285));
    {
        QPalette pal = selectAllByPatternTxt->palette();
        // The inactive-border colour of the design: a light grey.
        pal.setColor(QPalette::Base, QColor(0xd4, 0xd0, 0xc8));
        selectAllByPatternTxt->setPalette(pal);
    }
    selectItemsFoundCB =
        place(new WrapCheckBox(QStringLiteral("Select Items Matching Pattern"), fr),
              "selectItemsFoundCB", twips(4680, 4560, 2055, 495));
    filterActionCombo = place(new QComboBox(fr), "filterActionCombo", twips(240, 4920, 1335, 315));
    filterActionCombo->setEditable(true);
    typed_text_stays(filterActionCombo);
    filterActionCombo->setEditText(QStringLiteral("Combo1"));
    use_highlight_text(filterActionCombo);
    filterBut = place(new QPushButton(QStringLiteral("Filter -->"), fr), "filterBut",
                      twips(1680, 4920, 855, 255));
    filterPatternTxt = place(new QLineEdit(QStringLiteral("<pattern>"), fr), "filterPatternTxt",
                             twips(2520, 4920, 1935, 285));

    runModeLbl = place(new QLabel(QStringLiteral("Execute Mode:"), fr), "runModeLbl",
                       twips(6840, 480, 1575, 255));
    runModeCombo = place(new QComboBox(fr), "runModeCombo", twips(6840, 720, 2295, 315));
    Line1 = place(new QFrame(fr), "Line1", QRect(6840 / 15, 1200 / 15, (9120 - 6840) / 15 + 1, 2));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    actionLbl = place(new QLabel(QStringLiteral("Execute Command:"), fr), "actionLbl",
                      twips(6840, 1320, 1575, 255));
    actionCombo = place(new QComboBox(fr), "actionCombo", twips(6840, 1560, 2295, 315));
    actionCombo->setEditable(true);
    typed_text_stays(actionCombo);
    actionArgsTxt = place(new QLineEdit(QStringLiteral("<arguments>"), fr), "actionArgsTxt",
                          twips(6840, 1920, 2295, 285));
    executeFixProtBut = place(new QPushButton(QStringLiteral("Execute"), fr), "executeFixProtBut",
                              twips(7920, 2280, 1215, 735));
    Image1 = place(new QLabel(fr), "Image1", twips(6960, 3480, 1890, 1410));
    Image1->setPixmap(decorative_picture(devicePixelRatioF()));

    runModeLbl->setBuddy(runModeCombo);
    actionLbl->setBuddy(actionCombo);
    nameForAssistiveTools();
    // Enter presses the focused button or ticks the focused box, as Space
    // does; outside a dialog Qt leaves Enter to the window.
    for (QAbstractButton* b : findChildren<QAbstractButton*>())
        b->installEventFilter(this);

    // Disabled until views are loaded.
    for (QWidget* w :
         {static_cast<QWidget*>(selectAllBut), static_cast<QWidget*>(clearAllBut),
          static_cast<QWidget*>(selectAllByPatternCB), static_cast<QWidget*>(selectAllByPatternTxt),
          static_cast<QWidget*>(filterActionCombo), static_cast<QWidget*>(filterBut),
          static_cast<QWidget*>(filterPatternTxt)})
        w->setEnabled(false);

    // The designed tab order.
    const QList<QWidget*> order = {cancelBut,
                                   viewsList,
                                   executeFixProtBut,
                                   actionCombo,
                                   selectAllBut,
                                   clearAllBut,
                                   filterBut,
                                   filterPatternTxt,
                                   loadViewsBut,
                                   filterActionCombo,
                                   caseInsensitiveCB,
                                   selectItemsFoundCB,
                                   selectAllByPatternCB,
                                   selectAllByPatternTxt,
                                   actionArgsTxt,
                                   runModeCombo,
                                   aboutBut};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    cancelBut->setFocus(Qt::OtherFocusReason);

    connect(cancelBut, &QPushButton::clicked, this, &frmMain::cancelBut_Click);
    connect(aboutBut, &QPushButton::clicked, this, &frmMain::aboutBut_Click);
    connect(loadViewsBut, &QPushButton::clicked, this, &frmMain::loadViewsBut_Click);
    connect(viewsModel, &ViewListModel::itemCheck, this, &frmMain::viewsList_ItemCheck);
    connect(selectAllBut, &QPushButton::clicked, this, &frmMain::selectAllBut_Click);
    connect(clearAllBut, &QPushButton::clicked, this, &frmMain::clearAllBut_Click);
    connect(selectAllByPatternCB, &QCheckBox::clicked, this, &frmMain::selectAllByPatternCB_Click);
    connect(filterActionCombo, &QComboBox::activated, this, &frmMain::filterActionCombo_Click);
    connect(filterBut, &QPushButton::clicked, this, &frmMain::filterBut_Click);
    connect(filterPatternTxt, &QLineEdit::textChanged, this, &frmMain::filterPatternTxt_Change);
    connect(actionCombo, &QComboBox::activated, this, &frmMain::actionCombo_Click);
    connect(runModeCombo, &QComboBox::activated, this, &frmMain::runModeCombo_Click);
    connect(executeFixProtBut, &QPushButton::clicked, this, &frmMain::executeFixProtBut_Click);
}

void frmMain::nameForAssistiveTools() {
    struct Named {
        QWidget* w;
        const char* name;
        const char* description;
    };
    const Named names[] = {
        {orvaneLogo, "Orvane web site", "Opens the vendor's web site in the browser"},
        {mainFrame, "Views", ""},
        {aboutBut, "About", "Shows the notice about this program"},
        {cancelBut, "Exit", "Exit application"},
        {loadViewsBut, "Load Views", "Lists every ClearCase view of the region"},
        {viewsFoundLbl, "Views found", ""},
        {viewsList, "Views",
         "ClearCase views as tag:host; Space checks a view, Enter shows its details"},
        {selectAllBut, "Select All", "Checks every view, or those matching the pattern"},
        {clearAllBut, "Clear All", "Unchecks every view"},
        {caseInsensitiveCB, "Case Insensitive", "Patterns ignore letter case"},
        {selectAllByPatternCB,
         "that matches:", "Select All checks only views matching the pattern"},
        {selectAllByPatternTxt, "Select All pattern", "Text a view line must contain"},
        {selectItemsFoundCB, "Select Items Matching Pattern", "Find also checks the view it finds"},
        {filterActionCombo, "Find or filter",
         "Find-->: go to the next match; Filter-->: remove matches"},
        // The button's name is its caption, which names the chosen action.
        {filterBut, "", "Runs the chosen find or filter action"},
        {filterPatternTxt, "Find or filter pattern", "Text to find or to filter out"},
        {runModeLbl, "Execute Mode:", ""},
        {runModeCombo, "Execute Mode", "How fix_prot appears: Normal, Hide or Minimized"},
        {actionLbl, "Execute Command:", ""},
        {actionCombo, "Execute Command", "The action Execute runs on each checked view"},
        {actionArgsTxt, "Arguments", "Arguments passed to fix_prot"},
        {executeFixProtBut, "Execute", "Repairs the protections of every checked view"},
        {Image1, "Decoration", ""},
    };
    for (const Named& n : names) {
        if (*n.name)
            n.w->setAccessibleName(QString::fromUtf8(n.name));
        n.w->setAccessibleDescription(QString::fromUtf8(n.description));
    }
}

cc::Session& frmMain::session() {
    if (!m_session)
        m_session = m_backend->createSession(CCHOME);
    return *m_session;
}

void frmMain::connectControllers() {
    m_progress = new ProgressWindow(this);
    m_loader = new ViewLoader(*viewsModel, *m_progress, this);
    m_details = new DetailsReporter(this);
    m_selection = new Selection(*viewsModel, *viewsList->selectionModel(), this);
    m_run = new RepairRun(*viewsModel, *m_progress, this);
    m_check = new StorageCheck(*viewsModel, *m_progress, this);
    viewsList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(viewsList, &QWidget::customContextMenuRequested, this, &frmMain::viewsList_ContextMenu);
    connect(m_check, &StorageCheck::started, this, [this] {
        busy(true);
        beginOperation();
    });
    connect(m_check, &StorageCheck::finished, this, [this] {
        busy(false);
        endOperation();
    });
    // The operator's close of the progress window asks the load or run
    // under way whether to stop (each ignores it while it is not running).
    // A listing only reads and stops at once; a run finishes its view.
    connect(m_progress, &ProgressWindow::closeRequested, m_loader, &ViewLoader::askToStop);
    connect(m_progress, &ProgressWindow::closeRequested, m_run, &RepairRun::askToStop);

    connect(m_loader, &ViewLoader::started, this, [this] {
        beginOperation();
        busy(true);
        // The list is hidden while it fills, and a hidden list would pass
        // its focus on to the next control: the window itself holds it
        // meanwhile, where keys do nothing. (With no focus at all, the
        // window would hand it to its first control when next activated.)
        setFocus(Qt::OtherFocusReason);
        viewsList->hide();
    });
    connect(m_loader, &ViewLoader::finished, this, &frmMain::loadFinished);
    connect(m_details, &DetailsReporter::viewFound, viewsList, &QWidget::setToolTip);

    // The run reads the action and the mode at every row, the arguments
    // once at its start.
    const auto options = [this] {
        RunOptions& o = m_run->options();
        o.actionText = actionCombo->currentText();
        o.argsText = actionArgsTxt->text();
        o.mode = static_cast<RunMode>(GRunMode);
    };
    connect(actionCombo, &QComboBox::currentTextChanged, this, options);
    connect(actionArgsTxt, &QLineEdit::textChanged, this, options);
    connect(runModeCombo, &QComboBox::currentTextChanged, this, options);
    connect(m_run, &RepairRun::started, this, [this] {
        busy(true);
        beginOperation();
    });
    connect(m_run, &RepairRun::finished, this, [this] {
        busy(false);
        endOperation();
    });
}

void frmMain::loadFinished(const cc::ListingReport& report, LoadEnd end) {
    viewsList->show();
    if (viewsModel->count() >= 1)
        setCurrentRow(0);
    update_view_cnt();
    // The report comes while the pointer is still busy and before the
    // controls are back.
    if (end != LoadEnd::Abandoned && !m_unloading) {
        QString text = cc::report_text(report);
        if (end == LoadEnd::Stopped) {
            const QString stopped =
                QStringLiteral("The list is incomplete: loading was stopped after %1 views.")
                    .arg(viewsModel->count());
            text = text.isEmpty() ? stopped : stopped + QStringLiteral("\r\n") + text;
        }
        if (!text.isEmpty())
            msg_box(text);
    }
    busy(false);
    const bool any = viewsModel->count() >= 1;
    for (QWidget* w :
         {static_cast<QWidget*>(selectAllBut), static_cast<QWidget*>(clearAllBut),
          static_cast<QWidget*>(filterActionCombo), static_cast<QWidget*>(filterPatternTxt)})
        w->setEnabled(any);
    if (any) {
        selectAllByPatternCB->setEnabled(true);
        selectAllByPatternTxt->setEnabled(true);
    } else {
        setFilterButWanted(false);
    }
    endOperation();
}

bool frmMain::Form_Load() {
    actionCombo->clear();
    actionCombo->addItem(QStringLiteral("fix_prot"));
    actionCombo->setCurrentIndex(0);
    actionCombo_Click();

    if (!is_clearcase_installed(CCHOME)) {
        msg_box(QStringLiteral("ClearCase is not installed on system!"),
                QStringLiteral("ClearCase Not installed!"), MsgIcon::Critical);
        close();
        return false;
    }

    runModeCombo->addItem(QStringLiteral("Normal"));
    runModeCombo->addItem(QStringLiteral("Hide"));
    runModeCombo->addItem(QStringLiteral("Minimized"));
    runModeCombo->setCurrentIndex(0);
    runModeCombo_Click();
    return true;
}

void frmMain::Form_Unload() {
    do_unload();
}

void frmMain::do_unload() {
    if (m_unloading)
        return;
    m_unloading = true;
    // A read-only query still under way is stopped; a running fix_prot or
    // endview finishes alone, and no further server is stopped.
    m_loader->abandon();
    m_details->abandon();
    m_run->abandon();
    m_check->abandon();
    m_progress->shutdown();
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget* w : tops) {
        if (w != this && w->isVisible())
            w->close();
    }
}

void frmMain::busy(bool mode) {
    if (mode)
        setCursor(Qt::WaitCursor);
    else
        setCursor(Qt::ArrowCursor);
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

bool frmMain::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        Form_Activate();
    } else if (e->type() == QEvent::Show && !m_activatedOnce) {
        // Some desktops never activate a window that is not focused; the
        // combo box must still be ready once the window is on the screen.
        m_activatedOnce = true;
        Form_Activate();
    }
    return QWidget::event(e);
}

bool frmMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == orvaneLogo && e->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton && orvaneLogo->rect().contains(me->position().toPoint()))
            orvaneLogo_Click();
        return false;
    }
    if (watched == viewsList->viewport() && e->type() == QEvent::MouseButtonPress) {
        // As in a check-box list: a press on a line, its box included, makes
        // it current (the view would tick the box and leave the current
        // line where it was); a press below the last line leaves none.
        const QModelIndex at =
            viewsList->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
        setCurrentRow(at.isValid() ? at.row() : -1);
        return false;
    }
    if (watched == viewsList->viewport() && e->type() == QEvent::MouseButtonDblClick) {
        // The press before it has made the line under the pointer current.
        viewsList_DblClick();
        return false;
    }
    if (e->type() == QEvent::KeyPress) {
        auto* button = qobject_cast<QAbstractButton*>(watched);
        auto* ke = static_cast<QKeyEvent*>(e);
        const bool enter = ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter;
        if (button && enter && (ke->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (button->isEnabled())
                button->click();
            return true;
        }
    }
    if (watched == viewsList && e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
            viewsList_DblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

int frmMain::currentRow() const {
    return m_selection->currentRow();
}

void frmMain::setCurrentRow(int row) {
    m_selection->setCurrentRow(row);
}

bool frmMain::reportPending() const {
    return m_details->running();
}

void frmMain::beginOperation() {
    if (m_operations++ == 0) {
        // The button that started it is about to be disabled, and Qt would
        // hand the focus to the next control: an editable box with its text
        // selected, where one stray key rewrites the action mid-run. The
        // list takes it instead, where keys only move or tick lines.
        // The window's own focus widget: another window may be the active one.
        m_focusBefore = focusWidget();
        if (m_focusBefore)
            viewsList->setFocus(Qt::OtherFocusReason);
    }
    applyOperationState();
}

void frmMain::endOperation() {
    if (m_operations > 0)
        --m_operations;
    applyOperationState();
    if (m_operations == 0 && m_focusBefore &&
        (focusWidget() == viewsList || focusWidget() == this) && m_focusBefore->isEnabled())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
}

void frmMain::setFilterButWanted(bool enabled) {
    m_filterButWanted = enabled;
    applyOperationState();
}

void frmMain::applyOperationState() {
    const bool idle = m_operations == 0;
    loadViewsBut->setEnabled(idle);
    executeFixProtBut->setEnabled(idle);
    filterBut->setEnabled(idle && m_filterButWanted);
}

// ---- Handlers: each hands the work to its subsystem ------------------------

void frmMain::cancelBut_Click() {
    close();
}
void frmMain::aboutBut_Click() {
    show_about();
}
void frmMain::orvaneLogo_Click() {
    open_vendor_link();
}

void frmMain::loadViewsBut_Click() {
    if (operationUnderway())
        return;
    m_loader->start(session());
}
void frmMain::update_view_cnt() {
    viewsFoundLbl->setText(QStringLiteral("Found: ") + QString::number(viewsModel->count()) +
                           QStringLiteral(" views"));
}
void frmMain::viewsList_DblClick() {
    // A double-click that lands on no line reports nothing.
    const int row = currentRow();
    if (viewsModel->count() == 0 || row < 0)
        return;
    m_details->start(session(), viewsModel->tag(row));
}

// A mark changed by hand changes only that line's own mark.
void frmMain::viewsList_ItemCheck(int) {}

namespace {
// A check box counts as ticked only when it is fully checked.
bool ticked(const QCheckBox* box) {
    return box && box->checkState() == Qt::Checked;
}
const QString kFind = QStringLiteral("Find-->");
const QString kFilter = QStringLiteral("Filter-->");
} // namespace

void frmMain::selectAllBut_Click() {
    const QString pattern =
        ticked(selectAllByPatternCB) ? selectAllByPatternTxt->text() : QString();
    m_selection->setCheckState(true, pattern, ticked(caseInsensitiveCB));
}
void frmMain::clearAllBut_Click() {
    m_selection->setCheckState(false, QString(), ticked(caseInsensitiveCB));
}
void frmMain::selectAllByPatternCB_Click() {
    QPalette pal = selectAllByPatternTxt->palette();
    const QPalette sys = QApplication::palette();
    const bool on = ticked(selectAllByPatternCB);
    pal.setColor(QPalette::Base, sys.color(on ? QPalette::Base : QPalette::Button));
    selectAllByPatternTxt->setPalette(pal);
    selectAllByPatternTxt->setEnabled(on);
}
void frmMain::filterActionCombo_Click() {
    const QString action = filterActionCombo->currentText();
    filterBut->setText(action);
    if (action == kFilter)
        selectItemsFoundCB->setEnabled(false);
    else
        selectItemsFoundCB->setEnabled(caseInsensitiveCB->isEnabled());
}
void frmMain::filterBut_Click() {
    const QString action = filterActionCombo->currentText();
    const QString pattern = filterPatternTxt->text();
    if (action == kFind) {
        m_selection->findNext(
            pattern, ticked(caseInsensitiveCB),
            ticked(selectItemsFoundCB) && selectItemsFoundCB->isEnabled(), [] {
                return msg_box(QStringLiteral("Either at the end of the list or couldn't "
                                              "find\r\nthe pattern\r\n\r\n>> Do you want "
                                              "to search from the beginning? <<"),
                               QStringLiteral("Done Searching..."), MsgIcon::Information,
                               MsgButtons::YesNo) == MsgAnswer::Yes;
            });
    } else if (action == kFilter) {
        // Removing lines under a running load or run would change the rows
        // beneath it.
        if (!operationUnderway())
            m_selection->filter(pattern);
    }
    update_view_cnt();
}
void frmMain::filterPatternTxt_Change() {
    const QString t = filterPatternTxt->text();
    const bool usable = !t.isEmpty() && t != QLatin1StringView("<pattern>");
    // While a load or run is under way the button stays disabled; it takes
    // this state when the operation ends.
    setFilterButWanted(usable);
    selectItemsFoundCB->setEnabled(usable);
}

void frmMain::actionCombo_Click() {
    if (actionCombo->currentText() == QLatin1StringView("fix_prot")) {
        actionArgsTxt->setText(repair::default_args(m_backend->fixProtStyle()));
        actionArgsTxt->setCursorPosition(0); // show the arguments from their start
    }
}
void frmMain::runModeCombo_Click() {
    const QString t = runModeCombo->currentText();
    if (t == QLatin1StringView("Hide"))
        GRunMode = static_cast<qint32>(RunMode::Hide);
    else if (t == QLatin1StringView("Normal"))
        GRunMode = static_cast<qint32>(RunMode::Normal);
    else if (t == QLatin1StringView("Minimized"))
        GRunMode = static_cast<qint32>(RunMode::Minimized);
    m_run->options().mode = static_cast<RunMode>(GRunMode);
}
void frmMain::executeFixProtBut_Click() {
    if (operationUnderway())
        return;
    RunOptions& o = m_run->options();
    o.actionText = actionCombo->currentText();
    o.argsText = actionArgsTxt->text();
    o.mode = static_cast<RunMode>(GRunMode);
    m_run->start(session(), CCHOME);
}

void frmMain::viewsList_ContextMenu(const QPoint& at) {
    QMenu menu(viewsList);
    QAction* check = menu.addAction(QStringLiteral("Check the ticked views"));
    check->setObjectName(QStringLiteral("checkTickedAction"));
    // The list does not change while a load or run is under way.
    check->setEnabled(!operationUnderway());
    connect(check, &QAction::triggered, this, &frmMain::checkTickedViews);
    menu.exec(viewsList->viewport()->mapToGlobal(at));
}

void frmMain::checkTickedViews() {
    if (operationUnderway())
        return;
    m_check->start(session(), CCHOME);
}

void frmMain::Form_Activate() {
    // The find/filter box gets its two actions the first time.
    const ComboTextList items(filterActionCombo);
    if (is_dup_list(kFilter, items) || is_dup_list(kFind, items))
        return;
    filterActionCombo->addItem(kFind);
    filterActionCombo->addItem(kFilter);
    filterActionCombo->setCurrentIndex(0);
    filterActionCombo_Click();
}

} // namespace tsy
