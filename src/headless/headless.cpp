// SPDX-License-Identifier: Apache-2.0
#include "headless.h"

#include "cc/cchome.h"
#ifndef Q_OS_WIN
#include "cc/cleartoolcli.h"
#endif
#include "cc/session.h"
#include "commandlog.h"
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

#ifndef Q_OS_WIN
// What the link at path holds, as written.
QString link_target(const QString& path) {
    QByteArray buf(4096, Qt::Uninitialized);
    const ssize_t n =
        ::readlink(QFile::encodeName(path).constData(), buf.data(), size_t(buf.size()));
    return n > 0 ? QFile::decodeName(buf.left(n)) : QString();
}

// Follows path's links as the kernel would, but refuses what its
// protected_symlinks rule refuses, whatever the sysctl says: a link in a
// world-writable sticky directory (such as /tmp) is followed only by its
// own owner, or when it belongs to the directory's owner. Another user's
// link there may point anywhere, at a file of ours above all. resolved:
// the path with no link left in it, or empty when the walk entered /proc,
// whose links name open files (a shell's /dev/stderr, <(...)) rather than
// paths. False, with why, for a link refused.
bool follow_safely(const QString& path, QString& resolved, QString& why) {
    QString done = QStringLiteral("/"); // what is walked so far, holding no link
    QStringList rest = QFileInfo(path).absoluteFilePath().split(u'/', Qt::SkipEmptyParts);
    int links = 0;
    while (!rest.isEmpty()) {
        const QString part = rest.takeFirst();
        if (part == u".")
            continue;
        if (part == u"..") {
            done = QFileInfo(done).path();
            continue;
        }
        const QString next = (done == u"/" ? QString() : done) + u'/' + part;
        if (next == u"/proc") {
            resolved.clear();
            return true;
        }
        struct stat st {};
        if (::lstat(QFile::encodeName(next).constData(), &st) != 0) {
            // Not there (yet): the open that follows says why, or makes it.
            rest.prepend(next);
            resolved = rest.join(u'/');
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        if (++links > 40) {
            why = path + QStringLiteral(": too many levels of symbolic links");
            return false;
        }
        struct stat dir {};
        const bool shared = ::lstat(QFile::encodeName(done).constData(), &dir) == 0 &&
                            (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
        if (shared && st.st_uid != ::geteuid() && st.st_uid != dir.st_uid) {
            why = next + QStringLiteral(" is a symbolic link of ") +
                  repair::account_name(st.st_uid) + QStringLiteral(" in the shared directory ") +
                  done + QStringLiteral(": only its owner may follow it");
            return false;
        }
        const QString target = link_target(next);
        if (target.startsWith(u'/'))
            done = QStringLiteral("/");
        rest = target.split(u'/', Qt::SkipEmptyParts) + rest;
    }
    resolved = done;
    return true;
}
#endif

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
    QString name = fromStdin ? QStringLiteral("the standard input") : path;
    QString open = path;
#ifndef Q_OS_WIN
    if (!fromStdin) {
        QString resolved;
        if (!follow_safely(path, resolved, why)) {
            why =
                QStringLiteral("will not read the tags file ") + path + QStringLiteral(": ") + why;
            return false;
        }
        if (!resolved.isEmpty())
            open = resolved;
    }
#endif
    const bool ok = fromStdin ? f.open(0, QIODevice::ReadOnly) // the standard input

                              : (f.setFileName(open), f.open(QIODevice::ReadOnly));
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

// How --failed-to's file is written, and where.
struct FailedToFile {
    enum class How {
        // A regular file named as itself: a new file renamed over it, so it
        // is replaced whole or not at all.
        Replace,
        // A regular file reached through a link: overwritten where it is,
        // never replaced, so the link keeps naming it.
        Overwrite,
        // A FIFO, a device or a terminal, or a name of an open file
        // descriptor such as /dev/stderr, whose file a shell opened
        // (2>>log): appended to, as renaming would replace the log or the
        // device.
        Append,
    };
    How how = How::Replace;
    QString path; // with every link followed, or as named for a descriptor
};

// How and where the file named path is written; false, with why, when it
// is not to be written at all.
bool failed_to_file(const QString& path, FailedToFile& f, QString& why) {
    f.path = path;
#ifndef Q_OS_WIN
    QString resolved;
    if (!follow_safely(path, resolved, why))
        return false;
    if (resolved.isEmpty()) {
        f.how = FailedToFile::How::Append;
        return true;
    }
    f.path = resolved;
    struct stat st {};
    if (::stat(QFile::encodeName(resolved).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        f.how = FailedToFile::How::Append;
    else if (resolved != QFileInfo(path).absoluteFilePath())
        f.how = FailedToFile::How::Overwrite;
    else
        f.how = FailedToFile::How::Replace;
#else
    Q_UNUSED(why);
#endif
    return true;
}

#ifndef Q_OS_WIN
QString last_error() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool write_all(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes bytes to a new file beside path, then renames it over path: the
// rename replaces the name itself, so a link put there meanwhile is
// replaced, never followed. An existing file's mode is kept.
bool replace_file(const QString& path, const QByteArray& bytes, QString& why) {
    QByteArray temp = QFile::encodeName(path) + ".tessaly-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        why = last_error();
        return false;
    }
    struct stat st {};
    mode_t mode = 0;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    if (!ok)
        why = last_error();
    if (::close(fd) != 0 && ok)
        why = last_error();
    if (why.isEmpty() && ::rename(temp.constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    if (why.isEmpty())
        why = last_error();
    ::unlink(temp.constData());
    return false;
}
#endif

// Writes bytes to --failed-to's file as f says; false, with why, when it
// could not.
bool write_failed_to_file(const FailedToFile& f, const QByteArray& bytes, QString& why) {
#ifndef Q_OS_WIN
    if (f.how == FailedToFile::How::Replace)
        return replace_file(f.path, bytes, why);
    const int flags = f.how == FailedToFile::How::Append
                          ? O_WRONLY | O_APPEND | O_CLOEXEC
                          : O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::open(QFile::encodeName(f.path).constData(), flags, 0666);
    if (fd < 0) {
        why = last_error();
        return false;
    }
    const bool ok = write_all(fd, bytes);
    if (!ok)
        why = last_error();
    ::close(fd);
    return ok;
#else
    QSaveFile file(f.path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    why = file.errorString();
    return false;
#endif
}

// Whether the file can be written, found out before the run rather than
// after a night's work. Nothing is written.
bool can_write(const QString& path, QString& why) {
    FailedToFile f;
    if (!failed_to_file(path, f, why))
        return false;
#ifndef Q_OS_WIN
    if (f.how != FailedToFile::How::Replace &&
        ::access(QFile::encodeName(f.path).constData(), F_OK) == 0) {
        if (::access(QFile::encodeName(f.path).constData(), W_OK) != 0) {
            why = last_error();
            return false;
        }
        return true;
    }
    // A file that does not exist or is replaced: its directory must take
    // a new file.
    QByteArray temp = QFile::encodeName(f.path) + ".tessaly-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        why = last_error();
        return false;
    }
    ::close(fd);
    ::unlink(temp.constData());
    return true;
#else
    QSaveFile probe(f.path);
    if (!probe.open(QIODevice::WriteOnly)) {
        why = probe.errorString();
        return false;
    }
    probe.cancelWriting();
    return true;
#endif
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
        const bool lost = report.failedBefore || report.unreadable > 0 || report.cut;
        m_listingCut = report.cut;
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
        QString why;
        FailedToFile f;
        if (failed_to_file(m_o.failedTo, f, why) && write_failed_to_file(f, bytes, why))
            return true;
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
    bool m_outputClosed = false;   // the stop came from an output whose reader had gone
    bool m_listingFailed = false;  // the listing itself could not be had
    bool m_listingCut = false;     // the listing ended early: views may be missing
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
    // A repair's units leave their records where no other account can
    // plant one or redirect them.
    if (o.repair && !o.dryRun && repair::unit_record_dir(&why).isEmpty()) {
        err(why + QStringLiteral(": nothing was run"));
        return 2;
    }
    const std::optional<QString> found = clearcase_home();
    if (!found)
        return 2;
    home = *found;
#ifndef Q_OS_WIN
    if (cc::listing_time_limit_s(&why); !why.isEmpty()) {
        err(why + QStringLiteral(": nothing was run"));
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
    {
        QString why;
        if (!log.open(o.verbose, o.hasLog ? o.logFile : QString(), why)) {
            err(QStringLiteral("cannot write the log ") + o.logFile + QStringLiteral(": ") + why +
                QStringLiteral(": nothing was run"));
            return 2;
        }
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
