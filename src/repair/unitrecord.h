// SPDX-License-Identifier: Apache-2.0
#pragma once

// The records repair units leave behind. A unit writes one when it starts
// and again when it ends, and the run that started it removes it once the
// unit has reported its end. A record that is still there belongs to a
// unit that outlived its run (a closed window, a killed Tessaly): the next
// run reports it once and removes it. A unit still at work keeps a lock on
// its record, and its record is left alone.
//
// A unit cut short itself leaves work half-done, and the record stays
// until a run has finished it: after a fix_prot that succeeded, the view's
// endview is owed (endviewOwed()); after a fix_prot that never reported,
// the view is due for a repair again once the storage lock on its host is
// free (repairDue()), which a later repair of the view learns.

#include <QList>
#include <QString>

namespace tsy::repair {

struct UnitRecord {
    QString tag;
    QString fixProt;        // "exit 0", "signal 9", "not started: ..."
    QString endview;        // "exit 0", "not run", ...
    QString endviewMessage; // cleartool's error text, if any
    QString started, ended; // UTC, ISO 8601
    bool finished = false;  // false: the unit itself was cut short
    QString file;           // where it was read

    bool endviewOwed() const { return !finished && fixProt == QLatin1StringView("exit 0"); }
    bool repairDue() const { return !finished && fixProt.isEmpty(); }
    // "finished after the run that started it had ended: TAG: ..."
    QString describe() const;
};

// The text of a report line or record value: "\\", "\n" and "\r" as the
// unit writes them, undone.
QString unit_unescaped(QByteArrayView text);

// Reads the record at text; the result has no tag when text is no record.
UnitRecord parse_unit_record(const QByteArray& text);

// The records in dir of units no longer at work, each read and removed,
// but for those whose work is owed (endviewOwed() or repairDue()): those
// stay until the caller has finished that work and removes file.
QList<UnitRecord> take_unit_records(const QString& dir);

} // namespace tsy::repair
