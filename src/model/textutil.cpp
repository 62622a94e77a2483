#include "model/textutil.h"

namespace tsy {

QString split_at_delim(QString& text, const QString& delim) {
    if (delim.isEmpty())
        return QString();
    const qsizetype p = text.indexOf(delim, 0, Qt::CaseSensitive);
    if (p < 0)
        return QString();
    QString rest = text.mid(p + delim.size());
    text.truncate(p);
    return rest;
}

QString strip_crlf(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != QChar(13) && c != QChar(10))
            result.append(c);
    }
    return result;
}

} // namespace tsy
