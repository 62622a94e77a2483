// SPDX-License-Identifier: Apache-2.0
#include "repair/fixprot.h"

#include "cc/storagemarker.h"
#include "platform/platform.h"
#include "process/commandline.h"
#include "repair/runlocks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>

#include <algorithm>
#include <utility>

#ifndef Q_OS_WIN
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tsy::repair {

QString default_args(cc::FixProtStyle style) {
    if (style == cc::FixProtStyle::Unix)
        return QStringLiteral(" -force -root -recurse -chown {owner} -chgrp {group} ");
    return QStringLiteral(" -force -root -recover -recurse ");
}

QStringList fill_placeholders(QStringList& words, const QString& owner, const QString& group) {
    QStringList missing;
    const auto fill = [&](QLatin1StringView name, const QString& value) {
        bool present = false;
        for (const QString& w : std::as_const(words))
            present = present || w.contains(name);
        if (!present)
            return;
        if (value.isEmpty()) {
            missing.append(name);
            return;
        }
        for (QString& w : words)
            w.replace(name, value);
    };
    // The group first: an owner's name holding "{group}" stays as it is.
    fill(kGroup, group);
    fill(kOwner, owner);
    return missing;
}

namespace {
// "NAME    : mode" after the key: the name is what comes before the last
// " : ", trimmed, and without a domain prefix.
QString account_name(QStringView rest) {
    const qsizetype colon = rest.lastIndexOf(QLatin1StringView(" : "));
    QString name = (colon >= 0 ? rest.left(colon) : rest).trimmed().toString();
    const qsizetype sep = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    if (sep >= 0)
        name = name.mid(sep + 1);
    return name;
}
} // namespace

void owner_and_group(const QString& output, QString& owner, QString& group) {
    owner.clear();
    group.clear();
    for (QStringView line : QStringView(output).split(u'\n')) {
        line = line.trimmed();
        if (owner.isEmpty() && line.startsWith(QLatin1StringView("Owner:")))
            owner = account_name(line.mid(6));
        else if (group.isEmpty() && line.startsWith(QLatin1StringView("Group:")))
            group = account_name(line.mid(6));
    }
}

bool is_this_host(const QString& host, const QString& shortName, const QString& fullName) {
    const QString h = host.trimmed();
    if (h.isEmpty())
        return false;
    if (h.compare(QLatin1StringView("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    if (!fullName.isEmpty() && h.compare(fullName, Qt::CaseInsensitive) == 0)
        return true;
    return !h.contains(u'.') && !shortName.isEmpty() &&
           h.compare(shortName, Qt::CaseInsensitive) == 0;
}

namespace {
struct HostNames {
    QString shortName;
    QString fullName;
};

// This machine's host name up to its first dot, and the resolver's
// canonical name for it (empty when the resolver does not know it).
HostNames learn_host_names() {
    HostNames n;
#ifdef Q_OS_WIN
    n.shortName = QSysInfo::machineHostName().section(u'.', 0, 0);
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return n;
    n.shortName = QString::fromLocal8Bit(name).section(u'.', 0, 0);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
        if (found->ai_canonname)
            n.fullName = QString::fromLocal8Bit(found->ai_canonname);
        ::freeaddrinfo(found);
    }
#endif
    return n;
}
} // namespace

bool is_this_host(const QString& host) {
    // Learnt on the first question only: the resolver may be slow, and a
    // listing never asks.
    static const HostNames names = learn_host_names();
    return is_this_host(host, names.shortName, names.fullName);
}

bool usable_host(const QString& host) {
    if (host.isEmpty() || host.startsWith(u'-'))
        return false;
    return std::none_of(host.cbegin(), host.cend(), [](QChar c) {
        return c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f;
    });
}

namespace {
// A text as one word inside double quotes, which keep single quotes as
// they are; in single quotes when it holds "!", which an interactive
// shell would expand even inside double quotes.
QString double_quoted(const QString& text) {
    if (text.contains(u'!'))
        return process::shell_quote(text);
    QString q;
    q.reserve(text.size() + 2);
    q += u'"';
    for (const QChar c : text) {
        if (c == u'$' || c == u'`' || c == u'"' || c == u'\\')
            q += u'\\';
        q += c;
    }
    q += u'"';
    return q;
}
} // namespace

Reach reach_from_environment() {
    Reach r;
    // A variable that is set, even to nothing, replaces the default.
    const auto words = [&r](const char* name, const QStringList& fallback) {
        if (!qEnvironmentVariableIsSet(name))
            return fallback;
        const Result<QStringList> w = process::shell_words(qEnvironmentVariable(name));
        if (w.ok())
            return w.value();
        if (r.problem.isEmpty())
            r.problem = QString::fromLatin1(name) +
                        QStringLiteral(" cannot be split into words as a shell would: ") +
                        w.error();
        return QStringList();
    };
    // Keep-alives end a connection that died under a running fix_prot
    // within about two minutes, as ssh's exit status 255.
    r.remoteShell =
        words("TESSALY_SSH",
              {QStringLiteral("ssh"), QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
               QStringLiteral("-o"), QStringLiteral("ConnectTimeout=15"), QStringLiteral("-o"),
               QStringLiteral("ServerAliveInterval=30"), QStringLiteral("-o"),
               QStringLiteral("ServerAliveCountMax=4")});
    r.privilege = words("TESSALY_SUDO", {QStringLiteral("sudo"), QStringLiteral("-n")});
    r.root = plat::running_as_root();
    const QString share = qEnvironmentVariable("TESSALY_SHARE_SSH").trimmed();
    if (share == u"1" && !r.remoteShell.isEmpty()) {
        const Result<QStringList> shared = shared_connection_words();
        if (!shared.ok() && r.problem.isEmpty())
            r.problem =
                QStringLiteral("ssh connections cannot be shared per host: ") + shared.error();
        r.remoteShell += shared.value();
        r.shared = shared.ok();
    } else if (!share.isEmpty() && share != u"0" && share != u"1" && r.problem.isEmpty()) {
        r.problem = QStringLiteral("TESSALY_SHARE_SSH is 1 (share one ssh connection per host) or "
                                   "0, not \"") +
                    share + u'"';
    }
    return r;
}

Result<QStringList> shared_connection_words() {
    const Result<QString> runtime = private_runtime_dir();
    if (!runtime.ok())
        return Error{runtime.error()};
    const QString& dir = runtime.value();
    // ssh makes the socket under its name followed by a dot and 16 random
    // characters, and a socket's path holds at most 107 bytes: "/ssh-" and
    // ssh's 40-character hash leave the directory 45.
    constexpr qsizetype kMostDir = 107 - 17 - 40 - 5;
    if (QFile::encodeName(dir).size() > kMostDir)
        return Error{QStringLiteral("the runtime directory %1 is longer than the %2 bytes that "
                                    "leave ssh room for its socket's name")
                         .arg(dir)
                         .arg(kMostDir)};
    // One word of ssh's own syntax: '%' is its token sign, and blanks are
    // kept inside double quotes.
    if (dir.contains(u'"') || dir.contains(u'\\') || dir.contains(u'\'') ||
        std::any_of(dir.cbegin(), dir.cend(), [](QChar c) { return c.unicode() < 0x20; }))
        return Error{QStringLiteral("the runtime directory %1 holds a character ssh's options "
                                    "cannot carry")
                         .arg(dir)};
    QString path = dir;
    path.replace(u'%', QStringLiteral("%%"));
    path += QStringLiteral("/ssh-%C");
    if (path.contains(u' ') || path.contains(u'\t'))
        path = u'"' + path + u'"';
    // ControlPersist: the first call's own session is not the master, so
    // its repair ends when its fix_prot does; an idle master ends after a
    // minute even when nobody stops it.
    return QStringList{QStringLiteral("-o"), QStringLiteral("ControlMaster=auto"),
                       QStringLiteral("-o"), QStringLiteral("ControlPath=") + path,
                       QStringLiteral("-o"), QStringLiteral("ControlPersist=60")};
}

void close_shared_connections(const Reach& reach, const QStringList& hosts) {
    if (!reach.shared || reach.remoteShell.isEmpty())
        return;
    QStringList asked;
    for (const QString& host : hosts) {
        if (!usable_host(host) || is_this_host(host) || asked.contains(host, Qt::CaseInsensitive))
            continue;
        asked.append(host);
        // A host without a master answers at once, without connecting.
        QProcess stop;
        stop.setProgram(reach.remoteShell.first());
        stop.setArguments(reach.remoteShell.mid(1) +
                          QStringList{QStringLiteral("-O"), QStringLiteral("stop"), host});
        stop.setStandardInputFile(QProcess::nullDevice());
        stop.setStandardOutputFile(QProcess::nullDevice());
        stop.setStandardErrorFile(QProcess::nullDevice());
        stop.startDetached();
    }
}

QStringList command_on_host(const Reach& reach, const QString& host, const QStringList& words) {
    if (is_this_host(host))
        return reach.root ? words : reach.privilege + words;
    QStringList remote;
    for (const QString& w : reach.privilege + words)
        remote.append(process::shell_quote(w));
    // The remote shell joins its command words with blanks and hands the
    // line to the login shell there, which undoes the quoting once.
    return reach.remoteShell + QStringList{host} + remote;
}

QStringList locked_command_on_host(const Reach& reach, const QString& host, const QString& lockDir,
                                   const QString& lockName, const QStringList& words) {
    // One line without '!' but in "! -L" and no newline, so that a C shell
    // that logs the remote account in hands it to sh unchanged. The script
    // opens the lock file on descriptor 9, has flock(1) lock that open file
    // (the only process it starts, but mkdir once per host), then becomes
    // the command: the lock belongs to the open file, which sudo or fix_prot
    // inherits, so it is held for exactly as long as they run, whatever
    // becomes of ssh or the unit.
    static const QString script = QStringLiteral(
        R"sh(d=${TESSALY_HOST_LOCK_DIR:-$1}; l=$d/$2; shift 2; if ! command -v flock >/dev/null 2>&1; then echo 'tessaly-lock: noflock' >&2; exec "$@"; fi; if [ ! -d "$d" ] && [ ! -L "$d" ]; then e=$(LC_ALL=C mkdir -m 1777 -- "$d" 2>&1) || [ -d "$d" ] || { echo "tessaly-lock: fail cannot make $d: ${e##*: }" >&2; exit 70; }; fi; if [ -L "$d" ] || [ ! -d "$d" ]; then echo "tessaly-lock: fail $d is not a directory" >&2; exit 70; fi; if [ ! -e "$l" ] && [ ! -L "$l" ]; then (umask 0; set -C; : >"$l") 2>/dev/null; fi; if [ -L "$l" ] || [ ! -f "$l" ]; then echo "tessaly-lock: fail $l is not a regular file" >&2; exit 70; fi; { command exec 9<"$l"; } 2>/dev/null || { echo "tessaly-lock: fail cannot open $l" >&2; exit 70; }; echo "tessaly-lock: at $l" >&2; flock -n -E 75 9 || exit; echo "tessaly-lock: held" >&2; exec "$@")sh");
    QStringList locked{QStringLiteral("sh"),
                       QStringLiteral("-c"),
                       script,
                       QStringLiteral("sh"),
                       lockDir,
                       lockName};
    if (is_this_host(host))
        return locked + (reach.root ? words : reach.privilege + words);
    // No "exec" in front: the remote login shell waits for sh, so that a
    // fix_prot killed on its host comes back as that shell's status 128+N.
    // Were sh to take the login shell's place, sshd would report a signal,
    // which the ssh client turns into 255, the status of a lost connection.
    QStringList remote;
    for (const QString& w : locked + reach.privilege + words)
        remote.append(process::shell_quote(w));
    return reach.remoteShell + QStringList{host} + remote;
}

QString shown_command(const Reach& reach, const QStringList& words) {
    // The remote shell's words, then the host, then the words for it.
    const qsizetype n = reach.remoteShell.size();
    const bool remote = n > 0 && words.size() > n + 1 && words.mid(0, n) == reach.remoteShell &&
                        !is_this_host(words.at(n));
    if (!remote)
        return process::quoted_command(words, process::Quoting::Shell);
    return process::quoted_command(words.mid(0, n + 1), process::Quoting::Shell) + u' ' +
           double_quoted(words.mid(n + 1).join(u' '));
}

QStringList argument_words(const QString& argsText) {
    if (argsText == QLatin1StringView("<arguments>"))
        return {};
    return QProcess::splitCommand(argsText);
}

QString fixprot_path(const QString& cchome) {
    return cchome + QString::fromLocal8Bit(plat::fix_prot_suffix());
}

Result<QString> storage_from_lookup(const QString& output, const QString& tag) {
    QStringList lines;
    for (QString line : output.split(u'\n')) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    if (lines.isEmpty())
        return Error{QStringLiteral("lsview printed no storage path for view ") + tag};
    if (lines.size() > 1)
        return Error{QStringLiteral("lsview printed %1 lines for view ").arg(lines.size()) + tag};
    const QString marker = cc::storage_marker();
    const QString& line = lines.first();
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return Error{QStringLiteral("lsview printed no storage path for view ") + tag};
    // "* tag   path": the active marker and the blanks around the tag.
    QString named = line.left(at).trimmed();
    if (named.startsWith(u'*'))
        named = named.mid(1).trimmed();
    if (named != tag)
        return Error{QStringLiteral("lsview answered for view \"") + named +
                     QStringLiteral("\" instead of ") + tag};
    QString path = line.mid(at);
    while (path.endsWith(u' ') || path.endsWith(u'\t'))
        path.chop(1);
    return checked_storage(path, tag);
}

Result<QString> checked_storage(const QString& path, const QString& tag) {
    if (path.isEmpty() || !path.startsWith(cc::storage_marker()))
        return Error{(path.isEmpty() ? QStringLiteral("lsview gave no storage path for view ")
                                     : QStringLiteral("lsview gave a storage path that is not "
                                                      "absolute for view ")) +
                     tag + (path.isEmpty() ? QString() : QStringLiteral(": ") + path)};
    if (cc::storage_parts(path).contains(QStringLiteral("..")))
        return Error{
            QStringLiteral("lsview gave a storage path that climbs with \"..\" for view ") + tag +
            QStringLiteral(": ") + path};
    if (cc::is_storage_root(path))
        return Error{QStringLiteral("lsview gave the root directory as the storage of view ") +
                     tag + QStringLiteral(": ") + path};
    return path;
}

} // namespace tsy::repair
