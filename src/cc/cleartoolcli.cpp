// SPDX-License-Identifier: Apache-2.0
#include "cc/cleartoolcli.h"

#include "cc/lsviewstream.h"
#include "platform/platform.h"
#include "process/childprocess.h"
#include "process/runlog.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace tsy::cc {

namespace {
QString too_much(qint64 limit, const QStringList& args) {
    return QStringLiteral("cleartool wrote more than %1 MB: cleartool ").arg(limit >> 20) +
           args.join(u' ');
}
} // namespace

Result<int> listing_time_limit_s() {
    const QString text = qEnvironmentVariable("TESSALY_LIST_TIMEOUT").trimmed();
    if (text.isEmpty())
        return kListingTimeLimitS;
    bool ok = false;
    const int s = text.toInt(&ok);
    if (ok && s > 0 && s <= 1'000'000)
        return s;
    return Error{QStringLiteral("TESSALY_LIST_TIMEOUT must be a number of seconds from 1 to "
                                "1000000, not \"") +
                 text + u'"'};
}

CleartoolCall::CleartoolCall(const Cleartool& tool, QStringList args, Effect effect,
                             QObject* parent)
    : QObject(parent), m_program(tool.program),
      m_timeoutMs(tool.timeoutMs > 0 ? tool.timeoutMs : kCleartoolTimeoutMs),
      m_args(std::move(args)), m_effect(effect) {
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &CleartoolCall::onSilence);
}

CleartoolCall::~CleartoolCall() {
    if (m_process)
        abandon();
}

void CleartoolCall::start() {
    m_process = new QProcess(this);
    m_process->setProgram(m_program);
    m_process->setArguments(m_args);
    m_process->setStandardInputFile(QProcess::nullDevice());
    // Every call in a session of its own: a Ctrl-C meant for Tessaly
    // does not end a change, and a query ends only when Tessaly ends it.
    // A listing of many megabytes: a pipe with room for one lets cleartool
    // write on while a piece is parsed, and the pieces read are large.
    // Only async-signal-safe calls between fork and exec.
    m_process->setChildProcessModifier([bigPipe = m_streaming] {
        ::setsid();
#ifdef F_SETPIPE_SZ
        if (bigPipe)
            ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
#else
        Q_UNUSED(bigPipe);
#endif
    });
    connect(m_process, &QProcess::readyReadStandardOutput, this, &CleartoolCall::onOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_err += m_process->readAllStandardError();
        if (m_err.size() > kCleartoolAnswerLimit) {
            giveUp(too_much(kCleartoolAnswerLimit, m_args));
            return;
        }
        m_silence.start(m_timeoutMs);
    });
    connect(m_process, &QProcess::finished, this, &CleartoolCall::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &CleartoolCall::onError);
    m_silence.start(m_timeoutMs);
    m_clock.start();
    m_starting = true;
    m_process->start(QIODevice::ReadOnly);
    m_starting = false;
}

void CleartoolCall::abandon() {
    m_done = true;
    m_silence.stop();
    if (!m_process)
        return;
    QProcess* p = std::exchange(m_process, nullptr);
    if (m_effect == Effect::Query && p->state() != QProcess::NotRunning) {
        p->disconnect(this);
        p->kill();
    }
    process::keep_until_finished(p);
}

void CleartoolCall::onOutput() {
    // Read straight into the buffer kept: no new buffer per piece.
    const qint64 n = m_process->bytesAvailable();
    if (n > 0) {
        const qsizetype had = m_out.size();
        m_out.resize(had + qsizetype(n));
        const qint64 got = m_process->read(m_out.data() + had, n);
        m_out.resize(had + qsizetype(std::max<qint64>(got, 0)));
        m_written += std::max<qint64>(got, 0);
    }
    // What is kept whole is bounded by the answer's limit, what streams by
    // the listing's.
    const qint64 limit = m_streaming ? kCleartoolListingLimit : kCleartoolAnswerLimit;
    if (m_written > limit) {
        giveUp(too_much(limit, m_args));
        return;
    }
    m_silence.start(m_timeoutMs);
    if (m_streaming)
        emit outputArrived();
}

