// SPDX-License-Identifier: Apache-2.0
#pragma once

// Starting fix_prot and learning how it ended, driven by signals: nothing
// waits. The program and its arguments travel as a list to the end.
//
// On POSIX every program runs inside the repair unit (tessaly-wrap), in a
// session of its own: the unit takes the storage lock, runs the program,
// then the view's endview, and reports each step as it happens. It
// finishes alone when Tessaly is gone (a Ctrl-C, a hang-up, a closed
// window, SIGKILL) and leaves its outcome in a record for a later run.
//
// Hide runs the unit with no window, the program's output discarded and
// its error output kept for the failure's message. Normal and Minimized
// run the unit in an xterm-compatible terminal (iconified for Minimized);
// it reports over a FIFO, so the wait is for the utility, not for the
// terminal, whose launcher may return at once. When the utility fails the
// terminal stays open until Enter is pressed, so its output can be read.
// Without a terminal the unit runs with no window.

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace tsy::repair {

// The window styles, numbered as the Windows show-window codes.
enum class RunMode { Hide = 0, Normal = 1, Minimized = 2 };

struct LaunchSpec {
    LaunchSpec(QString program = QString(), QStringList arguments = QStringList(),
               RunMode mode = RunMode::Normal)
        : program(std::move(program)), arguments(std::move(arguments)), mode(mode) {}

    QString program;
    QStringList arguments;
    RunMode mode;
    // What the repair unit does beside running the program (POSIX; the
    // unit is tessaly-wrap, started in a session of its own, and finishes
    // its work whatever becomes of Tessaly). All optional.
    QString tag;      // the view: the terminal's title and endview's tag
    QString lockPath; // the workstation's storage lock, held until endview has ended
    // The program takes the storage lock on this host itself (see
    // locked_command_on_host); the unit reads how that went.
    QString hostLock;
    QString recordPath; // where the unit leaves its outcome for a later run
    QString cleartool;  // runs `cleartool endview -server TAG` after the program
    bool endviewAfterFailure = false;
    bool remote = false; // the program is the remote shell (255: no connection)
};

// How the unit's endview went.
struct EndviewEnd {
    bool ran = false;
    bool ok = false;
    QString error; // cleartool's error text, or why it did not run or end
};

// How a started program ended, as far as it is known.
struct ProgramEnd {
    bool known = false; // false: no status could be had (see reason)
    bool crashed = false;
    int exitCode = 0;
    QString reason; // why the status is not known
    // The first line the program wrote to its error output, where that was
    // kept (Hide on POSIX): ssh's or sudo's own word on why it failed.
    QString message;

    bool succeeded() const { return known && !crashed && exitCode == 0; }
    // "exit status N", "it crashed", or the reason; a failure's message
    // follows after a colon.
    QString describe() const;
};

class Launch : public QObject {
    Q_OBJECT

public:
    // Starts spec; the signals follow on later turns of the event loop.
    static Launch* start(const LaunchSpec& spec, QObject* parent = nullptr);
    ~Launch() override;

    // The words actually started (terminal and wrapper included).
    virtual QStringList startedWords() const = 0;
    // Nobody waits any more; the program runs on to its end.
    virtual void abandon() = 0;

signals:
    // The program could not be started: missing, not executable, a
    // directory, or a terminal that would not run it.
    void failedToStart(const QString& description);
    // Another repair holds the storage's lock (lock names it): nothing was
    // started.
    void busy(const QString& lock);
    // The storage lock could not be taken (why says why): nothing was
    // started.
    void lockRefused(const QString& why);
    // fix_prot runs without the lock on its host (why says so), under the
    // workstation's lock only.
    void unlocked(const QString& why);
    void ended(const tsy::repair::ProgramEnd& end);
    // After ended(), when the launch was given cleartool: the unit's endview.
    void endviewEnded(const tsy::repair::EndviewEnd& end);

protected:
    using QObject::QObject;
};

// Where the repair unit is: $TESSALY_WRAP, else beside the program, else in
// its lib/tessaly folder (tests and benchmarks set $TESSALY_WRAP). Empty on
// Windows, which has none.
QString wrapper_path();

} // namespace tsy::repair
