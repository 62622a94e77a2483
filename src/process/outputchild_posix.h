// SPDX-License-Identifier: Apache-2.0
#pragma once

// A program whose standard output alone is read, started with posix_spawn
// in a session of its own, standard input and error on /dev/null.
//
// QProcess watches three descriptors a child (two pipes and a pidfd) and
// starts a program that needs a session of its own by copying this
// process. At a site, hundreds of such children wait at once on their
// hosts, and every turn of the event loop polls each of their
// descriptors. This child is one pipe: its end of file says the program
// has closed its output, and the program is then reaped without another
// descriptor to watch while it runs.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <utility>

class QSocketNotifier;

namespace tsy::process {

class OutputChild : public QObject {
    Q_OBJECT

public:
    explicit OutputChild(QObject* parent = nullptr);
    // A program still at work is left to run; it is reaped once it ends.
    ~OutputChild() override;

    // Starts words (the program is looked up in PATH when it has no
    // slash). False, with the system's words in why, when it cannot start.
    bool start(const QStringList& words, QString* why);
    // The output read since the last call.
    QByteArray readAll() { return std::exchange(m_out, {}); }
    pid_t pid() const { return m_pid; }

signals:
    void readyRead();
    // After the end of its output: how the program ended. crashed: code is
    // the signal that ended it; otherwise its exit status.
    void finished(int code, bool crashed);

private:
    void onReadable();
    void closePipe();

    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_out;
    int m_fd = -1;
    pid_t m_pid = -1;
};

// Reaps pid once it has ended, never waiting for it, then calls done with
// its wait status (from the event loop of the calling thread).
void reap_later(pid_t pid, std::function<void(int status)> done = {});

} // namespace tsy::process
