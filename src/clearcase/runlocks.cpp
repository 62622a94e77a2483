#include "runlocks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace tsy {

QString runtime_dir() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

QString user_for_files() {
    QString name;
    for (const char* v : {"USER", "LOGNAME", "USERNAME"}) {
        name = qEnvironmentVariable(v);
        if (!name.isEmpty())
            break;
    }
    if (name.isEmpty())
        name = QStringLiteral("user");
    for (QChar& c : name) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.')
            c = u'_';
    }
    return name;
}

RunLock::RunLock() = default;
RunLock::~RunLock() = default;

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

QString storage_lock_path(const QString& storage) {
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(storage).toUtf8(), QCryptographicHash::Sha1)
            .toHex();
    return runtime_dir() + QStringLiteral("/tessaly-storage-") + QString::fromLatin1(hash) +
           QStringLiteral(".lock");
}

} // namespace tsy
