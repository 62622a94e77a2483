// SPDX-License-Identifier: Apache-2.0
#pragma once

// The detail report of one view: its state, server host and config spec,
// asked of ClearCase without waiting and shown in a box when it arrives.

#include "cc/session.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace tsy {

// The detail report's text for one view.
QString view_details_text(bool active, bool snapshot, bool ucm, const QString& host,
                          const QString& configSpec);

class DetailsReporter : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool running() const { return m_job != nullptr; }
    // Asks for tag's details; the box follows. Refused while one runs.
    bool start(cc::Session& session, const QString& tag);
    void abandon();

signals:
    // ClearCase knows the view (the list shows its tag as a tool tip).
    void viewFound(const QString& tag);

private:
    QPointer<cc::DetailsJob> m_job;
};

} // namespace tsy
