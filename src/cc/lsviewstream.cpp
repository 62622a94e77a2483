// SPDX-License-Identifier: Apache-2.0
#include "cc/lsviewstream.h"

#include <cstring>

namespace tsy::cc {

QList<LsviewRecord> LsviewStream::feed(QByteArrayView bytes) {
    QList<LsviewRecord> done;
    feed(bytes, done);
    return done;
}

void LsviewStream::feed(QByteArrayView bytes, QList<LsviewRecord>& done) {
    if (m_tooLong)
        return;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    // Lines are read where they stand in the bytes given; only a line cut
    // by the end of a piece is copied, to be completed by the next.
    while (p != end) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!nl) {
            if (m_partial.size() + (end - p) > kLineLimit) {
                m_tooLong = true;
                m_partial.clear();
            } else {
                m_partial.append(p, end - p);
            }
            break;
        }
        if (m_partial.size() + (nl - p) > kLineLimit) {
            m_tooLong = true;
            m_partial.clear();
            break;
        }
        if (m_partial.isEmpty()) {
            m_reader.line(QByteArrayView(p, nl));
        } else {
            m_partial.append(p, nl - p);
            m_reader.line(m_partial);
            m_partial.resize(0);
        }
        p = nl + 1;
    }
    m_reader.take(done);
}

QList<LsviewRecord> LsviewStream::finish() {
    if (!m_tooLong)
        m_reader.line(m_partial);
    m_partial.clear();
    m_tooLong = false;
    m_reader.finish();
    return m_reader.take();
}

} // namespace tsy::cc
