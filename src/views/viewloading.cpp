#include "viewloading.h"

#include "clearcase/viewlistmodel.h"
#include "common/yield.h"
#include "progress/frmprogress.h"

#include <algorithm>

namespace tsy::views {

QString load_report_text(const cc::ListingReport& r) {
    if (!r.failedBefore && r.unreadable == 0 && r.sideFailure.isEmpty())
        return QString();
    QString text = QStringLiteral("ClearTool returned error: ") +
                   (r.lastFailure.isEmpty() ? r.sideFailure : r.lastFailure);
    if (r.unreadable > 0) {
        text += QStringLiteral("\r\n%1 of %2 views could not be read and are not listed.")
                    .arg(r.unreadable)
                    .arg(r.total);
    }
    if (!r.unreadNames.isEmpty()) {
        // Each view that was lost is named, so that it can be looked at.
        constexpr int kShown = 20;
        const int named = std::max<int>(r.unreadNames.size(), r.unreadable);
        text += QStringLiteral("\r\nNot listed: ") +
                QStringList(r.unreadNames.mid(0, kShown)).join(QStringLiteral(", "));
        if (named > kShown)
            text += QStringLiteral(" and %1 more").arg(named - kShown);
    }
    if (!r.sideFailure.isEmpty() && r.sideFailure != r.lastFailure)
        text += QStringLiteral("\r\n") + r.sideFailure;
    return text;
}

ViewLoader::ViewLoader(ViewListModel& list, QObject* parent) : QObject(parent), m_list(list) {}

bool ViewLoader::start(cc::Session& session) {
    if (m_job)
        return false;
    m_list.clear();
    m_list.beginBatch();
    start_progress(QStringLiteral("Loading all views..."));
    emit started();
    do_events();
    m_job = session.listViews(this);
    connect(m_job, &cc::ListingJob::viewListed, this,
            [this](const QString& tag, const QString& host) {
                m_list.addView(tag, host);
                do_events();
                set_msg(QStringLiteral("Loading --> ") + tag);
            });
    connect(m_job, &cc::ListingJob::viewUnreadable, this, [] { do_events(); });
    connect(m_job, &cc::Job::finished, this, [this] { done(false); });
    return true;
}

void ViewLoader::abandon() {
    if (!m_job)
        return;
    m_job->abandon();
    done(true);
}

void ViewLoader::done(bool abandoned) {
    cc::ListingJob* job = m_job;
    m_job = nullptr;
    const cc::ListingReport report = job->report();
    job->deleteLater();
    m_list.endBatch();
    stop_progress();
    emit finished(report, abandoned);
}

} // namespace tsy::views
