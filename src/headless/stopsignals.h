#pragma once

// SIGINT, SIGTERM and SIGHUP as a request to stop after the view at work.

#include <functional>

namespace tsy::headless {

// Calls onStop on the event loop, once per signal received.
void on_stop_signals(std::function<void()> onStop);

} // namespace tsy::headless
