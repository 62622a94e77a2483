// SPDX-License-Identifier: Apache-2.0
#include "repair/unitrecord.h"

#include "repair/inspection.h"
#include "wrap/unitprotocol.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::repair {

namespace {
constexpr qsizetype kRecordLimit = 64 * 1024;

#ifndef Q_OS_WIN
// The record's bytes, or nothing while its unit still holds it.
bool read_if_free(const QString& path, QByteArray& text) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // A unit writes a few hundred bytes: more is no record of one.
    char buf[4096];
    ssize_t n = 0;
    while (text.size() < kRecordLimit && (n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, std::min<qsizetype>(n, kRecordLimit - text.size()));
    ::close(fd);
    return true;
}
#endif
} // namespace

QString unit_unescaped(QByteArrayView text) {
    return QString::fromLocal8Bit(unit::unescape(std::string_view(text.data(), text.size())));
}

UnitRecord parse_unit_record(const QByteArray& text) {
    UnitRecord r;
    namespace rec = unit::record;
    if (!text.startsWith(QByteArrayView(rec::magic.data(), rec::magic.size())))
        return r;
    bool ended = false;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const std::string_view key(line.constData(), std::size_t(eq));
        const QString value = unit_unescaped(QByteArrayView(line).sliced(eq + 1));
        if (key == rec::tag)
            r.tag = value;
        else if (key == rec::fixProt)
            r.fixProt = value;
        else if (key == rec::endview)
            r.endview = value;
        else if (key == rec::endviewMessage)
            r.endviewMessage = value.trimmed();
        else if (key == rec::started)
            r.started = value;
        else if (key == rec::ended) {
            r.ended = value;
            ended = true;
        }
    }
    r.finished = ended;
    return r;
}

QString UnitRecord::describe() const {
    const QString name = escaped_path(tag);
    const QString fix =
        fixProt.isEmpty() ? QStringLiteral("never reported") : escaped_path(fixProt);
    if (repairDue())
        return QStringLiteral("ended before finishing, after the run that started it had ended: ") +
               name + QStringLiteral(": fix_prot never reported, endview never ran (started ") +
               started +
               QStringLiteral("); the view is to be repaired again once that fix_prot "
                              "has ended");
    if (!finished)
        return QStringLiteral("ended before finishing, after the run that started it had "
                              "ended: ") +
               name + QStringLiteral(": fix_prot ") + fix +
               QStringLiteral(", endview never ran (started ") + escaped_path(started) + u')';
    QString text = QStringLiteral("finished after the run that started it had ended: ") + name +
                   QStringLiteral(": fix_prot ") + fix + QStringLiteral(", endview ") +
                   escaped_path(endview);
    if (!endviewMessage.isEmpty())
        text += QStringLiteral(" (") + escaped_path(endviewMessage.simplified()) + u')';
    return text + QStringLiteral(" (started ") + escaped_path(started) +
           QStringLiteral(", ended ") + escaped_path(ended) + u')';
}

QList<UnitRecord> take_unit_records(const QString& dir) {
    QList<UnitRecord> records;
#ifndef Q_OS_WIN
    if (dir.isEmpty())
        return records;
    const QStringList names =
        QDir(dir).entryList({QStringLiteral("*.unit")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QString& name : names) {
        const QString path = dir + u'/' + name;
        QByteArray text;
        if (!read_if_free(path, text))
            continue;
        UnitRecord r = parse_unit_record(text);
        // A unit that has only just made its record may not hold it yet.
        if (r.tag.isEmpty() &&
            QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) < 60)
            continue;
        r.file = path;
        if (r.tag.isEmpty() || (!r.endviewOwed() && !r.repairDue()))
            QFile::remove(path);
        if (!r.tag.isEmpty())
            records.append(r);
    }
#else
    Q_UNUSED(dir);
#endif
    return records;
}

} // namespace tsy::repair
