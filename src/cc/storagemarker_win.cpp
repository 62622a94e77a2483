// SPDX-License-Identifier: Apache-2.0
#include "cc/storagemarker.h"

#include <QStringList>

namespace tsy::cc {

QString storage_marker() {
    return QStringLiteral("\\\\");
}

bool is_storage_separator(QChar c) {
    return c == u'/' || c == u'\\';
}

bool is_storage_root(const QString& path) {
    // \\server or \\server\share, with or without a trailing separator.
    const QStringList parts = storage_parts(path);
    return parts.size() <= 2;
}

} // namespace tsy::cc
