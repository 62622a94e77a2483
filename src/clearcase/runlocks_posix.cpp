#include "runlocks.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tsy {

StorageLock::StorageLock(const QString& storage) {
    const QByteArray path = QFile::encodeName(storage_lock_path(storage));
    // Close-on-exec here: only the fix_prot it is handed to keeps it.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_busy = errno == EWOULDBLOCK;
        if (!m_busy)
            m_problem = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return;
    }
    m_fd = fd;
}

StorageLock::~StorageLock() {
    // The child's copy of the descriptor keeps the lock until it ends.
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace tsy
