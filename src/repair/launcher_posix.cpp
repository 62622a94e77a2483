// SPDX-License-Identifier: Apache-2.0
// Starting fix_prot on POSIX, without a shell, always inside the repair
// unit (tessaly-wrap): Hide runs the unit with no window and reads its
// reports from a pipe; Normal and Minimized run it in a terminal, and it
// reports over a FIFO that this program owns. Either way the unit outlives
// this program and finishes its view alone.
#include "repair/launcher.h"

#include "process/childprocess.h"
#include "process/outputchild_posix.h"
#include "process/result.h"
#include "repair/unitrecord.h"
#include "wrap/unitprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tsy::repair {

namespace {

// The program's full path, or why it cannot be started, in the system's
// words.
Result<QString> resolved_program(const QString& program) {
    if (program.contains(u'/')) {
        const QFileInfo fi(program);
        if (!fi.exists())
            return Error{QStringLiteral("No such file or directory")};
        if (fi.isDir() || !fi.isExecutable())
            return Error{QStringLiteral("Permission denied")};
        return fi.absoluteFilePath();
    }
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        return Error{QStringLiteral("No such file or directory")};
    return found;
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
constexpr int kGraceMs = 10'000;

QString word(std::string_view option) {
    return QLatin1StringView(option.data(), qsizetype(option.size()));
}

// The words that start the unit around spec's program.
QStringList unit_words(const LaunchSpec& spec, const QString& program, const QString& report,
                       bool terminal) {
    namespace opt = unit::opt;
    QStringList w{wrapper_path(), word(opt::report), report};
    const auto add = [&](std::string_view option, const QString& value) {
        if (!value.isEmpty())
            w << word(option) << value;
    };
    add(opt::tag, spec.tag);
    add(opt::lock, spec.lockPath);
    add(opt::hostLock, spec.hostLock);
    add(opt::record, spec.recordPath);
    add(opt::endview, spec.cleartool);
    if (spec.endviewAfterFailure)
        w << word(opt::endviewAfterFailure);
    if (spec.remote)
        w << word(opt::remote);
    w << word(terminal ? opt::terminal : opt::keepErrors);
    w << word(opt::end) << program;
    return w + spec.arguments;
}

// The unit's reports, however they arrive, turned into the signals.
class UnitLaunch : public Launch {
protected:
    UnitLaunch(const LaunchSpec& spec, QObject* parent)
        : Launch(parent), m_spec(spec), m_wantEndview(!spec.cleartool.isEmpty()) {}

    void consume(const QByteArray& bytes) {
        m_pending += bytes;
        for (;;) {
            const qsizetype nl = m_pending.indexOf('\n');
            if (nl < 0 || m_over)
                return;
            const QByteArray line = m_pending.left(nl);
            m_pending.remove(0, nl + 1);
            handle(line);
        }
    }

    // The unit's channel is closed: whatever it did not report is lost.
    void unitGone(const QString& why) {
        if (m_over)
            return;
        if (!m_fixProtEnded) {
            if (!m_started) {
                finish();
                emit failedToStart(why);
                return;
            }
            ProgramEnd e;
            e.reason = QStringLiteral("how it ended is not known: ") + why;
            m_fixProtEnded = true;
            emit ended(e);
        }
        if (m_wantEndview && !m_endviewEnded) {
            EndviewEnd e;
            e.error = why;
            finish();
            endview(m_endview.value_or(e));
            return;
        }
        finish();
    }

    virtual void finish() { m_over = true; }
    bool over() const { return m_over; }
    bool unitStarted() const { return m_started; }
    const LaunchSpec& spec() const { return m_spec; }

private:
    void handle(const QByteArray& line) {
        using unit::Verb;
        const std::optional<unit::Report> r =
            unit::parse(std::string_view(line.constData(), std::size_t(line.size())));
        if (!r)
            return;
        const QString text = QString::fromLocal8Bit(r->text);
        const int value = int(r->number);
        switch (r->verb) {
        case Verb::Busy:
            m_busy = true;
            m_started = true;
            emit busy(text);
            break;
        case Verb::NoLock:
            // The unit ran nothing and leaves no record.
            finish();
            if (!m_spec.recordPath.isEmpty())
                QFile::remove(m_spec.recordPath);
            emit lockRefused(text);
            break;
        case Verb::Unlocked:
            emit unlocked(text);
            break;
        case Verb::Started:
            m_started = true;
            break;
        case Verb::Message:
            m_message = text;
            break;
        case Verb::Exit:
        case Verb::Signal: {
            ProgramEnd e;
            e.known = true;
            e.crashed = r->verb == Verb::Signal;
            e.exitCode = e.crashed ? 0 : value;
            e.message = m_message;
            m_fixProtEnded = true;
            emit ended(e);
            break;
        }
        case Verb::Failed:
            m_started = true; // the unit ran; the program did not
            m_fixProtEnded = true;
            m_endviewEnded = true; // nothing follows a program that never ran
            // Reported now: no later run is to report it again, even if
            // nobody reads this unit's "done".
            if (!m_spec.recordPath.isEmpty())
                QFile::remove(m_spec.recordPath);
            emit failedToStart(QString::fromLocal8Bit(::strerror(value)));
            break;
        case Verb::EndviewMessage:
            m_endviewMessage = text.trimmed();
            break;
        case Verb::EndviewExit:
        case Verb::EndviewSignal:
        case Verb::EndviewFailed:
            endviewEnd(r->verb, value);
            break;
        case Verb::Done:
            // The unit's work is over only now: its record is written and
            // its lock released. Reported here, the record is not needed
            // by a later run.
            finish();
            if (!m_spec.recordPath.isEmpty())
                QFile::remove(m_spec.recordPath);
            if (m_wantEndview && !m_endviewEnded && m_fixProtEnded && !m_busy)
                endview(m_endview.value_or(EndviewEnd{})); // none: fix_prot failed
            break;
        }
    }

    void endviewEnd(unit::Verb verb, int value) {
        const QString words =
            QStringLiteral("cleartool endview -server ") + m_spec.tag; // as the log shows it
        EndviewEnd e;
        e.ran = verb != unit::Verb::EndviewFailed;
        e.ok = verb == unit::Verb::EndviewExit && value == 0;
        if (verb == unit::Verb::EndviewFailed)
            e.error = QStringLiteral("cannot run cleartool (") + m_spec.cleartool +
                      QStringLiteral("): ") + QString::fromLocal8Bit(::strerror(value));
        else if (verb == unit::Verb::EndviewSignal)
            e.error = QStringLiteral("cleartool ended abnormally: ") + words;
        else if (!e.ok)
            e.error = !m_endviewMessage.isEmpty()
                          ? m_endviewMessage
                          : QStringLiteral("cleartool exited with status %1: ").arg(value) + words;
        m_endview = e;
    }

    void endview(const EndviewEnd& e) {
        m_endviewEnded = true;
        emit endviewEnded(e);
    }

    // How the unit's endview ended, told once the unit is done.
    std::optional<EndviewEnd> m_endview;

    LaunchSpec m_spec;
    QByteArray m_pending;
    QString m_message;
    QString m_endviewMessage;
    bool m_wantEndview;
    bool m_started = false;
    bool m_busy = false;
    bool m_fixProtEnded = false;
    bool m_endviewEnded = false;
    bool m_over = false;
};

// The unit with no window: its reports come through a pipe, which is all
// this program watches of it while it works.
class DirectLaunch : public UnitLaunch {
public:
    DirectLaunch(const LaunchSpec& spec, const QString& program, QObject* parent)
        : UnitLaunch(spec, parent), m_process(new process::OutputChild(this)) {
        const QStringList words = unit_words(spec, program, word(unit::opt::reportToStdout), false);
        m_words = QStringList{program} + spec.arguments;
        connect(m_process, &process::OutputChild::readyRead, this,
                [this] { consume(m_process->readAll()); });
        connect(m_process, &process::OutputChild::finished, this, [this](int code, bool crashed) {
            consume(m_process->readAll());
            unitGone(crashed ? QStringLiteral("the repair unit crashed")
                             : QStringLiteral("the repair unit ended (exit status %1) without "
                                              "reporting the end of its work")
                                   .arg(code));
        });
        // Started on the next turn, so that the caller has connected.
        QTimer::singleShot(0, this, [this, words] {
            QString why;
            if (m_process && !m_process->start(words, &why))
                unitGone(QStringLiteral("cannot start the repair unit ") + words.first() +
                         QStringLiteral(": ") + why);
        });
    }
    ~DirectLaunch() override { abandon(); }
    QStringList startedWords() const override { return m_words; }
    void abandon() override {
        finish();
        // The unit goes on alone; it is reaped once it ends.
        if (m_process) {
            m_process->disconnect(this);
            std::exchange(m_process, nullptr)->deleteLater();
        }
    }

private:
    QStringList m_words;
    process::OutputChild* m_process;
};

// The unit in a terminal window: its reports come through a FIFO.
class TerminalLaunch : public UnitLaunch {
public:
    TerminalLaunch(const QStringList& terminal, const LaunchSpec& spec, const QString& program,
                   QObject* parent)
        : UnitLaunch(spec, parent), m_process(new QProcess(this)) {
        m_grace.setSingleShot(true);
        connect(&m_grace, &QTimer::timeout, this, [this] {
            if (!unitStarted())
                unitGone(QStringLiteral("the terminal never started the program"));
        });
        const QString fifo = openReport();
        QStringList words = terminal.mid(1);
        if (spec.mode == RunMode::Minimized)
            words << QStringLiteral("-iconic");
        // xterm names its window before the unit can; others learn the
        // title from the unit's escape sequence.
        if (QFileInfo(terminal.first()).fileName() == u"xterm" && !spec.tag.isEmpty())
            words << QStringLiteral("-T") << QStringLiteral("fix_prot ") + spec.tag;
        words << QStringLiteral("-e") << unit_words(spec, program, fifo, true);
        m_words = QStringList{terminal.first()} + words;
        m_process->setProgram(terminal.first());
        m_process->setArguments(words);
        m_process->setStandardInputFile(QProcess::nullDevice());
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->setStandardErrorFile(QProcess::nullDevice());
        process::put_in_own_session(*m_process);
        connect(m_process, &QProcess::finished, this, &TerminalLaunch::terminalEnded);
        connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                unitGone(m_process->errorString());
        });
        QTimer::singleShot(0, this, [this, fifo] {
            if (fifo.isEmpty()) {
                unitGone(QStringLiteral("cannot make the status channel: ") + m_problem);
                return;
            }
            m_process->start(QIODevice::NotOpen);
        });
    }
    ~TerminalLaunch() override { abandon(); }
    QStringList startedWords() const override { return m_words; }
    void abandon() override {
        finish();
        if (m_process)
            process::keep_until_finished(std::exchange(m_process, nullptr));
    }

protected:
    void finish() override {
        UnitLaunch::finish();
        m_grace.stop();
        closeReport();
    }

private:
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
        // A writer of our own until the unit has opened its end, so that
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
        char buf[512];
        while (m_read >= 0) {
            const ssize_t n = ::read(m_read, buf, sizeof buf);
            if (n > 0) {
                consume(QByteArray(buf, n));
                // The unit has its end open: our own writer can go.
                if (unitStarted() && m_keepAlive >= 0)
                    ::close(std::exchange(m_keepAlive, -1));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                unitGone(QStringLiteral("the repair unit ended without reporting the end of "
                                        "its work"));
            return; // EAGAIN: nothing more for now
        }
    }

