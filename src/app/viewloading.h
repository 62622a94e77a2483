// SPDX-License-Identifier: Apache-2.0
#pragma once

// "Load Views": the list emptied and filled from ClearCase as the listing
// streams in, with the views that could not be read reported together
// once the list is shown.

#include "cc/session.h"

#include <QObject>
#include <QPointer>

namespace tsy {

class ProgressSink;
namespace model {
class ViewListModel;
}

// How a load ended: every view listed, stopped by the operator with the
// views read so far, or dropped because the window is closing.
enum class LoadEnd { Complete, Stopped, Abandoned };

class ViewLoader : public QObject {
    Q_OBJECT

public:
    // progress is shown from the start of a load to its end and names each
    // view as it is listed.
    ViewLoader(model::ViewListModel& list, ProgressSink& progress, QObject* parent = nullptr);

    bool running() const { return m_job != nullptr; }
    // Empties the list and starts filling it. Refused while running.
    bool start(cc::Session& session);
    // The window is closing: the listing is stopped, nothing is reported.
    void abandon();
    // The operator closed the progress window: asks whether to stop, and on
    // Yes ends the listing at once, keeping the views read so far.
    void askToStop();

signals:
    void started();
    // The list holds every view that could be read (up to the stop, when
    // stopped). report names the rest.
    void finished(const tsy::cc::ListingReport& report, tsy::LoadEnd end);

private:
    void done(LoadEnd end);

    model::ViewListModel& m_list;
    ProgressSink& m_progress;
    QPointer<cc::ListingJob> m_job;
    bool m_asking = false;
};

} // namespace tsy
