// SPDX-License-Identifier: Apache-2.0
#pragma once

// `lsview -long` read as it streams from the pipe: each complete line goes
// to the reader as it arrives, and records are handed out as soon as the
// next record's first line shows that they are complete, so the program's
// own work overlaps cleartool's output. The records are exactly those
// parse_lsview_long gives for the whole output, wherever it is cut.

#include "cc/lsviewparse.h"

#include <QByteArray>
#include <QList>

namespace tsy::cc {

class LsviewStream {
public:
    explicit LsviewStream(LsviewFields fields = LsviewFields::All) : m_reader(fields) {}

    // Takes more output; returns the records it completes.
    QList<LsviewRecord> feed(QByteArrayView bytes);
    // The same, the records appended to done: a list kept from one piece to
    // the next is allocated once.
    void feed(QByteArrayView bytes, QList<LsviewRecord>& done);
    // The output has ended; returns the records still open. The stream
    // can then read another output.
    QList<LsviewRecord> finish();
    // A line grew past kLineLimit bytes without its line feed: it is
    // dropped, and the rest of the output is not read.
    bool lineTooLong() const { return m_tooLong; }

    static constexpr qsizetype kLineLimit = qsizetype(1) << 20;

private:
    LsviewReader m_reader;
    QByteArray m_partial; // the start of a line whose line feed has not come yet
    bool m_tooLong = false;
};

} // namespace tsy::cc
