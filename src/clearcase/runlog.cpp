#include "runlog.h"

#include "fixprot.h"

namespace tsy {

Q_LOGGING_CATEGORY(lcRun, "tessaly.run", QtWarningMsg)

void log_command(const QStringList& words, const QString& outcome, qint64 ms) {
    if (!lcRun().isInfoEnabled())
        return;
    QStringList shown;
    for (const QString& w : words)
        shown.append(fixprot::shell_quote(w));
    qCInfo(lcRun).noquote() << shown.join(u' ') << QStringLiteral("->") << outcome
                            << QStringLiteral("(%1 s)").arg(ms / 1000.0, 0, 'f', 2);
}

} // namespace tsy
