#pragma once

// `lsview -long` read as it streams from the pipe: records are handed out
// as soon as the next record's "Tag:" line shows that they are complete,
// so the program's own work overlaps cleartool's output. The records are
// exactly those parse_lsview_long gives for the whole output.

#include "lsviewparse.h"

#include <QByteArray>
#include <QList>

namespace tsy::cc {

class LsviewStream {
public:
    // Takes more output; returns the records it completes.
    QList<LsviewRecord> feed(QByteArrayView bytes);
    // The output has ended; returns the records still open.
    QList<LsviewRecord> finish();

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0;  // lines before this offset have been looked at
    qsizetype m_lastTag = -1; // start of the latest "Tag:" line seen in the buffer
};

} // namespace tsy::cc
