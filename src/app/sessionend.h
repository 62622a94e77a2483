#pragma once

class QWidget;

namespace tsy {

// Closes the main window (and so every window) when the system asks the
// program to end: SIGTERM, SIGHUP or SIGINT on POSIX.
void close_windows_on_session_end(QWidget* mainWindow);

} // namespace tsy
