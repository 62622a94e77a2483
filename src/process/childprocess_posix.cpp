// SPDX-License-Identifier: Apache-2.0
#include "process/childprocess.h"

#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tsy::process {

void put_in_own_session(QProcess& p, int keepFd) {
    p.setChildProcessModifier([keepFd] {
        ::setsid();
        // Only async-signal-safe calls between fork and exec.
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
    });
}

void end_session(QProcess* p) {
    // The program leads its session: its process group is the session's.
    if (p->state() != QProcess::NotRunning && p->processId() > 0)
        ::kill(-pid_t(p->processId()), SIGKILL);
    keep_until_finished(p);
}

} // namespace tsy::process
