#include "storagemarker.h"

#include <QStringList>

namespace tsy {

QString storage_marker() {
    return QStringLiteral("\\\\");
}

QRegularExpression storage_separators() {
    return QRegularExpression(QStringLiteral("[\\\\/]"));
}

bool is_storage_root(const QString& path) {
    // \\server or \\server\share, with or without a trailing separator.
    const QStringList parts = path.split(storage_separators(), Qt::SkipEmptyParts);
    return parts.size() <= 2;
}

} // namespace tsy
