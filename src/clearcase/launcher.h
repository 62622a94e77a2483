#pragma once

// Starting fix_prot and learning how it ended, driven by signals: nothing
// waits. The program and its arguments travel as a list to the end. Every
// program started here runs in a session of its own and outlives the
// program that started it: a Ctrl-C, a hang-up or a closed window never
// cuts a repair short.
//
// Hide runs the program with no window, its output discarded and its error
// output kept in an unnamed file for the failure's message. Normal
// and Minimized run it in an xterm-compatible terminal (iconified for
// Minimized) through a small wrapper of ours, which reports the program's
// own exit status back over a FIFO: the wait is for the utility, not for
// the terminal, whose launcher may return at once. When the utility fails
// the terminal stays open until Enter is pressed, so its output can be
// read. Without a terminal the program runs with no window.

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace tsy {

// The window styles, numbered as the Windows show-window codes.
enum class RunMode { Hide = 0, Normal = 1, Minimized = 2 };

struct LaunchSpec {
    QString program;
    QStringList arguments;
    RunMode mode = RunMode::Normal;
    // A descriptor the program inherits and keeps (POSIX): the lock on
    // the storage it repairs. -1 for none.
    int keepDescriptor = -1;
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
    void ended(const tsy::ProgramEnd& end);

protected:
    using QObject::QObject;
};

// Where the terminal wrapper is: $TESSALY_WRAP, else beside the program,
// else in its lib/tessaly folder. Tests point it elsewhere.
QString wrapper_path();
void set_wrapper_path(const QString& path);

} // namespace tsy
