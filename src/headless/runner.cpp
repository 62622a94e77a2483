// SPDX-License-Identifier: Apache-2.0
#include "runner.h"

#include "cc/session.h"
#include "model/viewlistmodel.h"
#include "pick.h"
#include "platform/platform.h"
#include "process/stopsignals.h"
#include "repair/fixprot.h"
#include "repair/runengine.h"
#include "repair/runlocks.h"
#include "repair/unitrecord.h"
#include "repair/viewrepair.h"
#include "report.h"
#include "tagfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace tsy::headless {

using model::local_lines;
using model::ViewListModel;

namespace {

// One listing, then, for --repair, the picked views through the run engine
// the window's Execute uses too: up to --jobs views at work at once and at
// most --per-host on one storage host. Each step is started by a signal of
// the one before; nothing waits.
class Runner : public QObject {
public:
    Runner(Options o, QString home, std::unique_ptr<cc::Session> session, Report& report)
        : m_o(std::move(o)), m_home(std::move(home)), m_session(std::move(session)),
          m_report(report) {
        m_caseSensitive = m_session->fixProtStyle() == cc::FixProtStyle::Unix;
        m_list.setCaseSensitiveTags(m_caseSensitive);
        m_tick.setInterval(1000);
        connect(&m_tick, &QTimer::timeout, this, [this] { m_report.progress(counts()); });
    }

    void start() {
        if (m_o.repair && !m_o.dryRun) {
            for (const repair::UnitRecord& r :
                 repair::take_unit_records(repair::unit_record_dir().value())) {
                if (r.endviewOwed()) {
                    m_owed.append(r);
                    continue;
                }
                m_report.error(r.describe());
                if (r.repairDue())
                    m_due.insert(r.tag, r.file);
            }
        }
        finishOwed();
    }

    // The endviews that units cut short after a fix_prot that succeeded
    // left owed, one after the other, before anything else runs.
    void finishOwed() {
        if (m_stopped)
            return; // the summary is out already
        if (m_owed.isEmpty()) {
            list();
            return;
        }
        const repair::UnitRecord r = m_owed.takeFirst();
        auto* job =
            m_session->command({QStringLiteral("endview"), QStringLiteral("-server"), r.tag},
                               cc::Effect::Change, this);
        connect(job, &cc::Job::finished, this, [this, job, r] {
            job->deleteLater();
            m_report.error(QStringLiteral("finished the repair an earlier run left half-done: ") +
                           one_line(r.tag) + QStringLiteral(": endview ") +
                           (job->succeeded()
                                ? QStringLiteral("exit 0")
                                : QStringLiteral("failed: ") + one_line(job->error())));
            QFile::remove(r.file);
            finishOwed();
        });
    }

    void list() {
        m_list.beginBatch();
        m_listing = m_session->listViews(this);
        if (m_o.list && m_o.format == Format::Json) {
            m_listing->giveRecords();
            connect(m_listing, &cc::ListingJob::recordListed, this,
                    [this](const cc::LsviewRecord& r) { writeRecord(r); });
            connect(m_listing, &cc::ListingJob::viewListed, this,
                    [this](const QString& tag, const QString& host) {
                        // Kept in the order the list adds views, each in a
                        // block of its own size; a view the list already
                        // holds is dropped with its line.
                        if (m_list.addView(tag, host))
                            m_jsonLines.append(QByteArray(m_record.constData(), m_record.size()));
                        m_record.resize(0);
                    });
        } else {
            connect(m_listing, &cc::ListingJob::viewListed, this,
                    [this](const QString& tag, const QString& host) { m_list.addView(tag, host); });
        }
        connect(m_listing, &cc::Job::finished, this, &Runner::listed);
    }

    // A signal, or an output that can no longer be written: no view starts
    // any more, those at work finish. During the listing, which is only a
    // query, the run ends at once. A further signal ends the run at once:
    // the units at work finish on their own and are named.
    void outputLost() {
        if (!m_stopped) {
            m_outputClosed = true;
            stop();
        }
    }

