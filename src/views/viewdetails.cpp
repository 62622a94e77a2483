#include "viewdetails.h"

#include "app/frmmain.h"
#include "common/msgbox.h"
#include "common/textutil.h"
#include "common/viewlistmodel.h"

#include <QListView>

namespace tsy::views {

namespace {
QString word(bool b) {
    return b ? QStringLiteral("True") : QStringLiteral("False");
}
} // namespace

QString view_details_text(bool active, bool snapshot, bool ucm, const QString& host,
                          const QString& configSpec) {
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("* * * * * *") + crlf + crlf + QStringLiteral("Is Active: ") +
           word(active) + crlf + QStringLiteral("Is Snapshot: ") + word(snapshot) + crlf +
           QStringLiteral("Is UCM View: ") + word(ucm) + crlf +
           QStringLiteral("View Server Host: ") + host + crlf + crlf +
           QStringLiteral("--------------------CONFIG SPEC----------------------------- ") + crlf +
           configSpec;
}

void show_view_details(frmMain& w, QListView* list) {
    if (w.viewsModel->count() == 0)
        return;
    // A double-click that lands on no line reports nothing.
    const int row = w.currentRow();
    if (row < 0)
        return;
    QString tag;
    try {
        QString line = w.viewsModel->text(row);
        split_at_delim(line, QStringLiteral(":"));
        tag = line;
        cc::Application& app = w.ensureCC();
        std::unique_ptr<cc::View> v = app.view(tag);
        list->setToolTip(tag);
        const bool active = v->isActive();
        const bool snapshot = v->isSnapShot();
        const bool ucm = v->isUCMView();
        const QString host = v->host();
        const QString cs = v->configSpec();
        msg_box(view_details_text(active, snapshot, ucm, host, cs),
                QStringLiteral("Vistrel: Detail for view '") + tag + QStringLiteral("'"),
                MsgIcon::Information);
    } catch (...) {
        msg_box(QStringLiteral("Failed to get information on view --> ") + tag,
                QStringLiteral("Error Encountered..."), MsgIcon::Critical);
    }
}

} // namespace tsy::views
