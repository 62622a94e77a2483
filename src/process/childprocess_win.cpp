// SPDX-License-Identifier: Apache-2.0
#include "process/childprocess.h"

#include <QProcess>

#include <windows.h>

namespace tsy::process {

void put_in_own_session(QProcess& p, int) {
    // A group of its own: a console Ctrl-C or Ctrl-Break for the program
    // is not delivered to the child.
    p.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* args) { args->flags |= CREATE_NEW_PROCESS_GROUP; });
}

void end_session(QProcess* p) {
    p->kill();
    keep_until_finished(p);
}

} // namespace tsy::process
