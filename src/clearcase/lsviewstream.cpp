#include "lsviewstream.h"

namespace tsy::cc {

namespace {
// Whether the line starting at data[from] begins a record: "Tag:" after
// any indentation.
bool starts_record(const QByteArray& data, qsizetype from, qsizetype end) {
    while (from < end && (data.at(from) == ' ' || data.at(from) == '\t'))
        ++from;
    return end - from >= 4 && data.at(from) == 'T' && data.at(from + 1) == 'a' &&
           data.at(from + 2) == 'g' && data.at(from + 3) == ':';
}
} // namespace

QList<LsviewRecord> LsviewStream::feed(QByteArrayView bytes) {
    m_buffer.append(bytes);
    // Look at every complete line not looked at yet.
    for (;;) {
        const qsizetype nl = m_buffer.indexOf('\n', m_scanned);
        if (nl < 0)
            break;
        if (starts_record(m_buffer, m_scanned, nl))
            m_lastTag = m_scanned;
        m_scanned = nl + 1;
    }
    // Everything before the latest record's first line is complete.
    if (m_lastTag <= 0)
        return {};
    QList<LsviewRecord> done = parse_lsview_long(QByteArrayView(m_buffer).first(m_lastTag));
    m_buffer.remove(0, m_lastTag);
    m_scanned -= m_lastTag;
    m_lastTag = 0;
    return done;
}

QList<LsviewRecord> LsviewStream::finish() {
    QList<LsviewRecord> done = parse_lsview_long(m_buffer);
    m_buffer.clear();
    m_scanned = 0;
    m_lastTag = -1;
    return done;
}

} // namespace tsy::cc
