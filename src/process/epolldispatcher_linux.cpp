// SPDX-License-Identifier: Apache-2.0
#include "process/epolldispatcher_linux.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QVarLengthArray>

#include <cerrno>
#include <climits>
#include <ctime>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tsy::process {

namespace {

constexpr quint64 kWakeTag = ~quint64(0);
constexpr qint64 kNsPerMs = 1'000'000;

qint64 now_ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace

EpollDispatcher::EpollDispatcher(QObject* parent) : QAbstractEventDispatcher(parent) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epoll < 0 || m_wake < 0)
        return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev) != 0) {
        ::close(std::exchange(m_wake, -1));
    }
}

EpollDispatcher::~EpollDispatcher() {
    if (m_epoll >= 0)
        ::close(m_epoll);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupt.store(false);
    emit awake();
    QCoreApplication::sendPostedEvents();

    const bool timers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool notifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool canWait = (flags & QEventLoop::WaitForMoreEvents) && !m_interrupt.load();
    if (canWait)
        emit aboutToBlock();
    if (m_interrupt.load())
        return false;

    const int timeout = waitMs(canWait, timers);
    int handled = 0;
    if (!notifiers) {
        // Only a wake-up may end the wait; the watched descriptors stay
        // in the kernel's set for the next turn.
        pollfd p{m_wake, POLLIN, 0};
        if (::poll(&p, 1, timeout) > 0) {
            drainWake();
            ++handled;
        }
    } else {
        epoll_event events[256];
        int n = ::epoll_wait(m_epoll, events, 256, timeout);
        if (n < 0)
            n = 0; // EINTR: a signal, whose handler posted what it has to say
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == kWakeTag) {
                drainWake();
                ++handled;
            } else {
                handled += activate(events[i].data.u64, events[i].events);
            }
        }
    }
    if (timers)
        handled += activateTimers();
    return handled > 0;
}

int EpollDispatcher::waitMs(bool canWait, bool timers) const {
    if (!canWait)
        return 0;
    if (!timers || m_due.empty())
        return -1;
    const qint64 left = m_due.begin()->first - now_ns();
    if (left <= 0)
        return 0;
    return int(std::min<qint64>((left + kNsPerMs - 1) / kNsPerMs, INT_MAX));
}

void EpollDispatcher::drainWake() {
    quint64 count = 0;
    while (::read(m_wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
    m_wakeUps.store(0);
}

int EpollDispatcher::activate(quint64 data, quint32 events) {
    const int fd = int(quint32(data));
    const quint32 serial = quint32(data >> 32);
    // Each notifier is looked up again before it is told: the one before
    // may have unregistered it, or closed the descriptor and opened
    // another under the same number.
    const auto current = [&](QSocketNotifier* Watch::*which) -> QSocketNotifier* {
        const auto it = m_watches.find(fd);
        return it == m_watches.end() || it->second.serial != serial ? nullptr : it->second.*which;
    };
    int told = 0;
    const auto tell = [&](QSocketNotifier* Watch::*which) {
        if (QSocketNotifier* n = current(which)) {
            QEvent e(QEvent::SockAct);
            QCoreApplication::sendEvent(n, &e);
            ++told;
        }
    };
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        tell(&Watch::read);
    if (events & (EPOLLOUT | EPOLLERR))
        tell(&Watch::write);
    if (events & EPOLLPRI)
        tell(&Watch::exception);
    return told;
}

void EpollDispatcher::watch(int fd, Watch& w, bool added) {
    epoll_event ev{};
    ev.events = (w.read ? EPOLLIN : 0u) | (w.write ? EPOLLOUT : 0u) | (w.exception ? EPOLLPRI : 0u);
    ev.data.u64 = (quint64(w.serial) << 32) | quint32(fd);
    if (added) {
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST)
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
    } else if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
        // Closed and opened again under its notifier: watched anew.
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    if (fd < 0)
        return;
    auto [it, added] = m_watches.try_emplace(fd);
    Watch& w = it->second;
    if (added)
        w.serial = ++m_serial;
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        w.read = notifier;
        break;
    case QSocketNotifier::Write:
        w.write = notifier;
        break;
    case QSocketNotifier::Exception:
        w.exception = notifier;
        break;
    }
    watch(fd, w, added);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    const auto it = m_watches.find(fd);
    if (it == m_watches.end())
        return;
    Watch& w = it->second;
    for (QSocketNotifier** slot : {&w.read, &w.write, &w.exception})
        if (*slot == notifier)
            *slot = nullptr;
    if (!w.read && !w.write && !w.exception) {
        // A descriptor already closed left the kernel's set by itself.
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        m_watches.erase(it);
    } else {
        watch(fd, w, false);
    }
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                    QObject* object) {
    unregisterTimer(timerId);
    const qint64 due = now_ns() + interval * kNsPerMs;
    m_timers[timerId] = Timer{due, interval, timerType, object};
    m_due.emplace(due, timerId);
}

bool EpollDispatcher::unregisterTimer(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it == m_timers.end())
        return false;
    m_due.erase({it->second.due, timerId});
    m_timers.erase(it);
    return true;
}

bool EpollDispatcher::unregisterTimers(QObject* object) {
    bool any = false;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.object == object) {
            m_due.erase({it->second.due, it->first});
            it = m_timers.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo>
EpollDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> out;
    for (const auto& [id, t] : m_timers)
        if (t.object == object)
            out.append(TimerInfo(id, int(t.interval), t.type));
    return out;
}

int EpollDispatcher::remainingTime(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it == m_timers.end())
        return -1;
    const qint64 left = it->second.due - now_ns();
    return left <= 0 ? 0 : int(std::min<qint64>(left / kNsPerMs, INT_MAX));
}

int EpollDispatcher::activateTimers() {
    if (m_due.empty())
        return 0;
    const qint64 now = now_ns();
    // The timers due now, each fired once: one that a handler starts, or
    // that comes due again while they run, waits for the next turn.
    QVarLengthArray<int, 32> ids;
    for (auto it = m_due.begin(); it != m_due.end() && it->first <= now; ++it)
        ids.append(it->second);
    int fired = 0;
    for (const int id : ids) {
        const auto it = m_timers.find(id);
        if (it == m_timers.end() || it->second.due > now)
            continue;
        Timer& t = it->second;
        m_due.erase({t.due, id});
        // Kept to its beat; a timer that fell behind starts a new one.
        qint64 next = t.due + t.interval * kNsPerMs;
        if (next <= now)
            next = now + t.interval * kNsPerMs;
        t.due = next;
        m_due.emplace(next, id);
        QObject* object = t.object;
        QTimerEvent e(id);
        QCoreApplication::sendEvent(object, &e);
        ++fired;
    }
    return fired;
}

void EpollDispatcher::wakeUp() {
    int idle = 0;
    if (m_wakeUps.compare_exchange_strong(idle, 1)) {
        const quint64 one = 1;
        while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void EpollDispatcher::interrupt() {
    m_interrupt.store(true);
    wakeUp();
}

} // namespace tsy::process
