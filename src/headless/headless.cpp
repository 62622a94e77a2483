#include "headless.h"

#include "clearcase/fixprot.h"
#include "clearcase/runengine.h"
#include "clearcase/runlocks.h"
#include "clearcase/runlog.h"
#include "clearcase/session.h"
#include "clearcase/stopsignals.h"
#include "clearcase/unitrecord.h"
#include "clearcase/viewlistmodel.h"
#include "clearcase/viewrepair.h"
#include "platform/platform.h"
#include "report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QSaveFile>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace tsy::headless {

namespace {

void err(const QString& line) {
    std::fputs(error_line(line).constData(), stderr);
    std::fflush(stderr);
}

// The installation directory, or empty with the reason given on stderr.
QString clearcase_home() {
    std::string home;
    if (!plat::get_key_value(plat::kHKeyLocalMachine, "SOFTWARE\\Atria\\ClearCase\\CurrentVersion",
                             "ProductHome", home)) {
        err(QStringLiteral("ClearCase is not installed: no installation directory is known"));
        return QString();
    }
    try {
        if (plat::holds_cleartool(home))
            return QString::fromLocal8Bit(home);
    } catch (const std::exception& e) {
        err(QStringLiteral("cannot tell whether ClearCase is installed: ") +
            QString::fromLocal8Bit(e.what()));
        return QString();
    }
    err(QStringLiteral("ClearCase is not installed: ") + QString::fromLocal8Bit(home) +
        QString::fromLocal8Bit(plat::cleartool_marker()) + QStringLiteral(" is missing"));
    return QString();
}

struct Options {
    bool list = false;
    bool repair = false;
    bool all = false;
    bool dryRun = false;
    bool ignoreCase = false;
    bool hasMatch = false;
    QString match;
    bool hasArgs = false;
    QString args;
    QStringList hosts; // --host: exact server host names
    bool hasTags = false;
    QStringList tags; // --tags: the file's tags, in its order
    int jobs = 1;
    int perHost = 1;
    Format format = Format::Text;
    QString failedTo;
};

// The tags of a --tags file: one a line, blank lines and "#" comments
// skipped. False, with why, when it cannot be read.
bool read_tags(const QString& path, QStringList& tags, QString& why) {
    QFile f;
    const bool ok = path == u"-" ? f.open(stdin, QIODevice::ReadOnly)
                                 : (f.setFileName(path), f.open(QIODevice::ReadOnly));
    if (!ok) {
        why = QStringLiteral("cannot read the tags file ") + path + QStringLiteral(": ") +
              f.errorString();
        return false;
    }
    const QByteArray bytes = f.readAll();
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            tags.append(line);
    }
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
        m_caseSensitive = m_session->fixProtStyle() == fixprot::Style::Unix;
        m_list.setCaseSensitiveTags(m_caseSensitive);
        m_tick.setInterval(1000);
        connect(&m_tick, &QTimer::timeout, this, [this] { m_report.progress(counts()); });
    }

    void start() {
        if (m_o.repair && !m_o.dryRun) {
            for (const UnitRecord& r : take_unit_records(unit_record_dir()))
                m_report.error(r.describe());
        }
        m_list.beginBatch();
        m_listing = m_session->listViews(this);
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
                m_engine->stop();
                return;
            }
            if (m_listing) {
                m_listing->abandon();
                m_listing->deleteLater();
            }
            if (!m_o.repair) {
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
    void listed() {
        m_list.endBatch();
        const cc::ListingReport report = m_listing->report();
        m_listing->deleteLater();
        const QString text = cc::report_text(report);
        if (!text.isEmpty()) {
            for (const QString& l : text.split(QStringLiteral("\r\n")))
                m_report.error(l);
        }
        const bool lost = report.failedBefore || report.unreadable > 0;
        if (m_o.list) {
            // One write for the whole list: a flush per line costs more
            // than the listing itself for a large region.
            const QByteArray bytes = local_lines(m_list);
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
            QCoreApplication::exit(lost ? 1 : 0);
            return;
        }
        if (report.failedBefore) {
            QCoreApplication::exit(1);
            return;
        }
        m_failedListing = lost;
        pick();
        const fixprot::Style style = m_session->fixProtStyle();
        RunSettings settings = RunEngine::settingsFor(
            *m_session, m_home,
            fixprot::argument_words(m_o.hasArgs ? m_o.args : fixprot::default_args(style)));
        settings.dryRun = m_o.dryRun;
        settings.jobs = m_o.jobs;
        settings.perHost = m_o.perHost;
        QList<RunItem> items;
        items.reserve(m_rows.size());
        for (qsizetype i = 0; i < m_rows.size(); ++i)
            items.append(RunItem{int(i), m_list.tag(m_rows.at(i)), m_list.host(m_rows.at(i)),
                                 RunMode::Hide});
        m_engine = new RunEngine(*m_session, settings, this);
        connect(m_engine, &RunEngine::viewEnded, this, &Runner::viewDone);
        connect(m_engine, &RunEngine::viewGivenUp, this, [this](const RunItem& item) {
            ViewResult skipped;
            skipped.tag = item.tag;
            skipped.host = item.host;
            skipped.reason = QStringLiteral("host ") + item.host + QStringLiteral(" unreachable");
            finishedView(skipped, item.id);
        });
        connect(m_engine, &RunEngine::finished, this, &Runner::summary);
        connect(m_engine, &RunEngine::viewStarted, this, [this] { m_report.progress(counts()); });
        m_engine->start(items);
        if (m_stopped)
            m_engine->stop();
        m_tick.start();
        m_report.progress(counts());
    }

    // The rows to repair: --all or --match, --host and --tags, all of those
    // given. A tag of the file that the listing lacks is reported here.
    void pick() {
        const bool folded = !m_caseSensitive;
        const auto key = [folded](const QString& t) {
            return folded ? t.toCaseFolded() : t;
        };
        QSet<QString> wanted;
        if (m_o.hasTags) {
            QSet<QString> listed;
            for (int i = 0; i < m_list.count(); ++i)
                listed.insert(key(m_list.tag(i)));
            QSet<QString> told;
            for (const QString& t : std::as_const(m_o.tags)) {
                wanted.insert(key(t));
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
            if (m_o.hasTags && !wanted.contains(key(m_list.tag(i))))
                continue;
            m_rows.append(i);
        }
    }

    void viewDone(const RunItem& item, const RepairOutcome& o) {
        ViewResult r;
        r.tag = item.tag;
        r.host = item.host;
        r.storage = o.storage;
        r.command = o.command;
        r.endviewRan = o.endviewRan;
        r.start = o.started;
        r.ms = o.elapsedMs;
        if (o.end.known && !o.end.crashed)
            r.exitStatus = o.end.exitCode;
        using Kind = RepairOutcome::Kind;
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
            r.outcome = Out::EndviewFailed;
            r.reason = o.message;
            m_endviewFailed = true; // as in the window, no further view starts
            break;
        case Kind::LookupFailed:
        case Kind::Skipped:
        case Kind::Busy:
            r.reason = o.message;
            break;
        case Kind::Planned:
            r.outcome = Out::Planned;
            r.endview = {m_home + QString::fromLocal8Bit(plat::cleartool_marker()),
                         QStringLiteral("endview"), QStringLiteral("-server"), r.tag};
            break;
        case Kind::Abandoned:
            r.reason = QStringLiteral("given up");
            break;
        }
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
            ++m_counts.failed;
            break;
        case ViewResult::Outcome::Skipped:
            ++m_counts.skipped;
            break;
        case ViewResult::Outcome::Planned:
            ++m_counts.planned;
            break;
        }
        if (r.outcome != ViewResult::Outcome::Repaired && r.outcome != ViewResult::Outcome::Planned)
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
            s.stoppedBy = m_stopped ? QStringLiteral("stopped by a signal")
                                    : QStringLiteral("endview failed");
        // A run stopped during its listing, or one that left units at work,
        // did not do what it was asked.
        const bool cut = m_stopped && (!m_engine || !m_leftAlone.isEmpty());
        const bool clean = s.counts.failed == 0 && s.counts.skipped == 0 && s.notStarted == 0 &&
                           !m_failedListing && !cut;
        if (cut && s.stoppedBy.isEmpty())
            s.stoppedBy = QStringLiteral("stopped by a signal");
        s.exitStatus = clean ? 0 : 1;
        if (!m_o.failedTo.isEmpty() && !writeFailedTo())
            s.exitStatus = 1;
        m_report.summary(s);
        QCoreApplication::exit(s.exitStatus);
    }

    // The tags to run again: failed, skipped or not started, one a line.
    bool writeFailedTo() {
        QSaveFile f(m_o.failedTo);
        QByteArray bytes;
        for (const QString& t : std::as_const(m_unfinished))
            bytes += t.toLocal8Bit() + '\n';
        if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
            return true;
        m_report.error(QStringLiteral("cannot write ") + m_o.failedTo + QStringLiteral(": ") +
                       f.errorString());
        return false;
    }

    Options m_o;
    QString m_home;
    std::unique_ptr<cc::Session> m_session;
    Report& m_report;
    ViewListModel m_list;
    QPointer<cc::ListingJob> m_listing;
    QList<int> m_rows; // the picked rows, in list order
    QPointer<RunEngine> m_engine;
    QSet<int> m_ended;
    QStringList m_unfinished;
    QStringList m_leftAlone; // at work when a second signal ended the run
    Counts m_counts;
    QTimer m_tick;
    bool m_caseSensitive = false;
    bool m_over = false;
    bool m_stopped = false;
    bool m_endviewFailed = false;
    bool m_failedListing = false;
};

