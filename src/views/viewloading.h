#pragma once

// "Load Views": the list emptied and filled from ClearCase as the listing
// streams in, with the views that could not be read reported together
// once the list is shown.

#include "clearcase/session.h"

#include <QObject>
#include <QPointer>

namespace tsy {
class ViewListModel;
}

namespace tsy::views {

// The load report's text; empty when there is nothing to report.
QString load_report_text(const cc::ListingReport& report);

class ViewLoader : public QObject {
    Q_OBJECT

public:
    explicit ViewLoader(ViewListModel& list, QObject* parent = nullptr);

    bool running() const { return m_job != nullptr; }
    // Empties the list and starts filling it. Refused while running.
    bool start(cc::Session& session);
    // The window is closing: the listing is stopped, nothing is reported.
    void abandon();

signals:
    void started();
    // The list holds every view that could be read. report names the rest.
    void finished(const tsy::cc::ListingReport& report, bool abandoned);

private:
    void done(bool abandoned);

    ViewListModel& m_list;
    QPointer<cc::ListingJob> m_job;
};

} // namespace tsy::views
