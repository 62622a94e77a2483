// SPDX-License-Identifier: Apache-2.0
#include "repair/viewrepair.h"

#include "cc/lsviewparse.h"
#include "cc/session.h"
#include "process/childprocess.h"
#include "process/runlog.h"
#include "repair/fixprot.h"
#include "repair/runlocks.h"

#include <QProcess>
#include <QUuid>

namespace tsy::repair {

Result<InspectTarget> storage_facts(const QString& tag, const QString& output,
                                    const cc::LsviewRecord& r, const QString& globalPath) {
    const QString host = r.serverHost.value_or(QString()).trimmed();
    if (host.isEmpty())
        return Error{QStringLiteral("lsview -long gave no server host for view ") + tag};
    if (!usable_host(host))
        return Error{QStringLiteral("the server host of view ") + tag +
                     QStringLiteral(" is not a usable host name: ") + host};
    if (r.globalPath.value_or(QString()).trimmed() != globalPath.trimmed())
        return Error{QStringLiteral("lsview gave two storage paths for view ") + tag +
                     QStringLiteral(": ") + globalPath + QStringLiteral(" and ") +
                     r.globalPath.value_or(QStringLiteral("none"))};
    const Result<QString> checked =
        checked_storage(r.accessPath.value_or(QString()).trimmed(), tag);
    if (!checked.ok())
        return Error{checked.error()};
    InspectTarget t;
    t.tag = tag;
    t.host = host;
    t.storage = checked.value();
    owner_and_group(output, t.owner, t.group);
    return t;
}

std::optional<InspectTarget> batch_target(const QString& tag, const QString& record) {
    const Result<std::optional<cc::LsviewRecord>> found =
        cc::find_record(cc::parse_lsview_long(record.toUtf8()), tag);
    if (!found.value())
        return std::nullopt;
    const cc::LsviewRecord& r = *found.value();
    const Result<InspectTarget> t = storage_facts(tag, record, r, r.globalPath.value_or(QString()));
    if (!t.ok() || t.value().owner.isEmpty() || t.value().group.isEmpty())
        return std::nullopt;
    return t.value();
}

ViewRepair::ViewRepair(cc::Session& session, RepairRequest request, QObject* parent)
    : QObject(parent), m_session(session), m_request(std::move(request)) {}

ViewRepair::~ViewRepair() {
    if (m_step != Step::Done)
        abandon();
}

void ViewRepair::start() {
    m_clock.start();
    m_outcome.started = QDateTime::currentDateTimeUtc();
    if (m_batches && m_request.style == cc::FixProtStyle::Unix) {
        m_step = Step::Facts;
        m_batches->want(m_request.tag, this,
                        [this](const QString& record) { batchAnswered(record); });
        return;
    }
    lookUp();
}

void ViewRepair::lookUp() {
    m_step = Step::Lookup;
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
    const Result<QString> found = storage_from_lookup(job->output(), m_request.tag);
    if (!found.ok()) {
        done(RepairOutcome::Kind::LookupFailed, found.error());
        return;
    }
    const QString& storage = found.value();
    m_globalPath = storage;
    emit storageFound(storage);
    if (m_step == Step::Done)
        return;
    if (m_request.style == cc::FixProtStyle::Unix) {
        m_step = Step::Facts;
        auto* facts = m_session.command({QStringLiteral("lsview"), QStringLiteral("-long"),
                                         QStringLiteral("-properties"), QStringLiteral("-full"),
                                         m_request.tag},
                                        cc::Effect::Query, this);
        m_job = facts;
        connect(facts, &cc::Job::finished, this, &ViewRepair::factsFound);
        return;
    }
    m_outcome.storage = storage;
    launch(QStringList{m_request.program} + m_request.arguments + QStringList{storage});
}

void ViewRepair::factsFound() {
    auto* job = qobject_cast<cc::CommandJob*>(m_job.data());
    if (!job)
        return;
    job->deleteLater();
    if (!job->succeeded()) {
        done(RepairOutcome::Kind::LookupFailed, job->error());
        return;
    }
    useFacts(job->output());
}

void ViewRepair::batchAnswered(const QString& record) {
    if (m_step != Step::Facts)
        return; // abandoned meanwhile
    if (record.isEmpty()) {
        lookUp();
        return;
    }
    useFacts(record, true);
}

void ViewRepair::useFacts(const QString& output, bool fromBatch) {
    const QString& tag = m_request.tag;
    const auto lookupFailed = [&](const QString& why) {
        done(RepairOutcome::Kind::LookupFailed, why);
    };
    const Result<std::optional<cc::LsviewRecord>> found =
        cc::find_record(cc::parse_lsview_long(output.toUtf8()), tag);
    if (!found.value()) {
        lookupFailed(QStringLiteral("lsview -long gave no readable record for view ") + tag +
                     (found.ok() ? QString() : QStringLiteral(": ") + found.error()));
        return;
    }
    const cc::LsviewRecord& r = *found.value();
    if (fromBatch) {
        // The record the batch checked holds the global path the short
        // lookup would have given.
        m_globalPath = r.globalPath.value_or(QString()).trimmed();
        emit storageFound(m_globalPath);
        if (m_step == Step::Done)
            return;
    }
    const Result<InspectTarget> facts = storage_facts(tag, output, r, m_globalPath);
    if (!facts.ok()) {
        lookupFailed(facts.error());
        return;
    }
    m_local = facts.value().storage;
    m_host = facts.value().host;
    m_owner = facts.value().owner;
    m_group = facts.value().group;
    if (m_request.inspect != RepairRequest::Inspect::No)
        inspect();
    else
        repair();
}

void ViewRepair::inspect() {
    m_step = Step::Inspect;
    const QString& tag = m_request.tag;
    m_outcome.storage = m_local;
    m_outcome.serverHost = m_host;
    const bool here = is_this_host(m_host);
    if (!here)
        m_outcome.host = m_host;
    if (m_owner.isEmpty() || m_group.isEmpty()) {
        done(RepairOutcome::Kind::NotChecked,
             QStringLiteral("lsview -properties -full names no ") +
                 (m_owner.isEmpty() ? QStringLiteral("owner") : QStringLiteral("group")) +
                 QStringLiteral(" for view ") + tag +
                 QStringLiteral(": whom the storage should belong to is not known"));
        return;
    }
    if (!here && m_request.reach.remoteShell.isEmpty()) {
        done(RepairOutcome::Kind::NotChecked,
             QStringLiteral("view ") + tag + QStringLiteral(" is on host ") + m_host +
                 QStringLiteral(" and TESSALY_SSH names no remote shell to reach it"));
        return;
    }
    // A unit at work changes the storage as it is read: what the inspection
    // would say is out of date before it is said.
    if (repair_at_work(storage_lock_path(m_outcome.host, m_local))) {
        done(RepairOutcome::Kind::Busy, QStringLiteral("repair at work"));
        return;
    }
    // The lock on the storage's host is probed there too: a repair from
    // another workstation is at work as much as one from this one.
    const InspectTarget target{tag, m_host, m_local, m_owner, m_group};
    if (m_inspections && m_inspections->want(target, this, [this](std::optional<InspectionEnd> e) {
            if (m_step != Step::Inspect)
                return; // abandoned meanwhile
            if (!e) {
                inspectAlone();
                return;
            }
            // The batch's command is in the log already.
            m_inspectionShown.clear();
            inspected(*e);
        }))
        return;
    inspectAlone();
}

void ViewRepair::inspectAlone() {
    runInspection(inspection_words(m_request.reach, m_host, m_local, m_owner, m_group,
                                   host_lock_dir(), host_lock_name(m_local)),
                  shown_inspection_words(m_request.reach, m_host, m_local, m_owner, m_group));
}

void ViewRepair::runInspection(const QStringList& words, const QStringList& shown) {
    auto* p = new QProcess(this);
    m_inspection = p;
    m_inspectionShown = shown;
    m_inspectionEnd = InspectionEnd();
    p->setProgram(words.first());
    p->setArguments(words.mid(1));
    p->setStandardInputFile(QProcess::nullDevice());
    // A session of its own, like every query: a Ctrl-C meant for Tessaly
    // does not end it under the run's feet; the run ends it.
    process::put_in_own_session(*p);
    // Read as it comes, and no further than the limit: a storage that
    // keeps the inspection talking does not grow this program.
    connect(p, &QProcess::readyReadStandardOutput, this, [this, p] {
        InspectionEnd& e = m_inspectionEnd;
        if (e.cut) {
            p->readAllStandardOutput();
            return;
        }
        // What is there, never the limit: read(n) allocates n bytes first,
        // and a buffer of megabytes per piece read costs more than the
        // inspection's whole answer.
        e.out += p->read(std::min(p->bytesAvailable(), kInspectionLimit - e.out.size() + 1));
        if (e.out.size() > kInspectionLimit) {
            e.out.truncate(kInspectionLimit);
            e.cut = true;
            process::end_session(p);
        }
    });
    connect(p, &QProcess::readyReadStandardError, this, [this, p] {
        const QByteArray err = p->readAllStandardError();
        if (m_inspectionEnd.err.size() < 65536)
            m_inspectionEnd.err += err.left(65536 - m_inspectionEnd.err.size());
    });
    connect(p, &QProcess::finished, this, [this, p](int code, QProcess::ExitStatus status) {
        InspectionEnd e = m_inspectionEnd;
        e.crashed = status == QProcess::CrashExit;
        e.exitCode = code;
        if (!e.cut)
            e.out += p->readAllStandardOutput().left(kInspectionLimit - e.out.size());
        e.err += p->readAllStandardError().left(65536);
        inspected(e);
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        InspectionEnd e;
        e.started = false;
        e.startError = p->program() + QStringLiteral(": ") + p->errorString();
        inspected(e);
    });
    m_fixClock.start();
    p->start(QIODevice::ReadOnly);
}

void ViewRepair::inspected(const InspectionEnd& e) {
    if (m_step != Step::Inspect)
        return;
    if (m_inspection) {
        m_inspection->disconnect(this);
        m_inspection->deleteLater();
    }
    Verdict v = verdict(e, m_local, m_owner, m_group, m_outcome.host);
    if (!m_inspectionShown.isEmpty())
        process::log_command(m_inspectionShown,
                             e.started ? (e.crashed && !e.cut
                                              ? QStringLiteral("it crashed")
                                              : QStringLiteral("exit status %1").arg(e.exitCode))
                                       : e.startError,
                             m_fixClock.elapsed());
    using K = Verdict::Kind;
    if (m_unreadable) {
        // The privileged inspector's answer. A sudo that refused it, or a
        // host without it, leaves what the account itself found.
        const bool refused =
            v.kind == K::NotChecked && e.started && !e.crashed &&
            (e.exitCode == 126 || e.exitCode == 127 ||
             (e.exitCode == 1 && QString::fromLocal8Bit(e.err).trimmed().startsWith(u"sudo:")));
        if (refused)
            v = *m_unreadable;
    } else if (v.kind == K::NotChecked && !v.unreadableAs.isEmpty() &&
               !(is_this_host(m_host) && m_request.reach.root) &&
               m_request.reach.problem.isEmpty()) {
        m_unreadable = v;
        const QStringList words = privileged_inspection_words(
            m_request.reach, m_host, inspector_path(), m_local, m_owner, m_group);
        runInspection(words, words);
        return;
    }
    if (v.kind == K::Busy) {
        done(RepairOutcome::Kind::Busy,
             QStringLiteral("repair at work") +
                 (v.why.isEmpty() ? QString() : QStringLiteral(": ") + v.why));
        return;
    }
    if (v.kind == K::NotChecked) {
        done(RepairOutcome::Kind::NotChecked, v.why);
        return;
    }
    m_outcome.inspected = true;
    m_outcome.found = v.found;
    m_outcome.more = v.more;
    m_outcome.first = v.first;
    m_outcome.firstWhy = v.firstWhy;
    m_outcome.problems = v.problems;
    m_outcome.groups = v.groups;
    if (v.kind == K::Sound)
        done(RepairOutcome::Kind::Sound);
    else if (m_request.inspect == RepairRequest::Inspect::Check)
        done(RepairOutcome::Kind::NeedsRepair);
    else
        repair();
}

void ViewRepair::repair() {
    const QString& tag = m_request.tag;
    const QString& host = m_host;
    const QString& local = m_local;
    QStringList args = m_request.arguments;
    const QStringList missing = fill_placeholders(args, m_owner, m_group);
    if (!missing.isEmpty()) {
        done(RepairOutcome::Kind::Skipped,
             QStringLiteral("View ") + tag + QStringLiteral(" was skipped: lsview -properties ") +
                 QStringLiteral("-full names no ") +
                 (missing.contains(kOwner) ? QStringLiteral("owner") : QString()) +
                 (missing.size() == 2 ? QStringLiteral(" and no ") : QString()) +
                 (missing.contains(kGroup) ? QStringLiteral("group") : QString()) +
                 QStringLiteral(" to fill ") + missing.join(QStringLiteral(" and ")) +
                 QStringLiteral(" in the arguments."));
        return;
    }
    m_outcome.storage = local;
    m_outcome.serverHost = host;
    const bool here = is_this_host(host);
    if (!here)
        m_outcome.host = host;
    // A setting that cannot be split would run the wrong words.
    if (!m_request.reach.problem.isEmpty()) {
        done(RepairOutcome::Kind::LaunchFailed, m_request.reach.problem);
        return;
    }
    if (!here && m_request.reach.remoteShell.isEmpty()) {
        done(RepairOutcome::Kind::LaunchFailed,
             QStringLiteral("view ") + tag + QStringLiteral(" is on host ") + host +
                 QStringLiteral(" and TESSALY_SSH names no remote shell to reach it"));
        return;
    }
    const QStringList words = QStringList{m_request.program} + args + QStringList{local};
    m_lockedWords = locked_command_on_host(m_request.reach, host, host_lock_dir(),
                                           host_lock_name(local), words);
    launch(command_on_host(m_request.reach, host, words));
}

void ViewRepair::launch(const QStringList& words) {
    m_step = Step::FixProt;
    m_outcome.command = words;
    if (m_request.dryRun) {
        done(RepairOutcome::Kind::Planned);
        return;
    }
    emit launching(words);
    if (m_step == Step::Done)
        return;
    // No repair without its lock: a lock directory that someone else may
    // empty is no lock.
    if (const QString problem = lock_dir_problem(lock_dir()); !problem.isEmpty()) {
        done(RepairOutcome::Kind::LaunchFailed,
             QStringLiteral("cannot take the storage lock: ") + problem);
        return;
    }
    LaunchSpec spec;
    // The words shown and logged are fix_prot's; those started take the
    // storage lock on its host around them.
    const QStringList& started = m_lockedWords.isEmpty() ? words : m_lockedWords;
    spec.program = started.first();
    spec.arguments = started.mid(1);
    if (!m_lockedWords.isEmpty())
        spec.hostLock = m_host;
    spec.mode = m_request.mode;
    spec.tag = m_request.tag;
    // The unit holds one repair per storage and finishes the view's
    // endview itself where the session can name cleartool for it.
    spec.lockPath = storage_lock_path(m_outcome.host, m_outcome.storage);
    // Without a private record directory the unit keeps no record.
    if (const Result<QString> records = unit_record_dir(); records.ok())
        spec.recordPath = records.value() + u'/' +
                          QUuid::createUuid().toString(QUuid::WithoutBraces) +
                          QStringLiteral(".unit");
    spec.cleartool = m_session.cleartoolProgram();
    spec.endviewAfterFailure = m_request.endviewAfterFailure;
    spec.remote = !m_outcome.host.isEmpty();
    m_unitEndview = !spec.cleartool.isEmpty();
    m_fixClock.start();
    Launch* launch = Launch::start(spec, this);
    m_launch = launch;
    connect(launch, &Launch::failedToStart, this,
            [this](const QString& why) { done(RepairOutcome::Kind::LaunchFailed, why); });
    connect(launch, &Launch::busy, this, [this](const QString& lock) {
        // Named, so that an administrator can find its holder (fuser).
        done(RepairOutcome::Kind::Busy,
             QStringLiteral("repair from an earlier run still at work") +
                 (lock.isEmpty() ? QString() : QStringLiteral(" (lock ") + lock + u')'));
    });
    connect(launch, &Launch::lockRefused, this, [this](const QString& why) {
        done(RepairOutcome::Kind::LaunchFailed,
             QStringLiteral("cannot take the storage lock: ") + why);
    });
    connect(launch, &Launch::unlocked, this, [this](const QString& why) { m_outcome.note = why; });
    connect(launch, &Launch::ended, this, &ViewRepair::fixProtEnded);
    connect(launch, &Launch::endviewEnded, this, &ViewRepair::unitEndviewEnded);
}

void ViewRepair::fixProtEnded(const ProgramEnd& end) {
    m_outcome.end = end;
    process::log_command(m_outcome.command, end.describe(), m_fixClock.elapsed());
    m_fixClock.start();
    if (m_unitEndview) {
        m_step = Step::Endview; // the unit goes on to it, or reports that it need not
        return;
    }
    if (!end.succeeded() && !m_request.endviewAfterFailure) {
        done(RepairOutcome::Kind::FixProtFailed);
        return;
    }
    stopServer();
}

void ViewRepair::unitEndviewEnded(const EndviewEnd& e) {
    if (!e.ran && (e.error.isEmpty() || !m_outcome.end.succeeded())) {
        // None after a fix_prot that failed, or whose end is not known
        // (the unit was cut short: fix_prot's end says why).
        done(RepairOutcome::Kind::FixProtFailed);
        return;
    }
    if (!e.ran) {
        // The unit was cut short after a fix_prot that succeeded.
        process::log_command({m_session.cleartoolProgram(), QStringLiteral("endview"),
                              QStringLiteral("-server"), m_request.tag},
                             QStringLiteral("never ran: ") + e.error, m_fixClock.elapsed());
        done(RepairOutcome::Kind::EndviewFailed, QStringLiteral("endview never ran: ") + e.error);
        return;
    }
    process::log_command({m_session.cleartoolProgram(), QStringLiteral("endview"),
                          QStringLiteral("-server"), m_request.tag},
                         e.ok ? QStringLiteral("exit status 0") : e.error, m_fixClock.elapsed());
    m_outcome.endviewRan = e.ran;
    if (!e.ok)
        done(RepairOutcome::Kind::EndviewFailed, e.error);
    else if (!m_outcome.end.succeeded())
        done(RepairOutcome::Kind::FixProtFailed);
    else
        done(RepairOutcome::Kind::Repaired);
}

void ViewRepair::stopServer(const QString& soundNote) {
    m_step = Step::Endview;
    auto* job =
        m_session.command({QStringLiteral("endview"), QStringLiteral("-server"), m_request.tag},
                          cc::Effect::Change, this);
    m_job = job;
    connect(job, &cc::Job::finished, this, [this, job, soundNote] {
        job->deleteLater();
        m_outcome.endviewRan = true;
        if (!job->succeeded()) {
            done(RepairOutcome::Kind::EndviewFailed, job->error());
        } else if (!soundNote.isEmpty()) {
            m_outcome.note = soundNote;
            done(RepairOutcome::Kind::Sound);
        } else if (!m_outcome.end.succeeded()) {
            done(RepairOutcome::Kind::FixProtFailed);
        } else {
            done(RepairOutcome::Kind::Repaired);
        }
    });
}

void ViewRepair::abandon() {
    if (m_step == Step::Done)
        return;
    if (m_job)
        m_job->abandon();
    if (m_launch)
        m_launch->abandon();
    if (m_inspection) {
        // Only a reading: it and what it started end now.
        m_inspection->disconnect(this);
        process::end_session(m_inspection);
    }
    done(RepairOutcome::Kind::Abandoned);
}

void ViewRepair::done(RepairOutcome::Kind kind, const QString& message) {
    if (m_step == Step::Done)
        return;
    if (kind == RepairOutcome::Kind::Sound && m_request.endviewWhenSound &&
        m_request.inspect == RepairRequest::Inspect::BeforeRepair && m_step == Step::Inspect) {
        stopServer(
            QStringLiteral("server stopped: an earlier run's fix_prot never reported its end"));
        return;
    }
    m_step = Step::Done;
    m_outcome.kind = kind;
    m_outcome.message = message;
    m_outcome.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    emit finished();
}

} // namespace tsy::repair
