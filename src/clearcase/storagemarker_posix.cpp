#include "storagemarker.h"

#include <QDir>

namespace tsy {

QString storage_marker() {
    return QStringLiteral("/");
}

QRegularExpression storage_separators() {
    return QRegularExpression(QStringLiteral("/"));
}

bool is_storage_root(const QString& path) {
    return QDir::cleanPath(path) == QLatin1StringView("/");
}

} // namespace tsy
