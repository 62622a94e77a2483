// SPDX-License-Identifier: Apache-2.0
#include "repair/inspection.h"

#include "process/commandline.h"
#include "repair/fixprot.h"
#include "repair/inspect_script.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::repair {

namespace {

// Put before the script when the storage lock on the host is to be probed
// ($4 the lock directory, unless the host's environment names its own, $5
// the lock's name), as the command that runs fix_prot there resolves it: a
// lock a repair holds makes the inspection end at once with 75. Only a
// regular file is handed to flock, which would block opening a FIFO.
const char kProbe[] =
    "L=${TESSALY_HOST_LOCK_DIR:-$4}/$5; "
    "if [ -n \"$5\" ] && [ -f \"$L\" ] && [ ! -L \"$L\" ] && command -v flock >/dev/null; then "
    "flock -n -E 75 -s \"$L\" true; "
    "if [ $? = 75 ]; then echo \"tessaly-inspect: a repair holds $L\" >&2; exit 75; fi; fi; "
    "set -- \"$1\" \"$2\" \"$3\"\n";

const QString kName = QStringLiteral("tessaly-inspect");

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

QStringList on_host_as_account(const Reach& reach, const QString& host, const QStringList& words) {
    if (host.isEmpty() || is_this_host(host))
        return words;
    QStringList remote;
    for (const QString& w : words)
        remote.append(process::shell_quote(w));
    return reach.remoteShell + QStringList{host} + remote;
}

// "read", "write" and "search" as far as the owner bits lack them.
QString lacking(unsigned mode, bool dir) {
    QStringList what;
    if (!(mode & 0400))
        what << QStringLiteral("read");
    if (!(mode & 0200))
        what << QStringLiteral("write");
    if (dir && !(mode & 0100))
        what << QStringLiteral("search");
    const QString last = what.takeLast();
    return what.isEmpty() ? last : what.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString mode_text(unsigned mode) {
    return QStringLiteral("mode %1").arg(mode, 4, 8, QLatin1Char('0'));
}

struct Entry {
    unsigned mode = 0;
    QString user, group, rel;
    QChar type;
};

// One record of the script: MODE TAB USER TAB GROUP TAB TYPE TAB PATH.
bool parse_record(const QByteArray& record, Entry& e) {
    QByteArrayList f;
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype tab = record.indexOf('\t', from);
        if (tab < 0)
            return false;
        f << record.mid(from, tab - from);
        from = tab + 1;
    }
    bool ok = false;
    e.mode = f[0].toUInt(&ok, 8);
    if (!ok || f[3].size() != 1)
        return false;
    e.user = QString::fromLocal8Bit(f[1]);
    e.group = QString::fromLocal8Bit(f[2]);
    e.type = QLatin1Char(f[3].at(0));
    e.rel = QString::fromLocal8Bit(record.mid(from));
    return !e.rel.isEmpty();
}

} // namespace

const QString& inspection_script() {
    static const QString script = [] {
        QStringList kept;
        for (const QString& line : QString::fromUtf8(kInspectScript).split(u'\n')) {
            if (!line.trimmed().startsWith(u'#') && !line.trimmed().isEmpty())
                kept << line;
        }
        QString text = kept.join(u'\n');
        text.append(u'\n');
        return text;
    }();
    return script;
}

QStringList inspection_words(const Reach& reach, const QString& host, const QString& storage,
                             const QString& owner, const QString& group, const QString& hostLockDir,
                             const QString& hostLockName) {
    const bool probe = !hostLockName.isEmpty();
    QStringList words{QStringLiteral("sh"),
                      QStringLiteral("-c"),
                      (probe ? QString::fromLatin1(kProbe) : QString()) + inspection_script(),
                      kName,
                      owner,
                      group,
                      storage};
    if (probe)
        words << hostLockDir << hostLockName;
    return on_host_as_account(reach, host, words);
}

// Reads each storage of the arguments after the script ($1) and the lock
// directory ($2), four words a storage: owner, group, storage, lock name.
// Each storage's records are followed by one record of its own: \1, the
// script's exit status, a tab and its error output.
const char kBatchDriver[] =
    "s=$1; d=$2; shift 2; exec 3>&1\n"
    "while [ $# -ge 4 ]; do\n"
    "e=$(sh -c \"$s\" tessaly-inspect \"$1\" \"$2\" \"$3\" \"$d\" \"$4\" 2>&1 >&3 3>&-)\n"
    "printf '\\001%s\\t%s\\0' $? \"$e\"\n"
    "shift 4\n"
    "done\n";

