// Starting fix_prot on POSIX, without a shell: Hide runs it directly with
// its output discarded; Normal and Minimized run it in a terminal through
// tessaly-wrap, which reports the utility's exit status over a FIFO that
// this program owns.
#include "launcher.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsy {

namespace {

QString& wrapper_override() {
    static QString p;
    return p;
}

// Why program cannot be started, in the system's words; empty when it can.
QString start_problem(const QString& program, QString& resolved) {
    if (program.contains(u'/')) {
        const QFileInfo fi(program);
        if (!fi.exists())
            return QStringLiteral("No such file or directory");
        if (fi.isDir() || !fi.isExecutable())
            return QStringLiteral("Permission denied");
        resolved = fi.absoluteFilePath();
        return QString();
    }
    resolved = QStandardPaths::findExecutable(program);
    return resolved.isEmpty() ? QStringLiteral("No such file or directory") : QString();
}

// The terminal to show a program in: $TERMINAL (a command, possibly with
// options), else xterm when a display is there. Empty for none.
QStringList terminal_command() {
    const QString fromEnv = qEnvironmentVariable("TERMINAL");
    if (!fromEnv.trimmed().isEmpty()) {
        QStringList words = QProcess::splitCommand(fromEnv);
        if (!words.isEmpty()) {
            const QString exe = words.first().contains(u'/')
                                    ? words.first()
                                    : QStandardPaths::findExecutable(words.first());
            if (!exe.isEmpty() && QFileInfo(exe).isExecutable()) {
                words[0] = exe;
                return words;
            }
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return {};
    const QString xterm = QStandardPaths::findExecutable(QStringLiteral("xterm"));
    if (xterm.isEmpty())
        return {};
    return {xterm};
}

// How long a terminal whose own process has ended may take to start the
// wrapper (a launcher that hands the command to a server and returns).
int g_graceMs = 10'000;

// The first non-empty line of what a program wrote to f, at most a line's
// worth of it, made printable.
QString first_line(QFile& f) {
    if (!f.seek(0))
        return QString();
    const QString text = QString::fromLocal8Bit(f.read(4096));
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        QString out;
        for (const QChar c : line.left(300))
            out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(u'?') : c;
        return out;
    }
    return QString();
}

class DirectLaunch : public Launch {
public:
    DirectLaunch(const QString& program, const QStringList& args, int keepFd, QObject* parent)
        : Launch(parent), m_words(QStringList{program} + args), m_process(new QProcess(this)) {
        m_process->setProgram(program);
        m_process->setArguments(args);
        m_process->setStandardInputFile(QProcess::nullDevice());
        m_process->setStandardOutputFile(QProcess::nullDevice());
        // Error output goes to a file, never a pipe: the program must be
        // able to write it after this process has gone. The file's name is
        // removed once the program has opened it.
        if (m_errors.open()) {
            m_process->setStandardErrorFile(m_errors.fileName());
            connect(m_process, &QProcess::started, this, [this] {
                m_errors.setAutoRemove(false);
                QFile::remove(m_errors.fileName());
            });
        } else {
            m_process->setStandardErrorFile(QProcess::nullDevice());
        }
        put_in_own_session(*m_process, keepFd);
        connect(m_process, &QProcess::finished, this,
                [this](int code, QProcess::ExitStatus status) {
                    ProgramEnd e;
                    e.known = true;
                    e.crashed = status == QProcess::CrashExit;
                    e.exitCode = code;
                    if (m_errors.isOpen())
                        e.message = first_line(m_errors);
                    emit ended(e);
                });
        connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                emit failedToStart(m_process->errorString());
        });
        // Started on the next turn, so that the caller has connected.
        QTimer::singleShot(0, this, [this] { m_process->start(QIODevice::NotOpen); });
    }
    ~DirectLaunch() override { abandon(); }
    QStringList startedWords() const override { return m_words; }
    void abandon() override {
        if (m_process)
            keep_until_finished(std::exchange(m_process, nullptr));
    }

private:
    QStringList m_words;
    QProcess* m_process;
    QTemporaryFile m_errors;
};

class TerminalLaunch : public Launch {
public:
    TerminalLaunch(const QStringList& terminal, const QString& program, const QStringList& args,
                   RunMode mode, int keepFd, QObject* parent)
        : Launch(parent), m_process(new QProcess(this)) {
        m_grace.setSingleShot(true);
        connect(&m_grace, &QTimer::timeout, this, [this] {
            if (!m_wrapperStarted)
                finish(unknown(QStringLiteral("the terminal never started the program")));
        });
        const QString fifo = openReport();
        QStringList words = terminal.mid(1);
        if (mode == RunMode::Minimized)
            words << QStringLiteral("-iconic");
        words << QStringLiteral("-e") << wrapper_path() << QStringLiteral("--report") << fifo
              << QStringLiteral("--") << program;
        words += args;
        m_words = QStringList{terminal.first()} + words;
        m_process->setProgram(terminal.first());
        m_process->setArguments(words);
        m_process->setStandardInputFile(QProcess::nullDevice());
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->setStandardErrorFile(QProcess::nullDevice());
        put_in_own_session(*m_process, keepFd);
        connect(m_process, &QProcess::finished, this, &TerminalLaunch::terminalEnded);
        connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart && !m_done) {
                m_done = true;
                closeReport();
                emit failedToStart(m_process->errorString());
            }
        });
        QTimer::singleShot(0, this, [this, fifo] {
            if (fifo.isEmpty()) {
                m_done = true;
                emit failedToStart(QStringLiteral("cannot make the status channel: ") + m_problem);
                return;
            }
            m_process->start(QIODevice::NotOpen);
        });
    }
    ~TerminalLaunch() override { abandon(); }
    QStringList startedWords() const override { return m_words; }
    void abandon() override {
        m_done = true;
        closeReport();
        if (m_process)
            keep_until_finished(std::exchange(m_process, nullptr));
    }

