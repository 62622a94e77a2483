// SPDX-License-Identifier: Apache-2.0
#pragma once

// An event loop for the headless face on Linux, built on epoll.
//
// Qt's own loop hands every watched descriptor to poll() on every turn and
// walks them all afterwards, so a turn costs as much as the descriptors
// watched: a night's run watches hundreds of children at once and turns
// the loop for each of their reports. Here the kernel keeps the watched
// set and a turn costs what is ready.
//
// It does what the headless face needs of a loop: posted events, socket
// notifiers (read, write and exception), timers of every type (all kept to
// the millisecond), wake-ups from other threads and interruption.

#include <QAbstractEventDispatcher>

#include <atomic>
#include <set>
#include <unordered_map>
#include <utility>

namespace tsy::process {

class EpollDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT

public:
    explicit EpollDispatcher(QObject* parent = nullptr);
    ~EpollDispatcher() override;

    // False when the kernel gave no epoll or eventfd: use Qt's loop then.
    bool valid() const { return m_epoll >= 0 && m_wake >= 0; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    // The notifiers of one descriptor. serial tells a registration from an
    // earlier one of the same descriptor number, whose events may still be
    // in hand when the number is used again.
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        quint32 serial = 0;
    };
    struct Timer {
        qint64 due; // steady clock, nanoseconds
        qint64 interval;
        Qt::TimerType type;
        QObject* object;
    };

    void watch(int fd, Watch& w, bool added);
    int activate(quint64 data, quint32 events);
    int activateTimers();
    int waitMs(bool canWait, bool timers) const;
    void drainWake();

    int m_epoll = -1;
    int m_wake = -1;
    std::atomic<bool> m_interrupt{false};
    std::atomic<int> m_wakeUps{0};
    quint32 m_serial = 0;
    std::unordered_map<int, Watch> m_watches;
    std::unordered_map<int, Timer> m_timers;
    std::set<std::pair<qint64, int>> m_due; // (due, timer id), soonest first
};

} // namespace tsy::process
