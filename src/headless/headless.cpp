#include "headless.h"

#include "clearcase/fixprot.h"
#include "clearcase/runlocks.h"
#include "clearcase/runlog.h"
#include "clearcase/session.h"
#include "clearcase/stopsignals.h"
#include "clearcase/viewlistmodel.h"
#include "clearcase/viewrepair.h"
#include "platform/platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace tsy::headless {

namespace {

void out(const QString& line) {
    std::fputs((line + u'\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void err(const QString& line) {
    std::fputs((QStringLiteral("tessaly: ") + line + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString words_for_reading(const QStringList& words) {
    QStringList shown;
    for (const QString& w : words)
        shown.append(fixprot::shell_quote(w));
    return shown.join(u' ');
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
};

// One listing, then, for --repair, one view after another: the same steps
// as the window's Execute, each started by the end of the one before.
class Runner : public QObject {
public:
    Runner(Options o, QString home, std::unique_ptr<cc::Session> session)
        : m_o(std::move(o)), m_home(std::move(home)), m_session(std::move(session)) {
        m_list.setCaseSensitiveTags(m_session->fixProtStyle() == fixprot::Style::Unix);
    }

    void start() {
        m_list.beginBatch();
        m_listing = m_session->listViews(this);
        connect(m_listing, &cc::ListingJob::viewListed, this,
                [this](const QString& tag, const QString& host) { m_list.addView(tag, host); });
        connect(m_listing, &cc::Job::finished, this, &Runner::listed);
    }

    // A signal: the view at work finishes, no further one starts.
    void stop() {
        if (m_stopped)
            return;
        m_stopped = true;
        if (!m_view && !m_o.repair)
            QCoreApplication::exit(1);
    }

private:
    void listed() {
        m_list.endBatch();
        const cc::ListingReport report = m_listing->report();
        m_listing->deleteLater();
        const QString text = cc::report_text(report);
        if (!text.isEmpty()) {
            for (const QString& l : text.split(QStringLiteral("\r\n")))
                err(l);
        }
        const bool lost = report.failedBefore || report.unreadable > 0;
        if (m_o.list) {
            // One write for the whole list: a flush per line costs more
            // than the listing itself for a large region.
            QString all;
            for (int i = 0; i < m_list.count(); ++i) {
                all += m_list.text(i);
                all += u'\n';
            }
            const QByteArray bytes = all.toLocal8Bit();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
            QCoreApplication::exit(lost ? 1 : 0);
            return;
        }
        if (report.failedBefore) {
            QCoreApplication::exit(1);
            return;
        }
        const QString pattern = m_o.ignoreCase ? m_o.match.toLower() : m_o.match;
        for (int i = 0; i < m_list.count(); ++i) {
            if (m_o.all || line_matches(m_list.text(i), pattern, m_o.ignoreCase))
                m_rows.append(i);
        }
        const fixprot::Style style = m_session->fixProtStyle();
        m_argWords = fixprot::argument_words(m_o.hasArgs ? m_o.args : fixprot::default_args(style));
        m_style = style;
        if (style == fixprot::Style::Unix)
            m_reach = fixprot::reach_from_environment();
        m_failedListing = lost;
        next();
    }

    void next() {
        if (m_stopped || m_next >= m_rows.size() || m_endviewFailed) {
            summary();
            return;
        }
        const int row = m_rows.at(m_next++);
        RepairRequest r;
        r.tag = m_list.tag(row);
        r.program = fixprot::program_path(m_home);
        r.arguments = m_argWords;
        r.mode = RunMode::Hide;
        r.style = m_style;
        r.reach = m_reach;
        r.endviewAfterFailure = m_style == fixprot::Style::Windows;
        r.dryRun = m_o.dryRun;
        m_view = new ViewRepair(*m_session, r, this);
        connect(m_view, &ViewRepair::finished, this, &Runner::viewDone);
        m_view->start();
    }

    void viewDone() {
        ViewRepair* v = m_view;
        m_view = nullptr;
        v->deleteLater();
        const RepairOutcome& o = v->outcome();
        const QString tag = v->request().tag;
        const QString secs = QStringLiteral("%1 s").arg(o.elapsedMs / 1000.0, 0, 'f', 2);
        using Kind = RepairOutcome::Kind;
        QString what;
        switch (o.kind) {
        case Kind::Repaired:
            ++m_repaired;
            what = QStringLiteral("repaired");
            break;
        case Kind::FixProtFailed:
            ++m_failed;
            what = QStringLiteral("fix_prot failed: ") + o.end.describe();
            break;
        case Kind::LaunchFailed:
            ++m_failed;
            what = QStringLiteral("fix_prot failed: could not be started: ") + o.message;
            break;
        case Kind::EndviewFailed:
            ++m_failed;
            m_endviewFailed = true; // as in the window, the run ends here
            what = QStringLiteral("endview failed: ") + o.message;
            break;
        case Kind::LookupFailed:
        case Kind::Skipped:
        case Kind::Busy:
            ++m_skipped;
            what = QStringLiteral("skipped: ") + o.message;
            break;
        case Kind::Planned:
            ++m_planned;
            out(words_for_reading(o.command));
            out(words_for_reading({m_home + QString::fromLocal8Bit(plat::cleartool_marker()),
                                   QStringLiteral("endview"), QStringLiteral("-server"), tag}));
            break;
        case Kind::Abandoned:
            ++m_skipped;
            what = QStringLiteral("skipped: given up");
            break;
        }
        if (!what.isEmpty()) {
            if (m_o.dryRun)
                err(tag + QStringLiteral(": ") + what);
            else
                out(tag + u'\t' + what + u'\t' + secs);
        }
        QTimer::singleShot(0, this, &Runner::next);
    }

    void summary() {
        const int views = m_repaired + m_failed + m_skipped + m_planned;
        QString s = m_o.dryRun ? QStringLiteral("%1 views: %2 would be repaired, %3 skipped")
                                     .arg(views)
                                     .arg(m_planned)
                                     .arg(m_skipped)
                               : QStringLiteral("%1 views: %2 repaired, %3 failed, %4 skipped")
                                     .arg(views)
                                     .arg(m_repaired)
                                     .arg(m_failed)
                                     .arg(m_skipped);
        const qsizetype left = m_rows.size() - views;
        if (left > 0)
            s += QStringLiteral(", %1 not started (%2)")
                     .arg(left)
                     .arg(m_stopped ? QStringLiteral("stopped by a signal")
                                    : QStringLiteral("endview failed"));
        out(s);
        const bool clean = m_failed == 0 && m_skipped == 0 && left == 0 && !m_failedListing;
        QCoreApplication::exit(clean ? 0 : 1);
    }

    Options m_o;
    QString m_home;
    std::unique_ptr<cc::Session> m_session;
    ViewListModel m_list;
    QPointer<cc::ListingJob> m_listing;
    QList<int> m_rows;
    qsizetype m_next = 0;
    QStringList m_argWords;
    fixprot::Style m_style = fixprot::Style::Windows;
    fixprot::Reach m_reach;
    QPointer<ViewRepair> m_view;
    int m_repaired = 0, m_failed = 0, m_skipped = 0, m_planned = 0;
    bool m_stopped = false;
    bool m_endviewFailed = false;
    bool m_failedListing = false;
};

} // namespace

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
    const QCommandLineOption repair(QStringLiteral("repair"),
                                    QStringLiteral("Repair the views picked by --all or --match."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Every view."));
    const QCommandLineOption match(QStringLiteral("match"),
                                   QStringLiteral("The views whose line contains PATTERN."),
                                   QStringLiteral("PATTERN"));
    const QCommandLineOption ignoreCase(QStringLiteral("ignore-case"),
                                        QStringLiteral("--match ignores letter case."));
    const QCommandLineOption args(
        QStringLiteral("args"),
        QStringLiteral("fix_prot's arguments instead of the default ones ({owner} and {group} "
                       "are filled per view)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Look the views up and print what would run; run nothing."));
    p.addOptions({list, repair, all, match, ignoreCase, args, dryRun});
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
    if (!p.positionalArguments().isEmpty()) {
        err(QStringLiteral("unexpected argument: ") + p.positionalArguments().first());
        return 2;
    }
    if (o.list == o.repair) {
        err(QStringLiteral("say --list or --repair (see --help)"));
        return 2;
    }
    if (o.repair && o.all == o.hasMatch) {
        err(QStringLiteral(
            "--repair needs --all or --match PATTERN, one of them: nothing was run"));
        return 2;
    }
    if (o.list && (o.all || o.hasMatch || o.dryRun || o.hasArgs)) {
        err(QStringLiteral("--list takes no other option"));
        return 2;
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
    std::shared_ptr<cc::Backend> backend = cc::default_backend();
    Runner runner(o, home, backend->createSession(home));
    on_stop_signals([&runner] { runner.stop(); });
    QTimer::singleShot(0, &runner, &Runner::start);
    return QCoreApplication::exec();
}

} // namespace tsy::headless
