// SPDX-License-Identifier: Apache-2.0
#pragma once

// Tessaly without its window, for scripts, cron and ssh sessions:
//
//   tessaly --list
//   tessaly --repair (--all | --match PATTERN [--ignore-case]) [--args TEXT] [--dry-run]
//   tessaly --help | --version
//
// The same listing, lookups, argument lists and checks as the window, on
// QCoreApplication: no display is needed. Exit status: 0 all well, 1 a view
// could not be read or repaired, 2 bad usage or no ClearCase, 3 another run
// under way.

namespace tsy::headless {

// Runs the face for these arguments and returns the exit status. It makes
// its own QCoreApplication.
int run(int argc, char** argv);

} // namespace tsy::headless
