// SPDX-License-Identifier: Apache-2.0
#include "repair/runlocks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::repair {

namespace {
#ifndef Q_OS_WIN
QString last_error() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why path is no directory of this user's that no one else may write in
// (exact: mode 0700 itself); empty when it is one. Never follows a link.
QString not_private(const QString& path, bool exact) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return path + QStringLiteral(": ") + last_error();
    if (S_ISLNK(st.st_mode))
        return path + QStringLiteral(" is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return path + QStringLiteral(" is not a directory");
    if (st.st_uid != ::getuid())
        return path + QStringLiteral(" belongs to ") + account_name(st.st_uid);
    if (exact ? (st.st_mode & 07777) != 0700 : (st.st_mode & 022) != 0)
        return path + QStringLiteral(" has mode %1, not 0700")
                          .arg(uint(st.st_mode & 07777), 4, 8, QChar(u'0'));
    return {};
}

// Makes path a directory of this user's alone, or finds it one already;
// why it is not, empty when it is. A directory made here gets mode 0700
// whatever the umask; one found is checked, never changed.
QString make_private(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0) {
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid())
                ::fchmod(fd, 0700);
            ::close(fd);
        }
    } else if (errno != EEXIST) {
        return QStringLiteral("cannot make ") + path + QStringLiteral(": ") + last_error();
    }
    return not_private(path, true);
}
#endif
} // namespace

#ifndef Q_OS_WIN
QString account_name(uid_t uid) {
    char buf[1024];
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("user %1").arg(uid);
}
#endif

Result<QString> private_runtime_dir() {
#ifndef Q_OS_WIN
    // cron and some ssh sessions give no XDG_RUNTIME_DIR. The locks must be
    // the ones a desktop session of the same user holds, so the directory
    // the login manager made for the user comes next. An XDG_RUNTIME_DIR
    // another user's session left (su, sudo -E) is not this user's.
    const QString fromEnv = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromEnv.isEmpty() && not_private(fromEnv, false).isEmpty())
        return fromEnv;
    const QString session = QStringLiteral("/run/user/%1").arg(::getuid());
    if (not_private(session, false).isEmpty())
        return session;
    // Else one of Tessaly's own in the temporary directory. Anyone may
    // make a name there first: one that is not this user's alone is
    // refused, never taken over.
    const QString own = QDir::tempPath() + QStringLiteral("/tessaly-%1").arg(::getuid());
    const QString why = make_private(own);
    if (!why.isEmpty())
        return Error{QStringLiteral("no private runtime directory: ") + why};
    return own;
#else
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
#endif
}

QString runtime_dir() {
    return private_runtime_dir().value();
}

QString fit_for_file_name(QString text) {
    for (QChar& c : text) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.')
            c = u'_';
    }
    return text;
}

QString user_for_files() {
    for (const char* v : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = qEnvironmentVariable(v);
        if (!name.isEmpty())
            return fit_for_file_name(name);
    }
#ifndef Q_OS_WIN
    return QString::number(::getuid());
#else
    return QStringLiteral("user");
#endif
}

RunLock::RunLock() = default;
RunLock::~RunLock() {
    release();
}

#ifndef Q_OS_WIN
bool RunLock::acquire() {
    release();
    m_holder.clear();
    m_problem.clear();
    // By user id, not by name: USER differs under cron and su.
    const QString path = lock_dir() + QStringLiteral("/run-%1.lock").arg(::getuid());
    const QByteArray name = QFile::encodeName(path);
    // Another account may have put anything at the name first: a link is
    // not followed, a FIFO not waited on, and what is no plain file of
    // this user's is refused by name, for an administrator to remove.
    const int fd =
        ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st {};
    const bool seen = fd >= 0 ? ::fstat(fd, &st) == 0 : ::lstat(name.constData(), &st) == 0;
    if (seen && !S_ISREG(st.st_mode))
        m_problem = QStringLiteral("cannot take the run lock: ") + path +
                    (S_ISLNK(st.st_mode) ? QStringLiteral(" is a symbolic link")
                                         : QStringLiteral(" is not a regular file"));
    else if (seen && st.st_uid != ::geteuid())
        m_problem = QStringLiteral("cannot take the run lock: ") + path +
                    QStringLiteral(" belongs to ") + account_name(st.st_uid);
    if (!m_problem.isEmpty() || fd < 0) {
        if (fd >= 0)
            ::close(fd);
        // A lock directory that takes no lock at all does not stop a run.
        return m_problem.isEmpty();
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            return true;
        }
        // "PID\nAPP\nHOST\n", as Qt's lock files hold it.
        char buf[512] = {};
        const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        const QList<QByteArray> info = QByteArray(buf, n > 0 ? n : 0).split('\n');
        bool number = false;
        const qint64 pid = info.value(0).toLongLong(&number);
        m_holder = number && info.size() > 2
                       ? QStringLiteral("process %1 on %2")
                             .arg(pid)
                             .arg(QString::fromLocal8Bit(info.at(2)).simplified())
                       : QStringLiteral("another process");
        ::close(fd);
        return false;
    }
    // The file stays when the run ends: the lock is the flock, which ends
    // with the process, so a file left by a crash holds nothing.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QByteArray info = QByteArray::number(qint64(::getpid())) + "\ntessaly\n" + host + '\n';
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, info.constData(), size_t(info.size()), 0) < 0) {
        // What the file says only names the holder; the lock is held.
    }
    m_fd = fd;
    return true;
}

void RunLock::release() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}
#else
bool RunLock::acquire() {
    m_holder.clear();
    m_lock = std::make_unique<QLockFile>(runtime_dir() + QStringLiteral("/tessaly-") +
                                         user_for_files() + QStringLiteral("-run.lock"));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() != QLockFile::LockFailedError) {
        m_lock.reset();
        return true;
    }
    qint64 pid = 0;
    QString host, app;
    if (m_lock->getLockInfo(&pid, &host, &app))
        m_holder = QStringLiteral("process %1 on %2").arg(pid).arg(host);
    else
        m_holder = QStringLiteral("another process");
    m_lock.reset();
    return false;
}

void RunLock::release() {
    m_lock.reset();
}
#endif

QString storage_lock_path(const QString& host, const QString& storage) {
    const QString key = host.toLower() + u':' + QDir::cleanPath(storage);
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    return lock_dir() + QStringLiteral("/storage-") + QString::fromLatin1(hash) +
           QStringLiteral(".lock");
}

QString host_lock_dir() {
    const QString fromEnv = qEnvironmentVariable("TESSALY_HOST_LOCK_DIR");
    return fromEnv.isEmpty() ? QStringLiteral("/run/lock/tessaly-storage") : fromEnv;
}

QString host_lock_name(const QString& hostLocalStorage) {
    const QByteArray hash = QCryptographicHash::hash(QDir::cleanPath(hostLocalStorage).toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex();
    return QStringLiteral("storage-") + QString::fromLatin1(hash) + QStringLiteral(".lock");
}

QString host_lock_path(const QString& hostLocalStorage) {
    return host_lock_dir() + u'/' + host_lock_name(hostLocalStorage);
}

Result<QString> unit_record_dir() {
    const Result<QString> runtime = private_runtime_dir();
    if (!runtime.ok())
        return runtime;
    const QString dir = runtime.value() + QStringLiteral("/tessaly-units");
#ifndef Q_OS_WIN
    const QString problem = make_private(dir);
    if (!problem.isEmpty())
        return Error{QStringLiteral("no private record directory: ") + problem};
#else
    QDir().mkpath(dir);
#endif
    return dir;
}

} // namespace tsy::repair
