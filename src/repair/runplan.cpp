// SPDX-License-Identifier: Apache-2.0
#include "repair/runplan.h"

#include <algorithm>

namespace tsy::repair {

RunPlan::RunPlan(const QStringList& hosts, int jobs, int perHost)
    : m_jobs(std::max(1, jobs)), m_perHost(std::max(1, perHost)) {
    m_hostOf.reserve(size_t(hosts.size()));
    for (const QString& host : hosts)
        add(host);
}

int RunPlan::add(const QString& host) {
    auto it = m_index.find(host);
    if (it == m_index.end()) {
        it = m_index.insert(host, int(m_host.size()));
        m_host.emplace_back();
    }
    const int h = *it;
    const int view = int(m_hostOf.size());
    m_hostOf.push_back(h);
    Host& entry = m_host[size_t(h)];
    if (entry.givenUp) {
        m_givenUp.append(view);
        return view;
    }
    entry.queue.push_back(view);
    ++m_waiting;
    if (entry.queue.size() == 1)
        offer(h);
    return view;
}

void RunPlan::offer(int h) {
    const Host& host = m_host[size_t(h)];
    if (!host.givenUp && !host.queue.empty() && host.running < m_perHost)
        m_ready.insert({host.queue.front(), h});
}

void RunPlan::withdraw(int h) {
    const Host& host = m_host[size_t(h)];
    if (!host.queue.empty())
        m_ready.erase({host.queue.front(), h});
}

int RunPlan::take() {
    if (m_closed || m_running >= m_jobs || m_ready.empty())
        return -1;
    const auto [view, h] = *m_ready.begin();
    withdraw(h);
    Host& host = m_host[size_t(h)];
    host.queue.pop_front();
    ++host.running;
    ++m_running;
    --m_waiting;
    offer(h);
    return view;
}

void RunPlan::ended(int i, bool lostConnection) {
    const int h = m_hostOf.at(size_t(i));
    Host& host = m_host[size_t(h)];
    withdraw(h);
    --host.running;
    --m_running;
    host.lostInARow = lostConnection ? host.lostInARow + 1 : 0;
    if (host.lostInARow >= 2 && !host.givenUp) {
        host.givenUp = true;
        for (const int v : host.queue)
            m_givenUp.append(v);
        m_waiting -= qsizetype(host.queue.size());
        host.queue.clear();
    }
    offer(h);
}

QList<int> RunPlan::takeGivenUp() {
    QList<int> out;
    out.swap(m_givenUp);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace tsy::repair
