// SPDX-License-Identifier: Apache-2.0
#include "process/runlog.h"

#include "process/commandline.h"

namespace tsy::process {

Q_LOGGING_CATEGORY(lcRun, "tessaly.run", QtWarningMsg)

void log_command(const QStringList& words, const QString& outcome, qint64 ms,
                 const QString& shown) {
    if (!lcRun().isInfoEnabled())
        return;
    // Made as one text and logged without a QDebug stream, which costs
    // more than the rest when a run logs thousands of commands.
    const QString line = (shown.isEmpty() ? quoted_command(words, Quoting::Shell) : shown) +
                         QStringLiteral(" -> ") + outcome + QStringLiteral(" (") +
                         QString::number(ms / 1000.0, 'f', 2) + QStringLiteral(" s)");
    qCInfo(lcRun, "%s", qUtf8Printable(line));
}

} // namespace tsy::process
