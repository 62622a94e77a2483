// SPDX-License-Identifier: Apache-2.0
#include "tagfiles.h"

#include "repair/runlocks.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsy::headless {

namespace {

#ifndef Q_OS_WIN
// What the link at path holds, as written.
QString link_target(const QString& path) {
    QByteArray buf(4096, Qt::Uninitialized);
    const ssize_t n =
        ::readlink(QFile::encodeName(path).constData(), buf.data(), size_t(buf.size()));
    return n > 0 ? QFile::decodeName(buf.left(n)) : QString();
}

// Follows path's links as the kernel would, but refuses what its
// protected_symlinks rule refuses, whatever the sysctl says: a link in a
// world-writable sticky directory (such as /tmp) is followed only by its
// own owner, or when it belongs to the directory's owner. Another user's
// link there may point anywhere, at a file of ours above all. Gives the
// path with no link left in it, or an empty one when the walk entered
// /proc, whose links name open files (a shell's /dev/stderr, <(...))
// rather than paths; why not for a link refused.
Result<QString> follow_safely(const QString& path) {
    QString done = QStringLiteral("/"); // what is walked so far, holding no link
    QStringList rest = QFileInfo(path).absoluteFilePath().split(u'/', Qt::SkipEmptyParts);
    int links = 0;
    while (!rest.isEmpty()) {
        const QString part = rest.takeFirst();
        if (part == u".")
            continue;
        if (part == u"..") {
            done = QFileInfo(done).path();
            continue;
        }
        const QString next = (done == u"/" ? QString() : done) + u'/' + part;
        if (next == u"/proc")
            return QString();
        struct stat st {};
        if (::lstat(QFile::encodeName(next).constData(), &st) != 0) {
            // Not there (yet): the open that follows says why, or makes it.
            rest.prepend(next);
            return rest.join(u'/');
        }
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        if (++links > 40)
            return Error{path + QStringLiteral(": too many levels of symbolic links")};
        struct stat dir {};
        const bool shared = ::lstat(QFile::encodeName(done).constData(), &dir) == 0 &&
                            (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
        if (shared && st.st_uid != ::geteuid() && st.st_uid != dir.st_uid)
            return Error{next + QStringLiteral(" is a symbolic link of ") +
                         repair::account_name(st.st_uid) +
                         QStringLiteral(" in the shared directory ") + done +
                         QStringLiteral(": only its owner may follow it")};
        const QString target = link_target(next);
        if (target.startsWith(u'/'))
            done = QStringLiteral("/");
        rest = target.split(u'/', Qt::SkipEmptyParts) + rest;
    }
    return done;
}
#endif

// How --failed-to's file is written, and where.
struct FailedToFile {
    enum class How {
        // A regular file named as itself: a new file renamed over it, so it
        // is replaced whole or not at all.
        Replace,
        // A regular file reached through a link: overwritten where it is,
        // never replaced, so the link keeps naming it.
        Overwrite,
        // A FIFO, a device or a terminal, or a name of an open file
        // descriptor such as /dev/stderr, whose file a shell opened
        // (2>>log): appended to, as renaming would replace the log or the
        // device.
        Append,
    };
    How how = How::Replace;
    QString path; // with every link followed, or as named for a descriptor
};

// How and where the file named path is written; why not when it is not to
// be written at all.
Result<FailedToFile> failed_to_file(const QString& path) {
    FailedToFile f;
    f.path = path;
#ifndef Q_OS_WIN
    const Result<QString> followed = follow_safely(path);
    if (!followed.ok())
        return Error{followed.error()};
    const QString& resolved = followed.value();
    if (resolved.isEmpty()) {
        f.how = FailedToFile::How::Append;
        return f;
    }
    f.path = resolved;
    struct stat st {};
    if (::stat(QFile::encodeName(resolved).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        f.how = FailedToFile::How::Append;
    else if (resolved != QFileInfo(path).absoluteFilePath())
        f.how = FailedToFile::How::Overwrite;
    else
        f.how = FailedToFile::How::Replace;
#endif
    return f;
}

#ifndef Q_OS_WIN
QString last_error() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool write_all(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes bytes to a new file beside path, then renames it over path: the
// rename replaces the name itself, so a link put there meanwhile is
// replaced, never followed. An existing file's mode is kept.
Result<void> replace_file(const QString& path, const QByteArray& bytes) {
    QByteArray temp = QFile::encodeName(path) + ".tessaly-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Error{last_error()};
    QString why;
    struct stat st {};
    mode_t mode = 0;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    if (!ok)
        why = last_error();
    if (::close(fd) != 0 && ok)
        why = last_error();
    if (why.isEmpty() && ::rename(temp.constData(), QFile::encodeName(path).constData()) == 0)
        return {};
    if (why.isEmpty())
        why = last_error();
    ::unlink(temp.constData());
    return Error{why};
}
#endif

// Writes bytes to --failed-to's file as f says; why not when it could not.
Result<void> write_failed_to_file(const FailedToFile& f, const QByteArray& bytes) {
#ifndef Q_OS_WIN
    if (f.how == FailedToFile::How::Replace)
        return replace_file(f.path, bytes);
    const int flags = f.how == FailedToFile::How::Append
                          ? O_WRONLY | O_APPEND | O_CLOEXEC
                          : O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::open(QFile::encodeName(f.path).constData(), flags, 0666);
    if (fd < 0)
        return Error{last_error()};
    const bool ok = write_all(fd, bytes);
    const QString why = ok ? QString() : last_error();
    ::close(fd);
    if (!ok)
        return Error{why};
    return {};
#else
    QSaveFile file(f.path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return {};
    return Error{file.errorString()};
#endif
}

} // namespace

Result<QStringList> read_tags(const QString& path, bool stdinOpen) {
    QFile f;
    const bool fromStdin = path == u"-";
    if (fromStdin && !stdinOpen)
        return Error{QStringLiteral("--tags -: the standard input is closed")};
    QString name = fromStdin ? QStringLiteral("the standard input") : path;
    QString open = path;
#ifndef Q_OS_WIN
    if (!fromStdin) {
        const Result<QString> resolved = follow_safely(path);
        if (!resolved.ok())
            return Error{QStringLiteral("will not read the tags file ") + path +
                         QStringLiteral(": ") + resolved.error()};
        if (!resolved.value().isEmpty())
            open = resolved.value();
    }
#endif
    const bool ok = fromStdin ? f.open(0, QIODevice::ReadOnly) // the standard input

                              : (f.setFileName(open), f.open(QIODevice::ReadOnly));
    if (!ok)
        return Error{QStringLiteral("cannot read the tags file ") + name + QStringLiteral(": ") +
                     f.errorString()};
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return Error{QStringLiteral("cannot read the tags from ") + name + QStringLiteral(": ") +
                     f.errorString()};
    QStringList tags;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            tags.append(line);
    }
    return tags;
}

Result<void> can_write(const QString& path) {
    const Result<FailedToFile> found = failed_to_file(path);
    if (!found.ok())
        return Error{found.error()};
    const FailedToFile& f = found.value();
#ifndef Q_OS_WIN
    if (f.how != FailedToFile::How::Replace &&
        ::access(QFile::encodeName(f.path).constData(), F_OK) == 0) {
        if (::access(QFile::encodeName(f.path).constData(), W_OK) != 0)
            return Error{last_error()};
        return {};
    }
    // A file that does not exist or is replaced: its directory must take
    // a new file.
    QByteArray temp = QFile::encodeName(f.path) + ".tessaly-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Error{last_error()};
    ::close(fd);
    ::unlink(temp.constData());
    return {};
#else
    QSaveFile probe(f.path);
    if (!probe.open(QIODevice::WriteOnly))
        return Error{probe.errorString()};
    probe.cancelWriting();
    return {};
#endif
}

Result<void> write_failed_to(const QString& path, const QByteArray& bytes) {
    const Result<FailedToFile> f = failed_to_file(path);
    if (!f.ok())
        return Error{f.error()};
    return write_failed_to_file(f.value(), bytes);
}

} // namespace tsy::headless