void CleartoolCall::onFinished(int code, QProcess::ExitStatus status) {
    if (m_done)
        return;
    m_out += m_process->readAllStandardOutput();
    m_err += m_process->readAllStandardError();
    if (status == QProcess::CrashExit) {
        m_problem = QStringLiteral("cleartool ended abnormally: cleartool ") + m_args.join(u' ');
    } else {
        m_ran = true;
        m_exitCode = code;
    }
    end();
}

void CleartoolCall::onError(QProcess::ProcessError error) {
    if (m_done || error != QProcess::FailedToStart)
        return;
    m_problem = QStringLiteral("cannot run cleartool (") + m_program + QStringLiteral("): ") +
                m_process->errorString();
    end();
}

void CleartoolCall::onSilence() {
    giveUp(QStringLiteral("cleartool did not answer in time (%1 s): cleartool ")
               .arg(m_timeoutMs / 1000.0) +
           m_args.join(u' '));
}

void CleartoolCall::giveUp(const QString& problem) {
    if (m_done || !m_process)
        return;
    m_problem = problem;
    m_out.clear();
    m_process->disconnect(this);
    m_process->kill();
    process::keep_until_finished(std::exchange(m_process, nullptr));
    end();
}

void CleartoolCall::end() {
    m_done = true;
    m_silence.stop();
    process::log_command(QStringList{m_program} + m_args,
                         m_ran ? QStringLiteral("exit status %1").arg(m_exitCode) : m_problem,
                         m_clock.isValid() ? m_clock.elapsed() : 0);
    // Callers learn of the end on a later turn of the event loop than the
    // one that started the call, even when the start itself failed.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_streaming && !m_out.isEmpty())
                emit outputArrived();
            emit finished();
        },
        m_starting ? Qt::QueuedConnection : Qt::DirectConnection);
}

QString call_failure(const CleartoolCall& call) {
    if (!call.ran())
        return call.problem();
    if (call.exitCode() == 0)
        return QString();
    const QString err = decode_output(call.errorOutput()).trimmed();
    if (!err.isEmpty())
        return err;
    return QStringLiteral("cleartool exited with status %1: cleartool ").arg(call.exitCode()) +
           call.arguments().join(u' ');
}

QString CliBackend::cleartoolPath(const QString& cchome) {
    return cchome + QString::fromLocal8Bit(plat::cleartool_marker());
}

