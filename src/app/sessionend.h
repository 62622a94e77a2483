// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace tsy {

// Closes every window, and so ends the program the ordinary way, when the
// system asks it to end: SIGTERM, SIGHUP or SIGINT on POSIX.
void close_windows_on_session_end();

} // namespace tsy
