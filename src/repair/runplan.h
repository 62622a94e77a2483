// SPDX-License-Identifier: Apache-2.0
#pragma once

// Which view of a run starts next, for the window and the headless face
// alike. Views are taken in the order they were added, except that a view
// waits while its storage host already has as many views at work as
// allowed, and the whole run keeps at most so many at work. A host whose
// remote shell could not connect for two views in a row is given up: its
// views still waiting, and any added later, are not started.
//
// Views come all at once (a headless run's list) or one by one as the
// run reaches them (the window's next checked row).
//
// Pure bookkeeping, no processes: the runner asks for the next view when
// one may start and reports each view's end.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <set>
#include <utility>
#include <vector>

namespace tsy::repair {

class RunPlan {
public:
    // hosts[i] is the storage host of view i (the list's order).
    RunPlan(const QStringList& hosts, int jobs, int perHost);

    // Adds the next view, on host, and returns its number. A view of a
    // host given up waits for nothing: it is among takeGivenUp() at once.
    int add(const QString& host);

    // The view to start now, or -1 when none may start now.
    int take();
    // View i ended; lostConnection: its remote shell could not connect.
    void ended(int i, bool lostConnection);
    // The views of hosts given up since the last call, in list order, no
    // longer waiting. Each is to be reported as not reachable.
    QList<int> takeGivenUp();
    // No view starts any more; those at work go on.
    void close() { m_closed = true; }

    int running() const { return m_running; }
    // Views neither started nor given up.
    qsizetype waiting() const { return m_waiting; }
    // Whether another view could start now if one were added: the run has
    // room and no view waits (the window adds its next row only then).
    bool wantsMore() const { return !m_closed && m_running < m_jobs && m_waiting == 0; }

private:
    struct Host {
        std::deque<int> queue; // its waiting views, in list order
        int running = 0;
        int lostInARow = 0;
        bool givenUp = false;
    };
    // Enters host h among those that may start a view, keyed by its first
    // waiting view, when it may.
    void offer(int h);
    void withdraw(int h);

    QHash<QString, int> m_index; // host -> host index
    std::vector<int> m_hostOf;   // view -> host index
    std::vector<Host> m_host;
    // Hosts that may start a view now, by their first waiting view.
    std::set<std::pair<int, int>> m_ready;
    QList<int> m_givenUp;
    int m_jobs;
    int m_perHost;
    int m_running = 0;
    qsizetype m_waiting = 0;
    bool m_closed = false;
};

} // namespace tsy::repair
