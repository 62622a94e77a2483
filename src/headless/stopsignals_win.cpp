#include "stopsignals.h"

namespace tsy::headless {

// A console Ctrl-C ends the process on Windows; the fix_prot under way runs
// in a process group of its own and finishes alone.
void on_stop_signals(std::function<void()>) {}

} // namespace tsy::headless
