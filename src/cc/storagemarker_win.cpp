// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QStringList>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("\\\\");
}

const QRegularExpression& storage_separators() {
    // Made once: each new expression is compiled again.
    static const QRegularExpression re(QStringLiteral("[\\\\/]"));
    return re;
}

bool is_storage_root(const QString& path) {
    // \\server or \\server\share, with or without a trailing separator.
    const QStringList parts = path.split(storage_separators(), Qt::SkipEmptyParts);
    return parts.size() <= 2;
}

} // namespace tsy::cc
