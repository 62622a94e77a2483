// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QDir>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("/");
}

bool is_storage_separator(QChar c) {
    return c == u'/';
}

bool is_storage_root(const QString& path) {
    return QDir::cleanPath(path) == QLatin1StringView("/");
}

} // namespace tsy::cc
