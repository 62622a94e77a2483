// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QStringList>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("\\\\");
}

QStringList storage_parts(const QString& path) {
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size()) {
            const QChar c = path.at(i);
            if (!(c == u'/' || c == u'\'))
                continue;
        }
        if (i > from)
            parts.append(path.mid(from, i - from));
        from = i + 1;
    }
    return parts;
}

bool is_storage_root(const QString& path) {
    // \\server or \\server\share, with or without a trailing separator.
    const QStringList parts = storage_parts(path);
    return parts.size() <= 2;
}

} // namespace tsy::cc
