#pragma once

// The log of every command Tessaly runs: its argument list, how it ended
// and how long it took, as the category "tessaly.run" at info level. The
// window leaves it off; the headless face turns it on (to stderr);
// QT_LOGGING_RULES has the last word in both.

#include <QLoggingCategory>
#include <QStringList>

namespace tsy::process {

Q_DECLARE_LOGGING_CATEGORY(lcRun)

// One entry: the words, shell-quoted for reading, the outcome and the time.
void log_command(const QStringList& words, const QString& outcome, qint64 ms);

} // namespace tsy::process
