// SPDX-License-Identifier: Apache-2.0
#pragma once

// A run over views, the same for the window and the headless face: each
// view's request is built once, its lookups made, then its repair unit
// started; outcomes are reported by signals. One scheduler (RunPlan)
// decides which view starts, by the same rules whatever the views come
// from: in order, within the caps on views at work at once and per
// storage host, and never on a host given up after its remote shell
// could not connect for two views in a row. The views come from a list
// given at the start (headless), or from a source asked for each next
// view once the run has room and no view waits (the window works one view
// at a time, so that what the operator changes meanwhile counts).
//
// What a repair promises is kept below this class, by the unit: once
// started, fix_prot and its endview finish whatever becomes of the run.
// The run only decides which views start.

#include "repair/runplan.h"
#include "repair/viewrepair.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace tsy::cc {
class Session;
}

namespace tsy::repair {

// What every view of a run shares.
struct RunSettings {
    QString program;       // fix_prot's path
    QStringList arguments; // the words of the arguments box
    cc::FixProtStyle style = cc::FixProtStyle::Windows;
    Reach reach;
    bool dryRun = false;
    RepairRequest::Inspect inspect = RepairRequest::Inspect::No;
    int jobs = 1;
    int perHost = 1;
    // After a failed endview no further view starts.
    bool stopOnEndviewFailure = true;
};

// One view to repair.
struct RunItem {
    int id = -1; // the caller's own number for it
    QString tag;
    QString host; // the storage host the listing gives
    RunMode mode = RunMode::Hide;
    // An earlier fix_prot of the view never reported its end: a check
    // that finds the storage sound still stops the view's server.
    bool endviewWhenSound = false;
};

class RunEngine : public QObject {
    Q_OBJECT

public:
    RunEngine(cc::Session& session, RunSettings settings, QObject* parent = nullptr);
    ~RunEngine() override;

    // The settings with fix_prot's program, style and reach for session.
    static RunSettings settingsFor(const cc::Session& session, const QString& cchome,
                                   const QStringList& arguments);

    // Runs items in their order within the caps.
    void start(const QList<RunItem>& items);
    // Runs the views next() gives: it is asked whenever the run has room
    // and no view waits (with one view at a time: once the view before has
    // ended), and nullopt ends the run. A view whose host was given up is
    // not started (viewGivenUp) and next() is asked again.
    void start(std::function<std::optional<RunItem>()> next);

    // No view starts any more; those at work finish, then finished().
    // endLookups: views still being looked up or inspected end now
    // (Kind::Abandoned), as their repair had not started.
    void stop(bool endLookups = false);
    // No view starts any more, and nobody waits for those at work: their
    // lookups stop, their units finish alone. finished() follows at once.
    void abandon();

    bool running() const { return m_running; }
    bool stopped() const { return m_stopped; }
    // The tags of the views at work, sorted; unitsOnly: only those whose
    // repair unit has started (the rest are still being looked up).
    QStringList tagsAtWork(bool unitsOnly = false) const;
    int atWork() const { return int(m_atWork.size()); }
    // Views not yet started and not given up.
    qsizetype waiting() const;

signals:
    // A view's repair has started; its own signals are there to be had.
    void viewStarted(const tsy::repair::RunItem& item, tsy::repair::ViewRepair* repair);
    void viewEnded(const tsy::repair::RunItem& item, const tsy::repair::RepairOutcome& outcome);
    // Its host was given up (its remote shell could not connect twice in a
    // row): the view was not started. Whatever the views come from.
    void viewGivenUp(const tsy::repair::RunItem& item);
    void finished();

private:
    void queuePump();
    void pump();
    void reportGivenUp();
    void startView(const RunItem& item, int index);
    void viewDone(ViewRepair* v);
    void end();

    cc::Session& m_session;
    RunSettings m_settings;
    QList<RunItem> m_items;
    RunPlan m_plan;
    std::function<std::optional<RunItem>()> m_next; // empty once it gave nullopt
    struct Work {
        RunItem item;
        int index = -1; // its place in the plan
    };
    QHash<ViewRepair*, Work> m_atWork;
    bool m_running = false;
    bool m_stopped = false;
    bool m_pumpQueued = false;
    bool m_asking = false; // next() is being asked
    QSet<QString> m_hosts; // the storage hosts of the views started
    // The long records of a list's views, asked a batch per host at a
    // time (UNIX); none for views asked for one by one.
    FactBatches* m_batches = nullptr;
    InspectionBatches* m_inspections = nullptr;
};

// Whether a view's fix_prot could not reach its host: ssh reports that,
// and only that, with exit status 255.
bool lost_connection(const RepairOutcome& o);

} // namespace tsy::repair
