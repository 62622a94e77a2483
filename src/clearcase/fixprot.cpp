#include "fixprot.h"

#include "platform/platform.h"
#include "storagemarker.h"

#include <QDir>
#include <QProcess>

namespace tsy::fixprot {

QString default_args() {
    return QStringLiteral(" -force -root -recover -recurse ");
}

QStringList argument_words(const QString& argsText) {
    if (argsText == QLatin1StringView("<arguments>"))
        return {};
    return QProcess::splitCommand(argsText);
}

QString program_path(const QString& cchome) {
    return cchome + QString::fromLocal8Bit(plat::fix_prot_suffix());
}

QString storage_from_lookup(const QString& output, const QString& tag, QString& error) {
    error.clear();
    QStringList lines;
    for (QString line : output.split(u'\n')) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    if (lines.isEmpty()) {
        error = QStringLiteral("lsview printed no storage path for view ") + tag;
        return QString();
    }
    if (lines.size() > 1) {
        error = QStringLiteral("lsview printed %1 lines for view ").arg(lines.size()) + tag;
        return QString();
    }
    const QString marker = storage_marker();
    const QString& line = lines.first();
    const qsizetype at = line.indexOf(marker);
    if (at < 0) {
        error = QStringLiteral("lsview printed no storage path for view ") + tag;
        return QString();
    }
    // "* tag   path": the active marker and the blanks around the tag.
    QString named = line.left(at).trimmed();
    if (named.startsWith(u'*'))
        named = named.mid(1).trimmed();
    if (named != tag) {
        error = QStringLiteral("lsview answered for view \"") + named +
                QStringLiteral("\" instead of ") + tag;
        return QString();
    }
    QString path = line.mid(at);
    while (path.endsWith(u' ') || path.endsWith(u'\t'))
        path.chop(1);
    if (path.split(storage_separators(), Qt::SkipEmptyParts).contains(QStringLiteral(".."))) {
        error = QStringLiteral("lsview gave a storage path that climbs with \"..\" for view ") +
                tag + QStringLiteral(": ") + path;
        return QString();
    }
    if (is_storage_root(path)) {
        error = QStringLiteral("lsview gave the root directory as the storage of view ") + tag +
                QStringLiteral(": ") + path;
        return QString();
    }
    return path;
}

} // namespace tsy::fixprot