Report* g_report = nullptr;
QtMessageHandler g_previousHandler = nullptr;

// Qt's messages (the command log among them) pass the status line.
void message_handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
    if (!g_report) {
        g_previousHandler(type, ctx, msg);
        return;
    }
    g_report->passThrough((qFormatLogMessage(type, ctx, msg) + u'\n').toLocal8Bit());
}

} // namespace

// A whole number of at least 1 from an option's value, or 0.
int count_value(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 ? n : 0;
}

int run(int argc, char** argv) {
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

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Lists the ClearCase views of the region, or repairs the protections of their storage "
        "with fix_prot and stops their servers. Without options the window starts."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Print every view, one tag:host line each."));
    const QCommandLineOption repair(
        QStringLiteral("repair"),
        QStringLiteral("Repair the views picked by --all, --match, --host and --tags."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Every view."));
    const QCommandLineOption match(QStringLiteral("match"),
                                   QStringLiteral("The views whose line contains PATTERN."),
                                   QStringLiteral("PATTERN"));
    const QCommandLineOption ignoreCase(QStringLiteral("ignore-case"),
                                        QStringLiteral("--match ignores letter case."));
    const QCommandLineOption host(
        QStringLiteral("host"),
        QStringLiteral("The views whose storage is on host NAME, exactly (may be repeated)."),
        QStringLiteral("NAME"));
    const QCommandLineOption tags(
        QStringLiteral("tags"),
        QStringLiteral("The views whose tags FILE names, one a line (- for standard input)."),
        QStringLiteral("FILE"));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
                                  QStringLiteral("Repair up to N views at once (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption perHost(
        QStringLiteral("per-host"),
        QStringLiteral("At most K of them on one storage host at once (default 1)."),
        QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("text (the default) or json: one JSON object per view and a summary."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption failedTo(
        QStringLiteral("failed-to"),
        QStringLiteral("Write the tags that failed, were skipped or not started to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption args(
        QStringLiteral("args"),
        QStringLiteral("fix_prot's arguments instead of the default ones ({owner} and {group} "
                       "are filled per view)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Look the views up and print what would run; run nothing."));
    p.addOptions({list, repair, all, match, ignoreCase, host, tags, jobs, perHost, format, failedTo,
                  args, dryRun});
    if (!p.parse(QCoreApplication::arguments())) {
        err(p.errorText());
        return 2;
    }
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(0);
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();

    Options o;
    o.list = p.isSet(list);
    o.repair = p.isSet(repair);
    o.all = p.isSet(all);
    o.dryRun = p.isSet(dryRun);
    o.ignoreCase = p.isSet(ignoreCase);
    o.hasMatch = p.isSet(match);
    o.match = p.value(match);
    o.hasArgs = p.isSet(args);
    o.args = p.value(args);
    o.hosts = p.values(host);
    o.hasTags = p.isSet(tags);
    o.jobs = count_value(p.value(jobs));
    o.perHost = count_value(p.value(perHost));
    o.failedTo = p.value(failedTo);
    if (!p.positionalArguments().isEmpty()) {
        err(QStringLiteral("unexpected argument: ") + p.positionalArguments().first());
        return 2;
    }
    if (o.list == o.repair) {
        err(QStringLiteral("say --list or --repair (see --help)"));
        return 2;
    }
    const bool picked = o.all || o.hasMatch || !o.hosts.isEmpty() || o.hasTags;
    if (o.repair && (!picked || (o.all && o.hasMatch))) {
        err(QStringLiteral("--repair needs --all or --match PATTERN (one of them), or --host or "
                           "--tags: nothing was run"));
        return 2;
    }
    if (o.list && (picked || o.dryRun || o.hasArgs || p.isSet(jobs) || p.isSet(perHost) ||
                   p.isSet(format) || p.isSet(failedTo))) {
        err(QStringLiteral("--list takes no other option"));
        return 2;
    }
    if (o.jobs == 0 || o.perHost == 0) {
        err(QStringLiteral("--jobs and --per-host take a whole number of at least 1"));
        return 2;
    }
    if (p.value(format) == u"json")
        o.format = Format::Json;
    else if (p.value(format) != u"text") {
        err(QStringLiteral("--format is text or json, not ") + p.value(format));
        return 2;
    }
    if (!o.failedTo.isEmpty()) {
        // Found out now rather than after a night's run.
        QSaveFile probe(o.failedTo);
        if (!probe.open(QIODevice::WriteOnly)) {
            err(QStringLiteral("cannot write ") + o.failedTo + QStringLiteral(": ") +
                probe.errorString() + QStringLiteral(": nothing was run"));
            return 2;
        }
        probe.cancelWriting();
    }
    if (o.hasTags) {
        QString why;
        if (!read_tags(p.value(tags), o.tags, why)) {
            err(why + QStringLiteral(": nothing was run"));
            return 2;
        }
    }

    const QString home = clearcase_home();
    if (home.isEmpty())
        return 2;
    RunLock lock;
    if (o.repair && !lock.acquire()) {
        err(QStringLiteral("another repair run is under way (") + lock.holder() +
            QStringLiteral("): nothing was run"));
        return 3;
    }
    Report report(o.format, o.dryRun, o.repair && error_output_is_terminal());
    g_report = &report;
    g_previousHandler = qInstallMessageHandler(message_handler);
    std::shared_ptr<cc::Backend> backend = cc::default_backend();
    Runner runner(o, home, backend->createSession(home), report);
    on_stop_signals([&runner] { runner.stop(); });
    // A reader that went away (`| head`, a dropped ssh session) stops the
    // run as a first signal would: the views at work still finish.
    report.onBrokenOutput(
        [&runner] { QTimer::singleShot(0, &runner, [&runner] { runner.outputLost(); }); });
    QTimer::singleShot(0, &runner, &Runner::start);
    const int status = QCoreApplication::exec();
    qInstallMessageHandler(g_previousHandler);
    g_report = nullptr;
    return status;
}

} // namespace tsy::headless
