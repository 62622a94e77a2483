// SPDX-License-Identifier: Apache-2.0
#include "viewdetails.h"

#include "common/msgbox.h"

namespace tsy {

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

bool DetailsReporter::start(cc::Session& session, const QString& tag) {
    if (m_job)
        return false;
    m_job = session.details(tag, this);
    connect(m_job, &cc::Job::finished, this, [this, tag] {
        cc::DetailsJob* job = m_job;
        m_job = nullptr;
        job->deleteLater();
        if (job->viewFound())
            emit viewFound(tag);
        if (!job->succeeded()) {
            msg_box(QStringLiteral("Failed to get information on view --> ") + tag,
                    QStringLiteral("Error Encountered..."), MsgIcon::Critical);
            return;
        }
        const cc::ViewDetails& d = job->details();
        msg_box(view_details_text(d.active, d.snapshot, d.ucm, d.host, d.configSpec),
                QStringLiteral("Vistrel: Detail for view '") + tag + QStringLiteral("'"),
                MsgIcon::Information);
    });
    return true;
}

void DetailsReporter::abandon() {
    if (!m_job)
        return;
    m_job->abandon();
    m_job->deleteLater();
    m_job = nullptr;
}

} // namespace tsy
