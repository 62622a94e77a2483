#include "viewrepair.h"

#include "fixprot.h"
#include "session.h"

namespace tsy {

ViewRepair::ViewRepair(cc::Session& session, RepairRequest request, QObject* parent)
    : QObject(parent), m_session(session), m_request(std::move(request)) {}

ViewRepair::~ViewRepair() {
    if (m_step != Step::Done)
        abandon();
}

void ViewRepair::start() {
    m_clock.start();
    auto* job =
        m_session.command({QStringLiteral("lsview"), m_request.tag}, cc::Effect::Query, this);
    m_job = job;
    connect(job, &cc::Job::finished, this, &ViewRepair::lookedUp);
}

void ViewRepair::lookedUp() {
    auto* job = qobject_cast<cc::CommandJob*>(m_job.data());
    if (!job)
        return;
    job->deleteLater();
    if (!job->succeeded()) {
        done(RepairOutcome::Kind::LookupFailed, job->error());
        return;
    }
    QString error;
    const QString storage = fixprot::storage_from_lookup(job->output(), m_request.tag, error);
    if (storage.isEmpty()) {
        done(RepairOutcome::Kind::LookupFailed, error);
        return;
    }
    m_outcome.storage = storage;
    emit storageFound(storage);
    if (m_step == Step::Done)
        return;
    m_step = Step::FixProt;
    LaunchSpec spec;
    spec.program = m_request.program;
    spec.arguments = m_request.arguments;
    spec.arguments.append(storage);
    spec.mode = m_request.mode;
    m_outcome.command = QStringList{spec.program} + spec.arguments;
    Launch* launch = Launch::start(spec, this);
    m_launch = launch;
    connect(launch, &Launch::failedToStart, this,
            [this](const QString& why) { done(RepairOutcome::Kind::LaunchFailed, why); });
    connect(launch, &Launch::ended, this, &ViewRepair::fixProtEnded);
}

void ViewRepair::fixProtEnded(const ProgramEnd& end) {
    m_outcome.end = end;
    if (!end.succeeded() && !m_request.endviewAfterFailure) {
        done(RepairOutcome::Kind::FixProtFailed);
        return;
    }
    stopServer();
}

void ViewRepair::stopServer() {
    m_step = Step::Endview;
    auto* job =
        m_session.command({QStringLiteral("endview"), QStringLiteral("-server"), m_request.tag},
                          cc::Effect::Change, this);
    m_job = job;
    connect(job, &cc::Job::finished, this, [this, job] {
        job->deleteLater();
        m_outcome.endviewRan = true;
        if (!job->succeeded())
            done(RepairOutcome::Kind::EndviewFailed, job->error());
        else if (!m_outcome.end.succeeded())
            done(RepairOutcome::Kind::FixProtFailed);
        else
            done(RepairOutcome::Kind::Repaired);
    });
}

void ViewRepair::abandon() {
    if (m_step == Step::Done)
        return;
    if (m_job)
        m_job->abandon();
    if (m_launch)
        m_launch->abandon();
    done(RepairOutcome::Kind::Abandoned);
}

void ViewRepair::done(RepairOutcome::Kind kind, const QString& message) {
    if (m_step == Step::Done)
        return;
    m_step = Step::Done;
    m_outcome.kind = kind;
    m_outcome.message = message;
    m_outcome.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    emit finished();
}

} // namespace tsy