    void stop() {
        if (m_over)
            return;
        if (!m_stopped) {
            m_stopped = true;
            if (m_engine) {
                // A lookup still under way is only a query: it ends now, and
                // its view counts as not started.
                m_engine->stop(true);
                tellStopping();
                return;
            }
            if (m_listing) {
                m_listing->abandon();
                m_listing->deleteLater();
            }
            if (m_o.list) {
                QCoreApplication::exit(1);
                return;
            }
            summary();
            return;
        }
        if (m_engine && m_engine->running()) {
            m_leftAlone = m_engine->tagsAtWork(true);
            if (!m_leftAlone.isEmpty())
                m_report.error(QStringLiteral("left to finish on their own: ") +
                               m_leftAlone.join(QStringLiteral(", ")));
            m_engine->abandon();
        }
    }

private:
    // Said once, on the first stop, while repairs are at work: why the run
    // has not ended yet, and how to end it now.
    void tellStopping() {
        if (m_over || !m_engine || !m_engine->running())
            return;
        m_report.setStopping();
        m_report.progress(counts());
        const qsizetype atWork = m_engine->tagsAtWork(true).size();
        if (atWork > 0)
            m_report.error((m_outputClosed
                                ? QStringLiteral("stopping: the output was closed; no view "
                                                 "starts any more; %1 at work finish first")
                                : QStringLiteral("stopping: no view starts any more; %1 at work "
                                                 "finish first (Ctrl-C again to leave them to "
                                                 "their units)"))
                               .arg(atWork));
    }

    QString stoppedBy() const {
        return m_outputClosed ? QStringLiteral("stopped: the output was closed")
                              : QStringLiteral("stopped by a signal");
    }

    // A JSON listing's line for a view, written as its record comes, just
    // before the view itself: the listing's own time is spent while
    // cleartool still writes, and the end has only to put the lines in the
    // list's order.
    void writeRecord(const cc::LsviewRecord& r) {
        QStringList attributes;
        if (r.attributes) {
            // "snapshot,ucmview": one entry per word.
            for (const QStringView w : QStringView(*r.attributes).split(u','))
                if (!w.trimmed().isEmpty())
                    attributes.append(w.trimmed().toString());
        }
        const QString host = r.serverHost.value_or(QString());
        m_record.resize(0);
        append_listing_json(m_record, *r.tag, host, ViewListModel::lineOf(*r.tag, host),
                            r.globalPath.value_or(QString()), r.active, attributes);
    }

    // Each of the listing's errors once, then how many views could not be
    // read and their names.
    void tellListing(const cc::ListingReport& report) {
        for (const QString& e : report.errors)
            m_report.error(one_line(e));
        if (report.errors.isEmpty() && !report.lastFailure.isEmpty())
            m_report.error(one_line(report.lastFailure));
        if (report.unreadable > 0) {
            QString line = QStringLiteral("%1 of %2 could not be read")
                               .arg(report.unreadable)
                               .arg(count_of(report.total, QStringLiteral("view")));
            if (!report.unreadNames.isEmpty())
                line += QStringLiteral(": ") + report.unreadNames.join(QStringLiteral(", "));
            m_report.error(line);
        }
    }

