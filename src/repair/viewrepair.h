// SPDX-License-Identifier: Apache-2.0
#pragma once

// The repair of one view, step by step and driven by signals: the storage
// lookup (`lsview TAG`), fix_prot on the storage, then `endview -server
// TAG` once fix_prot has ended. Each step starts when the one before it
// has reported; nothing waits. The window's run takes one view at a time;
// a headless run may keep several going at once.
//
// For UNIX ClearCase a step comes between the lookup and fix_prot: `lsview
// -long -properties -full TAG` gives the server host, the host-local
// storage path, and the owner and group that fill the arguments. fix_prot
// then runs on that host (through the remote shell unless it is this one)
// as root, and a fix_prot that failed is not followed by endview.
//
// A run over a list of views may ask the long records of a host's views
// at once (FactBatches): a view whose record the batch gave skips both
// lookups; one it did not give makes them as above.
//
// Once the lookups are done, fix_prot and its endview run as one unit
// outside this program (see Launch): abandoning the repair, or this
// program's end, leaves the unit to finish the view alone.

#include "cc/lsviewparse.h"
#include "process/result.h"
#include "repair/factbatch.h"
#include "repair/fixprot.h"
#include "repair/inspectbatch.h"
#include "repair/inspection.h"
#include "repair/launcher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QProcess;

namespace tsy::cc {
class Session;
class Job;
} // namespace tsy::cc

namespace tsy::repair {

struct RepairRequest {
    QString tag;
    QString program;       // fix_prot's path
    QStringList arguments; // the words before the storage path
    RunMode mode = RunMode::Hide;
    cc::FixProtStyle style = cc::FixProtStyle::Windows;
    Reach reach; // how UNIX fix_prot reaches its host and root
    // Whether a fix_prot that failed is still followed by endview.
    bool endviewAfterFailure = true;
    // Only the lookups: the words fix_prot would get end the repair.
    bool dryRun = false;
    // UNIX: after the lookups, inspect the storage's ownership on its host
    // (see inspection.h) instead of repairing it (Check), or before
    // repairing it, which then happens only when it is needed.
    enum class Inspect { No, Check, BeforeRepair };
    Inspect inspect = Inspect::No;
    // BeforeRepair: a storage found sound still gets its endview (a
    // fix_prot of an earlier run may have changed it, and never said so).
    bool endviewWhenSound = false;
};

struct RepairOutcome {
    enum class Kind {
        Repaired,      // fix_prot succeeded and the server was stopped
        LookupFailed,  // no usable storage path: nothing was started
        Skipped,       // an argument could not be filled: nothing was started
        Busy,          // a repair of an earlier run still works on the storage
        Planned,       // a dry run: command holds what would have run
        LaunchFailed,  // fix_prot could not be started: no endview
        FixProtFailed, // fix_prot ended badly (see end)
        EndviewFailed, // fix_prot ended, endview failed (see message)
        Abandoned,     // given up before the end
        Sound,         // the inspection found nothing to repair
        NeedsRepair,   // it found entries to repair (a check only)
        NotChecked,    // it could not tell (see message)
    };
    Kind kind = Kind::Abandoned;
    QString message;     // the lookup's, the launch's or endview's error
    QString note;        // what the operator should know of a repair that ran
    QString storage;     // the path fix_prot was given
    QString host;        // where it ran (UNIX), empty for this machine's run
    QString serverHost;  // the view's server host as the lookup gave it (UNIX)
    QStringList command; // the words fix_prot was started with
    ProgramEnd end;      // how fix_prot ended, once it ran
    bool endviewRan = false;
    bool inspected = false;        // an inspection gave found and first
    int found = 0;                 // entries it found that fix_prot would change
    bool more = false;             // its reading was cut: found or more
    QString first;                 // the first of them
    QString firstWhy;              // what is wrong with it
    std::vector<Problem> problems; // by kind
    QStringList groups;            // the identity's additional groups, which fix_prot removes
    QDateTime started;             // when the lookup was asked
    qint64 elapsedMs = 0;
};

// What a view's long record (output, parsed as r) says of its storage: the
// server host, the host-local path, the owner and group (empty when the
// record names none); or why the record cannot be used. globalPath is
// what the short lookup gave.
Result<InspectTarget> storage_facts(const QString& tag, const QString& output,
                                    const cc::LsviewRecord& r, const QString& globalPath);
// The storage a batch's record of tag names, when the record is whole and
// names the owner and group: what the view will inspect when it starts.
std::optional<InspectTarget> batch_target(const QString& tag, const QString& record);

class ViewRepair : public QObject {
    Q_OBJECT

public:
    enum class Step { Lookup, Facts, Inspect, FixProt, Endview, Done };

    ViewRepair(cc::Session& session, RepairRequest request, QObject* parent = nullptr);
    ~ViewRepair() override;

    void start();
    // Before start(): the long record comes from batches when they hold
    // it, and from the view's own lookups when they do not.
    void useBatches(FactBatches* batches) { m_batches = batches; }
    // Before start(): the storage's inspection comes from a batch of its
    // host's storages when one holds or would hold it.
    void useInspections(InspectionBatches* inspections) { m_inspections = inspections; }
    // Gives up now: a lookup is stopped; a repair unit at work finishes
    // alone, its endview included, and leaves its record for a later run.
    // finished() follows with Kind::Abandoned.
    void abandon();

    const RepairRequest& request() const { return m_request; }
    Step step() const { return m_step; }
    const RepairOutcome& outcome() const { return m_outcome; }

signals:
    // The storage was found (the global path of the lookup).
    void storageFound(const QString& storage);
    // fix_prot is about to start with these words.
    void launching(const QStringList& words);
    void finished();

private:
    void lookUp();
    void lookedUp();
    void batchAnswered(const QString& record);
    void factsFound();
    // fromBatch: output is a batch's record, which gives the global path too.
    void useFacts(const QString& output, bool fromBatch = false);
    void inspect();
    // The storage read by its own command, not a batch's.
    void inspectAlone();
    void runInspection(const QStringList& words, const QStringList& shown);
    void inspected(const InspectionEnd& e);
    void repair();
    void launch(const QStringList& words);
    void fixProtEnded(const ProgramEnd& end);
    void unitEndviewEnded(const EndviewEnd& e);
    // Runs endview; soundNote set, the view ends sound with that note.
    void stopServer(const QString& soundNote = QString());
    void done(RepairOutcome::Kind kind, const QString& message = QString());

    cc::Session& m_session;
    RepairRequest m_request;
    Step m_step = Step::Lookup;
    RepairOutcome m_outcome;
    QPointer<cc::Job> m_job;
    QPointer<FactBatches> m_batches;
    QPointer<InspectionBatches> m_inspections;
    QPointer<Launch> m_launch;
    QElapsedTimer m_clock;
    QElapsedTimer m_fixClock;
    QString m_globalPath;
    // What the lookups found: the host-local storage, its host, the owner
    // and group.
    QString m_local, m_host, m_owner, m_group;
    QPointer<QProcess> m_inspection;
    QStringList m_inspectionShown; // its words as the log shows them
    InspectionEnd m_inspectionEnd; // what it wrote so far
    // The inspection as the account itself said this; the privileged
    // inspector is asked next.
    std::optional<Verdict> m_unreadable;
    // fix_prot's words with the storage lock on its host taken around them
    // (UNIX); empty: the words launch() is given run as they are.
    QStringList m_lockedWords;
    bool m_unitEndview = false; // the repair unit runs endview, not the session
};

} // namespace tsy::repair
