// SPDX-License-Identifier: Apache-2.0
#pragma once

// What every child process that changes data needs, whatever starts it:
// a process group of its own, so that a Ctrl-C or hang-up meant for the
// program does not reach it, and an owner that outlives the request that
// started it, since destroying a running QProcess kills its program.

class QProcess;

namespace tsy::process {

// Makes p start its program in a session (POSIX) or process group
// (Windows) of its own. Call before p->start(). A keepFd of 0 or more is
// handed down to the program (POSIX), which then holds whatever lock it
// carries for as long as it runs.
void put_in_own_session(QProcess& p, int keepFd = -1);

// Ends the program of p, started by put_in_own_session, and every process
// of its session (what a shell command started), then keeps p as below.
// For queries only: nothing that changes data is ended so.
void end_session(QProcess* p);

// Takes p over from its owner: it is deleted once its program has ended,
// and never while the program runs, not even at exit.
void keep_until_finished(QProcess* p);

} // namespace tsy::process