    // Written a piece at a time: a buffer the size of a large region's
    // listing costs more in growing than in filling.
    void writeJsonListing() const {
        constexpr qsizetype kPiece = 256 * 1024;
        QByteArray out;
        out.reserve(kPiece + 4096);
        for (int i = 0; i < m_list.count(); ++i) {
            const qsizetype at = m_list.arrival(i);
            if (at < m_jsonLines.size() && !m_jsonLines.at(at).isEmpty())
                out += m_jsonLines.at(at);
            else // listed without a record: nothing more is known of it
                append_listing_json(out, m_list.tag(i), m_list.host(i), m_list.text(i), QString(),
                                    std::nullopt, QStringList());
            if (out.size() >= kPiece) {
                std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
                out.resize(0);
            }
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    }

    void listed() {
        m_list.endBatch();
        const cc::ListingReport report = m_listing->report();
        m_listing->deleteLater();
        tellListing(report);
        m_unread = report.unreadable;
        const bool lost = report.failedBefore || report.unreadable > 0 || report.cut;
        m_listingCut = report.cut;
        if (m_o.list) {
            // Large writes, never a flush per line: that costs more than
            // the listing itself for a large region.
            if (m_o.format == Format::Json) {
                writeJsonListing();
            } else {
                const QByteArray bytes = local_lines(m_list);
                std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            }
            std::fflush(stdout);
            QCoreApplication::exit(lost ? 1 : 0);
            return;
        }
        if (report.failedBefore) {
            // No view is known: nothing runs, and the file of views to run
            // again is emptied rather than left with an earlier run's.
            m_listingFailed = true;
            summary();
            return;
        }
        pickRows(report.unreadNames);
        const cc::FixProtStyle style = m_session->fixProtStyle();
        repair::RunSettings settings = repair::RunEngine::settingsFor(
            *m_session, m_home,
            repair::argument_words(m_o.hasArgs ? m_o.args : repair::default_args(style)));
        settings.dryRun = m_o.dryRun;
        settings.inspect = m_o.check    ? repair::RepairRequest::Inspect::Check
                           : m_o.needed ? repair::RepairRequest::Inspect::BeforeRepair
                                        : repair::RepairRequest::Inspect::No;
        m_report.setReach(settings.reach);
        settings.jobs = m_o.jobs;
        settings.perHost = m_o.perHost;
        settings.stopOnEndviewFailure = false;
        QList<repair::RunItem> items;
        items.reserve(m_rows.size());
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            const QString tag = m_list.tag(m_rows.at(i));
            items.append(repair::RunItem{int(i), tag, m_list.host(m_rows.at(i)),
                                         repair::RunMode::Hide, m_due.contains(tag)});
        }
        m_engine = new repair::RunEngine(*m_session, settings, this);
        connect(m_engine, &repair::RunEngine::viewEnded, this, &Runner::viewDone);
        connect(m_engine, &repair::RunEngine::viewGivenUp, this,
                [this](const repair::RunItem& item) {
                    ViewResult skipped;
                    skipped.tag = item.tag;
                    skipped.host = item.host;
                    skipped.reason =
                        QStringLiteral("host ") + item.host + QStringLiteral(" unreachable");
                    finishedView(skipped, item.id);
                });
        connect(m_engine, &repair::RunEngine::finished, this, &Runner::summary);
        connect(m_engine, &repair::RunEngine::viewStarted, this,
                [this] { m_report.progress(counts()); });
        m_engine->start(items);
        if (m_stopped)
            m_engine->stop();
        m_tick.start();
        m_report.progress(counts());
    }

    // The rows to repair. A line of --tags that names no listed view is
    // reported here; unread views the pick may hold are kept for
    // --failed-to.
    void pickRows(const QStringList& unreadNames) {
        const Picked picked = pick(m_o, m_list, unreadNames, m_caseSensitive);
        for (const QString& t : picked.unknown) {
            ViewResult r;
            r.tag = t;
            r.reason = QStringLiteral("not in the listing");
            finishedView(r, -1);
        }
        m_rows = picked.rows;
        m_unfinished += picked.unread;
        if (!picked.noMatch.isEmpty()) {
            m_report.error(QStringLiteral("no view matched ") +
                           one_line(picked.noMatch.join(u' ')));
            m_nothingMatched = true;
        }
    }

