// SPDX-License-Identifier: Apache-2.0
#include "process/outputchild_posix.h"

#include <QList>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tsy::process {

namespace {

// What waits to be reaped stays reachable until then, even at exit.
QList<QObject*>& reapers() {
    static auto* r = new QList<QObject*>;
    return *r;
}

// The wait status of pid if it has ended and was reaped now; -1 when it
// has ended but is not this process's to reap (it was reaped already).
std::optional<int> try_reap(pid_t pid) {
    int status = 0;
    pid_t r;
    do
        r = ::waitpid(pid, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == pid)
        return status;
    if (r < 0)
        return -1;
    return std::nullopt;
}

void watch(QObject* watcher, pid_t pid, const std::function<void(int)>& done) {
    reapers().append(watcher);
    const auto check = [watcher, pid, done] {
        const std::optional<int> status = try_reap(pid);
        if (!status)
            return;
        reapers().removeOne(watcher);
        if (auto* n = qobject_cast<QSocketNotifier*>(watcher)) {
            n->setEnabled(false);
            ::close(int(n->socket()));
        }
        watcher->deleteLater();
        if (done)
            done(*status);
    };
    if (auto* n = qobject_cast<QSocketNotifier*>(watcher))
        QObject::connect(n, &QSocketNotifier::activated, n, check);
    else if (auto* t = qobject_cast<QTimer*>(watcher))
        QObject::connect(t, &QTimer::timeout, t, check);
}

} // namespace

void reap_later(pid_t pid, std::function<void(int status)> done) {
    if (const std::optional<int> status = try_reap(pid)) {
        if (done)
            done(*status);
        return;
    }
    // A pidfd turns readable when the process ends; without one (a kernel
    // before 5.3) the process is looked at again every 100 ms.
#ifdef SYS_pidfd_open
    const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        watch(new QSocketNotifier(fd, QSocketNotifier::Read), pid, done);
        return;
    }
#endif
    auto* t = new QTimer;
    t->setInterval(100);
    watch(t, pid, done);
    t->start();
}

OutputChild::OutputChild(QObject* parent) : QObject(parent) {}

OutputChild::~OutputChild() {
    closePipe();
    if (m_pid > 0)
        reap_later(m_pid);
}

bool OutputChild::start(const QStringList& words, QString* why) {
    int fds[2];
    if (words.isEmpty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        if (why)
            *why = words.isEmpty() ? QStringLiteral("no program")
                                   : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::vector<QByteArray> encoded;
    encoded.reserve(std::size_t(words.size()));
    std::vector<char*> argv;
    for (const QString& w : words) {
        encoded.push_back(w.toLocal8Bit());
        argv.push_back(encoded.back().data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attr);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Its own session: a Ctrl-C or hang-up meant for this program does not
    // reach it. The broken pipe this program ignores is the child's again.
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv.front(), &actions, &attr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (failed != 0) {
        ::close(fds[0]);
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(failed));
        return false;
    }
    m_pid = pid;
    m_fd = fds[0];
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OutputChild::onReadable);
    return true;
}

void OutputChild::onReadable() {
    char buf[16384];
    bool more = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_out.append(buf, n);
            more = true;
            if (std::size_t(n) < sizeof buf)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of file, or a read that cannot go on: the output is over.
        const QPointer<OutputChild> self(this);
        if (more)
            emit readyRead();
        if (!self)
            return;
        closePipe();
        const pid_t pid = std::exchange(m_pid, -1);
        reap_later(pid, [self = QPointer<OutputChild>(this)](int status) {
            if (!self)
                return;
            if (status >= 0 && WIFSIGNALED(status))
                emit self->finished(WTERMSIG(status), true);
            else
                emit self->finished(status >= 0 ? WEXITSTATUS(status) : -1, false);
        });
        return;
    }
    if (more)
        emit readyRead();
}

void OutputChild::closePipe() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete std::exchange(m_notifier, nullptr);
    }
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

} // namespace tsy::process
