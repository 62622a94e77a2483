#include "repair/runlocks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::repair {

namespace {
#ifndef Q_OS_WIN
// A directory that is ours alone: owned by this user, mode 0700.
bool private_dir(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700;
}
#endif
} // namespace

QString runtime_dir() {
#ifndef Q_OS_WIN
    // cron and some ssh sessions give no XDG_RUNTIME_DIR. The locks must be
    // the ones a desktop session of the same user holds, so the directory
    // the login manager made for the user comes first; else the one Qt
    // would pick, made here without Qt's warning on every call.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString session = QStringLiteral("/run/user/%1").arg(::getuid());
        if (private_dir(session))
            return session;
        const QString fallback = QDir::tempPath() + QStringLiteral("/runtime-") + user_for_files();
        ::mkdir(QFile::encodeName(fallback).constData(), 0700);
        if (private_dir(fallback))
            return fallback;
    }
#endif
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
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
RunLock::~RunLock() = default;

bool RunLock::acquire() {
    m_holder.clear();
#ifndef Q_OS_WIN
    // By user id, not by name: USER differs under cron and su.
    m_lock =
        std::make_unique<QLockFile>(lock_dir() + QStringLiteral("/run-%1.lock").arg(::getuid()));
#else
    m_lock = std::make_unique<QLockFile>(runtime_dir() + QStringLiteral("/tessaly-") +
                                         user_for_files() + QStringLiteral("-run.lock"));
#endif
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

QString unit_record_dir() {
    const QString dir = runtime_dir() + QStringLiteral("/tessaly-units");
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir;
}

} // namespace tsy::repair