    void viewDone(const repair::RunItem& item, const repair::RepairOutcome& o) {
        // An earlier run's unfinished repair of the view is over once the
        // view has been repaired or checked anew; not while it is at work.
        if (o.kind != repair::RepairOutcome::Kind::Busy &&
            o.kind != repair::RepairOutcome::Kind::Abandoned &&
            o.kind != repair::RepairOutcome::Kind::LookupFailed && m_due.contains(item.tag))
            QFile::remove(m_due.take(item.tag));
        ViewResult r;
        r.tag = item.tag;
        // The host the lookup found is where the repair ran, whichever of
        // two rows of one tag asked for it.
        r.host = o.serverHost.isEmpty() ? item.host : o.serverHost;
        r.storage = o.storage;
        r.command = o.command;
        r.endviewRan = o.endviewRan;
        r.inspected = o.inspected;
        r.found = o.found;
        r.more = o.more;
        r.first = o.first;
        r.firstWhy = o.firstWhy;
        r.problems = o.problems;
        r.groups = o.groups;
        r.start = o.started;
        r.ms = o.elapsedMs;
        if (o.end.known && !o.end.crashed)
            r.exitStatus = o.end.exitCode;
        using Kind = repair::RepairOutcome::Kind;
        using Out = ViewResult::Outcome;
        switch (o.kind) {
        case Kind::Repaired:
            r.outcome = Out::Repaired;
            break;
        case Kind::FixProtFailed:
            r.outcome = Out::FixProtFailed;
            r.reason = o.end.describe();
            break;
        case Kind::LaunchFailed:
            r.outcome = Out::FixProtFailed;
            r.reason = QStringLiteral("could not be started: ") + o.message;
            break;
        case Kind::EndviewFailed:
            // One troubled view server fails its own view only: the run goes
            // on, and a fix_prot that succeeded is said to have.
            r.outcome = o.end.succeeded() ? Out::ServerNotStopped : Out::EndviewFailed;
            r.reason = o.message;
            break;
        case Kind::LookupFailed:
        case Kind::Skipped:
        case Kind::Busy:
            // A check that could not be made is the check's own verdict.
            if (m_o.check)
                r.outcome = Out::NotChecked;
            r.reason = o.message;
            break;
        case Kind::Sound:
            r.outcome = m_o.check ? Out::Sound : Out::SoundNotRepaired;
            break;
        case Kind::NeedsRepair:
            r.outcome = Out::NeedsRepair;
            break;
        case Kind::NotChecked:
            r.outcome = Out::NotChecked;
            r.reason = o.message;
            break;
        case Kind::Planned:
            r.outcome = Out::Planned;
            r.endview = {m_home + QString::fromLocal8Bit(plat::cleartool_marker()),
                         QStringLiteral("endview"), QStringLiteral("-server"), r.tag};
            break;
        case Kind::Abandoned:
            // A lookup the run's stop ended: the view was not started.
            return;
        }
        if (!o.note.isEmpty())
            r.reason = r.reason.isEmpty() ? o.note : r.reason + QStringLiteral("; ") + o.note;
        finishedView(r, item.id);
    }

    // Counts and prints one view's result; i is its place among the picked
    // rows, -1 for a tag the listing lacks.
    void finishedView(const ViewResult& r, int i) {
        switch (r.outcome) {
        case ViewResult::Outcome::Repaired:
            ++m_counts.repaired;
            break;
        case ViewResult::Outcome::FixProtFailed:
        case ViewResult::Outcome::EndviewFailed:
        case ViewResult::Outcome::ServerNotStopped:
            ++m_counts.failed;
            break;
        case ViewResult::Outcome::Skipped:
            ++m_counts.skipped;
            break;
        case ViewResult::Outcome::Planned:
            ++m_counts.planned;
            break;
        case ViewResult::Outcome::Sound:
        case ViewResult::Outcome::SoundNotRepaired:
            ++m_counts.sound;
            break;
        case ViewResult::Outcome::NeedsRepair:
            ++m_counts.needsRepair;
            break;
        case ViewResult::Outcome::NotChecked:
            // Not repaired since it could not be checked: a failure of the repair.
            ++(m_o.check ? m_counts.notChecked : m_counts.failed);
            break;
        }
        if (r.outcome != ViewResult::Outcome::Repaired &&
            r.outcome != ViewResult::Outcome::Planned && r.outcome != ViewResult::Outcome::Sound &&
            r.outcome != ViewResult::Outcome::SoundNotRepaired)
            m_unfinished.append(r.tag);
        if (i >= 0)
            m_ended.insert(i);
        m_report.view(r);
        m_report.progress(counts());
    }

