// SPDX-License-Identifier: Apache-2.0
#include "process/stopsignals.h"

namespace tsy::process {

// Windows: the system's end-of-session messages reach the windows as close
// requests through Qt; a console Ctrl-C ends a headless run, and the
// fix_prot under way, in a process group of its own, finishes alone.
void on_stop_signals(std::function<void()>) {}

} // namespace tsy::process
