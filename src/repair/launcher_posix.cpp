// Starting a command line on POSIX: the line is split into words with
// Qt's quoting rules and started without a shell. Style 0 runs the
// program without a window; styles 1 and 2 run it in an xterm-compatible
// terminal (iconified for 2) when one is available. The wait is an event
// loop that ends on the process's exit: the window stays responsive and
// no CPU is spent polling.
#include "launcher.h"

#include "common/failure.h"
#include "common/msgbox.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include <memory>

namespace tsy {

namespace {

QList<QPointer<QEventLoop>>& waits() {
    static QList<QPointer<QEventLoop>> w;
    return w;
}

// Programs whose wait was abandoned keep running; their QProcess objects
// stay alive (destroying one would kill its program) until they end.
QList<QProcess*>& orphans() {
    // Never destroyed: a QProcess that still runs at exit must not be
    // destroyed either, and the list keeps it reachable until then.
    static auto* o = new QList<QProcess*>;
    return *o;
}

WaitOutcome g_outcome;

void record_end(const QProcess& p, bool direct) {
    g_outcome.started = true;
    g_outcome.known = direct && p.state() == QProcess::NotRunning;
    g_outcome.crashed = p.exitStatus() == QProcess::CrashExit;
    g_outcome.exitCode = p.exitCode();
}

void keep_running(QProcess* p) {
    orphans().append(p);
    QObject::connect(p, &QProcess::finished, p, [p] {
        orphans().removeOne(p);
        p->deleteLater();
    });
}

QString resolve_program(const QString& program) {
    if (program.contains(u'/')) {
        const QFileInfo fi(program);
        if (!fi.exists())
            throw Failure(QStringLiteral("No such file or directory"));
        if (fi.isDir() || !fi.isExecutable())
            throw Failure(QStringLiteral("Permission denied"));
        return fi.absoluteFilePath();
    }
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        throw Failure(QStringLiteral("No such file or directory"));
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

} // namespace

WaitOutcome last_wait_outcome() {
    return g_outcome;
}

void run_and_wait(const QString& commandLine, int style) {
    std::unique_ptr<QProcess> proc;
    g_outcome = WaitOutcome();
    try {
        QStringList words = QProcess::splitCommand(commandLine);
        if (words.isEmpty())
            throw Failure(QStringLiteral("No program in the command line"));
        const QString program = resolve_program(words.takeFirst());

        proc = std::make_unique<QProcess>();
        proc->setStandardInputFile(QProcess::nullDevice());
        const QStringList terminal = style == kStyleHide ? QStringList() : terminal_command();
        const bool direct = terminal.isEmpty();
        if (terminal.isEmpty()) {
            proc->setStandardOutputFile(QProcess::nullDevice());
            proc->setStandardErrorFile(QProcess::nullDevice());
            proc->setProgram(program);
            proc->setArguments(words);
        } else {
            // xterm-compatible: the terminal stays until its -e program ends,
            // so waiting for the terminal is waiting for the utility.
            QStringList args = terminal.mid(1);
            if (style == kStyleMinimized)
                args << QStringLiteral("-iconic");
            args << QStringLiteral("-e") << program;
            args += words;
            proc->setProcessChannelMode(QProcess::ForwardedChannels);
            proc->setProgram(terminal.first());
            proc->setArguments(args);
        }
        proc->start(QIODevice::NotOpen);
        if (!proc->waitForStarted(-1))
            throw Failure(proc->errorString());
        // A program that has ended already needs no wait.
        if (proc->state() == QProcess::NotRunning || proc->waitForFinished(0)) {
            record_end(*proc, direct);
            return;
        }

        QEventLoop loop;
        QObject::connect(proc.get(), &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(proc.get(), &QProcess::errorOccurred, &loop, [&loop, &proc] {
            if (proc->state() == QProcess::NotRunning)
                loop.quit();
        });
        waits().append(QPointer<QEventLoop>(&loop));
        loop.exec();
        waits().removeAll(QPointer<QEventLoop>(&loop));
        record_end(*proc, direct);
        if (proc->state() != QProcess::NotRunning)
            keep_running(proc.release());
    } catch (...) {
        if (proc && proc->state() != QProcess::NotRunning)
            keep_running(proc.release());
        msg_box(QStringLiteral("ERROR: ") + describe_exception(std::current_exception()) +
                QStringLiteral("\r\nCould not execute --> ") + commandLine);
    }
}

void abandon_waits() {
    for (const QPointer<QEventLoop>& loop : waits()) {
        if (loop)
            loop->quit();
    }
}

} // namespace tsy
