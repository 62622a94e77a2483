// SPDX-License-Identifier: Apache-2.0
#include "repair/inspection.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tsy::repair {

namespace {
// $1 the cut, $2 the owner, $3 the group, $4 the storage. The walk starts
// at "." inside the storage so that -path needs no quoting of the
// storage's name for find. A first find on the storage alone finds out
// whether the host knows the owner and group (find refuses an unknown
// name before it reads anything), apart from a failure of the walk.
// find's own exit status is passed out past head's.
// One line, so that the command log shows it as one.
const char kScript[] =
    "cd \"$4\" || exit 3; "
    "find . -prune -user \"$2\" -group \"$3\" >/dev/null || exit 4; "
    "exec 3>&1; "
    "s=$({ { find . -path './.s/*' -prune -o \\( ! -user \"$2\" -o ! -group \"$3\" \\) -print; "
    "echo $? >&4; } | head -n \"$1\" >&3; } 4>&1); "
    "exit \"${s:-1}\"";

QString first_line(const QByteArray& bytes) {
    for (const QByteArray& line : bytes.split('\n')) {
        const QString l = QString::fromLocal8Bit(line).trimmed();
        if (!l.isEmpty())
            return l;
    }
    return QString();
}

QString with_message(const QString& text, const QByteArray& err) {
    const QString m = first_line(err);
    return m.isEmpty() ? text : text + QStringLiteral(": ") + m;
}
} // namespace

QStringList inspection_words(const QString& storage, const QString& owner, const QString& group) {
    return {QStringLiteral("sh"),
            QStringLiteral("-c"),
            QString::fromLatin1(kScript),
            QStringLiteral("sh"),
            QString::number(kInspectionCut),
            owner,
            group,
            storage};
}

Verdict verdict(const InspectionEnd& e, const QString& storage, const QString& owner,
                const QString& group, const QString& host) {
    Verdict v;
    if (!e.started) {
        v.why = QStringLiteral("the inspection could not be started: ") + e.startError;
        return v;
    }
    if (e.crashed) {
        v.why = with_message(QStringLiteral("the inspection ended abnormally"), e.err);
        return v;
    }
    const QString where = host.isEmpty() ? QStringLiteral("this host") : host;
    if (!host.isEmpty() && e.exitCode == 255) {
        v.why = with_message(QStringLiteral("ssh could not reach ") + host, e.err);
        return v;
    }
    for (const QByteArray& line : e.out.split('\n')) {
        if (line.isEmpty() || v.found == kInspectionCut)
            continue;
        if (v.found++ == 0) {
            const QString rel = QString::fromLocal8Bit(line);
            v.first = rel == u"."                            ? storage
                      : rel.startsWith(QStringLiteral("./")) ? storage + rel.mid(1)
                                                             : rel;
        }
    }
    if (v.found > 0) {
        v.kind = Verdict::Kind::NeedsRepair;
        return v;
    }
    switch (e.exitCode) {
    case 0:
        v.kind = Verdict::Kind::Sound;
        return v;
    case 3:
        v.why = with_message(QStringLiteral("cannot enter the storage on ") + where, e.err);
        return v;
    case 4:
        v.why = with_message(QStringLiteral("owner ") + owner + QStringLiteral(" or group ") +
                                 group + QStringLiteral(" is unknown on ") + where +
                                 QStringLiteral(" (fix_prot -chown/-chgrp would fail too)"),
                             e.err);
        return v;
    default:
        v.why = with_message(
            QStringLiteral("the inspection failed with exit status %1 on ").arg(e.exitCode) + where,
            e.err);
        return v;
    }
}

bool repair_at_work(const QString& lockPath) {
#ifdef Q_OS_WIN
    Q_UNUSED(lockPath);
    return false;
#else
    const int fd =
        ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false; // no lock file: no unit has ever taken it
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
#endif
}

} // namespace tsy::repair
