#pragma once

#include <QString>

namespace tsy {

// Window styles for started programs (the Windows show-window codes).
constexpr int kStyleHide = 0;
constexpr int kStyleNormal = 1;
constexpr int kStyleMinimized = 2;

// Starts commandLine as a new process in the given window style and waits
// for it to end while the user interface keeps processing its events. A
// program that cannot be started is reported in a box ("ERROR: ...
// Could not execute --> ..."), after which the routine returns normally.
// The caller learns nothing of the outcome.
void run_and_wait(const QString& commandLine, int style);

// What became of the program the latest run_and_wait started. Known only
// when it ran without a terminal: a terminal's exit status is its own.
struct WaitOutcome {
    bool started = false;
    bool known = false;
    bool crashed = false;
    int exitCode = 0;
};
WaitOutcome last_wait_outcome();

// Ends every wait under way at once, leaving the started programs to run
// to their end. Called when the program shuts down in the middle of a run.
void abandon_waits();

} // namespace tsy
