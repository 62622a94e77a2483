// SPDX-License-Identifier: Apache-2.0
#pragma once

// SIGINT, SIGTERM and SIGHUP as an orderly request, handled on the event
// loop: the window closes, a headless run stops after the view at work.

#include <functional>

namespace tsy::process {

// Calls onStop on the event loop, once per signal received.
void on_stop_signals(std::function<void()> onStop);

} // namespace tsy::process
