// SPDX-License-Identifier: Apache-2.0
#pragma once

// The log of every command Tessaly runs: its argument list, how it ended
// and how long it took, as the category "tessaly.run" at info level. The
// window leaves it off; the headless face turns it on and sends it to the
// system log, a --log file and, with --verbose, stderr; QT_LOGGING_RULES
// has the last word in both.

#include <QLoggingCategory>
#include <QStringList>

namespace tsy::process {

Q_DECLARE_LOGGING_CATEGORY(lcRun)

// One entry: the words, shell-quoted for reading, the outcome and the time.
// A command too long to read whole (a script given to sh -c) is shown by
// the text shown instead, when that is not empty.
void log_command(const QStringList& words, const QString& outcome, qint64 ms,
                 const QString& shown = QString());

} // namespace tsy::process