    Counts counts() const {
        Counts c = m_counts;
        c.running = m_engine ? m_engine->atWork() : 0;
        c.waiting = m_engine ? m_engine->waiting() : 0;
        return c;
    }

    void summary() {
        m_over = true;
        m_tick.stop();
        Summary s;
        s.counts = counts();
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            if (!m_ended.contains(int(i))) {
                m_unfinished.append(m_list.tag(m_rows.at(i)));
                if (!m_leftAlone.contains(m_list.tag(m_rows.at(i))))
                    ++s.notStarted;
            }
        }
        s.leftAlone = m_leftAlone.size();
        if (s.notStarted > 0)
            s.stoppedBy = stoppedBy();
        s.unread = m_unread;
        s.listingFailed = m_listingFailed;
        // A run stopped during its listing, or one that left units at work,
        // did not do what it was asked.
        const bool cut = m_stopped && (!m_engine || !m_leftAlone.isEmpty());
        const bool clean = s.counts.failed == 0 && s.counts.skipped == 0 &&
                           s.counts.needsRepair == 0 && s.counts.notChecked == 0 &&
                           s.notStarted == 0 && m_unread == 0 && !m_listingFailed &&
                           !m_listingCut && !m_nothingMatched && !cut;
        if (cut && s.stoppedBy.isEmpty())
            s.stoppedBy = stoppedBy();
        s.exitStatus = clean ? 0 : 1;
        if (m_o.hasFailedTo && !writeFailedTo())
            s.exitStatus = 1;
        m_report.summary(s);
        QCoreApplication::exit(s.exitStatus);
    }

    // The tags to run again: unread, failed, skipped or not started, one a
    // line. The file is looked at again now: a link planted since the start
    // is refused as it would have been then.
    bool writeFailedTo() {
        QByteArray bytes;
        for (const QString& t : std::as_const(m_unfinished))
            bytes += t.toLocal8Bit() + '\n';
        const Result<void> written = write_failed_to(m_o.failedTo, bytes);
        if (written.ok())
            return true;
        m_report.error(QStringLiteral("cannot write ") + m_o.failedTo + QStringLiteral(": ") +
                       written.error());
        return false;
    }

    Options m_o;
    QString m_home;
    std::unique_ptr<cc::Session> m_session;
    Report& m_report;
    ViewListModel m_list;
    QPointer<cc::ListingJob> m_listing;
    QList<int> m_rows; // the picked rows, in list order
    QPointer<repair::RunEngine> m_engine;
    QSet<int> m_ended;
    QStringList m_unfinished;
    QList<repair::UnitRecord> m_owed; // endviews owed by units cut short
    QHash<QString, QString> m_due;    // views due again: tag -> record file
    QStringList m_leftAlone;          // at work when a second signal ended the run
    Counts m_counts;
    QTimer m_tick;
    bool m_caseSensitive = false;
    bool m_over = false;
    bool m_stopped = false;
    bool m_outputClosed = false;   // the stop came from an output whose reader had gone
    bool m_listingFailed = false;  // the listing itself could not be had
    bool m_listingCut = false;     // the listing ended early: views may be missing
    bool m_nothingMatched = false; // a narrowing pick found no view
    int m_unread = 0;              // views the listing could not read
    QList<QByteArray> m_jsonLines; // a JSON listing's lines, in the order the list added them
    QByteArray m_record;           // the line of the record just listed
};

} // namespace

int run_views(const Options& o, const QString& home, cc::Backend& backend, Report& report) {
    Runner runner(o, home, backend.createSession(home), report);
    process::on_stop_signals([&runner] { runner.stop(); });
    // A reader that went away (`| head`, a dropped ssh session) stops the
    // run as a first signal would: the views at work still finish.
    report.onBrokenOutput(
        [&runner] { QTimer::singleShot(0, &runner, [&runner] { runner.outputLost(); }); });
    QTimer::singleShot(0, &runner, &Runner::start);
    return QCoreApplication::exec();
}

} // namespace tsy::headless