QStringList batch_inspection_words(const Reach& reach, const QString& host,
                                   const QString& hostLockDir, const QStringList& each) {
    return on_host_as_account(
        reach, host,
        QStringList{QStringLiteral("sh"), QStringLiteral("-c"), QString::fromLatin1(kBatchDriver),
                    kName, QString::fromLatin1(kProbe) + inspection_script(), hostLockDir} +
            each);
}

QStringList shown_batch_inspection_words(const Reach& reach, const QString& host,
                                         const QStringList& each) {
    return on_host_as_account(reach, host, QStringList{kName} + each);
}

QStringList shown_inspection_words(const Reach& reach, const QString& host, const QString& storage,
                                   const QString& owner, const QString& group) {
    return on_host_as_account(reach, host, {kName, owner, group, storage});
}

QStringList privileged_inspection_words(const Reach& reach, const QString& host,
                                        const QString& inspector, const QString& storage,
                                        const QString& owner, const QString& group) {
    const QStringList words{inspector, owner, group, storage};
    if (host.isEmpty() || is_this_host(host))
        return reach.privilege + words; // not called as root: root reads it all
    return command_on_host(reach, host, words);
}

QString inspector_path() {
    const QString fromEnv = qEnvironmentVariable("TESSALY_INSPECT");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         QStringList{dir + u'/' + kName, dir + QStringLiteral("/../lib/tessaly/") + kName}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
    }
    return QStringLiteral("/usr/lib/tessaly/") + kName;
}

