// SPDX-License-Identifier: Apache-2.0
#include "repair/runlocks.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tsy::repair {

namespace {
// A directory any account may take locks in: world-writable with the
// sticky bit (so that no account removes another's files), never a link.
bool shared_dir(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 && errno == ENOENT) {
        if (::mkdir(path.constData(), 01777) == 0)
            ::chmod(path.constData(), 01777); // whatever the umask
    }
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & 01777) == 01777;
}
} // namespace

QString lock_dir() {
    const QString fromEnv = qEnvironmentVariable("TESSALY_LOCK_DIR");
    if (!fromEnv.isEmpty()) {
        shared_dir(QFile::encodeName(fromEnv));
        return fromEnv;
    }
    const QString dirs[] = {QStringLiteral("/run/lock/tessaly"),
                            QDir::tempPath() + QStringLiteral("/tessaly-locks")};
    for (const QString& dir : dirs) {
        if (shared_dir(QFile::encodeName(dir)))
            return dir;
    }
    return runtime_dir();
}

} // namespace tsy::repair