namespace {

QString not_found(const QString& tag) {
    return QStringLiteral("cleartool: Error: No matching entries found for view tag \"") + tag +
           QStringLiteral("\".");
}

class CliCommand : public CommandJob {
public:
    CliCommand(const Cleartool& tool, const QStringList& words, Effect effect, QObject* parent)
        : CommandJob(parent), m_call(new CleartoolCall(tool, words, effect, this)) {
        connect(m_call, &CleartoolCall::finished, this, [this] {
            const QString failure = call_failure(*m_call);
            if (!failure.isEmpty()) {
                fail(failure);
                return;
            }
            setOutput(decode_output(m_call->takeOutput()));
            succeed();
        });
        m_call->start();
    }
    void abandon() override { m_call->abandon(); }

private:
    CleartoolCall* m_call;
};

// The sound record of tag from a finished `lsview -long TAG` call, or
// why there is none.
Result<LsviewRecord> listed_record(CleartoolCall& call, const QString& tag) {
    if (const QString failure = call_failure(call); !failure.isEmpty())
        return Error{failure};
    Result<std::optional<LsviewRecord>> r = find_record(parse_lsview_long(call.takeOutput()), tag);
    if (!r.ok())
        return Error{r.error()};
    if (!r.value())
        return Error{not_found(tag)};
    return *std::move(r).value();
}

QStringList long_listing_of(const QString& tag) {
    return {QStringLiteral("lsview"), QStringLiteral("-long"), tag};
}

class CliDetails : public DetailsJob {
public:
    CliDetails(const Cleartool& tool, const QString& tag, QObject* parent)
        : DetailsJob(parent), m_tool(tool), m_tag(tag),
          m_call(new CleartoolCall(tool, long_listing_of(tag), Effect::Query, this)) {
        connect(m_call, &CleartoolCall::finished, this, &CliDetails::onListed);
        m_call->start();
    }
    void abandon() override {
        if (m_call)
            m_call->abandon();
    }

private:
    void onListed() {
        const Result<LsviewRecord> listed = listed_record(*m_call, m_tag);
        if (!listed.ok()) {
            fail(listed.error());
            return;
        }
        const LsviewRecord& r = listed.value();
        setViewFound();
        if (!r.serverHost) {
            fail(QStringLiteral("cleartool lsview gave no server host for view \"") + m_tag +
                 QStringLiteral("\""));
            return;
        }
        if (!r.active) {
            fail(QStringLiteral("cleartool lsview gave no active state for view \"") + m_tag +
                 QStringLiteral("\""));
            return;
        }
        m_details.active = *r.active;
        m_details.snapshot = r.snapshot();
        m_details.ucm = r.ucm();
        m_details.host = *r.serverHost;
        m_call->deleteLater();
        m_call = new CleartoolCall(m_tool, {QStringLiteral("catcs"), QStringLiteral("-tag"), m_tag},
                                   Effect::Query, this);
        connect(m_call, &CleartoolCall::finished, this, [this] {
            const QString failure = call_failure(*m_call);
            if (!failure.isEmpty()) {
                fail(failure);
                return;
            }
            m_details.configSpec = decode_output(m_call->takeOutput());
            setDetails(m_details);
            succeed();
        });
        m_call->start();
    }

    Cleartool m_tool;
    QString m_tag;
    ViewDetails m_details;
    CleartoolCall* m_call;
};

// The error lines of a failed listing, one entry per error: a line that
// does not start a new message continues the one before it. Warnings are
// set apart; they are no failures.
struct ListingErrors {
    QStringList errors;
    QStringList warnings;
};

ListingErrors split_errors(const QString& stderrText) {
    ListingErrors e;
    bool inWarning = false;
    for (QString line : stderrText.split(u'\n')) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const bool starts = line.startsWith(QLatin1StringView("cleartool:"));
        if (starts && line.contains(QLatin1StringView("Warning:"))) {
            e.warnings.append(line.trimmed());
            inWarning = true;
            continue;
        }
        if (!starts && inWarning) {
            e.warnings.last() += u' ' + line.trimmed();
            continue;
        }
        inWarning = false;
        if (!starts && !e.errors.isEmpty())
            e.errors.last() += u' ' + line.trimmed();
        else
            e.errors.append(line.trimmed());
    }
    return e;
}

// The view tag an error names, if it names one: `view tag "TAG"`, or the
// `"TAG"` of a view-level message.
QString tag_named_in(const QString& error) {
    static const QRegularExpression re(QStringLiteral("view tag \"([^\"]*)\""));
    const QRegularExpressionMatch m = re.match(error);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Every view of the region from `lsview -long`, read as it streams.
class CliListing : public ListingJob {
public:
    CliListing(const Cleartool& tool, QObject* parent)
        : ListingJob(parent), m_tool(tool),
          m_call(new CleartoolCall(tool, {QStringLiteral("lsview"), QStringLiteral("-long")},
                                   Effect::Query, this)) {
        m_call->setStreaming(true);
        connect(m_call, &CleartoolCall::outputArrived, this, [this] {
            // The list of the last piece is used again; a piece read while
            // this one's views are handed out gets a list of its own.
            QList<LsviewRecord> records = std::exchange(m_spare, {});
            m_stream.feed(m_call->output(), records);
            m_call->dropOutput();
            take(records);
            records.clear();
            m_spare = std::move(records);
            if (m_stream.lineTooLong())
                m_call->giveUp(QStringLiteral("cleartool wrote more than %1 MB in one line: "
                                              "cleartool lsview -long")
                                   .arg(LsviewStream::kLineLimit >> 20));
        });
        connect(m_call, &CleartoolCall::finished, this, &CliListing::onListed);
        // A listing that talks without end is cut by its own time limit:
        // the silence limit never fires while it talks.
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            m_call->giveUp(QStringLiteral("the listing went on longer than %1 s: cleartool "
                                          "lsview -long (TESSALY_LIST_TIMEOUT)")
                               .arg(m_tool.listingLimitMs / 1000.0));
        });
        m_deadline.start(m_tool.listingLimitMs > 0 ? m_tool.listingLimitMs
                                                   : kListingTimeLimitS * 1000);
        m_call->start();
    }
    void abandon() override {
        m_abandoned = true;
        if (m_call)
            m_call->abandon();
        if (m_short)
            m_short->abandon();
    }
    void giveRecords() override {
        // The fields a record gives read as well: more work per view than a
        // bare listing needs.
        m_records = true;
        m_stream = LsviewStream(LsviewFields::Summary);
    }

