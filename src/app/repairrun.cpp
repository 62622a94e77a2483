// SPDX-License-Identifier: Apache-2.0
#include "app/repairrun.h"

#include "cc/session.h"
#include "common/msgbox.h"
#include "common/yield.h"
#include "model/viewlistmodel.h"
#include "process/commandline.h"
#include "progress/progresssink.h"
#include "repair/fixprot.h"
#include "repair/unitrecord.h"

#include <QFile>
#include <QTimer>

#include <algorithm>

namespace tsy {

using model::ViewListModel;

using repair::RepairOutcome;
using repair::RunEngine;
using repair::RunItem;
using repair::RunLock;
using repair::RunSettings;
using repair::take_unit_records;
using repair::unit_record_dir;
using repair::UnitRecord;
using repair::ViewRepair;

namespace {
// A fix_prot that failed must not pass for a repaired view: such views are
// listed once, after the run.
void report_failed_repairs(const QStringList& failed, int repaired) {
    if (failed.isEmpty())
        return;
    msg_box(QStringLiteral("fix_prot did not succeed for %1 of %2 views:\r\n")
                    .arg(failed.size())
                    .arg(repaired) +
                failed.join(QStringLiteral("\r\n")),
            QString(), MsgIcon::Warning);
}

// The views of hosts given up, in one box after the run.
void report_given_up(const QList<std::pair<QString, QStringList>>& givenUp) {
    QStringList parts;
    for (const auto& [host, tags] : givenUp)
        parts.append(QStringLiteral("Host %1 could not be reached for two views in a row; "
                                    "its other %2 checked views were not started:\r\n")
                         .arg(host)
                         .arg(tags.size()) +
                     tags.join(QStringLiteral("\r\n")));
    if (!parts.isEmpty())
        msg_box(parts.join(QStringLiteral("\r\n\r\n")), QString(), MsgIcon::Warning);
}
} // namespace

QString fix_prot_command_line(const QString& program, const QString& argsText,
                              const QString& storage) {
    const QString args =
        QStringLiteral(" ") + (argsText == QLatin1StringView("<arguments>") ? QString() : argsText);
    using process::Quoting;
    return process::quoted_word(program, Quoting::SplitCommand) + args + QStringLiteral(" ") +
           process::quoted_word(storage, Quoting::SplitCommand);
}

RepairRun::RepairRun(ViewListModel& list, ProgressSink& progress, QObject* parent)
    : QObject(parent), m_list(list), m_progress(progress) {}

bool RepairRun::start(cc::Session& session, const QString& cchome) {
    if (m_running)
        return false;
    // One run at a time, in a window or headless.
    if (!m_lock.acquire()) {
        if (!m_lock.problem().isEmpty())
            msg_box(m_lock.problem() + QStringLiteral(". Nothing was run."), QString(),
                    MsgIcon::Warning);
        else
            msg_box(QStringLiteral("Another repair run is under way (") + m_lock.holder() +
                        QStringLiteral("). Execute again once it has ended."),
                    QString(), MsgIcon::Warning);
        return false;
    }
    m_argsText = m_options.argsText;
    RunSettings settings =
        RunEngine::settingsFor(session, cchome, repair::argument_words(m_argsText));
    m_program = settings.program;
    m_style = settings.style;
    m_commandLine.clear();
    m_failedRepairs.clear();
    m_notes.clear();
    m_givenUp.clear();
    m_repairs = 0;
    m_row = 0;
    m_rows = m_list.count();
    m_running = true;
    m_abandoned = false;
    m_stopAfterView = false;
    m_engine = new RunEngine(session, settings, this);
    connect(m_engine, &RunEngine::viewStarted, this, &RepairRun::viewStarted);
    connect(m_engine, &RunEngine::viewEnded, this, &RepairRun::viewDone);
    connect(m_engine, &RunEngine::viewGivenUp, this, &RepairRun::viewGivenUp);
    connect(m_engine, &RunEngine::finished, this, &RepairRun::end);
    m_progress.start_progress(QStringLiteral("Executing..."));
    emit started();
    // Repairs whose unit finished after the window that started them had
    // closed, or after Tessaly was gone, are told of once.
    // A view whose fix_prot never reported is the operator's to repair
    // again; an endview owed after one that succeeded is run first.
    QStringList earlier;
    m_owed.clear();
    for (const UnitRecord& r : take_unit_records(unit_record_dir().value())) {
        if (r.endviewOwed()) {
            m_owed.append(r);
            continue;
        }
        earlier.append(r.describe());
        if (r.repairDue())
            QFile::remove(r.file);
    }
    if (!earlier.isEmpty())
        msg_box(QStringLiteral("Repairs of an earlier run:\r\n") +
                    earlier.join(QStringLiteral("\r\n")),
                QString(), MsgIcon::Information);
    m_finishedOwed.clear();
    finishOwed(session);
    return true;
}

void RepairRun::finishOwed(cc::Session& session) {
    if (!m_running)
        return;
    if (m_owed.isEmpty() || m_abandoned) {
        if (!m_finishedOwed.isEmpty())
            msg_box(m_finishedOwed.join(QStringLiteral("\r\n")), QString(), MsgIcon::Information);
        if (m_running && !m_abandoned)
            m_engine->start([this] { return nextRow(); });
        else
            end();
        return;
    }
    const UnitRecord r = m_owed.takeFirst();
    auto* job = session.command({QStringLiteral("endview"), QStringLiteral("-server"), r.tag},
                                cc::Effect::Change, this);
    connect(job, &cc::Job::finished, this, [this, job, r, &session] {
        job->deleteLater();
        m_finishedOwed.append(
            QStringLiteral("finished the repair an earlier run left half-done: ") + r.tag +
            QStringLiteral(": endview ") +
            (job->succeeded() ? QStringLiteral("exit 0")
                              : QStringLiteral("failed: ") + job->error()));
        QFile::remove(r.file);
        finishOwed(session);
    });
}

void RepairRun::abandon() {
    if (!m_running)
        return;
    m_abandoned = true;
    // The unit at work finishes its view alone; no other view starts.
    if (m_engine)
        m_engine->abandon();
}

void RepairRun::askToStop() {
    if (!m_running || m_stopAfterView)
        return;
    // The run goes on while the question is open; the view at work always
    // finishes, its endview only after its fix_prot.
    if (msg_box(QStringLiteral("Stop after the current view?"), QString(), MsgIcon::None,
                MsgButtons::YesNo) == MsgAnswer::Yes) {
        m_stopAfterView = true;
        if (m_engine)
            m_engine->stop();
    }
}

// The next checked row, in list order, read as the run reaches it: the
// operator may tick boxes, or change the action and run mode, meanwhile.
std::optional<RunItem> RepairRun::nextRow() {
    while (m_running && !m_abandoned && !m_stopAfterView && m_row < m_rows) {
        const int i = m_row++;
        do_events();
        if (m_abandoned || !m_running)
            break;
        if (m_options.actionText != QLatin1StringView("fix_prot"))
            continue;
        if (i >= m_list.count()) {
            // The list shrank under the run (a reload or filter meanwhile).
            msg_box(QStringLiteral("ERROR:Invalid list index: row %1 no longer exists").arg(i) +
                        QStringLiteral(":Execute::") + m_commandLine,
                    QStringLiteral("Error:executeFixProtBut()"), MsgIcon::Critical);
            break;
        }
        if (!m_list.isChecked(i))
            continue;
        return RunItem{i, m_list.tag(i), m_list.host(i), m_options.mode};
    }
    return std::nullopt;
}

void RepairRun::viewStarted(const RunItem& item, ViewRepair* view) {
    m_progress.set_msg(QStringLiteral("Fixing Protection --> ") + item.tag);
    connect(view, &ViewRepair::storageFound, this, [this](const QString& storage) {
        m_commandLine = fix_prot_command_line(m_program, m_argsText, storage);
    });
    if (m_style == cc::FixProtStyle::Unix) {
        // The words really started (remote shell and sudo included).
        connect(view, &ViewRepair::launching, this, [this](const QStringList& words) {
            m_commandLine = process::quoted_command(words, process::Quoting::SplitCommand);
        });
    }
}

void RepairRun::viewDone(const RunItem& item, const RepairOutcome& o) {
    const QString& tag = item.tag;
    if (!o.note.isEmpty())
        m_notes.append(tag + QStringLiteral(": ") + o.note);
    using Kind = RepairOutcome::Kind;
    switch (o.kind) {
    case Kind::LookupFailed:
        msg_box(QStringLiteral("ERROR:") + o.message +
                    QStringLiteral(": Couldn't get view storage"),
                QStringLiteral("Error:getViewStg()"), MsgIcon::Critical);
        break;
    case Kind::Skipped:
        msg_box(o.message, QString(), MsgIcon::Warning);
        break;
    case Kind::Busy:
        ++m_repairs;
        m_failedRepairs.append(tag + QStringLiteral(": ") + o.message);
        break;
    case Kind::Planned:
        break;
    case Kind::LaunchFailed:
        // Not repaired: its server is left running, and it is named at the end.
        msg_box(QStringLiteral("ERROR: ") + o.message +
                QStringLiteral("\r\nCould not execute --> ") + m_commandLine);
        ++m_repairs;
        m_failedRepairs.append(tag + QStringLiteral(": could not be started: ") + o.message);
        break;
    case Kind::FixProtFailed:
        ++m_repairs;
        m_failedRepairs.append(tag + QStringLiteral(": ") + o.end.describe());
        break;
    case Kind::EndviewFailed:
        // The engine starts no further view after this.
        if (!o.end.succeeded())
            m_failedRepairs.append(tag + QStringLiteral(": ") + o.end.describe());
        ++m_repairs;
        msg_box(QStringLiteral("ERROR:") + o.message + QStringLiteral(":Execute::") + m_commandLine,
                QStringLiteral("Error:executeFixProtBut()"), MsgIcon::Critical);
        break;
    case Kind::Repaired:
        ++m_repairs;
        break;
    case Kind::Abandoned:
    case Kind::Sound: // the window's run inspects nothing
    case Kind::NeedsRepair:
    case Kind::NotChecked:
        break;
    }
}

void RepairRun::viewGivenUp(const RunItem& item) {
    auto it = std::find_if(m_givenUp.begin(), m_givenUp.end(),
                           [&](const auto& entry) { return entry.first == item.host; });
    if (it == m_givenUp.end())
        it = m_givenUp.insert(m_givenUp.end(), {item.host, {}});
    it->second.append(item.tag);
}

void RepairRun::end() {
    if (!m_running)
        return;
    m_running = false;
    if (m_engine)
        m_engine->deleteLater();
    m_lock.release();
    m_progress.stop_progress();
    do_events();
    emit finished();
    if (m_abandoned)
        return;
    report_failed_repairs(m_failedRepairs, m_repairs);
    report_given_up(m_givenUp);
    if (!m_notes.isEmpty())
        msg_box(QStringLiteral("Repaired without the lock on the storage host:\r\n") +
                    m_notes.join(QStringLiteral("\r\n")),
                QString(), MsgIcon::Warning);
}

} // namespace tsy
