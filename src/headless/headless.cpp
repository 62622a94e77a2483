#include "headless.h"

#include "cc/cchome.h"
#include "cc/session.h"
#include "model/viewlistmodel.h"
#include "options.h"
#include "platform/platform.h"
#include "process/runlog.h"
#include "process/stopsignals.h"
#include "repair/fixprot.h"
#include "repair/runengine.h"
#include "repair/runlocks.h"
#include "repair/unitrecord.h"
#include "repair/viewrepair.h"
#include "report.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QSaveFile>
#include <QSet>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::headless {

using model::line_matches;
using model::local_lines;
using model::ViewListModel;

namespace {

void err(const QString& line) {
    std::fputs(error_line(line).constData(), stderr);
    std::fflush(stderr);
}

// The installation directory, or nothing with the reason given on stderr.
std::optional<QString> clearcase_home() {
    using Outcome = cc::ClearCaseHome::Outcome;
    const cc::ClearCaseHome found = cc::clearcase_home();
    switch (found.outcome) {
    case Outcome::Found:
        return found.path;
    case Outcome::NotRegistered:
        err(QStringLiteral("ClearCase is not installed: no installation directory is known"));
        break;
    case Outcome::NoCleartool:
        err(QStringLiteral("ClearCase is not installed: ") + found.cleartool +
            QStringLiteral(" is missing"));
        break;
    case Outcome::SearchFailed:
    case Outcome::Failed:
        err(QStringLiteral("cannot tell whether ClearCase is installed: ") + found.reason);
        break;
    }
    return std::nullopt;
}

// The tags of a --tags file: one a line (a tag, or a tag:host line as
// --list prints it), blank lines and "#" comments skipped. False, with
// why, when it cannot be read. stdinOpen: whether the standard input was
// open when the program started.
bool read_tags(const QString& path, bool stdinOpen, QStringList& tags, QString& why) {
    QFile f;
    const bool fromStdin = path == u"-";
    if (fromStdin && !stdinOpen) {
        why = QStringLiteral("--tags -: the standard input is closed");
        return false;
    }
    const bool ok = fromStdin ? f.open(0, QIODevice::ReadOnly) // the standard input

                              : (f.setFileName(path), f.open(QIODevice::ReadOnly));
    const QString name = fromStdin ? QStringLiteral("the standard input") : path;
    if (!ok) {
        why = QStringLiteral("cannot read the tags file ") + name + QStringLiteral(": ") +
              f.errorString();
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        why = QStringLiteral("cannot read the tags from ") + name + QStringLiteral(": ") +
              f.errorString();
        return false;
    }
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            tags.append(line);
    }
    return true;
}

// Whether --failed-to's file is written where it is rather than through a
// temporary file renamed over it: a FIFO, a device or a terminal, or a name
// of an open file descriptor such as /dev/stderr, whose file a shell opened
// (2>>log): renaming over those would replace the log or the device.
bool write_in_place(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false; // a new file, or one QSaveFile will say why it cannot write
    if (!S_ISREG(st.st_mode))
        return true;
    QString p = QFileInfo(path).absoluteFilePath();
    for (int links = 0; links < 40; ++links) {
        if (p.startsWith(QLatin1StringView("/dev/")) || p.startsWith(QLatin1StringView("/proc/")))
            return true;
        const QFileInfo info(p);
        if (!info.isSymLink())
            return false;
        p = info.symLinkTarget();
    }
    return false;
#endif
}

