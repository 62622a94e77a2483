// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QDir>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("/");
}

QStringList storage_parts(const QString& path) {
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size()) {
            const QChar c = path.at(i);
            if (!(c == u'/'))
                continue;
        }
        if (i > from)
            parts.append(path.mid(from, i - from));
        from = i + 1;
    }
    return parts;
}

bool is_storage_root(const QString& path) {
    return QDir::cleanPath(path) == QLatin1StringView("/");
}

} // namespace tsy::cc
