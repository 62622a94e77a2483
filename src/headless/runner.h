// SPDX-License-Identifier: Apache-2.0
#pragma once

// The run itself: one listing, then, for --repair and --check, the picked
// views through the run engine, each reported as it ends, and the summary.

#include "options.h"

#include <QString>

namespace tsy::cc {
class Backend;
}

namespace tsy::headless {

class Report;

// Runs what o asks on the application's event loop, with backend's session
// of the ClearCase at home, and returns the exit status. SIGINT, SIGTERM,
// SIGHUP and an output whose reader has gone stop it.
int run_views(const Options& o, const QString& home, cc::Backend& backend, Report& report);

} // namespace tsy::headless
