// SPDX-License-Identifier: Apache-2.0
#include "repair/runlocks.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsy::repair {

namespace {
// A directory any account may take locks in: world-writable with the
// sticky bit (so that no account removes another's files), never a link.
// Made so when it is missing; true when it is a directory now.
bool shared_dir(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 && errno == ENOENT) {
        if (::mkdir(path.constData(), 01777) == 0)
            ::chmod(path.constData(), 01777); // whatever the umask
    }
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString user_name(uid_t uid) {
    const struct passwd* pw = ::getpwuid(uid);
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}
} // namespace

QString lock_dir() {
    const QString fromEnv = qEnvironmentVariable("TESSALY_LOCK_DIR");
    if (!fromEnv.isEmpty()) {
        shared_dir(QFile::encodeName(fromEnv));
        return fromEnv;
    }
    // The first that is a directory, whoever made it: a directory made by
    // the wrong account is refused by lock_dir_problem(), never passed
    // over for another that runs of other accounts would not see.
    // Asked for each view: the temporary directory is only looked for
    // when the first is not there.
    const QString run = QStringLiteral("/run/lock/tessaly");
    if (shared_dir(QFile::encodeName(run)))
        return run;
    const QString tmp = QDir::tempPath() + QStringLiteral("/tessaly-locks");
    if (shared_dir(QFile::encodeName(tmp)))
        return tmp;
    return runtime_dir();
}

QString lock_dir_problem(const QString& dir) {
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return dir + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return dir + QStringLiteral(" is not a directory");
    // Its owner may remove any lock in it, held or not.
    if (st.st_uid != 0 && st.st_uid != ::getuid())
        return dir + QStringLiteral(" belongs to user ") + user_name(st.st_uid) +
               QStringLiteral(", not to root");
    // Others who may write in it may remove its locks unless it is sticky.
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
        return dir + QStringLiteral(" is writable by others and lacks the sticky bit");
    return QString();
}

} // namespace tsy::repair
