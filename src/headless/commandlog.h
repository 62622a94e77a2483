// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a headless run's command log (the "tessaly.run" entries) goes: the
// system log when there is one, a --log file with UTC time stamps, and
// stderr with --verbose. A cron run's mail then holds the results, and the
// journal or the file every command behind them.

#include "process/result.h"

#include <QFile>
#include <QString>

namespace tsy::headless {

class Report;

class CommandLog {
public:
    CommandLog() = default;
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    // Opens the log's places. Why not when file (not empty) cannot be
    // opened for appending; nothing is written then.
    Result<void> open(bool verbose, const QString& file);
    // Whether any place takes the log: without one it is not even made.
    bool wanted() const { return m_syslog || m_verbose || m_file.isOpen(); }
    // A line of the file alone, such as the run's own command line.
    void note(const QString& line);
    // One entry: line is the entry, formatted the text Qt's handler would
    // print on stderr.
    void write(const QString& line, const QByteArray& formatted, Report& report);

private:
    void toFile(const QString& line, Report& report);

    bool m_syslog = false;
    bool m_verbose = false;
    bool m_fileFailed = false;
    QFile m_file;
};

} // namespace tsy::headless
