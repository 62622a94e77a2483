// SPDX-License-Identifier: Apache-2.0
#include "process/childprocess.h"

#include <QList>
#include <QProcess>

namespace tsy::process {

namespace {
QList<QProcess*>& kept() {
    // Never destroyed: a QProcess that still runs at exit must not be
    // destroyed either, and the list keeps it reachable until then.
    static auto* k = new QList<QProcess*>;
    return *k;
}
} // namespace

void keep_until_finished(QProcess* p) {
    p->disconnect();
    p->setParent(nullptr);
    if (p->state() == QProcess::NotRunning) {
        p->deleteLater();
        return;
    }
    kept().append(p);
    QObject::connect(p, &QProcess::finished, p, [p] {
        kept().removeOne(p);
        p->deleteLater();
    });
}

} // namespace tsy::process