private:
    void take(const QList<LsviewRecord>& records) {
        for (const LsviewRecord& r : records) {
            if (m_abandoned)
                return;
            ++m_report.total;
            // `Tag: a "b"` is the tag a with the comment b, or a tag that
            // itself ends in a quoted word: held until the short listing,
            // one tag a line, tells.
            if (r.problem.isEmpty() && r.tag && !r.comment.isEmpty()) {
                m_held.append(r);
                continue;
            }
            deliver(r);
        }
    }

    void deliver(const LsviewRecord& r) {
        QString problem = r.problem;
        if (problem.isEmpty() && !r.serverHost)
            problem = QStringLiteral("cleartool lsview gave no server host for view \"") + *r.tag +
                      QStringLiteral("\"");
        if (!problem.isEmpty()) {
            unread(problem, r.tag ? *r.tag : QString());
            return;
        }
        // Kept to tell, should the short listing be asked, which of its
        // tags the long one lost; a list costs less per view than a set.
        m_listed.append(*r.tag);
        if (m_records)
            emit recordListed(r);
        emit viewListed(*r.tag, *r.serverHost);
    }

    void unread(const QString& problem, const QString& name) {
        ++m_report.unreadable;
        noteFailure(problem);
        if (name.isEmpty()) {
            ++m_nameless;
        } else {
            m_unreadTags.insert(name);
            m_report.unreadNames.append(printable_name(name));
        }
        emit viewUnreadable(problem);
    }

    // The tags of the short listing that the long one neither listed nor
    // named: they are the views it lost, named now. Each fills the place
    // of a view counted without a name, or else counts as one more.
    void nameLost(const QStringList& shortTags) {
        QSet<QString> known(m_listed.cbegin(), m_listed.cend());
        known.unite(m_unreadTags);
        for (const QString& t : shortTags) {
            if (t.isEmpty() || known.contains(t))
                continue;
            known.insert(t);
            m_report.unreadNames.append(printable_name(t));
            if (m_nameless > 0) {
                --m_nameless;
            } else {
                ++m_report.unreadable;
                ++m_report.total;
            }
        }
    }

    void onListed() {
        m_deadline.stop();
        take(m_stream.finish());
        if (m_abandoned)
            return;
        if (!m_call->ran()) {
            noteFailure(m_call->problem());
            m_report.failedBefore = m_report.total == 0;
            if (!m_report.failedBefore) {
                m_report.sideFailure = m_call->problem();
                m_report.cut = true;
            }
            settleHeld(QSet<QString>(), false);
            succeed();
            return;
        }
        const ListingErrors errors = split_errors(decode_output(m_call->errorOutput()));
        m_report.warnings = errors.warnings;
        if (m_report.total == 0 && (m_call->exitCode() != 0 || !errors.errors.isEmpty())) {
            // Nothing was listed: the listing as such failed, whatever the
            // exit status said. Its errors are no views.
            if (m_call->exitCode() != 0)
                noteFailure(call_failure(*m_call));
            else {
                for (const QString& e : errors.errors)
                    noteFailure(e);
                m_report.lastFailure = errors.errors.join(QStringLiteral("\r\n"));
            }
            m_report.failedBefore = true;
            succeed();
            return;
        }
        // cleartool lists what it can and names on stderr the views it could
        // not read (a host that is down). Each view named counts once.
        QSet<QString> named;
        for (const QString& e : errors.errors) {
            const QString tag = tag_named_in(e);
            if (!tag.isEmpty() && named.contains(tag))
                continue;
            if (!tag.isEmpty())
                named.insert(tag);
            ++m_report.total;
            unread(e, tag);
        }
        if (m_call->exitCode() != 0 && errors.errors.isEmpty()) {
            // A failure that names no view: reported once, without a count.
            noteSideFailure(call_failure(*m_call));
        }
        // The short listing tells the tags of quoted words and of the views
        // the long one lost without a name.
        if (m_held.isEmpty() && m_nameless == 0) {
            succeed();
            return;
        }
        m_short = new CleartoolCall(m_tool, {QStringLiteral("lsview"), QStringLiteral("-short")},
                                    Effect::Query, this);
        connect(m_short, &CleartoolCall::finished, this, [this] {
            const QString failure = call_failure(*m_short);
            if (!failure.isEmpty()) {
                // Keep every view, reading the quoted word as a comment (the
                // usual case), and say what went wrong.
                noteSideFailure(failure);
                settleHeld(QSet<QString>(), false);
                succeed();
                return;
            }
            QStringList tags = decode_output(m_short->takeOutput()).split(u'\n');
            for (QString& t : tags) {
                while (t.endsWith(u'\r'))
                    t.chop(1);
            }
            settleHeld(QSet<QString>(tags.cbegin(), tags.cend()), true);
            nameLost(tags);
            succeed();
        });
        m_short->start();
    }

    void settleHeld(const QSet<QString>& known, bool useKnown) {
        for (LsviewRecord r : std::exchange(m_held, {})) {
            const QString whole = tag_with_comment(r);
            if (useKnown && known.contains(whole) && !known.contains(*r.tag)) {
                r.tag = whole;
                r.comment.clear();
            }
            deliver(r);
        }
    }

    Cleartool m_tool;
    CleartoolCall* m_call;
    CleartoolCall* m_short = nullptr;
    QTimer m_deadline;
    LsviewStream m_stream{LsviewFields::Listing};
    QList<LsviewRecord> m_spare;
    QList<LsviewRecord> m_held;
    QStringList m_listed;       // the tags delivered
    QSet<QString> m_unreadTags; // the tags of unread views, as they came
    int m_nameless = 0;         // unread views whose tag is not known
    bool m_records = false;     // recordListed wanted
    bool m_abandoned = false;
};

class CliSession : public Session {
public:
    explicit CliSession(Cleartool tool) : m_tool(std::move(tool)) {}
    ListingJob* listViews(QObject* parent) override { return new CliListing(m_tool, parent); }
    FixProtStyle fixProtStyle() const override { return FixProtStyle::Unix; }
    QString cleartoolProgram() const override { return m_tool.program; }
    CommandJob* command(const QStringList& words, Effect effect, QObject* parent) override {
        return new CliCommand(m_tool, words, effect, parent);
    }
    DetailsJob* details(const QString& tag, QObject* parent) override {
        return new CliDetails(m_tool, tag, parent);
    }

private:
    Cleartool m_tool;
};

} // namespace

std::unique_ptr<Session> CliBackend::createSession(const QString& cchome) {
    return std::make_unique<CliSession>(
        Cleartool{cleartoolPath(cchome), m_timeoutMs, m_listingLimitMs});
}

#ifndef Q_OS_WIN
std::shared_ptr<Backend> default_backend() {
    const Result<int> limit = listing_time_limit_s();
    return std::make_shared<CliBackend>(kCleartoolTimeoutMs,
                                        (limit.ok() ? limit.value() : kListingTimeLimitS) * 1000);
}
#endif

} // namespace tsy::cc