Verdict verdict(const InspectionEnd& e, const QString& storage, const QString& owner,
                const QString& group, const QString& host) {
    Verdict v;
    if (!e.started) {
        v.why = QStringLiteral("the inspection could not be started: ") + e.startError;
        return v;
    }
    if (e.crashed && !e.cut) {
        v.why = with_message(QStringLiteral("the inspection ended abnormally"), e.err);
        return v;
    }
    const QString where = host.isEmpty() ? QStringLiteral("this host") : host;
    if (!host.isEmpty() && e.exitCode == 255) {
        v.why = with_message(QStringLiteral("ssh could not reach ") + host, e.err);
        return v;
    }
    if (e.exitCode == kInspectionBusy) {
        v.kind = Verdict::Kind::Busy;
        v.why = first_line(e.err);
        return v;
    }

    // The records, judged one by one.
    const auto path_of = [&storage](const QString& rel) -> QString {
        if (rel == u'.')
            return storage;
        if (rel == QLatin1StringView("./.s/."))
            return storage + QStringLiteral("/.s");
        return rel.startsWith(QStringLiteral("./")) ? storage + rel.mid(1) : rel;
    };
    const auto note = [&v](const QString& kind, const QString& path, const QString& why) {
        if (v.found++ == 0) {
            v.first = path;
            v.firstWhy = why;
        }
        for (Problem& p : v.problems) {
            if (p.kind == kind) {
                ++p.count;
                return;
            }
        }
        v.problems.push_back(Problem{kind, 1, path, why});
    };
    bool identity = false, uid = false, gid = false;
    QByteArrayList records = e.out.split('\0');
    if (e.cut && !records.isEmpty())
        records.removeLast(); // cut short in the middle
    for (const QByteArray& record : records) {
        Entry en;
        if (record.isEmpty() || !parse_record(record, en))
            continue;
        const QString path = path_of(en.rel);
        const bool groupFile = en.rel.startsWith(QStringLiteral("./.identity/group."));
        const bool inIdentity = en.rel.startsWith(QStringLiteral("./.identity/"));
        identity = identity || en.rel == QLatin1StringView("./.identity");
        if (groupFile && !v.groups.contains(en.group))
            v.groups << en.group;
        const bool dir = en.type == u'd';
        const bool file = en.type == u'f';
        QString kind, why;
        if (en.user != owner || (en.group != group && !groupFile)) {
            kind = QStringLiteral("owner");
            why = QStringLiteral("owned by ") + en.user + u':' + en.group;
        } else if (en.rel == QLatin1StringView("./.identity/uid") && !(en.mode & 04000)) {
            kind = QStringLiteral("identity");
            why = QStringLiteral("no set-user-ID bit");
        } else if (en.rel == QLatin1StringView("./.identity/gid") && !(en.mode & 02000)) {
            kind = QStringLiteral("identity");
            why = QStringLiteral("no set-group-ID bit");
        } else if ((dir && (en.mode & 0700) != 0700) ||
                   (file && !inIdentity && (en.mode & 0600) != 0600)) {
            kind = QStringLiteral("mode");
            why = mode_text(en.mode) + QStringLiteral(": its owner cannot ") +
                  lacking(en.mode, dir) + QStringLiteral(" it");
        } else if ((dir || file) && (en.mode & 0002)) {
            kind = QStringLiteral("mode");
            why = mode_text(en.mode) + QStringLiteral(": others can write it");
        }
        uid = uid || en.rel == QLatin1StringView("./.identity/uid");
        gid = gid || en.rel == QLatin1StringView("./.identity/gid");
        if (!kind.isEmpty())
            note(kind, path, why);
    }
    v.groups.sort();
    v.more = e.cut;
    const bool readThrough = e.exitCode == 0 && !e.cut;
    if (readThrough) {
        // What is missing shows only once the whole storage was read.
        const QString id = storage + QStringLiteral("/.identity");
        if (!identity)
            note(QStringLiteral("identity"), id, QStringLiteral("missing"));
        else if (!uid)
            note(QStringLiteral("identity"), id + QStringLiteral("/uid"),
                 QStringLiteral("missing"));
        else if (!gid)
            note(QStringLiteral("identity"), id + QStringLiteral("/gid"),
                 QStringLiteral("missing"));
    }
    if (v.found > 0) {
        // A storage read in part that shows damage needs repair all the same.
        v.more = v.more || !readThrough;
        v.kind = Verdict::Kind::NeedsRepair;
        return v;
    }
    switch (e.exitCode) {
    case 0:
        v.kind = e.cut ? Verdict::Kind::NotChecked : Verdict::Kind::Sound;
        if (e.cut)
            v.why = QStringLiteral("the inspection wrote more than %1 MB")
                        .arg(kInspectionLimit / (1024 * 1024));
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
    case 5: {
        static const QRegularExpression as(QStringLiteral("cannot read the storage as (\\S+)"));
        const QRegularExpressionMatch m = as.match(QString::fromLocal8Bit(e.err));
        v.unreadableAs = m.hasMatch() ? m.captured(1) : QStringLiteral("this account");
        v.why = QStringLiteral("cannot read the storage as ") + v.unreadableAs +
                QStringLiteral(" (see the man page for the sudo rule)");
        return v;
    }
    case 6:
        v.why = QStringLiteral("the storage on ") + where +
                QStringLiteral(" is not a view storage directory");
        return v;
    default:
        v.why = with_message(
            QStringLiteral("the inspection failed with exit status %1 on ").arg(e.exitCode) + where,
            e.err);
        return v;
    }
}

QString escaped_path(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QChar(u'0'));
        else if (u == 0x2028 || u == 0x2029 || c.category() == QChar::Other_Format)
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

QString needs_repair_text(int found, bool more, const QString& first, const QString& why) {
    return QStringLiteral("%1%2 %3, the first %4 (%5)")
        .arg(found)
        .arg(more ? QStringLiteral(" or more") : QString())
        .arg(found == 1 && !more ? QStringLiteral("entry") : QStringLiteral("entries"))
        .arg(escaped_path(first), why);
}

QString groups_text(const QStringList& groups) {
    return QStringLiteral("additional groups: ") + groups.join(QStringLiteral(", "));
}

bool repair_at_work(const QString& lockPath) {
#ifdef Q_OS_WIN
    Q_UNUSED(lockPath);
    return false;
#else
    const int fd = ::open(QFile::encodeName(lockPath).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false; // no lock file: no unit has ever taken it
    struct stat st {};
    // Anything but a regular file is no lock a unit took.
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool held = regular && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
#endif
}

} // namespace tsy::repair
