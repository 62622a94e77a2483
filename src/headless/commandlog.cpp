// SPDX-License-Identifier: Apache-2.0
#include "commandlog.h"

#include "report.h"

#include <QDateTime>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <syslog.h>
#endif

namespace tsy::headless {

namespace {
#ifndef Q_OS_WIN
// The system log's socket: journald's, or a syslog daemon's. Without it
// syslog(3) would drop every entry quietly.
bool system_log_present() {
    struct stat st {};
    return ::stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode);
}
#endif
} // namespace

CommandLog::~CommandLog() {
#ifndef Q_OS_WIN
    if (m_syslog)
        ::closelog();
#endif
}

Result<void> CommandLog::open(bool verbose, const QString& file) {
    m_verbose = verbose;
    if (!file.isEmpty()) {
        m_file.setFileName(file);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return Error{m_file.errorString()};
    }
#ifndef Q_OS_WIN
    if (system_log_present()) {
        ::openlog("tessaly", LOG_PID, LOG_USER);
        m_syslog = true;
    }
#endif
    return {};
}

void CommandLog::note(const QString& line) {
    if (!m_file.isOpen() || m_fileFailed)
        return;
    const QByteArray bytes = (QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' +
                              one_line(line) + u'\n')
                                 .toUtf8();
    m_fileFailed = m_file.write(bytes) != bytes.size() || !m_file.flush();
}

void CommandLog::write(const QString& line, const QByteArray& formatted, Report& report) {
#ifndef Q_OS_WIN
    if (m_syslog)
        ::syslog(LOG_INFO, "%s", one_line(line).toUtf8().constData());
#endif
    if (m_file.isOpen())
        toFile(line, report);
    if (m_verbose)
        report.passThrough(formatted);
}

void CommandLog::toFile(const QString& line, Report& report) {
    if (m_fileFailed)
        return;
    note(line);
    if (m_fileFailed) // told once; the run goes on without its file
        report.error(QStringLiteral("cannot write the log ") + m_file.fileName() +
                     QStringLiteral(": ") + m_file.errorString());
}

} // namespace tsy::headless
