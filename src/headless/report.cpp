// SPDX-License-Identifier: Apache-2.0
#include "report.h"

#include "process/commandline.h"
#include "repair/fixprot.h"
#include "repair/inspection.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tsy::headless {

namespace {

QString outcome_name(ViewResult::Outcome o) {
    switch (o) {
    case ViewResult::Outcome::Repaired:
        return QStringLiteral("repaired");
    case ViewResult::Outcome::ServerNotStopped:
        return QStringLiteral("repaired, server not stopped");
    case ViewResult::Outcome::FixProtFailed:
        return QStringLiteral("fix_prot failed");
    case ViewResult::Outcome::EndviewFailed:
        return QStringLiteral("endview failed");
    case ViewResult::Outcome::Skipped:
        return QStringLiteral("skipped");
    case ViewResult::Outcome::Planned:
        return QStringLiteral("planned");
    case ViewResult::Outcome::Sound:
        return QStringLiteral("sound");
    case ViewResult::Outcome::SoundNotRepaired:
        return QStringLiteral("sound, not repaired");
    case ViewResult::Outcome::NeedsRepair:
        return QStringLiteral("needs repair");
    case ViewResult::Outcome::NotChecked:
        return QStringLiteral("not checked");
    }
    return QString();
}

// The outcome as JSON names it: the text's name, but one word for the
// verdicts of an inspection.
QString json_outcome(ViewResult::Outcome o) {
    switch (o) {
    case ViewResult::Outcome::Sound:
    case ViewResult::Outcome::SoundNotRepaired:
        return QStringLiteral("sound");
    case ViewResult::Outcome::NeedsRepair:
        return QStringLiteral("needs_repair");
    case ViewResult::Outcome::NotChecked:
        return QStringLiteral("not_checked");
    default:
        return outcome_name(o);
    }
}

QByteArray json_line(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QJsonValue text_or_null(const QString& s) {
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

// "about 3 min 20 s left" from the pace so far.
QString time_left(qint64 elapsedMs, int done, qsizetype remaining) {
    if (done == 0 || remaining == 0)
        return QString();
    const qint64 s = qint64(std::ceil(double(elapsedMs) * double(remaining) / done / 1000.0));
    if (s < 60)
        return QStringLiteral(", about %1 s left").arg(s);
    if (s < 3600)
        return QStringLiteral(", about %1 min %2 s left").arg(s / 60).arg(s % 60);
    return QStringLiteral(", about %1 h %2 min left").arg(s / 3600).arg(s % 3600 / 60);
}

} // namespace

bool error_output_is_terminal() {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

Report::Report(Format format, bool dryRun, bool statusLine)
    : m_format(format), m_dryRun(dryRun), m_started(QDateTime::currentDateTimeUtc()),
      m_statusLine(statusLine) {
    m_clock.start();
}

Report::~Report() {
    hideStatus();
}

QString Report::outcomeText(const ViewResult& r) {
    using O = ViewResult::Outcome;
    QString text = outcome_name(r.outcome);
    if (r.outcome == O::NeedsRepair)
        text +=
            QStringLiteral(": ") + repair::needs_repair_text(r.found, r.more, r.first, r.firstWhy);
    if (!r.reason.isEmpty())
        text += QStringLiteral(": ") + r.reason;
    if (!r.groups.isEmpty()) {
        // fix_prot removes them: said before, or after, so that they can be
        // given back.
        const bool repaired = r.outcome == O::Repaired || r.outcome == O::ServerNotStopped;
        const bool ran = repaired || r.outcome == O::FixProtFailed || r.outcome == O::EndviewFailed;
        if (ran)
            text += QStringLiteral("; fix_prot removed ") + repair::groups_text(r.groups);
        else
            text += QStringLiteral("; ") + repair::groups_text(r.groups) +
                    QStringLiteral("; fix_prot would remove them");
    }
    return text;
}

bool Report::endedWell(const ViewResult& r) {
    switch (r.outcome) {
    case ViewResult::Outcome::Repaired:
    case ViewResult::Outcome::Planned:
    case ViewResult::Outcome::Sound:
    case ViewResult::Outcome::SoundNotRepaired:
        return true;
    default:
        return false;
    }
}

void Report::view(const ViewResult& r) {
    if (m_quiet > 0 && endedWell(r))
        return;
    if (m_format == Format::Json) {
        out(view_json(r));
        return;
    }
    if (r.outcome == ViewResult::Outcome::Planned) {
        out((repair::shown_command(m_reach, r.command) + u'\n' +
             process::quoted_command(r.endview, process::Quoting::Shell) + u'\n')
                .toLocal8Bit());
        return;
    }
    if (m_dryRun) {
        error(one_line(r.tag + QStringLiteral(": ") + outcomeText(r)));
        return;
    }
    out((one_line(r.tag) + u'\t' + one_line(outcomeText(r)) + u'\t' +
         QStringLiteral("%1 s").arg(double(r.ms) / 1000.0, 0, 'f', 2) + u'\n')
            .toLocal8Bit());
}

void Report::summary(const Summary& s) {
    hideStatus();
    m_status.clear();
    if (m_quiet > 1 && s.exitStatus == 0)
        return;
    const Counts& c = s.counts;
    const int views = c.done();
    if (m_format == Format::Json) {
        QJsonObject o;
        o[QStringLiteral("views")] = views;
        o[QStringLiteral("repaired")] = c.repaired;
        o[QStringLiteral("failed")] = c.failed;
        o[QStringLiteral("skipped")] = c.skipped;
        if (m_dryRun)
            o[QStringLiteral("planned")] = c.planned;
        if (m_check || m_needed)
            o[QStringLiteral("sound")] = c.sound;
        if (m_check) {
            o[QStringLiteral("needs_repair")] = c.needsRepair;
            o[QStringLiteral("not_checked")] = c.notChecked;
        }
        o[QStringLiteral("not_started")] = double(s.notStarted);
        o[QStringLiteral("left_to_finish")] = double(s.leftAlone);
        o[QStringLiteral("unread")] = s.unread;
        o[QStringLiteral("listing_failed")] = s.listingFailed;
        o[QStringLiteral("stopped_by")] = text_or_null(s.stoppedBy);
        o[QStringLiteral("exit_status")] = s.exitStatus;
        o[QStringLiteral("duration_s")] = double(m_clock.elapsed()) / 1000.0;
        // Nights appended to one file are told apart by their times.
        o[QStringLiteral("started")] = m_started.toString(Qt::ISODateWithMs);
        o[QStringLiteral("ended")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        o[QStringLiteral("options")] = m_options;
        last(json_line(QJsonObject{{QStringLiteral("summary"), o}}));
        return;
    }
    if (s.listingFailed) {
        out(QByteArrayLiteral("no view was run: the listing failed\n"));
        return;
    }
    QString line = m_check ? QStringLiteral("%1: %2 sound, %3 need repair, %4 not checked")
                                 .arg(count_of(views, QStringLiteral("view")))
                                 .arg(c.sound)
                                 .arg(c.needsRepair)
                                 .arg(c.notChecked)
                   : m_needed ? QStringLiteral("%1: %2 repaired, %3 sound, %4 failed, %5 skipped")
                                    .arg(count_of(views, QStringLiteral("view")))
                                    .arg(m_dryRun ? c.planned : c.repaired)
                                    .arg(c.sound)
                                    .arg(c.failed)
                                    .arg(c.skipped)
                   : m_dryRun ? QStringLiteral("%1: %2 would be repaired, %3 skipped")
                                    .arg(count_of(views, QStringLiteral("view")))
                                    .arg(c.planned)
                                    .arg(c.skipped)
                              : QStringLiteral("%1: %2 repaired, %3 failed, %4 skipped")
                                    .arg(count_of(views, QStringLiteral("view")))
                                    .arg(c.repaired)
                                    .arg(c.failed)
                                    .arg(c.skipped);
    if (s.notStarted > 0)
        line += QStringLiteral(", %1 not started (%2)").arg(s.notStarted).arg(s.stoppedBy);
    else if (!s.stoppedBy.isEmpty())
        line += QStringLiteral(", ") + s.stoppedBy;
    if (s.leftAlone > 0)
        line += QStringLiteral(", %1 left to finish on their own").arg(s.leftAlone);
    if (s.unread > 0)
        line += QStringLiteral(", %1 could not be read").arg(s.unread);
    last((line + u'\n').toLocal8Bit());
}

QString count_of(qsizetype n, const QString& noun) {
    return QString::number(n) + u' ' + noun + (n == 1 ? QString() : QStringLiteral("s"));
}

QString one_line(const QString& text) {
    QString line = text;
    line.replace(QLatin1StringView("\r\n"), QLatin1StringView(" "));
    for (QChar& c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return line;
}

namespace {
// A JSON string: UTF-8, with the quote, the backslash and control
// characters escaped.
void append_json_string(QByteArray& out, const QString& text) {
    // Most text is printable ASCII, copied a character a byte; from the
    // first character that is not, the rest goes through UTF-8 and escapes.
    const auto* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    qsizetype plain = 0;
    while (plain < n && s[plain] >= 0x20 && s[plain] < 0x80 && s[plain] != u'"' &&
           s[plain] != u'\\')
        ++plain;
    const qsizetype at = out.size();
    out.resize(at + plain + 1);
    char* d = out.data() + at;
    *d++ = '"';
    for (qsizetype i = 0; i < plain; ++i)
        d[i] = char(s[i]);
    if (plain < n) {
        const QByteArray bytes = QStringView(text).sliced(plain).toUtf8();
        for (const char ch : bytes) {
            const auto b = static_cast<unsigned char>(ch);
            if (b == '"' || b == '\\') {
                out += '\\';
                out += ch;
            } else if (b < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[b >> 4];
                out += hex[b & 15];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

// A JSON array of strings.
void append_json_strings(QByteArray& out, const QStringList& texts) {
    out += '[';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            out += ',';
        append_json_string(out, texts.at(i));
    }
    out += ']';
}
} // namespace

void append_listing_json(QByteArray& out, const QString& tag, const QString& host,
                         const QString& line, const QString& globalPath, std::optional<bool> active,
                         const QStringList& attributes) {
    // Written by hand: a QJsonObject per view costs more than reading the
    // listing does.
    out += "{\"tag\":";
    append_json_string(out, tag);
    out += ",\"host\":";
    append_json_string(out, host);
    out += ",\"line\":";
    append_json_string(out, line);
    out += ",\"global_path\":";
    if (globalPath.isNull())
        out += "null";
    else
        append_json_string(out, globalPath);
    out += ",\"active\":";
    out += !active ? "null" : *active ? "true" : "false";
    out += ",\"attributes\":";
    append_json_strings(out, attributes);
    out += "}\n";
}

namespace {
// The pieces of a JSON object written by hand.
struct JsonObjectWriter {
    QByteArray& out;
    bool first = true;

    void key(const char* name) {
        out += first ? "{\"" : ",\"";
        first = false;
        out += name;
        out += "\":";
    }
    void text(const char* name, const QString& value) {
        key(name);
        append_json_string(out, value);
    }
    // An empty text is null.
    void textOrNull(const char* name, const QString& value) {
        key(name);
        if (value.isEmpty())
            out += "null";
        else
            append_json_string(out, value);
    }
    void texts(const char* name, const QStringList& values) {
        key(name);
        append_json_strings(out, values);
    }
    void number(const char* name, qint64 value) {
        key(name);
        out += QByteArray::number(value);
    }
    void boolean(const char* name, bool value) {
        key(name);
        out += value ? "true" : "false";
    }
    void close() { out += first ? "{}" : "}"; }
};
} // namespace

QByteArray view_json(const ViewResult& r) {
    // By hand, with the keys in the order a QJsonObject writes them
    // (sorted): building a QJsonObject for each view cost a tenth of a
    // night run's own time.
    QByteArray out;
    out.reserve(512);
    JsonObjectWriter o{out};
    if (r.inspected)
        o.texts("additional_groups", r.groups);
    o.texts("command", r.command);
    o.key("duration_s");
    out += QByteArray::number(double(r.ms) / 1000.0, 'g', QLocale::FloatingPointShortest);
    if (r.outcome == ViewResult::Outcome::Planned)
        o.texts("endview", r.endview);
    o.boolean("endview_ran", r.endviewRan);
    o.key("exit_status");
    out += r.exitStatus ? QByteArray::number(*r.exitStatus) : QByteArray("null");
    o.textOrNull("first", r.first);
    o.key("found");
    out += r.inspected ? QByteArray::number(r.found) : QByteArray("null");
    o.textOrNull("host", r.host);
    if (r.inspected)
        o.boolean("more", r.more);
    o.text("outcome", json_outcome(r.outcome));
    if (r.inspected) {
        o.key("problems");
        out += '[';
        for (std::size_t i = 0; i < r.problems.size(); ++i) {
            const repair::Problem& p = r.problems[i];
            if (i > 0)
                out += ',';
            JsonObjectWriter problem{out};
            problem.number("count", p.count);
            problem.text("first", p.first);
            problem.text("kind", p.kind);
            problem.text("why", p.why);
            problem.close();
        }
        out += ']';
    }
    o.textOrNull("reason", r.reason);
    o.key("start");
    if (r.start.isValid())
        append_json_string(out, r.start.toUTC().toString(Qt::ISODateWithMs));
    else
        out += "null";
    o.textOrNull("storage", r.storage);
    o.text("tag", r.tag);
    o.close();
    out += '\n';
    return out;
}

QByteArray error_line(const QString& line) {
    return (QStringLiteral("tessaly: ") + line + u'\n').toLocal8Bit();
}

void Report::error(const QString& line) {
    err(error_line(line));
}

void Report::passThrough(const QByteArray& bytes) {
    err(bytes);
}

void Report::progress(const Counts& c) {
    if (!m_statusLine)
        return;
    const int failed = c.failed + c.skipped + c.notChecked;
    QString line = m_stopping ? QStringLiteral("stopping: %1 done").arg(c.done())
                              : QStringLiteral("%1 done").arg(c.done());
    if (failed > 0)
        line += QStringLiteral(" (%1 failed or skipped)").arg(failed);
    if (m_stopping)
        line += QStringLiteral(", %1 running").arg(c.running);
    else
        line += QStringLiteral(", %1 running, %2 left").arg(c.running).arg(c.waiting) +
                time_left(m_clock.elapsed(), c.done(), c.waiting + c.running);
    m_status = line.toLocal8Bit();
    drawStatus();
}

// A write that fails (a reader that has gone: the pipe of "| head", a
// dropped ssh session) marks that output broken; nothing more is tried
// there, and the run is told once.
bool Report::write(std::FILE* f, bool& broken, const QByteArray& bytes) {
    if (broken)
        return false;
    const bool ok =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) == size_t(bytes.size()) &&
        std::fflush(f) == 0;
    if (ok)
        return true;
    broken = true;
    std::clearerr(f);
    if (m_onBroken)
        m_onBroken();
    return false;
}

void Report::out(const QByteArray& bytes) {
    hideStatus();
    write(stdout, m_outBroken, bytes);
    drawStatus();
}

void Report::err(const QByteArray& bytes) {
    hideStatus();
    write(stderr, m_errBroken, bytes);
    drawStatus();
}

// The summary goes to whichever output still works.
void Report::last(const QByteArray& bytes) {
    if (m_outBroken)
        err(bytes);
    else
        out(bytes);
}

// The status line ends without a line feed; "\r" and "erase to the end of
// the line" take it away again.
void Report::hideStatus() {
    if (!m_statusShown)
        return;
    m_statusShown = false;
    write(stderr, m_errBroken, QByteArrayLiteral("\r\x1b[K"));
}

void Report::drawStatus() {
    if (!m_statusLine || m_status.isEmpty())
        return;
    m_statusShown = write(stderr, m_errBroken, QByteArrayLiteral("\r\x1b[K") + m_status);
}

} // namespace tsy::headless