private:
    static ProgramEnd unknown(const QString& reason) {
        ProgramEnd e;
        e.reason = reason;
        return e;
    }

    QString openReport() {
        if (!m_dir.isValid()) {
            m_problem = m_dir.errorString();
            return QString();
        }
        const QString path = m_dir.filePath(QStringLiteral("status"));
        const QByteArray native = QFile::encodeName(path);
        if (::mkfifo(native.constData(), 0600) != 0) {
            m_problem = QString::fromLocal8Bit(::strerror(errno));
            return QString();
        }
        m_read = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // A writer of our own until the wrapper has opened its end, so that
        // an empty FIFO reads as "nothing yet" rather than as its end.
        m_keepAlive =
            m_read < 0 ? -1 : ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_read < 0 || m_keepAlive < 0) {
            m_problem = QString::fromLocal8Bit(::strerror(errno));
            closeReport();
            return QString();
        }
        m_notifier = new QSocketNotifier(m_read, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &TerminalLaunch::readReport);
        return path;
    }

    void closeReport() {
        if (m_notifier) {
            m_notifier->setEnabled(false);
            m_notifier->deleteLater();
            m_notifier = nullptr;
        }
        for (int* fd : {&m_read, &m_keepAlive}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    void readReport() {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(m_read, buf, sizeof buf);
            if (n > 0) {
                m_pending.append(buf, n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0) {
                // Every writer is gone: the wrapper and the utility have ended.
                handleLines();
                if (!m_done)
                    finish(unknown(QStringLiteral("the wrapper ended without reporting the "
                                                  "program's exit status")));
                return;
            }
            break; // EAGAIN: nothing more for now
        }
        handleLines();
    }

    void handleLines() {
        for (;;) {
            const qsizetype nl = m_pending.indexOf('\n');
            if (nl < 0 || m_done)
                return;
            const QByteArray line = m_pending.left(nl).trimmed();
            m_pending.remove(0, nl + 1);
            const QList<QByteArray> w = line.split(' ');
            bool ok = false;
            const int value = w.size() == 2 ? w.at(1).toInt(&ok) : 0;
            if (!ok)
                continue;
            if (w.at(0) == "started") {
                m_wrapperStarted = true;
                m_grace.stop();
                if (m_keepAlive >= 0)
                    ::close(std::exchange(m_keepAlive, -1));
            } else if (w.at(0) == "exit" || w.at(0) == "signal") {
                ProgramEnd e;
                e.known = true;
                e.crashed = w.at(0) == "signal";
                e.exitCode = e.crashed ? 0 : value;
                finish(e);
            } else if (w.at(0) == "failed") {
                // The wrapper could not execute the program.
                m_done = true;
                closeReport();
                emit failedToStart(QString::fromLocal8Bit(::strerror(value)));
            }
        }
    }

    void terminalEnded(int code, QProcess::ExitStatus status) {
        if (m_done || m_wrapperStarted)
            return;
        // The report may already be on its way.
        readReport();
        if (m_done || m_wrapperStarted)
            return;
        if (status == QProcess::CrashExit || code != 0) {
            m_done = true;
            closeReport();
            emit failedToStart(
                QStringLiteral("the terminal %1 ended (%2) without running the program")
                    .arg(m_words.first(), status == QProcess::CrashExit
                                              ? QStringLiteral("it crashed")
                                              : QStringLiteral("exit status %1").arg(code)));
            return;
        }
        m_grace.start(g_graceMs);
    }

    void finish(const ProgramEnd& e) {
        if (m_done)
            return;
        m_done = true;
        m_grace.stop();
        closeReport();
        emit ended(e);
    }

    QProcess* m_process;
    QStringList m_words;
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tessaly-XXXXXX")};
    QString m_problem;
    int m_read = -1;
    int m_keepAlive = -1;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
    QTimer m_grace;
    bool m_wrapperStarted = false;
    bool m_done = false;
};

// A launch that could not even be tried; it says so on the next turn.
class RefusedLaunch : public Launch {
public:
    RefusedLaunch(const QString& problem, const QStringList& words, QObject* parent)
        : Launch(parent), m_words(words) {
        QTimer::singleShot(0, this, [this, problem] { emit failedToStart(problem); });
    }
    QStringList startedWords() const override { return m_words; }
    void abandon() override {}

private:
    QStringList m_words;
};

} // namespace

Launch* Launch::start(const LaunchSpec& spec, QObject* parent) {
    QString program;
    const QString problem = start_problem(spec.program, program);
    if (!problem.isEmpty())
        return new RefusedLaunch(problem, QStringList{spec.program} + spec.arguments, parent);
    const QStringList terminal = spec.mode == RunMode::Hide ? QStringList() : terminal_command();
    if (terminal.isEmpty())
        return new DirectLaunch(program, spec.arguments, spec.keepDescriptor, parent);
    return new TerminalLaunch(terminal, program, spec.arguments, spec.mode, spec.keepDescriptor,
                              parent);
}

QString wrapper_path() {
    if (!wrapper_override().isEmpty())
        return wrapper_override();
    const QString fromEnv = qEnvironmentVariable("TESSALY_WRAP");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {dir + QStringLiteral("/tessaly-wrap"),
                                    dir + QStringLiteral("/../lib/tessaly/tessaly-wrap")};
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return QStringLiteral("tessaly-wrap");
}

void set_wrapper_path(const QString& path) {
    wrapper_override() = path;
}

} // namespace tsy
