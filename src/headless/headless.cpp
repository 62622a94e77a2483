// SPDX-License-Identifier: Apache-2.0
#include "headless.h"

#include "cc/cchome.h"
#ifndef Q_OS_WIN
#include "cc/cleartoolcli.h"
#endif
#include "cc/session.h"
#include "commandlog.h"
#include "options.h"
#include "process/runlog.h"
#ifdef Q_OS_LINUX
#include "process/epolldispatcher_linux.h"
#endif
#include "repair/fixprot.h"
#include "repair/runlocks.h"
#include "repair/unitrecord.h"
#include "report.h"
#include "runner.h"
#include "tagfiles.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tsy::headless {

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

// Sends Qt's messages (the command log among them) through a report, so
// that they pass its status line, for as long as it lives; then the handler
// before it is back. Qt calls a plain function, which finds the report
// through the one installer alive; installers nest, the inner one winning.
class ReportMessages {
public:
    ReportMessages(Report& report, CommandLog& log)
        : m_report(report), m_log(log), m_outer(s_current.load()) {
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
        ReportMessages* current = s_current.load();
        if (!current)
            std::fputs(line.constData(), stderr);
        else if (ctx.category && std::strcmp(ctx.category, process::lcRun().categoryName()) == 0)
            current->m_log.write(msg, line, current->m_report);
        else
            current->m_report.passThrough(line);
    }

    static inline std::atomic<ReportMessages*> s_current{nullptr};
    Report& m_report;
    CommandLog& m_log;
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
    if (o.hasFailedTo) {
        if (const Result<void> writable = can_write(o.failedTo); !writable.ok()) {
            err(QStringLiteral("cannot write ") + o.failedTo + QStringLiteral(": ") +
                writable.error() + QStringLiteral(": nothing was run"));
            return 2;
        }
    }
    if (o.hasTags) {
        const Result<QStringList> tags = read_tags(o.tagsFile, stdinOpen);
        if (!tags.ok()) {
            err(tags.error() + QStringLiteral(": nothing was run"));
            return 2;
        }
        o.tags += tags.value();
    }
    // A repair's units leave their records where no other account can
    // plant one or redirect them.
    if (o.repair && !o.dryRun) {
        if (const Result<QString> records = repair::unit_record_dir(); !records.ok()) {
            err(records.error() + QStringLiteral(": nothing was run"));
            return 2;
        }
    }
    const std::optional<QString> found = clearcase_home();
    if (!found)
        return 2;
    home = *found;
#ifndef Q_OS_WIN
    if (const Result<int> limit = cc::listing_time_limit_s(); !limit.ok()) {
        err(limit.error() + QStringLiteral(": nothing was run"));
        return 2;
    }
#endif
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
#ifdef Q_OS_LINUX
    // Cheaper still: epoll, whose turn costs what is ready rather than what
    // is watched. TESSALY_EVENT_LOOP=qt keeps Qt's own, to compare.
    if (qgetenv("TESSALY_EVENT_LOOP") != "qt") {
        auto* loop = new process::EpollDispatcher;
        if (loop->valid())
            QCoreApplication::setEventDispatcher(loop);
        else
            delete loop;
    }
#endif
    const bool glibChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!glibChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!glibChosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("tessaly"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));

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
    // Read where the reach of the hosts is made, for both faces.
    if (o.shareSsh)
        qputenv("TESSALY_SHARE_SSH", "1");
    CommandLog log;
    if (const Result<void> opened = log.open(o.verbose, o.hasLog ? o.logFile : QString());
        !opened.ok()) {
        err(QStringLiteral("cannot write the log ") + o.logFile + QStringLiteral(": ") +
            opened.error() + QStringLiteral(": nothing was run"));
        return 2;
    }
    // Every command is logged where the log goes; QT_LOGGING_RULES still
    // rules. With nowhere to go, no entry is even made.
    if (log.wanted())
        QLoggingCategory::setFilterRules(QStringLiteral("tessaly.run.info=true"));
    log.note(QCoreApplication::arguments().join(u' ') +
             QStringLiteral(" (pid %1)").arg(QCoreApplication::applicationPid()));
    QString home;
    std::shared_ptr<cc::Backend> backend;
    if (const int status = ready_to_run(o, stdinOpen, home, backend))
        return status;

    repair::RunLock lock;
    if (o.repair && !lock.acquire()) {
        if (!lock.problem().isEmpty()) {
            err(lock.problem() + QStringLiteral(": nothing was run"));
            return 2;
        }
        err(QStringLiteral("another repair run is under way (") + lock.holder() +
            QStringLiteral("): nothing was run"));
        return 3;
    }
    Report report(o.format, o.dryRun, (o.repair || o.check) && error_output_is_terminal());
    report.setCheck(o.check, o.needed);
    report.setQuiet(o.quiet);
    report.setOptions(options_json(o));
    const ReportMessages messages(report, log);
    return run_views(o, home, *backend, report);
}

} // namespace tsy::headless
