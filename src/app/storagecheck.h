// SPDX-License-Identifier: Apache-2.0
#pragma once

// The window's check of the ticked views: each storage is inspected as
// the headless --check does it, without changing anything; then the sound
// views are unticked, those that need repair stay ticked, and one box says
// which is which. Execute then repairs only what needs it.

#include "repair/runengine.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

namespace tsy {

class ProgressSink;
namespace model {
class ViewListModel;
}

class StorageCheck : public QObject {
    Q_OBJECT

public:
    StorageCheck(model::ViewListModel& list, ProgressSink& progress, QObject* parent = nullptr);

    bool running() const { return m_running; }
    // Inspects the ticked views. Refused while a check is under way, and
    // for a ClearCase whose fix_prot is not the UNIX one (nothing to read).
    bool start(cc::Session& session, const QString& cchome);
    // The window is closing: the inspections end now.
    void abandon();

signals:
    void started();
    void finished();

private:
    void viewDone(const repair::RunItem& item, const repair::RepairOutcome& o);
    void end();

    model::ViewListModel& m_list;
    ProgressSink& m_progress;
    QPointer<repair::RunEngine> m_engine;
    QList<int> m_sound;
    QStringList m_needed, m_notChecked, m_groups;
    bool m_running = false;
    bool m_abandoned = false;
};

} // namespace tsy