// Whether the file can be written, found out before the run rather than
// after a night's work. Nothing is written.
bool can_write(const QString& path, QString& why) {
    if (write_in_place(path)) {
#ifndef Q_OS_WIN
        if (::access(QFile::encodeName(path).constData(), W_OK) != 0) {
            why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
#endif
        return true;
    }
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
        why = probe.errorString();
        return false;
    }
    probe.cancelWriting();
    return true;
}

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
                 repair::take_unit_records(repair::unit_record_dir())) {
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
                    [this](const cc::LsviewRecord& r) { keepRecord(r); });
        }
        connect(m_listing, &cc::ListingJob::viewListed, this,
                [this](const QString& tag, const QString& host) { m_list.addView(tag, host); });
        connect(m_listing, &cc::Job::finished, this, &Runner::listed);
    }

    // A signal, or an output that can no longer be written: no view starts
    // any more, those at work finish. During the listing, which is only a
    // query, the run ends at once. A further signal ends the run at once:
    // the units at work finish on their own and are named.
    void outputLost() {
        if (!m_stopped)
            stop();
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
    // What a JSON listing shows of a view beyond its tag and host.
    struct Facts {
        QString globalPath;
        std::optional<bool> active;
        QStringList attributes;
    };

    void keepRecord(const cc::LsviewRecord& r) {
        const QString line = ViewListModel::lineOf(*r.tag, r.serverHost.value_or(QString()));
        if (m_facts.contains(line))
            return; // the list keeps the first of two equal lines
        Facts f;
        f.globalPath = r.globalPath.value_or(QString());
        f.active = r.active;
        if (r.attributes) {
            // "snapshot,ucmview": one entry per word.
            for (const QStringView w : QStringView(*r.attributes).split(u','))
                if (!w.trimmed().isEmpty())
                    f.attributes.append(w.trimmed().toString());
        }
        m_facts.insert(line, f);
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

    QByteArray jsonListing() const {
        QByteArray out;
        for (int i = 0; i < m_list.count(); ++i) {
            const QString line = m_list.text(i);
            const Facts f = m_facts.value(line);
            out += listing_json(m_list.tag(i), m_list.host(i), line, f.globalPath, f.active,
                                f.attributes);
        }
        return out;
    }

    void listed() {
        m_list.endBatch();
        const cc::ListingReport report = m_listing->report();
        m_listing->deleteLater();
        tellListing(report);
        m_unread = report.unreadable;
        const bool lost = report.failedBefore || report.unreadable > 0;
        if (m_o.list) {
            // One write for the whole list: a flush per line costs more
            // than the listing itself for a large region.
            const QByteArray bytes =
                m_o.format == Format::Json ? jsonListing() : local_lines(m_list);
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
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
        pick(report.unreadNames);
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

    // The rows to repair: --all or --match, --host and --tags, all of those
    // given. A line of the file names a view by its tag or by its tag:host
    // line; one that names no listed view is reported here. Unread views
    // the pick may hold are kept for --failed-to.
    void pick(const QStringList& unreadNames) {
        const bool folded = !m_caseSensitive;
        const auto key = [folded](const QString& t) {
            return folded ? t.toCaseFolded() : t;
        };
        QSet<QString> wanted;     // tags and lines of the file
        QSet<QString> wantedTags; // and the tags of its lines, for unread views
        if (m_o.hasTags) {
            QSet<QString> listed;
            for (int i = 0; i < m_list.count(); ++i) {
                listed.insert(key(m_list.tag(i)));
                listed.insert(key(m_list.text(i)));
            }
            QSet<QString> told;
            for (const QString& t : std::as_const(m_o.tags)) {
                wanted.insert(key(t));
                wantedTags.insert(key(t));
                if (t.contains(u':'))
                    wantedTags.insert(key(t.section(u':', 0, -2)));
                if (!listed.contains(key(t)) && !told.contains(key(t))) {
                    told.insert(key(t));
                    ViewResult r;
                    r.tag = t;
                    r.reason = QStringLiteral("not in the listing");
                    finishedView(r, -1);
                }
            }
        }
        const QString pattern = m_o.ignoreCase ? m_o.match.toLower() : m_o.match;
        for (int i = 0; i < m_list.count(); ++i) {
            if (m_o.hasMatch && !line_matches(m_list.text(i), pattern, m_o.ignoreCase))
                continue;
            if (!m_o.hosts.isEmpty() && !m_o.hosts.contains(m_list.host(i)))
                continue;
            if (m_o.hasTags && !wanted.contains(key(m_list.tag(i))) &&
                !wanted.contains(key(m_list.text(i))))
                continue;
            m_rows.append(i);
        }
        // An unread view's host is not known: it is kept when its tag
        // may be picked, and a pattern that reaches past the tag may match.
        for (const QString& name : unreadNames) {
            if (m_o.hasMatch && !m_o.match.contains(u':') &&
                !line_matches(name, pattern, m_o.ignoreCase))
                continue;
            if (m_o.hasTags && !wantedTags.contains(key(name)))
                continue;
            m_unfinished.append(name);
        }
        const bool narrowed = m_o.hasMatch || !m_o.hosts.isEmpty() || m_o.hasTags;
        if (m_rows.isEmpty() && narrowed) {
            QStringList said;
            if (m_o.hasMatch)
                said << QStringLiteral("--match") << m_o.match;
            if (m_o.hasMatch && m_o.ignoreCase)
                said << QStringLiteral("--ignore-case");
            for (const QString& h : std::as_const(m_o.hosts))
                said << QStringLiteral("--host") << h;
            if (m_o.hasTags)
                said << QStringLiteral("--tags") << m_o.tagsFile;
            m_report.error(QStringLiteral("no view matched ") + one_line(said.join(u' ')));
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
        r.first = o.first;
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
            s.stoppedBy = QStringLiteral("stopped by a signal");
        s.unread = m_unread;
        s.listingFailed = m_listingFailed;
        // A run stopped during its listing, or one that left units at work,
        // did not do what it was asked.
        const bool cut = m_stopped && (!m_engine || !m_leftAlone.isEmpty());
        const bool clean = s.counts.failed == 0 && s.counts.skipped == 0 &&
                           s.counts.needsRepair == 0 && s.counts.notChecked == 0 &&
                           s.notStarted == 0 && m_unread == 0 && !m_listingFailed &&
                           !m_nothingMatched && !cut;
        if (cut && s.stoppedBy.isEmpty())
            s.stoppedBy = QStringLiteral("stopped by a signal");
        s.exitStatus = clean ? 0 : 1;
        if (m_o.hasFailedTo && !writeFailedTo())
            s.exitStatus = 1;
        m_report.summary(s);
        QCoreApplication::exit(s.exitStatus);
    }

    // The tags to run again: unread, failed, skipped or not started, one a
    // line. A regular file is replaced whole, or not at all; a FIFO, a
    // device or an inherited stream is written where it is.
    bool writeFailedTo() {
        QByteArray bytes;
        for (const QString& t : std::as_const(m_unfinished))
            bytes += t.toLocal8Bit() + '\n';
        QString why;
        if (write_in_place(m_o.failedTo)) {
            QFile f(m_o.failedTo);
            if (f.open(QIODevice::WriteOnly | QIODevice::Append) &&
                f.write(bytes) == bytes.size() && f.flush())
                return true;
            why = f.errorString();
        } else {
            QSaveFile f(m_o.failedTo);
            if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
                return true;
            why = f.errorString();
        }
        m_report.error(QStringLiteral("cannot write ") + m_o.failedTo + QStringLiteral(": ") + why);
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
    bool m_listingFailed = false;  // the listing itself could not be had
    bool m_nothingMatched = false; // a narrowing pick found no view
    int m_unread = 0;              // views the listing could not read
    QHash<QString, Facts> m_facts; // a JSON listing's facts, by line
};

// Sends Qt's messages (the command log among them) through a report, so
// that they pass its status line, for as long as it lives; then the handler
// before it is back. Qt calls a plain function, which finds the report
// through the one installer alive; installers nest, the inner one winning.
class ReportMessages {
public:
    explicit ReportMessages(Report& report) : m_report(report), m_outer(s_current.load()) {
        s_current = this;
        m_previous = qInstallMessageHandler(&ReportMessages::handle);
    }
    ~ReportMessages() {
        qInstallMessageHandler(m_previous);
        s_current = m_outer;
    }
    ReportMessages(const ReportMessages&) = delete;
    ReportMessages& operator=(const ReportMessages&) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
        const QByteArray line = (qFormatLogMessage(type, ctx, msg) + u'\n').toLocal8Bit();
        if (ReportMessages* current = s_current.load())
            current->m_report.passThrough(line);
        else
            std::fputs(line.constData(), stderr);
    }

    static inline std::atomic<ReportMessages*> s_current{nullptr};
    Report& m_report;
    ReportMessages* m_outer;
    QtMessageHandler m_previous = nullptr;
};

// Whether the standard input is open. A closed one (<&-) is replaced by
// /dev/null at once: the next file opened would take descriptor 0 and be
// read as the tags.
bool standard_input_open() {
#ifndef Q_OS_WIN
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1) {
        const int fd = ::open("/dev/null", O_RDONLY);
        if (fd > STDIN_FILENO)
            ::close(fd);
        return false;
    }
#endif
    return true;
}

// What a run needs before it starts, each found out now rather than after a
// night's run: a --failed-to file it can write, the --tags it reads, the
// ClearCase home, a backend that can do what is asked, and the repair's
// reach of the hosts. 0 when all is there; otherwise the status to end
// with, the reason told.
int ready_to_run(Options& o, bool stdinOpen, QString& home, std::shared_ptr<cc::Backend>& backend) {
    QString why;
    if (o.hasFailedTo && !can_write(o.failedTo, why)) {
        err(QStringLiteral("cannot write ") + o.failedTo + QStringLiteral(": ") + why +
            QStringLiteral(": nothing was run"));
        return 2;
    }
    if (o.hasTags && !read_tags(o.tagsFile, stdinOpen, o.tags, why)) {
        err(why + QStringLiteral(": nothing was run"));
        return 2;
    }
    const std::optional<QString> found = clearcase_home();
    if (!found)
        return 2;
    home = *found;
    backend = cc::default_backend();
    if ((o.check || o.needed) && backend->fixProtStyle() != cc::FixProtStyle::Unix) {
        // Windows storage is protected by ACLs, which this inspection does not read.
        err(QStringLiteral("--check and --needed need UNIX ClearCase: nothing was run"));
        return 2;
    }
    if ((o.repair || o.check) && backend->fixProtStyle() == cc::FixProtStyle::Unix) {
        const QString problem = repair::reach_from_environment().problem;
        if (!problem.isEmpty()) {
            err(problem + QStringLiteral(": nothing was run"));
            return 2;
        }
    }
    return 0;
}

} // namespace

int run(int argc, char** argv) {
    const bool stdinOpen = standard_input_open();
    // The plain poll() event loop costs less per child process than GLib's,
    // and a headless run may start thousands. Children do not inherit the
    // choice.
    const bool glibChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!glibChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!glibChosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("tessaly"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    // Every command is logged to stderr here; QT_LOGGING_RULES still rules.
    QLoggingCategory::setFilterRules(QStringLiteral("tessaly.run.info=true"));

    const ParsedOptions parsed = parse_options(QCoreApplication::arguments());
    if (!parsed.error.isEmpty()) {
        err(parsed.error);
        return 2;
    }
    if (parsed.help) {
        const QByteArray help = parsed.helpText.toLocal8Bit();
        std::fwrite(help.constData(), 1, size_t(help.size()), stdout);
        return 0;
    }
    if (parsed.version) {
        std::fputs(qPrintable(QCoreApplication::applicationName() + u' ' +
                              QCoreApplication::applicationVersion() + u'\n'),
                   stdout);
        return 0;
    }
    Options o = parsed.options;
    QString home;
    std::shared_ptr<cc::Backend> backend;
    if (const int status = ready_to_run(o, stdinOpen, home, backend))
        return status;

    repair::RunLock lock;
    if (o.repair && !lock.acquire()) {
        err(QStringLiteral("another repair run is under way (") + lock.holder() +
            QStringLiteral("): nothing was run"));
        return 3;
    }
    Report report(o.format, o.dryRun, (o.repair || o.check) && error_output_is_terminal());
    report.setCheck(o.check, o.needed);
    const ReportMessages messages(report);
    Runner runner(o, home, backend->createSession(home), report);
    process::on_stop_signals([&runner] { runner.stop(); });
    // A reader that went away (`| head`, a dropped ssh session) stops the
    // run as a first signal would: the views at work still finish.
    report.onBrokenOutput(
        [&runner] { QTimer::singleShot(0, &runner, [&runner] { runner.outputLost(); }); });
    QTimer::singleShot(0, &runner, &Runner::start);
    return QCoreApplication::exec();
}

} // namespace tsy::headless
