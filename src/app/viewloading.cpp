// SPDX-License-Identifier: Apache-2.0
#include "viewloading.h"

#include "common/msgbox.h"
#include "common/yield.h"
#include "model/viewlistmodel.h"
#include "progress/progresssink.h"

namespace tsy {

using model::ViewListModel;

ViewLoader::ViewLoader(ViewListModel& list, ProgressSink& progress, QObject* parent)
    : QObject(parent), m_list(list), m_progress(progress) {}

bool ViewLoader::start(cc::Session& session) {
    if (m_job)
        return false;
    m_list.clear();
    m_list.beginBatch();
    m_progress.start_progress(QStringLiteral("Loading all views..."));
    emit started();
    do_events();
    m_job = session.listViews(this);
    connect(m_job, &cc::ListingJob::viewListed, this,
            [this](const QString& tag, const QString& host) {
                m_list.addView(tag, host);
                do_events();
                m_progress.set_msg(QStringLiteral("Loading --> ") + tag);
            });
    connect(m_job, &cc::ListingJob::viewUnreadable, this, [] { do_events(); });
    connect(m_job, &cc::Job::finished, this, [this] { done(LoadEnd::Complete); });
    return true;
}

void ViewLoader::abandon() {
    if (!m_job)
        return;
    m_job->abandon();
    done(LoadEnd::Abandoned);
}

void ViewLoader::askToStop() {
    if (!m_job || m_asking)
        return;
    const QPointer<cc::ListingJob> job = m_job;
    m_asking = true;
    // The listing goes on while the question is open.
    const bool stop = msg_box(QStringLiteral("Stop loading?"), QString(), MsgIcon::None,
                              MsgButtons::YesNo) == MsgAnswer::Yes;
    m_asking = false;
    // Meanwhile the listing may have ended, or the window closed.
    if (!stop || !m_job || m_job != job)
        return;
    m_job->abandon();
    done(LoadEnd::Stopped);
}

void ViewLoader::done(LoadEnd end) {
    cc::ListingJob* job = m_job;
    m_job = nullptr;
    const cc::ListingReport report = job->report();
    job->deleteLater();
    m_list.endBatch();
    m_progress.stop_progress();
    emit finished(report, end);
}

} // namespace tsy
