#include "viewloading.h"

#include "app/frmmain.h"
#include "common/msgbox.h"
#include "common/textutil.h"
#include "common/viewlistmodel.h"
#include "common/yield.h"
#include "progress/frmprogress.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

namespace tsy::views {

QString storage_marker() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\");
#else
    return QStringLiteral("/");
#endif
}

void load_views(frmMain& w) {
    if (w.operationUnderway())
        return;
    w.beginOperation();
    w.busy(true);
    w.viewsModel->clear();
    w.get_myviews(*w.viewsModel, QString());
    w.busy(false);
    if (w.viewsModel->count() >= 1) {
        w.selectAllBut->setEnabled(true);
        w.selectAllByPatternCB->setEnabled(true);
        w.selectAllByPatternTxt->setEnabled(true);
        w.clearAllBut->setEnabled(true);
        w.filterActionCombo->setEnabled(true);
        w.filterPatternTxt->setEnabled(true);
    } else {
        w.selectAllBut->setEnabled(false);
        w.clearAllBut->setEnabled(false);
        w.filterActionCombo->setEnabled(false);
        w.setFilterButWanted(false);
        w.filterPatternTxt->setEnabled(false);
    }
    w.endOperation();
}

void get_myviews(frmMain& w, ViewListModel& list, const QString& /*region*/) {
    QString lastFailure;
    bool failedBefore = false; // before the first view was reached
    int unreadable = 0;
    int total = 0;

    start_progress(QStringLiteral("Loading all views..."));
    do_events();
    w.viewsList->hide();
    list.beginBatch();
    try {
        cc::Application& app = w.ensureCC();
        // The region argument is not passed on: the library's call always
        // asks for every view.
        std::unique_ptr<cc::ViewCollection> views = app.views(false, QString());
        total = views->count();
        for (int i = 1; i <= total && !w.unloading(); ++i) {
            std::unique_ptr<cc::View> v;
            try {
                v = views->item(i);
            } catch (...) {
                // Moving on to the next view failed: the enumeration ends.
                lastFailure = describe_exception(std::current_exception());
                unreadable += total - i + 1;
                break;
            }
            QString tag;
            try {
                tag = v->tagName();
                const QString line = tag + QStringLiteral(":") + v->host();
                if (!list.containsIgnoringCase(line))
                    list.addSorted(line);
            } catch (...) {
                lastFailure = describe_exception(std::current_exception());
                ++unreadable;
                tag.clear();
            }
            do_events();
            if (!tag.isEmpty())
                set_msg(QStringLiteral("Loading --> ") + tag);
        }
    } catch (...) {
        lastFailure = describe_exception(std::current_exception());
        failedBefore = true;
    }
    list.endBatch();
    w.viewsList->show();
    stop_progress();
    if (list.count() >= 1)
        w.setCurrentRow(0);
    w.update_view_cnt();

    if (w.unloading() || (!failedBefore && unreadable == 0))
        return;
    QString text = QStringLiteral("ClearTool returned error: ") + lastFailure;
    if (unreadable > 0) {
        text += QStringLiteral("\r\n%1 of %2 views could not be read and are not listed.")
                    .arg(unreadable)
                    .arg(total);
    }
    msg_box(text);
}

void update_view_cnt(frmMain& w) {
    w.viewsFoundLbl->setText(QStringLiteral("Found: ") + QString::number(w.viewsModel->count()) +
                             QStringLiteral(" views"));
}

QString getViewStg(frmMain& w, const QString& vTag) {
    QString result;
    try {
        cc::ClearTool& tool = w.ensureCTool();
        QString output = tool.cmdExec(QStringLiteral("lsview ") + vTag);
        const QString marker = storage_marker();
        const QString rest = split_at_delim(output, marker);
        result = marker + rest;
    } catch (...) {
        msg_box(QStringLiteral("ERROR:") + describe_exception(std::current_exception()) +
                    QStringLiteral(": Couldn't get view storage"),
                QStringLiteral("Error:getViewStg()"), MsgIcon::Critical);
        result.clear();
    }
    return result;
}

} // namespace tsy::views