    void terminalEnded(int code, QProcess::ExitStatus status) {
        if (over() || unitStarted())
            return;
        // The report may already be on its way.
        readReport();
        if (over() || unitStarted())
            return;
        if (status == QProcess::CrashExit || code != 0) {
            unitGone(QStringLiteral("the terminal %1 ended (%2) without running the program")
                         .arg(m_words.first(), status == QProcess::CrashExit
                                                   ? QStringLiteral("it crashed")
                                                   : QStringLiteral("exit status %1").arg(code)));
            return;
        }
        m_grace.start(kGraceMs);
    }

    QProcess* m_process;
    QStringList m_words;
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tessaly-XXXXXX")};
    QString m_problem;
    int m_read = -1;
    int m_keepAlive = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_grace;
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
    const Result<QString> resolved = resolved_program(spec.program);
    if (!resolved.ok())
        return new RefusedLaunch(resolved.error(), QStringList{spec.program} + spec.arguments,
                                 parent);
    const QString& program = resolved.value();
    const QStringList terminal = spec.mode == RunMode::Hide ? QStringList() : terminal_command();
    if (terminal.isEmpty())
        return new DirectLaunch(spec, program, parent);
    return new TerminalLaunch(terminal, spec, program, parent);
}

QString wrapper_path() {
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

} // namespace tsy::repair
