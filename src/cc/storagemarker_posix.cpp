// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QDir>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("/");
}

const QRegularExpression& storage_separators() {
    // Made once: each new expression is compiled again.
    static const QRegularExpression re(QStringLiteral("/"));
    return re;
}

bool is_storage_root(const QString& path) {
    return QDir::cleanPath(path) == QLatin1StringView("/");
}

} // namespace tsy::cc
