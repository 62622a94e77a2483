#include "cleartoolcli.h"

#include "common/platform.h"

#include <QProcess>
#include <QSet>

#include <algorithm>

#include <atomic>

namespace tsy::cc {

namespace {
std::atomic<int> g_timeoutMs{kCleartoolTimeoutMs};
} // namespace

void CleartoolRunner::setTimeoutMs(int ms) {
    g_timeoutMs = ms > 0 ? ms : kCleartoolTimeoutMs;
}

int CleartoolRunner::timeoutMs() {
    return g_timeoutMs;
}

CleartoolRunner::Result CleartoolRunner::runAll(const QStringList& args) const {
    QProcess p;
    p.setProgram(m_program);
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QIODevice::ReadOnly);
    if (!p.waitForStarted(-1)) {
        throw Failure(QStringLiteral("cannot run cleartool (") + m_program + QStringLiteral("): ") +
                      p.errorString());
    }
    const int limit = timeoutMs();
    if (!p.waitForFinished(limit)) {
        p.kill();
        p.waitForFinished(5000);
        throw Failure(QStringLiteral("cleartool did not answer in time (%1 s): cleartool ")
                          .arg(limit / 1000.0) +
                      args.join(u' '));
    }
    if (p.exitStatus() == QProcess::CrashExit)
        throw Failure(QStringLiteral("cleartool ended abnormally: cleartool ") + args.join(u' '));
    Result r;
    r.out = p.readAllStandardOutput();
    r.error = decode_output(p.readAllStandardError()).trimmed();
    r.exitCode = p.exitCode();
    if (r.exitCode != 0 && r.error.isEmpty())
        r.error = QStringLiteral("cleartool exited with status %1: cleartool ").arg(r.exitCode) +
                  args.join(u' ');
    return r;
}

QByteArray CleartoolRunner::run(const QStringList& args) const {
    Result r = runAll(args);
    if (r.exitCode != 0)
        throw Failure(r.error);
    return r.out;
}

QStringList split_cleartool_command(const QString& command) {
    struct Form {
        QLatin1StringView prefix;
        QStringList words;
    };
    static const Form forms[] = {
        {QLatin1StringView("endview -server "),
         {QStringLiteral("endview"), QStringLiteral("-server")}},
        {QLatin1StringView("catcs -tag "), {QStringLiteral("catcs"), QStringLiteral("-tag")}},
        {QLatin1StringView("lsview "), {QStringLiteral("lsview")}},
    };
    for (const Form& f : forms) {
        if (!command.startsWith(f.prefix))
            continue;
        const QString tag = command.mid(f.prefix.size());
        // "lsview -long x" and the like are options, not a tag.
        if (tag.isEmpty() || tag.startsWith(u'-'))
            break;
        QStringList words = f.words;
        words.append(tag);
        return words;
    }
    return QProcess::splitCommand(command);
}

QString CliBackend::cleartoolPath(const QString& cchome) {
    return cchome + QString::fromLocal8Bit(plat::cleartool_marker());
}

std::unique_ptr<Application> CliBackend::createApplication(const QString& cchome) {
    return std::make_unique<CliApplication>(CleartoolRunner(cleartoolPath(cchome)));
}

std::unique_ptr<ClearTool> CliBackend::createClearTool(const QString& cchome) {
    return std::make_unique<CliClearTool>(CleartoolRunner(cleartoolPath(cchome)));
}

void CliView::requireReadable() const {
    if (!m_record.problem.isEmpty())
        throw Failure(m_record.problem);
}

QString CliView::tagName() {
    requireReadable();
    return *m_record.tag;
}

QString CliView::host() {
    requireReadable();
    if (!m_record.serverHost)
        throw Failure(QStringLiteral("cleartool lsview gave no server host for view \"") +
                      *m_record.tag + QStringLiteral("\""));
    return *m_record.serverHost;
}

bool CliView::isActive() {
    requireReadable();
    if (!m_record.active)
        throw Failure(QStringLiteral("cleartool lsview gave no active state for view \"") +
                      *m_record.tag + QStringLiteral("\""));
    return *m_record.active;
}

