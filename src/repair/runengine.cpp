// SPDX-License-Identifier: Apache-2.0
#include "repair/runengine.h"

#include "cc/session.h"

#include <QTimer>

#include <algorithm>

namespace tsy::repair {

bool lost_connection(const RepairOutcome& o) {
    return o.kind == RepairOutcome::Kind::FixProtFailed && !o.host.isEmpty() && o.end.known &&
           !o.end.crashed && o.end.exitCode == 255;
}

RunEngine::RunEngine(cc::Session& session, RunSettings settings, QObject* parent)
    : QObject(parent), m_session(session), m_settings(std::move(settings)),
      m_plan({}, m_settings.jobs, m_settings.perHost) {}

RunEngine::~RunEngine() {
    for (auto it = m_atWork.cbegin(); it != m_atWork.cend(); ++it) {
        it.key()->disconnect(this);
        it.key()->abandon();
    }
}

RunSettings RunEngine::settingsFor(const cc::Session& session, const QString& cchome,
                                   const QStringList& arguments) {
    RunSettings s;
    s.program = fixprot_path(cchome);
    s.arguments = arguments;
    s.style = session.fixProtStyle();
    if (s.style == cc::FixProtStyle::Unix)
        s.reach = reach_from_environment();
    return s;
}

void RunEngine::start(const QList<RunItem>& items) {
    m_items = items;
    if (m_settings.style == cc::FixProtStyle::Unix) {
        m_batches = new FactBatches(m_session, this);
        if (m_settings.inspect != RepairRequest::Inspect::No)
            m_inspections = new InspectionBatches(
                m_settings.reach,
                [batches = m_batches](const InspectTarget& first, int max) {
                    QList<InspectTarget> peers;
                    for (const auto& [tag, record] : batches->heldAfter(first.tag, max)) {
                        if (std::optional<InspectTarget> t = batch_target(tag, record))
                            peers.append(*t);
                    }
                    return peers;
                },
                this);
    }
    for (const RunItem& item : items) {
        m_plan.add(item.host);
        if (m_batches)
            m_batches->add(item.tag, item.host);
    }
    m_running = true;
    queuePump();
}

void RunEngine::start(std::function<std::optional<RunItem>()> next) {
    m_next = std::move(next);
    m_running = true;
    queuePump();
}

void RunEngine::stop(bool endLookups) {
    if (!m_running)
        return;
    if (!m_stopped) {
        m_stopped = true;
        m_plan.close();
        queuePump();
    }
    if (!endLookups)
        return;
    if (m_inspections)
        m_inspections->abandon();
    const QList<ViewRepair*> views = m_atWork.keys();
    for (ViewRepair* v : views) {
        if (v->step() == ViewRepair::Step::Lookup || v->step() == ViewRepair::Step::Facts ||
            v->step() == ViewRepair::Step::Inspect)
            v->abandon(); // reports Kind::Abandoned through viewDone()
    }
}

void RunEngine::abandon() {
    if (!m_running)
        return;
    m_stopped = true;
    m_plan.close();
    const QList<ViewRepair*> views = m_atWork.keys();
    for (ViewRepair* v : views) {
        v->disconnect(this);
        v->abandon();
        v->deleteLater();
    }
    m_atWork.clear();
    end();
}

QStringList RunEngine::tagsAtWork(bool unitsOnly) const {
    QStringList tags;
    for (auto it = m_atWork.cbegin(); it != m_atWork.cend(); ++it) {
        const ViewRepair::Step step = it.key()->step();
        if (!unitsOnly || step == ViewRepair::Step::FixProt || step == ViewRepair::Step::Endview)
            tags.append(it.value().item.tag);
    }
    std::sort(tags.begin(), tags.end());
    return tags;
}

qsizetype RunEngine::waiting() const {
    return m_plan.waiting();
}

void RunEngine::queuePump() {
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &RunEngine::pump);
    }
}

// Starts every view that may start now, asking the source for more while
// the run has room and no view waits; ends the run when none is at work
// and none may start any more.
void RunEngine::pump() {
    m_pumpQueued = false;
    if (!m_running)
        return;
    if (m_asking) {
        // Events let through while the source is asked: come back after.
        queuePump();
        return;
    }
    while (!m_stopped) {
        if (const int i = m_plan.take(); i >= 0) {
            startView(m_items.at(i), i);
            if (!m_running)
                return;
            continue;
        }
        if (!m_next || !m_plan.wantsMore())
            break;
        // The source may ask the operator or let events through: whatever
        // it does, the run may have been stopped or abandoned meanwhile.
        m_asking = true;
        std::optional<RunItem> item = m_next();
        m_asking = false;
        if (!m_running)
            return;
        if (!item) {
            m_next = nullptr;
            break;
        }
        if (m_stopped)
            break;
        m_items.append(*item);
        m_plan.add(item->host);
        reportGivenUp();
        if (!m_running)
            return;
    }
    if (m_atWork.isEmpty() && (m_stopped || (!m_next && m_plan.waiting() == 0)))
        end();
}

void RunEngine::reportGivenUp() {
    for (const int g : m_plan.takeGivenUp()) {
        const RunItem item = m_items.at(g);
        emit viewGivenUp(item);
    }
}

void RunEngine::startView(const RunItem& item, int index) {
    RepairRequest r;
    r.tag = item.tag;
    r.program = m_settings.program;
    r.arguments = m_settings.arguments;
    r.mode = item.mode;
    r.style = m_settings.style;
    r.reach = m_settings.reach;
    // A UNIX fix_prot that failed leaves the view as it was: its server is
    // not stopped on top of that.
    r.endviewAfterFailure = m_settings.style == cc::FixProtStyle::Windows;
    r.dryRun = m_settings.dryRun;
    r.inspect = m_settings.inspect;
    r.endviewWhenSound = item.endviewWhenSound;
    auto* v = new ViewRepair(m_session, r, this);
    v->useBatches(m_batches);
    v->useInspections(m_inspections);
    m_hosts.insert(item.host);
    m_atWork.insert(v, Work{item, index});
    connect(v, &ViewRepair::finished, this, [this, v] { viewDone(v); });
    emit viewStarted(item, v);
    if (m_atWork.contains(v))
        v->start();
}

void RunEngine::viewDone(ViewRepair* v) {
    const Work work = m_atWork.take(v);
    const RunItem& item = work.item;
    v->deleteLater();
    const RepairOutcome o = v->outcome();
    if (!o.host.isEmpty())
        m_hosts.insert(o.host);
    if (o.kind == RepairOutcome::Kind::EndviewFailed && m_settings.stopOnEndviewFailure)
        stop();
    m_plan.ended(work.index, lost_connection(o));
    emit viewEnded(item, o);
    reportGivenUp();
    // Asked for only now: a handler above may have held a message box open.
    queuePump();
}

void RunEngine::end() {
    if (!m_running)
        return;
    m_running = false;
    if (m_batches)
        m_batches->abandon();
    if (m_inspections)
        m_inspections->abandon();
    // No view starts any more: the connections shared per host are not
    // needed past those still at work.
    close_shared_connections(m_settings.reach, QStringList(m_hosts.cbegin(), m_hosts.cend()));
    emit finished();
}

} // namespace tsy::repair
