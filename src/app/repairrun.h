// SPDX-License-Identifier: Apache-2.0
#pragma once

// "Execute": for every checked row, in list order, the storage lookup,
// fix_prot on the storage, then "endview -server TAG" once fix_prot has
// ended. One view at a time on the run engine the headless face shares,
// each step started by the end of the one before it; the window stays
// live throughout. Closing the window leaves the view at work to its
// repair unit, which finishes it alone; no other view starts. A storage
// host whose remote shell could not connect for two views in a row is
// given up: its later views are not started, and are named once, after
// the run.

#include "repair/launcher.h"
#include "repair/runengine.h"
#include "repair/runlocks.h"
#include "repair/unitrecord.h"
#include "repair/viewrepair.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <utility>

namespace tsy {

class ProgressSink;
namespace model {
class ViewListModel;
}
namespace cc {
class Session;
}

// The utility's command line as the operator reads it in messages:
// program, one blank, the argument text (none for the "<arguments>"
// placeholder), one blank, the storage path; a path with white space or
// a quote is quoted by Qt's rules (process::Quoting::SplitCommand), so
// the line splits back into the words that were started.
QString fix_prot_command_line(const QString& program, const QString& argsText,
                              const QString& storage);

// The controls' choices as a run reads them: the arguments once at the
// start, the action text and the run mode at every row.
struct RunOptions {
    QString actionText;
    QString argsText;
    repair::RunMode mode = repair::RunMode::Normal;
};

class RepairRun : public QObject {
    Q_OBJECT

public:
    // progress is shown from the start of a run to its end and names each
    // view as the run reaches it.
    RepairRun(model::ViewListModel& list, ProgressSink& progress, QObject* parent = nullptr);

    bool running() const { return m_running; }
    RunOptions& options() { return m_options; }

    // Starts a run over the list. Refused while one is under way.
    bool start(cc::Session& session, const QString& cchome);
    // The window is closing: no further view starts. The view at work is
    // left to its unit, which finishes fix_prot and endview alone; a
    // lookup is stopped.
    void abandon();
    // The operator closed the progress window: asks whether to stop, and on
    // Yes starts no view after the one at work.
    void askToStop();

signals:
    void started();
    void finished();

private:
    std::optional<repair::RunItem> nextRow();
    void viewStarted(const repair::RunItem& item, repair::ViewRepair* view);
    void viewDone(const repair::RunItem& item, const repair::RepairOutcome& outcome);
    void viewGivenUp(const repair::RunItem& item);
    void end();
    void finishOwed(cc::Session& session);

    model::ViewListModel& m_list;
    ProgressSink& m_progress;
    RunOptions m_options;
    QString m_program;
    QString m_argsText;
    cc::FixProtStyle m_style = cc::FixProtStyle::Windows;
    QString m_commandLine; // the latest, for the message that ends a run
    QStringList m_failedRepairs;
    QStringList m_notes; // what the operator should know of views that ran
    // The views not started because their host was given up, by host in
    // the order the hosts were given up.
    QList<std::pair<QString, QStringList>> m_givenUp;
    // Endviews owed by repair units cut short, run before the first view.
    QList<repair::UnitRecord> m_owed;
    QStringList m_finishedOwed;
    int m_repairs = 0;
    int m_row = 0;
    int m_rows = 0; // the rows the list held when the run started
    bool m_running = false;
    bool m_abandoned = false;
    bool m_stopAfterView = false; // the operator asked to stop after this view
    QPointer<repair::RunEngine> m_engine;
    repair::RunLock m_lock;
};

} // namespace tsy