bool CliView::isSnapShot() {
    requireReadable();
    return m_record.snapshot();
}

bool CliView::isUCMView() {
    requireReadable();
    return m_record.ucm();
}

QString CliView::configSpec() {
    requireReadable();
    return decode_output(
        m_runner.run({QStringLiteral("catcs"), QStringLiteral("-tag"), *m_record.tag}));
}

std::unique_ptr<View> CliViewCollection::item(int index) {
    if (index < 1 || index > m_records.size())
        throw Failure(QStringLiteral("Invalid index"));
    return std::make_unique<CliView>(m_records.at(index - 1), m_runner);
}

namespace {
QString with_comment(const LsviewRecord& r) {
    return *r.tag + QStringLiteral(" \"") + r.comment + QStringLiteral("\"");
}
} // namespace

std::unique_ptr<ViewCollection> CliApplication::views(bool, const QString&) {
    // Every view of the region: the flag and region of the library's call
    // select nothing narrower.
    // cleartool lists what it can and names on stderr the views it could
    // not read (a host that is down), then exits non-zero. Those views are
    // failures of their own; the others are still listed.
    const CleartoolRunner::Result listing =
        m_runner.runAll({QStringLiteral("lsview"), QStringLiteral("-long")});
    QList<LsviewRecord> records = parse_lsview_long(listing.out);
    if (listing.exitCode != 0) {
        if (records.isEmpty())
            throw Failure(listing.error);
        for (const QString& line : listing.error.split(u'\n', Qt::SkipEmptyParts)) {
            LsviewRecord failed;
            failed.problem = line.trimmed();
            records.append(failed);
        }
    }
    // `Tag: a "b"` is the tag a with the comment b, or a tag that itself
    // ends in a quoted word. The short listing, one tag a line, tells.
    const bool ambiguous = std::any_of(records.cbegin(), records.cend(), [](const LsviewRecord& r) {
        return r.tag && !r.comment.isEmpty();
    });
    if (ambiguous) {
        const QStringList tags =
            decode_output(m_runner.run({QStringLiteral("lsview"), QStringLiteral("-short")}))
                .split(u'\n');
        QSet<QString> known;
        for (QString t : tags) {
            while (t.endsWith(u'\r'))
                t.chop(1);
            known.insert(t);
        }
        for (LsviewRecord& r : records) {
            if (!r.tag || r.comment.isEmpty())
                continue;
            const QString whole = with_comment(r);
            if (known.contains(whole) && !known.contains(*r.tag)) {
                r.tag = whole;
                r.comment.clear();
            }
        }
    }
    return std::make_unique<CliViewCollection>(std::move(records), m_runner);
}

std::unique_ptr<View> CliApplication::view(const QString& tag) {
    const QByteArray out = m_runner.run({QStringLiteral("lsview"), QStringLiteral("-long"), tag});
    QList<LsviewRecord> records = parse_lsview_long(out);
    for (LsviewRecord& r : records) {
        if (r.tag && !r.comment.isEmpty() && with_comment(r) == tag) {
            r.tag = tag;
            r.comment.clear();
        }
        if (r.tag && *r.tag == tag)
            return std::make_unique<CliView>(std::move(r), m_runner);
    }
    if (!records.isEmpty() && !records.first().problem.isEmpty())
        throw Failure(records.first().problem);
    throw Failure(QStringLiteral("cleartool: Error: No matching entries found for view tag \"") +
                  tag + QStringLiteral("\"."));
}

QString CliClearTool::cmdExec(const QString& command) {
    const QStringList words = split_cleartool_command(command);
    if (words.isEmpty())
        throw Failure(QStringLiteral("cleartool: Error: no command given"));
    return decode_output(m_runner.run(words));
}

#ifndef Q_OS_WIN
std::shared_ptr<Backend> default_backend() {
    return std::make_shared<CliBackend>();
}
#endif

} // namespace tsy::cc
